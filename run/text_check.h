// The check of a plain text before it is enciphered: every byte after the
// header must have a teleprinter code, or be below 32 (taken as the code of
// its value). A byte of 32 or more outside the tables would reach the cipher
// text as a non-letter, where the receiver's text ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/encipher_tables.h"
#include "io/byte_file.h"

namespace quarvel {

struct RunState;

// Reads `file` from `from` on, one buffer at a time, and calls
// `visit(offset, data, count)` for each stretch of bytes until it returns
// false or the file ends. The file is left positioned after the last
// stretch visited.
template <typename Visit>
void ForEachBlock(ByteFile& file, std::int64_t from, Visit visit) {
  file.Seek(from);
  std::int64_t offset = from;
  for (;;) {
    const std::uint8_t* data;
    std::size_t count = file.Buffered(data);
    if (count == 0) {
      if (!file.Refill()) return;
      continue;
    }
    file.Advance(count);
    if (!visit(offset, data, count)) return;
    offset += static_cast<std::int64_t>(count);
  }
}

// Scans the source after its header (from TextPosition + 1) and records
// UncodedOffset and LineByteOffset; stops at the first byte without a code.
// Returns false when there is one. A source on the console is not scanned:
// it is read once, as it comes.
bool CheckPlainText(RunState& state);

}  // namespace quarvel
