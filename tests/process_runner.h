// Runs a built program as a process, with given standard input, and captures
// its standard output and exit status.
#pragma once

#include <string>
#include <vector>

namespace quarvel::testing {

struct ProcessResult {
  std::string Out;      // standard output, byte for byte
  std::string Err;      // standard error
  int ExitStatus = -1;  // exit status, or -1 when ended by a signal
  int Signal = 0;       // the signal that ended it, if any
  bool TimedOut = false;
};

struct ProcessOptions {
  std::string Stdin;         // bytes given on standard input, then end of input
  bool CloseStdin = false;   // start with standard input closed
  bool CloseStdout = false;  // start with standard output closed
  std::string StdoutPath;    // when set, standard output goes to this file
  std::string WorkDir;       // when set, the process starts there
  int TimeoutSeconds = 20;
  // When set, standard input comes from this file instead of Stdin.
  std::string StdinPath;
  // NAME=value entries set for the process, over the environment it inherits.
  std::vector<std::string> Environment;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// Paths of the two programs as built.
std::string QuarvelPath();
std::string QuarvelKeysPath();
// The project's source folder (examples, fixtures).
std::string SourceDir();

// A fresh temporary folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path of a file in the folder.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

}  // namespace quarvel::testing
