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

std::uint8_t KeyBitsPortable(const std::uint8_t* f, int words, const KeyBitTables& tables,
                             std::uint8_t prevParity, std::uint8_t* keyBits) {
  // The entry bit of each output byte in bit 0, its parity in bit 32.
  std::uint64_t spread[256];
  for (int b = 0; b < 256; ++b) {
    spread[b] =
        (tables.BitTable[b] & 1u) | (static_cast<std::uint64_t>(tables.BitTable[b] >> 1) << 32);
  }
  std::uint64_t prev = prevParity;
  for (int w = 0; w < words; ++w) {
    // The entry and parity bits of 64 steps, step 8m+7-r in bit 8m+r, as
    // CombineMasks takes them.
    std::uint64_t entry = 0, parity = 0;
    for (int m = 0; m < 8; ++m) {
      const std::uint8_t* bytes = f + 64 * w + 8 * m;
      std::uint64_t both = 0;
      for (int r = 0; r < 8; ++r) both |= spread[bytes[r]] << (7 - r);
      entry |= (both & 0xFF) << (8 * m);
      parity |= ((both >> 32) & 0xFF) << (8 * m);
    }
    std::uint64_t bits = CombineMasks(entry, parity, prev);
    std::memcpy(keyBits + 8 * w, &bits, sizeof bits);
  }
  return static_cast<std::uint8_t>(prev);
}

void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  for (int q = 0; q < groups; ++q) {
    std::uint64_t x = LoadBigEndian64(keyBits + 5 * q);
    for (int i = 0; i < 8; ++i)
      chars[8 * q + i] = static_cast<std::uint8_t>((x >> (59 - 5 * i)) & 31);
  }
}

}  // namespace quarvel
