// Large runs whose source changes while they run, and runs cut off: each
// is held in the middle of its text by a console that nobody reads (a pipe
// that fills), the source is cut short or changed there, and the console is
// read again. Every case runs with the second thread and held to one
// (QUARVEL_THREADS=1). Also a run that stops at a report leaves no file it
// created and keeps every other file, content and mode.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

// About 3 MiB of plain text after the header: words of letters and figures.
std::string LargePlainText() {
  std::mt19937 rng(18);
  const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,";
  std::string text = kHeader;
  while (text.size() < (3u << 20)) {
    for (int k = 1 + static_cast<int>(rng() % 9); k > 0; --k) text += chars[rng() % chars.size()];
    text += ' ';
  }
  return text;
}

std::int64_t SizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

// Waits until `done()` holds, for at most ten seconds.
template <typename Done>
bool WaitUntil(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ErrorLine(int code, const char* address) {
  char line[64];
  std::snprintf(line, sizeof line, "Runtime error%4d at %s\r\n", code, address);
  return line;
}

struct Threads {
  const char* Name;
  std::vector<std::string> Environment;
};
const Threads kThreads[] = {{"SecondThread", {}}, {"OneThread", {"QUARVEL_THREADS=1"}}};

class LargeRun : public ::testing::TestWithParam<Threads> {
 protected:
  void SetUp() override {
    PutExampleKey(Dir);
    WriteFile(Dir.File("plain.txt"), LargePlainText());
  }

  // Starts a run in the folder whose console is a pipe that is not read
  // until Finish(): the run stops in the middle of its text once the pipe
  // is full. Returns once the run has written to `target`.
  std::unique_ptr<Process> StartHeld(bool keys, char mode, const std::string& source,
                                     const std::string& target) {
    ProcessOptions options;
    options.WorkDir = Dir.Path();
    options.StdinPath = "/dev/null";
    options.Environment = GetParam().Environment;
    options.TimeoutSeconds = 60;
    ::unlink(Dir.File(target).c_str());
    auto run = std::make_unique<Process>(ProgramPath(keys),
                                         RunArgs(keys, mode, "key.txt", source, target), options);
    EXPECT_TRUE(WaitUntil([&] { return SizeOf(Dir.File(target)) > 0; }));
    return run;
  }

  // The cipher text of the whole plain text, as "cipher.txt".
  void Encipher() {
    ProcessResult r = RunIn(Dir, false, RunArgs(false, 'C', "key.txt", "plain.txt", "cipher.txt"));
    ASSERT_EQ(r.ExitStatus, 0);
  }

  TempDir Dir;
};

TEST_P(LargeRun, SourceCutShortIsAReadPastTheEnd) {
  ASSERT_NO_FATAL_FAILURE(Encipher());
  for (bool keys : {false, true}) {
    for (char mode : {'C', 'D'}) {
      SCOPED_TRACE(::testing::Message() << (keys ? "quarvel_keys " : "quarvel ") << mode);
      const std::string source = mode == 'C' ? "source.txt" : "source.cip";
      WriteFile(Dir.File(source), ReadFile(Dir.File(mode == 'C' ? "plain.txt" : "cipher.txt")));
      auto run = StartHeld(keys, mode, source, "out.txt");
      ASSERT_EQ(::truncate(Dir.File(source).c_str(), 3 << 19), 0);
      ProcessResult r = run->Finish();
      EXPECT_EQ(r.ExitStatus, 100);
      EXPECT_TRUE(EndsWith(r.Out, ErrorLine(100, "00010B2C"))) << r.Out.size();
      EXPECT_TRUE(EndsWith(r.Err, ": reading '" + source + "': read past the end of the file\n"))
          << r.Err;
    }
  }
}

TEST_P(LargeRun, ByteWithoutACodeAfterTheCheckStopsTheRun) {
  for (bool keys : {false, true}) {
    for (char byte : {'!', '[', '\xC3'}) {
      SCOPED_TRACE(::testing::Message() << (keys ? "quarvel_keys " : "quarvel ") << byte);
      WriteFile(Dir.File("source.txt"), ReadFile(Dir.File("plain.txt")));
      auto run = StartHeld(keys, 'C', "source.txt", "out.cip");
      const int fd = ::open(Dir.File("source.txt").c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::pwrite(fd, &byte, 1, 2 << 20), 1);
      ::close(fd);
      ProcessResult r = run->Finish();
      EXPECT_EQ(r.ExitStatus, 41);
      EXPECT_TRUE(EndsWith(r.Out, ErrorLine(41, "00010B2C"))) << r.Out.size();
      EXPECT_TRUE(EndsWith(r.Err, ": reading 'source.txt': the source changed during the run\n"))
          << r.Err;
      // The cipher text holds letters, blanks and line ends only, and ends
      // where the changed byte stood.
      const std::string cipher = ReadFile(Dir.File("out.cip"));
      ASSERT_EQ(cipher.compare(0, kHeader.size(), kHeader), 0);
      EXPECT_EQ(cipher.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ \r\n", kHeader.size()),
                std::string::npos);
      EXPECT_GT(cipher.size(), std::size_t{2} << 20);
      EXPECT_EQ(r.Out.substr(0, r.Out.size() - ErrorLine(41, "00010B2C").size()), cipher);
    }
  }
}

// An additive series that a run of quarvel_keys D overwrites loses its old
// bytes as the first new ones go out: killed in the middle, the run leaves
// a prefix of the series that the whole run writes, and nothing after it.
TEST_P(LargeRun, InterruptedSeriesIsAPrefixOfTheWholeSeries) {
  ASSERT_NO_FATAL_FAILURE(Encipher());
  const std::string old(std::size_t{5} << 20, '\x1F');
  WriteFile(Dir.File("add.bin"), old);
  ProcessResult whole = RunIn(Dir, true, RunArgs(true, 'D', "key.txt", "cipher.txt", "back.txt"));
  ASSERT_EQ(whole.ExitStatus, 0);
  const std::string series = ReadFile(Dir.File("add.bin"));
  ASSERT_GT(series.size(), std::size_t{2} << 20);
  ASSERT_LT(series.size(), old.size());

  WriteFile(Dir.File("add.bin"), old);
  auto run = StartHeld(true, 'D', "cipher.txt", "back.txt");
  // Killed once the series has lost its old bytes, and the run has gone on
  // to where its console holds it.
  EXPECT_TRUE(WaitUntil(
      [&] { return SizeOf(Dir.File("add.bin")) < static_cast<std::int64_t>(old.size()); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  run.reset();  // killed
  const std::string left = ReadFile(Dir.File("add.bin"));
  EXPECT_LT(left.size(), series.size());
  const auto differ = std::mismatch(left.begin(), left.end(), series.begin());
  EXPECT_TRUE(differ.first == left.end())
      << "the series differs at " << (differ.first - left.begin()) << " of " << left.size();
}

INSTANTIATE_TEST_SUITE_P(Threads, LargeRun, ::testing::ValuesIn(kThreads),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- A run that stops at a report ------------------------------------------

// Each report of both programs: a file error in each role, a refused key
// and a refused text. Each written file is new, or in turn there before the
// run with a mode of its own.
struct ReportCase {
  const char* Name;
  bool KeysOnly;  // a case of quarvel_keys alone
  char Mode;
  std::vector<std::string> Files;  // key file, source, target, additive, all-additive
  int Status;
};

const ReportCase kReports[] = {
    {"SourceMissing", false, 'C', {"key.txt", "missing.txt", "out.txt", "add.bin", "all.bin"}, 1},
    {"TargetNotCreated", false, 'C', {"key.txt", "msg.txt", "no/out.txt", "add.bin", "all.bin"}, 1},
    {"KeyFileMissing", false, 'D', {"missing.txt", "msg.txt", "out.txt", "add.bin", "all.bin"}, 1},
    {"AdditiveSeriesMissing", true, 'D', {"key.txt", "msg.txt", "out.txt", "no.bin", "all.bin"}, 1},
    {"AllAdditiveNotCreated", true, 'C', {"key.txt", "msg.txt", "out.txt", "add.bin", "no/a"}, 1},
    {"KeyRefused", false, 'C', {"nokey.txt", "msg.txt", "out.txt", "add.bin", "all.bin"}, 3},
    {"DecipherKeyRefused",
     false,
     'D',
     {"nokey.txt", "msg.txt", "out.txt", "add.bin", "all.bin"},
     3},
    {"TextRefused", false, 'C', {"key.txt", "refused.txt", "out.txt", "add.bin", "all.bin"}, 4},
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << c.Name;
}

class ReportLeavesNothing : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportLeavesNothing, CreatedFilesGoAndOldOnesStayAsTheyWere) {
  const ReportCase& c = GetParam();
  for (bool keys : {false, true}) {
    if (c.KeysOnly && !keys) continue;
    const std::vector<std::string> written =
        keys ? std::vector<std::string>{c.Files[2], c.Files[3], c.Files[4]}
             : std::vector<std::string>{c.Files[2]};
    for (std::size_t old = 0; old <= written.size(); ++old) {
      SCOPED_TRACE(::testing::Message() << (keys ? "quarvel_keys" : "quarvel") << ", there before: "
                                        << (old < written.size() ? written[old] : "none"));
      TempDir dir;
      PutExampleKey(dir);
      WriteFile(dir.File("nokey.txt"), "no key here\n");
      // A source that is both a plain text and a cipher text, and a text
      // with bytes without a code.
      WriteFile(dir.File("msg.txt"), kHeader + "BIUUY TNSWR\r\n");
      WriteFile(dir.File("refused.txt"), kHeader + "GR\xC3\x9C\xC3\x9F E");
      // Mode D overwrites an additive series that is there.
      if (keys && c.Mode == 'D' && c.Files[3] == "add.bin") {
        WriteFile(dir.File("add.bin"), "old series");
        ASSERT_EQ(::chmod(dir.File("add.bin").c_str(), 0640), 0);
      }
      // Names that start "no" stand for files that are not there.
      if (old < written.size() && written[old].rfind("no", 0) != 0) {
        WriteFile(dir.File(written[old]), "old bytes of " + written[old]);
        ASSERT_EQ(::chmod(dir.File(written[old]).c_str(), 0604), 0);
      }
      const auto before = Snapshot(dir.Path());
      std::vector<std::string> args = {std::string(1, c.Mode), "id", c.Files[0]};
      if (c.Mode == 'C') {
        args.insert(args.end(), {c.Files[2], c.Files[1]});
      } else {
        args.insert(args.end(), {c.Files[1], c.Files[2]});
      }
      if (keys) args.insert(args.end(), {c.Files[3], c.Files[4]});
      ProcessResult r = RunIn(dir, keys, args);
      EXPECT_EQ(r.ExitStatus, c.Status) << r.Out;
      ExpectFolderKept(before, dir.Path());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReportLeavesNothing, ::testing::ValuesIn(kReports),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace quarvel::testing
