// Key characters made many at a time, equal to those of the step-by-step
// generator.
//
// Every register is linear, so the sequence of stage-0 bytes f obeys
// f[n] = XOR over i of (Taps[i] AND f[n-1-i]), and, squared six times over
// GF(2), also f[n] = XOR over i of (Taps[i] AND f[n-64(1+i)]) once enough of
// the sequence exists. The second form makes 64 consecutive output bytes in
// one pass of 31 vector-wide AND/XOR operations.
//
// The key bit of a step is a function of its output byte (the matrix entry
// XOR its bit 0) XOR the parity of the previous output byte; both are
// nibble-table lookups done 32 or 64 steps at a time with byte shuffles,
// giving bit masks from which the key bits are assembled as a bit string,
// most significant bit first. A key character is then five consecutive bits
// of that string.
#pragma once

#include <array>
#include <cstdint>

#include "generator/generator_types.h"
#include "isa/kernels.h"

namespace quarvel {

struct KeyBlock {
  static constexpr int kStride = 64;
  // Output bytes kept from one block for the next: at least 31 strides.
  static constexpr int kHistory = 2048;
  // Steps made on the plain recurrence before the strided one holds.
  static constexpr int kPlainSteps = 31 * kStride;
  static constexpr int kSteps = 16000;  // per block; a multiple of 5, 40 and 64
  static constexpr int kChars = kSteps / 5;
  static_assert(kHistory >= 31 * kStride);
  static_assert(kChars % 64 == 0);
  static_assert(kSteps % 40 == 0 && kSteps % kStride == 0 && (kSteps - kPlainSteps) % kStride == 0);

  bool Active = false;
  int Next = 0;
  int Count = 0;
  bool FirstBlock = true;
  // Parity of the output byte of the step before the next block.
  std::uint8_t PrevParity = 0;
  // The key-bit function of the structure matrix.
  KeyBitTables Tables{};
  // Chars[Next] to Chars[Count - 1] are made and not yet taken; a refill
  // keeps them and makes kChars more behind them. 64 bytes of slack.
  std::array<std::uint8_t, 2 * kChars + 64> Chars{};
  // Key bits of the block, step 8m+7-r in bit r of byte m; 8 bytes of slack.
  alignas(64) std::array<std::uint8_t, kSteps / 8 + 8> KeyBits{};
  alignas(64) std::array<std::uint8_t, kHistory + kSteps> Outputs{};
};

// Starts the block generator from a register bank, the parity of the last
// step made and the structure matrix.
void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix);

// Makes the next kChars key characters, behind those not yet taken, which
// must be fewer than kChars, with the kernels of one tier.
void RefillKeyBlock(KeyBlock& block, const Kernels& kernels);

inline std::uint8_t TakeKeyChar(KeyBlock& block, const Kernels& kernels) {
  if (block.Next == block.Count) RefillKeyBlock(block, kernels);
  return block.Chars[block.Next++];
}

}  // namespace quarvel
