// The decipher kernels in plain C++ with 64-bit words, for any processor.
#include "coding/decipher_kernels.h"

namespace quarvel {

std::size_t ScanBlocksPortable(const std::uint8_t* text, std::size_t count, int& groupPart,
                               std::int64_t& counter, std::int64_t& lastGroupEnd) {
  std::size_t done = 0;
  while (done + 64 <= count &&
         ScanBlock(LetterMask64(text + done, 0), groupPart, counter, lastGroupEnd)) {
    done += 64;
  }
  return done;
}

// The letters of `count` bytes, in order; returns how many.
std::size_t CollectLettersPortable(const std::uint8_t* text, std::size_t count,
                                   std::uint8_t* letters) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = text[i];
    letters[n] = byte;
    n += LetterFlags[byte];
  }
  return n;
}

std::size_t MarkStartsPortable(const std::uint8_t* letters, std::size_t count,
                               std::uint64_t* starts) {
  return MarkStartsWith(letters, count, starts, YMaskByWords);
}

std::size_t DecipherCharsPortable(const std::uint8_t* letters, const std::uint8_t* keys,
                                  std::size_t count, const std::uint64_t* starts,
                                  bool& lettersShift, std::uint8_t* out, std::uint8_t* additive,
                                  std::size_t& chars) {
  std::uint8_t* const begin = out;
  bool shift = lettersShift;
  std::size_t n = 0;
  for (std::size_t w = 0; w < (count + 63) / 64; ++w) {
    for (std::uint64_t bits = starts[w]; bits != 0; bits &= bits - 1) {
      // The code of the letter, or of the pair that a "Y" there begins.
      std::size_t j = 64 * w + static_cast<std::size_t>(__builtin_ctzll(bits));
      std::size_t first = letters[j];
      std::size_t pairMask = 0 - static_cast<std::size_t>((first | 0x20) == 'y');
      std::size_t index = first ^ ((first ^ (256 + letters[j + 1])) & pairMask);
      std::uint8_t key = keys[j];
      std::uint8_t code = CodeOf[index] ^ key;
      additive[n++] = key;
      // The length does not depend on the shift: the place of the next
      // character need not wait for it.
      __builtin_memcpy(out, &PlainOutOf[shift][code].Bytes, 2);
      out += PlainOutOf[1][code].Length;
      shift = code == kLettersShiftCode || (shift && code != kFiguresShiftCode);
    }
  }
  lettersShift = shift;
  chars = n;
  return static_cast<std::size_t>(out - begin);
}

}  // namespace quarvel
