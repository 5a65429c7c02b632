// A file of single bytes, bound to a name, read and written at a byte
// position counted from 0. Each file is opened for what the run does with
// it: an input for reading only, a file the run writes for writing only.
// An empty name stands for the console: an input of that name reads one
// positionable copy of standard input, which every console input of the run
// shares; a new file of that name writes to standard output through the
// console itself.
//
// Reads and writes go through a buffer; the operations keep the meaning of
// one byte at a time. Every failure of an operation after the open is an I/O
// error stop (IoError).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/background_thread.h"
#include "io/console.h"
#include "io/io_error.h"

namespace quarvel {

// A regular file without any write permission: read-only for everyone, root
// too, since root would otherwise write it whatever its mode says.
inline bool IsWriteProtected(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

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

  // Opens an existing file for reading only, at position 0. It is read up
  // to the size it has now: bytes added later, even by this run's own
  // console output, are not part of it; a file that is found shorter than
  // that is a read past the end (code 100). An empty name gives the copy of
  // standard input (Console::InputCopy). A pipe or device opens without
  // waiting for a writer. Returns 0 or the platform's error code.
  int OpenToRead();
  // Opens for reading, at position 0, the regular file that `open` has open
  // for reading, through a duplicate of its descriptor: no second open by
  // name. Reads stop where they stop in `open`. Returns 0 or the platform's
  // error code (EBADF when `open` is no such file).
  int OpenToReadFrom(const ByteFile& open);
  // Opens an existing file for writing only, at position 0, its content
  // left as it is. A regular file without any write permission counts as
  // read-only and fails, whoever runs the program. Standard input cannot be
  // written: an empty name is no such file.
  int OpenToWrite();
  // Opens a file for writing only at position 0, creating it when it is
  // missing. An existing file is not emptied here: EmptyIfRegular() does
  // that once the run knows it will write. A regular file without any write
  // permission fails as in OpenToWrite(). An empty name gives standard
  // output. The file is created exclusively when its name names nothing, so
  // that Created() tells whether this open made it.
  int OpenNew();
  // This open created the file (OpenNew).
  bool Created() const { return created_; }
  // Removes a file that this open created, while its name still names this
  // very file (the same device and inode); it stays open until closed. A
  // file of that name put in its place meanwhile is left alone.
  void RemoveIfCreated();

  bool IsOpen() const { return kind_ != Kind::Closed; }
  // A file read or written through its own buffer (a named file or the copy
  // of standard input), not standard output.
  bool IsDisk() const { return kind_ == Kind::Disk; }
  bool IsRegular() const { return regular_; }
  // A regular file open for reading only, which another file may share
  // (OpenToReadFrom).
  bool IsShareable() const { return kind_ == Kind::Disk && regular_ && !forWriting_; }
  // Same regular file (device and inode) as another open file.
  bool SameFileAs(const ByteFile& other) const;
  // When `other` is open on the same file, reads stop where they stop in
  // `other` as well.
  void KeepWithinSizeOf(const ByteFile& other);

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
  // A regular file written only, which can write behind (WriteBehindOn).
  bool CanWriteBehind() const { return kind_ == Kind::Disk && regular_ && forWriting_; }
  // From now on a file that can write behind writes its full buffers on
  // `thread`, while the run fills `spare` (kCapacity bytes); any other file
  // goes on as before. The thread must outlive the file's writes: its close,
  // or its destruction.
  void WriteBehindOn(BackgroundThread& thread, std::unique_ptr<std::uint8_t[]> spare);
  // The buffer that the next open takes, instead of one of its own: for a
  // file opened where taking memory must not fail.
  void UseBuffer(std::unique_ptr<std::uint8_t[]> buffer) {
    buf_ = std::move(buffer);
    capacity_ = kCapacity;
  }
  // The size of an input when it was opened (the end of its reads).
  std::int64_t ReadLimit() const { return limit_; }
  // Empties a regular file (other files are left alone). The old content
  // is cut away when the first bytes go out, or at the next flush or close
  // if none do: always before the run waits, stops or ends.
  void EmptyIfRegular();
  // Cuts a regular file at the current position.
  void CutHere();
  void Close();

 private:
  enum class Kind : std::uint8_t { Closed, Disk, ConsoleOut };

  void Reset();
  // Takes an open descriptor as this file: checks what the open rules ask,
  // closes a refused descriptor it owns, and returns 0 or the error code.
  // A descriptor opened without waiting (`nonBlocking`) is made to wait
  // again unless it is a regular file.
  int Attach(int fd, bool ownsFd, bool forWriting, bool nonBlocking);
  int OpenNamed(int flags, bool forWriting);
  // Makes an accepted descriptor this file, read up to `limit` bytes.
  void Adopt(int fd, bool ownsFd, bool regular, dev_t dev, ino_t ino, std::int64_t limit,
             bool forWriting);
  std::uint8_t ReadSlow();
  void WriteSlow(std::uint8_t byte);
  void StartReading();
  void StartWriting();
  // The pending bytes to the file; Flush() also cuts away old content.
  void WriteOut();
  // A full buffer to the file: on the background thread, when there is
  // one, while the run fills the spare buffer.
  void WriteBehind();
  // The write given to the background thread done; a failed one stops here
  // with its error.
  void FinishJob();
  void WaitForJob();
  void CutOldContent();
  void Release();
  // A buffer of at least `bytes`, the one there is when it is large enough.
  void TakeBuffer(std::size_t bytes);

  std::string name_;
  Console* console_ = nullptr;
  Kind kind_ = Kind::Closed;
  int fd_ = -1;
  // False for the copy of standard input, whose descriptor the console
  // keeps.
  bool ownsFd_ = false;
  // A regular file is read and written at explicit offsets, so that two
  // files on one descriptor do not move each other.
  bool regular_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  // Reads stop at this offset: the size of an input when it was opened.
  std::int64_t limit_ = 0;
  std::unique_ptr<std::uint8_t[]> buf_;
  // The bytes of buf_: kCapacity, or fewer for a short input.
  std::size_t capacity_ = 0;
  // File offset of buf_[0]; pos_ indexes the buffer. While reading, the
  // valid bytes are [0, readEnd_); while writing, [0, pos_) are pending.
  std::int64_t base_ = 0;
  std::size_t pos_ = 0;
  std::size_t readEnd_ = 0;
  std::size_t writeEnd_ = 0;
  std::size_t filled_ = 0;
  bool writing_ = false;
  // Opened for writing (OpenToWrite, OpenNew), as opposed to reading only.
  bool forWriting_ = false;
  bool wroteOnce_ = false;
  std::int64_t consoleCount_ = 0;
  // EmptyIfRegular() found old content, which CutOldContent() cuts away at
  // the next flush.
  bool emptyPending_ = false;
  // OpenNew() created the file.
  bool created_ = false;
  // The thread that writes behind, the buffer that it writes out while the
  // run fills buf_, and that write.
  BackgroundThread* thread_ = nullptr;
  std::unique_ptr<std::uint8_t[]> spare_;
  BackgroundThread::Job job_;
};

// Reads `file` from `from` on, one buffer at a time, and calls
// `visit(offset, data, count)` for each stretch of bytes until it returns
// false or the file ends. The file is left positioned after the last
// stretch visited.
template <typename Visit>
void ForEachBlock(ByteFile& file, std::int64_t from, Visit visit) {
  file.Seek(from);
  std::int64_t offset = from;
  for (;;) {
    const std::uint8_t* data;
    std::size_t count = file.Buffered(data);
    if (count == 0) {
      if (!file.Refill()) return;
      continue;
    }
    file.Advance(count);
    if (!visit(offset, data, count)) return;
    offset += static_cast<std::int64_t>(count);
  }
}

}  // namespace quarvel
