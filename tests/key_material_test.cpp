// New key material: letters without bias from random bytes, the layout of a
// new key file and of a message header, the check of a key file with the
// programs' own key reader, and the key check value.
#include "companions/key_material.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "companions/key_check.h"
#include "tests/process_runner.h"

namespace quarvel::companions {
namespace {

// Random bytes from a fixed list, repeated as needed.
RandomBytes Scripted(std::vector<std::uint8_t> bytes) {
  auto next = std::make_shared<std::size_t>(0);
  return RandomBytes([bytes, next](std::span<std::uint8_t> out) {
    for (std::uint8_t& b : out) b = bytes[(*next)++ % bytes.size()];
  });
}

TEST(UniformBelow, DrawsAgainForBytesThatWouldFavourSomeValues) {
  // 256 = 9 * 26 + 22: the bytes 234 to 255 are thrown away.
  RandomBytes random = Scripted({234, 255, 233, 0, 27});
  EXPECT_EQ(UniformBelow(26, random), 233 % 26);
  EXPECT_EQ(UniformBelow(26, random), 0);
  EXPECT_EQ(UniformBelow(26, random), 1);
  // Every byte value once: each letter comes from exactly 9 of them.
  std::vector<std::uint8_t> all(256);
  for (int b = 0; b < 256; ++b) all[b] = static_cast<std::uint8_t>(b);
  RandomBytes each = Scripted(all);
  std::array<int, 26> counts{};
  for (int i = 0; i < 234; ++i) ++counts[RandomCapital(each) - 'A'];
  for (int count : counts) EXPECT_EQ(count, 9);
}

TEST(KeyFileText, HasTheLayoutOfTheExampleKeyFile) {
  RandomBytes random = Scripted({0xA5});
  KeyParts key = DrawKeyParts(random);
  std::string row = "1010010110100101\r\n";
  std::string expected = "STRUKTURSCHLUESSEL\r\n";
  for (int r = 0; r < 8; ++r) expected += row;
  // 0xA5 = 165 = 6 * 26 + 9: the letter J.
  expected += "GRUNDSCHLUESSEL JJJJJJJJJJ\r\n";
  EXPECT_EQ(KeyFileText(key), expected);
}

TEST(MakeMessageHeader, WritesTheMarkerAndTenGroupsOfThreeEqualCapitals) {
  RandomBytes random = Scripted({0, 1, 250, 25, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(MakeMessageHeader(random), "HHHHH AAA BBB ZZZ CCC DDD EEE FFF GGG HHH III ");
  RandomBytes system;
  std::string header = MakeMessageHeader(system);
  EXPECT_TRUE(std::regex_match(header, std::regex("HHHHH( ([A-Z])\\2\\2){10} "))) << header;
}

TEST(CheckKeyFile, AcceptsANewKeyAndRefusesOneTheReaderRefuses) {
  testing::TempDir dir;
  RandomBytes random;
  KeyParts key = DrawKeyParts(random);
  const std::string header = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP ";
  std::string text = KeyFileText(key);
  testing::WriteFile(dir.File("key.txt"), text);
  KeyCheck check = CheckKeyFile(dir.File("key.txt"), header, key.StructureKey, key.BasicKey);
  EXPECT_TRUE(check.Accepted) << check.Reason;

  EXPECT_EQ(check.CheckValue, KeyCheckValue(key.StructureKey, key.BasicKey));

  struct Case {
    std::string Text;
    std::string Reason;
  };
  // The reasons of the programs' own diagnostics.
  const std::string file = "Schluesseldatei '" + dir.File("bad.txt") + "'";
  std::string badLetter = text;
  // The digit is passed over: the 10th character is then the CR.
  badLetter[badLetter.size() - 4] = '1';
  const std::vector<Case> refused = {
      {badLetter, "Grundschluessel: the 10th basic-key character is 0x0D, not a letter\n"},
      {text.substr(0, 100), "Strukturschluessel: " + file +
                                " ends after 72 of the 128 binary digits\n"
                                "Grundschluessel: keyword GRUNDSCHLUESSEL not found in " +
                                file + "\n"},
      {text.substr(0, text.size() - 3),
       "Grundschluessel: " + file + " ends after 9 of the 10 letters\n"},
  };
  for (const Case& c : refused) {
    testing::WriteFile(dir.File("bad.txt"), c.Text);
    check = CheckKeyFile(dir.File("bad.txt"), header, key.StructureKey, key.BasicKey);
    EXPECT_FALSE(check.Accepted);
    EXPECT_TRUE(check.Refused);
    EXPECT_EQ(check.Reason, c.Reason);
    // A key file alone is refused for the same reasons.
    KeyFileKey alone = ReadKeyOfFile(dir.File("bad.txt"));
    EXPECT_FALSE(alone.Accepted);
    EXPECT_EQ(alone.Reason, c.Reason);
  }
  // Read without complaint, but not the key that was drawn.
  check = CheckKeyFile(dir.File("key.txt"), header, key.StructureKey, "ABCDEFGHIJ");
  EXPECT_FALSE(check.Accepted);
  EXPECT_FALSE(check.Refused);
  EXPECT_EQ(check.Reason, "the key reader reads another key than the one written\n");
}

// The key of the example key file.
const std::string kStructure =
    "1010001000011000100001000011001000100001111111000011111001010110"
    "0111110011001111101100100100111001110111110000000010110011100111";
const std::string kBasic = "KWTRBNMZUE";

TEST(KeyCheckValue, IsTwoGroupsOfFourCapitalsAndFiguresFixedForAKey) {
  const std::string value = KeyCheckValue(kStructure, kBasic);
  EXPECT_TRUE(std::regex_match(value, std::regex("[2-9A-HJ-NP-Z]{4} [2-9A-HJ-NP-Z]{4}"))) << value;
  // The same on every machine and in every version: partners compare it.
  // (Worked out apart from this code: BLAKE2b with a 16-byte digest of the
  // context line, the 128 digits and the 10 capitals; its first 40 bits,
  // five at a time, as symbols.)
  EXPECT_EQ(value, "XNTB 35NC");
}

// The key as the programs load it: a lower-case basic key and a 128th
// character whose lowest bit is that of the digit load as the same key.
TEST(KeyCheckValue, SameKeyInAnyLayoutGivesOneValue) {
  testing::TempDir dir;
  std::string rows;
  for (int r = 0; r < 8; ++r) rows += kStructure.substr(16 * r, 16) + "\r\n";
  std::string grouped;
  for (int g = 0; g < 16; ++g) grouped += kStructure.substr(8 * g, 8) + (g % 2 ? "\n" : "  ");
  const std::string lastAsLetter = kStructure.substr(0, 127) + "a";  // 'a' is odd, as '1'
  ASSERT_EQ(kStructure.back(), '1');
  const std::vector<std::string> layouts = {
      "STRUKTURSCHLUESSEL\r\n" + rows + "GRUNDSCHLUESSEL " + kBasic + "\r\n",
      "Schluessel vom 3. Mai\nGRUNDSCHLUESSEL\nKWTRB NMZUE\nSTRUKTURSCHLUESSEL\n" + grouped,
      "STRUKTURSCHLUESSEL " + lastAsLetter + "\nGRUNDSCHLUESSEL kwtrbnmzue\n",
  };
  for (const std::string& layout : layouts) {
    SCOPED_TRACE(layout);
    testing::WriteFile(dir.File("key.txt"), layout);
    KeyFileKey key = ReadKeyOfFile(dir.File("key.txt"));
    ASSERT_TRUE(key.Accepted) << key.Reason;
    EXPECT_EQ(KeyCheckValue(key.StructureKey, key.BasicKey), KeyCheckValue(kStructure, kBasic));
  }
}

TEST(KeyCheckValue, EveryChangedKeyCharacterGivesAnotherValue) {
  const std::string value = KeyCheckValue(kStructure, kBasic);
  for (std::size_t i = 0; i < kStructure.size(); ++i) {
    std::string changed = kStructure;
    changed[i] = changed[i] == '0' ? '1' : '0';
    EXPECT_NE(KeyCheckValue(changed, kBasic), value) << "structure digit " << i + 1;
  }
  for (std::size_t i = 0; i < kBasic.size(); ++i) {
    std::string changed = kBasic;
    changed[i] = changed[i] == 'Z' ? 'A' : static_cast<char>(changed[i] + 1);
    EXPECT_NE(KeyCheckValue(kStructure, changed), value) << "basic-key letter " << i + 1;
  }
}

TEST(KeygenCheck, PrintsTheValueOfTheFileItMadeAndRefusesWithTheReason) {
  testing::TempDir dir;
  const std::string keygen = QUARVEL_KEYGEN_BIN;
  testing::ProcessOptions options;
  options.StdinPath = "/dev/null";
  options.WorkDir = dir.Path();
  testing::ProcessResult made = testing::RunProcess(keygen, {"key.txt"}, options);
  ASSERT_EQ(made.ExitStatus, 0) << made.Err;
  EXPECT_EQ(made.Err, "");
  EXPECT_TRUE(std::regex_match(made.Out, std::regex("[2-9A-HJ-NP-Z]{4} [2-9A-HJ-NP-Z]{4}\n")))
      << made.Out;
  testing::ProcessResult checked = testing::RunProcess(keygen, {"--check", "key.txt"}, options);
  EXPECT_EQ(checked.ExitStatus, 0) << checked.Err;
  EXPECT_EQ(checked.Out, made.Out);
  EXPECT_EQ(checked.Err, "");

  std::string text = testing::ReadFile(dir.File("key.txt"));
  text[text.size() - 3] = '!';
  testing::WriteFile(dir.File("bad.txt"), text);
  testing::ProcessResult refused = testing::RunProcess(keygen, {"--check", "bad.txt"}, options);
  EXPECT_EQ(refused.ExitStatus, 1);
  EXPECT_EQ(refused.Out, "");
  EXPECT_EQ(refused.Err,
            "quarvel_keygen: Grundschluessel: the 10th basic-key character is '!' (0x21), not a "
            "letter\n");
  testing::ProcessResult missing = testing::RunProcess(keygen, {"--check", "none.txt"}, options);
  EXPECT_EQ(missing.ExitStatus, 1);
  EXPECT_EQ(missing.Err, "quarvel_keygen: none.txt: No such file or directory\n");

  testing::ProcessResult wrong = testing::RunProcess(keygen, {"--check", "--header"}, options);
  EXPECT_EQ(wrong.ExitStatus, 2);
  EXPECT_EQ(wrong.Err,
            "quarvel_keygen: --header and --check exclude each other\n"
            "Try 'quarvel_keygen --help' for more information.\n");
}

}  // namespace
}  // namespace quarvel::companions
