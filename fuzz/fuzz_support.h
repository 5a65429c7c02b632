// What the fuzz targets share: a scratch folder for the files of a run, file
// helpers, a console that reads an empty standard input and records what it
// writes, and the fixed key of the targets that need a valid one.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "io/console.h"
#include "io/io_error.h"

namespace quarvel::fuzz {

// Stops the fuzzer with a message: a finding.
[[noreturn]] inline void Fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
  std::abort();
}

inline void Check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) Fail(what, detail);
}

// A folder made once per process, in memory where the machine has /dev/shm.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
    std::string pattern = base + "/quarvel-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
    return pattern;
  }();
  static const bool removedAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return true;
  }();
  (void)removedAtExit;
  return dir;
}

inline std::string ScratchFile(const char* name) {
  return ScratchDir() + "/" + name;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("open for writing", path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail("write", path);
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

// Standard input at its end for every wait, standard output recorded in a
// memory file, the diagnostics of standard error dropped. Make a fresh one
// for each run.
class RecordedConsole {
 public:
  RecordedConsole() {
    static const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    static const int errSink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    static const int record = ::memfd_create("quarvel-fuzz-console", MFD_CLOEXEC);
    if (devNull < 0 || errSink < 0 || record < 0) Fail("console fds");
    recordFd_ = record;
    if (::ftruncate(recordFd_, 0) != 0 || ::lseek(recordFd_, 0, SEEK_SET) != 0) {
      Fail("console reset");
    }
    console_ = std::make_unique<Console>(devNull, recordFd_, errSink);
  }

  Console& Get() { return *console_; }

  // Everything written so far, after a flush.
  std::string Output() {
    console_->FlushBestEffort();
    std::string bytes;
    off_t size = ::lseek(recordFd_, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(size));
    if (size > 0 && ::pread(recordFd_, bytes.data(), bytes.size(), 0) != size) {
      Fail("console read back");
    }
    return bytes;
  }

 private:
  int recordFd_ = -1;
  std::unique_ptr<Console> console_;
};

// A valid key file and message header for the targets that fuzz the text.
inline constexpr std::string_view kKeyFile =
    "STRUKTURSCHLUESSEL\r\n"
    "1010001000011000\r\n1000010000110010\r\n0010000111111100\r\n0011111001010110\r\n"
    "0111110011001111\r\n1011001001001110\r\n0111011111000000\r\n0010110011100111\r\n"
    "GRUNDSCHLUESSEL KWTRBNMZUE\r\n";
// Ends with the byte after the last message-key letter, which the header
// copy takes along.
inline constexpr std::string_view kHeader = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP ";

// An I/O error stop is a defined outcome, but with the files of a scratch
// folder the only one that can come from the text is a read past the end,
// which no input may cause.
inline void CheckIoError(const IoError& error, const char* where) {
  std::string line = RuntimeErrorLine(error);
  if (error.Code == kReadPastEnd) Fail(where, "read past the end: " + line);
  std::fprintf(stderr, "%s: %s", where, line.c_str());
}

}  // namespace quarvel::fuzz
