// Starts the built programs as processes, the way a shell or a failing
// system would: standard streams given, redirected, closed or broken,
// resource limits, environment, a working folder and a time limit; captures
// standard output and standard error. Also temporary folders, file helpers
// and a snapshot of a folder's files to compare before and after a run.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace quarvel::testing {

struct ProcessResult {
  std::string Out;      // standard output, byte for byte, when captured
  std::string Err;      // standard error
  int ExitStatus = -1;  // exit status, or -1 when ended by a signal
  int Signal = 0;       // the signal that ended it, if any
  bool TimedOut = false;
};

void PrintTo(const ProcessResult& r, std::ostream* os);

// Where standard output goes.
enum class OutputTo {
  Captured,    // captured into ProcessResult::Out
  Path,        // the file at ProcessOptions::StdoutPath (created, emptied), not captured
  Closed,      // descriptor 1 closed
  BrokenPipe,  // a pipe whose reader is gone
};

// A limit set for the process, soft and hard, e.g. {RLIMIT_NOFILE, 6}. A
// user-mode emulator that runs the tests passes no memory limit (RLIMIT_AS,
// RLIMIT_DATA, RLIMIT_STACK) on: a test that needs one has a shell set it.
struct ResourceLimit {
  int Resource;
  rlim_t Value;
};

struct ProcessOptions {
  // Standard input: with CloseStdin, descriptor 0 closed; else the file at
  // StdinPath when set; else the bytes of Stdin, then its end.
  std::string Stdin;
  std::string StdinPath;
  bool CloseStdin = false;
  OutputTo Stdout = OutputTo::Captured;
  std::string StdoutPath;
  // Captured output goes through unnamed regular files, read after the end,
  // instead of pipes: the program writes to files, under its file limits.
  bool CaptureInFiles = false;
  std::string WorkDir;  // when set, the process starts there
  // NAME=value entries set for the process, over the environment it inherits.
  std::vector<std::string> Environment;
  std::vector<ResourceLimit> Limits;
  int TimeoutSeconds = 20;  // then the process is killed
};

// A started program. As a shell starts it, the signals a failed write raises
// (SIGPIPE, SIGXFSZ) have their default action and no signal is blocked; it
// has no descriptor but its standard streams. The destructor kills a process
// still running.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const ProcessOptions& options = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  // Gives `text` on standard input, after options.Stdin and earlier text,
  // and waits until it is in the pipe; false when it could not be given
  // (the process no longer reads).
  bool Type(const std::string& text);
  // Waits at most `seconds` for the process to end; true when it has ended.
  bool WaitFor(double seconds);
  // Ends standard input once everything given is written, waits for the end
  // (killing the process after options.TimeoutSeconds) and returns the result.
  ProcessResult Finish();

 private:
  bool Pump(double seconds, bool untilWritten);
  void Reap(int flags);

  ProcessOptions options_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int in_ = -1, out_ = -1, err_ = -1;  // our ends of its pipes
  int outFile_ = -1, errFile_ = -1;    // capture files
  std::string pending_;                // input not yet written
  bool endInput_ = false;              // close input once pending_ is written
  bool inputFailed_ = false;
  ProcessResult result_;
};

// Runs a program to its end with the given options.
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

// One entry of a folder as a snapshot holds it: the type and permission
// bits, and the bytes of a regular file or the target of a symbolic link.
struct FileState {
  std::string Bytes;
  mode_t Mode = 0;
  bool Regular() const;
  bool operator==(const FileState&) const = default;
};
void PrintTo(const FileState& f, std::ostream* os);

// Every entry of a folder (not of the folders in it) by name; empty when
// the folder does not exist. Links are not followed; pipes are not read.
using FolderSnapshot = std::map<std::string, FileState>;
FolderSnapshot Snapshot(const std::string& dir);

// What a run may have done to a folder since `before`.
struct FolderChanges {
  std::vector<std::string> Written;  // may have changed, or gone
  std::vector<std::string> Created;  // new, and empty
};

// Every entry of `before` that is not in `changes.Written` is still there
// with its bytes and mode; the entries of `changes.Created` are new empty
// files; there is nothing else.
void ExpectFolderKept(const FolderSnapshot& before, const std::string& dir,
                      const FolderChanges& changes = {});

}  // namespace quarvel::testing
