// The teleprinter alphabet: file characters and their 5-bit codes, with the
// letters/figures shift for the way back.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel {

inline constexpr std::array<char, 26> LetterChars = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I',
                                                     'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R',
                                                     'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z'};

inline constexpr std::array<std::uint8_t, 26> LetterCodes = {24, 19, 14, 18, 16, 22, 11, 5,  12,
                                                             26, 30, 9,  7,  6,  3,  13, 29, 10,
                                                             20, 1,  28, 15, 25, 23, 21, 17};

// The character printed for the same code in figures shift; "@" where the
// code has none.
inline constexpr std::array<char, 26> FigureChars = {'-', '?', ':', '@', '3', '@', '@', '@', '8',
                                                     '@', '(', ')', '.', ',', '9', '0', '1', '4',
                                                     '"', '5', '7', '=', '2', '/', '6', '+'};

inline constexpr std::array<std::uint8_t, 6> ControlCodes = {0, 2, 4, 8, 27, 31};

// Blank, carriage return, space, line feed, figures shift, letters shift.
inline constexpr std::array<char, 6> ControlChars = {'|', '<', ' ', '*', '#', '%'};

inline constexpr std::uint8_t kFiguresShiftChar = '#';
inline constexpr std::uint8_t kLettersShiftChar = '%';

namespace detail {

constexpr std::array<std::uint8_t, 256> MakeCharToCodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t value = static_cast<std::uint8_t>(b);
    // The first matching position wins; a replaced value is below 32 and
    // matches nothing further.
    for (int p = 0; p < 26; ++p) {
      if (value == static_cast<std::uint8_t>(LetterChars[p]) ||
          value == static_cast<std::uint8_t>(FigureChars[p])) {
        value = LetterCodes[p];
        break;
      }
    }
    for (int p = 0; p < 6; ++p) {
      if (value == static_cast<std::uint8_t>(ControlChars[p])) {
        value = ControlCodes[p];
        break;
      }
    }
    table[b] = value;
  }
  return table;
}

constexpr std::array<std::uint8_t, 32> MakeCodeToCharTable(bool letters) {
  std::array<std::uint8_t, 32> table{};
  for (int p = 0; p < 26; ++p) {
    table[LetterCodes[p]] = static_cast<std::uint8_t>(letters ? LetterChars[p] : FigureChars[p]);
  }
  for (int p = 0; p < 6; ++p) table[ControlCodes[p]] = static_cast<std::uint8_t>(ControlChars[p]);
  return table;
}

constexpr std::array<std::uint8_t, 256> MakeUpperTable() {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    table[b] = static_cast<std::uint8_t>(b >= 'a' && b <= 'z' ? b - 'a' + 'A' : b);
  }
  return table;
}

}  // namespace detail

// Byte -> code, or the byte itself when it is in no table.
inline constexpr std::array<std::uint8_t, 256> CharToCodeTable = detail::MakeCharToCodeTable();
// Code -> character in letters shift and in figures shift.
inline constexpr std::array<std::uint8_t, 32> LettersShiftChars = detail::MakeCodeToCharTable(true);
inline constexpr std::array<std::uint8_t, 32> FiguresShiftChars =
    detail::MakeCodeToCharTable(false);
// "a" to "z" become capitals; every other byte stays.
inline constexpr std::array<std::uint8_t, 256> UpperCase = detail::MakeUpperTable();

constexpr std::uint8_t ToUpper(std::uint8_t byte) {
  return UpperCase[byte];
}
constexpr bool IsLetter(std::uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}
constexpr bool IsCapital(std::uint8_t byte) {
  return byte >= 'A' && byte <= 'Z';
}

// Changes a file character into its code in place; bytes outside the tables
// stay as they are (a byte below 32 then stands for the code of its value).
constexpr void CharToCode(std::uint8_t& byte) {
  byte = CharToCodeTable[byte];
}

// Changes a code into its file character in place, in the shift that
// `lettersShift` gives; bytes of 32 or more stay. A letters-shift or
// figures-shift character in the result switches the shift for what follows.
constexpr void CodeToChar(std::uint8_t& byte, bool& lettersShift) {
  if (byte < 32) byte = lettersShift ? LettersShiftChars[byte] : FiguresShiftChars[byte];
  if (byte == kLettersShiftChar) {
    lettersShift = true;
  } else if (byte == kFiguresShiftChar) {
    lettersShift = false;
  }
}

}  // namespace quarvel
