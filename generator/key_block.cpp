#include "generator/key_block.h"

#include <cstring>

#include "generator/register_bank.h"

namespace quarvel {

namespace {

using Vec = std::uint8_t __attribute__((vector_size(KeyBlock::kStride)));

// f[n] from the 31 bytes before it.
inline std::uint8_t PlainStep(const std::uint8_t* f, int n) {
  std::uint8_t x = 0;
  for (int i = 0; i < kStageCount; ++i) x ^= FeedbackTaps[i] & f[n - 1 - i];
  return x;
}

// f[n .. n+31] from the bytes 32, 64, ..., 992 places before them.
__attribute__((target_clones("avx2", "default"))) void StridedSteps(std::uint8_t* f, int from,
                                                                     int to) {
  Vec taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i) {
    for (int k = 0; k < KeyBlock::kStride; ++k) taps[i][k] = FeedbackTaps[i];
  }
  for (int n = from; n < to; n += KeyBlock::kStride) {
    Vec x = {};
    for (int i = 0; i < kStageCount; ++i) {
      Vec v;
      std::memcpy(&v, f + n - KeyBlock::kStride * (1 + i), sizeof v);
      x ^= v & taps[i];
    }
    std::memcpy(f + n, &x, sizeof x);
  }
}

}  // namespace

void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix) {
  block.Outputs.fill(0);
  for (int i = 0; i < kStageCount; ++i) {
    block.Outputs[KeyBlock::kHistory - 1 - i] = registers.Stages[i];
  }
  for (int f = 0; f < 256; ++f) {
    // Step bit s_j is bit 7 - j of f: column s0..s3, row s4..s6, s7 apart.
    int column = ((f >> 7) & 1) | (((f >> 6) & 1) << 1) | (((f >> 5) & 1) << 2) |
                 (((f >> 4) & 1) << 3);
    int row = ((f >> 3) & 1) | (((f >> 2) & 1) << 1) | (((f >> 1) & 1) << 2);
    int parity = __builtin_parity(static_cast<unsigned>(f));
    block.BitTable[f] =
        static_cast<std::uint8_t>((matrix[16 * row + column] ^ (f & 1)) | (parity << 1));
  }
  block.PrevParity = stepParity & 1;
  block.FirstBlock = true;
  block.Next = block.Count = 0;
  block.Active = true;
}

void RefillKeyBlock(KeyBlock& block) {
  std::uint8_t* f = block.Outputs.data();
  constexpr int kStart = KeyBlock::kHistory;
  constexpr int kEnd = KeyBlock::kHistory + KeyBlock::kSteps;
  int n = kStart;
  if (block.FirstBlock) {
    for (; n < kStart + KeyBlock::kPlainSteps; ++n) f[n] = PlainStep(f, n);
    block.FirstBlock = false;
  }
  StridedSteps(f, n, kEnd);

  const std::uint8_t* table = block.BitTable.data();
  std::uint8_t prevParity = block.PrevParity;
  for (int j = 0; j < KeyBlock::kChars; ++j) {
    const std::uint8_t* s = f + kStart + 5 * j;
    std::uint8_t t0 = table[s[0]], t1 = table[s[1]], t2 = table[s[2]], t3 = table[s[3]],
                 t4 = table[s[4]];
    unsigned c = (((t0 ^ prevParity) & 1) << 4) | (((t1 ^ (t0 >> 1)) & 1) << 3) |
                 (((t2 ^ (t1 >> 1)) & 1) << 2) | (((t3 ^ (t2 >> 1)) & 1) << 1) |
                 ((t4 ^ (t3 >> 1)) & 1);
    block.Chars[j] = static_cast<std::uint8_t>(c);
    prevParity = (t4 >> 1) & 1;
  }
  block.PrevParity = prevParity;
  std::memmove(f, f + KeyBlock::kSteps, KeyBlock::kHistory);
  block.Next = 0;
  block.Count = KeyBlock::kChars;
}

}  // namespace quarvel
