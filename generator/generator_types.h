// Value types of the key generator.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel {

inline constexpr int kStageCount = 31;

// Eight shift registers of 31 stages, bit-sliced: bit b of stage byte i is
// stage i of register b.
struct RegisterBank {
  std::array<std::uint8_t, kStageCount> Stages{};
};

// The output bits of one register step, each 0 or 1; element j is bit 7 - j
// of the new stage-0 byte (element 0 comes from register 7).
using StepBits = std::array<std::uint8_t, 8>;

// The bits of one key letter, most significant first.
using LetterBits = std::array<std::uint8_t, 8>;

// 16 groups of the LetterBits of a key's letters, 128 bits of 0 or 1.
using ExpandedKey = std::array<std::uint8_t, 128>;

// 8 rows of 16 bits (0 or 1), row-major: entry (r, c) is element 16r + c.
using StructureMatrix = std::array<std::uint8_t, 128>;

// The structure key as read: 8 rows of 16 characters, in file order.
using StructureKeyChars = std::array<char, 128>;

}  // namespace quarvel
