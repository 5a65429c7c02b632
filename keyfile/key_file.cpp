#include "keyfile/key_file.h"

#include "alphabet/teleprinter.h"
#include "generator/key_loading.h"
#include "keyfile/keyword_search.h"
#include "state/run_state.h"

namespace quarvel {

void ReadKeyFile(RunState& state) {
  KeyPart part;

  KeyPartStatus structure = ReadKeyPart(part, state.Params.KeyFileName, kStructureKeyword,
                                        BinaryDigits, kStructureKeyLength, state);
  part.resize(kStructureKeyLength, ' ');
  for (int i = 0; i < kStructureKeyLength; ++i) state.StructureKeyText[i] = part[i];

  KeyPartStatus basic =
      ReadKeyPart(part, state.Params.KeyFileName, kBasicKeyword, Letters, kBasicKeyLength, state);
  part.resize(kBasicKeyLength, ' ');
  state.BasicKey = part;

  const std::string& sourceName =
      state.Mode == 'D' ? state.Params.CipherTextName : state.Params.PlainTextName;
  KeyPartStatus message =
      ReadKeyPart(part, sourceName, kMessageKeyMarker, Letters, 3 * kMessageKeyGroups, state);
  part.resize(3 * kMessageKeyGroups, ' ');
  state.MessageKey.clear();
  for (int g = 0; g < kMessageKeyGroups; ++g) {
    char a = part[3 * g], b = part[3 * g + 1], c = part[3 * g + 2];
    if (a == b && b == c) state.MessageKey.push_back(a);
  }

  state.KeysValid = state.StructureKeyText[0] != ' ' && state.BasicKey[0] != ' ' &&
                    state.MessageKey.size() == kMessageKeyGroups;

  state.StructureKeyRefused = structure != KeyPartStatus::Read;
  state.BasicKeyRefused = basic != KeyPartStatus::Read;
  for (char c : state.BasicKey) {
    if (!IsLetter(static_cast<std::uint8_t>(c))) state.BasicKeyRefused = true;
  }
  state.MessageKeyRefused = message != KeyPartStatus::Read;
  // A well-formed group repeats its first character, which the letter filter
  // took: a message key read whole with ten such groups is ten letters.
  if (state.MessageKey.size() != kMessageKeyGroups) state.MessageKeyRefused = true;
  if (!state.StructureKeyRefused && !state.BasicKeyRefused && !state.MessageKeyRefused) {
    ExpandedKey basicBits{}, messageBits{};
    StructureMatrix matrix{};
    ExpandKeys(basicBits, messageBits, state.BasicKey, state.MessageKey);
    if (!BuildStructureMatrix(matrix, state.StructureKeyText, basicBits, messageBits)) {
      state.StructureKeyRefused = true;
    }
  }
}

}  // namespace quarvel
