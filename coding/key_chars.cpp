#include "coding/key_chars.h"

#include "generator/key_block.h"
#include "generator/key_stream.h"
#include "state/run_state.h"

namespace quarvel {

void WarmUp(RunState& state) {
  WarmUp(state.Registers, state.StepParity);
  StartKeyBlock(state.Block, state.Registers, state.StepParity, state.KeyMatrix);
}

void NextKeyChar(RunState& state, std::uint8_t& result) {
  if (state.Block.Active && state.StepsPerChar == 5) {
    result = TakeKeyChar(state.Block, *state.KernelTable);
  } else {
    result =
        StepwiseKeyChar(state.Registers, state.StepParity, state.KeyMatrix, state.StepsPerChar);
  }
  if (state.WritesKeySeries() && state.AllAdditiveFile.IsOpen()) {
    state.AllAdditiveFile.WriteByte(result);
  }
}

}  // namespace quarvel
