#include "keyfile/key_file.h"

#include "alphabet/teleprinter.h"
#include "generator/key_loading.h"
#include "keyfile/keyword_search.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// Reads one key part and records what was found of it; the part is then
// `count` characters, padded with spaces when the file ended first.
KeyPartFinding ReadPart(KeyPart& part, std::string_view fileName, std::string_view keyword,
                        const CharSet& allowed, std::int32_t count, RunState& state) {
  state.KeyReopenError = 0;
  KeyPartStatus status = ReadKeyPart(part, fileName, keyword, allowed, count, state);
  KeyPartFinding finding;
  switch (status) {
    case KeyPartStatus::Read:
      finding.End = state.TextPosition;
      break;
    case KeyPartStatus::Missing:
      finding.Fault = state.KeyReopenError != 0 ? KeyFault::NotReopened : KeyFault::NotFound;
      finding.Code = state.KeyReopenError;
      break;
    case KeyPartStatus::Short:
      finding.Fault = KeyFault::EndsInside;
      finding.CharsRead = static_cast<std::int32_t>(part.size());
      break;
  }
  part.resize(static_cast<std::size_t>(count), ' ');
  return finding;
}

}  // namespace

void ReadKeyFile(RunState& state) {
  KeyPart part;

  state.StructureKeyFinding = ReadPart(part, state.Params.KeyFileName, kStructureKeyword,
                                       BinaryDigits, kStructureKeyLength, state);
  for (int i = 0; i < kStructureKeyLength; ++i) state.StructureKeyText[i] = part[i];

  state.BasicKeyFinding =
      ReadPart(part, state.Params.KeyFileName, kBasicKeyword, Letters, kBasicKeyLength, state);
  state.BasicKey = part;

  const std::string& sourceName =
      state.Mode == 'D' ? state.Params.CipherTextName : state.Params.PlainTextName;
  state.MessageKeyFinding =
      ReadPart(part, sourceName, kMessageKeyMarker, Letters, 3 * kMessageKeyGroups, state);
  state.MessageKeyText = part;
  state.MessageKey.clear();
  for (int g = 0; g < kMessageKeyGroups; ++g) {
    char a = part[3 * g], b = part[3 * g + 1], c = part[3 * g + 2];
    if (a == b && b == c) state.MessageKey.push_back(a);
  }

  state.KeysValid = state.StructureKeyText[0] != ' ' && state.BasicKey[0] != ' ' &&
                    state.MessageKey.size() == kMessageKeyGroups;

  KeyFault& basicFault = state.BasicKeyFinding.Fault;
  for (char c : state.BasicKey) {
    if (basicFault == KeyFault::None && !IsLetter(static_cast<std::uint8_t>(c))) {
      basicFault = KeyFault::NotALetter;
    }
  }
  // A well-formed group repeats its first character, which the letter filter
  // took: a message key read whole with ten such groups is ten letters.
  KeyFault& messageFault = state.MessageKeyFinding.Fault;
  if (messageFault == KeyFault::None && state.MessageKey.size() != kMessageKeyGroups) {
    messageFault = KeyFault::UnequalGroup;
  }
  KeyFault& structureFault = state.StructureKeyFinding.Fault;
  if (structureFault == KeyFault::None && basicFault == KeyFault::None &&
      messageFault == KeyFault::None) {
    ExpandedKey basicBits{}, messageBits{};
    StructureMatrix matrix{};
    ExpandKeys(basicBits, messageBits, state.BasicKey, state.MessageKey);
    if (!BuildStructureMatrix(matrix, state.StructureKeyText, basicBits, messageBits)) {
      structureFault = KeyFault::NoMatrix;
    }
  }
  state.StructureKeyRefused = structureFault != KeyFault::None;
  state.BasicKeyRefused = basicFault != KeyFault::None;
  state.MessageKeyRefused = messageFault != KeyFault::None;
}

}  // namespace quarvel
