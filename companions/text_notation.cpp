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

// The transliteration table. A form marked "apart" is a word or a number of
// its own: a blank is put between it and a letter or figure on either side
// ("50%" gives "50 PROZENT", "A&O" gives "A UND O").
struct TableEntry {
  char32_t CodePoint;
  std::string_view Form;
  bool Apart = false;
};

constexpr TableEntry kTransliterations[] = {
    {0x0021, "."},                // !
    {0x0023, "NR", true},         // #
    {0x0024, "DOLLAR", true},     // $
    {0x0025, "PROZENT", true},    // %
    {0x0026, "UND", true},        // &
    {0x0027, ""},                 // '
    {0x002A, ""},                 // *
    {0x003B, ","},                // ;
    {0x003C, "("},                // <
    {0x003E, ")"},                // >
    {0x005B, "("},                // [
    {0x005C, "/"},                // backslash
    {0x005D, ")"},                // ]
    {0x005E, ""},                 // ^
    {0x005F, "-"},                // _
    {0x0060, ""},                 // `
    {0x007B, "("},                // {
    {0x007D, ")"},                // }
    {0x007E, "CA", true},         // ~
    {0x00A0, " "},                // no-break space
    {0x00A1, ""},                 // ¡
    {0x00A2, "CENT", true},       // ¢
    {0x00A3, "PFUND", true},      // £
    {0x00A5, "YEN", true},        // ¥
    {0x00A7, "PARAGRAPH", true},  // §
    {0x00A9, "(C)"},              // ©
    {0x00AB, "\""},               // «
    {0x00AD, ""},                 // soft hyphen
    {0x00AE, "(R)"},              // ®
    {0x00B0, "GRAD", true},       // °
    {0x00B1, "+-"},               // ±
    {0x00B2, "2"},                // ²
    {0x00B3, "3"},                // ³
    {0x00B4, ""},                 // ´
    {0x00B7, "."},                // ·
    {0x00B9, "1"},                // ¹
    {0x00BB, "\""},               // »
    {0x00BC, "1/4", true},        // ¼
    {0x00BD, "1/2", true},        // ½
    {0x00BE, "3/4", true},        // ¾
    {0x00BF, ""},                 // ¿
    {0x00C0, "A"},                // À
    {0x00C1, "A"},                // Á
    {0x00C2, "A"},                // Â
    {0x00C3, "A"},                // Ã
    {0x00C5, "AA"},               // Å
    {0x00C6, "AE"},               // Æ
    {0x00C7, "C"},                // Ç
    {0x00C8, "E"},                // È
    {0x00C9, "E"},                // É
    {0x00CA, "E"},                // Ê
    {0x00CB, "E"},                // Ë
    {0x00CC, "I"},                // Ì
    {0x00CD, "I"},                // Í
    {0x00CE, "I"},                // Î
    {0x00CF, "I"},                // Ï
    {0x00D0, "D"},                // Ð
    {0x00D1, "N"},                // Ñ
    {0x00D2, "O"},                // Ò
    {0x00D3, "O"},                // Ó
    {0x00D4, "O"},                // Ô
    {0x00D5, "O"},                // Õ
    {0x00D7, "X", true},          // ×
    {0x00D8, "OE"},               // Ø
    {0x00D9, "U"},                // Ù
    {0x00DA, "U"},                // Ú
    {0x00DB, "U"},                // Û
    {0x00DD, "Y"},                // Ý
    {0x00DE, "TH"},               // Þ
    {0x00E0, "A"},                // à
    {0x00E1, "A"},                // á
    {0x00E2, "A"},                // â
    {0x00E3, "A"},                // ã
    {0x00E5, "AA"},               // å
    {0x00E6, "AE"},               // æ
    {0x00E7, "C"},                // ç
    {0x00E8, "E"},                // è
    {0x00E9, "E"},                // é
    {0x00EA, "E"},                // ê
    {0x00EB, "E"},                // ë
    {0x00EC, "I"},                // ì
    {0x00ED, "I"},                // í
    {0x00EE, "I"},                // î
    {0x00EF, "I"},                // ï
    {0x00F0, "D"},                // ð
    {0x00F1, "N"},                // ñ
    {0x00F2, "O"},                // ò
    {0x00F3, "O"},                // ó
    {0x00F4, "O"},                // ô
    {0x00F5, "O"},                // õ
    {0x00F7, "/"},                // ÷
    {0x00F8, "OE"},               // ø
    {0x00F9, "U"},                // ù
    {0x00FA, "U"},                // ú
    {0x00FB, "U"},                // û
    {0x00FD, "Y"},                // ý
    {0x00FE, "TH"},               // þ
    {0x00FF, "Y"},                // ÿ
    {0x0100, "A"},                // Ā
    {0x0101, "A"},                // ā
    {0x0102, "A"},                // Ă
    {0x0103, "A"},                // ă
    {0x0104, "A"},                // Ą
    {0x0105, "A"},                // ą
    {0x0106, "C"},                // Ć
    {0x0107, "C"},                // ć
    {0x0108, "C"},                // Ĉ
    {0x0109, "C"},                // ĉ
    {0x010A, "C"},                // Ċ
    {0x010B, "C"},                // ċ
    {0x010C, "C"},                // Č
    {0x010D, "C"},                // č
    {0x010E, "D"},                // Ď
    {0x010F, "D"},                // ď
    {0x0110, "D"},                // Đ
    {0x0111, "D"},                // đ
    {0x0112, "E"},                // Ē
    {0x0113, "E"},                // ē
    {0x0114, "E"},                // Ĕ
    {0x0115, "E"},                // ĕ
    {0x0116, "E"},                // Ė
    {0x0117, "E"},                // ė
    {0x0118, "E"},                // Ę
    {0x0119, "E"},                // ę
    {0x011A, "E"},                // Ě
    {0x011B, "E"},                // ě
    {0x011C, "G"},                // Ĝ
    {0x011D, "G"},                // ĝ
    {0x011E, "G"},                // Ğ
    {0x011F, "G"},                // ğ
    {0x0120, "G"},                // Ġ
    {0x0121, "G"},                // ġ
    {0x0122, "G"},                // Ģ
    {0x0123, "G"},                // ģ
    {0x0124, "H"},                // Ĥ
    {0x0125, "H"},                // ĥ
    {0x0126, "H"},                // Ħ
    {0x0127, "H"},                // ħ
    {0x0128, "I"},                // Ĩ
    {0x0129, "I"},                // ĩ
    {0x012A, "I"},                // Ī
    {0x012B, "I"},                // ī
    {0x012C, "I"},                // Ĭ
    {0x012D, "I"},                // ĭ
    {0x012E, "I"},                // Į
    {0x012F, "I"},                // į
    {0x0130, "I"},                // İ
    {0x0131, "I"},                // ı
    {0x0132, "IJ"},               // Ĳ
    {0x0133, "IJ"},               // ĳ
    {0x0134, "J"},                // Ĵ
    {0x0135, "J"},                // ĵ
    {0x0136, "K"},                // Ķ
    {0x0137, "K"},                // ķ
    {0x0139, "L"},                // Ĺ
    {0x013A, "L"},                // ĺ
    {0x013B, "L"},                // Ļ
    {0x013C, "L"},                // ļ
    {0x013D, "L"},                // Ľ
    {0x013E, "L"},                // ľ
    {0x013F, "L"},                // Ŀ
    {0x0140, "L"},                // ŀ
    {0x0141, "L"},                // Ł
    {0x0142, "L"},                // ł
    {0x0143, "N"},                // Ń
    {0x0144, "N"},                // ń
    {0x0145, "N"},                // Ņ
    {0x0146, "N"},                // ņ
    {0x0147, "N"},                // Ň
    {0x0148, "N"},                // ň
    {0x014C, "O"},                // Ō
    {0x014D, "O"},                // ō
    {0x014E, "O"},                // Ŏ
    {0x014F, "O"},                // ŏ
    {0x0150, "O"},                // Ő
    {0x0151, "O"},                // ő
    {0x0152, "OE"},               // Œ
    {0x0153, "OE"},               // œ
    {0x0154, "R"},                // Ŕ
    {0x0155, "R"},                // ŕ
    {0x0156, "R"},                // Ŗ
    {0x0157, "R"},                // ŗ
    {0x0158, "R"},                // Ř
    {0x0159, "R"},                // ř
    {0x015A, "S"},                // Ś
    {0x015B, "S"},                // ś
    {0x015C, "S"},                // Ŝ
    {0x015D, "S"},                // ŝ
    {0x015E, "S"},                // Ş
    {0x015F, "S"},                // ş
    {0x0160, "S"},                // Š
    {0x0161, "S"},                // š
    {0x0162, "T"},                // Ţ
    {0x0163, "T"},                // ţ
    {0x0164, "T"},                // Ť
    {0x0165, "T"},                // ť
    {0x0166, "T"},                // Ŧ
    {0x0167, "T"},                // ŧ
    {0x0168, "U"},                // Ũ
    {0x0169, "U"},                // ũ
    {0x016A, "U"},                // Ū
    {0x016B, "U"},                // ū
    {0x016C, "U"},                // Ŭ
    {0x016D, "U"},                // ŭ
    {0x016E, "U"},                // Ů
    {0x016F, "U"},                // ů
    {0x0170, "U"},                // Ű
    {0x0171, "U"},                // ű
    {0x0172, "U"},                // Ų
    {0x0173, "U"},                // ų
    {0x0174, "W"},                // Ŵ
    {0x0175, "W"},                // ŵ
    {0x0176, "Y"},                // Ŷ
    {0x0177, "Y"},                // ŷ
    {0x0178, "Y"},                // Ÿ
    {0x0179, "Z"},                // Ź
    {0x017A, "Z"},                // ź
    {0x017B, "Z"},                // Ż
    {0x017C, "Z"},                // ż
    {0x017D, "Z"},                // Ž
    {0x017E, "Z"},                // ž
    {0x0218, "S"},                // Ș
    {0x0219, "S"},                // ș
    {0x021A, "T"},                // Ț
    {0x021B, "T"},                // ț
    {0x02BC, ""},                 // ʼ
    {0x2000, " "},                // en quad
    {0x2001, " "},                // em quad
    {0x2002, " "},                // en space
    {0x2003, " "},                // em space
    {0x2004, " "},                // three-per-em space
    {0x2005, " "},                // four-per-em space
    {0x2006, " "},                // six-per-em space
    {0x2007, " "},                // figure space
    {0x2008, " "},                // punctuation space
    {0x2009, " "},                // thin space
    {0x200A, " "},                // hair space
    {0x200B, ""},                 // zero width space
    {0x200C, ""},                 // zero width non-joiner
    {0x200D, ""},                 // zero width joiner
    {0x200E, ""},                 // left-to-right mark
    {0x200F, ""},                 // right-to-left mark
    {0x2010, "-"},                // ‐
    {0x2011, "-"},                // ‑
    {0x2012, "-"},                // ‒
    {0x2013, "-"},                // –
    {0x2014, "-"},                // —
    {0x2015, "-"},                // ―
    {0x2018, ""},                 // ‘
    {0x2019, ""},                 // ’
    {0x201A, ""},                 // ‚
    {0x201B, ""},                 // ‛
    {0x201C, "\""},               // “
    {0x201D, "\""},               // ”
    {0x201E, "\""},               // „
    {0x201F, "\""},               // ‟
    {0x2022, "-"},                // •
    {0x2026, "..."},              // …
    {0x202F, " "},                // narrow no-break space
    {0x2030, "PROMILLE", true},   // ‰
    {0x2039, "\""},               // ‹
    {0x203A, "\""},               // ›
    {0x205F, " "},                // medium mathematical space
    {0x2060, ""},                 // word joiner
    {0x20AC, "EUR", true},        // €
    {0x2122, "(TM)"},             // ™
    {0x2212, "-"},                // −
    {0x2248, "CA", true},         // ≈
    {0x3000, " "},                // ideographic space
    {0xFEFF, ""},                 // zero width no-break space
};

constexpr bool SortedByCodePoint() {
  for (std::size_t i = 1; i < std::size(kTransliterations); ++i) {
    if (kTransliterations[i - 1].CodePoint >= kTransliterations[i].CodePoint) return false;
  }
  return true;
}
static_assert(SortedByCodePoint());

const TableEntry* FindTransliteration(char32_t cp) {
  const TableEntry* end = std::end(kTransliterations);
  const TableEntry* at = std::lower_bound(
      std::begin(kTransliterations), end, cp,
      [](const TableEntry& entry, char32_t value) { return entry.CodePoint < value; });
  return at != end && at->CodePoint == cp ? at : nullptr;
}

// A letter or a figure: what an "apart" form keeps a blank from.
bool IsWordChar(char32_t cp) {
  if (cp < 128) return (cp >= '0' && cp <= '9') || IsLetter(static_cast<std::uint8_t>(cp));
  return (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7) || cp == 0x1E9E;
}

// Writes one character of the notation of the given kind (`piece`: the
// character, or what stands for it), with the shift it needs before it.
void Put(Kind kind, std::string_view piece, EncodeState& state, std::string& out) {
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
  for (char c : piece) to += static_cast<char>(ToUpper(static_cast<std::uint8_t>(c)));
  auto first = static_cast<std::uint8_t>(piece.front());
  state.AfterWordChar = IsLetter(first) || (first >= '0' && first <= '9');
}

// Writes a form of the table, or a replacement: characters that all have a
// teleprinter form.
void PutForm(std::string_view form, EncodeState& state, std::string& out) {
  for (std::size_t i = 0; i < form.size(); ++i) {
    Put(AsciiKind(form[i]), form.substr(i, 1), state, out);
  }
}

}  // namespace

std::span<const Transliteration> TransliterationTable() {
  // The public view of the table, without the spacing marks.
  static const std::vector<Transliteration> table = [] {
    std::vector<Transliteration> entries;
    for (const TableEntry& entry : kTransliterations) {
      entries.push_back({entry.CodePoint, entry.Form});
    }
    return entries;
  }();
  return table;
}

std::optional<std::string_view> TransliterationOf(char32_t codePoint) {
  const TableEntry* entry = FindTransliteration(codePoint);
  if (entry == nullptr) return std::nullopt;
  return entry->Form;
}

bool IsReplacementChar(char c) {
  return AsciiKind(c) != Kind::None;
}

bool EncodeText(std::string_view text, const EncodeOptions& options, EncodeState& state,
                std::string& out) {
  const std::int64_t problemsBefore = state.ProblemCount;
  std::int64_t line = 1;
  std::int64_t column = 0;
  auto record = [&](std::string_view bytes, const Decoded& d) {
    ++state.ProblemCount;
    if (state.Problems.size() >= kListedProblems) return;
    state.Problems.push_back(
        {state.Input, line, column, std::string(bytes), d.Valid, d.Valid ? d.CodePoint : 0});
  };
  std::size_t i = 0;
  // A byte order mark at the start says only that the text is UTF-8.
  if (text.starts_with("\xEF\xBB\xBF")) i = 3;
  while (i < text.size()) {
    Decoded d = DecodeUtf8(text.substr(i));
    ++column;
    if (!d.Valid && !options.Replacement) {
      // Not UTF-8: the rest cannot be told apart into characters.
      record(text.substr(i, 1), d);
      return false;
    }
    Kind kind = Kind::None;
    std::string_view piece;
    bool lineEnd = false;
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
          kind = AsciiKind(text[i]);
          piece = text.substr(i, 1);
        }
        for (const SpeltLetter& letter : kSpeltLetters) {
          if (d.CodePoint == letter.CodePoint) kind = Kind::Letter, piece = letter.Spelt;
        }
        break;
    }
    const TableEntry* entry = nullptr;
    if (kind == Kind::None && d.Valid && options.Transliterate) {
      entry = FindTransliteration(d.CodePoint);
    }
    if (kind != Kind::None) {
      Put(kind, piece, state, out);
    } else if (entry != nullptr) {
      if (entry->Apart && state.AfterWordChar) Put(Kind::Neutral, " ", state, out);
      if (!entry->Form.empty()) PutForm(entry->Form, state, out);
      if (entry->Apart && i + d.Length < text.size() &&
          IsWordChar(DecodeUtf8(text.substr(i + d.Length)).CodePoint)) {
        Put(Kind::Neutral, " ", state, out);
      }
    } else if (options.Replacement) {
      ++state.Replaced;
      PutForm(std::string_view(&*options.Replacement, 1), state, out);
    } else {
      record(text.substr(i, d.Length), d);
    }
    i += d.Length;
    if (lineEnd) {
      ++line;
      column = 0;
    }
  }
  return state.ProblemCount == problemsBefore;
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
    return std::string(buffer) +
           ": the file is not UTF-8 text; if it is Latin-1, convert it (iconv -f latin1) or "
           "read it with --from latin1";
  }
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(problem.CodePoint));
  std::string text = buffer;
  char32_t cp = problem.CodePoint;
  // Control characters, spaces other than the blank and characters that
  // show nothing are told by their code alone.
  bool printable = cp > 0x20 && cp != 0x7F && !(cp >= 0x80 && cp <= 0xA0) && cp != 0xAD &&
                   !(cp >= 0x2000 && cp <= 0x200F) && !(cp >= 0x2028 && cp <= 0x202F) &&
                   !(cp >= 0x205F && cp <= 0x206F) && cp != 0x3000 && cp != 0xFEFF;
  if (printable) text += " '" + problem.Bytes + "'";
  text += " has no teleprinter form";
  std::string remarks;
  if (cp == U'\r') remarks = "a carriage return without a line feed";
  if (cp == U'#' || cp == U'%' || cp == U'<' || cp == U'*') {
    remarks = "it is a control character of the notation";
  }
  if (const TableEntry* entry = FindTransliteration(cp)) {
    if (!remarks.empty()) remarks += "; ";
    remarks += entry->Form.empty() ? "--translit drops it"
                                   : "--translit: '" + std::string(entry->Form) + "'";
  }
  if (!remarks.empty()) text += " (" + remarks + ")";
  return text;
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
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
