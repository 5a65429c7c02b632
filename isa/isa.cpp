#include "isa/isa.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#if (defined(__x86_64__) || defined(__i386__)) && __has_include(<sys/platform/x86.h>) && \
    !defined(__clang__)
#include <sys/platform/x86.h>
#endif

namespace quarvel {

namespace {

#if defined(__x86_64__) || defined(__i386__)
#if __has_include(<sys/platform/x86.h>) && !defined(__clang__)
// The C library has asked the processor at start-up already; asking again
// costs a trap into the hypervisor on a virtual machine, about 0.1 ms.
#define QUARVEL_GLIBC_avx2 AVX2
#define QUARVEL_GLIBC_bmi BMI1
#define QUARVEL_GLIBC_bmi2 BMI2
#define QUARVEL_GLIBC_popcnt POPCNT
#define QUARVEL_GLIBC_avx512f AVX512F
#define QUARVEL_GLIBC_avx512bw AVX512BW
#define QUARVEL_GLIBC_avx512vl AVX512VL
#define QUARVEL_GLIBC_avx512vbmi AVX512_VBMI
#define QUARVEL_GLIBC_avx512vbmi2 AVX512_VBMI2
#define QUARVEL_GLIBC_avx512bitalg AVX512_BITALG
#define QUARVEL_ACTIVE(name) CPU_FEATURE_ACTIVE(name)
#define QUARVEL_AND_HAS(feature) &&QUARVEL_ACTIVE(QUARVEL_GLIBC_##feature)
#define QUARVEL_CPU_INIT()
#else
#define QUARVEL_AND_HAS(feature) &&__builtin_cpu_supports(#feature)
#define QUARVEL_CPU_INIT() __builtin_cpu_init()
#endif
#endif

Isa DetectIsa() {
#if defined(__x86_64__) || defined(__i386__)
  QUARVEL_CPU_INIT();
  if (true QUARVEL_AVX512_FEATURES(QUARVEL_AND_HAS)) return Isa::Avx512;
  if (true QUARVEL_AVX2_FEATURES(QUARVEL_AND_HAS)) return Isa::Avx2;
#endif
  return Isa::Portable;
}

}  // namespace

Isa BestIsa() {
  static const Isa best = DetectIsa();
  return best;
}

const char* IsaRequest() {
  static const char* const request = std::getenv("QUARVEL_ISA");
  return request;
}

Isa RunIsa() {
  static const Isa chosen = ChooseIsa(IsaRequest(), BestIsa());
  return chosen;
}

const char* IsaName(Isa isa) {
  switch (isa) {
    case Isa::Avx2:
      return "avx2";
    case Isa::Avx512:
      return "avx512";
    default:
      return "portable";
  }
}

namespace {

// The tier that `request` names, or false.
bool NamedTier(const char* request, Isa& named) {
  if (request == nullptr) return false;
  for (Isa isa : {Isa::Portable, Isa::Avx2, Isa::Avx512}) {
    if (std::strcmp(request, IsaName(isa)) == 0) {
      named = isa;
      return true;
    }
  }
  return false;
}

}  // namespace

Isa ChooseIsa(const char* request, Isa best) {
  Isa named = best;
  return NamedTier(request, named) && named < best ? named : best;
}

IsaAnswer AnswerTo(const char* request, Isa best) {
  if (request == nullptr || *request == '\0') return IsaAnswer::NoRequest;
  Isa named = best;
  if (!NamedTier(request, named)) return IsaAnswer::UnknownName;
  return named <= best ? IsaAnswer::Honoured : IsaAnswer::NotOffered;
}

}  // namespace quarvel
