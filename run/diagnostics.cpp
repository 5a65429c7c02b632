#include "run/diagnostics.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "alphabet/teleprinter.h"
#include "coding/encipher.h"
#include "generator/key_loading.h"
#include "io/byte_file.h"
#include "io/io_error.h"
#include "io/retry.h"
#include "isa/isa.h"
#include "keyfile/key_file.h"
#include "keyfile/key_reasons.h"
#include "keyfile/keyword_search.h"
#include "state/role_words.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// At most this much of a key file is searched for a second keyword.
constexpr std::int64_t kKeywordSearchLimit = std::int64_t{16} << 20;

void AddLine(RunState& state, const std::string& line) {
  state.Notes += line;
  state.Notes += '\n';
}

// Line and column (from 1) of the byte at `offset`; the column counts bytes.
// No line feed may stand between `clearFrom` and `offset`: only the bytes
// before `clearFrom` are read.
struct TextPlace {
  std::int64_t Line = 1;
  std::int64_t Column = 1;
};

TextPlace PlaceOf(ByteFile& file, std::int64_t offset, std::int64_t clearFrom) {
  TextPlace place;
  std::int64_t lineStart = 0;
  if (clearFrom > 0) {
    ForEachBlock(file, 0, [&](std::int64_t at, const std::uint8_t* data, std::size_t count) {
      std::size_t n = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(count), clearFrom - at));
      for (std::size_t i = 0; i < n; ++i) {
        if (data[i] == '\n') {
          ++place.Line;
          lineStart = at + static_cast<std::int64_t>(i) + 1;
        }
      }
      return at + static_cast<std::int64_t>(count) < clearFrom;
    });
  }
  place.Column = offset - lineStart + 1;
  return place;
}

std::string PlaceText(ByteFile& file, std::int64_t offset, std::int64_t clearFrom) {
  TextPlace place = PlaceOf(file, offset, clearFrom);
  return "line " + std::to_string(place.Line) + ", column " + std::to_string(place.Column) +
         ", offset " + std::to_string(offset);
}

// Up to `size` bytes at `offset`; returns how many.
std::size_t BytesAt(ByteFile& file, std::int64_t offset, std::uint8_t* out, std::size_t size) {
  file.Seek(offset);
  return file.ReadBlock(out, size);
}

// The offsets of the first bytes of up to `wanted` occurrences of a keyword,
// matched as the key reader matches it, within the first `limit` bytes.
int FindOccurrences(ByteFile& file, std::string_view keyword, std::int64_t limit,
                    std::int64_t* found, int wanted) {
  int count = 0;
  KeywordMatcher matcher{keyword};
  ForEachBlock(file, 0, [&](std::int64_t at, const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (matcher.Step(data[i])) {
        found[count++] =
            at + static_cast<std::int64_t>(i) + 1 - static_cast<std::int64_t>(keyword.size());
        if (count == wanted) return false;
      }
    }
    return at + static_cast<std::int64_t>(n) < limit;
  });
  return count;
}

// One key part of the run, where the diagnostics look at it.
struct PartDescription {
  KeyItem Item;
  std::string_view FileName;
  ByteFile* File;
  const KeyPartFinding* Finding;
  std::string_view Text;  // what was read of it
};

// The warnings on a part that was read whole.
void NoteDamage(RunState& state, const PartDescription& description) {
  const KeyPartFinding& finding = *description.Finding;
  if (finding.End < 0) return;
  const KeyItemInfo& part = InfoOf(description.Item);
  const std::string head = std::string("warning: ") + part.Name + ": ";
  const std::string file = FileText(part.Role, description.FileName);
  // A part that is refused for its own characters is not said to be longer.
  const bool taken = finding.Fault == KeyFault::None || finding.Fault == KeyFault::NoMatrix;
  std::uint8_t next = 0;
  if (taken && BytesAt(*description.File, finding.End, &next, 1) == 1 &&
      part.Allowed->Contains(next)) {
    AddLine(state, head + "a " + (part.Allowed == &BinaryDigits ? "binary digit" : "letter") +
                       " directly follows the " + Ordinal(part.Count) + " character (offset " +
                       std::to_string(finding.End) + " of " + file +
                       "): the key may be longer than " + std::to_string(part.Count) + " " +
                       part.Units + "; only the first " + std::to_string(part.Count) +
                       " are taken");
  }
  if (part.Keyword != kMessageKeyMarker) {
    std::int64_t found[2];
    if (FindOccurrences(*description.File, part.Keyword, kKeywordSearchLimit, found, 2) == 2) {
      AddLine(state, head + "keyword " + std::string(part.Keyword) + " occurs more than once in " +
                         file + " (at offsets " + std::to_string(found[0]) + " and " +
                         std::to_string(found[1]) + "); the first counts");
    }
  }
}

// The place of the byte without a code and a hint, or the note on line
// bytes.
void NoteTextBytes(RunState& state) {
  ByteFile& source = state.SourceFile;
  const std::string file = FileText(kSourceRole, source.Name());
  if (state.UncodedOffset >= 0) {
    const std::int64_t offset = state.UncodedOffset;
    std::uint8_t bytes[2] = {0, 0};
    std::size_t got = BytesAt(source, offset, bytes, 2);
    AddLine(state, file + ", " + PlaceText(source, offset, offset) + ": byte " +
                       ByteText(bytes[0]) + " has no teleprinter code");
    // Umlauts and sharp s, in UTF-8 and in Latin-1.
    struct Umlaut {
      std::uint8_t Utf8Second;  // after 0xC3
      std::uint8_t Latin1;
      const char* Letter;
      const char* Spelling;
    };
    constexpr Umlaut kUmlauts[] = {
        {0x84, 0xC4, "\xC3\x84", "AE"}, {0x96, 0xD6, "\xC3\x96", "OE"},
        {0x9C, 0xDC, "\xC3\x9C", "UE"}, {0xA4, 0xE4, "\xC3\xA4", "AE"},
        {0xB6, 0xF6, "\xC3\xB6", "OE"}, {0xBC, 0xFC, "\xC3\xBC", "UE"},
        {0x9F, 0xDF, "\xC3\x9F", "SS"},
    };
    const bool continued = got == 2 && (bytes[1] & 0xC0) == 0x80;
    for (const Umlaut& u : kUmlauts) {
      if (bytes[0] == 0xC3 && continued && bytes[1] == u.Utf8Second) {
        AddLine(state, "the bytes C3 " + Hex(bytes[1]).substr(2) + " are the UTF-8 letter '" +
                           u.Letter + "': write " + u.Spelling +
                           " for it (AE, OE, UE and SS for umlauts and sharp s)");
      } else if (bytes[0] == u.Latin1 && !continued) {
        AddLine(state, "the byte " + Hex(bytes[0]).substr(2) + " is the Latin-1 letter '" +
                           u.Letter + "': write " + u.Spelling +
                           " for it (AE, OE, UE and SS for umlauts and sharp s)");
      }
    }
    AddLine(state,
            "a plain text holds the letters A to Z in either case, the figures 0 to 9, the signs "
            "- ? : ( ) . , \" = / + @, the characters | < * # % and the space, and bytes below "
            "32; nothing is enciphered or written");
    return;
  }
  if (state.LineByteOffset >= 0) {
    // No line byte stands between the header and the first one.
    AddLine(state, "note: " + file +
                       " holds line-feed, carriage-return or tab bytes, the first at " +
                       PlaceText(source, state.LineByteOffset, state.TextPosition + 1) +
                       "; they are enciphered as the letters R, P and L; the notation for line "
                       "feed, carriage return and blank is '*', '<' and '|'");
  }
}

// Runs `note`; a file that cannot be read again there only leaves the note
// out.
template <typename Note>
void UnlessUnreadable(Note note) {
  try {
    note();
  } catch (const IoError&) {
  }
}

}  // namespace

const char* ProgramName(Program program) {
  return program == Program::QuarvelKeys ? "quarvel_keys" : "quarvel";
}

void NoteFileError(RunState& state, std::string_view role, const ByteFile& file, int code,
                   bool newFile, bool written, std::string_view sameAsRole) {
  const std::string head = FileText(role, file.Name()) + ": ";
  if (file.Name().empty() && written && !newFile) {
    // An existing file that the run writes (the additive series of mode D)
    // has no console to stand for it.
    AddLine(state, std::string(role) + ": no name given; it must name an existing file");
    return;
  }
  switch (code) {
    case EEXIST:
      AddLine(state, head + "is the same file as " + std::string(sameAsRole));
      return;
    case ESPIPE:
      AddLine(state, head + "is a pipe or device; give an empty name to read standard input");
      return;
    case EISDIR:
      AddLine(state, head + "is a directory");
      return;
    default:
      break;
  }
  struct stat st {};
  const bool exists = ::stat(file.Name().c_str(), &st) == 0;
  if (code == EACCES && exists) {
    // A file the run writes is opened for writing only, an input for reading
    // only.
    if (written) {
      if (IsWriteProtected(st) || ::access(file.Name().c_str(), W_OK) != 0) {
        AddLine(state, head + "has no write permission");
        return;
      }
    } else if (::access(file.Name().c_str(), R_OK) != 0) {
      AddLine(state, head + "has no read permission");
      return;
    }
  }
  AddLine(state, head + (newFile && !exists ? "cannot be created: " : "") + SystemReason(code));
}

void NoteKey(RunState& state) {
  const std::string& sourceName = state.SourceFile.Name();
  const std::string_view structureText(state.StructureKeyText.data(),
                                       state.StructureKeyText.size());
  const PartDescription parts[] = {
      {KeyItem::Structure, state.Params.KeyFileName, &state.KeyFile, &state.StructureKeyFinding,
       structureText},
      {KeyItem::Basic, state.Params.KeyFileName, &state.KeyFile, &state.BasicKeyFinding,
       state.BasicKey},
      {KeyItem::Message, sourceName, &state.SourceFile, &state.MessageKeyFinding,
       state.MessageKeyText},
  };
  for (const PartDescription& part : parts) {
    state.Notes += RefusalLines(part.Item, *part.Finding, part.Text, part.FileName);
  }

  const KeyPartFinding& structure = state.StructureKeyFinding;
  if (structure.End >= 0) {
    auto last = static_cast<std::uint8_t>(state.StructureKeyText[kStructureKeyLength - 1]);
    if (!BinaryDigits.Contains(last)) {
      AddLine(state, "warning: Strukturschluessel: the " + Ordinal(kStructureKeyLength) +
                         " character is " + ByteText(last) +
                         ", not a binary digit; it is taken as it stands (its lowest bit counts)");
    }
  }
  // The further checks read the files again.
  UnlessUnreadable([&] {
    for (const PartDescription& part : parts) NoteDamage(state, part);
    const KeyPartFinding& message = state.MessageKeyFinding;
    if (state.Mode == 'C' && message.End >= 0) {
      std::int64_t marker = 0;
      if (FindOccurrences(state.SourceFile, kMessageKeyMarker, message.End, &marker, 1) == 1 &&
          marker > 0) {
        AddLine(state, "warning: " + FileText(kSourceRole, sourceName) + ": " +
                           std::to_string(marker) + " bytes stand before the marker " +
                           std::string(kMessageKeyMarker) +
                           "; they belong to the header and are copied to the cipher text in "
                           "the clear");
      }
    }
  });
}

void NotePlainText(RunState& state) {
  UnlessUnreadable([&] { NoteTextBytes(state); });
}

void NoteDecipherStop(RunState& state) {
  ByteFile& source = state.SourceFile;
  UnlessUnreadable([&] {
    const std::int64_t header = state.TextPosition;
    const std::int64_t from = std::max(state.TextLimit, header) + 1;
    // What follows the text limit: the filling "Y" letters and separators, or
    // more. The size of the rest is counted on the way, and the letters in it
    // that stand in words of one case and at most five letters, as groups or
    // their parts do.
    std::int64_t firstLeft = -1, end = from, groupLetters = 0, smallLeft = 0;
    std::int64_t word = 0, wordSmall = 0;
    auto endWord = [&] {
      if (word <= kLettersPerGroup && (wordSmall == 0 || wordSmall == word)) groupLetters += word;
      word = wordSmall = 0;
    };
    ForEachBlock(source, from, [&](std::int64_t at, const std::uint8_t* data, std::size_t count) {
      for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = data[i];
        if (IsLetter(b)) {
          ++word;
          wordSmall += IsCapital(b) ? 0 : 1;
          smallLeft += IsCapital(b) ? 0 : 1;
        } else {
          endWord();
        }
        if (firstLeft < 0 && b != 'Y' && b != ' ' && b != '\r' && b != '\n' && b != '\t') {
          firstLeft = at + static_cast<std::int64_t>(i);
        }
      }
      end = at + static_cast<std::int64_t>(count);
      return true;
    });
    endWord();
    if (firstLeft < 0) return;

    // Why the scan for the groups of capitals ended: a byte other than a
    // capital inside a group, or the end of the file inside a group, or only
    // other bytes after the last complete group.
    int inGroup = 0;
    std::int64_t breaker = -1;
    std::uint8_t breakByte = 0;
    ForEachBlock(source, header + 1,
                 [&](std::int64_t at, const std::uint8_t* data, std::size_t count) {
                   for (std::size_t i = 0; i < count; ++i) {
                     if (IsCapital(data[i])) {
                       inGroup = (inGroup + 1) % kLettersPerGroup;
                     } else if (inGroup != 0) {
                       breaker = at + static_cast<std::int64_t>(i);
                       breakByte = data[i];
                       return false;
                     }
                   }
                   return true;
                 });
    std::string why;
    // Letters that a line break, a blank, quoting or lower case keeps out of
    // the groups: such damage from the mail can be undone.
    bool regroupable = false;
    if (breaker >= 0) {
      why = (breakByte >= 'a' && breakByte <= 'z' ? "a lower-case letter " : "a byte ") +
            ByteText(breakByte) + " inside a group at " + PlaceText(source, breaker, breaker);
      regroupable = groupLetters >= kLettersPerGroup &&
                    (IsLetter(breakByte) || breakByte == '\r' || breakByte == '\n' ||
                     breakByte == ' ' || breakByte == '\t' || breakByte == '>');
    } else if (inGroup != 0) {
      why = "the last group is incomplete: it holds " + std::to_string(inGroup) + " of 5 letters";
    } else {
      std::uint8_t b = 0;
      BytesAt(source, firstLeft, &b, 1);
      why = std::string(b >= 'a' && b <= 'z' ? "lower-case letters" : "bytes other than capitals") +
            " where groups of capitals should stand, the first " + ByteText(b) + " at " +
            PlaceText(source, firstLeft, firstLeft);
      regroupable = smallLeft > 0 && groupLetters >= kLettersPerGroup;
    }
    if (regroupable) {
      why +=
          "; if the mail re-wrapped or lower-cased the groups, 'quarvel_text regroup' writes "
          "them back in their layout";
    }
    const std::string file = FileText(kSourceRole, source.Name());
    std::string where = state.TextLimit > header
                            ? "the cipher text ends at offset " + std::to_string(state.TextLimit)
                            : "no complete group of five capitals follows the header";
    AddLine(state, "note: " + file + ": " + where + "; the " + std::to_string(end - from) +
                       " bytes after it were left out: " + why);
  });
}

void NoteIsaRequest(RunState& state) {
  const char* request = IsaRequest();
  const IsaAnswer answer = AnswerTo(request, BestIsa());
  if (answer == IsaAnswer::NoRequest || answer == IsaAnswer::Honoured) return;
  const std::string why = answer == IsaAnswer::UnknownName
                              ? "names no tier (portable, avx2, avx512)"
                              : "asks for a tier this processor does not offer";
  AddLine(state, "warning: QUARVEL_ISA=" + Visible(request) + " " + why + "; the " +
                     IsaName(RunIsa()) + " tier runs");
}

void WriteNotes(RunState& state) {
  if (state.Notes.empty()) return;
  state.Con->Flush();
  const std::string prefix = std::string(ProgramName(state.Variant)) + ": ";
  std::string text;
  for (std::size_t start = 0; start < state.Notes.size();) {
    std::size_t end = state.Notes.find('\n', start);
    text += prefix;
    text.append(state.Notes, start, end + 1 - start);
    start = end + 1;
  }
  state.Notes.clear();
  WriteAll(state.Con->ErrFd(), text);
}

void WriteIoErrorDiagnostic(Program program, const IoError& error, int errFd) {
  std::string operation;
  switch (error.Op) {
    case IoOp::Open:
      operation = "opening";
      break;
    case IoOp::Read:
      operation = "reading";
      break;
    case IoOp::Write:
      operation = "writing";
      break;
    case IoOp::Seek:
      operation = "positioning in";
      break;
    case IoOp::Position:
      operation = "querying the position in";
      break;
    case IoOp::Close:
      operation = "closing";
      break;
    case IoOp::Truncate:
      operation = "truncating";
      break;
    case IoOp::ConsoleRead:
      operation = "reading standard input";
      break;
    case IoOp::ConsoleWrite:
      operation = "writing standard output";
      break;
    case IoOp::Allocate:
      operation = "allocating memory";
      break;
  }
  if (error.Op != IoOp::ConsoleRead && error.Op != IoOp::ConsoleWrite &&
      error.Op != IoOp::Allocate) {
    operation += error.File.empty() ? " the console" : " '" + Visible(error.File) + "'";
  }
  WriteAll(errFd, std::string(ProgramName(program)) + ": " + operation + ": " +
                      SystemReason(error.Code) + "\n");
}

}  // namespace quarvel
