// quarvel and quarvel_keys run as processes on files that do not open, on a
// written file that is another file of the run, and on keys that are
// refused: the exact console report, the exit status, no file emptied and
// no file left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

const std::string kOldTarget = "yesterday's cipher text";

// A folder with the example key and message, a cipher text, an old target,
// an old additive series and a read-only copy of the message.
void PutFiles(const TempDir& dir) {
  PutExampleKey(dir);
  WriteFile(dir.File("msg.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  WriteFile(dir.File("enc.txt"), kHeader + "BIUUY TNSWR YOQRO TXYKL\r\n");
  WriteFile(dir.File("old.txt"), kOldTarget);
  WriteFile(dir.File("add.bin"), std::string("\x01\x02\x03", 3));
  WriteFile(dir.File("ro.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  ASSERT_EQ(chmod(dir.File("ro.txt").c_str(), 0444), 0);
}

struct ReportCase {
  const char* Name;
  bool Keys;  // quarvel_keys
  std::vector<std::string> Args;
  std::string Report;                // the whole console output
  std::vector<std::string> Reasons;  // standard error, a line per failed file
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << c.Name;
}

const ReportCase kFileErrors[] = {
    {"MissingSource",
     false,
     {"C", "id", "key.txt", "out.txt", "missing.txt"},
     "Dateifehler in Quelldatei\r\n....weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory"}},
    {"MissingSourceAndKey",
     false,
     {"C", "id", "nokey.txt", "out.txt", "missing.txt"},
     "Dateifehler in Quelldatei\r\nSchluesseldatei\r\n....weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory",
      "Schluesseldatei 'nokey.txt': No such file or directory"}},
    {"TargetInAMissingFolder",
     false,
     {"C", "id", "key.txt", "nodir/out.txt", "msg.txt"},
     "Dateifehler in Zieldatei\r\n....weiter mit Taste",
     {"Zieldatei 'nodir/out.txt': cannot be created: No such file or directory"}},
    {"ExistingTargetAndMissingSource",
     false,
     {"C", "id", "key.txt", "old.txt", "missing.txt"},
     "Dateifehler in Quelldatei\r\n....weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory"}},
    {"DecipherMissingSource",
     false,
     {"D", "id", "key.txt", "missing.txt", "out.txt"},
     "Dateifehler in Quelldatei\r\n...weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory"}},
    {"DecipherExistingTargetAndMissingKey",
     false,
     {"D", "id", "nokey.txt", "enc.txt", "old.txt"},
     "Dateifehler in Schluesseldatei\r\n...weiter mit Taste",
     {"Schluesseldatei 'nokey.txt': No such file or directory"}},
    {"KeysMissingKeyWithNewSeries",
     true,
     {"C", "id", "nokey.txt", "out.txt", "msg.txt", "new.add", "new.all"},
     "Dateifehler in Schluesseldatei\r\n....weiter mit Taste",
     {"Schluesseldatei 'nokey.txt': No such file or directory"}},
    {"KeysExistingSeriesAndMissingSource",
     true,
     {"C", "id", "key.txt", "old.txt", "missing.txt", "add.bin", "new.all"},
     "Dateifehler in Quelldatei\r\n....weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory"}},
    {"KeysEveryFileFails",
     true,
     {"C", "id", "nokey.txt", "nodir/out.txt", "missing.txt", "nodir/add.bin", "nodir/all.bin"},
     "Dateifehler in Quelldatei\r\nZieldatei\r\nSchluesseldatei\r\nAdditionsreihe - Datei\r\n"
     "Alle Additionsdatei\r\n....weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory",
      "Zieldatei 'nodir/out.txt': cannot be created: No such file or directory",
      "Schluesseldatei 'nokey.txt': No such file or directory",
      "Additionsreihe - Datei 'nodir/add.bin': cannot be created: No such file or directory",
      "Alle Additionsdatei 'nodir/all.bin': cannot be created: No such file or directory"}},
    {"KeysDecipherMissingAdditiveSeries",
     true,
     {"D", "id", "key.txt", "enc.txt", "out.txt", "missing.bin", "new.all"},
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {"Additionsreihe - Datei 'missing.bin': No such file or directory"}},
    {"KeysDecipherMissingSourceAndAdditiveSeries",
     true,
     {"D", "id", "key.txt", "missing.txt", "out.txt", "missing.bin", "new.all"},
     "Dateifehler in Quelldatei\r\nAdditionsreihe - Datei\r\n...weiter mit Taste",
     {"Quelldatei 'missing.txt': No such file or directory",
      "Additionsreihe - Datei 'missing.bin': No such file or directory"}},
    // Standard input is not a file to write: mode D with no additive-series
    // name, an easy slip of five parameters, empties and writes nothing.
    {"KeysDecipherWithFiveParameters",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt"},
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {"Additionsreihe - Datei: no name given; it must name an existing file"}},
    {"KeysDecipherWithAnEmptyAdditiveSeriesName",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "", "new.all"},
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {"Additionsreihe - Datei: no name given; it must name an existing file"}},
    {"KeysDecipherReadOnlyAdditiveSeries",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "ro.txt", "new.all"},
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {"Additionsreihe - Datei 'ro.txt': has no write permission"}},
    // A written file that is the same file as another file of the run.
    {"TargetIsTheSource",
     false,
     {"C", "id", "key.txt", "msg.txt", "msg.txt"},
     "Dateifehler in Zieldatei\r\n....weiter mit Taste",
     {"Zieldatei 'msg.txt': is the same file as Quelldatei"}},
    {"DecipherTargetIsTheSource",
     false,
     {"D", "id", "key.txt", "enc.txt", "enc.txt"},
     "Dateifehler in Zieldatei\r\n...weiter mit Taste",
     {"Zieldatei 'enc.txt': is the same file as Quelldatei"}},
    {"TargetIsTheKeyFile",
     false,
     {"C", "id", "key.txt", "key.txt", "msg.txt"},
     "Dateifehler in Zieldatei\r\n....weiter mit Taste",
     {"Zieldatei 'key.txt': is the same file as Schluesseldatei"}},
    {"TargetIsTheSourceByAnotherName",
     false,
     {"C", "id", "key.txt", "./msg.txt", "msg.txt"},
     "Dateifehler in Zieldatei\r\n....weiter mit Taste",
     {"Zieldatei './msg.txt': is the same file as Quelldatei"}},
    {"KeysAdditiveSeriesIsTheSource",
     true,
     {"C", "id", "key.txt", "out.txt", "msg.txt", "msg.txt", "new.all"},
     "Dateifehler in Additionsreihe - Datei\r\n....weiter mit Taste",
     {"Additionsreihe - Datei 'msg.txt': is the same file as Quelldatei"}},
    {"KeysBothSeriesInOneFile",
     true,
     {"C", "id", "key.txt", "out.txt", "msg.txt", "add.bin", "add.bin"},
     "Dateifehler in Additionsreihe - Datei\r\nAlle Additionsdatei\r\n....weiter mit Taste",
     {"Additionsreihe - Datei 'add.bin': is the same file as Alle Additionsdatei",
      "Alle Additionsdatei 'add.bin': is the same file as Additionsreihe - Datei"}},
    {"KeysDecipherAllAdditiveIsTheTarget",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "add.bin", "old.txt"},
     "Dateifehler in Zieldatei\r\nAlle Additionsdatei\r\n...weiter mit Taste",
     {"Zieldatei 'old.txt': is the same file as Alle Additionsdatei",
      "Alle Additionsdatei 'old.txt': is the same file as Zieldatei"}},
    // Files that are no files to read or write.
    {"SourceIsADirectory",
     false,
     {"C", "id", "key.txt", "out.txt", "."},
     "Dateifehler in Quelldatei\r\n....weiter mit Taste",
     {"Quelldatei '.': is a directory"}},
    {"KeyFileIsADevice",
     false,
     {"C", "id", "/dev/null", "out.txt", "msg.txt"},
     "Dateifehler in Schluesseldatei\r\n....weiter mit Taste",
     {"Schluesseldatei '/dev/null': is a pipe or device; give an empty name to read standard "
      "input"}},
};

class FileErrorReport : public ::testing::TestWithParam<ReportCase> {};

// The files that the run created are gone again, and every file that was
// there is as it was.
TEST_P(FileErrorReport, NamesEveryFailedFileAndLeavesNothingBehind) {
  const ReportCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  const auto before = Snapshot(dir.Path());
  ProcessResult r = RunIn(dir, c.Keys, c.Args);
  EXPECT_EQ(r.Out, c.Report);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Err, Diagnostics(c.Keys, c.Reasons));
  ExpectFolderKept(before, dir.Path());
}

INSTANTIATE_TEST_SUITE_P(Cases, FileErrorReport, ::testing::ValuesIn(kFileErrors),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FileErrors, LinkedNamesOfTheSourceAreTheSameFile) {
  for (bool hard : {true, false}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
    const std::string source = dir.File("msg.txt"), link = dir.File("link.txt");
    ASSERT_EQ(hard ? ::link(source.c_str(), link.c_str()) : ::symlink("msg.txt", link.c_str()), 0);
    const auto before = Snapshot(dir.Path());
    ProcessResult r = RunIn(dir, false, {"C", "id", "key.txt", "link.txt", "msg.txt"});
    EXPECT_EQ(r.Out, "Dateifehler in Zieldatei\r\n....weiter mit Taste");
    EXPECT_EQ(r.ExitStatus, 1);
    ExpectFolderKept(before, dir.Path());
  }
}

TEST(FileErrors, EmptyNamesAreTheConsoleAndNeverTheSameFile) {
  // The two key series files both on the console, and a target on the
  // console: the runs go on.
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  ProcessResult keys = RunIn(dir, true, {"C", "id", "key.txt", "out.txt", "msg.txt", "", ""});
  EXPECT_EQ(keys.ExitStatus, 0) << keys.Out;
  EXPECT_EQ(keys.Out.find("Dateifehler"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.File("out.txt")).substr(0, kHeader.size()), kHeader);

  ProcessResult console = RunIn(dir, false, {"C", "id", "key.txt", "", "msg.txt"});
  EXPECT_EQ(console.ExitStatus, 0) << console.Out;
  EXPECT_EQ(console.Out.find("Dateifehler"), std::string::npos);
  EXPECT_GT(console.Out.size(), kHeader.size());
}

// Key files and sources whose key is refused: the report names each refused
// part, the run writes nothing, and an existing target keeps its bytes.
struct KeyCase {
  const char* Name;
  char Mode;
  // The key file: the example key with `Find` replaced by `Replace`, or
  // `RawKey` when that is set.
  const char* Find;
  const char* Replace;
  const char* RawKey;
  std::string Source;                // message header and text
  std::string Report;                // the role words, each with its line end
  std::vector<std::string> Reasons;  // standard error, a line per cause
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.Name;
}

std::string KeyFileOf(const KeyCase& c) {
  if (c.RawKey != nullptr) return c.RawKey;
  return c.Find != nullptr ? ExampleKeyWith(c.Find, c.Replace) : ExampleKeyText();
}

const std::string kText = "TREFFEN AM BAHNHOF";

// A structure key of zeros, with a basic key and a message key all "A": their
// bits cancel, and no shift of the digits gives a matrix of usable weight.
const std::string kZeroKey =
    "STRUKTURSCHLUESSEL " + std::string(128, '0') + "\nGRUNDSCHLUESSEL AAAAAAAAAA\n";

const KeyCase kKeyCases[] = {
    {"NoStructureKeyword",
     'C',
     "STRUKTURSCHLUESSEL",
     "STRUKTUR",
     nullptr,
     kHeader + kText,
     "Strukturschluessel\r\n",
     {"Strukturschluessel: keyword STRUKTURSCHLUESSEL not found in Schluesseldatei 'k.txt'"}},
    {"NoBasicKeyword",
     'C',
     "GRUNDSCHLUESSEL",
     "GRUND",
     nullptr,
     kHeader + kText,
     "Grundschluessel\r\n",
     {"Grundschluessel: keyword GRUNDSCHLUESSEL not found in Schluesseldatei 'k.txt'"}},
    {"BasicKeyEndsWithADigit",
     'C',
     "KWTRBNMZUE",
     "KWTRBNMZU1",
     nullptr,
     kHeader + kText,
     "Grundschluessel\r\n",
     {"Grundschluessel: the 10th basic-key character is '1' (0x31), not a letter"}},
    {"BasicKeyEndsWithAComma",
     'C',
     "KWTRBNMZUE",
     "KWTRBNMZU,E",
     nullptr,
     kHeader + kText,
     "Grundschluessel\r\n",
     {"Grundschluessel: the 10th basic-key character is ',' (0x2C), not a letter"}},
    {"KeyFileEndsInsideTheStructureKey",
     'C',
     nullptr,
     nullptr,
     "STRUKTURSCHLUESSEL\n0101",
     kHeader + kText,
     "Strukturschluessel\r\nGrundschluessel\r\n",
     {"Strukturschluessel: Schluesseldatei 'k.txt' ends after 4 of the 128 binary digits",
      "Grundschluessel: keyword GRUNDSCHLUESSEL not found in Schluesseldatei 'k.txt'"}},
    {"NoUsableMatrix",
     'C',
     nullptr,
     nullptr,
     kZeroKey.c_str(),
     "HHHHH AAA AAA AAA AAA AAA AAA AAA AAA AAA AAA " + kText,
     "Strukturschluessel\r\n",
     {"Strukturschluessel: the structure key reaches no usable matrix: with this basic key and "
      "message key its weight never comes into 33 to 95"}},
    {"GroupOfUnequalLetters",
     'C',
     nullptr,
     nullptr,
     nullptr,
     "HHHHH QQQ WWX EEE RRR TTT ZZZ UUU III OOO PPP " + kText,
     "Spruchschluessel\r\n",
     {"Spruchschluessel: group 2 \"WWX\" is not three equal letters"}},
    {"NoMarker",
     'C',
     nullptr,
     nullptr,
     nullptr,
     kText,
     "Spruchschluessel\r\n",
     {"Spruchschluessel: marker HHHHH not found in Quelldatei 's.txt'"}},
    {"SourceEndsInsideTheGroups",
     'C',
     nullptr,
     nullptr,
     nullptr,
     "HHHHH QQQ WWW EEE",
     "Spruchschluessel\r\n",
     {"Spruchschluessel: Quelldatei 's.txt' ends after 9 of the 30 message-key letters"}},
    {"EmptyKeyFileAndNoMarker",
     'C',
     nullptr,
     nullptr,
     "",
     kText,
     "Strukturschluessel\r\nGrundschluessel\r\nSpruchschluessel\r\n",
     {"Strukturschluessel: keyword STRUKTURSCHLUESSEL not found in Schluesseldatei 'k.txt'",
      "Grundschluessel: keyword GRUNDSCHLUESSEL not found in Schluesseldatei 'k.txt'",
      "Spruchschluessel: marker HHHHH not found in Quelldatei 's.txt'"}},
    {"DecipherNoBasicKeyword",
     'D',
     "GRUNDSCHLUESSEL",
     "GRUND",
     nullptr,
     kHeader + "BIUUY TNSWR ",
     "Grundschluessel\r\n",
     {"Grundschluessel: keyword GRUNDSCHLUESSEL not found in Schluesseldatei 'k.txt'"}},
    {"DecipherGroupOfUnequalLetters",
     'D',
     nullptr,
     nullptr,
     nullptr,
     "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPQ BIUUY TNSWR ",
     "Spruchschluessel\r\n",
     {"Spruchschluessel: group 10 \"PPQ\" is not three equal letters"}},
    // A refused part is named with the warnings on the parts taken.
    {"RefusedPartAndADoubledKeyword",
     'C',
     "KWTRBNMZUE",
     "KWTRBNMZU1\nGRUNDSCHLUESSEL KWTRBNMZUE",
     nullptr,
     kHeader + kText,
     "Grundschluessel\r\n",
     {"Grundschluessel: the 10th basic-key character is '1' (0x31), not a letter",
      "warning: Grundschluessel: keyword GRUNDSCHLUESSEL occurs more than once in "
      "Schluesseldatei 'k.txt' (at offsets 195 and 222); the first counts"}},
    // The key is checked before the text: a text that would be refused
    // does not matter while the key is refused.
    {"KeyRefusedBeforeTheText",
     'C',
     "GRUNDSCHLUESSEL",
     "GRUND",
     nullptr,
     kHeader + "GR\xC3\x9C\xC3\x9F E",
     "Grundschluessel\r\n",
     {"Grundschluessel: keyword GRUNDSCHLUESSEL not found in Schluesseldatei 'k.txt'"}},
};

class KeyRefusal : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyRefusal, IsReportedBeforeAnythingIsWritten) {
  const KeyCase& c = GetParam();
  const std::string prompt = c.Mode == 'C' ? "....weiter mit Taste" : "...weiter mit Taste";
  for (bool keys : {false, true}) {
    SCOPED_TRACE(keys ? "quarvel_keys" : "quarvel");
    TempDir dir;
    WriteFile(dir.File("k.txt"), KeyFileOf(c));
    WriteFile(dir.File("s.txt"), c.Source);
    WriteFile(dir.File("old.txt"), kOldTarget);
    WriteFile(dir.File("add.bin"), "old series");
    WriteFile(dir.File("all.bin"), "old key characters");
    const auto before = Snapshot(dir.Path());
    ProcessResult r = RunIn(dir, keys, RunArgs(keys, c.Mode, "k.txt", "s.txt", "old.txt"));
    EXPECT_EQ(r.Out, "Schluesselfehler in " + c.Report + prompt);
    EXPECT_EQ(r.ExitStatus, 3);
    EXPECT_EQ(r.Err, Diagnostics(keys, c.Reasons));
    ExpectFolderKept(before, dir.Path());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyRefusal, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quarvel::testing
