// The block generator's kernels in plain C++ with the compiler's vector
// extensions, for any processor.
#include <cstring>

#include "generator/generator_types.h"
#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

namespace {

using Vec16 = std::uint8_t __attribute__((vector_size(16)));

std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | p[i];
  return x;
}

}  // namespace

void StridedStepsPortable(std::uint8_t* f, int from, int to) {
  Vec16 taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i) {
    for (int k = 0; k < 16; ++k) taps[i][k] = FeedbackTaps[i];
  }
  for (int n = from; n < to; n += kKeyStride) {
    for (int part = 0; part < kKeyStride; part += 16) {
      Vec16 x = {};
      for (int i = kStageCount - 1; i >= 0; --i) {
        Vec16 v;
        std::memcpy(&v, f + n + part - kKeyStride * (1 + i), sizeof v);
        x ^= v & taps[i];
      }
      std::memcpy(f + n + part, &x, sizeof x);
    }
  }
}

std::uint8_t KeyBitsPortable(const std::uint8_t* f, int words, const KeyBitTables& tables,
                             std::uint8_t prevParity, std::uint8_t* keyBits) {
  std::uint8_t prev = prevParity;
  for (int m = 0; m < 8 * words; ++m) {
    std::uint8_t bits = 0;
    for (int r = 0; r < 8; ++r) {
      std::uint8_t t = tables.BitTable[f[8 * m + r]];
      bits = static_cast<std::uint8_t>((bits << 1) | ((t ^ prev) & 1));
      prev = t >> 1;
    }
    keyBits[m] = bits;
  }
  return prev;
}

void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  for (int q = 0; q < groups; ++q) {
    std::uint64_t x = LoadBigEndian64(keyBits + 5 * q);
    for (int i = 0; i < 8; ++i)
      chars[8 * q + i] = static_cast<std::uint8_t>((x >> (59 - 5 * i)) & 31);
  }
}

}  // namespace quarvel
