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

namespace {

// select ? ifSet : ifClear, bit by bit.
__m256i Choose(__m256i select, __m256i ifSet, __m256i ifClear) {
  return _mm256_xor_si256(ifClear, _mm256_and_si256(select, _mm256_xor_si256(ifSet, ifClear)));
}

// The sixteen functions of a and b into out[truth] (bit 2a + b of the truth
// table is the value for a and b).
void TwoInputFunctions(__m256i a, __m256i b, __m256i* out) {
  const __m256i ones = _mm256_set1_epi64x(-1);
  const __m256i notA = _mm256_xor_si256(a, ones), notB = _mm256_xor_si256(b, ones);
  const __m256i either = _mm256_or_si256(a, b), both = _mm256_and_si256(a, b);
  const __m256i differ = _mm256_xor_si256(a, b);
  out[0] = _mm256_setzero_si256();
  out[1] = _mm256_xor_si256(either, ones);
  out[2] = _mm256_andnot_si256(a, b);
  out[3] = notA;
  out[4] = _mm256_andnot_si256(b, a);
  out[5] = notB;
  out[6] = differ;
  out[7] = _mm256_xor_si256(both, ones);
  out[8] = both;
  out[9] = _mm256_xor_si256(differ, ones);
  out[10] = b;
  out[11] = _mm256_or_si256(notA, b);
  out[12] = a;
  out[13] = _mm256_or_si256(a, notB);
  out[14] = either;
  out[15] = ones;
}

}  // namespace

// The matrix entry of each step by a tree of choices: registers 6 and 7
// pick among the four entries of a quarter of a row (one of the sixteen
// functions of two bits, read from memory through a pointer per quarter),
// registers 4 and 5 pick the quarter by their minterms (an AND of each with
// the quarter's function folds the read in), then registers 3, 2 and 1
// choose between halves of the rows. The functions of a vector are made one
// vector ahead, into the other of two sets, so that they are read well
// after they are stored.
std::uint8_t PlaneKeyBitsAvx2(const std::uint8_t* planes, int planeBytes, int from, int to,
                              const KeyBitTables& tables, std::uint8_t prevParity,
                              std::uint8_t* keyBits) {
  alignas(32) __m256i functions[2][16];
  const __m256i* quarters[2][32];
  for (int i = 0; i < 32; ++i) {
    quarters[0][i] = functions[0] + tables.Quarters[i];
    quarters[1][i] = functions[1] + tables.Quarters[i];
  }
  auto load = [&](int r, int k) { return Load32(planes + r * planeBytes + k); };
  const __m256i ones = _mm256_set1_epi64x(-1);
  // The parity of the vector before, one lane up (its last lane in the
  // first): at first, the parity before the steps in the top bit.
  __m256i lastUp =
      _mm256_set_epi64x(0, 0, 0, static_cast<long long>(std::uint64_t{prevParity} << 63));
  if (from < to) TwoInputFunctions(load(6, from), load(7, from), functions[0]);
  int set = 0;
  for (int k = from; k < to; k += 32) {
    __m256i reg[8];
    for (int r = 0; r < 8; ++r) reg[r] = load(r, k);
    if (k + 32 < to) TwoInputFunctions(load(6, k + 32), load(7, k + 32), functions[set ^ 1]);
    const __m256i* const* q = quarters[set];
    const __m256i quarter[4] = {_mm256_xor_si256(_mm256_or_si256(reg[4], reg[5]), ones),
                                _mm256_andnot_si256(reg[4], reg[5]),
                                _mm256_andnot_si256(reg[5], reg[4]),
                                _mm256_and_si256(reg[4], reg[5])};
    __m256i rows[8];
    for (int row = 0; row < 8; ++row, q += 4) {
      rows[row] = _mm256_or_si256(
          _mm256_or_si256(_mm256_and_si256(quarter[0], *q[0]), _mm256_and_si256(quarter[1], *q[1])),
          _mm256_or_si256(_mm256_and_si256(quarter[2], *q[2]),
                          _mm256_and_si256(quarter[3], *q[3])));
    }
    for (int row = 0; row < 4; ++row) rows[row] = Choose(reg[3], rows[2 * row + 1], rows[2 * row]);
    for (int row = 0; row < 2; ++row) rows[row] = Choose(reg[2], rows[2 * row + 1], rows[2 * row]);
    const __m256i entry = Choose(reg[1], rows[1], rows[0]);
    const __m256i parity = _mm256_xor_si256(
        _mm256_xor_si256(_mm256_xor_si256(reg[0], reg[1]), _mm256_xor_si256(reg[2], reg[3])),
        _mm256_xor_si256(_mm256_xor_si256(reg[4], reg[5]), _mm256_xor_si256(reg[6], reg[7])));
    // The parity of the step before each step: one bit up, through the
    // lanes, the top bit of the vector before coming in at the bottom.
    const __m256i up = _mm256_permute4x64_epi64(parity, 0x93);
    const __m256i lanesUp = _mm256_blend_epi32(up, lastUp, 0x03);
    lastUp = up;
    const __m256i previous =
        _mm256_or_si256(_mm256_slli_epi64(parity, 1), _mm256_srli_epi64(lanesUp, 63));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(keyBits + (k - from)),
                        _mm256_xor_si256(_mm256_xor_si256(entry, reg[0]), previous));
    set ^= 1;
  }
  return static_cast<std::uint8_t>(static_cast<std::uint64_t>(_mm256_extract_epi64(lastUp, 0)) >>
                                   63);
}

std::uint8_t PlaneKeyBitsByMintermsAvx2(const std::uint8_t* planes, int planeBytes, int from,
                                        int to, const KeyBitTables& tables, std::uint8_t prevParity,
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
