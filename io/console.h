// The console: standard output, written through one buffer, and standard
// input, read one character at a time; and standard error, on
// which the program's diagnostics are written, unbuffered.
//
// Output is buffered inside the program; everything written reaches standard
// output, and every open file of the run reaches its file, before any read of
// standard input, before the process ends and before a run-time error report.
//
// A read of standard input takes no more than it uses: from a pipe or a
// terminal one byte per read, and from a positionable input (a file) the
// unread rest of a block is given back before the read returns, so that
// whatever comes after the line that ends a wait is left for the next
// reader of the same input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarvel {

class ByteFile;

class Console {
 public:
  static constexpr std::size_t kOutCapacity = 1 << 16;
  static constexpr std::size_t kInCapacity = 1 << 12;

  Console(int inFd = 0, int outFd = 1, int errFd = 2);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();

  // One byte to standard output.
  void Write(std::uint8_t byte) {
    if (outLen_ < outLimit_) {
      out_[outLen_++] = byte;
    } else {
      WriteSlow(byte);
    }
  }
  void Write(std::string_view text);
  // For loops that write many bytes at once, as ByteFile::WriteRoom(): the
  // room is 0 before the first byte has gone out and when the buffer is full.
  std::uint8_t* WriteRoom(std::size_t& room) {
    room = outLimit_ - outLen_;
    return out_.data() + outLen_;
  }
  void Commit(std::size_t count) { outLen_ += count; }
  void WriteLineEnd() { Write("\r\n"); }

  // Hands buffered output to standard output; a failure is an I/O error stop.
  void Flush();
  // Flushes every registered file and then standard output.
  void FlushAll();
  // Flushes what it can and ignores failures (the error stop's own path).
  void FlushBestEffort();

  // Reads one character from standard input, after flushing all output.
  // Returns -1 at the end of standard input. A read failure is an I/O error
  // stop.
  int ReadChar();
  // Skips the rest of the current input line, up to and including its line
  // feed, or to the end of input.
  void SkipLine();

  // FinalWait: one character, then the rest of its line.
  void WaitForLine();

  // Standard input as a file. At the first call, everything still to come
  // on standard input is copied, through `scratch`, into an anonymous
  // temporary file (in $TMPDIR, else /tmp) that only this process can
  // reach; standard input is then at its end. Every call returns the
  // descriptor of that one copy, which the console keeps open and closes
  // at its end. A failure is an I/O error stop.
  int InputCopy(std::uint8_t* scratch, std::size_t size);

  // Bytes read from standard input and written to standard output so far.
  std::int64_t BytesRead() const { return bytesRead_; }
  std::int64_t BytesWritten() const { return bytesWritten_ + static_cast<std::int64_t>(outLen_); }

  int ErrFd() const { return errFd_; }

  // Open files register here so that a wait for input flushes them first.
  void Register(ByteFile* file);
  void Unregister(ByteFile* file);

 private:
  void WriteSlow(std::uint8_t byte);
  // The next byte of standard input, or -1 at its end.
  int NextInputByte();
  bool FillInput();
  // Positions a positionable standard input back to the first byte not
  // taken.
  void GiveBackInput();

  int inFd_;
  int outFd_;
  int errFd_;
  std::array<std::uint8_t, kOutCapacity> out_;
  std::size_t outLen_ = 0;
  // 0 until the first byte has gone out, so that a console that cannot be
  // written fails at its first write, where the run stands at that moment.
  std::size_t outLimit_ = 0;
  std::int64_t bytesWritten_ = 0;
  std::array<std::uint8_t, kInCapacity> in_;
  std::size_t inPos_ = 0;
  std::size_t inLen_ = 0;
  bool inEnded_ = false;
  // Whether standard input can be positioned: -1 until first asked.
  int inSeekable_ = -1;
  std::int64_t bytesRead_ = 0;
  int copyFd_ = -1;
  std::array<ByteFile*, 16> files_{};
};

}  // namespace quarvel
