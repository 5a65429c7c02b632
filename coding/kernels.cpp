#include "coding/kernels.h"

#include "coding/decipher_kernels.h"
#include "coding/encipher_kernels.h"
#include "generator/key_block_kernels.h"

namespace quarvel {

namespace {

constexpr Kernels kPortable = {
    .StridedSteps = StridedStepsPortable,
    .PlaneSteps = PlaneStepsPortable,
    .PlaneKeyBits = PlaneKeyBitsPortable,
    .PackChars = PackCharsPortable,
    .EncipherLetters = EncipherLettersPortable,
    .LayOutLines = LayOutLinesPortable,
    .FindByteClass = FindByteClassPortable,
    .ScanBlocks = ScanBlocksPortable,
    .CollectLetters = CollectLettersPortable,
    .MarkStarts = MarkStartsPortable,
    .DecipherChars = DecipherCharsPortable,
};

#if QUARVEL_X86_TIERS
constexpr Kernels kAvx2 = {
    .StridedSteps = StridedStepsAvx2,
    .PlaneSteps = PlaneStepsAvx2,
    .PlaneKeyBits = PlaneKeyBitsAvx2,
    .PackChars = PackCharsAvx2,
    .EncipherLetters = EncipherLettersAvx2,
    .LayOutLines = LayOutLinesAvx2,
    .FindByteClass = FindByteClassAvx2,
    .ScanBlocks = ScanBlocksAvx2,
    .CollectLetters = CollectLettersAvx2,
    .MarkStarts = MarkStartsAvx2,
    .DecipherChars = DecipherCharsAvx2,
};

// The scan for the text limit has no AVX-512 form of its own: the AVX2 one
// reads the same 64 bytes a pass.
constexpr Kernels kAvx512 = {
    .StridedSteps = StridedStepsAvx512,
    .PlaneSteps = PlaneStepsAvx512,
    .PlaneKeyBits = PlaneKeyBitsAvx512,
    .PackChars = PackCharsAvx512,
    .EncipherLetters = EncipherLettersAvx512,
    .LayOutLines = LayOutLinesAvx512,
    .FindByteClass = FindByteClassAvx512,
    .ScanBlocks = ScanBlocksAvx2,
    .CollectLetters = CollectLettersAvx512,
    .MarkStarts = MarkStartsAvx512,
    .DecipherChars = DecipherCharsAvx512,
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
