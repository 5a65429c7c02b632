// The programs as a shell user meets them: the key file and the source given
// on standard input (a pipe or a redirected file) or protected from writing,
// a named pipe as target, input that answers the waits line by line, the
// console appended to the source, and too little memory. Most runs go
// through /bin/sh with the command line a user would type.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "io/console.h"
#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

// A shell word for `text` (paths here hold no single quote).
std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

std::string Command(const std::string& program, const std::vector<std::string>& args) {
  std::string line = Quoted(program);
  for (const std::string& a : args) {
    line += ' ';
    line += Quoted(a);
  }
  return line;
}

ProcessResult Shell(const TempDir& dir, const std::string& script, const std::string& input = "",
                    int timeoutSeconds = 20) {
  ProcessOptions options;
  options.Stdin = input;
  options.WorkDir = dir.Path();
  options.TimeoutSeconds = timeoutSeconds;
  return RunProcess("/bin/sh", {"-c", script}, options);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A text several buffers long, so that standard input, the copy of it and
// the run's buffers all fill more than once.
std::string LongMessage() {
  std::string text = ReadFile(SourceDir() + "/examples/message.txt");
  while (text.size() < 200000) text += "<*NOCH EINMAL #1234567890% ZEILEN UND ZEICHEN ?:()+-/=";
  return text;
}

// --- Inputs given any way a user gives them --------------------------------

enum class Given {
  Protected400,      // key file and source with mode 400
  Protected444,      // ... with mode 444
  PipedSource,       // source on standard input, a pipe
  PipedKey,          // key file on standard input, a pipe
  PipedBoth,         // key file and source both standard input, one text
  RedirectedSource,  // source on standard input, a file
  RedirectedKey,
  RedirectedBoth,
};

// Test names, in the order of Given.
constexpr const char* kGivenNames[] = {
    "Protected400", "Protected444",     "PipedSource",   "PipedKey",
    "PipedBoth",    "RedirectedSource", "RedirectedKey", "RedirectedBoth",
};

using InputCase = std::tuple<bool /* quarvel_keys */, char /* mode */, Given>;

class InputsGivenAnyWay : public ::testing::TestWithParam<InputCase> {};

// Every file a run writes, and what it showed.
struct RunResult {
  int ExitStatus;
  std::string Console;
  std::string Target;
  std::string AdditiveSeries;
  std::string AllAdditive;
};

void PrintTo(const RunResult& r, std::ostream* os) {
  *os << "exit " << r.ExitStatus << ", console " << ::testing::PrintToString(r.Console);
}

bool operator==(const RunResult& a, const RunResult& b) {
  return a.ExitStatus == b.ExitStatus && a.Console == b.Console && a.Target == b.Target &&
         a.AdditiveSeries == b.AdditiveSeries && a.AllAdditive == b.AllAdditive;
}

TEST_P(InputsGivenAnyWay, GiveTheSameRunAsWritableNamedFiles) {
  const auto [keys, mode, given] = GetParam();
  const std::string program = ProgramPath(keys);
  TempDir dir;
  // The example key with its basic key first: a key reader that took the
  // console as a stream would have passed it when it found the structure
  // key.
  std::string key = ExampleKeyText();
  const std::size_t basic = key.find("GRUNDSCHLUESSEL");
  ASSERT_NE(basic, std::string::npos);
  key = key.substr(basic) + key.substr(0, basic);
  WriteFile(dir.File("key.txt"), key);
  WriteFile(dir.File("msg.txt"), LongMessage());
  // One text that is both key file and source.
  WriteFile(dir.File("both.txt"), key + LongMessage());
  std::string keyName = "key.txt", sourceName = "msg.txt";
  const bool both = given == Given::PipedBoth || given == Given::RedirectedBoth;
  if (both) keyName = sourceName = "both.txt";
  if (mode == 'D') {
    // The cipher text of the same source, as the source of mode D.
    ProcessResult c = RunIn(dir, QuarvelPath(), {"C", "id", keyName, "enc.txt", sourceName});
    ASSERT_EQ(c.ExitStatus, 0) << c.Out;
    sourceName = "enc.txt";
    if (both) keyName = "enc.txt";
  }

  // The files of a run and its console, in the argument order of its mode.
  auto run = [&](const std::string& keyArg, const std::string& sourceArg, const std::string& tag,
                 auto&& start) {
    std::vector<std::string> args = {std::string(1, mode), "id", keyArg};
    const std::string target = "target." + tag;
    if (mode == 'C') {
      args.insert(args.end(), {target, sourceArg});
    } else {
      args.insert(args.end(), {sourceArg, target});
    }
    if (keys) args.insert(args.end(), {"add." + tag, "all." + tag});
    // Mode D needs an additive series that exists.
    if (keys && mode == 'D') WriteFile(dir.File("add." + tag), "old");
    ProcessResult r = start(args);
    EXPECT_FALSE(r.TimedOut);
    return RunResult{r.ExitStatus, r.Out, ReadFile(dir.File(target)),
                     keys ? ReadFile(dir.File("add." + tag)) : "",
                     keys ? ReadFile(dir.File("all." + tag)) : ""};
  };
  const RunResult named = run(keyName, sourceName, "named",
                              [&](const auto& args) { return RunIn(dir, program, args); });
  ASSERT_EQ(named.ExitStatus, 0) << named.Console;
  ASSERT_GT(named.Target.size(), 150000u);

  RunResult other{};
  switch (given) {
    case Given::Protected400:
    case Given::Protected444: {
      const mode_t bits = given == Given::Protected400 ? 0400 : 0444;
      ASSERT_EQ(chmod(dir.File(keyName).c_str(), bits), 0);
      ASSERT_EQ(chmod(dir.File(sourceName).c_str(), bits), 0);
      other = run(keyName, sourceName, "other",
                  [&](const auto& args) { return RunIn(dir, program, args); });
      break;
    }
    default: {
      const bool keyOnConsole = given != Given::PipedSource && given != Given::RedirectedSource;
      const bool sourceOnConsole = given != Given::PipedKey && given != Given::RedirectedKey;
      const bool piped =
          given == Given::PipedSource || given == Given::PipedKey || given == Given::PipedBoth;
      const std::string input = keyOnConsole ? keyName : sourceName;
      other = run(keyOnConsole ? "" : keyName, sourceOnConsole ? "" : sourceName, "other",
                  [&](const auto& args) {
                    if (piped) return Shell(dir, Command(program, args), ReadFile(dir.File(input)));
                    return Shell(dir, Command(program, args) + " < " + Quoted(input));
                  });
    }
  }
  EXPECT_EQ(other, named);
}

std::string InputCaseName(const ::testing::TestParamInfo<InputCase>& info) {
  return std::string(std::get<0>(info.param) ? "QuarvelKeys" : "Quarvel") +
         std::get<1>(info.param) + kGivenNames[static_cast<int>(std::get<2>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InputsGivenAnyWay,
    ::testing::Combine(::testing::Bool(), ::testing::Values('C', 'D'),
                       ::testing::Values(Given::Protected400, Given::Protected444,
                                         Given::PipedSource, Given::PipedKey, Given::PipedBoth,
                                         Given::RedirectedSource, Given::RedirectedKey,
                                         Given::RedirectedBoth)),
    InputCaseName);

// Where the copy of standard input cannot be made, the run stops with the
// run-time error line of the failed open before it has emptied anything.
TEST(ConsoleInput, CopyThatCannotBeMadeStopsBeforeAnythingIsEmptied) {
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("msg.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  WriteFile(dir.File("old.cip"), "the cipher text of yesterday");
  ProcessResult r =
      Shell(dir, "TMPDIR=$PWD/missing " +
                     Command(QuarvelPath(), {"C", "id", "key.txt", "old.cip", ""}) + " < msg.txt");
  char line[64];
  std::snprintf(line, sizeof line, "Runtime error%4d at 00010A14\r\n", ENOENT);
  EXPECT_EQ(r.Out, line);
  EXPECT_EQ(r.ExitStatus, ENOENT);
  EXPECT_EQ(ReadFile(dir.File("old.cip")), "the cipher text of yesterday");
  // Standard error names the folder of the copy.
  EXPECT_EQ(r.Err, "quarvel: opening '" + dir.File("missing") + "': No such file or directory\n");
}

// --- Waits take their line and no more --------------------------------------

struct WaitCase {
  const char* Name;
  std::string Prefix;  // shell commands before the run, in the same subshell
  std::vector<std::string> Args;
  std::string Answers;  // what the waits of the run take
  int ExitStatus;
};

void PrintTo(const WaitCase& c, std::ostream* os) {
  *os << c.Name;
}

// A report takes one character and leaves the rest of its line, which the
// final wait then reads as its character before it skips a line of its own.
const WaitCase kWaitCases[] = {
    {"FinalWait", "", {"C", "id", "key.txt", "out.cip", "msg.txt"}, "x\n", 0},
    {"UsageLineAndFinalWait", "", {"X"}, "x\n", 2},
    {"FileErrorReport", "", {"C", "id", "key.txt", "out.cip", "missing.txt"}, "a\nb\n", 1},
    {"KeyReport", "", {"C", "id", "msg.txt", "out.cip", "msg.txt"}, "a\nb\n", 3},
    // With no handle left for the key reader (standard streams and the three
    // files of the run take six), each of its three searches reports
    // " ERROR " and takes one character, then the key report one.
    {"KeyReaderErrors",
     "exec 3>&- 4>&- 5>&-; ulimit -n 6; ",
     {"C", "id", "key.txt", "out.cip", "msg.txt"},
     "abcde\n",
     3},
};

class WaitsLeaveTheRest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitsLeaveTheRest, ForTheNextReaderOfAPipeOrAFile) {
  const WaitCase& c = GetParam();
  for (const bool piped : {true, false}) {
    SCOPED_TRACE(piped ? "pipe" : "file");
    TempDir dir;
    PutExampleKey(dir);
    WriteFile(dir.File("msg.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
    const std::string input = c.Answers + "REST\nof the input\n";
    const std::string script =
        "(" + c.Prefix + Command(QuarvelPath(), c.Args) + "; echo \" exit $?\"; cat)";
    ProcessResult r;
    if (piped) {
      r = Shell(dir, script, input);
    } else {
      WriteFile(dir.File("input.txt"), input);
      r = Shell(dir, script + " < input.txt");
    }
    EXPECT_TRUE(EndsWith(r.Out, " exit " + std::to_string(c.ExitStatus) + "\nREST\nof the input\n"))
        << r.Out;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitsLeaveTheRest, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// The console's own reads, on a pipe and on a file: after each of them the
// input stands just behind what it used.
TEST(ConsoleInput, StandsBehindWhatItUsed) {
  struct Case {
    std::string Typed;
    bool WholeLine;  // WaitForLine, else one ReadChar
    std::string Left;
  };
  const Case cases[] = {
      {"ok\nrest\n", true, "rest\n"},
      {"ok\nrest\n", false, "k\nrest\n"},
      {"\nnext\nrest", true, "rest"},
      {"no line end", true, ""},
      // A line longer than the console's block of input.
      {std::string(5000, 'x') + "\nrest", true, "rest"},
  };
  for (const Case& c : cases) {
    for (const bool piped : {true, false}) {
      SCOPED_TRACE(c.Typed.substr(0, 20) + (piped ? " pipe" : " file"));
      TempDir dir;
      const std::string& typed = c.Typed;
      int in = -1;
      if (piped) {
        int p[2];
        ASSERT_EQ(::pipe(p), 0);
        ASSERT_EQ(::write(p[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        ::close(p[1]);
        in = p[0];
      } else {
        WriteFile(dir.File("typed"), typed);
        in = ::open(dir.File("typed").c_str(), O_RDONLY);
        ASSERT_GE(in, 0);
      }
      const int out = ::open("/dev/null", O_WRONLY);
      {
        Console console(in, out);
        if (c.WholeLine) {
          console.WaitForLine();
        } else {
          console.ReadChar();
        }
      }
      std::string left;
      char buf[8192];
      for (ssize_t n; (n = ::read(in, buf, sizeof buf)) > 0;) left.append(buf, n);
      EXPECT_EQ(left, c.Left);
      ::close(in);
      ::close(out);
    }
  }
}

// --- Written files that are not regular files --------------------------------

// The run waits for the reader as `cat > pipe` does, and the reader gets
// every byte, with a text that fills the pipe many times or a short one.
TEST(NamedPipe, AsAWrittenFileGivesItsLaterReaderEverything) {
  struct Case {
    const char* Name;
    bool Keys;
    bool Long;
    std::vector<std::string> Args;  // "pipe" is the named pipe
    std::string Written;            // the file that "pipe" stands for
  };
  const Case cases[] = {
      {"EncipherTarget", false, true, {"C", "id", "key.txt", "pipe", "msg.txt"}, "out"},
      {"ShortEncipherTarget", false, false, {"C", "id", "key.txt", "pipe", "msg.txt"}, "out"},
      {"DecipherTarget", false, true, {"D", "id", "key.txt", "enc.txt", "pipe"}, "out"},
      {"AllAdditiveFile",
       true,
       true,
       {"C", "id", "key.txt", "out", "msg.txt", "add.bin", "pipe"},
       "all.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    PutExampleKey(dir);
    WriteFile(dir.File("msg.txt"),
              c.Long ? LongMessage() : ReadFile(SourceDir() + "/examples/message.txt"));
    ASSERT_EQ(RunIn(dir, QuarvelPath(), {"C", "id", "key.txt", "enc.txt", "msg.txt"}).ExitStatus,
              0);
    const std::string program = ProgramPath(c.Keys);
    std::vector<std::string> args = c.Args;
    for (std::string& a : args) {
      if (a == "pipe") a = c.Written;
    }
    ProcessResult named = RunIn(dir, program, args);
    ASSERT_EQ(named.ExitStatus, 0);
    const std::string expected = ReadFile(dir.File(c.Written));
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(::unlink(dir.File(c.Written).c_str()), 0);

    // The reader comes a little later; `timeout` keeps a run or a reader
    // that waits for ever from outliving the test.
    ProcessResult r = Shell(dir,
                            "mkfifo pipe || exit 99; timeout 10 " + Command(program, c.Args) +
                                " < /dev/null & run=$!; sleep 0.2; timeout 10 cat pipe > got; "
                                "wait $run",
                            "", 30);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitStatus, 0) << r.Out;
    EXPECT_EQ(ReadFile(dir.File("got")), expected);
  }
}

// --- The console appended to an input --------------------------------------

TEST(ConsoleAppendedToTheSource, EndsAndKeepsTheOldContent) {
  for (const char mode : {'C', 'D'}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    PutExampleKey(dir);
    WriteFile(dir.File("msg.txt"), LongMessage());
    ASSERT_EQ(RunIn(dir, QuarvelPath(), {"C", "id", "key.txt", "enc.txt", "msg.txt"}).ExitStatus,
              0);
    const std::string source = mode == 'C' ? "msg.txt" : "enc.txt";
    auto args = [&](const std::string& target) {
      return mode == 'C' ? std::vector<std::string>{"C", "id", "key.txt", target, source}
                         : std::vector<std::string>{"D", "id", "key.txt", source, target};
    };
    ProcessResult alone = RunIn(dir, QuarvelPath(), args("alone.txt"));
    ASSERT_EQ(alone.ExitStatus, 0);
    const std::string old = ReadFile(dir.File(source));

    // A file-size limit and `timeout` stop a run that would grow its source
    // without end.
    ProcessResult r =
        Shell(dir,
              "ulimit -f 20000; exec timeout 10 " + Command(QuarvelPath(), args("out.txt")) +
                  " < /dev/null >> " + source,
              "", 30);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitStatus, 0);
    EXPECT_EQ(ReadFile(dir.File(source)), old + alone.Out);
    EXPECT_EQ(ReadFile(dir.File("out.txt")), ReadFile(dir.File("alone.txt")));
  }
}

// --- Too little memory -----------------------------------------------------

// Under address-space limits from one at which the run just succeeds down to
// one at which the program cannot start, every run ends either complete or
// with the run-time error line of code 12, the files as they were; none ends
// by an abort. At least one limit gives the error line.
TEST(OutOfMemory, IsTheRunTimeErrorStopWithCode12) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#elif defined(QUARVEL_UNDER_EMULATOR)
  GTEST_SKIP() << "an address-space limit holds the emulator, not the program alone";
#else
  TempDir dir;
  PutExampleKey(dir);
  const std::string message = ReadFile(SourceDir() + "/examples/message.txt");
  WriteFile(dir.File("msg.txt"), message);
  // A text large enough for the run to take a second thread and its buffers.
  std::string large = message;
  while (large.size() < (2u << 20)) large += " NOCH EINMAL<*";
  WriteFile(dir.File("large.txt"), large);
  const std::string kOld = "the cipher text of yesterday";
  // The large text with the second thread and held to one.
  const std::pair<const char*, const char*> runs[] = {
      {"msg.txt", ""}, {"large.txt", ""}, {"large.txt", "QUARVEL_THREADS=1 "}};
  for (const auto& [source, threads] : runs) {
    SCOPED_TRACE(std::string(threads) + source);
    const std::vector<std::string> args = {"C", "id", "key.txt", "out.cip", source};
    // The shell sets the limit: in a cross build the test program runs under
    // the emulator, which does not pass an address-space limit on.
    auto runUnder = [&](long kib) {
      WriteFile(dir.File("out.cip"), kOld);
      return Shell(dir, "ulimit -v " + std::to_string(kib) + " && " + threads + "exec " +
                            Command(QuarvelPath(), args) + " < /dev/null");
    };
    // The least limit at which the run succeeds, to 8 KiB.
    long low = 64, high = 256 * 1024;
    ASSERT_EQ(runUnder(high).ExitStatus, 0);
    while (high - low > 8) {
      long middle = (low + high) / 2;
      (runUnder(middle).ExitStatus == 0 ? high : low) = middle;
    }
    char line[64];
    std::snprintf(line, sizeof line, "Runtime error%4d at 000113D0\r\n", ENOMEM);
    int stops = 0;
    for (long kib = high - 8; kib > 0; kib -= 8) {
      SCOPED_TRACE(kib);
      ProcessResult r = runUnder(kib);
      ASSERT_NE(r.Signal, SIGABRT) << r.Err;
      if (r.Out.empty() && r.ExitStatus != 0 && r.ExitStatus != ENOMEM) break;  // did not start
      if (r.ExitStatus == ENOMEM) {
        ++stops;
        EXPECT_TRUE(EndsWith(r.Out, line)) << r.Out.size();
        EXPECT_EQ(r.Err, "quarvel: allocating memory: Cannot allocate memory\n");
        EXPECT_EQ(ReadFile(dir.File("out.cip")), kOld);
      } else {
        EXPECT_EQ(r.ExitStatus, 0) << r.Out.size() << r.Err;
      }
    }
    EXPECT_GT(stops, 0);
  }
#endif
}

// A run whose second thread cannot have its memory goes on with one: under
// every address-space limit from where a run held to one thread just fails
// to well above where it succeeds, a run that succeeds on one thread
// succeeds with the second too, with the same files and console output.
// quarvel enciphering, and quarvel_keys deciphering over an additive series.
TEST(OutOfMemory, TheSecondThreadNeverTakesWhatOneThreadNeeds) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#elif defined(QUARVEL_UNDER_EMULATOR)
  GTEST_SKIP() << "an address-space limit holds the emulator, not the program alone";
#else
  TempDir dir;
  PutExampleKey(dir);
  std::string large = ReadFile(SourceDir() + "/examples/message.txt");
  // Just large enough for the second thread.
  while (large.size() < (9u << 17)) large += " NOCH EINMAL<*";
  WriteFile(dir.File("large.txt"), large);
  ASSERT_EQ(RunIn(dir, false, {"C", "id", "key.txt", "large.cip", "large.txt"}).ExitStatus, 0);
  for (const auto& [keys, mode] : {std::pair{false, "C"}, std::pair{true, "D"}}) {
    {
      SCOPED_TRACE(::testing::Message() << (keys ? "quarvel_keys " : "quarvel ") << mode);
      const bool decipher = mode[0] == 'D';
      std::vector<std::string> args = {mode, "id", "key.txt", decipher ? "large.cip" : "out.cip",
                                       decipher ? "out.txt" : "large.txt"};
      if (keys) args.insert(args.end(), {"add.bin", "all.bin"});
      const std::string written = decipher ? "out.txt" : "out.cip";
      // The console output and the files written.
      auto runUnder = [&](long kib, bool oneThread) {
        for (const char* name : {"out.cip", "out.txt", "all.bin"}) ::unlink(dir.File(name).c_str());
        WriteFile(dir.File("add.bin"), "old series");
        ProcessResult r = Shell(dir, "ulimit -v " + std::to_string(kib) + " && " +
                                         (oneThread ? "QUARVEL_THREADS=1 " : "") + "exec " +
                                         Command(ProgramPath(keys), args) + " < /dev/null");
        std::vector<std::string> outputs = {r.Out, ReadFile(dir.File(written))};
        if (keys) {
          outputs.push_back(ReadFile(dir.File("add.bin")));
          outputs.push_back(ReadFile(dir.File("all.bin")));
        }
        return std::make_pair(r.ExitStatus, outputs);
      };
      // The least limit at which the run on one thread succeeds, to 16 KiB;
      // the second thread and all it takes come to about 1.5 MiB more.
      long low = 64, high = 256 * 1024;
      ASSERT_EQ(runUnder(high, true).first, 0);
      while (high - low > 16) {
        long middle = (low + high) / 2;
        (runUnder(middle, true).first == 0 ? high : low) = middle;
      }
      int bothRan = 0;
      for (long kib = high - 64; kib < high + 2560; kib += 40) {
        SCOPED_TRACE(kib);
        const auto one = runUnder(kib, true);
        if (one.first != 0) continue;
        const auto two = runUnder(kib, false);
        EXPECT_EQ(two.first, 0);
        EXPECT_TRUE(two.second == one.second);
        ++bothRan;
      }
      EXPECT_GT(bothRan, 50);
    }
  }
#endif
}

}  // namespace
}  // namespace quarvel::testing
