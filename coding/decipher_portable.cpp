// The decipher kernels in plain C++ with 64-bit words, for any processor.
#include "coding/decipher_kernels.h"

namespace quarvel {

namespace {

// plain[j] for j < count: the code of the letter j, or of the pair that a
// "Y" there begins, XOR keys[j]; meaningful where a character begins.
// letters[count] must be readable.
void LetterPlains(const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
                  std::uint8_t* plain) {
  for (std::size_t j = 0; j < count; ++j) {
    std::size_t first = letters[j], second = letters[j + 1];
    std::size_t pair = (first | 0x20) == 'y';
    plain[j] = CodeOf[pair ? 256 + second : first] ^ keys[j];
  }
}

}  // namespace

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
  std::uint8_t codes[kDecipherChunk];
  std::uint8_t plain[kDecipherChunk];
  LetterPlains(letters, keys, count, codes);
  std::size_t n = 0;
  for (std::size_t w = 0; w < (count + 63) / 64; ++w) {
    for (std::uint64_t bits = starts[w]; bits != 0; bits &= bits - 1) {
      std::size_t start = 64 * w + static_cast<std::size_t>(__builtin_ctzll(bits));
      additive[n] = keys[start];
      plain[n++] = codes[start];
    }
  }
  chars = n;
  return static_cast<std::size_t>(WritePlain(plain, n, lettersShift, out) - out);
}

}  // namespace quarvel
