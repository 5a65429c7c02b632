// Key characters made many at a time, equal to those of the step-by-step
// generator.
//
// Each register is a linear recurrence, so its output bits also obey any
// multiple of its feedback polynomial. Each has a multiple of four terms,
// 1 + z^a + z^b + z^c with a, b, c from 267 to 1467, found by a search of
// the powers of z modulo the polynomial (scripts/plane_delays.py 256);
// raised to the 8th power it becomes bit[n] = bit[n-8a] XOR bit[n-8b] XOR
// bit[n-8c]. Held as a bit string per register (a plane), the delays are
// whole bytes, at least 256 of them: one vector of new bits costs three
// loads and two XORs, and reads only bytes stored long before.
//
// The first 12800 output bytes come from the register steps themselves:
// 1984 by the recurrence of the tap table, then 64 at a time by its 6th
// power, f[n] = XOR over i of (Taps[i] AND f[n-64(1+i)]); they fill the
// planes' history.
//
// The key bit of a step is the matrix entry its output selects, XOR its bit
// from register 0, XOR the parity of the output before it: computed on the
// planes, for a vector of steps at once, by a tree of choices between the
// matrix's entries. A key character is five consecutive key bits, the first
// the most significant.
//
// In a large run the characters after the first block are made ahead on
// the background thread (KeyAhead), and the run takes them where they are
// made.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "generator/generator_types.h"
#include "io/background_thread.h"
#include "isa/kernels.h"

namespace quarvel {

struct KeyBlock;

// Key characters made ahead: a ring of two halves, each a whole number of
// blocks, taken by the run while the thread makes the other. Each half has
// a prefix before it, where the run moves the characters it has not taken
// yet from the other half when it goes over, so that those it takes are
// always in one piece; the run's vector reads past its characters stay in
// the next prefix (or the slack at the end), away from what the thread
// writes. Once it has begun, only the thread uses the generator's planes.
struct KeyAhead {
  static constexpr int kBlocksPerHalf = 16;
  static constexpr int kHalf = kBlocksPerHalf * 3072;
  // Room for the characters not taken at a refill (fewer than a block).
  static constexpr int kPrefix = 3072;
  static constexpr int kPart = kPrefix + kHalf;
  static constexpr int kSlack = 256;
  KeyBlock* Block = nullptr;
  const Kernels* KernelTable = nullptr;
  BackgroundThread* Thread = nullptr;
  bool Begun = false;
  // The half being taken.
  int Current = 0;
  BackgroundThread::Job Jobs[2];
  // Two parts of kPart bytes, prefix and half, then kSlack bytes.
  std::unique_ptr<std::uint8_t[]> Ring;

  KeyAhead() = default;
  KeyAhead(const KeyAhead&) = delete;
  KeyAhead& operator=(const KeyAhead&) = delete;
  // Waits for the halves being made.
  ~KeyAhead();
};

struct KeyBlock {
  static constexpr int kStride = 64;
  // Output bytes before the strided recurrence holds: at least 31 strides.
  static constexpr int kHistory = 2048;
  // Steps made on the plain recurrence before the strided one holds.
  static constexpr int kPlainSteps = 31 * kStride;
  // Steps made by the register recurrences to start the planes: at least
  // the longest delay of the planes' recurrences (8 * 1467 steps).
  static constexpr int kPrimeSteps = 12800;
  // Steps per block after the first; both multiples of 5 * 512.
  static constexpr int kSteps = 15360;
  static constexpr int kChars = kSteps / 5;
  static constexpr int kPlaneHistory = kPrimeSteps / 8;
  static constexpr int kBlockPlaneBytes = kSteps / 8;
  // Each plane holds the history and four blocks: the history is moved back
  // to the start once every four blocks.
  static constexpr int kPlaneBlocks = 4;
  static constexpr int kPlaneBytes = kPlaneHistory + kPlaneBlocks * kBlockPlaneBytes;
  static_assert(kPrimeSteps % 2560 == 0 && kSteps % 2560 == 0);
  static_assert((kPrimeSteps - kPlainSteps) % kStride == 0);

  bool Active = false;
  int Next = 0;
  int Count = 0;
  bool FirstBlock = true;
  // Bytes of each plane made: the history and up to kPlaneBlocks blocks.
  // While only the first block is made (kPlaneHistory bytes), the planes
  // lie one right after the other, kPlaneHistory bytes apart, which is all a
  // short run touches; the next block spreads them out.
  int PlaneFill = 0;
  // The register bank the generator started from.
  RegisterBank Start;
  // Parity of the output byte of the step before the next block.
  std::uint8_t PrevParity = 0;
  // The key-bit function of the structure matrix.
  KeyBitTables Tables{};
  // The three arrays below have no initialiser: a run starts with only the
  // pages it writes. Each byte is written before it is read, but for the
  // reads past what is made, whose results are never kept.
  //
  // Keys[Next] to Keys[Count - 1] are made and not yet taken, followed by
  // at least 64 readable bytes; a refill keeps them and makes kChars more
  // behind them. Keys is Chars, or KeyAhead's ring once that has begun.
  const std::uint8_t* Keys = nullptr;
  std::array<std::uint8_t, 2 * kChars + 64> Chars;
  // Key bits of the block in step order, step n in bit n % 8 of byte n / 8;
  // 64 bytes of slack.
  alignas(64) std::array<std::uint8_t, kSteps / 8 + 64> KeyBits;
  // The bits of each register, kPlaneBytes a register: the bytes made so
  // far (PlaneFill of them, the last kPlaneHistory the history of the next
  // block), then room for the blocks to come.
  alignas(64) std::array<std::uint8_t, 8 * kPlaneBytes> Planes;
  // Set by MakeKeysAhead().
  std::unique_ptr<KeyAhead> Ahead;
};

static_assert(KeyAhead::kHalf == KeyAhead::kBlocksPerHalf * KeyBlock::kChars &&
              KeyAhead::kPrefix >= KeyBlock::kChars);

// Starts the block generator from a register bank, the parity of the last
// step made and the structure matrix.
void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix);

// Makes the next key characters (kPrimeSteps / 5 the first time, kChars
// after), behind those not yet taken, which must be fewer than kChars, with
// the kernels of one tier.
void RefillKeyBlock(KeyBlock& block, const Kernels& kernels);

// From the second refill on, the characters are made ahead on `thread`
// with the kernels given (those of every refill). The memory for them is
// taken here. Called before StartKeyBlock().
void MakeKeysAhead(KeyBlock& block, BackgroundThread& thread, const Kernels& kernels);

inline std::uint8_t TakeKeyChar(KeyBlock& block, const Kernels& kernels) {
  if (block.Next == block.Count) RefillKeyBlock(block, kernels);
  return block.Keys[block.Next++];
}

}  // namespace quarvel
