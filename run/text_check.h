// The check of a plain text before it is enciphered: every byte after the
// header must have a teleprinter code, or be below 32 (taken as the code of
// its value). A byte of 32 or more outside the tables would reach the cipher
// text as a non-letter, where the receiver's text ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "alphabet/teleprinter.h"
#include "io/byte_file.h"

namespace quarvel {

struct RunState;

// Classes of a plain-text byte, as bits.
inline constexpr std::uint8_t kLineByte = 1;     // line feed, carriage return, tab
inline constexpr std::uint8_t kUncodedByte = 2;  // 32 or more, in no teleprinter table

// The class of every byte, from the teleprinter tables (a letter of either
// case, a figure character or a control character has a code).
inline constexpr std::array<std::uint8_t, 256> PlainByteClasses = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    if (b == '\n' || b == '\r' || b == '\t') {
      table[b] = kLineByte;
    } else if (b >= 32 && CharToCodeTable[UpperCase[b]] >= 32) {
      table[b] = kUncodedByte;
    }
  }
  return table;
}();

// The index of the first of `count` bytes whose class has a bit of `wanted`,
// or `count`. Looks at 64 bytes at a time with vector comparisons, which give
// the classes of the table above.
std::size_t FindByteClass(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);

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
