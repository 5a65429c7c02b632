// quarvel and quarvel_keys run as processes on input that is taken as it
// stands: the note or warning on standard error, and the run otherwise as it
// would be without it (exit status 0, the console showing the target). A
// clean run writes nothing on standard error, and a run-time error names the
// operation and the file.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

const std::string kText = "TREFFEN AM BAHNHOF UM #1430% UHR";
// The start of the example message enciphered with the example key.
const std::string kCipher = "BIUUY TNSWR YOQRO TXYKL\r\n";

struct RunResult {
  ProcessResult Result;
  std::string Target;
};

// One run in a fresh folder with the given key file and source; quarvel_keys
// when `keys` is set.
RunResult RunWith(bool keys, char mode, const std::string& key, const std::string& source) {
  TempDir dir;
  WriteFile(dir.File("k.txt"), key);
  WriteFile(dir.File("s.txt"), source);
  WriteFile(dir.File("add.bin"), "");
  RunResult run;
  run.Result = RunIn(dir, keys, RunArgs(keys, mode, "k.txt", "s.txt", "t.txt"));
  run.Target = ReadFile(dir.File("t.txt"));
  return run;
}

struct NoteCase {
  const char* Name;
  char Mode;
  std::string Key;
  std::string Source;
  std::string Note;  // the one line on standard error, after the program's name
  // A key and source that give the same run without the note, or empty.
  std::string CleanKey;
  std::string CleanSource;
};

void PrintTo(const NoteCase& c, std::ostream* os) {
  *os << c.Name;
}

const NoteCase kNotes[] = {
    // Keys that look damaged but are taken.
    {"LastStructureDigitNotADigit", 'C', ExampleKeyWith("0010110011100111", "001011001110011!"),
     kHeader + kText,
     "warning: Strukturschluessel: the 128th character is '!' (0x21), not a binary digit; it is "
     "taken as it stands (its lowest bit counts)",
     ExampleKeyText(), kHeader + kText},
    {"StructureKeyLonger", 'C', ExampleKeyWith("0010110011100111", "00101100111001110"),
     kHeader + kText,
     "warning: Strukturschluessel: a binary digit directly follows the 128th character (offset "
     "193 of Schluesseldatei 'k.txt'): the key may be longer than 128 binary digits; only the "
     "first 128 are taken",
     ExampleKeyText(), kHeader + kText},
    {"BasicKeyLonger", 'D', ExampleKeyWith("KWTRBNMZUE", "KWTRBNMZUEX"), kHeader + kCipher,
     "warning: Grundschluessel: a letter directly follows the 10th character (offset 221 of "
     "Schluesseldatei 'k.txt'): the key may be longer than 10 letters; only the first 10 are "
     "taken",
     ExampleKeyText(), kHeader + kCipher},
    {"KeywordTwice", 'C', ExampleKeyText() + "GRUNDSCHLUESSEL ABCDEFGHIJ\r\n", kHeader + kText,
     "warning: Grundschluessel: keyword GRUNDSCHLUESSEL occurs more than once in Schluesseldatei "
     "'k.txt' (at offsets 195 and 223); the first counts",
     ExampleKeyText(), kHeader + kText},
    {"MessageKeyGroupLonger", 'C', ExampleKeyText(), kKeyLetters + "P " + kText,
     "warning: Spruchschluessel: a letter directly follows the 30th character (offset 45 of "
     "Quelldatei 's.txt'): the key may be longer than 30 message-key letters; only the first 30 "
     "are taken",
     "", ""},
    // Text before the marker goes with the header, in the clear.
    {"TextBeforeTheMarker", 'C', ExampleKeyText(), "Nr 7 " + kHeader + kText,
     "warning: Quelldatei 's.txt': 5 bytes stand before the marker HHHHH; they belong to the "
     "header and are copied to the cipher text in the clear",
     "", ""},
    // Line ends of the file in a plain text.
    {"LineFeedsInThePlainText", 'C', ExampleKeyText(), kHeader + "TREFFEN\nAM\r\n",
     "note: Quelldatei 's.txt' holds line-feed, carriage-return or tab bytes, the first at line "
     "1, column 54, offset 53; they are enciphered as the letters R, P and L; the notation for "
     "line feed, carriage return and blank is '*', '<' and '|'",
     "", ""},
    {"TabOnTheSecondLine", 'C', ExampleKeyText(), kKeyLetters + "\nAB\tC",
     "note: Quelldatei 's.txt' holds line-feed, carriage-return or tab bytes, the first at line "
     "2, column 3, offset 48; they are enciphered as the letters R, P and L; the notation for "
     "line feed, carriage return and blank is '*', '<' and '|'",
     "", ""},
    // Cipher texts whose end is not read.
    {"ByteInsideAGroup", 'D', ExampleKeyText(), kHeader + "BIUUY TN!SWR YOQRO TXYKL\r\n",
     "note: Quelldatei 's.txt': the cipher text ends at offset 50; the 21 bytes after it were "
     "left out: a byte '!' (0x21) inside a group at line 1, column 55, offset 54",
     "", ""},
    {"LowerCaseLetterInsideAGroup", 'D', ExampleKeyText(), kHeader + "BIUUY TnSWR YOQRO TXYKL\r\n",
     "note: Quelldatei 's.txt': the cipher text ends at offset 50; the 20 bytes after it were "
     "left out: a lower-case letter 'n' (0x6E) inside a group at line 1, column 54, offset 53; "
     "if the mail re-wrapped or lower-cased the groups, 'quarvel_text regroup' writes them back "
     "in their layout",
     "", ""},
    {"LineBreakInsideAGroup", 'D', ExampleKeyText(), kHeader + "BIUUY TN\nSWR YOQRO TXYKL\r\n",
     "note: Quelldatei 's.txt': the cipher text ends at offset 50; the 21 bytes after it were "
     "left out: a byte 0x0A inside a group at line 1, column 55, offset 54; if the mail "
     "re-wrapped or lower-cased the groups, 'quarvel_text regroup' writes them back in their "
     "layout",
     "", ""},
    // A signature after whole groups is no damage to undo.
    {"SignatureAfterTheGroups", 'D', ExampleKeyText(), kHeader + kCipher + "\r\nGruss Hans\r\n",
     "note: Quelldatei 's.txt': the cipher text ends at offset 68; the 16 bytes after it were "
     "left out: a lower-case letter 'r' (0x72) inside a group at line 3, column 2, offset 74",
     "", ""},
    {"LowerCaseCipherText", 'D', ExampleKeyText(), kHeader + "biuuy tnswr yoqro txykl\r\n",
     "note: Quelldatei 's.txt': no complete group of five capitals follows the header; the 25 "
     "bytes after it were left out: lower-case letters where groups of capitals should stand, "
     "the first 'b' (0x62) at line 1, column 47, offset 46; if the mail re-wrapped or "
     "lower-cased the groups, 'quarvel_text regroup' writes them back in their layout",
     "", ""},
    {"IncompleteLastGroup", 'D', ExampleKeyText(), kHeader + "BIUUY TNSWR YOQRO TXY",
     "note: Quelldatei 's.txt': the cipher text ends at offset 62; the 4 bytes after it were left "
     "out: the last group is incomplete: it holds 3 of 5 letters",
     "", ""},
};

class Notes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(Notes, AreOneLineOnStandardErrorAndChangeNothingElse) {
  const NoteCase& c = GetParam();
  for (bool keys : {false, true}) {
    SCOPED_TRACE(keys ? "quarvel_keys" : "quarvel");
    RunResult run = RunWith(keys, c.Mode, c.Key, c.Source);
    EXPECT_EQ(run.Result.ExitStatus, 0) << run.Result.Out;
    EXPECT_EQ(run.Result.Out, run.Target);
    EXPECT_EQ(run.Result.Err, Diagnostics(keys, {c.Note}));
    if (!c.CleanKey.empty()) {
      RunResult clean = RunWith(keys, c.Mode, c.CleanKey, c.CleanSource);
      EXPECT_EQ(clean.Result.Err, "");
      EXPECT_EQ(run.Result.Out, clean.Result.Out);
      EXPECT_EQ(run.Target, clean.Target);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Notes, ::testing::ValuesIn(kNotes),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Notes, NoneForTheExampleMessageEitherWay) {
  const std::string message = ReadFile(SourceDir() + "/examples/message.txt");
  for (bool keys : {false, true}) {
    SCOPED_TRACE(keys ? "quarvel_keys" : "quarvel");
    RunResult encipher = RunWith(keys, 'C', ExampleKeyText(), message);
    EXPECT_EQ(encipher.Result.ExitStatus, 0);
    EXPECT_EQ(encipher.Result.Err, "");
    RunResult decipher = RunWith(keys, 'D', ExampleKeyText(), encipher.Target);
    EXPECT_EQ(decipher.Result.ExitStatus, 0);
    EXPECT_EQ(decipher.Result.Err, "");
    // A cut-off file that still ends on whole groups is not noted either.
    RunResult cut = RunWith(keys, 'D', ExampleKeyText(), kHeader + kCipher);
    EXPECT_EQ(cut.Result.Err, "");
  }
}

TEST(RuntimeError, NamesTheOperationAndTheFile) {
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("s.txt"), kHeader + kText);
  ProcessResult r = RunIn(dir, QuarvelPath(), {"C", "id", "key.txt", "/dev/full", "s.txt"});
  EXPECT_EQ(r.ExitStatus, 28);
  EXPECT_EQ(r.Out.substr(r.Out.size() - 31), "Runtime error  28 at 00010C40\r\n");
  EXPECT_EQ(r.Err, "quarvel: writing '/dev/full': No space left on device\n");
}

}  // namespace
}  // namespace quarvel::testing
