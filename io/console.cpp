#include "io/console.h"

#include <unistd.h>

#include <cerrno>

#include "io/byte_file.h"
#include "io/io_error.h"

namespace quarvel {

Console::Console(int inFd, int outFd, int errFd) : inFd_(inFd), outFd_(outFd), errFd_(errFd) {}

Console::~Console() {
  FlushBestEffort();
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
    ssize_t n = ::write(outFd_, out_.data() + done, outLen_ - done);
    if (n < 0) {
      if (errno == EINTR) continue;
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
  for (;;) {
    ssize_t n = ::read(inFd_, in_.data(), in_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowIoError(errno, IoOp::ConsoleRead);
    }
    if (n == 0) {
      inEnded_ = true;
      return false;
    }
    inPos_ = 0;
    inLen_ = static_cast<std::size_t>(n);
    return true;
  }
}

int Console::ReadChar() {
  if (inPos_ == inLen_) {
    if (inEnded_) return -1;
    FlushAll();
    if (!FillInput()) return -1;
  }
  ++bytesRead_;
  return in_[inPos_++];
}

bool Console::InputAtEnd() {
  if (inPos_ < inLen_) return false;
  if (inEnded_) return true;
  FlushAll();
  return !FillInput();
}

void Console::SkipLine() {
  for (;;) {
    int c = ReadChar();
    if (c < 0 || c == '\n') return;
  }
}

void Console::WaitForLine() {
  if (ReadChar() >= 0) SkipLine();
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
