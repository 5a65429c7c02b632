// The block generator's kernels with AVX-512: 64 bytes at a time.
#include <immintrin.h>

#include <utility>

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

namespace {

// The ternary-logic table of the function of the second and third inputs,
// a and b (the first ignored), whose value is bit 2a + b of `truth`.
constexpr int TwoInputTable(int truth) {
  int table = 0;
  for (int i = 0; i < 8; ++i) table |= ((truth >> (i & 3)) & 1) << i;
  return table;
}

// The functions of a and b, by their truth tables (bit 2a + b of the table
// is the value for a and b), into out[truth], other than the constants (0
// and 15) and a and b themselves (12 and 10). Each is made in the register
// of the one before it, which is stored by then.
template <int... kTruths>
void TwoInputFunctions(__m512i a, __m512i b, __m512i* out, std::integer_sequence<int, kTruths...>) {
  __m512i last = a;
  ((last = _mm512_ternarylogic_epi64(last, a, b, TwoInputTable(kTruths)), out[kTruths] = last),
   ...);
  out[10] = b;
  out[12] = a;
}
using MadeFunctions = std::integer_sequence<int, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 13, 14>;

// select ? ifSet : ifClear, bit by bit; ifClear's register takes the
// result.
__m512i Choose(__m512i select, __m512i ifSet, __m512i ifClear) {
  return _mm512_ternarylogic_epi64(ifClear, select, ifSet, 0xB8);
}

}  // namespace

// The matrix entry of each step by a tree of choices: registers 6 and 7
// pick among the four entries of a quarter of a row (one of the sixteen
// functions of two bits), then registers 5, 4, 3, 2 and 1 choose between
// halves. The functions of a vector are made one vector ahead, into the
// other of two sets, so that they are read well after they are stored.
std::uint8_t PlaneKeyBitsAvx512(const std::uint8_t* planes, int planeBytes, int from, int to,
                                const KeyBitTables& tables, std::uint8_t prevParity,
                                std::uint8_t* keyBits) {
  alignas(64) __m512i functions[2][16];
  for (auto& set : functions) {
    set[0] = _mm512_setzero_si512();
    set[15] = _mm512_set1_epi64(-1);
  }
  // The function of each quarter row, in each set.
  const __m512i* quarters[2][32];
  for (int i = 0; i < 32; ++i) {
    quarters[0][i] = functions[0] + tables.Quarters[i];
    quarters[1][i] = functions[1] + tables.Quarters[i];
  }
  auto load = [&](int r, int k) { return _mm512_loadu_si512(planes + r * planeBytes + k); };
  __m512i before = _mm512_set_epi64(static_cast<long long>(std::uint64_t{prevParity} << 63), 0, 0,
                                    0, 0, 0, 0, 0);
  if (from < to) TwoInputFunctions(load(6, from), load(7, from), functions[0], MadeFunctions());
  int set = 0;
  for (int k = from; k < to; k += 64) {
    __m512i reg[8];
    for (int r = 0; r < 8; ++r) reg[r] = load(r, k);
    if (k + 64 < to)
      TwoInputFunctions(load(6, k + 64), load(7, k + 64), functions[set ^ 1], MadeFunctions());
    const __m512i* const* q = quarters[set];
    __m512i rows[8];
    for (int row = 0; row < 8; ++row, q += 4)
      rows[row] = Choose(reg[4], Choose(reg[5], *q[3], *q[2]), Choose(reg[5], *q[1], *q[0]));
    for (int row = 0; row < 4; ++row) rows[row] = Choose(reg[3], rows[2 * row + 1], rows[2 * row]);
    for (int row = 0; row < 2; ++row) rows[row] = Choose(reg[2], rows[2 * row + 1], rows[2 * row]);
    const __m512i entry = Choose(reg[1], rows[1], rows[0]);
    __m512i parity = _mm512_ternarylogic_epi64(reg[0], reg[1], reg[2], 0x96);
    parity = _mm512_ternarylogic_epi64(parity, reg[3], reg[4], 0x96);
    parity = _mm512_ternarylogic_epi64(parity, reg[5], reg[6], 0x96);
    parity = _mm512_xor_si512(parity, reg[7]);
    // The parity of the step before each step: one bit up, through the
    // lanes, the top bit of the vector before coming in at the bottom.
    const __m512i lanesUp = _mm512_maskz_alignr_epi64(0xFF, parity, before, 7);
    const __m512i previous = _mm512_shldi_epi64(parity, lanesUp, 1);
    before = parity;
    _mm512_storeu_si512(keyBits + (k - from),
                        _mm512_ternarylogic_epi64(entry, reg[0], previous, 0x96));
    set ^= 1;
  }
  alignas(64) std::uint64_t lanes[8];
  _mm512_store_si512(lanes, before);
  return static_cast<std::uint8_t>(lanes[7] >> 63);
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
