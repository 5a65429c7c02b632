// quarvel_keys run as a process: the additive-series file (one key character
// per text character) and the all-additive file (every key character made),
// in both modes, and on the console when their names are left out.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

char LetterOfCode(std::uint8_t code) {
  for (int p = 0; p < 26; ++p) {
    if (kLetterCodes[p] == code) return kLetters[p];
  }
  return '?';
}

// How the cipher text writes a cipher code: its letter, or for the six codes
// without a letter and the code of "Y", "Y" and the letter whose code differs
// in the lowest bit.
std::string CipherLetters(std::uint8_t code) {
  for (std::uint8_t pairCode : {0, 2, 4, 8, 21, 27, 31}) {
    if (code == pairCode) return std::string("Y") + LetterOfCode(code ^ 1);
  }
  return std::string(1, LetterOfCode(code));
}

// The bytes of the cipher text after the header, without the separators.
// (Only for texts whose bytes outside the tables are above 127, so that
// their cipher bytes cannot look like separators.)
std::string CipherBytes(const std::string& cipher) {
  std::string out;
  for (std::size_t i = kHeader.size(); i < cipher.size(); ++i) {
    if (cipher[i] != ' ' && cipher[i] != '\r' && cipher[i] != '\n') out += cipher[i];
  }
  return out;
}

bool AllBelow32(const std::string& bytes) {
  for (char b : bytes) {
    if (static_cast<unsigned char>(b) >= 32) return false;
  }
  return true;
}

const std::string kMixedText =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ #-?:@3@@@8@().,9014\"57=2/6+% |<*abc xyz\r\n"
    "\x01\x1FZWEI MAPPEN ZU JE #12% BLATT<*ENDE";

TEST(KeySeries, EncipherRunWritesTheKeyCharacterOfEveryTextCharacter) {
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("plain.txt"), kHeader + kMixedText);
  ProcessResult r = RunIn(dir, QuarvelKeysPath(),
                          {"C", "k", "key.txt", "cipher.txt", "plain.txt", "add.bin", "all.bin"});
  ASSERT_EQ(r.ExitStatus, 0) << r.Out;
  const std::string cipher = ReadFile(dir.File("cipher.txt"));
  EXPECT_EQ(r.Out, cipher);
  const std::string add = ReadFile(dir.File("add.bin"));
  const std::string all = ReadFile(dir.File("all.bin"));
  ASSERT_EQ(add.size(), kMixedText.size());
  EXPECT_TRUE(AllBelow32(add));
  EXPECT_TRUE(AllBelow32(all));

  // Each plain character gives the letter(s) of its code XOR its additive
  // byte. The all-additive file has the additive byte of each character and
  // one more byte after each pair.
  std::string expected;
  std::size_t pairs = 0;
  for (std::size_t i = 0; i < kMixedText.size(); ++i) {
    SCOPED_TRACE(i);
    const auto key = static_cast<std::uint8_t>(add[i]);
    ASSERT_LT(i + pairs, all.size());
    EXPECT_EQ(all[i + pairs], add[i]);
    int code = CodeOf(static_cast<unsigned char>(kMixedText[i]));
    ASSERT_GE(code, 0);
    std::string letters = CipherLetters(static_cast<std::uint8_t>(code ^ key));
    expected += letters;
    if (letters.size() == 2) ++pairs;
  }
  EXPECT_EQ(all.size(), kMixedText.size() + pairs);
  expected.append((5 - expected.size() % 5) % 5, 'Y');
  EXPECT_EQ(CipherBytes(cipher), expected);

  // quarvel writes the same cipher text and console output.
  ProcessResult q = RunIn(dir, QuarvelPath(), {"C", "k", "key.txt", "q.txt", "plain.txt"});
  EXPECT_EQ(q.ExitStatus, 0);
  EXPECT_EQ(ReadFile(dir.File("q.txt")), cipher);
  EXPECT_EQ(q.Out, r.Out);
}

// Enciphers kHeader + `text` with quarvel_keys into cipher.txt, add.bin and
// all.bin.
void EncipherWithKeys(const TempDir& dir, const std::string& text) {
  PutExampleKey(dir);
  WriteFile(dir.File("plain.txt"), kHeader + text);
  ProcessResult r = RunIn(dir, QuarvelKeysPath(),
                          {"C", "k", "key.txt", "cipher.txt", "plain.txt", "add.bin", "all.bin"});
  ASSERT_EQ(r.ExitStatus, 0) << r.Out;
}

TEST(KeySeries, DecipherRunWritesTheSameSeriesAsTheEncipherRun) {
  TempDir dir;
  const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ #-?:@3@@@8@().,9014\"57=2/6+% |<*abc\r\n";
  ASSERT_NO_FATAL_FAILURE(EncipherWithKeys(dir, text));
  WriteFile(dir.File("dadd.bin"), "");
  ProcessResult d = RunIn(dir, QuarvelKeysPath(),
                          {"D", "k", "key.txt", "cipher.txt", "back.txt", "dadd.bin", "dall.bin"});
  ASSERT_EQ(d.ExitStatus, 0) << d.Out;
  EXPECT_EQ(ReadFile(dir.File("dadd.bin")), ReadFile(dir.File("add.bin")));
  EXPECT_EQ(ReadFile(dir.File("dall.bin")), ReadFile(dir.File("all.bin")));
  EXPECT_EQ(ReadFile(dir.File("add.bin")).size(), text.size());

  // quarvel deciphers to the same text.
  ProcessResult q = RunIn(dir, QuarvelPath(), {"D", "k", "key.txt", "cipher.txt", "q.txt"});
  EXPECT_EQ(q.ExitStatus, 0);
  EXPECT_EQ(ReadFile(dir.File("q.txt")), ReadFile(dir.File("back.txt")));
  EXPECT_EQ(q.Out, d.Out);
}

TEST(KeySeries, DecipherRunLeavesOnlyTheBytesItWroteInTheAdditiveSeriesFile) {
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(EncipherWithKeys(dir, "TREFFEN AM BAHNHOF UM #1430% UHR"));
  const std::string series = ReadFile(dir.File("add.bin"));
  for (const std::string& old :
       {std::string(3, '\x55'), std::string(series.size(), '\x55'), std::string(500, '\x55')}) {
    SCOPED_TRACE(old.size());
    WriteFile(dir.File("dadd.bin"), old);
    ProcessResult d =
        RunIn(dir, QuarvelKeysPath(),
              {"D", "k", "key.txt", "cipher.txt", "back.txt", "dadd.bin", "dall.bin"});
    EXPECT_EQ(d.ExitStatus, 0) << d.Out;
    EXPECT_EQ(ReadFile(dir.File("dadd.bin")), series);
  }
}

TEST(KeySeries, NoTextAfterTheHeaderGivesEmptySeries) {
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(EncipherWithKeys(dir, ""));
  EXPECT_EQ(ReadFile(dir.File("cipher.txt")), kHeader);
  EXPECT_TRUE(FileExists(dir.File("add.bin")));
  EXPECT_EQ(ReadFile(dir.File("add.bin")), "");
  EXPECT_EQ(ReadFile(dir.File("all.bin")), "");

  WriteFile(dir.File("dadd.bin"), "old bytes");
  ProcessResult d = RunIn(dir, QuarvelKeysPath(),
                          {"D", "k", "key.txt", "cipher.txt", "back.txt", "dadd.bin", "dall.bin"});
  EXPECT_EQ(d.ExitStatus, 0) << d.Out;
  EXPECT_EQ(ReadFile(dir.File("back.txt")), kHeader);
  EXPECT_EQ(ReadFile(dir.File("dadd.bin")), "");
  EXPECT_EQ(ReadFile(dir.File("dall.bin")), "");
}

TEST(KeySeries, WithFiveParametersTheKeyBytesGoBetweenTheEchoedLetters) {
  // Per character: the key character as it is made (all-additive), the same
  // byte again (additive series), then its letter or letters; after a pair
  // the extra key character follows the pair's second letter and its
  // separator. The "Y" filling comes last.
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(EncipherWithKeys(dir, std::string(20, 'A')));
  const std::string keys = ReadFile(dir.File("all.bin"));
  ASSERT_GE(keys.size(), 20u);
  auto k = [&](int i) { return std::string(1, keys[i]); };
  struct Case {
    std::string Letters;
    std::string Console;  // after the header
    std::string Target;   // after the header
  };
  const Case cases[] = {
      {"AYHB", k(0) + k(0) + "A" + k(1) + k(1) + "YH" + k(2) + k(3) + k(3) + "B" + "Y", "AYHBY"},
      {"ABCYH",
       k(0) + k(0) + "A" + k(1) + k(1) + "B" + k(2) + k(2) + "C" + k(3) + k(3) + "YH " + k(4),
       "ABCYH "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Letters);
    WriteFile(dir.File("plain.txt"), kHeader + PlainFor(c.Letters, keys));
    ProcessResult r = RunIn(dir, QuarvelKeysPath(), {"C", "k", "key.txt", "five.txt", "plain.txt"});
    EXPECT_EQ(r.ExitStatus, 0);
    EXPECT_EQ(r.Out, kHeader + c.Console);
    EXPECT_EQ(ReadFile(dir.File("five.txt")), kHeader + c.Target);
  }
}

}  // namespace
}  // namespace quarvel::testing
