#include "coding/kernels.h"

#include "coding/decipher_kernels.h"
#include "coding/encipher_kernels.h"
#include "generator/key_block_kernels.h"

namespace quarvel {

namespace {

constexpr Kernels kPortable = {
    StridedStepsPortable,    PlaneStepsPortable,  PlaneKeyBitsPortable,  PackCharsPortable,
    EncipherLettersPortable, LayOutLinesPortable, FindByteClassPortable, ScanBlocksPortable,
    CollectLettersPortable,  MarkStartsPortable,  DecipherCharsPortable,
};

#if QUARVEL_X86_TIERS
constexpr Kernels kAvx2 = {
    StridedStepsAvx2,       PlaneStepsAvx2,      PlaneKeyBitsAvx2,      PackCharsPortable,
    EncipherLettersAvx2,    LayOutLinesPortable, FindByteClassPortable, ScanBlocksAvx2,
    CollectLettersPortable, MarkStartsAvx2,      DecipherCharsAvx2,
};

constexpr Kernels kAvx512 = {
    StridedStepsAvx512,    PlaneStepsAvx512,  PlaneKeyBitsAvx512,  PackCharsAvx512,
    EncipherLettersAvx512, LayOutLinesAvx512, FindByteClassAvx512, ScanBlocksAvx2,
    CollectLettersAvx512,  MarkStartsAvx512,  DecipherCharsAvx512,
};
#endif

}  // namespace

const Kernels& KernelsFor(Isa isa) {
#if QUARVEL_X86_TIERS
  if (isa == Isa::Avx512) return kAvx512;
  if (isa == Isa::Avx2) return kAvx2;
#endif
  (void)isa;
  return kPortable;
}

}  // namespace quarvel
