// Finding a keyword in a file and reading the key characters behind it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/byte_file.h"

namespace quarvel {

struct RunState;

// A set of byte values.
struct CharSet {
  std::array<bool, 256> Members{};
  constexpr bool Contains(std::uint8_t byte) const { return Members[byte]; }
};

constexpr CharSet MakeCharSet(std::string_view chars) {
  CharSet set;
  for (char c : chars) set.Members[static_cast<std::uint8_t>(c)] = true;
  return set;
}

inline constexpr CharSet BinaryDigits = MakeCharSet("01");
inline constexpr CharSet Letters =
    MakeCharSet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

using KeyPart = std::string;

// What reading one key part found.
enum class KeyPartStatus {
  Read,     // all characters read
  Missing,  // keyword not found, or the file did not open
  Short,    // the file ended before all characters were read
};

// Matches a keyword byte by byte as the search does: a byte that breaks a
// partial match is not compared with the keyword's first character again.
struct KeywordMatcher {
  std::string_view Keyword;  // not empty
  std::size_t Matched = 0;

  // True when `byte` completes an occurrence; matching then starts afresh.
  constexpr bool Step(std::uint8_t byte) {
    Matched = byte == static_cast<std::uint8_t>(Keyword[Matched]) ? Matched + 1 : 0;
    if (Matched < Keyword.size()) return false;
    Matched = 0;
    return true;
  }
};

// Searches the file from its start for the first complete occurrence of the
// keyword, matched as KeywordMatcher does. Returns the offset of the
// keyword's last byte plus 2, or 0 when the keyword is not found, ends with
// the file's last byte, or the file does not open (reported on the console,
// then one character is read; the error code is kept in KeyReopenError). The
// handle is left bound and closed.
std::int64_t FindKeyword(std::string_view keyword, ByteFile& handle, std::string_view fileName,
                         RunState& state);

// Opens the bound file again, moves to `start` and reads `count` characters
// into `part`: before every character but the last, bytes outside `allowed`
// are passed over; the last byte read is taken as it is. Sets TextPosition
// to the position after the last byte read. Returns false when the file
// ended first (the part then holds what was read).
bool ReadFiltered(KeyPart& part, std::int64_t start, const CharSet& allowed, ByteFile& handle,
                  std::int32_t count, RunState& state);

// One key part: `count` characters behind the keyword, or `count` spaces
// when the keyword is not found (TextPosition then stays as it was).
KeyPartStatus ReadKeyPart(KeyPart& part, std::string_view fileName, std::string_view keyword,
                          const CharSet& allowed, std::int32_t count, RunState& state);

}  // namespace quarvel
