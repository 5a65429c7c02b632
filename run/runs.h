// The encipher and decipher runs, and what both share beside their character
// loops: the header copy, the choice of loop and the closing of the run's
// files.
#pragma once

#include <cstdint>

namespace quarvel {

struct RunState;

// Mode "C": the plain-text file into the cipher-text file.
void EncipherRun(RunState& state);
// Mode "D": the cipher-text file back into the plain-text file.
void DecipherRun(RunState& state);

// Copies bytes 0 to `textPosition` of the source to the start of the target,
// upper-cased, echoing each on the console; a source that ends sooner gives
// what it has.
void CopyHeader(RunState& state, std::int64_t textPosition);
// Closes the run's files that are open, in table order.
void CloseRunFiles(RunState& state);
// True when the bulk loops may write straight into the buffers: every file
// of the run is a file of its own (none is the console, which would
// interleave byte by byte) and the key stream comes in blocks.
bool BulkLoopsMayRun(const RunState& state);

// The character loops: EncipherStep while the source is not at its end, or
// DecipherStep until DecipherDone; many characters at a time when BulkLoopsMayRun
// allows it.
void EncipherText(RunState& state);
void DecipherText(RunState& state);

}  // namespace quarvel
