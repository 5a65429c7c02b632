// Key loading: letter expansion, expanded keys, register loading and the
// structure matrix with its weight window and parity rule.
#include "generator/key_loading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(ExpandLetter, WorkedExamples) {
  // V = ((c << 3) XOR c) AND 255 of the letter's code c.
  struct Case {
    char Letter;
    LetterBits Expected;
  };
  const Case cases[] = {
      {'A', {1, 1, 0, 1, 1, 0, 0, 0}},  // c = 24, 0xD8
      {'T', {0, 0, 0, 0, 1, 0, 0, 1}},  // c = 1, 0x09
      {'Q', {1, 1, 1, 1, 0, 1, 0, 1}},  // c = 29, 0xF5
      {'E', {1, 0, 0, 1, 0, 0, 0, 0}},  // c = 16, 0x90
      {'B', {1, 0, 0, 0, 1, 0, 1, 1}},  // c = 19, 0x8B
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandLetter(c.Letter), c.Expected) << c.Letter;
}

TEST(ExpandLetter, LowerCaseLoadsAsUpperCase) {
  for (char c = 'a'; c <= 'z'; ++c) {
    EXPECT_EQ(ExpandLetter(c), ExpandLetter(static_cast<char>(c - 'a' + 'A'))) << c;
  }
}

std::vector<std::uint8_t> Group(const ExpandedKey& key, int g) {
  return std::vector<std::uint8_t>(key.begin() + 8 * g, key.begin() + 8 * g + 8);
}

std::vector<std::uint8_t> Letter(char c) {
  LetterBits bits = ExpandLetter(c);
  return std::vector<std::uint8_t>(bits.begin(), bits.end());
}

TEST(ExpandKeys, GroupLayout) {
  ExpandedKey basic{}, message{};
  const std::string basicKey = "ABCDEFGHIJ";
  const std::string messageKey = "KLMNOPQRST";
  ExpandKeys(basic, message, basicKey, messageKey);
  for (int g = 0; g < 10; ++g) {
    EXPECT_EQ(Group(basic, g), Letter(basicKey[g])) << "basic group " << g;
    EXPECT_EQ(Group(message, g), Letter(messageKey[g])) << "message group " << g;
  }
  // Groups 10 to 15: letters 2 to 7 of the basic key, 1 to 6 of the message
  // key.
  for (int g = 10; g < 16; ++g) {
    EXPECT_EQ(Group(basic, g), Letter(basicKey[g - 9])) << "basic group " << g;
    EXPECT_EQ(Group(message, g), Letter(messageKey[g - 10])) << "message group " << g;
  }
}

TEST(ExpandKeys, OnlyTheFirstTenCharactersCount) {
  ExpandedKey a{}, b{}, c{}, d{};
  ExpandKeys(a, b, "ABCDEFGHIJ", "KLMNOPQRST");
  ExpandKeys(c, d, "ABCDEFGHIJXYZ", "KLMNOPQRSTUVW");
  EXPECT_EQ(a, c);
  EXPECT_EQ(b, d);
}

TEST(LoadRegisters, EqualKeysGiveZeroStagesOneToTen) {
  ExpandedKey basic{}, message{};
  ExpandKeys(basic, message, "KWTRBNMZUE", "KWTRBNMZUE");
  RegisterBank bank;
  bank.Stages.fill(0x33);
  LoadRegisters(bank, basic, message);
  EXPECT_EQ(bank.Stages[0], 0xFF);
  for (int s = 1; s <= 10; ++s) EXPECT_EQ(bank.Stages[s], 0) << "stage " << s;
}

TEST(LoadRegisters, OneStageOfEveryRowByHand) {
  // Letter values: A D8, B 8B, C 7E, D 82, E 90, F A6, G 53, H 2D, I 6C,
  // J CA; K EE, L 41, M 3F, N 36, O 1B, P 65, Q F5, R 5A, S B4, T 09. A stage
  // is the bit reversal of V(basic letter) XOR V(message letter).
  ExpandedKey basic{}, message{};
  ExpandKeys(basic, message, "ABCDEFGHIJ", "KLMNOPQRST");
  RegisterBank bank;
  LoadRegisters(bank, basic, message);
  struct Case {
    int Stage;
    std::uint8_t Expected;
  };
  const Case cases[] = {
      {1, 0x6C},   // A ^ K = 0x36
      {10, 0xC3},  // J ^ T = 0xC3
      {11, 0xA6},  // basic group 10 (B) ^ message group 0 (K) = 0x65
      {16, 0x6C},  // basic group 15 (G) ^ message group 5 (P) = 0x36
      {17, 0xB4},  // A ^ message group 6 (Q) = 0x2D
      {20, 0xD1},  // D ^ T = 0x8B
      {23, 0x36},  // basic group 6 (G) ^ message group 2 (M) = 0x6C
      {26, 0xF5},  // J ^ P = 0xAF
      {29, 0x6C},  // basic group 3 (D) ^ message group 8 (S) = 0x36
  };
  EXPECT_EQ(bank.Stages[0], 0xFF);
  for (const Case& c : cases) EXPECT_EQ(bank.Stages[c.Stage], c.Expected) << "stage " << c.Stage;
}

TEST(LoadRegisters, LowerCaseKeysLoadAsUpperCase) {
  ExpandedKey b1{}, m1{}, b2{}, m2{};
  ExpandKeys(b1, m1, "kwtrbnmzue", "qwertzuiop");
  ExpandKeys(b2, m2, "KWTRBNMZUE", "QWERTZUIOP");
  RegisterBank r1, r2;
  LoadRegisters(r1, b1, m1);
  LoadRegisters(r2, b2, m2);
  EXPECT_EQ(r1.Stages, r2.Stages);
}

// A structure-key text from eight rows of sixteen "0"/"1".
StructureKeyChars Text(const std::vector<std::string>& rows) {
  StructureKeyChars text{};
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 16; ++c) text[16 * r + c] = rows[r][c];
  }
  return text;
}

StructureMatrix MatrixOf(const std::vector<std::string>& rows) {
  StructureMatrix m{};
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 16; ++c) m[16 * r + c] = static_cast<std::uint8_t>(rows[r][c] - '0');
  }
  return m;
}

int Weight(const StructureMatrix& m) {
  int w = 0;
  for (std::uint8_t b : m) w += b;
  return w;
}

const std::string kZeros = "0000000000000000";
const std::string kOnes = "1111111111111111";

struct MatrixCase {
  const char* Name;
  std::vector<std::string> Text;
  // The matrix expected, or empty when the weight can never reach the window.
  std::vector<std::string> Expected;
};

// With all-zero expanded keys the matrix is the structure digits themselves.
TEST(BuildStructureMatrix, WeightWindowShiftAndParity) {
  const std::string lead0 = "0111111111111111";  // 15 ones, loses a 0, gains a 1
  const std::string tail0 = "1111111111111110";  // 15 ones, loses a 1, gains a 0
  const MatrixCase cases[] = {
      {"weight 33 accepted as built",
       {tail0, tail0, "1110000000000000", kZeros, kZeros, kZeros, kZeros, kZeros},
       {tail0, tail0, "1110000000000000", kZeros, kZeros, kZeros, kZeros, kZeros}},
      {"weight 95 accepted as built",
       {kOnes, kOnes, kOnes, kOnes, kOnes, tail0, kZeros, kZeros},
       {kOnes, kOnes, kOnes, kOnes, kOnes, tail0, kZeros, kZeros}},
      {"weight 32 shifted once to 35",
       {lead0, lead0, "0000000000000011", kZeros, kZeros, kZeros, kZeros, kZeros},
       {kOnes, kOnes, "0000000000000111", kZeros, kZeros, kZeros, kZeros, kZeros}},
      {"weight 96 shifted once to 89",
       {tail0, tail0, tail0, tail0, tail0, tail0, "1111110000000000", kZeros},
       {"1111111111111100", "1111111111111100", "1111111111111100", "1111111111111100",
        "1111111111111100", "1111111111111100", "1111100000000000", kZeros}},
      {"odd weight 63 left as built",
       {kOnes, kOnes, kOnes, tail0, kZeros, kZeros, kZeros, kZeros},
       {kOnes, kOnes, kOnes, tail0, kZeros, kZeros, kZeros, kZeros}},
      {"even weight 64 with (0,0) = 1 inverted to 63",
       {kOnes, kOnes, kOnes, kOnes, kZeros, kZeros, kZeros, kZeros},
       {lead0, kOnes, kOnes, kOnes, kZeros, kZeros, kZeros, kZeros}},
      {"even weight 64 with (0,0) = 0 inverted to 65",
       {lead0, kOnes, kOnes, kOnes, "1000000000000000", kZeros, kZeros, kZeros},
       {kOnes, kOnes, kOnes, kOnes, "1000000000000000", kZeros, kZeros, kZeros}},
      // Each shift repeats the last digit of every row: 8, 16, 24, 32, 40 ones,
      // then 40 is even and (0,0) becomes 1. A rotation would stay at 8.
      {"four shifts, then parity",
       {"0000000000000001", "0000000000000001", "0000000000000001", "0000000000000001",
        "0000000000000001", "0000000000000001", "0000000000000001", "0000000000000001"},
       {"1000000000011111", "0000000000011111", "0000000000011111", "0000000000011111",
        "0000000000011111", "0000000000011111", "0000000000011111", "0000000000011111"}},
      {"all zeros never reaches the window",
       {kZeros, kZeros, kZeros, kZeros, kZeros, kZeros, kZeros, kZeros},
       {}},
      {"all ones never reaches the window",
       {kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes, kOnes},
       {}},
      {"two constant rows of ones stay at 32",
       {kOnes, kZeros, kZeros, kOnes, kZeros, kZeros, kZeros, kZeros},
       {}},
      {"a lone leading one shifts out, then nothing changes",
       {"1000000000000000", kZeros, kZeros, kZeros, kZeros, kZeros, kZeros, kZeros},
       {}},
  };
  const ExpandedKey zero{};
  for (const MatrixCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const StructureKeyChars text = Text(c.Text);
    StructureMatrix matrix{};
    bool built = BuildStructureMatrix(matrix, text, zero, zero);
    EXPECT_EQ(text, Text(c.Text));  // the caller's text is never shifted
    if (c.Expected.empty()) {
      EXPECT_FALSE(built);
      continue;
    }
    ASSERT_TRUE(built);
    EXPECT_EQ(matrix, MatrixOf(c.Expected));
    EXPECT_EQ(Weight(matrix) % 2, 1);
    EXPECT_GE(Weight(matrix), 33);
    EXPECT_LE(Weight(matrix), 95);
  }
}

TEST(BuildStructureMatrix, ExpandedKeysSelectBitRowOfGroupColumn) {
  // Structure digits all 0, message key all 0: entry (r, c) is bit r of the
  // letter value of basic group c. Groups 0 to 15 are A..J, then B..G.
  ExpandedKey basic{}, message{}, unused{};
  ExpandKeys(basic, unused, "ABCDEFGHIJ", "ABCDEFGHIJ");
  const std::uint8_t values[16] = {0xD8, 0x8B, 0x7E, 0x82, 0x90, 0xA6, 0x53, 0x2D,
                                   0x6C, 0xCA, 0x8B, 0x7E, 0x82, 0x90, 0xA6, 0x53};
  StructureMatrix expected{};
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 16; ++c) expected[16 * r + c] = (values[c] >> r) & 1;
  }
  // Weight 38 + 22 = 60, even: (0, 0), bit 0 of 0xD8, becomes 1.
  expected[0] = 1;
  const StructureKeyChars text =
      Text({kZeros, kZeros, kZeros, kZeros, kZeros, kZeros, kZeros, kZeros});
  StructureMatrix matrix{};
  ASSERT_TRUE(BuildStructureMatrix(matrix, text, basic, message));
  EXPECT_EQ(matrix, expected);
  EXPECT_EQ(Weight(matrix), 61);

  // The same bits from the message key instead give the same matrix, and from
  // both keys they cancel.
  StructureMatrix fromMessage{};
  ASSERT_TRUE(BuildStructureMatrix(fromMessage, text, message, basic));
  EXPECT_EQ(fromMessage, expected);
  StructureMatrix fromBoth{};
  EXPECT_FALSE(BuildStructureMatrix(fromBoth, text, basic, basic));
}

TEST(BuildStructureMatrix, NonDigitCountsByItsLowestBit) {
  // A space (32) counts as 0, "1" and "q" (113) as 1.
  const ExpandedKey zero{};
  StructureKeyChars text =
      Text({kOnes, kOnes, kOnes, "1111111111111110", kZeros, kZeros, kZeros, kZeros});
  text[16 * 3 + 15] = ' ';
  text[16 * 4 + 0] = 'q';  // weight 63 + 1 = 64, even: (0, 0) becomes 0
  StructureMatrix matrix{};
  ASSERT_TRUE(BuildStructureMatrix(matrix, text, zero, zero));
  EXPECT_EQ(matrix[16 * 3 + 15], 0);
  EXPECT_EQ(matrix[16 * 4 + 0], 1);
  EXPECT_EQ(matrix[0], 0);
  EXPECT_EQ(Weight(matrix), 63);
}

}  // namespace
}  // namespace quarvel
