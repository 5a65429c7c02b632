#include "generator/key_stream.h"

#include "generator/key_block.h"
#include "generator/register_bank.h"
#include "run/run_state.h"

namespace quarvel {

std::uint8_t LookupBit(const StructureMatrix& matrix, const StepBits& bits) {
  int column = bits[0] + 2 * bits[1] + 4 * bits[2] + 8 * bits[3];
  int row = bits[4] + 2 * bits[5] + 4 * bits[6];
  return matrix[16 * row + column];
}

void CombineBit(std::uint8_t& result, const StructureMatrix& matrix, const StepBits& bits,
                std::uint8_t previousParity) {
  result = static_cast<std::uint8_t>(LookupBit(matrix, bits) ^ bits[7] ^ previousParity);
}

void FoldParity(std::uint8_t& result, const StepBits& bits) {
  std::uint8_t parity = 0;
  for (std::uint8_t bit : bits) parity ^= bit;
  result = parity;
}

void WarmUp(RunState& state) {
  state.StepParity = 0;
  for (int i = 0; i < kWarmUpSteps; ++i) {
    StepRegisters(state);
    FoldParity(state.StepParity, state.LastStepBits);
  }
  StartKeyBlock(state.Block, state.Registers, state.StepParity, state.KeyMatrix);
}

void NextKeyCharStepwise(RunState& state, std::uint8_t& result) {
  std::uint8_t keyChar = 0;
  for (int i = 0; i < state.StepsPerChar; ++i) {
    StepRegisters(state);
    CombineBit(state.StepKeyBit, state.KeyMatrix, state.LastStepBits, state.StepParity);
    keyChar = static_cast<std::uint8_t>(((keyChar << 1) & 0xFF) ^ state.StepKeyBit);
    FoldParity(state.StepParity, state.LastStepBits);
  }
  result = keyChar & 31;
}

void NextKeyChar(RunState& state, std::uint8_t& result) {
  if (state.Block.Active && state.StepsPerChar == 5) {
    result = TakeKeyChar(state.Block);
  } else {
    NextKeyCharStepwise(state, result);
  }
  if (state.WritesKeySeries() && state.AllAdditiveFile.IsOpen()) {
    state.AllAdditiveFile.WriteByte(result);
  }
}

}  // namespace quarvel
