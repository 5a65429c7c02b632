// The register bank: eight linear feedback shift registers of 31 stages,
// stepped together.
#pragma once

#include <array>
#include <cstdint>

#include "generator/generator_types.h"

namespace quarvel {

// Bit b of entry i set: stage i of register b feeds back into register b.
inline constexpr std::array<std::uint8_t, kStageCount> FeedbackTaps = {
    0x14, 0x73, 0xA3, 0x33, 0x8F, 0x25, 0x67, 0xBD,  // stages 0 to 7
    0x16, 0xB6, 0xB4, 0x4C, 0x0C, 0xB4, 0x51, 0x90,  // stages 8 to 15
    0x6B, 0x1A, 0x6B, 0x09, 0xE0, 0x59, 0x0D, 0xA8,  // stages 16 to 23
    0x18, 0xE1, 0x70, 0x61, 0xC1, 0x01, 0x81};       // stages 24 to 30

// The feedback byte of the bank as it stands: bit b is the next input of
// register b.
constexpr std::uint8_t Feedback(const RegisterBank& bank) {
  std::uint8_t f = 0;
  for (int i = 0; i < kStageCount; ++i) f ^= bank.Stages[i] & FeedbackTaps[i];
  return f;
}

// Steps all eight registers once; returns the new stage-0 byte, whose bits
// are the outputs of the step.
constexpr std::uint8_t StepBank(RegisterBank& bank) {
  std::uint8_t f = Feedback(bank);
  for (int i = kStageCount - 1; i > 0; --i) bank.Stages[i] = bank.Stages[i - 1];
  bank.Stages[0] = f;
  return f;
}

// Element j is bit 7 - j of the byte.
constexpr StepBits SplitStepBits(std::uint8_t f) {
  StepBits bits{};
  for (int j = 0; j < 8; ++j) bits[j] = static_cast<std::uint8_t>((f >> (7 - j)) & 1);
  return bits;
}

// Steps the bank once; returns the output bits of the step.
constexpr StepBits StepRegisters(RegisterBank& bank) {
  return SplitStepBits(StepBank(bank));
}

}  // namespace quarvel
