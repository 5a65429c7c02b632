#include "generator/key_block.h"

#include <algorithm>
#include <cstring>

#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the planes are read as little-endian words");

namespace {

// The planes' history holds every delay of their recurrences, and a vector
// of new bits reads only bytes made at least four vectors of 64 bytes
// before it: a read that spans two stores still on their way to the cache
// would wait for them.
constexpr bool DelaysFit() {
  for (const auto& delays : kPlaneDelays) {
    for (int delay : delays) {
      if (delay < 256 || delay > KeyBlock::kPlaneHistory) return false;
    }
  }
  return true;
}
static_assert(DelaysFit());

// f[from] to f[to - 1] by the recurrence raised to the power `stride` (a
// power of 2), f[n] = XOR over i of (Taps[i] AND f[n - stride (1 + i)]),
// which holds where the 31 strides before n are all steps of the registers.
// The bytes of a stride do not depend on one another: eight at a time in a
// word, each byte on its own.
// Each tap in every byte of a word.
constexpr std::array<std::uint64_t, kStageCount> kTapWords = [] {
  std::array<std::uint64_t, kStageCount> words{};
  for (int i = 0; i < kStageCount; ++i) words[i] = FeedbackTaps[i] * 0x0101010101010101ull;
  return words;
}();

void StridedRun(std::uint8_t* f, int stride, int from, int to) {
  for (int n = from; n < to; n += stride) {
    for (int w = 0; w < stride && n + w < to; w += 8) {
      std::uint8_t* out = f + n + w;
      std::uint64_t x = 0;
      for (int i = 0; i < kStageCount; ++i) {
        std::uint64_t word;
        std::memcpy(&word, out - stride * (1 + i), sizeof word);
        x ^= kTapWords[i] & word;
      }
      int bytes = std::min({8, stride - w, to - n - w});
      std::memcpy(out, &x, static_cast<std::size_t>(bytes));
    }
  }
}

// The bits of `count` output bytes (a multiple of 8) into the planes, bit b
// of each byte into plane b: each eight bytes an 8 by 8 matrix of bits,
// transposed.
void ToPlanes(const std::uint8_t* f, int count, std::uint8_t* planes, int planeBytes) {
  for (int k = 0; k < count / 8; ++k) {
    std::uint64_t x;
    std::memcpy(&x, f + 8 * k, sizeof x);
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x ^= t ^ (t << 28);
    // Byte r now holds bit r of each of the eight bytes.
    for (int r = 0; r < 8; ++r)
      planes[r * planeBytes + k] = static_cast<std::uint8_t>(x >> (8 * r));
  }
}

// Waits for the halves being made; the next refill begins again.
void StopAhead(KeyAhead& ahead) {
  if (ahead.Thread == nullptr) return;
  for (BackgroundThread::Job& job : ahead.Jobs) ahead.Thread->Wait(job);
  ahead.Begun = false;
  ahead.Current = 0;
}

}  // namespace

void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix) {
  // Characters made ahead from an earlier start are no longer wanted, and
  // the thread is done with the tables before they change.
  if (block.Ahead) StopAhead(*block.Ahead);
  KeyBitTables& tables = block.Tables;
  for (int row = 0; row < 8; ++row) {
    int ones = 0;
    for (int column = 0; column < 16; ++column) ones += matrix[16 * row + column];
    // Whichever entries are fewer, ones or zeros: at most eight.
    tables.Invert[row] = ones > 8;
    tables.ColumnCount[row] = 0;
    for (int column = 0; column < 16; ++column) {
      if ((matrix[16 * row + column] != 0) != tables.Invert[row]) {
        tables.Columns[row][tables.ColumnCount[row]++] = static_cast<std::uint8_t>(column);
      }
    }
    for (int q = 0; q < 4; ++q) {
      int quarter = 0;
      for (int j = 0; j < 4; ++j) quarter |= (matrix[16 * row + 4 * q + j] != 0) << j;
      tables.Quarters[4 * row + q] = static_cast<std::uint8_t>(quarter);
    }
  }
  block.Start = registers;
  block.PrevParity = stepParity & 1;
  block.FirstBlock = true;
  block.PlaneFill = 0;
  block.Next = block.Count = 0;
  block.Keys = block.Chars.data();
  block.Active = true;
}

namespace {

// The next characters into `out`: kPrimeSteps / 5 the first time, kChars
// after. Returns how many.
int MakeKeyChars(KeyBlock& block, const Kernels& kernels, std::uint8_t* out) {
  constexpr int kPlaneBytes = KeyBlock::kPlaneBytes;
  constexpr int kHistoryBytes = KeyBlock::kPlaneHistory;
  std::uint8_t* planes = block.Planes.data();
  int from = 0, to = 0;
  if (block.FirstBlock) {
    // The first output bytes by the register recurrences, into the planes,
    // made in a window of kHistory bytes of steps before kHistory new ones:
    // little memory to touch for a short run. The stages are the last 31
    // steps before the first; nothing earlier is read. Each stride of the
    // recurrence holds from 31 strides after them: the stride doubles as the
    // steps made allow, up to the kernel's 64, which needs fewer than
    // kHistory steps before it.
    constexpr int kStart = KeyBlock::kHistory;
    constexpr int kWindow = 2 * KeyBlock::kHistory;
    static_assert(KeyBlock::kPlainSteps <= KeyBlock::kHistory &&
                  KeyBlock::kHistory % KeyBlock::kStride == 0);
    alignas(64) std::uint8_t f[kWindow];
    for (int i = 0; i < kStageCount; ++i) f[kStart - 1 - i] = block.Start.Stages[i];
    constexpr int kFirst = kStart - kStageCount;
    int n = kStart;
    for (int stride = 1; stride < KeyBlock::kStride; stride *= 2) {
      const int end = 2 * stride == KeyBlock::kStride ? kStart + KeyBlock::kPlainSteps
                                                      : kFirst + kStageCount * 2 * stride;
      StridedRun(f, stride, n, end);
      n = end;
    }
    for (int made = 0; made < KeyBlock::kPrimeSteps;) {
      const int end = std::min(kWindow, kStart + KeyBlock::kPrimeSteps - made);
      kernels.StridedSteps(f, n, end);
      ToPlanes(f + kStart, end - kStart, planes + made / 8, kHistoryBytes);
      made += end - kStart;
      // The steps made become the history of the next.
      std::memcpy(f, f + kStart, KeyBlock::kHistory);
      n = kStart;
    }
    block.FirstBlock = false;
    block.PlaneFill = kHistoryBytes;
    block.PrevParity = kernels.PlaneKeyBits(planes, kHistoryBytes, 0, kHistoryBytes, block.Tables,
                                            block.PrevParity, block.KeyBits.data());
    from = 0;
    to = kHistoryBytes;
  } else {
    if (block.PlaneFill == kHistoryBytes) {
      // Only the first block is made: its planes, one right after the
      // other, spread out to their places, the last first.
      for (int r = 7; r > 0; --r)
        std::memmove(planes + r * kPlaneBytes, planes + r * kHistoryBytes, kHistoryBytes);
    }
    if (block.PlaneFill + KeyBlock::kBlockPlaneBytes > kPlaneBytes) {
      // The planes are full: the last bytes made to the start, as the
      // history. (The place they come from is read from the block: for a
      // place known when compiling, the compiler puts a string move, much
      // slower than the library's copy.)
      for (int r = 0; r < 8; ++r) {
        std::uint8_t* plane = planes + r * kPlaneBytes;
        std::memmove(plane, plane + block.PlaneFill - kHistoryBytes, kHistoryBytes);
      }
      block.PlaneFill = kHistoryBytes;
    }
    from = block.PlaneFill;
    to = from + KeyBlock::kBlockPlaneBytes;
    kernels.PlaneSteps(planes, kPlaneBytes, from, to);
    block.PlaneFill = to;
    block.PrevParity = kernels.PlaneKeyBits(planes, kPlaneBytes, from, to, block.Tables,
                                            block.PrevParity, block.KeyBits.data());
  }
  int made = 8 * (to - from) / 5;
  kernels.PackChars(block.KeyBits.data(), made / 8, out);
  return made;
}

// On the thread: the half that its job stands for.
void MakeHalf(KeyAhead& ahead, int half) {
  std::uint8_t* out = ahead.Ring.get() + half * KeyAhead::kPart + KeyAhead::kPrefix;
  for (int b = 0; b < KeyAhead::kBlocksPerHalf; ++b) {
    MakeKeyChars(*ahead.Block, *ahead.KernelTable, out + b * KeyBlock::kChars);
  }
}

void MakeFirstHalf(void* ahead) {
  MakeHalf(*static_cast<KeyAhead*>(ahead), 0);
}
void MakeSecondHalf(void* ahead) {
  MakeHalf(*static_cast<KeyAhead*>(ahead), 1);
}

// Moves the characters not taken yet into the prefix of `half` and goes on
// there.
void GoOverTo(KeyBlock& block, KeyAhead& ahead, int half) {
  int kept = block.Count - block.Next;
  std::uint8_t* prefixEnd = ahead.Ring.get() + half * KeyAhead::kPart + KeyAhead::kPrefix;
  std::memcpy(prefixEnd - kept, block.Keys + block.Next, static_cast<std::size_t>(kept));
  block.Keys = ahead.Ring.get();
  block.Count = half * KeyAhead::kPart + KeyAhead::kPrefix;
  block.Next = block.Count - kept;
  ahead.Current = half;
}

// kChars more characters made ahead behind those not taken.
void RefillAhead(KeyBlock& block, KeyAhead& ahead) {
  if (!ahead.Begun) {
    ahead.Begun = true;
    for (BackgroundThread::Job& job : ahead.Jobs) ahead.Thread->Submit(job);
    GoOverTo(block, ahead, 0);
  } else if (block.Count == (ahead.Current + 1) * KeyAhead::kPart) {
    // The end of the half: the rest goes over to the other, and this one
    // is made again.
    int done = ahead.Current;
    GoOverTo(block, ahead, done ^ 1);
    ahead.Thread->Submit(ahead.Jobs[done]);
  }
  if (block.Count == ahead.Current * KeyAhead::kPart + KeyAhead::kPrefix)
    ahead.Thread->Wait(ahead.Jobs[ahead.Current]);
  block.Count += KeyBlock::kChars;
}

}  // namespace

KeyAhead::~KeyAhead() {
  StopAhead(*this);
}

void MakeKeysAhead(KeyBlock& block, BackgroundThread& thread, const Kernels& kernels) {
  block.Ahead.reset();
  block.Keys = block.Chars.data();
  auto ahead = std::make_unique<KeyAhead>();
  ahead->Block = &block;
  ahead->KernelTable = &kernels;
  ahead->Ring.reset(new std::uint8_t[2 * KeyAhead::kPart + KeyAhead::kSlack]());
  ahead->Jobs[0].Call = &MakeFirstHalf;
  ahead->Jobs[1].Call = &MakeSecondHalf;
  for (BackgroundThread::Job& job : ahead->Jobs) job.Context = ahead.get();
  ahead->Thread = &thread;
  block.Ahead = std::move(ahead);
}

void RefillKeyBlock(KeyBlock& block, const Kernels& kernels) {
  if (block.Ahead && !block.FirstBlock) return RefillAhead(block, *block.Ahead);
  int kept = block.Count - block.Next;
  std::memmove(block.Chars.data(), block.Keys + block.Next, static_cast<std::size_t>(kept));
  block.Keys = block.Chars.data();
  block.Next = 0;
  block.Count = kept + MakeKeyChars(block, kernels, block.Chars.data() + kept);
}

}  // namespace quarvel
