// The encipher and decipher runs.
#pragma once

namespace quarvel {

struct RunState;

// Mode "C": the plain-text file into the cipher-text file.
void EncipherRun(RunState& state);
// Mode "D": the cipher-text file back into the plain-text file.
void DecipherRun(RunState& state);

}  // namespace quarvel
