// quarvel run as a process in mode D: round trips through mode C, the text
// limit before the "Y" filling, pairs over group and line ends, and cipher
// texts that are cut off, in lower case or empty after the header.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

// The code of a plain-text byte of these tests, which keep to the tables.
std::uint8_t TableCode(unsigned char byte) {
  int code = CodeOf(byte);
  EXPECT_GE(code, 0) << "byte outside the tables";
  return static_cast<std::uint8_t>(code);
}

// How a deciphered text shows codes: letters, or after "#" figures until the
// next "%"; blank, space as themselves, line feed as CR LF, carriage return
// and the two shift characters as nothing.
struct Printer {
  bool LettersShift = true;
  std::string Out;

  void Code(std::uint8_t code) {
    for (int p = 0; p < 26; ++p) {
      if (kLetterCodes[p] == code) {
        Out += LettersShift ? kLetters[p] : kFigures[p];
        return;
      }
    }
    switch (code) {
      case 0:
        Out += '|';
        break;
      case 4:
        Out += ' ';
        break;
      case 8:
        Out += "\r\n";
        break;
      case 27:
        LettersShift = false;
        break;
      case 31:
        LettersShift = true;
        break;
      default:  // carriage return
        break;
    }
  }
  void Text(const std::string& plain) {
    for (char c : plain) Code(TableCode(static_cast<unsigned char>(c)));
  }
};

std::string Printed(const std::string& plain) {
  Printer printer;
  printer.Text(plain);
  return printer.Out;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// quarvel C on plain.txt into cipher.txt; returns the cipher text.
std::string Encipher(const TempDir& dir, const std::string& source) {
  PutExampleKey(dir);
  WriteFile(dir.File("plain.txt"), source);
  ProcessResult r = RunIn(dir, QuarvelPath(), {"C", "test", "key.txt", "cipher.txt", "plain.txt"});
  EXPECT_EQ(r.ExitStatus, 0) << r.Out;
  return ReadFile(dir.File("cipher.txt"));
}

// quarvel D on cipher.txt into back.txt; a successful run echoes exactly
// what it writes. Returns the deciphered text.
std::string Decipher(const TempDir& dir) {
  PutExampleKey(dir);
  ProcessResult r = RunIn(dir, QuarvelPath(), {"D", "test", "key.txt", "cipher.txt", "back.txt"});
  std::string back = ReadFile(dir.File("back.txt"));
  EXPECT_EQ(r.ExitStatus, 0) << r.Out;
  EXPECT_EQ(r.Out, back);
  return back;
}

struct RoundTripCase {
  const char* Name;
  std::string Source;
  std::string Expected;  // the deciphered file
};

void PrintTo(const RoundTripCase& c, std::ostream* os) {
  *os << c.Name;
}

const RoundTripCase kRoundTrips[] = {
    {"EveryTableCharacter",
     kHeader +
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ #-?:@3@@@8@().,9014\"57=2/6+% |<*@#QWERTY% abc xyz\r\n#\r\n%"
         "END",
     kHeader +
         "ABCDEFGHIJKLMNOPQRSTUVWXYZ -?:@3@@@8@().,9014\"57=2/6+ |\r\nD123456 ABC XYZPR04END"},
    {"FiguresHoldOverBlanksAndLineEnds", kHeader + "#12 3*4|5%AB<*#6%",
     kHeader + "12 3\r\n4|5AB\r\n6"},
    {"CarriageReturnAfterTheKeyBelongsToTheHeader", kKeyLetters + "\r\nAbc",
     kKeyLetters + "\rRABC"},
    {"LineFeedAfterTheKeyIsCopiedOnce", kKeyLetters + "\n*A", kKeyLetters + "\n\r\nA"},
    {"LowerCaseHeader", "nr 7 HHHHH qqq www eee rrr ttt zzz uuu iii ooo ppp Gruss",
     "NR 7 HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP GRUSS"},
};

class DecipherRunRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(DecipherRunRoundTrip, GivesTheHeaderAndThePrintedText) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  Encipher(dir, c.Source);
  EXPECT_EQ(Decipher(dir), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecipherRunRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DecipherRun, ExampleMessageComesBack) {
  TempDir dir;
  Encipher(dir, ReadFile(SourceDir() + "/examples/message.txt"));
  EXPECT_EQ(Decipher(dir), kHeader +
                               "TREFFEN AM BAHNHOF UM 1430 UHR\r\n"
                               "BRINGEN SIE DIE UNTERLAGEN MIT\r\n"
                               "ZWEI MAPPEN ZU JE 12 BLATT (ROT UND GRUEN)\r\n"
                               "ENDE");
}

TEST(DecipherRun, LongTextComesBack) {
  TempDir dir;
  const std::string text = Repeat("Treffen am Bahnhof um #14.30% Uhr, Gleis #7%.<*", 40);
  Encipher(dir, kHeader + text);
  EXPECT_EQ(Decipher(dir), kHeader + Printed(text));
}

TEST(DecipherRun, PairsOverGroupAndLineEndsAreReadAsOnePair) {
  TempDir dir;
  const std::string keys = KeyStream(dir, 200);
  // 25 letters without "Y", with pairs put over the end of the first group,
  // the end of the first and second lines, and the end of a group inside a
  // line.
  std::string letters = Repeat("ABCDEFGHIJKLMNOPQRSTUVWXZ", 5);
  letters.replace(4, 2, "YS");
  letters.replace(19, 2, "YK");
  letters.replace(49, 2, "YL");
  letters.replace(69, 2, "YT");
  letters.replace(90, 2, "YO");
  const std::string plain = PlainFor(letters, keys);
  const std::string cipher = Encipher(dir, kHeader + plain);
  ASSERT_EQ(cipher.substr(kHeader.size(), 25), "ABCDY SGHIJ KLMNO PQRSY\r\n");
  EXPECT_NE(cipher.find("Y\r\nT"), std::string::npos);
  EXPECT_NE(cipher.find("Y L"), std::string::npos);
  EXPECT_EQ(Decipher(dir), kHeader + Printed(plain));
}

TEST(DecipherRun, LastLettersBeforeTheFillingOrTheLastSeparatorComeBack) {
  TempDir dir;
  const std::string keys = KeyStream(dir, 50);
  const std::string cases[][2] = {
      {"ABCDYK", "ABCDY KYYYY"},
      {"AYT", "AYTYY"},
      {"ABCDEFGHIYS", "ABCDE FGHIY SYYYY"},
      {"ABCDEFGHYJ", "ABCDE FGHYJ "},
      {"MESSAGEPARTSANDCODES", "MESSA GEPAR TSAND CODES\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    const std::string plain = PlainFor(c[0], keys);
    ASSERT_EQ(Encipher(dir, kHeader + plain), kHeader + c[1]);
    EXPECT_EQ(Decipher(dir), kHeader + Printed(plain));
  }
}

// The cipher text of the given letters as the encipher run lays it out:
// groups of five with a blank between, CR LF after the fourth group and then
// after every tenth, the last group filled with "Y".
std::string Grouped(std::string letters) {
  letters.append((5 - letters.size() % 5) % 5, 'Y');
  std::string out;
  for (std::size_t g = 0; g * 5 < letters.size(); ++g) {
    out += letters.substr(5 * g, 5);
    if (5 * g + 5 < letters.size()) out += (g + 1) % 10 == 4 ? "\r\n" : " ";
  }
  return out;
}

// Cipher letters chosen by the test, and a byte that is no letter among them
// (a damaged cipher text): the text ends at the last complete group before
// it.
struct OutsideByteCase {
  const char* Name;
  std::string Letters;  // a byte that is not a capital stands for itself
  std::size_t Deciphered;
};

void PrintTo(const OutsideByteCase& c, std::ostream* os) {
  *os << c.Name;
}

const OutsideByteCase kOutsideBytes[] = {
    {"InsideTheThirdGroup", "ABCDEFGHIJKL!MNOPQ", 10},
    {"FirstOfTheThirdGroup", "ABCDEFGHIJ!KLMNOP", 10},
    {"InsideTheFirstGroup",
     "ABCD\xE4"
     "FGHIJ",
     0},
    {"LastOfTheFifthGroup", "ABCDEFGHIJKLMNOPQRSTUVWX!", 20},
    {"AfterAPair", "AYTCDEFGHIJ!", 9},
};

class DecipherRunOutsideByte : public ::testing::TestWithParam<OutsideByteCase> {};

TEST_P(DecipherRunOutsideByte, EndsTheTextAtTheLastCompleteGroupBeforeIt) {
  const OutsideByteCase& c = GetParam();
  TempDir dir;
  const std::string keys = KeyStream(dir, 50);
  const std::string plain = PlainFor(c.Letters, keys);
  WriteFile(dir.File("cipher.txt"), kHeader + Grouped(c.Letters));
  EXPECT_EQ(Decipher(dir), kHeader + Printed(plain.substr(0, c.Deciphered)));
}

INSTANTIATE_TEST_SUITE_P(Cases, DecipherRunOutsideByte, ::testing::ValuesIn(kOutsideBytes),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DecipherRun, CutOffLastGroupIsNotDeciphered) {
  TempDir dir;
  const std::string keys = KeyStream(dir, 50);
  const std::string plain = PlainFor("ABCDEFGHIJKLMNOPQRSTUV", keys);
  std::string cipher = Encipher(dir, kHeader + plain);
  ASSERT_EQ(cipher, kHeader + "ABCDE FGHIJ KLMNO PQRST\r\nUVYYY");
  for (std::size_t cut = 1; cut <= 4; ++cut) {
    SCOPED_TRACE(cut);
    WriteFile(dir.File("cipher.txt"), cipher.substr(0, cipher.size() - cut));
    EXPECT_EQ(Decipher(dir), kHeader + Printed(plain.substr(0, 20)));
  }
}

TEST(DecipherRun, NoYIsDroppedFromTheLastCompleteGroupOfACutOffText) {
  // The last complete group ends with the "Y" of a pair whose second letter
  // is cut off: the "Y" is deciphered as the letter Y (code 21), with the key
  // character of its place.
  TempDir dir;
  const std::string keys = KeyStream(dir, 50);
  const std::string plain = PlainFor("ABCDEFGHIJKLMNYKPQRST", keys);
  const std::string cipher = Encipher(dir, kHeader + plain);
  const std::string kept = kHeader + "ABCDE FGHIJ KLMNY KP";
  ASSERT_EQ(cipher.substr(0, kept.size()), kept);
  WriteFile(dir.File("cipher.txt"), kept);
  Printer expected;
  expected.Text(plain.substr(0, 14));
  expected.Code(21 ^ static_cast<std::uint8_t>(keys[14]));
  EXPECT_EQ(Decipher(dir), kHeader + expected.Out);
}

TEST(DecipherRun, LowerCaseCipherTextGivesTheHeaderOnly) {
  TempDir dir;
  const std::string cipher = Encipher(dir, kHeader + "TREFFEN AM BAHNHOF UM #1430% UHR");
  ASSERT_GT(cipher.size(), kHeader.size() + 30);
  WriteFile(dir.File("cipher.txt"), kHeader + Lower(cipher.substr(kHeader.size())));
  EXPECT_EQ(Decipher(dir), kHeader);
}

TEST(DecipherRun, NoTextAfterTheHeaderGivesTheHeaderOnly) {
  const std::string cases[][2] = {
      {kKeyLetters, kKeyLetters},
      {kKeyLetters + " ", kKeyLetters + " "},
      {kKeyLetters + " \r\n", kKeyLetters + " "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c[0]);
    TempDir dir;
    WriteFile(dir.File("cipher.txt"), c[0]);
    EXPECT_EQ(Decipher(dir), c[1]);
  }
}

TEST(DecipherRun, LetterAfterTheMessageKeyIsCopiedAndDeciphered) {
  // The header ends with "E", so the deciphering takes the "E" as its first
  // cipher letter and every later letter one key character further on.
  TempDir dir;
  const std::string keys = KeyStream(dir, 50);
  const std::string cipher = Encipher(dir, kKeyLetters + "E" + PlainFor("ABCDE", keys));
  ASSERT_EQ(cipher, kKeyLetters + "EABCDE ");
  Printer expected;
  const std::string letters = "EABCDE";
  for (std::size_t i = 0; i < letters.size(); ++i) {
    expected.Code(CodeOfLetter(letters[i]) ^ static_cast<std::uint8_t>(keys[i]));
  }
  EXPECT_EQ(Decipher(dir), kKeyLetters + "E" + expected.Out);
}

}  // namespace
}  // namespace quarvel::testing
