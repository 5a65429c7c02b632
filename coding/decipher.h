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

// Reads on from the source's position (just after the header, which ends at
// `headerEnd`) and returns the position of the last cipher letter to
// decipher: the last letter of the last complete group of capitals, less the
// "Y" letters that fill it; 0 when there is no complete group.
std::int64_t FindTextLimit(RunState& state, std::int64_t headerEnd);

// Deciphers the next cipher letter or pair, or sets DecipherDone when the
// text limit (TextLimit) is passed or the source has ended.
void DecipherStep(RunState& state);
// Deciphers up to the text limit many characters at a time, as DecipherStep
// repeated until DecipherDone, with the same bytes in every file and on the
// console. For runs whose files are all files of their own and whose key
// stream comes in blocks.
void DecipherBulk(RunState& state);

}  // namespace quarvel
