// New key material: letters without bias from random bytes, the layout of a
// new key file and of a message header, and the check of a key file with the
// programs' own key reader.
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

  struct Case {
    std::string Text;
    std::string Reason;
  };
  std::string badLetter = text;
  badLetter[badLetter.size() - 4] = '1';
  const std::vector<Case> refused = {
      {badLetter, "the key reader refuses the basic key"},
      {text.substr(0, 100), "the key reader refuses the structure key"},
      {text.substr(0, text.size() - 3), "the key reader refuses the basic key"},
  };
  for (const Case& c : refused) {
    testing::WriteFile(dir.File("bad.txt"), c.Text);
    check = CheckKeyFile(dir.File("bad.txt"), header, key.StructureKey, key.BasicKey);
    EXPECT_FALSE(check.Accepted);
    EXPECT_EQ(check.Reason, c.Reason);
  }
  // Read without complaint, but not the key that was drawn.
  check = CheckKeyFile(dir.File("key.txt"), header, key.StructureKey, "ABCDEFGHIJ");
  EXPECT_FALSE(check.Accepted);
  EXPECT_EQ(check.Reason, "the key reader reads another key than the one written");
}

}  // namespace
}  // namespace quarvel::companions
