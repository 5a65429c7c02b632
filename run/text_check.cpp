#include "run/text_check.h"

#include <atomic>
#include <limits>
#include <utility>

#include "coding/encipher_tables.h"
#include "io/background_thread.h"
#include "io/byte_file.h"
#include "io/io_error.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// What a scan found: the first byte without a code, and the first line
// byte before it (offsets in the file, -1 for none).
struct Findings {
  std::int64_t Uncoded = -1;
  std::int64_t LineByte = -1;
};

// Scans `count` bytes found at `offset`; false once a byte without a code
// is found. After the first line byte only bytes without a code are looked
// for.
bool Scan(const Kernels& kernels, const std::uint8_t* data, std::size_t count, std::int64_t offset,
          Findings& found) {
  std::uint8_t wanted = found.LineByte < 0 ? (kLineByte | kUncodedByte) : kUncodedByte;
  for (std::size_t i = 0;; ++i) {
    i += kernels.FindByteClass(data + i, count - i, wanted);
    if (i == count) return true;
    if ((PlainByteClasses[data[i]] & kUncodedByte) != 0) {
      found.Uncoded = offset + static_cast<std::int64_t>(i);
      return false;
    }
    found.LineByte = offset + static_cast<std::int64_t>(i);
    wanted = kUncodedByte;
  }
}

// Scans `file` from `from` up to `to` (or its end).
void ScanFile(ByteFile& file, std::int64_t from, std::int64_t to, const Kernels& kernels,
              Findings& found) {
  ForEachBlock(file, from, [&](std::int64_t offset, const std::uint8_t* data, std::size_t count) {
    if (to - offset < static_cast<std::int64_t>(count))
      count = static_cast<std::size_t>(to - offset);
    return Scan(kernels, data, count, offset, found) &&
           offset + static_cast<std::int64_t>(count) < to;
  });
}

// The second half and what its scan found; a read that fails there is made
// again by the run, where it fails as it would without the thread.
struct SecondHalf {
  ByteFile File;
  std::int64_t From = 0;
  const Kernels* KernelTable = nullptr;
  Findings Found;
  bool Failed = false;
  // Set by the run once the first half holds a byte without a code.
  std::atomic<bool> Stop{false};
  BackgroundThread* Thread = nullptr;
  BackgroundThread::Job Job;

  SecondHalf() = default;
  SecondHalf(const SecondHalf&) = delete;
  SecondHalf& operator=(const SecondHalf&) = delete;
  // However the check ends, the thread is done with the half first.
  ~SecondHalf() {
    if (Thread != nullptr) Thread->Wait(Job);
  }
};

void ScanSecondHalf(void* context) {
  SecondHalf& half = *static_cast<SecondHalf*>(context);
  try {
    ForEachBlock(half.File, half.From,
                 [&](std::int64_t offset, const std::uint8_t* data, std::size_t count) {
                   return !half.Stop.load(std::memory_order_relaxed) &&
                          Scan(*half.KernelTable, data, count, offset, half.Found);
                 });
  } catch (const IoError&) {
    half.Failed = true;
  }
}

}  // namespace

bool CheckPlainText(RunState& state) {
  ByteFile& source = state.SourceFile;
  const Kernels& kernels = *state.KernelTable;
  const std::int64_t from = state.TextPosition + 1;
  std::int64_t middle = std::numeric_limits<std::int64_t>::max();
  BackgroundThread* thread = state.SecondThread.get();
  // The second half takes no memory here: its buffer came with the thread,
  // and it has no name of its own (its failures are made again by the run).
  SecondHalf second;
  SecondHalf* half = nullptr;
  // A text of a run that has the second thread (a large one) is checked in
  // two halves at once, the second there.
  if (thread != nullptr && state.CheckBuffer && source.IsRegular() &&
      source.ReadLimit() - from >= 2 * static_cast<std::int64_t>(ByteFile::kCapacity)) {
    second.File.UseBuffer(std::move(state.CheckBuffer));
    second.File.Bind({}, *state.Con);
    if (second.File.OpenToReadFrom(source) == 0) {
      half = &second;
      // The middle on a whole block, where a read of the first half stops.
      middle = from + (source.ReadLimit() - from) / 2 / ByteFile::kCapacity * ByteFile::kCapacity;
      half->From = middle;
      half->KernelTable = &kernels;
      half->Job.Call = &ScanSecondHalf;
      half->Job.Context = half;
      half->Thread = thread;
      thread->Submit(half->Job);
    }
  }
  Findings found;
  ScanFile(source, from, middle, kernels, found);
  if (half) {
    if (found.Uncoded >= 0) half->Stop.store(true, std::memory_order_relaxed);
    thread->Wait(half->Job);
    if (found.Uncoded < 0) {
      if (half->Failed) {
        ScanFile(source, middle, std::numeric_limits<std::int64_t>::max(), kernels, found);
      } else {
        if (found.LineByte < 0) found.LineByte = half->Found.LineByte;
        found.Uncoded = half->Found.Uncoded;
      }
    }
  }
  state.UncodedOffset = found.Uncoded;
  state.LineByteOffset = found.LineByte;
  return found.Uncoded < 0;
}

}  // namespace quarvel
