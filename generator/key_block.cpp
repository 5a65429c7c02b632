#include "generator/key_block.h"

#include <cstring>

#include "generator/register_bank.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARVEL_X86 1
#endif

namespace quarvel {

namespace {

constexpr int kStart = KeyBlock::kHistory;
constexpr int kEnd = KeyBlock::kHistory + KeyBlock::kSteps;
constexpr int kWords = KeyBlock::kSteps / 64;
constexpr int kStride = KeyBlock::kStride;

// f[n] from the 31 bytes before it.
inline std::uint8_t PlainStep(const std::uint8_t* f, int n) {
  std::uint8_t x = 0;
  for (int i = 0; i < kStageCount; ++i) x ^= FeedbackTaps[i] & f[n - 1 - i];
  return x;
}

// The key bits of 64 steps from two masks in which bit 8m+r stands for step
// 8m+7-r: `entry` holds the matrix entry XOR bit 0 of each step's output,
// `parity` the parity of each output. A key bit takes the parity of the
// step before it: within a byte of the mask that is the next bit up, and for
// the top bit the lowest bit of the byte below; `prev` carries the parity of
// the last step into the next word.
inline std::uint64_t CombineMasks(std::uint64_t entry, std::uint64_t parity, std::uint64_t& prev) {
  std::uint64_t before = ((parity >> 1) & 0x7F7F7F7F7F7F7F7Full) |
                         ((parity << 15) & 0x8080808080808080ull) | (prev << 7);
  prev = (parity >> 56) & 1;
  return entry ^ before;
}

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
  std::uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x = (x << 8) | p[i];
  return x;
}

// ---- Portable ----

using Vec16 = std::uint8_t __attribute__((vector_size(16)));

void StridedStepsPortable(std::uint8_t* f, int from, int to) {
  Vec16 taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i) {
    for (int k = 0; k < 16; ++k) taps[i][k] = FeedbackTaps[i];
  }
  for (int n = from; n < to; n += kStride) {
    for (int part = 0; part < kStride; part += 16) {
      Vec16 x = {};
      for (int i = kStageCount - 1; i >= 0; --i) {
        Vec16 v;
        std::memcpy(&v, f + n + part - kStride * (1 + i), sizeof v);
        x ^= v & taps[i];
      }
      std::memcpy(f + n + part, &x, sizeof x);
    }
  }
}

void KeyBitsPortable(KeyBlock& block) {
  const std::uint8_t* f = block.Outputs.data() + kStart;
  const std::uint8_t* table = block.BitTable.data();
  std::uint8_t prev = block.PrevParity;
  for (int m = 0; m < KeyBlock::kSteps / 8; ++m) {
    std::uint8_t bits = 0;
    for (int r = 0; r < 8; ++r) {
      std::uint8_t t = table[f[8 * m + r]];
      bits = static_cast<std::uint8_t>((bits << 1) | ((t ^ prev) & 1));
      prev = t >> 1;
    }
    block.KeyBits[m] = bits;
  }
  block.PrevParity = prev;
}

// Eight key characters from every five bytes of key bits.
void PackCharsPortable(KeyBlock& block, std::uint8_t* chars) {
  for (int q = 0; q < KeyBlock::kChars / 8; ++q) {
    std::uint64_t x = LoadBigEndian64(block.KeyBits.data() + 5 * q);
    for (int i = 0; i < 8; ++i)
      chars[8 * q + i] = static_cast<std::uint8_t>((x >> (59 - 5 * i)) & 31);
  }
}

#if QUARVEL_X86

// ---- AVX2 ----

__attribute__((target("avx2"))) inline __m256i Load32(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) void StridedStepsAvx2(std::uint8_t* f, int from, int to) {
  alignas(32) std::uint8_t tapBytes[kStageCount][32];
  for (int i = 0; i < kStageCount; ++i) std::memset(tapBytes[i], FeedbackTaps[i], 32);
  auto tap = [&](int i) { return reinterpret_cast<const __m256i*>(tapBytes[i]); };
  // Taps 0 to 11 stay in registers; the others are read where they are used.
  const __m256i t0 = *tap(0), t1 = *tap(1), t2 = *tap(2), t3 = *tap(3), t4 = *tap(4), t5 = *tap(5),
                t6 = *tap(6), t7 = *tap(7), t8 = *tap(8), t9 = *tap(9), t10 = *tap(10),
                t11 = *tap(11);
  for (int n = from; n < to; n += kStride) {
    for (int half = 0; half < kStride; half += 32) {
      const std::uint8_t* p = f + n + half;
      __m256i a = _mm256_setzero_si256(), b = a;
      // Taps 30 to 12 from memory, in two chains.
#pragma GCC unroll 19
      for (int i = kStageCount - 1; i >= 12; --i) {
        __m256i term = _mm256_and_si256(*tap(i), Load32(p - kStride * (1 + i)));
        if (i % 2) {
          a = _mm256_xor_si256(a, term);
        } else {
          b = _mm256_xor_si256(b, term);
        }
      }
      const __m256i held[12] = {t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11};
#pragma GCC unroll 12
      for (int i = 11; i >= 0; --i) {
        __m256i term = _mm256_and_si256(held[i], Load32(p - kStride * (1 + i)));
        if (i % 2) {
          a = _mm256_xor_si256(a, term);
        } else {
          b = _mm256_xor_si256(b, term);
        }
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(f + n + half), _mm256_xor_si256(a, b));
    }
  }
}

// Reverses the bytes of every group of eight.
constexpr std::uint8_t kReverse8[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
// 1 << (index AND 7).
constexpr std::uint8_t kBitOf[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
// 0xFF for a nibble of odd parity.
constexpr std::uint8_t kParityOf[16] = {0,    0xFF, 0xFF, 0,    0xFF, 0,    0,    0xFF,
                                        0xFF, 0,    0,    0xFF, 0,    0xFF, 0xFF, 0};

// Two copies of a 16-byte table.
__attribute__((target("avx2"))) inline __m256i Repeat2(const std::uint8_t* table) {
  __m128i half = _mm_loadu_si128((const __m128i*)table);
  return _mm256_setr_m128i(half, half);
}

__attribute__((target("avx2"))) void KeyBitsAvx2(KeyBlock& block) {
  const std::uint8_t* f = block.Outputs.data() + kStart;
  const __m256i reverse = Repeat2(kReverse8);
  const __m256i bitOf = Repeat2(kBitOf);
  const __m256i parityOf = Repeat2(kParityOf);
  const __m256i low4 = _mm256_set1_epi8(0x0F);
  const __m256i entryLow = Repeat2(block.EntryLow.data());
  const __m256i entryHigh = Repeat2(block.EntryHigh.data());
  std::uint64_t prev = block.PrevParity;
  for (int w = 0; w < kWords; ++w) {
    std::uint64_t entry = 0, parity = 0;
    for (int half = 0; half < 2; ++half) {
      __m256i v = _mm256_loadu_si256((const __m256i*)(f + 64 * w + 32 * half));
      v = _mm256_shuffle_epi8(v, reverse);
      __m256i lo = _mm256_and_si256(v, low4);
      __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), low4);
      __m256i row = _mm256_blendv_epi8(_mm256_shuffle_epi8(entryLow, lo),
                                       _mm256_shuffle_epi8(entryHigh, lo), v);
      __m256i bit = _mm256_shuffle_epi8(bitOf, hi);
      __m256i set = _mm256_cmpeq_epi8(_mm256_and_si256(row, bit), bit);
      __m256i par =
          _mm256_xor_si256(_mm256_shuffle_epi8(parityOf, lo), _mm256_shuffle_epi8(parityOf, hi));
      entry |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(set)))
               << (32 * half);
      parity |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(par)))
                << (32 * half);
    }
    std::uint64_t bits = CombineMasks(entry, parity, prev);
    std::memcpy(block.KeyBits.data() + 8 * w, &bits, sizeof bits);
  }
  block.PrevParity = static_cast<std::uint8_t>(prev);
}

// ---- AVX-512 ----

#define QUARVEL_AVX512 "avx512f,avx512bw,bmi2"

__attribute__((target(QUARVEL_AVX512))) void StridedStepsAvx512(std::uint8_t* f, int from, int to) {
  __m512i taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i)
    taps[i] = _mm512_set1_epi8(static_cast<char>(FeedbackTaps[i]));
  for (int n = from; n < to; n += kStride) {
    std::uint8_t* p = f + n;
    __m512i a = _mm512_setzero_si512(), b = a;
    // Taps 30 to 1 in two chains, a ^= taps AND bytes (ternary-logic table
    // 0x78); the newest bytes, made by the pass before, come last.
#pragma GCC unroll 32
    for (int i = kStageCount - 1; i >= 2; i -= 2) {
      a = _mm512_ternarylogic_epi64(a, taps[i], _mm512_loadu_si512(p - kStride * (1 + i)), 0x78);
      b = _mm512_ternarylogic_epi64(b, taps[i - 1], _mm512_loadu_si512(p - kStride * i), 0x78);
    }
    // Tap 0: the bytes made by the pass before.
    a = _mm512_ternarylogic_epi64(a, taps[0], _mm512_loadu_si512(p - kStride), 0x78);
    _mm512_storeu_si512(p, _mm512_xor_si512(a, b));
  }
}

// Four copies of a 16-byte table.
__attribute__((target(QUARVEL_AVX512))) inline __m512i Repeat4(const std::uint8_t* table) {
  alignas(64) std::uint8_t copies[64];
  for (int i = 0; i < 64; ++i) copies[i] = table[i & 15];
  return _mm512_load_si512(copies);
}

__attribute__((target(QUARVEL_AVX512))) void KeyBitsAvx512(KeyBlock& block) {
  const std::uint8_t* f = block.Outputs.data() + kStart;
  const __m512i reverse = Repeat4(kReverse8);
  const __m512i bitOf = Repeat4(kBitOf);
  const __m512i parityOf = Repeat4(kParityOf);
  const __m512i low4 = _mm512_set1_epi8(0x0F);
  const __m512i entryLow = Repeat4(block.EntryLow.data());
  const __m512i entryHigh = Repeat4(block.EntryHigh.data());
  std::uint64_t prev = block.PrevParity;
  for (int w = 0; w < kWords; ++w) {
    __m512i v = _mm512_shuffle_epi8(_mm512_loadu_si512(f + 64 * w), reverse);
    __m512i lo = _mm512_and_si512(v, low4);
    __m512i hi = _mm512_and_si512(_mm512_srli_epi16(v, 4), low4);
    __m512i row = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_shuffle_epi8(entryLow, lo),
                                         _mm512_shuffle_epi8(entryHigh, lo));
    std::uint64_t entry = _mm512_test_epi8_mask(row, _mm512_shuffle_epi8(bitOf, hi));
    std::uint64_t parity = _mm512_movepi8_mask(
        _mm512_xor_si512(_mm512_shuffle_epi8(parityOf, lo), _mm512_shuffle_epi8(parityOf, hi)));
    std::uint64_t bits = CombineMasks(entry, parity, prev);
    std::memcpy(block.KeyBits.data() + 8 * w, &bits, sizeof bits);
  }
  block.PrevParity = static_cast<std::uint8_t>(prev);
}

// Eight key characters at once: the 40 bits spread into the low five bits
// of eight bytes.
__attribute__((target(QUARVEL_AVX512))) void PackCharsBmi2(KeyBlock& block, std::uint8_t* out) {
  for (int q = 0; q < KeyBlock::kChars / 8; ++q) {
    std::uint64_t x;
    std::memcpy(&x, block.KeyBits.data() + 5 * q, sizeof x);
    x = __builtin_bswap64(x) >> 24;
    std::uint64_t chars = __builtin_bswap64(_pdep_u64(x, 0x1F1F1F1F1F1F1F1Full));
    std::memcpy(out + 8 * q, &chars, sizeof chars);
  }
}

#endif  // QUARVEL_X86

}  // namespace

KeyIsa BestKeyIsa() {
#if QUARVEL_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt")) {
    return KeyIsa::Avx512;
  }
  if (__builtin_cpu_supports("avx2")) return KeyIsa::Avx2;
#endif
  return KeyIsa::Portable;
}

void StartKeyBlock(KeyBlock& block, const RegisterBank& registers, std::uint8_t stepParity,
                   const StructureMatrix& matrix) {
  block.Outputs.fill(0);
  for (int i = 0; i < kStageCount; ++i) {
    block.Outputs[KeyBlock::kHistory - 1 - i] = registers.Stages[i];
  }
  block.EntryLow.fill(0);
  block.EntryHigh.fill(0);
  for (int f = 0; f < 256; ++f) {
    // Step bit s_j is bit 7 - j of f: column s0..s3, row s4..s6, s7 apart.
    int column =
        ((f >> 7) & 1) | (((f >> 6) & 1) << 1) | (((f >> 5) & 1) << 2) | (((f >> 4) & 1) << 3);
    int row = ((f >> 3) & 1) | (((f >> 2) & 1) << 1) | (((f >> 1) & 1) << 2);
    int parity = __builtin_parity(static_cast<unsigned>(f));
    int entry = (matrix[16 * row + column] ^ f) & 1;
    block.BitTable[f] = static_cast<std::uint8_t>(entry | (parity << 1));
    std::array<std::uint8_t, 16>& nibbles = f < 128 ? block.EntryLow : block.EntryHigh;
    nibbles[f & 15] |= static_cast<std::uint8_t>(entry << ((f >> 4) & 7));
  }
  block.PrevParity = stepParity & 1;
  block.FirstBlock = true;
  block.Isa = BestKeyIsa();
  block.Next = block.Count = 0;
  block.Active = true;
}

void RefillKeyBlock(KeyBlock& block) {
  int kept = block.Count - block.Next;
  std::memmove(block.Chars.data(), block.Chars.data() + block.Next, static_cast<std::size_t>(kept));
  std::uint8_t* chars = block.Chars.data() + kept;
  std::uint8_t* f = block.Outputs.data();
  int n = kStart;
  if (block.FirstBlock) {
    for (; n < kStart + KeyBlock::kPlainSteps; ++n) f[n] = PlainStep(f, n);
    block.FirstBlock = false;
  }
  switch (block.Isa) {
#if QUARVEL_X86
    case KeyIsa::Avx512:
      StridedStepsAvx512(f, n, kEnd);
      KeyBitsAvx512(block);
      PackCharsBmi2(block, chars);
      break;
    case KeyIsa::Avx2:
      StridedStepsAvx2(f, n, kEnd);
      KeyBitsAvx2(block);
      PackCharsPortable(block, chars);
      break;
#endif
    default:
      StridedStepsPortable(f, n, kEnd);
      KeyBitsPortable(block);
      PackCharsPortable(block, chars);
      break;
  }
  std::memmove(f, f + KeyBlock::kSteps, KeyBlock::kHistory);
  block.Next = 0;
  block.Count = kept + KeyBlock::kChars;
}

}  // namespace quarvel
