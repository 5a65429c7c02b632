// Key characters made many at a time, equal to those of the step-by-step
// generator.
//
// Every register is linear, so the sequence of stage-0 bytes f obeys
// f[n] = XOR over i of (Taps[i] AND f[n-1-i]), and, squared five times over
// GF(2), also f[n] = XOR over i of (Taps[i] AND f[n-32(1+i)]) once enough of
// the sequence exists. The second form makes 32 consecutive output bytes in
// one pass of 31 word-wide AND/XOR operations. The key bit of a step depends
// only on its output byte and the parity of the previous one, so it is a
// table lookup.
#pragma once

#include <array>
#include <cstdint>

#include "generator/generator_types.h"

namespace quarvel {

struct KeyBlock {
  static constexpr int kStride = 32;
  // Output bytes kept from one block for the next: at least 31 strides.
  static constexpr int kHistory = 1024;
  // Steps made on the plain recurrence before the strided one holds.
  static constexpr int kPlainSteps = 31 * kStride;
  static constexpr int kSteps = 16000;  // per block; a multiple of 5 and of 32
  static constexpr int kChars = kSteps / 5;
  static_assert(kSteps % 5 == 0 && kSteps % kStride == 0 && (kSteps - kPlainSteps) % kStride == 0);

  bool Active = false;
  int Next = 0;
  int Count = 0;
  bool FirstBlock = true;
  std::uint8_t PrevParity = 0;
  // Bit 0: matrix entry of the byte XOR its bit 0; bit 1: parity of the byte.
  std::array<std::uint8_t, 256> BitTable{};
  std::array<std::uint8_t, kChars> Chars{};
  alignas(64) std::array<std::uint8_t, kHistory + kSteps> Outputs{};
};

// Starts the block generator from a register bank, the parity of the last
// step made and the structure matrix.
void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix);

// Makes the next block of key characters.
void RefillKeyBlock(KeyBlock& block);

inline std::uint8_t TakeKeyChar(KeyBlock& block) {
  if (block.Next == block.Count) RefillKeyBlock(block);
  return block.Chars[block.Next++];
}

}  // namespace quarvel
