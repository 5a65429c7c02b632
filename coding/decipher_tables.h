// The tables of the bulk decipher loop and its kernels: constant data only.
#pragma once

#include <array>
#include <cstdint>

#include "alphabet/teleprinter.h"
#include "coding/decipher.h"

namespace quarvel {

// The code of a cipher letter, either case.
inline constexpr std::array<std::uint8_t, 256> LetterCodeOf = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t byte = ToUpper(static_cast<std::uint8_t>(b));
    table[b] = IsCapital(byte) ? CharToCodeTable[byte] : 0;
  }
  return table;
}();

// The code a "Y" pair stands for, by its second letter, either case; the
// code of "Y" where the pair has no meaning.
inline constexpr std::array<std::uint8_t, 256> PairCodeOf = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t byte = ToUpper(static_cast<std::uint8_t>(b));
    std::uint8_t meaning = IsCapital(byte) ? PairCharBySecondLetter[byte - 'A'] : 0;
    table[b] = CharToCodeTable[meaning != 0 ? meaning : 'Y'];
  }
  return table;
}();

// The code of the character that a letter begins, indexed by the letter in
// the low byte and the letter after it in the high byte, of each only the
// low five bits ("A" and "a" alike): the letter's code, or for a "Y" the
// code of the pair with the letter after it.
inline constexpr std::array<std::uint8_t, 0x1F20> CodeByTwoLetters = [] {
  std::array<std::uint8_t, 0x1F20> table{};
  for (int first = 1; first <= 26; ++first) {
    for (int second = 0; second < 32; ++second) {
      table[first | second << 8] =
          first == ('Y' & 31) ? PairCodeOf['@' + second] : LetterCodeOf['@' + first];
    }
  }
  return table;
}();

// 1 for a letter, 0 for any other byte.
inline constexpr std::array<std::uint8_t, 256> LetterFlags = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = IsLetter(static_cast<std::uint8_t>(b)) ? 1 : 0;
  return table;
}();

// The codes of letters and of pairs by their second letter, indexed by the
// low six bits of the letter ("A" and "a" alike): LetterCodeOf and
// PairCodeOf in 64 entries.
inline constexpr std::array<std::uint8_t, 64> LetterCodeBy6 = [] {
  std::array<std::uint8_t, 64> table{};
  for (int b = 'A'; b <= 'z'; ++b) {
    if (IsLetter(static_cast<std::uint8_t>(b))) table[b & 63] = LetterCodeOf[b];
  }
  return table;
}();
inline constexpr std::array<std::uint8_t, 64> PairCodeBy6 = [] {
  std::array<std::uint8_t, 64> table{};
  for (int b = 'A'; b <= 'z'; ++b) {
    if (IsLetter(static_cast<std::uint8_t>(b))) table[b & 63] = PairCodeOf[b];
  }
  return table;
}();

}  // namespace quarvel
