// Finding a keyword in a file and reading the key characters behind it.
//
// The reader takes any file of bytes with AtEnd(), ReadByte(), Seek(),
// Position(), Close() and Name(): a ByteFile of the run, or KeyBytes, a
// file's bytes held in memory. It opens its file through the caller's
// `open(file)`, which returns 0 or the platform's error code, and it reports
// nothing itself: what it found comes back to the caller.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/io_error.h"

namespace quarvel {

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
  Missing,  // keyword not found, or the file did not open for the search
  Short,    // the file ended before all characters were read
};

struct KeyPartRead {
  KeyPartStatus Status = KeyPartStatus::Missing;
  // The platform's error code when the file did not open for the search;
  // 0 when it opened.
  std::int32_t OpenError = 0;
  // After a filtered read (Read or Short): the position after the last byte
  // read. -1 when there was none.
  std::int64_t End = -1;
};

// The bytes of a file held in memory, read as the key reader reads a file.
struct KeyBytes {
  std::string_view Bytes;
  std::string FileName;  // for the reasons and an error stop
  std::size_t Pos = 0;

  bool AtEnd() const { return Pos >= Bytes.size(); }
  std::uint8_t ReadByte() { return static_cast<std::uint8_t>(Bytes[Pos++]); }
  void Seek(std::int64_t position) { Pos = static_cast<std::size_t>(position); }
  std::int64_t Position() const { return static_cast<std::int64_t>(Pos); }
  void Close() { Pos = 0; }
  const std::string& Name() const { return FileName; }
};

// KeyBytes always open, at their start.
inline int OpenKeyBytes(KeyBytes& bytes) {
  bytes.Pos = 0;
  return 0;
}

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

// Searches the open file from its start for the first complete occurrence of
// the keyword, matched as KeywordMatcher does. Returns the offset of the
// keyword's last byte plus 2, or 0 when the keyword is not found or ends
// with the file's last byte.
template <typename File>
std::int64_t FindKeyword(std::string_view keyword, File& file) {
  if (keyword.empty() || file.AtEnd()) return 0;
  std::int64_t count = 0;
  KeywordMatcher matcher{keyword};
  for (;;) {
    bool complete = matcher.Step(file.ReadByte());
    ++count;
    if (file.AtEnd()) return 0;
    if (complete) return count + 1;
  }
}

// Moves to `start` in the open file and reads `count` characters into
// `part`: before every character but the last, bytes outside `allowed` are
// passed over; the last byte read is taken as it is. Returns false when the
// file ended first (the part then holds what was read).
template <typename File>
bool ReadFiltered(KeyPart& part, std::int64_t start, const CharSet& allowed, File& file,
                  std::int32_t count) {
  file.Seek(start);
  part.clear();
  for (std::int32_t i = 1; i <= count; ++i) {
    std::uint8_t byte = 0;
    do {
      if (file.AtEnd()) return false;
      byte = file.ReadByte();
    } while (!allowed.Contains(byte) && i != count);
    part.push_back(static_cast<char>(byte));
  }
  return true;
}

// One key part: `count` characters behind the keyword, or `count` spaces
// when the keyword is not found or the file does not open for the search.
// The file is opened twice through `open`, once to search and once to read,
// and closed after each. When the second open fails, that is an I/O error
// stop.
template <typename File, typename Open>
KeyPartRead ReadKeyPart(KeyPart& part, File& file, Open&& open, std::string_view keyword,
                        const CharSet& allowed, std::int32_t count) {
  KeyPartRead read;
  std::int64_t start = 0;
  if (int code = open(file); code != 0) {
    read.OpenError = code;
  } else {
    start = FindKeyword(keyword, file);
    file.Close();
  }
  if (start == 0) {
    part.assign(count > 0 ? static_cast<std::size_t>(count) : 0, ' ');
    return read;
  }
  if (int code = open(file); code != 0) ThrowIoError(code, IoOp::Open, file.Name());
  bool complete = ReadFiltered(part, start, allowed, file, count);
  read.Status = complete ? KeyPartStatus::Read : KeyPartStatus::Short;
  read.End = file.Position();
  file.Close();
  return read;
}

}  // namespace quarvel
