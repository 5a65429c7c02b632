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
  return PlaneKernels<16>::TreeKeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

std::uint8_t PlaneKeyBitsByMintermsPortable(const std::uint8_t* planes, int planeBytes, int from,
                                            int to, const KeyBitTables& tables,
                                            std::uint8_t prevParity, std::uint8_t* keyBits) {
  return PlaneKernels<16>::KeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

// Eight key characters from every five bytes of key bits in step order: each
// character is five consecutive bits, the first of them its most significant.
// Two groups at a time, a word of eight bytes each (the key bits are
// readable past the last group), in the two lanes of a vector.
void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  using Lanes = std::uint64_t __attribute__((vector_size(16)));
  constexpr std::uint64_t kBit0 = 0x0101010101010101ull;
  for (int q = 0; q < groups; q += 2) {
    std::uint64_t words[2];
    std::memcpy(&words[0], keyBits + 5 * q, 8);
    std::memcpy(&words[1], keyBits + 5 * q + 5, 8);
    Lanes x = Lanes{words[0], words[1]} & 0xFFFFFFFFFFull;
    // The eight fields of five bits, field i into byte i: halves, quarters,
    // then eighths of the word apart.
    x = (x & 0xFFFFFull) | (x & 0xFFFFF00000ull) << 12;
    x = (x & 0x000003FF000003FFull) | (x & 0x000FFC00000FFC00ull) << 6;
    x = (x & 0x001F001F001F001Full) | (x & 0x03E003E003E003E0ull) << 3;
    // Each field's bits reversed: bits 0 and 4 exchanged, and bits 1 and 3.
    x = (x & kBit0 << 2) | (x & kBit0) << 4 | (x >> 4 & kBit0) | (x & kBit0 << 1) << 2 |
        (x >> 2 & kBit0 << 1);
    std::memcpy(chars + 8 * q, &x, sizeof x);
  }
}

}  // namespace quarvel
