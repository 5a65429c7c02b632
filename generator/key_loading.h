// Key loading: the three key parts become the starting state of the register
// bank and the structure matrix.
#pragma once

#include <string_view>

#include "generator/generator_types.h"

namespace quarvel {

inline constexpr int kMinMatrixWeight = 33;
inline constexpr int kMaxMatrixWeight = 95;

// The 8-bit letter value of a key letter, most significant bit first. Lower
// case loads as upper case; a byte that is not a letter gives all zeros.
LetterBits ExpandLetter(char letter);

// Fills both expanded keys from the first 10 characters of each key: groups
// 0 to 9 are letters 1 to 10, then groups 10 to 15 repeat letters 2 to 7 of
// the basic key and letters 1 to 6 of the message key.
void ExpandKeys(ExpandedKey& basicKeyBits, ExpandedKey& messageKeyBits, std::string_view basicKey,
                std::string_view messageKey);

// Stage 0 is 0xFF; every other stage is the XOR of one basic-key group and
// one message-key group, first element in the least significant bit.
void LoadRegisters(RegisterBank& registers, const ExpandedKey& basicKeyBits,
                   const ExpandedKey& messageKeyBits);

// Builds the matrix from the structure key and the two expanded keys, on a
// copy of the text. While the weight lies outside 33 to 95 the rows of the
// copy are shifted one place toward their start and the matrix rebuilt; an
// even weight finally inverts entry (0, 0). Returns false when the weight
// cannot reach the window: the copy no longer changes under a shift.
bool BuildStructureMatrix(StructureMatrix& keyMatrix, const StructureKeyChars& structureKeyText,
                          const ExpandedKey& basicKeyBits, const ExpandedKey& messageKeyBits);

}  // namespace quarvel
