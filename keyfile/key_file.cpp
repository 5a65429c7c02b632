#include "keyfile/key_file.h"

#include "alphabet/teleprinter.h"
#include "generator/key_loading.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

constexpr KeyPartFinding KeyReading::*kFindings[] = {
    &KeyReading::StructureKeyFinding, &KeyReading::BasicKeyFinding, &KeyReading::MessageKeyFinding};

KeyPartFinding& FindingOf(KeyReading& reading, KeyItem item) {
  return reading.*kFindings[static_cast<int>(item)];
}

void SetVerdicts(KeyReading& reading) {
  reading.StructureKeyRefused = reading.StructureKeyFinding.Fault != KeyFault::None;
  reading.BasicKeyRefused = reading.BasicKeyFinding.Fault != KeyFault::None;
  reading.MessageKeyRefused = reading.MessageKeyFinding.Fault != KeyFault::None;
}

}  // namespace

const KeyPartFinding& FindingOf(const KeyReading& reading, KeyItem item) {
  return reading.*kFindings[static_cast<int>(item)];
}

void TakeKeyPart(KeyReading& reading, KeyItem item, KeyPart& part, const KeyPartRead& read) {
  const std::int32_t count = InfoOf(item).Count;
  KeyPartFinding finding;
  switch (read.Status) {
    case KeyPartStatus::Read:
      finding.End = read.End;
      break;
    case KeyPartStatus::Missing:
      finding.Fault = read.OpenError != 0 ? KeyFault::NotReopened : KeyFault::NotFound;
      finding.Code = read.OpenError;
      break;
    case KeyPartStatus::Short:
      finding.Fault = KeyFault::EndsInside;
      finding.CharsRead = static_cast<std::int32_t>(part.size());
      break;
  }
  if (read.End >= 0) reading.TextPosition = read.End;
  part.resize(static_cast<std::size_t>(count), ' ');
  FindingOf(reading, item) = finding;

  switch (item) {
    case KeyItem::Structure:
      for (int i = 0; i < kStructureKeyLength; ++i) reading.StructureKeyText[i] = part[i];
      break;
    case KeyItem::Basic:
      reading.BasicKey = part;
      break;
    case KeyItem::Message:
      reading.MessageKeyText = part;
      reading.MessageKey.clear();
      for (int g = 0; g < kMessageKeyGroups; ++g) {
        char a = part[3 * g], b = part[3 * g + 1], c = part[3 * g + 2];
        if (a == b && b == c) reading.MessageKey.push_back(a);
      }
      break;
  }
}

void JudgeKeyFile(KeyReading& reading) {
  KeyFault& basicFault = reading.BasicKeyFinding.Fault;
  for (char c : reading.BasicKey) {
    if (basicFault == KeyFault::None && !IsLetter(static_cast<std::uint8_t>(c))) {
      basicFault = KeyFault::NotALetter;
    }
  }
  SetVerdicts(reading);
}

void JudgeKey(KeyReading& reading) {
  reading.KeysValid = reading.StructureKeyText[0] != ' ' && !reading.BasicKey.empty() &&
                      reading.BasicKey[0] != ' ' && reading.MessageKey.size() == kMessageKeyGroups;
  JudgeKeyFile(reading);
  // A well-formed group repeats its first character, which the letter filter
  // took: a message key read whole with ten such groups is ten letters.
  KeyFault& messageFault = reading.MessageKeyFinding.Fault;
  if (messageFault == KeyFault::None && reading.MessageKey.size() != kMessageKeyGroups) {
    messageFault = KeyFault::UnequalGroup;
  }
  KeyFault& structureFault = reading.StructureKeyFinding.Fault;
  if (structureFault == KeyFault::None && reading.BasicKeyFinding.Fault == KeyFault::None &&
      messageFault == KeyFault::None) {
    ExpandedKey basicBits{}, messageBits{};
    StructureMatrix matrix{};
    ExpandKeys(basicBits, messageBits, reading.BasicKey, reading.MessageKey);
    if (!BuildStructureMatrix(matrix, reading.StructureKeyText, basicBits, messageBits)) {
      structureFault = KeyFault::NoMatrix;
    }
  }
  SetVerdicts(reading);
}

KeyReading ReadKeyFileBytes(std::string_view bytes, std::string_view fileName) {
  KeyReading reading;
  KeyBytes file{bytes, std::string(fileName)};
  ReadKeyItem(reading, KeyItem::Structure, file, OpenKeyBytes);
  ReadKeyItem(reading, KeyItem::Basic, file, OpenKeyBytes);
  JudgeKeyFile(reading);
  return reading;
}

KeyReading ReadKeyBytes(std::string_view keyFileBytes, std::string_view keyFileName,
                        std::string_view sourceBytes, std::string_view sourceName) {
  KeyReading reading;
  KeyBytes keyFile{keyFileBytes, std::string(keyFileName)};
  KeyBytes source{sourceBytes, std::string(sourceName)};
  ReadKeyItem(reading, KeyItem::Structure, keyFile, OpenKeyBytes);
  ReadKeyItem(reading, KeyItem::Basic, keyFile, OpenKeyBytes);
  ReadKeyItem(reading, KeyItem::Message, source, OpenKeyBytes);
  JudgeKey(reading);
  return reading;
}

void StoreKeyReading(RunState& state, const KeyReading& reading) {
  state.StructureKeyText = reading.StructureKeyText;
  state.BasicKey = reading.BasicKey;
  state.MessageKeyText = reading.MessageKeyText;
  state.MessageKey = reading.MessageKey;
  state.StructureKeyFinding = reading.StructureKeyFinding;
  state.BasicKeyFinding = reading.BasicKeyFinding;
  state.MessageKeyFinding = reading.MessageKeyFinding;
  if (reading.TextPosition >= 0) state.TextPosition = reading.TextPosition;
  state.KeysValid = reading.KeysValid;
  state.StructureKeyRefused = reading.StructureKeyRefused;
  state.BasicKeyRefused = reading.BasicKeyRefused;
  state.MessageKeyRefused = reading.MessageKeyRefused;
}

}  // namespace quarvel
