// The block generator's kernels with AVX2: 32 bytes at a time.
#include <immintrin.h>

#include <cstring>

#include "generator/generator_types.h"
#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

namespace {

__m256i Load32(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Two copies of a 16-byte table.
__m256i Repeat2(const std::uint8_t* table) {
  __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
  return _mm256_setr_m128i(half, half);
}

}  // namespace

void StridedStepsAvx2(std::uint8_t* f, int from, int to) {
  alignas(32) std::uint8_t tapBytes[kStageCount][32];
  for (int i = 0; i < kStageCount; ++i) std::memset(tapBytes[i], FeedbackTaps[i], 32);
  auto tap = [&](int i) { return reinterpret_cast<const __m256i*>(tapBytes[i]); };
  // Taps 0 to 11 stay in registers; the others are read where they are used.
  const __m256i t0 = *tap(0), t1 = *tap(1), t2 = *tap(2), t3 = *tap(3), t4 = *tap(4), t5 = *tap(5),
                t6 = *tap(6), t7 = *tap(7), t8 = *tap(8), t9 = *tap(9), t10 = *tap(10),
                t11 = *tap(11);
  for (int n = from; n < to; n += kKeyStride) {
    for (int half = 0; half < kKeyStride; half += 32) {
      const std::uint8_t* p = f + n + half;
      __m256i a = _mm256_setzero_si256(), b = a;
      // Taps 30 to 12 from memory, in two chains.
#pragma GCC unroll 19
      for (int i = kStageCount - 1; i >= 12; --i) {
        __m256i term = _mm256_and_si256(*tap(i), Load32(p - kKeyStride * (1 + i)));
        if (i % 2) {
          a = _mm256_xor_si256(a, term);
        } else {
          b = _mm256_xor_si256(b, term);
        }
      }
      const __m256i held[12] = {t0, t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11};
#pragma GCC unroll 12
      for (int i = 11; i >= 0; --i) {
        __m256i term = _mm256_and_si256(held[i], Load32(p - kKeyStride * (1 + i)));
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

std::uint8_t KeyBitsAvx2(const std::uint8_t* f, int words, const KeyBitTables& tables,
                         std::uint8_t prevParity, std::uint8_t* keyBits) {
  const __m256i reverse = Repeat2(kReverse8);
  const __m256i bitOf = Repeat2(kBitOf);
  const __m256i parityOf = Repeat2(kParityOf);
  const __m256i low4 = _mm256_set1_epi8(0x0F);
  const __m256i entryLow = Repeat2(tables.EntryLow);
  const __m256i entryHigh = Repeat2(tables.EntryHigh);
  std::uint64_t prev = prevParity;
  for (int w = 0; w < words; ++w) {
    std::uint64_t entry = 0, parity = 0;
    for (int half = 0; half < 2; ++half) {
      __m256i v = Load32(f + 64 * w + 32 * half);
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
    std::memcpy(keyBits + 8 * w, &bits, sizeof bits);
  }
  return static_cast<std::uint8_t>(prev);
}

}  // namespace quarvel
