// The key file and the message-key header: the three key parts of a run.
//
// Key file: "STRUKTURSCHLUESSEL" followed by 128 binary digits and
// "GRUNDSCHLUESSEL" followed by 10 letters, in either order, with any other
// text around them. Message header at the head of a text: "HHHHH" followed by
// ten groups of three equal letters.
//
// The reader only reads: it returns what it found in a KeyReading, and the
// caller reports it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "generator/generator_types.h"
#include "keyfile/keyword_search.h"
#include "state/key_finding.h"
#include "state/role_words.h"

namespace quarvel {

struct RunState;

inline constexpr std::string_view kStructureKeyword = "STRUKTURSCHLUESSEL";
inline constexpr std::string_view kBasicKeyword = "GRUNDSCHLUESSEL";
inline constexpr std::string_view kMessageKeyMarker = "HHHHH";
inline constexpr int kStructureKeyLength = 128;
inline constexpr int kBasicKeyLength = 10;
inline constexpr int kMessageKeyGroups = 10;

// The three key parts, in the order in which they are read.
enum class KeyItem : std::uint8_t { Structure, Basic, Message };
inline constexpr KeyItem kKeyItems[] = {KeyItem::Structure, KeyItem::Basic, KeyItem::Message};

// Where a key part stands and what it is made of.
struct KeyItemInfo {
  const char* Name;  // its name in the key report
  std::string_view Keyword;
  const char* KeywordKind;  // "keyword" or "marker"
  const char* Role;         // role word of the file it stands in
  std::int32_t Count;       // characters of the part
  const char* Units;        // what they are
  const CharSet* Allowed;
};

inline constexpr KeyItemInfo kKeyItemInfo[] = {
    {kStructureKeyName, kStructureKeyword, "keyword", kKeyFileRole, kStructureKeyLength,
     "binary digits", &BinaryDigits},
    {kBasicKeyName, kBasicKeyword, "keyword", kKeyFileRole, kBasicKeyLength, "letters", &Letters},
    {kMessageKeyName, kMessageKeyMarker, "marker", kSourceRole, 3 * kMessageKeyGroups,
     "message-key letters", &Letters},
};

constexpr const KeyItemInfo& InfoOf(KeyItem item) {
  return kKeyItemInfo[static_cast<int>(item)];
}

// What the reader found of a key.
struct KeyReading {
  // The parts as read: a part whose keyword is missing is spaces, one whose
  // file ended inside it is padded with spaces.
  StructureKeyChars StructureKeyText{};
  std::string BasicKey;        // 10 characters
  std::string MessageKeyText;  // the 30 characters behind the marker
  std::string MessageKey;      // the letter of each group of three equal ones
  KeyPartFinding StructureKeyFinding;
  KeyPartFinding BasicKeyFinding;
  KeyPartFinding MessageKeyFinding;
  // The position after the last character of the last part read (in the
  // run, the end of the header); -1 while no part was read.
  std::int64_t TextPosition = -1;

  // The verdicts (JudgeKeyFile, JudgeKey).
  bool KeysValid = false;
  bool StructureKeyRefused = false;
  bool BasicKeyRefused = false;
  bool MessageKeyRefused = false;
};

const KeyPartFinding& FindingOf(const KeyReading& reading, KeyItem item);

// Records in `reading` the part read for `item`.
void TakeKeyPart(KeyReading& reading, KeyItem item, KeyPart& part, const KeyPartRead& read);

// Reads one key part from `file`, opened through `open` (see ReadKeyPart),
// and returns what was found of it. A file that did not open for the search
// is the finding NotReopened, with its error code.
template <typename File, typename Open>
const KeyPartFinding& ReadKeyItem(KeyReading& reading, KeyItem item, File& file, Open&& open) {
  const KeyItemInfo& info = InfoOf(item);
  KeyPart part;
  KeyPartRead read = ReadKeyPart(part, file, open, info.Keyword, *info.Allowed, info.Count);
  TakeKeyPart(reading, item, part, read);
  return FindingOf(reading, item);
}

// The verdicts on the structure key and the basic key, the parts of the key
// file:
// - structure key refused: keyword missing, the file ends inside the key;
// - basic key refused: keyword missing, the file ends inside the key, or one
//   of its 10 characters is not a letter.
void JudgeKeyFile(KeyReading& reading);

// The verdicts on the whole key, after all three parts were read: those of
// JudgeKeyFile, and
// - message key refused: marker missing, the source ends inside the groups,
//   or a group is not three equal letters;
// - structure key refused also when, with the other two parts accepted, its
//   matrix cannot reach its weight window.
void JudgeKey(KeyReading& reading);

// The two parts of a key file held in memory, judged by JudgeKeyFile.
KeyReading ReadKeyFileBytes(std::string_view bytes, std::string_view fileName);

// A whole key from a key file and a source held in memory, judged by
// JudgeKey.
KeyReading ReadKeyBytes(std::string_view keyFileBytes, std::string_view keyFileName,
                        std::string_view sourceBytes, std::string_view sourceName);

// Puts a reading into the fields of the run; TextPosition only when a part
// was read.
void StoreKeyReading(RunState& state, const KeyReading& reading);

}  // namespace quarvel
