// The tables of the bulk encipher loop and its kernels: constant data only.
#pragma once

#include <array>
#include <cstdint>

#include "alphabet/teleprinter.h"
#include "coding/encipher.h"

namespace quarvel {

// A plain byte's code: "a" to "z" as capitals, then CharToCode.
inline constexpr std::array<std::uint8_t, 256> PlainCodes = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = CharToCodeTable[UpperCase[b]];
  return table;
}();

// Classes of a plain-text byte, as bits.
inline constexpr std::uint8_t kLineByte = 1;     // line feed, carriage return, tab
inline constexpr std::uint8_t kUncodedByte = 2;  // 32 or more, in no teleprinter table

// The class of every byte, from the teleprinter tables (a letter of either
// case, a figure character or a control character has a code).
inline constexpr std::array<std::uint8_t, 256> PlainByteClasses = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    if (b == '\n' || b == '\r' || b == '\t') {
      table[b] = kLineByte;
    } else if (b >= 32 && CharToCodeTable[UpperCase[b]] >= 32) {
      table[b] = kUncodedByte;
    }
  }
  return table;
}();

// What a cipher code is written as: its letter, or "Y" with the second
// letter of its pair in the high byte; a byte of 32 or more stands for
// itself.
inline constexpr std::array<std::uint16_t, 256> CipherLetters = [] {
  std::array<std::uint16_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    if (x >= 32) {
      table[x] = static_cast<std::uint16_t>(x);
    } else if (PairSecondCode[x] != kNoPair) {
      table[x] = static_cast<std::uint16_t>(LettersShiftChars[kCodeOfY] |
                                            (LettersShiftChars[PairSecondCode[x]] << 8));
    } else {
      table[x] = LettersShiftChars[x];
    }
  }
  return table;
}();

// Bit x set: cipher code x is written as a pair.
inline constexpr std::uint64_t kPairCodes = [] {
  std::uint64_t mask = 0;
  for (int x = 0; x < 32; ++x) {
    if (PairSecondCode[x] != kNoPair) mask |= std::uint64_t{1} << x;
  }
  return mask;
}();

// The plain code, or 32 for a byte outside the tables, which never gives a
// pair: kPairCodes has no bit from 32 up.
inline constexpr std::array<std::uint8_t, 256> PairIndexBase = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = PlainCodes[b] < 32 ? PlainCodes[b] : 32;
  return table;
}();

// Bit k set: plain byte b with key character k gives a cipher code written
// as a pair. The pair test of a character is then a shift by its key alone.
inline constexpr std::array<std::uint32_t, 256> PairKeysOf = [] {
  std::array<std::uint32_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    for (int k = 0; k < 32; ++k) {
      if ((kPairCodes >> (PairIndexBase[b] ^ k)) & 1) table[b] |= std::uint32_t{1} << k;
    }
  }
  return table;
}();

// The layout of 50 cipher letters, a whole line's worth, that start at a
// given place in the line (phase: 5 times the groups already on the line
// plus the letters already in the group): whatever the phase, they take 61
// bytes with their nine spaces and one CR LF.
inline constexpr int kLineLetters = kLettersPerGroup * kGroupsPerLine;
inline constexpr int kLineBytes = kLineLetters + kGroupsPerLine + 1;
struct LineLayout {
  // Bit k set where byte k of the 61 is a letter.
  std::uint64_t LetterMask;
  // The separators where they go, 0 elsewhere.
  std::array<std::uint8_t, 64> Separators;
  // The runs of letters: from letter Source[r] on to byte Place[r], each run
  // up to the next separator.
  int Runs;
  std::array<std::uint8_t, 11> Source, Place;
  // The places of the 11 separator bytes (nine spaces, CR and LF).
  std::array<std::uint8_t, 11> SeparatorPlace;
};

inline constexpr std::array<LineLayout, kLineLetters> LineLayouts = [] {
  std::array<LineLayout, kLineLetters> table{};
  for (int phase = 0; phase < kLineLetters; ++phase) {
    LineLayout& layout = table[phase];
    int place = 0;
    int separators = 0;
    bool inRun = false;
    for (int k = 0; k < kLineLetters; ++k) {
      if (!inRun) {
        layout.Source[layout.Runs] = static_cast<std::uint8_t>(k);
        layout.Place[layout.Runs] = static_cast<std::uint8_t>(place);
        ++layout.Runs;
        inRun = true;
      }
      layout.LetterMask |= std::uint64_t{1} << place++;
      int at = (phase + k) % kLineLetters + 1;
      if (at % kLettersPerGroup != 0) continue;
      inRun = false;
      layout.SeparatorPlace[separators++] = static_cast<std::uint8_t>(place);
      if (at == kLineLetters) {
        layout.SeparatorPlace[separators++] = static_cast<std::uint8_t>(place + 1);
        layout.Separators[place++] = '\r';
        layout.Separators[place++] = '\n';
      } else {
        layout.Separators[place++] = ' ';
      }
    }
  }
  return table;
}();

}  // namespace quarvel
