// The block generator's kernels with AVX-512: 64 bytes at a time.
#include <immintrin.h>

#include "generator/generator_types.h"
#include "generator/key_block_kernels.h"
#include "generator/register_bank.h"

namespace quarvel {

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

void PlaneStepsAvx512(std::uint8_t* planes, int planeBytes, int from, int to) {
  PlaneKernels<64>::Steps(planes, planeBytes, from, to);
}

std::uint8_t PlaneKeyBitsAvx512(const std::uint8_t* planes, int planeBytes, int from, int to,
                                const KeyBitTables& tables, std::uint8_t prevParity,
                                std::uint8_t* keyBits) {
  return PlaneKernels<64>::KeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

// 64 key characters from every 40 bytes of key bits in step order: each
// character is five consecutive bits, the first of them its most
// significant.
void PackCharsAvx512(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  alignas(64) std::uint8_t gather[64], shifts[64], reversed[64];
  for (int k = 0; k < 64; ++k) {
    // Byte k of the result: character 8q+i takes the bits from 40q+5i on.
    int q = k / 8, i = k % 8;
    gather[k] = static_cast<std::uint8_t>(5 * q + i);
    shifts[k] = static_cast<std::uint8_t>(5 * i);
    int r = 0;
    for (int bit = 0; bit < 5; ++bit) r |= ((k >> bit) & 1) << (4 - bit);
    reversed[k] = static_cast<std::uint8_t>(r);
  }
  const __m512i gatherIndex = _mm512_load_si512(gather);
  const __m512i shiftCounts = _mm512_load_si512(shifts);
  const __m512i reverse5 = _mm512_load_si512(reversed);
  const __m512i low5 = _mm512_set1_epi8(31);
  for (int g = 0; g < groups; g += 8) {
    __m512i bits = _mm512_maskz_loadu_epi8((std::uint64_t{1} << 40) - 1, keyBits + 5 * g);
    __m512i spread = _mm512_maskz_permutexvar_epi8(~std::uint64_t{0}, gatherIndex, bits);
    __m512i fields = _mm512_and_si512(
        _mm512_maskz_multishift_epi64_epi8(~std::uint64_t{0}, shiftCounts, spread), low5);
    _mm512_storeu_si512(chars + 8 * g,
                        _mm512_maskz_permutexvar_epi8(~std::uint64_t{0}, fields, reverse5));
  }
}

}  // namespace quarvel
