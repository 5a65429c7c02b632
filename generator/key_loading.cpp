#include "generator/key_loading.h"

#include "alphabet/teleprinter.h"

namespace quarvel {

LetterBits ExpandLetter(char letter) {
  std::uint8_t byte = ToUpper(static_cast<std::uint8_t>(letter));
  std::uint8_t value = 0;
  if (IsCapital(byte)) {
    std::uint8_t code = LetterCodes[byte - 'A'];
    value = static_cast<std::uint8_t>(((code << 3) ^ code) & 0xFF);
  }
  LetterBits bits{};
  for (int j = 0; j < 8; ++j) bits[j] = static_cast<std::uint8_t>((value >> (7 - j)) & 1);
  return bits;
}

namespace {

void PutGroup(ExpandedKey& key, int group, std::string_view text, std::size_t letter) {
  char c = letter < text.size() ? text[letter] : ' ';
  LetterBits bits = ExpandLetter(c);
  for (int j = 0; j < 8; ++j) key[group * 8 + j] = bits[j];
}

}  // namespace

void ExpandKeys(ExpandedKey& basicKeyBits, ExpandedKey& messageKeyBits, std::string_view basicKey,
                std::string_view messageKey) {
  for (int g = 0; g < 10; ++g) {
    PutGroup(basicKeyBits, g, basicKey, g);
    PutGroup(messageKeyBits, g, messageKey, g);
  }
  for (int g = 10; g < 16; ++g) {
    PutGroup(basicKeyBits, g, basicKey, g - 9);       // letters 2 to 7
    PutGroup(messageKeyBits, g, messageKey, g - 10);  // letters 1 to 6
  }
}

void LoadRegisters(RegisterBank& registers, const ExpandedKey& basicKeyBits,
                   const ExpandedKey& messageKeyBits) {
  struct Span {
    int FirstStage, LastStage, BasicGroup, MessageGroup;
  };
  static constexpr Span kSpans[] = {
      {1, 10, 0, 0}, {11, 16, 10, 0}, {17, 20, 0, 6}, {21, 26, 4, 0}, {27, 30, 1, 6}};
  registers.Stages[0] = 0xFF;
  for (const Span& span : kSpans) {
    for (int s = span.FirstStage; s <= span.LastStage; ++s) {
      int a = span.BasicGroup + (s - span.FirstStage);
      int b = span.MessageGroup + (s - span.FirstStage);
      std::uint8_t stage = 0;
      for (int m = 0; m < 8; ++m) {
        stage |=
            static_cast<std::uint8_t>((basicKeyBits[8 * a + m] ^ messageKeyBits[8 * b + m]) << m);
      }
      registers.Stages[s] = stage;
    }
  }
}

namespace {

int BuildOnce(StructureMatrix& matrix, const StructureKeyChars& copy, const ExpandedKey& basic,
              const ExpandedKey& message) {
  int weight = 0;
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 16; ++c) {
      int digit = static_cast<std::uint8_t>(copy[16 * r + c]) - 48;
      int bit = (digit ^ basic[8 * c + 7 - r] ^ message[8 * c + 7 - r]) & 1;
      matrix[16 * r + c] = static_cast<std::uint8_t>(bit);
      weight += bit;
    }
  }
  return weight;
}

// Shifts every row one place toward its start; the last character stays.
// Returns false when nothing changed.
bool ShiftRows(StructureKeyChars& copy) {
  bool changed = false;
  for (int r = 0; r < 8; ++r) {
    for (int k = 1; k < 16; ++k) {
      char& to = copy[16 * r + k - 1];
      if (to != copy[16 * r + k]) changed = true;
      to = copy[16 * r + k];
    }
  }
  return changed;
}

}  // namespace

bool BuildStructureMatrix(StructureMatrix& keyMatrix, const StructureKeyChars& structureKeyText,
                          const ExpandedKey& basicKeyBits, const ExpandedKey& messageKeyBits) {
  StructureKeyChars copy = structureKeyText;
  for (;;) {
    int weight = BuildOnce(keyMatrix, copy, basicKeyBits, messageKeyBits);
    if (weight >= kMinMatrixWeight && weight <= kMaxMatrixWeight) {
      if (weight % 2 == 0) keyMatrix[0] ^= 1;
      return true;
    }
    if (!ShiftRows(copy)) return false;
  }
}

}  // namespace quarvel
