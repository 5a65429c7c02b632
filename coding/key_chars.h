// The key characters of a run: the generator started on the run's registers
// and matrix, and every key character it makes taken into the run; in
// quarvel_keys each one also goes to the all-additive file.
#pragma once

#include <cstdint>

namespace quarvel {

struct RunState;

// The warm-up on the run's registers, leaving StepParity set from its last
// step; the block generator then starts from there.
void WarmUp(RunState& state);

// The next key character into `result` (callers pass state.KeyChar): from the
// block generator once the warm-up has started it, else step by step. In
// quarvel_keys each key character made also goes to the all-additive file.
void NextKeyChar(RunState& state, std::uint8_t& result);

}  // namespace quarvel
