#include "io/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "io/byte_file.h"
#include "io/io_error.h"
#include "io/retry.h"

namespace quarvel {

namespace {

// A temporary file without a name in the folder `dir` (TMPDIR, or /tmp),
// readable and writable by this process alone and gone when it is closed.
// Returns -1 with errno set on failure.
int AnonymousFile(std::string& dir) {
  const char* tmp = std::getenv("TMPDIR");
  dir = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
  int fd = RetryOnInterrupt(
      [&] { return ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_EXCL, 0600); });
  if (fd >= 0) return fd;
  // A file system without unnamed files: a named one, removed at once.
  std::string pattern = dir + "/.quarvel-XXXXXX";
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(pattern.c_str());
  return fd;
}

}  // namespace

Console::Console(int inFd, int outFd, int errFd) : inFd_(inFd), outFd_(outFd), errFd_(errFd) {}

Console::~Console() {
  FlushBestEffort();
  if (copyFd_ >= 0) ::close(copyFd_);
}

void Console::Write(std::string_view text) {
  for (char c : text) Write(static_cast<std::uint8_t>(c));
}

void Console::WriteSlow(std::uint8_t byte) {
  if (outLen_ == out_.size()) Flush();
  out_[outLen_++] = byte;
  if (outLimit_ == 0) {
    Flush();
    outLimit_ = out_.size();
  }
}

void Console::Flush() {
  std::size_t done = 0;
  while (done < outLen_) {
    ssize_t n =
        RetryOnInterrupt([&] { return ::write(outFd_, out_.data() + done, outLen_ - done); });
    if (n < 0) {
      int code = errno;
      // What did not go out is dropped, so that the error stop does not
      // try the failed console again.
      bytesWritten_ += static_cast<std::int64_t>(done);
      outLen_ = 0;
      ThrowIoError(code, IoOp::ConsoleWrite);
    }
    done += static_cast<std::size_t>(n);
  }
  bytesWritten_ += static_cast<std::int64_t>(outLen_);
  outLen_ = 0;
}

void Console::FlushAll() {
  for (ByteFile* file : files_) {
    if (file != nullptr) file->Flush();
  }
  Flush();
}

void Console::FlushBestEffort() {
  for (ByteFile* file : files_) {
    if (file != nullptr) file->FlushBestEffort();
  }
  try {
    Flush();
  } catch (const IoError&) {
  }
}

bool Console::FillInput() {
  if (inSeekable_ < 0) inSeekable_ = ::lseek(inFd_, 0, SEEK_CUR) >= 0 ? 1 : 0;
  // From a stream, one byte per read: a byte read cannot be given back.
  std::size_t want = inSeekable_ ? in_.size() : 1;
  ssize_t n = RetryOnInterrupt([&] { return ::read(inFd_, in_.data(), want); });
  if (n < 0) ThrowIoError(errno, IoOp::ConsoleRead);
  if (n == 0) {
    inEnded_ = true;
    return false;
  }
  inPos_ = 0;
  inLen_ = static_cast<std::size_t>(n);
  return true;
}

int Console::NextInputByte() {
  if (inPos_ == inLen_) {
    if (inEnded_) return -1;
    FlushAll();
    if (!FillInput()) return -1;
  }
  ++bytesRead_;
  return in_[inPos_++];
}

void Console::GiveBackInput() {
  if (inPos_ == inLen_) return;
  auto back = static_cast<off_t>(inLen_ - inPos_);
  if (::lseek(inFd_, -back, SEEK_CUR) < 0) ThrowIoError(errno, IoOp::Seek);
  inPos_ = inLen_ = 0;
}

int Console::ReadChar() {
  int c = NextInputByte();
  GiveBackInput();
  return c;
}

void Console::SkipLine() {
  for (;;) {
    int c = NextInputByte();
    if (c < 0 || c == '\n') break;
  }
  GiveBackInput();
}

void Console::WaitForLine() {
  if (ReadChar() >= 0) SkipLine();
}

int Console::InputCopy(std::uint8_t* scratch, std::size_t size) {
  if (copyFd_ >= 0) return copyFd_;
  // Reading standard input may wait: everything written goes out first.
  FlushAll();
  std::string dir;
  int fd = AnonymousFile(dir);
  // The copy's folder is the file that failed.
  if (fd < 0) ThrowIoError(errno, IoOp::Open, dir);
  copyFd_ = fd;
  // Every read of standard input gives back or uses what it took, so the
  // copy starts where standard input stands.
  std::int64_t copied = 0;
  int code = 0;
  while (code == 0 && !inEnded_) {
    ssize_t n = RetryOnInterrupt([&] { return ::read(inFd_, scratch, size); });
    if (n < 0) ThrowIoError(errno, IoOp::ConsoleRead);
    if (n == 0) break;
    code = WriteAllAt(fd, scratch, static_cast<std::size_t>(n), copied);
    copied += n;
    bytesRead_ += n;
  }
  if (code != 0) ThrowIoError(code, IoOp::Write, dir);
  inEnded_ = true;
  return copyFd_;
}

void Console::Register(ByteFile* file) {
  for (ByteFile*& slot : files_) {
    if (slot == nullptr) {
      slot = file;
      return;
    }
  }
}

void Console::Unregister(ByteFile* file) {
  for (ByteFile*& slot : files_) {
    if (slot == file) slot = nullptr;
  }
}

}  // namespace quarvel
