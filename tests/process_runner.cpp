#include "tests/process_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quarvel::testing {

void PrintTo(const ProcessResult& r, std::ostream* os) {
  *os << "exit " << r.ExitStatus << ", signal " << r.Signal << (r.TimedOut ? ", timed out" : "")
      << "\nstdout: " << ::testing::PrintToString(r.Out)
      << "\nstderr: " << ::testing::PrintToString(r.Err);
}

namespace {

// An unnamed regular file to capture an output in.
int CaptureFile() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarvel-out-XXXXXX").string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(pattern.c_str());
  return fd;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char buf[65536];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  return bytes;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Makes a pipe to or from the child: returns the child's end (the reading
// end when `childReads`) and puts the other in `ours`.
int Pipe(int& ours, bool childReads) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  ours = fds[childReads ? 1 : 0];
  return fds[childReads ? 0 : 1];
}

// Puts `fd` on descriptor `target` of the child, or ends the child.
void MoveTo(int fd, int target) {
  if (fd < 0 || dup2(fd, target) < 0) _exit(126);
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const ProcessOptions& options)
    : options_(options), pending_(options.Stdin) {
  // Everything the child needs is made before the fork: it only moves
  // descriptors, sets limits and starts the program.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('=') + 1);
    if (std::none_of(
            options.Environment.begin(), options.Environment.end(),
            [&](const std::string& set) { return set.compare(0, name.size(), name) == 0; })) {
      environment.push_back(text);
    }
  }
  environment.insert(environment.end(), options.Environment.begin(), options.Environment.end());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  // Descriptors 0, 1 and 2 of the child, and our ends of its pipes.
  int childIn = -1, childOut = -1, childErr = -1;
  if (!options.CloseStdin && options.StdinPath.empty()) {
    childIn = Pipe(in_, true);
  } else if (!options.CloseStdin) {
    childIn = open(options.StdinPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (childIn < 0) throw std::runtime_error("cannot open " + options.StdinPath);
  }
  switch (options.Stdout) {
    case OutputTo::Captured:
      if (options.CaptureInFiles) {
        childOut = outFile_ = CaptureFile();
      } else {
        childOut = Pipe(out_, false);
      }
      break;
    case OutputTo::Path:
      childOut = open(options.StdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (childOut < 0) throw std::runtime_error("cannot open " + options.StdoutPath);
      break;
    case OutputTo::Closed:
      break;
    case OutputTo::BrokenPipe: {
      int reader = -1;
      childOut = Pipe(reader, false);
      CloseFd(reader);
      break;
    }
  }
  if (options.CaptureInFiles) {
    childErr = errFile_ = CaptureFile();
  } else {
    childErr = Pipe(err_, false);
  }
  // Input to a process that has ended fails the write, not the test.
  signal(SIGPIPE, SIG_IGN);

  pid_ = fork();
  if (pid_ == 0) {
    if (!options.WorkDir.empty() && chdir(options.WorkDir.c_str()) != 0) _exit(126);
    // dup2 leaves the new descriptors open across exec.
    if (childIn >= 0) MoveTo(childIn, 0);
    if (childOut >= 0) MoveTo(childOut, 1);
    MoveTo(childErr, 2);
    if (childIn < 0) close(0);
    if (childOut < 0) close(1);
    if (close_range(3, ~0u, 0) != 0) {
      for (int fd = 3; fd < 1024; ++fd) close(fd);
    }
    for (int sig : {SIGPIPE, SIGXFSZ}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const ResourceLimit& limit : options.Limits) {
      const rlimit value{limit.Value, limit.Value};
      if (setrlimit(limit.Resource, &value) != 0) _exit(126);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  // Only our own ends stay open here.
  if (childIn != in_) close(childIn);
  if (childOut >= 0 && childOut != outFile_) close(childOut);
  if (childErr != errFile_) close(childErr);
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (in_ >= 0) fcntl(in_, F_SETFL, O_NONBLOCK);
}

Process::~Process() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    Reap(0);
  }
  for (int* fd : {&in_, &out_, &err_, &outFile_, &errFile_}) CloseFd(*fd);
}

void Process::Reap(int flags) {
  int status = 0;
  if (ended_ || waitpid(pid_, &status, flags) != pid_) return;
  ended_ = true;
  if (WIFEXITED(status)) result_.ExitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result_.Signal = WTERMSIG(status);
}

// Writes pending input and reads the output pipes until the process has
// ended and closed them (or, with `untilWritten`, until the input is
// written); false when `seconds` pass first.
bool Process::Pump(double seconds, bool untilWritten) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  char buf[65536];
  for (;;) {
    if (in_ >= 0 && pending_.empty() && endInput_) CloseFd(in_);
    Reap(WNOHANG);
    if (untilWritten && pending_.empty()) return true;
    if (ended_ && out_ < 0 && err_ < 0) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd fds[3];
    int n = 0;
    if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
    if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
    if (in_ >= 0 && !pending_.empty()) fds[n++] = {in_, POLLOUT, 0};
    // The end of the process is looked for now and then, often once its
    // pipes are closed.
    const long step = ended_ ? left : n == 0 ? 2 : 20;
    const int wait = static_cast<int>(std::min<long>(left, step));
    if (poll(fds, static_cast<nfds_t>(n), wait) < 0 && errno != EINTR) return false;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_) {
        const ssize_t w = write(in_, pending_.data(), pending_.size());
        if (w > 0) pending_.erase(0, static_cast<size_t>(w));
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
          pending_.clear();
          inputFailed_ = true;
          CloseFd(in_);
        }
        continue;
      }
      int& fd = fds[i].fd == out_ ? out_ : err_;
      const ssize_t r = read(fd, buf, sizeof buf);
      if (r > 0) {
        (&fd == &out_ ? result_.Out : result_.Err).append(buf, static_cast<size_t>(r));
      } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
        CloseFd(fd);
      }
    }
  }
}

bool Process::Type(const std::string& text) {
  if (in_ < 0) return false;
  pending_ += text;
  return Pump(options_.TimeoutSeconds, true) && !inputFailed_;
}

bool Process::WaitFor(double seconds) {
  return Pump(seconds, false) && ended_;
}

ProcessResult Process::Finish() {
  endInput_ = true;
  if (!Pump(options_.TimeoutSeconds, false)) {
    result_.TimedOut = true;
    if (!ended_) kill(pid_, SIGKILL);
    Reap(0);
  }
  for (int* fd : {&in_, &out_, &err_}) CloseFd(*fd);
  if (outFile_ >= 0) result_.Out = ReadAll(outFile_);
  if (errFile_ >= 0) result_.Err = ReadAll(errFile_);
  return result_;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  return Process(program, args, options).Finish();
}

std::string QuarvelPath() {
  return QUARVEL_BIN;
}
std::string QuarvelKeysPath() {
  return QUARVEL_KEYS_BIN;
}
std::string SourceDir() {
  return QUARVEL_SOURCE_DIR;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarvel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission so that read-only fixtures can be removed.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
    chmod(entry.path().c_str(), 0700);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool FileState::Regular() const {
  return S_ISREG(Mode);
}

void PrintTo(const FileState& f, std::ostream* os) {
  *os << "mode " << std::oct << f.Mode << std::dec << ", " << ::testing::PrintToString(f.Bytes);
}

FolderSnapshot Snapshot(const std::string& dir) {
  FolderSnapshot files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string path = entry.path().string();
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    FileState& f = files[entry.path().filename().string()];
    f.Mode = st.st_mode;
    if (S_ISREG(st.st_mode)) {
      f.Bytes = ReadFile(path);
    } else if (S_ISLNK(st.st_mode)) {
      f.Bytes = std::filesystem::read_symlink(entry.path(), ec).string();
    }
  }
  return files;
}

void ExpectFolderKept(const FolderSnapshot& before, const std::string& dir,
                      const FolderChanges& changes) {
  auto listed = [](const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  const FolderSnapshot after = Snapshot(dir);
  for (const auto& [name, state] : before) {
    if (listed(changes.Written, name)) continue;
    const auto found = after.find(name);
    if (found == after.end()) {
      ADD_FAILURE() << name << " is gone";
    } else {
      EXPECT_EQ(found->second, state) << name << " changed";
    }
  }
  for (const std::string& name : changes.Created) {
    EXPECT_EQ(before.count(name), 0u) << name << " was there before";
    const auto found = after.find(name);
    if (found == after.end()) {
      ADD_FAILURE() << name << " was not made";
    } else {
      EXPECT_TRUE(found->second.Regular() && found->second.Bytes.empty())
          << name << ": " << ::testing::PrintToString(found->second);
    }
  }
  for (const auto& [name, state] : after) {
    EXPECT_TRUE(before.count(name) != 0 || listed(changes.Created, name)) << "new file " << name;
  }
}

}  // namespace quarvel::testing
