// The decipher kernels in plain C++ with 64-bit words, for any processor.
#include <array>

#include "coding/decipher_kernels.h"

namespace quarvel {

namespace {

// The set bits of a word.
int CountBits(std::uint64_t x) {
#if defined(__POPCNT__) || defined(__aarch64__)
  return __builtin_popcountll(x);
#else
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
#endif
}

// The scan of FindTextLimit over 64 bytes at once, of which those in
// `capitals` are capitals, `groupPart` being the capitals of the group in
// progress (0 to 4) and `counter` the position of the byte before the block.
// Only the bytes other than capitals that follow a capital can end the scan,
// when the capitals before them do not complete a group. Returns false,
// changing nothing, when the scan ends in the block.
bool ScanBlock(std::uint64_t capitals, int& groupPart, std::int64_t& counter,
               std::int64_t& lastGroupEnd) {
  // The common layout first: the block in whole groups.
  std::uint64_t completing;
  if (CompletingInWholeGroups(capitals, groupPart, completing)) {
    if (completing != 0) lastGroupEnd = counter + 64 - __builtin_clzll(completing);
    groupPart = (groupPart + CountBits(capitals)) % 5;
    counter += 64;
    return true;
  }
  std::uint64_t afterCapital = ~capitals & ((capitals << 1) | (groupPart != 0 ? 1 : 0));
  for (std::uint64_t ends = afterCapital; ends != 0; ends &= ends - 1) {
    std::uint64_t before = capitals & ((ends & -ends) - 1);
    if ((groupPart + CountBits(before)) % 5 != 0) return false;
  }
  int total = CountBits(capitals);
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

}  // namespace

std::size_t ScanBlocksPortable(const std::uint8_t* text, std::size_t count, int& groupPart,
                               std::int64_t& counter, std::int64_t& lastGroupEnd) {
  std::size_t done = 0;
  while (done + 64 <= count &&
         ScanBlock(CapitalMask64(text + done), groupPart, counter, lastGroupEnd)) {
    done += 64;
  }
  return done;
}

// The letters of `count` bytes, in order; returns how many. Cipher text
// comes in groups of five letters and a separator, two (CR LF) at the end of
// a line: a group and its separators that start at the byte are taken by a
// word, and any other byte on its own. The branches follow the layout, so
// that the place of the next word need not wait for the letters.
std::size_t CollectLettersPortable(const std::uint8_t* text, std::size_t count,
                                   std::uint8_t* letters) {
  // Of the first seven bytes (LetterBytes8): bytes 0 to 4 letters, byte 5
  // none, and byte 6 a letter or none.
  constexpr std::uint64_t kSevenBytes = 0xFFFFFFFFFFFFFFull;
  constexpr std::uint64_t kGroup = 0x8080808080ull;
  constexpr std::uint64_t kGroupThenLetter = 0x80008080808080ull;
  std::size_t n = 0, i = 0;
  while (i + 8 <= count) {
    std::uint64_t x;
    __builtin_memcpy(&x, text + i, 8);
    const std::uint64_t isLetter = LetterBytes8(x) & kSevenBytes;
    if (isLetter == kGroupThenLetter) {
      __builtin_memcpy(letters + n, &x, 8);
      n += 5;
      i += 6;
    } else if (isLetter == kGroup) {
      // A group at the end of a line, or any group with two separators.
      __builtin_memcpy(letters + n, &x, 8);
      n += 5;
      i += 7;
    } else {
      letters[n] = text[i];
      n += LetterFlags[text[i]];
      ++i;
    }
  }
  return n + CollectLettersOneByOne(text + i, count - i, letters + n);
}

std::size_t MarkStartsPortable(const std::uint8_t* letters, std::size_t count,
                               std::uint64_t* starts) {
  return MarkStartsWith(letters, count, starts, YMaskByWords);
}

namespace {

// What a cipher letter gives, by its plain code c (the code of the character
// it begins XOR its key) and whether it begins a character (s): entry
// 2 c + s. A letter that begins no character (the second of a pair) writes
// nothing and keeps the shift. The shift is held as 16 for letters shift and
// 0 for figures shift, the place of its two bytes in Bytes.
struct LetterOut {
  std::uint32_t Bytes;  // figures shift in the low half, letters shift in the high
  std::uint8_t Length;
  std::uint8_t Keep;  // 16 where the shift stays, 0 where it clears
  std::uint8_t Set;   // 16 where letters shift starts
};
constexpr std::array<LetterOut, 64> kLetterOut = [] {
  std::array<LetterOut, 64> table{};
  for (int code = 0; code < 32; ++code) {
    LetterOut& start = table[2 * code + 1];
    start.Bytes = PlainOutOf[0][code].Bytes | std::uint32_t{PlainOutOf[1][code].Bytes} << 16;
    start.Length = PlainOutOf[1][code].Length;
    start.Keep = NextShift(1, static_cast<std::uint8_t>(code)) ? 16 : 0;
    start.Set = NextShift(0, static_cast<std::uint8_t>(code)) ? 16 : 0;
    table[2 * code] = {0, 0, 16, 0};
  }
  return table;
}();

}  // namespace

// Every letter in turn, without a branch on the starts: each writes its
// character and key where the next ones go, and only a letter that begins a
// character moves them on. (Stores of one or two bytes a letter want a
// buffer whose lines are in the cache: the bulk loop gives the console's, and
// copies to the target's.)
std::size_t DecipherCharsPortable(const std::uint8_t* letters, const std::uint8_t* keys,
                                  std::size_t count, const std::uint64_t* starts,
                                  bool& lettersShift, std::uint8_t* out, std::uint8_t* additive,
                                  std::size_t& chars) {
  std::uint8_t* end = out;
  unsigned shift = lettersShift ? 16 : 0;
  std::size_t n = 0;
  for (std::size_t w = 0; 64 * w < count; ++w) {
    std::uint64_t begins = starts[w];
    const std::size_t last = count - 64 * w < 64 ? count : 64 * w + 64;
#pragma GCC unroll 4
    for (std::size_t j = 64 * w; j < last; ++j, begins >>= 1) {
      std::uint16_t two;
      __builtin_memcpy(&two, letters + j, 2);
      const std::uint8_t key = keys[j];
      const unsigned begun = static_cast<unsigned>(begins & 1);
      const LetterOut& entry = kLetterOut[2 * (CodeByTwoLetters[two & 0x1F1F] ^ key) + begun];
      const std::uint16_t bytes = static_cast<std::uint16_t>(entry.Bytes >> shift);
      __builtin_memcpy(end, &bytes, 2);
      end += entry.Length;
      additive[n] = key;
      n += begun;
      shift = (shift & entry.Keep) | entry.Set;
    }
  }
  lettersShift = shift != 0;
  chars = n;
  return static_cast<std::size_t>(end - out);
}

}  // namespace quarvel
