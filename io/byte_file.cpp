#include "io/byte_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "io/retry.h"

namespace quarvel {

namespace {

constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();
// A short input's buffer holds its bytes and this many more.
constexpr std::size_t kBufferSlack = 64;

}  // namespace

ByteFile::~ByteFile() {
  if (kind_ == Kind::Disk) {
    FlushBestEffort();
    if (ownsFd_) ::close(fd_);
  }
  Release();
}

void ByteFile::Bind(std::string_view name, Console& console) {
  name_.assign(name);
  console_ = &console;
}

void ByteFile::Reset() {
  if (IsOpen()) Close();
  base_ = 0;
  pos_ = readEnd_ = writeEnd_ = filled_ = 0;
  writing_ = forWriting_ = wroteOnce_ = emptyPending_ = created_ = false;
  consoleCount_ = 0;
  regular_ = false;
  limit_ = kNoLimit;
}

int ByteFile::OpenToRead() {
  Reset();
  if (name_.empty()) {
    TakeBuffer(kCapacity);
    // The buffer is free until the first read: the copy goes through it.
    return Attach(console_->InputCopy(buf_.get(), kCapacity), false, false, false);
  }
  return OpenNamed(O_RDONLY | O_NONBLOCK, false);
}

int ByteFile::OpenToReadFrom(const ByteFile& open) {
  Reset();
  if (!open.IsShareable()) return EBADF;
  // A descriptor of its own, so that a process out of descriptors fails
  // here as an open by name would.
  int fd = ::fcntl(open.fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return errno;
  Adopt(fd, true, true, open.dev_, open.ino_, open.limit_, false);
  return 0;
}

int ByteFile::OpenToWrite() {
  Reset();
  if (name_.empty()) return ENOENT;
  return OpenNamed(O_WRONLY, true);
}

int ByteFile::OpenNew() {
  Reset();
  if (name_.empty()) {
    kind_ = Kind::ConsoleOut;
    return 0;
  }
  int code = OpenNamed(O_WRONLY | O_CREAT | O_EXCL, true);
  if (code == 0) {
    created_ = true;
    return 0;
  }
  if (code == EEXIST) {
    code = OpenNamed(O_WRONLY, true);
    // Gone since, or a symbolic link to no file: created through the name
    // as it stands, though not known to be this open's own.
    if (code == ENOENT) code = OpenNamed(O_WRONLY | O_CREAT, true);
    return code;
  }
  // Whatever the exclusive create met, the open of an existing file gives
  // the reason as it always has.
  return OpenNamed(O_WRONLY | O_CREAT, true);
}

void ByteFile::RemoveIfCreated() {
  if (!created_ || kind_ != Kind::Disk) return;
  created_ = false;
  struct stat named {};
  if (::lstat(name_.c_str(), &named) != 0) return;
  if (named.st_dev != dev_ || named.st_ino != ino_) return;
  ::unlink(name_.c_str());
}

int ByteFile::OpenNamed(int flags, bool forWriting) {
  int fd =
      RetryOnInterrupt([&] { return ::open(name_.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666); });
  if (fd < 0) return errno;
  return Attach(fd, true, forWriting, (flags & O_NONBLOCK) != 0);
}

int ByteFile::Attach(int fd, bool ownsFd, bool forWriting, bool nonBlocking) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int code = errno;
    if (ownsFd) ::close(fd);
    return code;
  }
  // Reads wait for data again once the open is done; a regular file never
  // makes them wait, whatever the flag says.
  if (nonBlocking && !S_ISREG(st.st_mode)) {
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      int code = errno;
      if (ownsFd) ::close(fd);
      return code;
    }
  }
  // A folder opens for reading, but it is no file of bytes.
  if (S_ISDIR(st.st_mode)) {
    if (ownsFd) ::close(fd);
    return EISDIR;
  }
  if (forWriting && IsWriteProtected(st)) {
    if (ownsFd) ::close(fd);
    return EACCES;
  }
  bool regular = S_ISREG(st.st_mode);
  Adopt(fd, ownsFd, regular, st.st_dev, st.st_ino,
        !forWriting && regular ? static_cast<std::int64_t>(st.st_size) : kNoLimit, forWriting);
  return 0;
}

void ByteFile::Adopt(int fd, bool ownsFd, bool regular, dev_t dev, ino_t ino, std::int64_t limit,
                     bool forWriting) {
  fd_ = fd;
  ownsFd_ = ownsFd;
  kind_ = Kind::Disk;
  regular_ = regular;
  dev_ = dev;
  ino_ = ino;
  limit_ = limit;
  writing_ = forWriting_ = forWriting;
  // A file read to an end known at its open needs no more buffer than its
  // bytes: a short run touches no more memory than it reads.
  std::size_t wanted = kCapacity;
  if (!forWriting && regular && limit < static_cast<std::int64_t>(kCapacity))
    wanted = (static_cast<std::size_t>(limit) + kBufferSlack + 63) / 64 * 64;
  TakeBuffer(wanted);
  if (console_ != nullptr) console_->Register(this);
}

void ByteFile::TakeBuffer(std::size_t bytes) {
  if (buf_ && capacity_ >= bytes) return;
  buf_.reset(new std::uint8_t[bytes]);
  capacity_ = bytes;
}

bool ByteFile::SameFileAs(const ByteFile& other) const {
  return kind_ == Kind::Disk && other.kind_ == Kind::Disk && regular_ && other.regular_ &&
         dev_ == other.dev_ && ino_ == other.ino_;
}

void ByteFile::KeepWithinSizeOf(const ByteFile& other) {
  if (SameFileAs(other) && other.limit_ < limit_) limit_ = other.limit_;
}

std::int64_t ByteFile::Position() const {
  if (kind_ == Kind::Disk) return base_ + static_cast<std::int64_t>(pos_);
  return consoleCount_;
}

void ByteFile::StartReading() {
  if (!writing_) return;
  WriteOut();
  writing_ = false;
  writeEnd_ = 0;
  filled_ = pos_ = readEnd_ = 0;
}

void ByteFile::StartWriting() {
  if (writing_) return;
  std::int64_t position = base_ + static_cast<std::int64_t>(pos_);
  // A regular file is written at explicit offsets; any other file where its
  // descriptor stands, which the reads have left after the buffered bytes.
  if (!regular_ && position != base_ + static_cast<std::int64_t>(filled_)) {
    if (::lseek(fd_, position, SEEK_SET) < 0) ThrowIoError(errno, IoOp::Seek, name_);
  }
  base_ = position;
  pos_ = filled_ = readEnd_ = 0;
  writing_ = true;
  writeEnd_ = wroteOnce_ ? capacity_ : 0;
}

bool ByteFile::Refill() {
  switch (kind_) {
    case Kind::Disk:
      break;
    case Kind::ConsoleOut:
      return false;
    case Kind::Closed:
      ThrowIoError(EBADF, IoOp::Read, name_);
  }
  StartReading();
  if (pos_ < readEnd_) return true;
  base_ += static_cast<std::int64_t>(filled_);
  pos_ = filled_ = readEnd_ = 0;
  if (base_ >= limit_) return false;
  std::size_t want = capacity_;
  if (limit_ - base_ < static_cast<std::int64_t>(want))
    want = static_cast<std::size_t>(limit_ - base_);
  ssize_t n = RetryOnInterrupt([&] {
    return regular_ ? ::pread(fd_, buf_.get(), want, base_) : ::read(fd_, buf_.get(), want);
  });
  if (n < 0) ThrowIoError(errno, IoOp::Read, name_);
  // A regular file ends where it ended at its open: one that ends sooner
  // has been cut short since, and what the run took for its text is gone.
  if (n == 0 && regular_ && limit_ != kNoLimit) ThrowIoError(kReadPastEnd, IoOp::Read, name_);
  filled_ = readEnd_ = static_cast<std::size_t>(n);
  return n > 0;
}

std::uint8_t ByteFile::ReadSlow() {
  if (kind_ == Kind::ConsoleOut) ThrowIoError(EBADF, IoOp::Read, name_);
  if (!Refill()) ThrowIoError(kReadPastEnd, IoOp::Read, name_);
  return buf_[pos_++];
}

void ByteFile::WriteSlow(std::uint8_t byte) {
  switch (kind_) {
    case Kind::Disk:
      break;
    case Kind::ConsoleOut:
      console_->Write(byte);
      ++consoleCount_;
      return;
    case Kind::Closed:
      ThrowIoError(EBADF, IoOp::Write, name_);
  }
  StartWriting();
  if (pos_ == capacity_) WriteBehind();
  buf_[pos_++] = byte;
  if (!wroteOnce_) {
    // The first byte goes out at once: a file that cannot be written at all
    // (a full device, a closed pipe) fails where the run stands.
    WriteOut();
    wroteOnce_ = true;
    writeEnd_ = capacity_;
  }
}

void ByteFile::Flush() {
  if (kind_ != Kind::Disk) return;
  WriteOut();
  if (emptyPending_) CutOldContent();
}

void ByteFile::WriteOut() {
  FinishJob();
  if (!writing_ || pos_ == 0) return;
  bool cut = emptyPending_;
  if (cut) CutOldContent();
  std::size_t done = 0;
  while (done < pos_) {
    const std::uint8_t* from = buf_.get() + done;
    std::size_t count = pos_ - done;
    ssize_t n = RetryOnInterrupt([&] {
      return regular_ ? ::pwrite(fd_, from, count, base_ + static_cast<std::int64_t>(done))
                      : ::write(fd_, from, count);
    });
    if (n < 0) {
      int code = errno;
      // Keep what did not go out out of any later attempt.
      base_ += static_cast<std::int64_t>(done);
      // Old bytes that the cut kept for these to overwrite go again: the
      // file holds what went out and nothing else.
      if (cut) (void)::ftruncate(fd_, base_);
      pos_ = 0;
      ThrowIoError(code, IoOp::Write, name_);
    }
    done += static_cast<std::size_t>(n);
  }
  base_ += static_cast<std::int64_t>(pos_);
  pos_ = 0;
}

void ByteFile::WriteBehind() {
  // Only a file with a spare buffer has the thread to write behind on.
  if (!spare_ || emptyPending_) return WriteOut();
  FinishJob();
  job_.Fd = fd_;
  job_.Data = buf_.get();
  job_.Count = pos_;
  job_.Offset = base_;
  buf_.swap(spare_);
  thread_->Submit(job_);
  base_ += static_cast<std::int64_t>(pos_);
  pos_ = 0;
}

void ByteFile::WaitForJob() {
  // Only a file with a spare buffer gives the thread jobs.
  if (spare_) thread_->Wait(job_);
}

void ByteFile::FinishJob() {
  WaitForJob();
  if (job_.Error != 0) {
    int code = job_.Error;
    job_.Error = 0;
    // As when the write fails on this thread: the file ends where the
    // bytes stopped going out, and none written since go after them.
    base_ = job_.Offset + static_cast<std::int64_t>(job_.Done);
    pos_ = 0;
    ThrowIoError(code, IoOp::Write, name_);
  }
}

void ByteFile::WriteBehindOn(BackgroundThread& thread, std::unique_ptr<std::uint8_t[]> spare) {
  if (!CanWriteBehind() || spare_) return;
  spare_ = std::move(spare);
  thread_ = &thread;
}

void ByteFile::FlushBestEffort() {
  try {
    Flush();
  } catch (const IoError&) {
  }
}

bool ByteFile::AtEnd() {
  if (pos_ < readEnd_) return false;
  if (kind_ == Kind::ConsoleOut) return true;
  return !Refill();
}

void ByteFile::Seek(std::int64_t position) {
  if (kind_ == Kind::Closed) ThrowIoError(EBADF, IoOp::Seek, name_);
  // Standard output is a stream: positioning it does nothing.
  if (kind_ != Kind::Disk) return;
  if (position < 0) ThrowIoError(EINVAL, IoOp::Seek, name_);
  if (writing_) {
    WriteOut();
    if (position == base_) return;
  } else if (position >= base_ && position <= base_ + static_cast<std::int64_t>(filled_)) {
    pos_ = static_cast<std::size_t>(position - base_);
    return;
  }
  if (!regular_ && ::lseek(fd_, position, SEEK_SET) < 0) ThrowIoError(errno, IoOp::Seek, name_);
  base_ = position;
  pos_ = filled_ = readEnd_ = 0;
}

std::size_t ByteFile::Buffered(const std::uint8_t*& data) {
  data = buf_.get() + pos_;
  return pos_ < readEnd_ ? readEnd_ - pos_ : 0;
}

std::size_t ByteFile::ReadBlock(std::uint8_t* out, std::size_t count) {
  std::size_t done = 0;
  if (kind_ != Kind::Disk) {
    while (done < count && !AtEnd()) out[done++] = ReadByte();
    return done;
  }
  while (done < count) {
    if (pos_ == readEnd_ && !Refill()) break;
    std::size_t take = readEnd_ - pos_;
    if (take > count - done) take = count - done;
    for (std::size_t i = 0; i < take; ++i) out[done + i] = buf_[pos_ + i];
    pos_ += take;
    done += take;
  }
  return done;
}

void ByteFile::EmptyIfRegular() {
  if (kind_ != Kind::Disk || !regular_) return;
  Flush();
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowIoError(errno, IoOp::Truncate, name_);
  emptyPending_ = st.st_size > 0;
}

void ByteFile::CutOldContent() {
  emptyPending_ = false;
  // The old bytes go as the first new ones go out, at the end of these when
  // they start the file: cutting to length 0 would make the file system
  // write the whole file out at its close, which costs a short run more
  // than all its other work.
  std::int64_t end = writing_ && base_ == 0 ? static_cast<std::int64_t>(pos_) : 0;
  if (::ftruncate(fd_, end) != 0) ThrowIoError(errno, IoOp::Truncate, name_);
}

void ByteFile::CutHere() {
  if (kind_ != Kind::Disk || !regular_) return;
  Flush();
  if (::ftruncate(fd_, Position()) != 0) ThrowIoError(errno, IoOp::Truncate, name_);
}

void ByteFile::Close() {
  if (kind_ == Kind::Disk) {
    Flush();
    int fd = fd_;
    bool owned = ownsFd_;
    Release();
    if (owned && ::close(fd) != 0 && errno != EINTR) ThrowIoError(errno, IoOp::Close, name_);
    return;
  }
  Release();
}

void ByteFile::Release() {
  WaitForJob();
  if (kind_ == Kind::Disk && console_ != nullptr) console_->Unregister(this);
  kind_ = Kind::Closed;
  fd_ = -1;
  ownsFd_ = false;
  writing_ = forWriting_ = false;
  pos_ = readEnd_ = writeEnd_ = filled_ = 0;
}

}  // namespace quarvel
