// The block generator's kernels with AVX2: 32 bytes at a time.
#include <immintrin.h>

#include <array>
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

std::uint8_t PlaneKeyBitsByTreeAvx2(const std::uint8_t* planes, int planeBytes, int from, int to,
                                    const KeyBitTables& tables, std::uint8_t prevParity,
                                    std::uint8_t* keyBits) {
  return PlaneKernels<32>::KeyBits(planes, planeBytes, from, to, tables, prevParity, keyBits);
}

namespace {

// Each field of five bits reversed, for the values 0 to 31 as two halves.
constexpr std::array<std::uint8_t, 32> kReversed5 = [] {
  std::array<std::uint8_t, 32> table{};
  for (int v = 0; v < 32; ++v) {
    int r = 0;
    for (int bit = 0; bit < 5; ++bit) r |= ((v >> bit) & 1) << (4 - bit);
    table[v] = static_cast<std::uint8_t>(r);
  }
  return table;
}();

// Eight fields of five bits, from the low 40 bits of each 64-bit lane, one
// to a byte: halves, quarters, then eighths of the lane apart.
__m256i SpreadFields(__m256i x) {
  auto spread = [](__m256i v, long long keep, long long move, int by) {
    return _mm256_or_si256(_mm256_and_si256(v, _mm256_set1_epi64x(keep)),
                           _mm256_slli_epi64(_mm256_and_si256(v, _mm256_set1_epi64x(move)), by));
  };
  x = spread(x, 0xFFFFF, 0xFFFFF00000, 12);
  x = spread(x, 0x000003FF000003FF, 0x000FFC00000FFC00, 6);
  return spread(x, 0x001F001F001F001F, 0x03E003E003E003E0, 3);
}

}  // namespace

// 32 key characters from every 20 bytes of key bits in step order: each
// character is five consecutive bits, the first of them its most
// significant. The key bits are read up to 16 bytes past the last group.
void PackCharsAvx2(const std::uint8_t* keyBits, int groups, std::uint8_t* chars) {
  // The five bytes of groups 0 and 1 (2 and 3 in the high lane) into the
  // low bytes of the two 64-bit lanes.
  const __m256i gather = _mm256_setr_epi8(0, 1, 2, 3, 4, -1, -1, -1, 5, 6, 7, 8, 9, -1, -1, -1, 0,
                                          1, 2, 3, 4, -1, -1, -1, 5, 6, 7, 8, 9, -1, -1, -1);
  const __m128i reversedLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kReversed5.data()));
  const __m128i reversedHigh =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kReversed5.data() + 16));
  const __m256i low = _mm256_broadcastsi128_si256(reversedLow);
  const __m256i high = _mm256_broadcastsi128_si256(reversedHigh);
  for (int g = 0; g < groups; g += 4) {
    const std::uint8_t* p = keyBits + 5 * g;
    __m256i bits = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 10),
                                       reinterpret_cast<const __m128i*>(p));
    __m256i fields = SpreadFields(_mm256_shuffle_epi8(bits, gather));
    // Bit 4 of the field, moved to bit 7, chooses the half of the table.
    __m256i reversed =
        _mm256_blendv_epi8(_mm256_shuffle_epi8(low, fields), _mm256_shuffle_epi8(high, fields),
                           _mm256_slli_epi16(fields, 3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(chars + 8 * g), reversed);
  }
}

}  // namespace quarvel
