// The check of a plain text before it is enciphered: every byte after the
// header must have a teleprinter code, or be below 32 (taken as the code of
// its value). A byte of 32 or more outside the tables would reach the cipher
// text as a non-letter, where the receiver's text ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarvel {

struct RunState;

// Scans the source after its header (from TextPosition + 1) and records
// UncodedOffset and LineByteOffset; stops at the first byte without a code.
// Returns false when there is one.
bool CheckPlainText(RunState& state);

}  // namespace quarvel
