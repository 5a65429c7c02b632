// quarvel and quarvel_keys run as processes against failing devices, a
// closed or broken console, standard input at its end, read-only files, a
// file-size limit and too few file handles. Every run ends by itself, with a
// report or the run-time error line and its code, never by a signal; the
// files it reads, and any existing target that it had not begun to write,
// keep their bytes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

const std::string kHeader = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP ";
const std::string kOldTarget = "yesterday's cipher text\r\n";
const std::string kOldSeries = "old series";

// How a program starts here: in `dir`, standard input at its end, standard
// output and standard error regular files; killed after ten seconds.
ProcessOptions In(const TempDir& dir) {
  ProcessOptions options;
  options.WorkDir = dir.Path();
  options.StdinPath = "/dev/null";
  options.CaptureInFiles = true;
  options.TimeoutSeconds = 10;
  return options;
}

// The example key and message, a cipher text of the message, an old target
// and old key series, each of them also as a read-only copy "ro-NAME".
void PutFiles(const TempDir& dir) {
  const std::string message = ReadFile(SourceDir() + "/examples/message.txt");
  const std::map<std::string, std::string> files = {
      {"key.txt", ReadFile(SourceDir() + "/examples/key.txt")},
      {"msg.txt", message},
      {"enc.txt", kHeader + "BIUUY TNSWR YOQRO TXYKL\r\nCYOKO GIGAR NSYHR TGJEM ETCOE\r\n"},
      {"old.txt", kOldTarget},
      {"add.bin", kOldSeries},
      {"all.bin", kOldSeries},
  };
  for (const auto& [name, bytes] : files) {
    WriteFile(dir.File(name), bytes);
    WriteFile(dir.File("ro-" + name), bytes);
    ASSERT_EQ(chmod(dir.File("ro-" + name).c_str(), 0444), 0);
  }
}

// True when `text` ends with the run-time error line of `code`: the code
// right-aligned in four places, " at ", eight hexadecimal digits, CR LF.
bool EndsWithErrorLine(const std::string& text, int code) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "Runtime error%4d at ", code);
  const std::string head = prefix;
  const std::size_t length = head.size() + 8 + 2;
  if (text.size() < length) return false;
  const std::string line = text.substr(text.size() - length);
  if (line.compare(0, head.size(), head) != 0 || line.compare(length - 2, 2, "\r\n") != 0) {
    return false;
  }
  for (std::size_t i = head.size(); i < length - 2; ++i) {
    if (std::string_view("0123456789ABCDEF").find(line[i]) == std::string_view::npos) return false;
  }
  return true;
}

// The run-time error line of `code`, on standard output or, when that could
// not take it, on standard error; and as the last line of standard error the
// program's diagnostic with the system's reason.
bool ErrorLineAndDiagnostic(const ProcessResult& r, int code) {
  const std::string reason = std::string(": ") + std::strerror(code) + "\n";
  const std::string& err = r.Err;
  if (err.size() < reason.size() ||
      err.compare(err.size() - reason.size(), reason.size(), reason)) {
    return false;
  }
  std::size_t lastLine = err.rfind('\n', err.size() - 2);
  lastLine = lastLine == std::string::npos ? 0 : lastLine + 1;
  if (err.compare(lastLine, 8, "quarvel_") != 0 && err.compare(lastLine, 9, "quarvel: ") != 0) {
    return false;
  }
  return EndsWithErrorLine(r.Out, code) || EndsWithErrorLine(err.substr(0, lastLine), code);
}

// --- A written file on a full device --------------------------------------

struct FullDeviceCase {
  const char* Name;
  bool Keys;
  std::vector<std::string> Args;
  std::vector<std::string> Written;  // files the run had begun to write
};

void PrintTo(const FullDeviceCase& c, std::ostream* os) {
  *os << c.Name;
}

const FullDeviceCase kFullDeviceCases[] = {
    {"CipherText",
     true,
     {"C", "id", "key.txt", "/dev/full", "msg.txt", "add.bin", "all.bin"},
     {"add.bin", "all.bin"}},
    {"DecipheredText", false, {"D", "id", "key.txt", "enc.txt", "/dev/full"}, {}},
    {"AdditiveSeriesOfEncipherRun",
     true,
     {"C", "id", "key.txt", "old.txt", "msg.txt", "/dev/full", "all.bin"},
     {"old.txt", "all.bin"}},
    {"AdditiveSeriesOfDecipherRun",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "/dev/full", "all.bin"},
     {"old.txt", "all.bin"}},
    {"AllAdditiveFile",
     true,
     {"C", "id", "key.txt", "old.txt", "msg.txt", "add.bin", "/dev/full"},
     {"old.txt", "add.bin"}},
};

class FullDevice : public ::testing::TestWithParam<FullDeviceCase> {};

TEST_P(FullDevice, StopsWithTheCodeOfAFullDevice) {
  const FullDeviceCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  const auto before = Snapshot(dir.Path());
  ProcessResult r = RunProcess(ProgramPath(c.Keys), c.Args, In(dir));
  EXPECT_EQ(r.ExitStatus, ENOSPC) << ::testing::PrintToString(r);
  EXPECT_TRUE(ErrorLineAndDiagnostic(r, ENOSPC)) << ::testing::PrintToString(r);
  ExpectFolderKept(before, dir.Path(), {c.Written, {}});
}

INSTANTIATE_TEST_SUITE_P(Cases, FullDevice, ::testing::ValuesIn(kFullDeviceCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- A console that cannot be written --------------------------------------

struct ConsoleCase {
  const char* Name;
  bool Keys;
  std::vector<std::string> Args;
  std::vector<std::string> Written;
  std::vector<std::string> Created;
};

void PrintTo(const ConsoleCase& c, std::ostream* os) {
  *os << c.Name;
}

// Runs that write to the console at different points: the work path (the
// target was emptied and its first byte written before the first echo), the
// file-error report, the key report and the usage line.
const ConsoleCase kConsoleCases[] = {
    {"EncipherRun", false, {"C", "id", "key.txt", "old.txt", "msg.txt"}, {"old.txt"}, {}},
    {"DecipherRun",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "add.bin", "all.bin"},
     {"old.txt", "add.bin", "all.bin"},
     {}},
    {"FileErrorReport", false, {"C", "id", "key.txt", "old.txt", "missing.txt"}, {}, {}},
    {"FileErrorReportWithANewTarget",
     false,
     {"D", "id", "key.txt", "missing.txt", "new.txt"},
     {},
     {}},
    {"KeyReport", true, {"C", "id", "msg.txt", "old.txt", "msg.txt", "add.bin", "all.bin"}, {}, {}},
    {"UsageLine", false, {"X", "id", "key.txt", "old.txt", "msg.txt"}, {}, {}},
};

struct BrokenConsole {
  const char* Name;
  OutputTo Out;
  const char* Path;
  int Code;  // the platform's code for a write to it
};

const BrokenConsole kBrokenConsoles[] = {
    {"Closed", OutputTo::Closed, "", EBADF},
    {"PipeWithoutReader", OutputTo::BrokenPipe, "", EPIPE},
    {"FullDevice", OutputTo::Path, "/dev/full", ENOSPC},
};

class UnwritableConsole : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(UnwritableConsole, StopsWithTheCodeOfTheFailedWrite) {
  const ConsoleCase& c = GetParam();
  for (const BrokenConsole& console : kBrokenConsoles) {
    SCOPED_TRACE(console.Name);
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
    const auto before = Snapshot(dir.Path());
    ProcessOptions options = In(dir);
    options.Stdout = console.Out;
    options.StdoutPath = console.Path;
    ProcessResult r = RunProcess(ProgramPath(c.Keys), c.Args, options);
    EXPECT_EQ(r.Signal, 0) << ::testing::PrintToString(r);
    EXPECT_EQ(r.ExitStatus, console.Code) << ::testing::PrintToString(r);
    // Standard output failed: the line goes to standard error.
    EXPECT_TRUE(ErrorLineAndDiagnostic(r, console.Code)) << ::testing::PrintToString(r);
    ExpectFolderKept(before, dir.Path(), {c.Written, c.Created});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnwritableConsole, ::testing::ValuesIn(kConsoleCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Standard input at its end at every wait -------------------------------

struct WaitCase {
  const char* Name;
  bool Keys;
  std::vector<std::string> Args;
  rlim_t OpenFiles;
  int ExitStatus;
  std::string Out;  // the console output, or empty to leave it unchecked
  std::vector<std::string> Written;
  std::vector<std::string> Created;
};

void PrintTo(const WaitCase& c, std::ostream* os) {
  *os << c.Name;
}

const std::string kAllPartsRefused =
    "Schluesselfehler in Strukturschluessel\r\nGrundschluessel\r\nSpruchschluessel\r\n";
// The keyword search cannot open the key file and the source a second time.
const std::string kSecondOpenFails = " ERROR \r\n Dateifehler ! ";

const WaitCase kWaitCases[] = {
    {"FinalWaitAfterARun",
     false,
     {"C", "id", "key.txt", "old.txt", "msg.txt"},
     0,
     0,
     "",
     {"old.txt"},
     {}},
    {"FinalWaitAfterTheUsageLine",
     true,
     {""},
     0,
     2,
     "Aufruf: quarvel_keys C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei "
     "Additionsreihe-Datei Alle-Additionsdatei\r\n",
     {},
     {}},
    {"FileErrorReport",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "missing.bin", "new.all"},
     0,
     1,
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {},
     {}},
    {"KeyReport",
     false,
     {"D", "id", "enc.txt", "enc.txt", "old.txt"},
     0,
     3,
     "Schluesselfehler in Strukturschluessel\r\nGrundschluessel\r\n...weiter mit Taste",
     {},
     {}},
    {"KeyReportForASourceOnTheConsole",
     false,
     {"C", "id", "key.txt", "old.txt", ""},
     0,
     3,
     "Schluesselfehler in Spruchschluessel\r\n....weiter mit Taste",
     {},
     {}},
    // Standard streams and the three files of the run take the six handles.
    {"SecondOpenOfKeyFileAndSource",
     false,
     {"C", "id", "key.txt", "old.txt", "msg.txt"},
     6,
     3,
     kSecondOpenFails + kSecondOpenFails + kSecondOpenFails + kAllPartsRefused +
         "....weiter mit Taste",
     {},
     {}},
    {"SecondOpenInQuarvelKeys",
     true,
     {"D", "id", "key.txt", "enc.txt", "old.txt", "add.bin", "all.bin"},
     8,
     3,
     kSecondOpenFails + kSecondOpenFails + kSecondOpenFails + kAllPartsRefused +
         "...weiter mit Taste",
     {},
     {}},
};

class InputAtItsEnd : public ::testing::TestWithParam<WaitCase> {};

TEST_P(InputAtItsEnd, EveryWaitEndsAtOnce) {
  const WaitCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  const auto before = Snapshot(dir.Path());
  ProcessOptions options = In(dir);
  if (c.OpenFiles != 0) options.Limits = {{RLIMIT_NOFILE, c.OpenFiles}};
  ProcessResult r = RunProcess(ProgramPath(c.Keys), c.Args, options);
  EXPECT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitStatus, c.ExitStatus) << ::testing::PrintToString(r);
  if (!c.Out.empty()) {
    EXPECT_EQ(r.Out, c.Out);
  }
  ExpectFolderKept(before, dir.Path(), {c.Written, c.Created});
}

TEST_P(InputAtItsEnd, ClosedInputStopsAtTheFirstWait) {
  const WaitCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  const auto before = Snapshot(dir.Path());
  ProcessOptions options = In(dir);
  if (c.OpenFiles != 0) options.Limits = {{RLIMIT_NOFILE, c.OpenFiles}};
  options.CloseStdin = true;
  ProcessResult r = RunProcess(ProgramPath(c.Keys), c.Args, options);
  EXPECT_FALSE(r.TimedOut);
  EXPECT_EQ(r.ExitStatus, EBADF) << ::testing::PrintToString(r);
  EXPECT_TRUE(ErrorLineAndDiagnostic(r, EBADF)) << ::testing::PrintToString(r);
  ExpectFolderKept(before, dir.Path(), {c.Written, c.Created});
}

INSTANTIATE_TEST_SUITE_P(Cases, InputAtItsEnd, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Read-only files -------------------------------------------------------

// A file the run writes, without any write permission: refused whoever runs
// the program (root included), and left as it was.

struct ReadOnlyCase {
  const char* Name;
  bool Keys;
  std::vector<std::string> Args;
  std::string Report;
  std::vector<std::string> Created;
};

void PrintTo(const ReadOnlyCase& c, std::ostream* os) {
  *os << c.Name;
}

const ReadOnlyCase kReadOnlyCases[] = {
    {"Target",
     false,
     {"C", "id", "key.txt", "ro-old.txt", "msg.txt"},
     "Dateifehler in Zieldatei\r\n....weiter mit Taste",
     {}},
    {"AdditiveSeriesOfEncipherRun",
     true,
     {"C", "id", "key.txt", "old.txt", "msg.txt", "ro-add.bin", "all.bin"},
     "Dateifehler in Additionsreihe - Datei\r\n....weiter mit Taste",
     {}},
    {"AllAdditiveFile",
     true,
     {"C", "id", "key.txt", "old.txt", "msg.txt", "add.bin", "ro-all.bin"},
     "Dateifehler in Alle Additionsdatei\r\n....weiter mit Taste",
     {}},
    // Read-only inputs are read; only the written files fail.
    {"EveryFile",
     true,
     {"C", "id", "ro-key.txt", "ro-old.txt", "ro-msg.txt", "ro-add.bin", "ro-all.bin"},
     "Dateifehler in Zieldatei\r\nAdditionsreihe - Datei\r\nAlle Additionsdatei\r\n"
     "....weiter mit Taste",
     {}},
    {"DecipherAdditiveSeries",
     true,
     {"D", "id", "ro-key.txt", "ro-enc.txt", "old.txt", "ro-add.bin", "all.bin"},
     "Dateifehler in Additionsreihe - Datei\r\n...weiter mit Taste",
     {}},
};

class ReadOnlyFile : public ::testing::TestWithParam<ReadOnlyCase> {};

TEST_P(ReadOnlyFile, WrittenIsAFileErrorAndNothingIsEmptied) {
  const ReadOnlyCase& c = GetParam();
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
  const auto before = Snapshot(dir.Path());
  ProcessResult r = RunProcess(ProgramPath(c.Keys), c.Args, In(dir));
  EXPECT_EQ(r.Out, c.Report);
  EXPECT_EQ(r.ExitStatus, 1);
  ExpectFolderKept(before, dir.Path(), {{}, c.Created});
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadOnlyFile, ::testing::ValuesIn(kReadOnlyCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- A file-size limit reached in the middle of a run ----------------------

TEST(FileSizeLimit, StopsWithItsCodeAndKeepsEveryByteWritten) {
  // A short text, and one large enough that its cipher text is written
  // behind on a second thread, where the limit is met.
  struct Case {
    const char* Name;
    int Repeats;
    rlim_t Limit;
  };
  const Case cases[] = {{"ShortText", 40, 1000}, {"LargeText", 40000, 300000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
    std::string text = ReadFile(dir.File("msg.txt"));
    for (int i = 0; i < c.Repeats; ++i) text += " NOCH EINMAL DER GANZE TEXT<*";
    WriteFile(dir.File("long.txt"), text + text);
    // The whole cipher text, made without a limit.
    ProcessResult whole =
        RunProcess(QuarvelPath(), {"C", "id", "key.txt", "whole.txt", "long.txt"}, In(dir));
    ASSERT_EQ(whole.ExitStatus, 0);
    const std::string cipher = ReadFile(dir.File("whole.txt"));
    ASSERT_GT(cipher.size(), c.Limit);

    const auto before = Snapshot(dir.Path());
    ProcessOptions options = In(dir);
    options.Limits = {{RLIMIT_FSIZE, c.Limit}};
    ProcessResult r =
        RunProcess(QuarvelPath(), {"C", "id", "key.txt", "old.txt", "long.txt"}, options);
    EXPECT_EQ(r.Signal, 0) << ::testing::PrintToString(r);
    EXPECT_EQ(r.ExitStatus, EFBIG) << ::testing::PrintToString(r);
    // Standard output is a file under the same limit: the line goes to
    // standard error when standard output has reached it.
    EXPECT_TRUE(ErrorLineAndDiagnostic(r, EFBIG)) << ::testing::PrintToString(r);
    // The target holds the cipher text up to the limit.
    EXPECT_TRUE(ReadFile(dir.File("old.txt")) == cipher.substr(0, c.Limit));
    ExpectFolderKept(before, dir.Path(), {{"old.txt"}, {}});
  }
}

// --- Old content of the files a run writes ---------------------------------

// Whatever a run writes into a file, the file's old bytes are gone at its
// end, as if it had not existed: longer old content than the new, a file
// that gets no byte at all, and a first byte that the file-size limit
// refuses.
TEST(OldContent, IsGoneAsIfTheFileHadNotExisted) {
  struct Case {
    const char* Name;
    bool Keys;
    std::vector<std::string> Args;
    std::vector<std::string> Written;
    rlim_t SizeLimit;  // RLIM_INFINITY for none
    int Status;
  };
  const Case cases[] = {
      {"CipherTextShorterThanTheOld",
       false,
       {"C", "id", "key.txt", "out.txt", "msg.txt"},
       {"out.txt"},
       RLIM_INFINITY,
       0},
      {"SeriesOfATextWithoutCharacters",
       true,
       {"C", "id", "key.txt", "out.txt", "head.txt", "add.out", "all.out"},
       {"out.txt", "add.out", "all.out"},
       RLIM_INFINITY,
       0},
      {"DecipheredTextAndSeries",
       true,
       {"D", "id", "key.txt", "enc.txt", "out.txt", "add.bin", "all.out"},
       {"out.txt", "add.bin", "all.out"},
       RLIM_INFINITY,
       0},
      {"FirstByteRefused",
       false,
       {"C", "id", "key.txt", "out.txt", "msg.txt"},
       {"out.txt"},
       0,
       EFBIG},
  };
  const std::string old(100000, 'X');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir fresh, overwritten;
    ProcessResult results[2];
    for (int i = 0; i < 2; ++i) {
      const TempDir& dir = i == 0 ? fresh : overwritten;
      ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
      WriteFile(dir.File("head.txt"), kHeader);
      for (const std::string& name : c.Written) {
        if (i == 1) WriteFile(dir.File(name), old);
      }
      ProcessOptions options = In(dir);
      if (c.SizeLimit != RLIM_INFINITY) options.Limits = {{RLIMIT_FSIZE, c.SizeLimit}};
      results[i] = RunProcess(ProgramPath(c.Keys), c.Args, options);
    }
    EXPECT_EQ(results[0].ExitStatus, c.Status) << ::testing::PrintToString(results[0]);
    EXPECT_EQ(results[1].ExitStatus, c.Status) << ::testing::PrintToString(results[1]);
    EXPECT_EQ(results[1].Out, results[0].Out);
    for (const std::string& name : c.Written) {
      const std::string got = ReadFile(overwritten.File(name));
      EXPECT_TRUE(got == ReadFile(fresh.File(name))) << name << " has " << got.size() << " bytes";
    }
  }
}

// --- Inputs that never end -------------------------------------------------

// A key file or source that is an endless device or a pipe that no one
// writes: the search for a keyword must not run or wait for ever.
TEST(EndlessInput, KeyFileOrSourceThatNeverEndsDoesNotHang) {
  struct Case {
    const char* Name;
    std::vector<std::string> Args;
  };
  const Case cases[] = {
      {"KeyFileOfZeros", {"C", "id", "/dev/zero", "old.txt", "msg.txt"}},
      {"SourceOfZeros", {"C", "id", "key.txt", "old.txt", "/dev/zero"}},
      {"KeyFileAPipe", {"C", "id", "fifo", "old.txt", "msg.txt"}},
      {"DecipherSourceAPipe", {"D", "id", "key.txt", "fifo", "old.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    ASSERT_NO_FATAL_FAILURE(PutFiles(dir));
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
    const auto before = Snapshot(dir.Path());
    ProcessOptions options = In(dir);
    options.TimeoutSeconds = 5;
    ProcessResult r = RunProcess(QuarvelPath(), c.Args, options);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Signal, 0);
    EXPECT_NE(r.ExitStatus, 0) << ::testing::PrintToString(r);
    ExpectFolderKept(before, dir.Path());
  }
}

}  // namespace
}  // namespace quarvel::testing
