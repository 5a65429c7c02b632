// The kernels of the bulk decipher loop and of the scan for the text limit,
// one version per instruction-set tier, each tier in a file of its own
// (decipher_portable.cpp, decipher_avx2.cpp, decipher_avx512.cpp); their
// contracts are those of the Kernels table. Shared code here has internal
// linkage: the tier files are compiled with their tier's features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/decipher_tables.h"

namespace quarvel {

// Cipher bytes per pass of the bulk loop, at most.
inline constexpr std::size_t kDecipherChunk = 2048;

// The scan of FindTextLimit over 64 bytes at once, of which those in
// `capitals` are capitals, `groupPart` being the capitals of the group in progress (0 to 4) and
// `counter` the position of the byte before the block. Only the bytes other than capitals that
// follow a capital can end the scan, when the capitals before them do not complete a group. Returns
// false, changing nothing, when the scan ends in the block.
static inline bool ScanBlock(std::uint64_t capitals, int& groupPart, std::int64_t& counter,
                             std::int64_t& lastGroupEnd) {
  std::uint64_t afterCapital = ~capitals & ((capitals << 1) | (groupPart != 0 ? 1 : 0));
  for (std::uint64_t ends = afterCapital; ends != 0; ends &= ends - 1) {
    std::uint64_t before = capitals & ((ends & -ends) - 1);
    if ((groupPart + __builtin_popcountll(before)) % 5 != 0) return false;
  }
  int total = __builtin_popcountll(capitals);
  // The last capital that completes a group: drop the capitals after it.
  int after = (groupPart + total) % 5;
  if (total > after) {
    std::uint64_t complete = capitals;
    for (int k = 0; k < after; ++k) {
      complete &= ~(std::uint64_t{1} << (63 - __builtin_clzll(complete)));
    }
    lastGroupEnd = counter + 1 + (63 - __builtin_clzll(complete));
  }
  groupPart = after;
  counter += 64;
  return true;
}

// The bytes of `text` that are "a" to "z" or "A" to "Z" (`lower` 0x20) or
// "A" to "Z" only (`lower` 0), one bit per byte, for 8 bytes in a word.
static inline std::uint64_t LetterBits8(std::uint64_t x, std::uint64_t lower) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::uint64_t low = (x | lower) & kLow7;
  // With 0x80 - first more, the high bit says "at least the first"; with
  // 0x80 - (last + 1) more, "beyond the last". No byte carries into the next.
  std::uint64_t first = lower ? 0x1F1F1F1F1F1F1F1Full : 0x3F3F3F3F3F3F3F3Full;
  std::uint64_t beyond = lower ? 0x0505050505050505ull : 0x2525252525252525ull;
  std::uint64_t in = (low + first) & ~(low + beyond) & ~x & kHigh;
  return ((in >> 7) * 0x0102040810204080ull) >> 56;
}

// Bit i set where text[i] is a capital (`lower` 0) or a letter of either
// case (`lower` 0x20), for 64 bytes, with 64-bit words.
static inline std::uint64_t LetterMask64(const std::uint8_t* text, std::uint64_t lower) {
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    std::uint64_t x;
    __builtin_memcpy(&x, text + 8 * k, 8);
    mask |= LetterBits8(x, lower * 0x0101010101010101ull) << (8 * k);
  }
  return mask;
}

std::size_t ScanBlocksPortable(const std::uint8_t* text, std::size_t count, int& groupPart,
                               std::int64_t& counter, std::int64_t& lastGroupEnd);
std::size_t CollectLettersPortable(const std::uint8_t* text, std::size_t count,
                                   std::uint8_t* letters);
std::size_t StartPlainsPortable(const std::uint8_t* letters, const std::uint8_t* keys,
                                std::size_t count, const std::uint64_t* starts, std::uint8_t* plain,
                                std::uint8_t* additive);

std::size_t ScanBlocksAvx2(const std::uint8_t* text, std::size_t count, int& groupPart,
                           std::int64_t& counter, std::int64_t& lastGroupEnd);
std::size_t StartPlainsAvx2(const std::uint8_t* letters, const std::uint8_t* keys,
                            std::size_t count, const std::uint64_t* starts, std::uint8_t* plain,
                            std::uint8_t* additive);

std::size_t CollectLettersAvx512(const std::uint8_t* text, std::size_t count,
                                 std::uint8_t* letters);
std::size_t StartPlainsAvx512(const std::uint8_t* letters, const std::uint8_t* keys,
                              std::size_t count, const std::uint64_t* starts, std::uint8_t* plain,
                              std::uint8_t* additive);

}  // namespace quarvel
