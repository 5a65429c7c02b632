#include "tests/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quarvel::testing {

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // The environment of the process: ours, with the given entries set.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    bool replaced = false;
    for (const std::string& set : options.Environment) {
      if (text.substr(0, text.find('=') + 1) == set.substr(0, set.find('=') + 1)) replaced = true;
    }
    if (!replaced) environment.push_back(text);
  }
  environment.insert(environment.end(), options.Environment.begin(), options.Environment.end());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!options.WorkDir.empty() && chdir(options.WorkDir.c_str()) != 0) _exit(127);
    if (!options.StdinPath.empty()) {
      int fd = open(options.StdinPath.c_str(), O_RDONLY);
      if (fd < 0) _exit(127);
      dup2(fd, 0);
      close(fd);
    } else {
      dup2(inPipe[0], 0);
    }
    if (!options.StdoutPath.empty()) {
      int fd = open(options.StdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) _exit(127);
      dup2(fd, 1);
      close(fd);
    } else {
      dup2(outPipe[1], 1);
    }
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    if (options.CloseStdin) close(0);
    if (options.CloseStdout) close(1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  signal(SIGPIPE, SIG_IGN);

  ProcessResult result;
  std::size_t written = 0;
  int inFd = inPipe[1];
  if (options.Stdin.empty()) {
    close(inFd);
    inFd = -1;
  } else {
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  int outFd = outPipe[0], errFd = errPipe[0];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.TimeoutSeconds);
  char buf[65536];
  while (outFd >= 0 || errFd >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      result.TimedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[3];
    int n = 0;
    if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[n++] = {inFd, POLLOUT, 0};
    int ready = poll(fds, n, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        ssize_t w = write(inFd, options.Stdin.data() + written, options.Stdin.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if (w < 0 && errno != EAGAIN) written = options.Stdin.size();
        if (written == options.Stdin.size()) {
          close(inFd);
          inFd = -1;
        }
        continue;
      }
      ssize_t r = read(fds[i].fd, buf, sizeof buf);
      std::string& sink = fds[i].fd == outFd ? result.Out : result.Err;
      if (r > 0) {
        sink.append(buf, static_cast<std::size_t>(r));
      } else {
        close(fds[i].fd);
        (fds[i].fd == outFd ? outFd : errFd) = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  if (outFd >= 0) close(outFd);
  if (errFd >= 0) close(errFd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    result.ExitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.Signal = WTERMSIG(status);
  }
  return result;
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

}  // namespace quarvel::testing
