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

void PlaneStepsAvx2(std::uint8_t* planes, int planeBytes, int from, int to) {
  PlaneKernels<32>::Steps(planes, planeBytes, from, to);
}

std::uint8_t PlaneKeyBitsAvx2(const std::uint8_t* planes, int planeBytes, int from, int to,
                              const KeyBitTables& tables, std::uint8_t prevParity,
                              std::uint8_t* keyBits) {
  return PlaneKernels<32>::KeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

}  // namespace quarvel
