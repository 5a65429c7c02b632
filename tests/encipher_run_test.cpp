// quarvel and quarvel_keys run as processes in mode C: the header copy, the
// grouped cipher letters, the "Y" pairs and filling, the echo on the console.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

// The letters that can follow a "Y" in the cipher text.
const std::string kPairSeconds = "TOHLSJK";

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

struct Enciphered {
  ProcessResult Result;
  std::string Cipher;  // the target file
};

// Enciphers `source` with the example key (quarvel C).
Enciphered Encipher(const TempDir& dir, const std::string& source) {
  PutExampleKey(dir);
  WriteFile(dir.File("plain.txt"), source);
  Enciphered e;
  e.Result = RunIn(dir, QuarvelPath(), {"C", "test", "key.txt", "cipher.txt", "plain.txt"});
  e.Cipher = ReadFile(dir.File("cipher.txt"));
  return e;
}

// A successful run echoes every byte it writes to the target, and nothing else.
void ExpectDoneWithEcho(const Enciphered& e) {
  EXPECT_EQ(e.Result.ExitStatus, 0) << e.Result.Out;
  EXPECT_EQ(e.Result.Out, e.Cipher);
}

// Reads the text after the header by position: groups of five bytes, each
// followed by a blank, or by CR LF after the 4th group and after every 10th
// group from there; the text ends after a group or after its separator.
::testing::AssertionResult ReadGroups(const std::string& tail, std::string& slots,
                                      bool& endsWithSeparator) {
  slots.clear();
  endsWithSeparator = false;
  std::size_t pos = 0;
  int groups = 0;
  while (pos < tail.size()) {
    if (tail.size() - pos < 5) {
      return ::testing::AssertionFailure() << "incomplete group at byte " << pos;
    }
    slots += tail.substr(pos, 5);
    pos += 5;
    ++groups;
    endsWithSeparator = false;
    if (pos == tail.size()) break;
    const std::string separator = groups % 10 == 4 ? "\r\n" : " ";
    if (tail.compare(pos, separator.size(), separator) != 0) {
      return ::testing::AssertionFailure()
             << "group " << groups << " is not followed by "
             << (separator == " " ? "a blank" : "CR LF") << " at byte " << pos;
    }
    pos += separator.size();
    endsWithSeparator = true;
  }
  return ::testing::AssertionSuccess();
}

// Gives each plain byte its cipher letters: a capital, or "Y" and a second
// letter of the pair table. What is left over is the filling.
::testing::AssertionResult SplitCipher(const std::string& slots, const std::string& plain,
                                       int& pairs, std::string& filling) {
  pairs = 0;
  std::size_t s = 0;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    if (s >= slots.size()) {
      return ::testing::AssertionFailure() << "no cipher for plain byte " << i;
    }
    unsigned char c = static_cast<unsigned char>(slots[s++]);
    if (c < 'A' || c > 'Z') {
      return ::testing::AssertionFailure() << "plain byte " << i << " gave " << int(c);
    }
    if (c == 'Y') {
      if (s >= slots.size() || kPairSeconds.find(slots[s]) == std::string::npos) {
        return ::testing::AssertionFailure() << "\"Y\" of plain byte " << i << " opens no pair";
      }
      ++s;
      ++pairs;
    }
  }
  filling = slots.substr(s);
  return ::testing::AssertionSuccess();
}

TEST(EncipherRun, HeaderIsCopiedInCapitalsUpToTheByteAfterTheMessageKey) {
  // Text before the marker and lower-case message-key letters are header too;
  // the message key is read case-blind, so the cipher letters are those of the
  // same header in capitals.
  TempDir lower, upper;
  const std::string text = "Treffen um #10%";
  Enciphered fromLower =
      Encipher(lower, "nr 7 HHHHH qqq www eee rrr ttt zzz uuu iii ooo ppp\nTreffen um #10%");
  Enciphered fromUpper = Encipher(upper, "NR 7 " + kHeader + text);
  ExpectDoneWithEcho(fromLower);
  ExpectDoneWithEcho(fromUpper);
  const std::string header = "NR 7 HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP\n";
  ASSERT_EQ(fromLower.Cipher.substr(0, header.size()), header);
  EXPECT_EQ(fromLower.Cipher.substr(header.size()), fromUpper.Cipher.substr(header.size()));
  EXPECT_GT(fromLower.Cipher.size(), header.size());
}

// Cipher letters chosen by the test (the plain text is made to give them):
// the exact layout of the text after the header.
struct LayoutCase {
  const char* Name;
  std::string Letters;
  std::string Expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.Name;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const std::string kNoY = "ABCDEFGHIJKLMNOPQRSTUVWXZ";  // 25 letters, "Y" left out

const LayoutCase kLayoutCases[] = {
    {"SevenLettersGetThreeY", "QUARVEL", "QUARV ELYYY"},
    {"SixLettersGetFourY", "GROUPS", "GROUP SYYYY"},
    {"EightLettersGetTwoY", "ENCIPHER", "ENCIP HERYY"},
    {"NineLettersGetOneY", "TELEPRINT", "TELEP RINTY"},
    {"FullGroupEndsWithItsBlank", "ABCDEFGHIJ", "ABCDE FGHIJ "},
    {"FourthGroupEndsTheFirstLine", "MESSAGEPARTSANDCODES", "MESSA GEPAR TSAND CODES\r\n"},
    {"LaterLinesHoldTenGroups", Repeat(kNoY, 3).substr(0, 72),
     "ABCDE FGHIJ KLMNO PQRST\r\n"
     "UVWXZ ABCDE FGHIJ KLMNO PQRST UVWXZ ABCDE FGHIJ KLMNO PQRST\r\n"
     "UVYYY"},
    {"EveryPair", "YTYOYHYLYSYJYK", "YTYOY HYLYS YJYKY"},
    {"PairInsideAGroup", "AYTB", "AYTBY"},
    {"PairOverAGroupEnd", "ABCDYSEFG", "ABCDY SEFGY"},
    {"PairOverALineEnd", "ABCDEFGHIJKLMNOPQRSYKZ", "ABCDE FGHIJ KLMNO PQRSY\r\nKZYYY"},
};

class EncipherRunLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EncipherRunLayout, GroupsLinesPairsAndFilling) {
  const LayoutCase& c = GetParam();
  TempDir dir;
  const std::string keys = KeyStream(dir, 100);
  Enciphered e = Encipher(dir, kHeader + PlainFor(c.Letters, keys));
  ExpectDoneWithEcho(e);
  EXPECT_EQ(e.Cipher, kHeader + c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncipherRunLayout, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EncipherRun, EveryKindOfCharacterKeepsTheLayout) {
  // Checked without knowing the key stream: the layout by position, one
  // letter per character plus one per pair, every "Y" opening a pair.
  const std::string text =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ #-?:@3@@@8@().,9014\"57=2/6+% |<*"
      "abc xyz\r\n#\r\n%@#QWERTY%";
  for (int copies : {1, 2, 3, 5}) {
    SCOPED_TRACE(copies);
    TempDir dir;
    const std::string plain = Repeat(text, copies);
    Enciphered e = Encipher(dir, kHeader + plain);
    ExpectDoneWithEcho(e);
    ASSERT_EQ(e.Cipher.substr(0, kHeader.size()), kHeader);
    std::string slots, filling;
    bool endsWithSeparator = false;
    ASSERT_TRUE(ReadGroups(e.Cipher.substr(kHeader.size()), slots, endsWithSeparator));
    int pairs = 0;
    ASSERT_TRUE(SplitCipher(slots, plain, pairs, filling));
    EXPECT_EQ(filling, std::string(filling.size(), 'Y'));
    EXPECT_LE(filling.size(), 4u);
    EXPECT_EQ(filling.empty(), endsWithSeparator);
    EXPECT_EQ(slots.size() - filling.size(), plain.size() + pairs);
  }
}

TEST(EncipherRun, LowerCaseTextEnciphersLikeCapitals) {
  TempDir lower, upper;
  Enciphered a = Encipher(lower, kHeader + "treffen am bahnhof, zwei mappen");
  Enciphered b = Encipher(upper, kHeader + "TREFFEN AM BAHNHOF, ZWEI MAPPEN");
  ExpectDoneWithEcho(a);
  EXPECT_EQ(a.Cipher, b.Cipher);
}

TEST(EncipherRun, SourceWithNoTextAfterTheHeaderGivesTheHeaderOnly) {
  const std::string keyLetters = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP";
  const std::string sources[] = {keyLetters, keyLetters + " ", keyLetters + "\n", keyLetters + "x"};
  for (const std::string& source : sources) {
    SCOPED_TRACE(source);
    TempDir dir;
    Enciphered e = Encipher(dir, source);
    ExpectDoneWithEcho(e);
    EXPECT_EQ(e.Cipher, Upper(source));
  }
}

TEST(EncipherRun, QuarvelKeysWritesTheSameCipherText) {
  TempDir dir;
  const std::string source = kHeader + "ZWEI MAPPEN ZU JE #12% BLATT<*ENDE";
  Enciphered e = Encipher(dir, source);
  ExpectDoneWithEcho(e);
  ProcessResult keys =
      RunIn(dir, QuarvelKeysPath(),
            {"C", "test", "key.txt", "keys.cip", "plain.txt", "add.bin", "all.bin"});
  EXPECT_EQ(keys.ExitStatus, 0);
  EXPECT_EQ(ReadFile(dir.File("keys.cip")), e.Cipher);
  EXPECT_EQ(keys.Out, e.Result.Out);
}

}  // namespace
}  // namespace quarvel::testing
