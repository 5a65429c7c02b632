#include "isa/isa.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace quarvel {

namespace {

Isa DetectIsa() {
#if defined(__x86_64__) || defined(__i386__)
#define QUARVEL_AND_SUPPORTS(feature) &&__builtin_cpu_supports(#feature)
  __builtin_cpu_init();
  if (true QUARVEL_AVX512_FEATURES(QUARVEL_AND_SUPPORTS)) return Isa::Avx512;
  if (true QUARVEL_AVX2_FEATURES(QUARVEL_AND_SUPPORTS)) return Isa::Avx2;
#undef QUARVEL_AND_SUPPORTS
#endif
  return Isa::Portable;
}

}  // namespace

Isa BestIsa() {
  static const Isa best = DetectIsa();
  return best;
}

Isa RunIsa() {
  static const Isa chosen = ChooseIsa(std::getenv("QUARVEL_ISA"), BestIsa());
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

Isa ChooseIsa(const char* request, Isa best) {
  if (request == nullptr) return best;
  for (Isa isa : {Isa::Portable, Isa::Avx2, Isa::Avx512}) {
    if (std::strcmp(request, IsaName(isa)) == 0) return isa < best ? isa : best;
  }
  return best;
}

}  // namespace quarvel
