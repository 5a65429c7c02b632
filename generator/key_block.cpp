#include "generator/key_block.h"

#include <cstring>

#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the planes are read as little-endian words");

namespace {

// The planes' history holds every delay of their recurrences, and one
// vector of new bits never reads another of the same pass.
constexpr bool DelaysFit() {
  for (const auto& delays : kPlaneDelays) {
    for (int delay : delays) {
      if (delay < 64 || delay > KeyBlock::kPlaneHistory) return false;
    }
  }
  return true;
}
static_assert(DelaysFit());

// f[n] from the 31 bytes before it.
inline std::uint8_t PlainStep(const std::uint8_t* f, int n) {
  std::uint8_t x = 0;
  for (int i = 0; i < kStageCount; ++i) x ^= FeedbackTaps[i] & f[n - 1 - i];
  return x;
}

// The bits of `count` output bytes (a multiple of 8) into the planes, bit b
// of each byte into plane b.
void ToPlanes(const std::uint8_t* f, int count, std::uint8_t* planes, int planeBytes) {
  for (int k = 0; k < count / 8; ++k) {
    std::uint64_t eight;
    std::memcpy(&eight, f + 8 * k, sizeof eight);
    for (int r = 0; r < 8; ++r) {
      // Bit 0 of byte t to bit t.
      std::uint64_t bits = (eight >> r) & 0x0101010101010101ull;
      planes[r * planeBytes + k] = static_cast<std::uint8_t>((bits * 0x0102040810204080ull) >> 56);
    }
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
    // The first output bytes by the register recurrences, into the planes.
    constexpr int kStart = KeyBlock::kHistory;
    alignas(64) std::uint8_t f[KeyBlock::kHistory + KeyBlock::kPrimeSteps] = {};
    for (int i = 0; i < kStageCount; ++i) f[kStart - 1 - i] = block.Start.Stages[i];
    int n = kStart;
    for (; n < kStart + KeyBlock::kPlainSteps; ++n) f[n] = PlainStep(f, n);
    kernels.StridedSteps(f, n, kStart + KeyBlock::kPrimeSteps);
    ToPlanes(f + kStart, KeyBlock::kPrimeSteps, planes, kPlaneBytes);
    block.FirstBlock = false;
    block.PlaneFill = kHistoryBytes;
    from = 0;
    to = kHistoryBytes;
  } else {
    if (block.PlaneFill > kHistoryBytes) {
      // The last bytes made to the start, as the history. (The place they
      // come from is read from the block: for a place known when compiling,
      // the compiler puts a string move, much slower than the library's
      // copy.)
      for (int r = 0; r < 8; ++r) {
        std::uint8_t* plane = planes + r * kPlaneBytes;
        std::memmove(plane, plane + block.PlaneFill - kHistoryBytes, kHistoryBytes);
      }
    }
    from = kHistoryBytes;
    to = kPlaneBytes;
    kernels.PlaneSteps(planes, kPlaneBytes, from, to);
    block.PlaneFill = kPlaneBytes;
  }
  block.PrevParity = kernels.PlaneKeyBits(planes, kPlaneBytes, from, to, block.Tables,
                                          block.PrevParity, block.KeyBits.data());
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
