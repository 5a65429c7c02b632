// The key stream: five register steps, each combined with the structure
// matrix, make one 5-bit key character.
#pragma once

#include <cstdint>

#include "generator/generator_types.h"

namespace quarvel {

inline constexpr int kWarmUpSteps = 150;

// Matrix entry selected by seven of the eight step bits: column from s0 to
// s3, row from s4 to s6 (s0 and s4 of weight 1).
std::uint8_t LookupBit(const StructureMatrix& matrix, const StepBits& bits);
// Key bit of a step: lookup XOR s7 XOR the parity of the previous step.
void CombineBit(std::uint8_t& result, const StructureMatrix& matrix, const StepBits& bits,
                std::uint8_t previousParity);
// XOR of eight bits.
void FoldParity(std::uint8_t& result, const StepBits& bits);

// 150 register steps that make no key character; leaves `stepParity` set
// from the last one.
void WarmUp(RegisterBank& registers, std::uint8_t& stepParity);

// One key character made step by step, `stepsPerChar` register steps of one
// key bit each, the first bit the most significant: the reference that the
// block generator equals. `stepParity` carries the parity of the last step.
std::uint8_t StepwiseKeyChar(RegisterBank& registers, std::uint8_t& stepParity,
                             const StructureMatrix& matrix, std::int32_t stepsPerChar);

}  // namespace quarvel
