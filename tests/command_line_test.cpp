// The command line, the usage line, the final wait and the run-time error
// line, in process and as processes of the built programs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "io/console.h"
#include "io/io_error.h"
#include "run/dispatch.h"
#include "tests/process_runner.h"

namespace quarvel {
namespace {

using testing::FileExists;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::QuarvelKeysPath;
using testing::QuarvelPath;
using testing::ReadFile;
using testing::RunProcess;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

const std::string kQuarvelUsage =
    "Aufruf: quarvel C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei";
const std::string kQuarvelKeysUsage =
    "Aufruf: quarvel_keys C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei "
    "Additionsreihe-Datei Alle-Additionsdatei";

TEST(CommandLine, ModeLetter) {
  struct Case {
    const char* Parameter;
    char Expected;
  };
  const Case cases[] = {
      {"C", 'C'}, {"c", 'C'}, {"D", 'D'}, {"d", 'D'},   {"decipher", 'D'}, {"cx", 'C'},
      {"x", 'X'}, {"1", '1'}, {"", 0},    {nullptr, 0}, {"\xE4", '\xE4'},  {"-c", '-'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ModeLetter(c.Parameter), c.Expected) << (c.Parameter ? c.Parameter : "(missing)");
  }
}

TEST(CommandLine, ParametersByPosition) {
  const char* argv[] = {"prog", "C", "id", "key", "cipher", "plain", "additive", "all", "extra"};
  RunParameters keys = ParseParameters(9, argv, Program::QuarvelKeys);
  EXPECT_EQ(keys.Identifier, "id");
  EXPECT_EQ(keys.KeyFileName, "key");
  EXPECT_EQ(keys.CipherTextName, "cipher");
  EXPECT_EQ(keys.PlainTextName, "plain");
  EXPECT_EQ(keys.AdditiveSeriesName, "additive");
  EXPECT_EQ(keys.AllAdditiveName, "all");

  // quarvel does not read parameters 6 and 7.
  RunParameters plain = ParseParameters(9, argv, Program::Quarvel);
  EXPECT_EQ(plain.KeyFileName, "key");
  EXPECT_EQ(plain.CipherTextName, "cipher");
  EXPECT_EQ(plain.PlainTextName, "plain");
  EXPECT_EQ(plain.AdditiveSeriesName, "");
  EXPECT_EQ(plain.AllAdditiveName, "");
}

TEST(CommandLine, MissingParametersReadAsEmpty) {
  const char* argv[] = {"prog", "C", "id", "key", "cipher", "plain", "additive", "all"};
  for (int argc = 1; argc <= 8; ++argc) {
    SCOPED_TRACE(argc);
    RunParameters p = ParseParameters(argc, argv, Program::QuarvelKeys);
    EXPECT_EQ(p.Identifier, argc > 2 ? "id" : "");
    EXPECT_EQ(p.KeyFileName, argc > 3 ? "key" : "");
    EXPECT_EQ(p.CipherTextName, argc > 4 ? "cipher" : "");
    EXPECT_EQ(p.PlainTextName, argc > 5 ? "plain" : "");
    EXPECT_EQ(p.AdditiveSeriesName, argc > 6 ? "additive" : "");
    EXPECT_EQ(p.AllAdditiveName, argc > 7 ? "all" : "");
  }
}

TEST(CommandLine, IdentifierCutNamesWhole) {
  const std::string id = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string name70(70, 'n');
  const std::string key70 = std::string(65, 'k') + ".txt1";
  const char* argv[] = {
      "prog",         "C",          id.c_str(), key70.c_str(), name70.c_str(), "plain-70.txt",
      name70.c_str(), key70.c_str()};
  RunParameters p = ParseParameters(8, argv, Program::QuarvelKeys);
  EXPECT_EQ(p.Identifier, "ABCDEFGHIJKLMNOPQRSTUV");
  EXPECT_EQ(p.KeyFileName, key70);
  EXPECT_EQ(p.CipherTextName, name70);
  EXPECT_EQ(p.AdditiveSeriesName, name70);
  EXPECT_EQ(p.AllAdditiveName, key70);
}

TEST(CommandLine, UsageLines) {
  EXPECT_EQ(UsageLine(Program::Quarvel), kQuarvelUsage);
  EXPECT_EQ(UsageLine(Program::QuarvelKeys), kQuarvelKeysUsage);
}

TEST(CommandLine, UsagePathAsProcess) {
  struct Target {
    std::string Path;
    std::string Usage;
  };
  const Target programs[] = {{QuarvelPath(), kQuarvelUsage},
                             {QuarvelKeysPath(), kQuarvelKeysUsage}};
  const std::vector<std::vector<std::string>> commandLines = {
      {"X", "id", "key.txt", "cipher.txt", "plain.txt"},
      {"", "id", "key.txt", "cipher.txt", "plain.txt"},
      {"--help"},
      {},
  };
  for (const Target& program : programs) {
    for (const auto& args : commandLines) {
      SCOPED_TRACE(program.Path + " " + (args.empty() ? "(no parameters)" : args[0]));
      TempDir dir;
      ProcessOptions options;
      options.Stdin = "\n";
      options.WorkDir = dir.Path();
      ProcessResult r = RunProcess(program.Path, args, options);
      EXPECT_FALSE(r.TimedOut);
      EXPECT_EQ(r.Out, program.Usage + "\r\n");
      EXPECT_EQ(r.ExitStatus, 2);
      // No run: no file is touched.
      EXPECT_EQ(testing::Snapshot(dir.Path()), testing::FolderSnapshot{});
    }
  }
}

// A folder with the example key file and message.
struct ExampleDir {
  TempDir Dir;
  ExampleDir() {
    WriteFile(Dir.File("key.txt"), ReadFile(SourceDir() + "/examples/key.txt"));
    WriteFile(Dir.File("message.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  }
  ProcessResult Run(const std::string& program, const std::vector<std::string>& args) const {
    ProcessOptions options;
    options.Stdin = "\n";
    options.WorkDir = Dir.Path();
    return RunProcess(program, args, options);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& [name, state] : testing::Snapshot(Dir.Path())) names.push_back(name);
    return names;
  }
};

TEST(CommandLine, ModeLetterInEitherCaseAsProcess) {
  ExampleDir ex;
  ProcessResult upper = ex.Run(QuarvelPath(), {"C", "id", "key.txt", "upper.cip", "message.txt"});
  ASSERT_EQ(upper.ExitStatus, 0);
  const std::string cipher = ReadFile(ex.Dir.File("upper.cip"));
  ASSERT_FALSE(cipher.empty());
  ProcessResult lower = ex.Run(QuarvelPath(), {"c", "id", "key.txt", "lower.cip", "message.txt"});
  EXPECT_EQ(lower.ExitStatus, 0);
  EXPECT_EQ(ReadFile(ex.Dir.File("lower.cip")), cipher);
  EXPECT_EQ(lower.Out, upper.Out);

  ProcessResult d = ex.Run(QuarvelPath(), {"D", "id", "key.txt", "upper.cip", "plain-D.txt"});
  ASSERT_EQ(d.ExitStatus, 0);
  const std::string plain = ReadFile(ex.Dir.File("plain-D.txt"));
  ASSERT_FALSE(plain.empty());
  for (const std::string mode : {"d", "dechiffrieren"}) {
    SCOPED_TRACE(mode);
    ProcessResult r = ex.Run(QuarvelPath(), {mode, "id", "key.txt", "upper.cip", "plain-d.txt"});
    EXPECT_EQ(r.ExitStatus, 0);
    EXPECT_EQ(r.Out, d.Out);
    EXPECT_EQ(ReadFile(ex.Dir.File("plain-d.txt")), plain);
  }
}

TEST(CommandLine, SeventyCharacterNamesAreUsedWhole) {
  ExampleDir ex;
  const std::string key = std::string(62, 'k') + "-key.txt";        // 70 characters
  const std::string plain = std::string(58, 'p') + "-message.txt";  // 70
  const std::string cipher = std::string(60, 'c') + "-ciph.text";   // 70
  ASSERT_EQ(key.size(), 70u);
  ASSERT_EQ(plain.size(), 70u);
  ASSERT_EQ(cipher.size(), 70u);
  std::filesystem::rename(ex.Dir.File("key.txt"), ex.Dir.File(key));
  std::filesystem::rename(ex.Dir.File("message.txt"), ex.Dir.File(plain));
  ProcessResult r = ex.Run(QuarvelPath(), {"C", "id", key, cipher, plain});
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_FALSE(ReadFile(ex.Dir.File(cipher)).empty());
  // The cut name would be 60 "c"; nothing by that name appears.
  std::vector<std::string> expected = {cipher, key, plain};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ex.Files(), expected);
}

TEST(CommandLine, QuarvelIgnoresParametersSixAndSeven) {
  ExampleDir ex;
  ProcessResult five = ex.Run(QuarvelPath(), {"C", "id", "key.txt", "five.cip", "message.txt"});
  ProcessResult seven = ex.Run(
      QuarvelPath(), {"C", "id", "key.txt", "seven.cip", "message.txt", "add.bin", "all.bin"});
  EXPECT_EQ(five.ExitStatus, 0);
  EXPECT_EQ(seven.ExitStatus, 0);
  EXPECT_EQ(seven.Out, five.Out);
  EXPECT_EQ(ReadFile(ex.Dir.File("seven.cip")), ReadFile(ex.Dir.File("five.cip")));
  EXPECT_FALSE(FileExists(ex.Dir.File("add.bin")));
  EXPECT_FALSE(FileExists(ex.Dir.File("all.bin")));
}

TEST(CommandLine, QuarvelKeysWithFiveParametersWritesTheSeriesToTheConsole) {
  ExampleDir ex;
  ProcessResult plain = ex.Run(QuarvelPath(), {"C", "id", "key.txt", "a.cip", "message.txt"});
  ProcessResult files = ex.Run(
      QuarvelKeysPath(), {"C", "id", "key.txt", "b.cip", "message.txt", "add.bin", "all.bin"});
  ProcessResult console = ex.Run(QuarvelKeysPath(), {"C", "id", "key.txt", "c.cip", "message.txt"});
  ASSERT_EQ(plain.ExitStatus, 0);
  ASSERT_EQ(files.ExitStatus, 0);
  EXPECT_EQ(console.ExitStatus, 0);
  const std::string cipher = ReadFile(ex.Dir.File("a.cip"));
  EXPECT_EQ(ReadFile(ex.Dir.File("c.cip")), cipher);
  const std::size_t series =
      ReadFile(ex.Dir.File("add.bin")).size() + ReadFile(ex.Dir.File("all.bin")).size();
  ASSERT_GT(series, 0u);
  EXPECT_EQ(console.Out.size(), plain.Out.size() + series);
}

// The final wait, on a console reading a pipe: what is left of the input
// after it shows how much it took.
std::string LeftAfterWait(const std::string& typed) {
  int in[2];
  if (::pipe(in) != 0) return "pipe failed";
  EXPECT_EQ(::write(in[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  ::close(in[1]);
  int out = ::open("/dev/null", O_WRONLY);
  std::string left;
  {
    Console console(in[0], out);
    console.WaitForLine();
    for (int c; (c = console.ReadChar()) >= 0;) left.push_back(static_cast<char>(c));
  }
  ::close(in[0]);
  ::close(out);
  return left;
}

TEST(FinalWait, TakesOneLineOrAnEmptyLineAndTheNext) {
  EXPECT_EQ(LeftAfterWait("ok\nrest"), "rest");
  EXPECT_EQ(LeftAfterWait("x\n\nrest"), "\nrest");
  // An empty line gives its line end as the character read; the skip then
  // runs to the end of the next line.
  EXPECT_EQ(LeftAfterWait("\nsecond\nrest"), "rest");
  // At the end of input the wait ends.
  EXPECT_EQ(LeftAfterWait("\n"), "");
  EXPECT_EQ(LeftAfterWait("no line end"), "");
  EXPECT_EQ(LeftAfterWait(""), "");
}

// Starts quarvel with parameter 1 "X" (no run, so it goes straight to the
// final wait) and standard input a pipe that stays open.
struct WaitingProcess : testing::Process {
  WaitingProcess() : Process(QuarvelPath(), {"X"}, Options()) {}
  static ProcessOptions Options() {
    ProcessOptions options;
    options.Stdout = testing::OutputTo::Path;
    options.StdoutPath = "/dev/null";
    options.CaptureInFiles = true;
    return options;
  }
};

TEST(FinalWait, AsProcess) {
  {
    WaitingProcess p;
    ASSERT_TRUE(p.Started());
    EXPECT_TRUE(p.Type("ok\n"));
    // It ends after one line, its input still open.
    ASSERT_TRUE(p.WaitFor(10));
    EXPECT_EQ(p.Finish().ExitStatus, 2);
  }
  {
    WaitingProcess p;
    ASSERT_TRUE(p.Started());
    EXPECT_TRUE(p.Type("\n"));
    EXPECT_FALSE(p.WaitFor(0.3));  // an empty line is not enough
    EXPECT_TRUE(p.Type("x\n"));
    ASSERT_TRUE(p.WaitFor(10));
    EXPECT_EQ(p.Finish().ExitStatus, 2);
  }
  // Input that ends: the wait ends with it.
  for (const std::string typed : {"\n", "\nx\n", ""}) {
    ProcessOptions options;
    options.Stdin = typed;
    ProcessResult r = RunProcess(QuarvelPath(), {"X"}, options);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitStatus, 2);
  }
}

TEST(RuntimeError, LineFormat) {
  // The code right-aligned in five places, its last digit in the fourth,
  // then the address of the failed operation in eight hexadecimal digits.
  struct Case {
    int Code;
    IoOp Op;
    std::string Prefix;
  };
  const Case cases[] = {
      {2, IoOp::Open, "Runtime error   2 at "},
      {28, IoOp::Write, "Runtime error  28 at "},
      {100, IoOp::Read, "Runtime error 100 at "},
  };
  const std::regex address("[0-9A-F]{8}\r\n");
  for (const Case& c : cases) {
    std::string line = RuntimeErrorLine(IoError{c.Code, c.Op});
    ASSERT_EQ(line.substr(0, c.Prefix.size()), c.Prefix);
    EXPECT_TRUE(std::regex_match(line.substr(c.Prefix.size()), address)) << line;
  }
}

TEST(RuntimeError, FullDeviceAsCipherText) {
  ExampleDir ex;
  ProcessResult r = ex.Run(QuarvelPath(), {"C", "id", "key.txt", "/dev/full", "message.txt"});
  EXPECT_EQ(r.ExitStatus, 28);
  std::smatch match;
  EXPECT_TRUE(
      std::regex_search(r.Out, match, std::regex("(^|\r\n)Runtime error  28 at [0-9A-F]{8}\r\n$")))
      << r.Out;
}

}  // namespace
}  // namespace quarvel
