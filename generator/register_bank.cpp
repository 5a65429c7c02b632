#include "generator/register_bank.h"

#include "run/run_state.h"

namespace quarvel {

void StepRegisters(RunState& state) {
  state.LastStepBits = SplitStepBits(StepBank(state.Registers));
}

}  // namespace quarvel
