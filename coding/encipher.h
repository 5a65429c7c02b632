// Enciphering: one plain character into one cipher letter or a "Y" pair,
// written in groups of five letters, ten groups to a line.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel {

struct RunState;

inline constexpr std::uint8_t kNoPair = 0xFF;
inline constexpr std::uint8_t kCodeOfY = 21;
inline constexpr int kLettersPerGroup = 5;
inline constexpr int kGroupsPerLine = 10;
// The first line of cipher groups, after the header, holds four groups: the
// count of groups in the line starts as if six stood there already.
inline constexpr int kGroupsOnFirstLine = 4;
inline constexpr int kGroupsInLineAtStart = kGroupsPerLine - kGroupsOnFirstLine;

// Cipher codes written as "Y" and a second letter: the code of that letter,
// or kNoPair for the codes that have a letter of their own.
inline constexpr std::array<std::uint8_t, 32> PairSecondCode = [] {
  std::array<std::uint8_t, 32> table{};
  for (auto& entry : table) entry = kNoPair;
  table[0] = 1;    // Y T
  table[2] = 3;    // Y O
  table[4] = 5;    // Y H
  table[8] = 9;    // Y L
  table[21] = 20;  // Y S
  table[27] = 26;  // Y J
  table[31] = 30;  // Y K
  return table;
}();

// Reads one plain byte, enciphers it and writes its letter or pair.
void EncipherStep(RunState& state);
// Enciphers the rest of the source many characters at a time, as
// EncipherStep repeated while the source is not at its end, with the same
// bytes in every file and on the console. For runs whose files are all files
// of their own and whose key stream comes in blocks.
void EncipherBulk(RunState& state);
// Counts one letter written; after every fifth a space, or CR LF when the
// group completes a line.
void CountGroupLetter(RunState& state, std::int32_t& groupsInLine);
// Fills an incomplete last group with "Y".
void PadLastGroup(RunState& state);

}  // namespace quarvel
