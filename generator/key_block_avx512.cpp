// The block generator's kernels with AVX-512: 64 bytes at a time.
#include <immintrin.h>

#include <cstring>

#include "generator/generator_types.h"
#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

namespace {

// Four copies of a 16-byte table.
__m512i Repeat4(const std::uint8_t* table) {
  alignas(64) std::uint8_t copies[64];
  for (int i = 0; i < 64; ++i) copies[i] = table[i & 15];
  return _mm512_load_si512(copies);
}

}  // namespace

void StridedStepsAvx512(std::uint8_t* f, int from, int to) {
  __m512i taps[kStageCount];
  for (int i = 0; i < kStageCount; ++i)
    taps[i] = _mm512_set1_epi8(static_cast<char>(FeedbackTaps[i]));
  for (int n = from; n < to; n += kKeyStride) {
    std::uint8_t* p = f + n;
    __m512i a = _mm512_setzero_si512(), b = a;
    // Taps 30 to 1 in two chains, a ^= taps AND bytes (ternary-logic table
    // 0x78); the newest bytes, made by the pass before, come last.
#pragma GCC unroll 32
    for (int i = kStageCount - 1; i >= 2; i -= 2) {
      a = _mm512_ternarylogic_epi64(a, taps[i], _mm512_loadu_si512(p - kKeyStride * (1 + i)), 0x78);
      b = _mm512_ternarylogic_epi64(b, taps[i - 1], _mm512_loadu_si512(p - kKeyStride * i), 0x78);
    }
    // Tap 0: the bytes made by the pass before.
    a = _mm512_ternarylogic_epi64(a, taps[0], _mm512_loadu_si512(p - kKeyStride), 0x78);
    _mm512_storeu_si512(p, _mm512_xor_si512(a, b));
  }
}

std::uint8_t KeyBitsAvx512(const std::uint8_t* f, int words, const KeyBitTables& tables,
                           std::uint8_t prevParity, std::uint8_t* keyBits) {
  const __m512i reverse = Repeat4(kReverse8);
  const __m512i bitOf = Repeat4(kBitOf);
  const __m512i parityOf = Repeat4(kParityOf);
  const __m512i low4 = _mm512_set1_epi8(0x0F);
  const __m512i entryLow = Repeat4(tables.EntryLow);
  const __m512i entryHigh = Repeat4(tables.EntryHigh);
  std::uint64_t prev = prevParity;
  for (int w = 0; w < words; ++w) {
    __m512i v = _mm512_shuffle_epi8(_mm512_loadu_si512(f + 64 * w), reverse);
    __m512i lo = _mm512_and_si512(v, low4);
    __m512i hi = _mm512_and_si512(_mm512_srli_epi16(v, 4), low4);
    __m512i row = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), _mm512_shuffle_epi8(entryLow, lo),
                                         _mm512_shuffle_epi8(entryHigh, lo));
    std::uint64_t entry = _mm512_test_epi8_mask(row, _mm512_shuffle_epi8(bitOf, hi));
    std::uint64_t parity = _mm512_movepi8_mask(
        _mm512_xor_si512(_mm512_shuffle_epi8(parityOf, lo), _mm512_shuffle_epi8(parityOf, hi)));
    std::uint64_t bits = CombineMasks(entry, parity, prev);
    std::memcpy(keyBits + 8 * w, &bits, sizeof bits);
  }
  return static_cast<std::uint8_t>(prev);
}

// Eight key characters at once: the 40 bits spread into the low five bits
// of eight bytes.
void PackCharsAvx512(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  for (int q = 0; q < groups; ++q) {
    std::uint64_t x;
    std::memcpy(&x, keyBits + 5 * q, sizeof x);
    x = __builtin_bswap64(x) >> 24;
    std::uint64_t eight = __builtin_bswap64(_pdep_u64(x, 0x1F1F1F1F1F1F1F1Full));
    std::memcpy(chars + 8 * q, &eight, sizeof eight);
  }
}

}  // namespace quarvel
