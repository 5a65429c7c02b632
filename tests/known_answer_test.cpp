// Known answers: every case folder under tests/vectors holds a command line,
// the files present before the run (in/), and what the run must leave: the
// console output (stdout), the exit status (status) and every file it created
// or changed (out/), and optionally the most descriptors the process may
// hold open (open_files). The programs run as processes in a fresh folder with
// standard input from /dev/null, once for each instruction-set tier that
// QUARVEL_ISA can ask for; the tier must change no byte.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/process_runner.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

std::string VectorsDir() {
  return SourceDir() + "/tests/vectors";
}

std::vector<std::string> CaseNames() {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(VectorsDir())) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

using KnownAnswerParam = std::tuple<std::string, std::string>;  // case folder, tier

class KnownAnswerTest : public ::testing::TestWithParam<KnownAnswerParam> {};

TEST_P(KnownAnswerTest, RunGivesStoredResults) {
  const auto& [name, tier] = GetParam();
  const std::string dir = VectorsDir() + "/" + name;
  std::vector<std::string> command = Words(ReadFile(dir + "/command"));
  ASSERT_FALSE(command.empty()) << dir << "/command is empty";
  ASSERT_TRUE(command[0] == "quarvel" || command[0] == "quarvel_keys") << command[0];

  TempDir work;
  const FolderSnapshot before = Snapshot(dir + "/in");
  for (const auto& [file, state] : before) WriteFile(work.File(file), state.Bytes);

  ProcessOptions options;
  options.StdinPath = "/dev/null";
  options.WorkDir = work.Path();
  options.Environment = {"QUARVEL_ISA=" + tier};
  if (FileExists(dir + "/open_files")) {
    options.Limits = {
        {RLIMIT_NOFILE, static_cast<rlim_t>(std::stoul(ReadFile(dir + "/open_files")))}};
  }
  ProcessResult r = RunProcess(command[0] == "quarvel" ? QuarvelPath() : QuarvelKeysPath(),
                               {command.begin() + 1, command.end()}, options);

  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.Signal, 0);
  EXPECT_EQ(std::to_string(r.ExitStatus) + "\n", ReadFile(dir + "/status"));
  EXPECT_EQ(r.Out, ReadFile(dir + "/stdout"));

  // The folder must hold the files of in/, replaced or joined by those of
  // out/, and nothing else.
  FolderSnapshot expected = before;
  for (auto& [file, state] : Snapshot(dir + "/out")) expected[file] = state;
  const FolderSnapshot actual = Snapshot(work.Path());
  for (const auto& [file, state] : expected) {
    auto found = actual.find(file);
    if (found == actual.end()) {
      ADD_FAILURE() << file << " is missing";
    } else {
      EXPECT_TRUE(found->second.Regular()) << file << " is not a regular file";
      EXPECT_EQ(found->second.Bytes, state.Bytes) << "in " << file;
    }
  }
  for (const auto& [file, state] : actual) {
    EXPECT_TRUE(expected.count(file)) << "unexpected file " << file;
  }
}

// The README's example is a case of its own, on the files of examples/.
TEST(KnownAnswerExampleTest, ExampleCaseHoldsTheExampleFiles) {
  const std::string dir = VectorsDir() + "/example_encipher";
  EXPECT_EQ(ReadFile(dir + "/in/key.txt"), ReadFile(SourceDir() + "/examples/key.txt"));
  EXPECT_EQ(ReadFile(dir + "/in/message.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  EXPECT_TRUE(FileExists(dir + "/out/message.cip"));
}

std::string ParamName(const ::testing::TestParamInfo<KnownAnswerParam>& info) {
  return std::get<0>(info.param) + "_" + std::get<1>(info.param);
}

INSTANTIATE_TEST_SUITE_P(Vectors, KnownAnswerTest,
                         ::testing::Combine(::testing::ValuesIn(CaseNames()),
                                            ::testing::Values("portable", "avx2", "avx512")),
                         ParamName);

}  // namespace
}  // namespace quarvel::testing
