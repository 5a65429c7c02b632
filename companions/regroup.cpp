#include "companions/regroup.h"

#include <vector>

#include "alphabet/teleprinter.h"
#include "keyfile/key_file.h"

namespace quarvel::companions {

namespace {

constexpr int kGroupLetters = 5;
constexpr int kMessageKeyLetters = 3 * kMessageKeyGroups;
// The programs start the groups at the sixth place of a line of ten, so the
// first line after the header holds four.
constexpr int kGroupsPerLine = 10;
constexpr int kGroupsOnFirstLine = 4;

struct Line {
  std::size_t Start = 0;   // offset of its first byte in the text
  std::string_view Bytes;  // without its line end
};

// Lines end with LF, CR LF or a lone CR.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back({start, text.substr(start, i - start)});
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back({start, text.substr(start)});
  return lines;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Takes the mail quoting ("> ", ">> ", "> > ") and the blanks before a
// line's text off; gives the number of quote marks.
int StripQuoting(std::string_view& text) {
  int depth = 0;
  for (;;) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    if (text.empty() || text.front() != '>') return depth;
    ++depth;
    text.remove_prefix(1);
  }
}

std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsSmall(char c) {
  return c >= 'a' && c <= 'z';
}

// The cipher letters of one line of groups, upper-cased, appended to
// `letters`, with `carry` (the letters of the group begun before it) moved
// on; false, with nothing changed, when the line cannot be one: see the
// header file. `mayBeShort`: a single part of a group may stand alone.
bool TakeGroupLine(std::string_view text, bool mayBeShort, int& carry, std::string& letters) {
  text = TrimEnd(text);
  if (text.empty()) return false;
  int at = carry;
  std::size_t words = 0, firstLength = 0;
  std::string taken;
  for (std::size_t i = 0; i < text.size();) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    int small = 0;
    while (end < text.size() && !IsBlank(text[end])) {
      auto byte = static_cast<std::uint8_t>(text[end]);
      if (!IsLetter(byte)) return false;
      small += IsSmall(text[end]) ? 1 : 0;
      taken += static_cast<char>(ToUpper(byte));
      ++end;
    }
    const std::size_t length = end - i;
    if (small != 0 && static_cast<std::size_t>(small) != length) return false;
    if (at + length > static_cast<std::size_t>(kGroupLetters)) return false;
    at = static_cast<int>((at + length) % kGroupLetters);
    if (words++ == 0) firstLength = length;
    i = end;
  }
  if (words == 1 && carry == 0 && firstLength < kGroupLetters && !mayBeShort) return false;
  carry = at;
  letters += taken;
  return true;
}

// The first "HHHHH" in either case, or npos.
std::size_t FindMarker(std::string_view text) {
  const std::string_view marker = kMessageKeyMarker;
  for (std::size_t i = 0; i + marker.size() <= text.size(); ++i) {
    bool match = true;
    for (std::size_t k = 0; k < marker.size() && match; ++k) {
      match = ToUpper(static_cast<std::uint8_t>(text[i + k])) == marker[k];
    }
    if (match) return i;
  }
  return std::string_view::npos;
}

bool OnlyLayout(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c) && c != '\n' && c != '\r' && c != '>') return false;
  }
  return true;
}

std::string Shown(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out;
  for (char c : text.substr(0, kShown)) {
    auto byte = static_cast<std::uint8_t>(c);
    out += byte < 32 || byte == 127 ? '?' : c;
  }
  if (text.size() > kShown) out += "...";
  return out;
}

}  // namespace

RegroupResult Regroup(std::string_view text) {
  RegroupResult result;
  const std::size_t marker = FindMarker(text);
  if (marker == std::string_view::npos) {
    result.Problem = "no message header (" + std::string(kMessageKeyMarker) + ")";
    return result;
  }
  if (!OnlyLayout(text.substr(0, marker))) result.DroppedBefore = static_cast<std::int64_t>(marker);

  const std::vector<Line> lines = SplitLines(text);
  std::size_t index = 0;
  while (lines[index].Start + lines[index].Bytes.size() <= marker) ++index;
  std::string_view first = lines[index].Bytes;
  const int depth = StripQuoting(first);

  // The message key: 30 letters after the marker, with blanks, line breaks
  // and quoting passed over before each.
  std::size_t from = marker + kMessageKeyMarker.size() - lines[index].Start;
  std::string_view rest = lines[index].Bytes.substr(from);
  if (!rest.empty() && IsLetter(static_cast<std::uint8_t>(rest.front()))) {
    result.Problem = "a letter directly follows " + std::string(kMessageKeyMarker) + " at line " +
                     std::to_string(index + 1) +
                     "; the programs pass over the byte after the marker, so a blank belongs there";
    return result;
  }
  std::string key;
  while (key.size() < static_cast<std::size_t>(kMessageKeyLetters)) {
    while (rest.empty() || IsBlank(rest.front())) {
      if (!rest.empty()) {
        rest.remove_prefix(1);
        continue;
      }
      if (++index >= lines.size()) {
        result.Problem = "the header ends after " + std::to_string(key.size()) + " of its " +
                         std::to_string(kMessageKeyLetters) + " message-key letters";
        return result;
      }
      rest = lines[index].Bytes;
      StripQuoting(rest);
    }
    auto byte = static_cast<std::uint8_t>(rest.front());
    if (!IsLetter(byte)) {
      result.Problem = "the message key is damaged at line " + std::to_string(index + 1) + ": '" +
                       Shown(rest.substr(0, 1)) + "' after " + std::to_string(key.size()) +
                       " of its " + std::to_string(kMessageKeyLetters) + " letters";
      return result;
    }
    key += static_cast<char>(ToUpper(byte));
    rest.remove_prefix(1);
  }
  result.HeaderFound = true;

  // The groups: the rest of the header's last line, then whole lines.
  std::string letters;
  int carry = 0;
  bool ended = false;
  if (!TrimEnd(rest).empty()) ended = !TakeGroupLine(rest, true, carry, letters);
  std::size_t end = ended ? index : index + 1;
  for (; !ended && end < lines.size(); ++end) {
    std::string_view line = lines[end].Bytes;
    if (StripQuoting(line) != depth || !TakeGroupLine(line, false, carry, letters)) break;
  }
  for (std::size_t i = end; i < lines.size(); ++i) {
    std::string_view line = lines[i].Bytes;
    StripQuoting(line);
    // Of the header's line only what follows the message key.
    if (i == index) {
      line = rest;
      StripQuoting(line);
    }
    if (TrimEnd(line).empty()) continue;
    if (result.LinesLeftOut++ == 0) {
      result.EndLine = static_cast<std::int64_t>(end + 1);
      result.EndText = Shown(TrimEnd(line));
    }
  }

  std::string& out = result.Text;
  out = kMessageKeyMarker;
  for (std::size_t i = 0; i < key.size(); i += 3) out.append(" ").append(key, i, 3);
  out += ' ';
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const std::size_t group = i / kGroupLetters;
    if (i % kGroupLetters == 0 && group > 0) {
      const bool lineEnd = (group + kGroupsPerLine - kGroupsOnFirstLine) % kGroupsPerLine == 0;
      out += lineEnd ? "\r\n" : " ";
    }
    out += letters[i];
  }
  result.Letters = static_cast<std::int64_t>(letters.size());
  return result;
}

}  // namespace quarvel::companions
