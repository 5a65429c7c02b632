// The instruction-set tiers of the fast paths. Each tier lists here, once,
// the processor features its kernels use: the build compiles the tier's
// files (*_avx2.cpp, *_avx512.cpp) with exactly these features (CMake reads
// the lists from this file), and a tier is offered only when the processor
// has every one of them. Every tier gives the same output.
#pragma once

#include <cstdint>

namespace quarvel {

enum class Isa : std::uint8_t { Portable, Avx2, Avx512 };

// X(feature) for each feature, by the compiler's name (-mFEATURE).
#define QUARVEL_AVX2_FEATURES(X) X(avx2) X(bmi) X(bmi2) X(popcnt)
#define QUARVEL_AVX512_FEATURES(X) \
  X(avx2)                          \
  X(bmi)                           \
  X(bmi2)                          \
  X(popcnt)                        \
  X(avx512f)                       \
  X(avx512bw)                      \
  X(avx512vl)                      \
  X(avx512vbmi)                    \
  X(avx512vbmi2)                   \
  X(avx512bitalg)

// The best tier this processor offers; detected once.
Isa BestIsa();

// The tier of a run: the best one, or the one that the environment variable
// QUARVEL_ISA names ("portable", "avx2", "avx512") when that is lower. A
// request above what the processor has, or a name not known, gives the best
// (and the run says so on standard error). Read once.
Isa RunIsa();

// What QUARVEL_ISA holds, or null when it is not set.
const char* IsaRequest();

// How a request for a tier is answered: nothing asked (no request, or an
// empty one), the tier asked for runs, the name is no tier's, or the
// processor does not offer that tier.
enum class IsaAnswer : std::uint8_t { NoRequest, Honoured, UnknownName, NotOffered };
IsaAnswer AnswerTo(const char* request, Isa best);

// "portable", "avx2" or "avx512".
const char* IsaName(Isa isa);

// The tier that `request` (a tier's name, or null) asks for, held to `best`.
Isa ChooseIsa(const char* request, Isa best);

}  // namespace quarvel
