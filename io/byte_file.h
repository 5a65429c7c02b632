// A file of single bytes, bound to a name, read and written at a byte
// position counted from 0. An empty name stands for the console: opened as an
// existing file it reads standard input, opened as a new file it writes to
// standard output, through the same streams as the console itself.
//
// Reads and writes go through a buffer; the operations keep the meaning of
// one byte at a time. Every failure of an operation after the open is an I/O
// error stop (IoError).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/console.h"
#include "io/io_error.h"

namespace quarvel {

class ByteFile {
 public:
  static constexpr std::size_t kCapacity = 1 << 16;

  ByteFile() = default;
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;
  // Flushes what it can and closes, ignoring failures: the normal path
  // closes explicitly with Close().
  ~ByteFile();

  void Bind(std::string_view name, Console& console);
  const std::string& Name() const { return name_; }

  // Opens an existing file for reading and writing at position 0. The file
  // must exist and be writable: a regular file without any write permission
  // counts as read-only and fails, whoever runs the program. Returns 0 or the
  // platform's error code.
  int OpenExisting();
  // Opens a file for reading and writing at position 0, creating it when it
  // is missing. An existing file is not emptied here: EmptyIfRegular() does
  // that once the run knows it will write. A regular file without any write
  // permission fails like in OpenExisting().
  int OpenNew();

  bool IsOpen() const { return kind_ != Kind::Closed; }
  // A file of its own, not the console.
  bool IsDisk() const { return kind_ == Kind::Disk; }
  bool IsRegular() const { return regular_; }
  // Same regular file (device and inode) as another open file.
  bool SameFileAs(const ByteFile& other) const;

  // One byte at the current position; reading at the end is code 100.
  std::uint8_t ReadByte() {
    if (pos_ < readEnd_) return buf_[pos_++];
    return ReadSlow();
  }
  void WriteByte(std::uint8_t byte) {
    if (pos_ < writeEnd_) {
      buf_[pos_++] = byte;
    } else {
      WriteSlow(byte);
    }
  }
  // True when the position is at or beyond the end of the file.
  bool AtEnd();
  std::int64_t Position() const;
  void Seek(std::int64_t position);

  // Up to `count` bytes from the current position into `out`; returns how
  // many, fewer only at the end of the file.
  std::size_t ReadBlock(std::uint8_t* out, std::size_t count);
  // The bytes from the current position that are already buffered, for
  // callers that scan sequentially; Advance() consumes them.
  std::size_t Buffered(const std::uint8_t*& data);
  void Advance(std::size_t count) { pos_ += count; }
  // Refills the read buffer; false at the end of the file.
  bool Refill();

  // For loops that write many bytes at once: the place of the next byte and,
  // in `room`, how many bytes can be put there before the buffer must go
  // out. The room is 0 whenever WriteByte() would not simply store the byte:
  // before the first byte of the file has gone out, when the buffer is full,
  // while reading, and for the console. Commit() takes `count` of the bytes
  // put there as written.
  std::uint8_t* WriteRoom(std::size_t& room) {
    room = pos_ < writeEnd_ ? writeEnd_ - pos_ : 0;
    return buf_.get() + pos_;
  }
  void Commit(std::size_t count) { pos_ += count; }

  void Flush();
  void FlushBestEffort();
  // Cuts a regular file to length 0 (other files are left alone).
  void EmptyIfRegular();
  // Cuts a regular file at the current position.
  void CutHere();
  void Close();

 private:
  enum class Kind : std::uint8_t { Closed, Disk, ConsoleIn, ConsoleOut };

  int Open(bool create);
  std::uint8_t ReadSlow();
  void WriteSlow(std::uint8_t byte);
  void StartReading();
  void StartWriting();
  void Release();

  std::string name_;
  Console* console_ = nullptr;
  Kind kind_ = Kind::Closed;
  int fd_ = -1;
  bool regular_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  std::unique_ptr<std::uint8_t[]> buf_;
  // File offset of buf_[0]; pos_ indexes the buffer. While reading, the
  // valid bytes are [0, readEnd_); while writing, [0, pos_) are pending.
  std::int64_t base_ = 0;
  std::size_t pos_ = 0;
  std::size_t readEnd_ = 0;
  std::size_t writeEnd_ = 0;
  std::size_t filled_ = 0;
  bool writing_ = false;
  bool wroteOnce_ = false;
  std::int64_t consoleCount_ = 0;
};

}  // namespace quarvel
