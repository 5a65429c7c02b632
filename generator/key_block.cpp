#include "generator/key_block.h"

#include <cstring>

#include "generator/register_bank.h"

namespace quarvel {

namespace {

constexpr int kStart = KeyBlock::kHistory;
constexpr int kEnd = KeyBlock::kHistory + KeyBlock::kSteps;

// f[n] from the 31 bytes before it.
inline std::uint8_t PlainStep(const std::uint8_t* f, int n) {
  std::uint8_t x = 0;
  for (int i = 0; i < kStageCount; ++i) x ^= FeedbackTaps[i] & f[n - 1 - i];
  return x;
}

}  // namespace

void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix) {
  block.Outputs.fill(0);
  for (int i = 0; i < kStageCount; ++i) {
    block.Outputs[KeyBlock::kHistory - 1 - i] = registers.Stages[i];
  }
  KeyBitTables& tables = block.Tables;
  std::memset(tables.EntryLow, 0, sizeof tables.EntryLow);
  std::memset(tables.EntryHigh, 0, sizeof tables.EntryHigh);
  for (int f = 0; f < 256; ++f) {
    // Step bit s_j is bit 7 - j of f: column s0..s3, row s4..s6, s7 apart.
    int column =
        ((f >> 7) & 1) | (((f >> 6) & 1) << 1) | (((f >> 5) & 1) << 2) | (((f >> 4) & 1) << 3);
    int row = ((f >> 3) & 1) | (((f >> 2) & 1) << 1) | (((f >> 1) & 1) << 2);
    int parity = __builtin_parity(static_cast<unsigned>(f));
    int entry = (matrix[16 * row + column] ^ f) & 1;
    tables.BitTable[f] = static_cast<std::uint8_t>(entry | (parity << 1));
    std::uint8_t* nibbles = f < 128 ? tables.EntryLow : tables.EntryHigh;
    nibbles[f & 15] |= static_cast<std::uint8_t>(entry << ((f >> 4) & 7));
  }
  block.PrevParity = stepParity & 1;
  block.FirstBlock = true;
  block.Next = block.Count = 0;
  block.Active = true;
}

void RefillKeyBlock(KeyBlock& block, const Kernels& kernels) {
  int kept = block.Count - block.Next;
  std::memmove(block.Chars.data(), block.Chars.data() + block.Next, static_cast<std::size_t>(kept));
  std::uint8_t* f = block.Outputs.data();
  int n = kStart;
  if (block.FirstBlock) {
    for (; n < kStart + KeyBlock::kPlainSteps; ++n) f[n] = PlainStep(f, n);
    block.FirstBlock = false;
  }
  kernels.StridedSteps(f, n, kEnd);
  block.PrevParity = kernels.KeyBits(f + kStart, KeyBlock::kSteps / 64, block.Tables,
                                     block.PrevParity, block.KeyBits.data());
  kernels.PackChars(block.KeyBits.data(), KeyBlock::kChars / 8, block.Chars.data() + kept);
  std::memmove(f, f + KeyBlock::kSteps, KeyBlock::kHistory);
  block.Next = 0;
  block.Count = kept + KeyBlock::kChars;
}

}  // namespace quarvel
