// The run's key: the key reader's three parts, and the console reports that
// go with them.
#pragma once

namespace quarvel {

struct RunState;

// Reads the structure key and the basic key from the key file and the message
// key from the run's source (the plain text in mode C, the cipher text in
// mode D), each file opened again beside the run's own handle. A file that
// does not open again for a search is reported on the console at once,
// " ERROR ", a line end and " Dateifehler ! ", and one character is read as
// the answer; that part is then spaces and the run goes on. Leaves in
// TextPosition the end of the header, and the reader's verdicts in the run
// state.
void ReadKeyFile(RunState& state);

}  // namespace quarvel
