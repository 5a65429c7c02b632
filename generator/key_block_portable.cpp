// The block generator's kernels in plain C++ with the compiler's vector
// extensions, for any processor.
#include <cstring>

#include "generator/generator_types.h"
#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

namespace {

using Vec16 = std::uint8_t __attribute__((vector_size(16)));

}  // namespace

void StridedStepsPortable(std::uint8_t* f, int from, int to) {
  Vec16 taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i) {
    for (int k = 0; k < 16; ++k) taps[i][k] = FeedbackTaps[i];
  }
  constexpr int kParts = kKeyStride / 16;
  for (int n = from; n < to; n += kKeyStride) {
    // One chain of XORs for each 16 bytes, side by side.
    Vec16 x[kParts] = {};
    for (int i = kStageCount - 1; i >= 0; --i) {
      const Vec16 tap = taps[i];
      const std::uint8_t* history = f + n - kKeyStride * (1 + i);
      for (int part = 0; part < kParts; ++part) {
        Vec16 v;
        std::memcpy(&v, history + 16 * part, sizeof v);
        x[part] ^= v & tap;
      }
    }
    std::memcpy(f + n, x, sizeof x);
  }
}

void PlaneStepsPortable(std::uint8_t* planes, int planeBytes, int from, int to) {
  PlaneKernels<16>::Steps(planes, planeBytes, from, to);
}

std::uint8_t PlaneKeyBitsPortable(const std::uint8_t* planes, int planeBytes, int from, int to,
                                  const KeyBitTables& tables, std::uint8_t prevParity,
                                  std::uint8_t* keyBits) {
  return PlaneKernels<16>::KeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  for (int q = 0; q < groups; ++q) {
    std::uint64_t forty = 0;
    for (int i = 0; i < 5; ++i) forty |= std::uint64_t{keyBits[5 * q + i]} << (8 * i);
    for (int i = 0; i < 8; ++i) chars[8 * q + i] = kReverse5[(forty >> (5 * i)) & 31];
  }
}

}  // namespace quarvel
