// Deciphering: the cipher letters up to the text limit turned back into
// teleprinter text.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel {

struct RunState;

// The character a "Y" pair stands for, by its second letter ('A' to 'Z'); 0
// where the pair has no meaning and the "Y" stands for the letter Y.
inline constexpr std::array<std::uint8_t, 26> PairCharBySecondLetter = [] {
  std::array<std::uint8_t, 26> table{};
  table['H' - 'A'] = ' ';
  table['J' - 'A'] = '#';
  table['K' - 'A'] = '%';
  table['L' - 'A'] = '*';
  table['O' - 'A'] = '<';
  table['S' - 'A'] = 'Y';
  table['T' - 'A'] = '|';
  return table;
}();

// Reads on from the source's position (just after the header) and replaces
// `textPosition` with the position of the last cipher letter to decipher:
// the last letter of the last complete group of capitals, less the "Y"
// letters that fill it; 0 when there is no complete group.
void FindTextLimit(RunState& state, std::int64_t& textPosition);

// Deciphers the next cipher letter or pair, or sets DecipherDone when the
// text limit is passed or the source has ended.
void DecipherStep(RunState& state);
// Deciphers up to the text limit, as DecipherStep repeated until DecipherDone,
// with the same bytes in every file and on the console; many characters at a
// time when the run's files are files of their own.
void DecipherText(RunState& state);

}  // namespace quarvel
