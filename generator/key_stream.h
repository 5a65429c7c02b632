// The key stream: five register steps, each combined with the structure
// matrix, make one 5-bit key character.
#pragma once

#include <cstdint>

#include "generator/generator_types.h"

namespace quarvel {

struct RunState;

inline constexpr int kWarmUpSteps = 150;

// Matrix entry selected by seven of the eight step bits: column from s0 to
// s3, row from s4 to s6 (s0 and s4 of weight 1).
std::uint8_t LookupBit(const StructureMatrix& matrix, const StepBits& bits);
// Key bit of a step: lookup XOR s7 XOR the parity of the previous step.
void CombineBit(std::uint8_t& result, const StructureMatrix& matrix, const StepBits& bits,
                std::uint8_t previousParity);
// XOR of eight bits.
void FoldParity(std::uint8_t& result, const StepBits& bits);

// 150 register steps that make no key character; leaves StepParity set from
// the last one, and starts the block generator from there.
void WarmUp(RunState& state);

// The next key character into `result` (callers pass state.KeyChar): from the
// block generator once the warm-up has started it, else step by step. In
// quarvel_keys each key character made also goes to the all-additive file.
void NextKeyChar(RunState& state, std::uint8_t& result);

// One key character made step by step on the run's register bank: the
// reference that the block generator equals.
void NextKeyCharStepwise(RunState& state, std::uint8_t& result);

}  // namespace quarvel
