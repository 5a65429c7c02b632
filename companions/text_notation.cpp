#include "companions/text_notation.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "alphabet/teleprinter.h"
#include "keyfile/key_file.h"
#include "keyfile/keyword_search.h"

namespace quarvel::companions {

namespace {

// What a character asks of the shift.
enum class Kind : std::uint8_t { None, Letter, Figure, Neutral };

constexpr std::array<Kind, 128> MakeAsciiKinds() {
  std::array<Kind, 128> kinds{};
  for (int p = 0; p < 26; ++p) {
    kinds[static_cast<std::uint8_t>(LetterChars[p])] = Kind::Letter;
    kinds[static_cast<std::uint8_t>(LetterChars[p]) - 'A' + 'a'] = Kind::Letter;
    kinds[static_cast<std::uint8_t>(FigureChars[p])] = Kind::Figure;
  }
  kinds[' '] = Kind::Neutral;
  kinds['|'] = Kind::Neutral;
  return kinds;
}

constexpr std::array<Kind, 128> kAsciiKinds = MakeAsciiKinds();

Kind AsciiKind(char c) {
  auto byte = static_cast<std::uint8_t>(c);
  return byte < 128 ? kAsciiKinds[byte] : Kind::None;
}

// The letters outside A to Z that the notation spells out.
struct SpeltLetter {
  char32_t CodePoint;
  std::string_view Spelt;
};

constexpr SpeltLetter kSpeltLetters[] = {
    {U'\u00C4', "AE"}, {U'\u00E4', "AE"}, {U'\u00D6', "OE"}, {U'\u00F6', "OE"},
    {U'\u00DC', "UE"}, {U'\u00FC', "UE"}, {U'\u00DF', "SS"}, {U'\u1E9E', "SS"},
};

// One UTF-8 character at the start of `text`: its code point and length, or
// length 1 and false for a byte that does not start a valid character.
struct Decoded {
  char32_t CodePoint = 0;
  std::size_t Length = 1;
  bool Valid = false;
};

Decoded DecodeUtf8(std::string_view text) {
  Decoded d;
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  std::uint8_t first = byte(0);
  if (first < 0x80) return {first, 1, true};
  std::size_t length;
  char32_t cp;
  char32_t minimum;
  if ((first & 0xE0) == 0xC0) {
    length = 2, cp = first & 0x1F, minimum = 0x80;
  } else if ((first & 0xF0) == 0xE0) {
    length = 3, cp = first & 0x0F, minimum = 0x800;
  } else if ((first & 0xF8) == 0xF0) {
    length = 4, cp = first & 0x07, minimum = 0x10000;
  } else {
    return d;
  }
  if (text.size() < length) return d;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return d;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return d;
  return {cp, length, true};
}

}  // namespace

bool IsReplacementChar(char c) {
  return AsciiKind(c) != Kind::None;
}

bool EncodeText(std::string_view text, const EncodeOptions& options, EncodeState& state,
                std::string& out, EncodeProblem& problem) {
  std::int64_t line = 1;
  std::int64_t column = 0;
  std::size_t i = 0;
  // A byte order mark at the start says only that the text is UTF-8.
  if (text.starts_with("\xEF\xBB\xBF")) i = 3;
  while (i < text.size()) {
    Decoded d = DecodeUtf8(text.substr(i));
    ++column;
    Kind kind = Kind::None;
    std::string_view piece;
    char single = 0;
    bool lineEnd = false;
    if (d.Valid) {
      switch (d.CodePoint) {
        case U'\r':
          if (i + 1 < text.size() && text[i + 1] == '\n') {
            d.Length = 2;
            kind = Kind::Neutral, piece = "<*", lineEnd = true;
          }
          break;
        case U'\n':
          kind = Kind::Neutral, piece = "<*", lineEnd = true;
          break;
        case U'\t':
          kind = Kind::Neutral, piece = " ";
          break;
        default:
          if (d.CodePoint < 128) {
            single = static_cast<char>(d.CodePoint);
            kind = AsciiKind(single);
          }
          for (const SpeltLetter& letter : kSpeltLetters) {
            if (d.CodePoint == letter.CodePoint) kind = Kind::Letter, piece = letter.Spelt;
          }
          break;
      }
    }
    if (kind == Kind::None) {
      if (!options.Replacement) {
        problem.Line = line;
        problem.Column = column;
        problem.Bytes.assign(text.substr(i, d.Length));
        problem.Valid = d.Valid;
        problem.CodePoint = d.CodePoint;
        return false;
      }
      ++state.Replaced;
      single = *options.Replacement;
      kind = AsciiKind(single);
    }
    std::string& to = state.Figures && kind == Kind::Neutral ? state.Pending : out;
    if (kind == Kind::Letter && state.Figures) {
      out += static_cast<char>(kLettersShiftChar);
      state.Figures = false;
    } else if (kind == Kind::Figure && !state.Figures) {
      out += static_cast<char>(kFiguresShiftChar);
      state.Figures = true;
    }
    if (kind != Kind::Neutral) {
      out += state.Pending;
      state.Pending.clear();
    }
    if (piece.empty()) {
      to += static_cast<char>(ToUpper(static_cast<std::uint8_t>(single)));
    } else {
      to += piece;
    }
    i += d.Length;
    if (lineEnd) {
      ++line;
      column = 0;
    }
  }
  return true;
}

void FinishEncoding(EncodeState& state, std::string& out) {
  out += state.Pending;
  state.Pending.clear();
}

std::string DescribeProblem(const EncodeProblem& problem) {
  char buffer[64];
  if (!problem.Valid) {
    std::snprintf(buffer, sizeof buffer, "byte 0x%02X is not UTF-8",
                  static_cast<unsigned>(static_cast<std::uint8_t>(problem.Bytes.at(0))));
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(problem.CodePoint));
  std::string text = buffer;
  char32_t cp = problem.CodePoint;
  bool printable = cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0);
  if (printable) text += " '" + problem.Bytes + "'";
  text += " has no teleprinter form";
  if (cp == U'\r') text += " (a carriage return without a line feed)";
  if (cp == U'#' || cp == U'%' || cp == U'<' || cp == U'*') {
    text += " (it is a control character of the notation)";
  }
  return text;
}

std::optional<std::size_t> MessageHeaderLength(std::string_view text) {
  // The first complete marker, matched as the key reader matches it; a
  // marker that ends the text does not count.
  KeywordMatcher marker{kMessageKeyMarker};
  std::size_t pos = 0;
  for (;;) {
    if (pos >= text.size()) return std::nullopt;
    bool complete = marker.Step(static_cast<std::uint8_t>(text[pos++]));
    if (pos >= text.size()) return std::nullopt;
    if (complete) break;
  }
  ++pos;  // the separator after the marker
  const int count = 3 * kMessageKeyGroups;
  for (int i = 1; i <= count; ++i) {
    std::uint8_t byte;
    do {
      if (pos >= text.size()) return std::nullopt;
      byte = static_cast<std::uint8_t>(text[pos++]);
    } while (!IsLetter(byte) && i != count);
  }
  // The byte after the last message-key letter belongs to the header.
  return std::min(pos + 1, text.size());
}

std::string ToUnixLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace quarvel::companions
