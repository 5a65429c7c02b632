// The encipher kernels with AVX-512, 64 plain bytes at a time.
#include <immintrin.h>

#include <array>

#include "coding/avx512_bytes.h"
#include "coding/encipher_kernels.h"
#include "coding/pair_chain.h"

namespace quarvel {

namespace {

// Four 64-byte parts of a 256-byte table.
struct Table256 {
  __m512i Part[4];
};

Table256 LoadTable256(const std::uint8_t* table) {
  Table256 parts;
  for (int k = 0; k < 4; ++k) parts.Part[k] = _mm512_loadu_si512(table + 64 * k);
  return parts;
}

__m512i Lookup256(const Table256& table, __m512i v) {
  __m512i low = _mm512_permutex2var_epi8(table.Part[0], v, table.Part[1]);
  __m512i high = _mm512_permutex2var_epi8(table.Part[2], v, table.Part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
}

// The first (`second` false) or the second letter of each cipher code
// below 32, twice over: a table for a byte permutation.
constexpr std::array<std::uint8_t, 64> LetterTable(bool second) {
  std::array<std::uint8_t, 64> table{};
  for (int x = 0; x < 64; ++x) {
    table[x] = static_cast<std::uint8_t>(CipherLetters[x & 31] >> (second ? 8 : 0));
  }
  return table;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kFirstLetters = LetterTable(false);
alignas(64) constexpr std::array<std::uint8_t, 64> kSecondLetters = LetterTable(true);

// The two slots of each of the 32 characters from `from` on, side by side:
// indexes into the first letters (0 to 63) and the second letters (64 to
// 127) of a byte permutation of two vectors.
constexpr std::array<std::uint8_t, 64> SlotTable(int from) {
  std::array<std::uint8_t, 64> table{};
  for (int j = 0; j < 32; ++j) {
    table[2 * j] = static_cast<std::uint8_t>(from + j);
    table[2 * j + 1] = static_cast<std::uint8_t>(64 + from + j);
  }
  return table;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kSlotsOf0 = SlotTable(0);
alignas(64) constexpr std::array<std::uint8_t, 64> kSlotsOf1 = SlotTable(32);

}  // namespace

std::size_t EncipherLettersAvx512(const std::uint8_t* plain, std::size_t count,
                                  const std::uint8_t* keys, std::uint8_t* letters,
                                  std::uint8_t* additive) {
  const __m512i pairBits = _mm512_set1_epi64(static_cast<long long>(kPairCodes));
  const __m512i firstLookup = _mm512_load_si512(kFirstLetters.data());
  const __m512i secondLookup = _mm512_load_si512(kSecondLetters.data());
  const __m512i slotsOf0 = _mm512_load_si512(kSlotsOf0.data());
  const __m512i slotsOf1 = _mm512_load_si512(kSlotsOf1.data());
  const Table256 codeTable = LoadTable256(PlainCodes.data());
  const __m512i c32 = _mm512_set1_epi8(32);

  std::size_t used = 0, i = 0;
  for (; i + 64 <= count; i += 64) {
    const std::uint8_t* k = keys + used;
    const __m512i code = Lookup256(codeTable, _mm512_loadu_si512(plain + i));
    const __m512i base = _mm512_min_epu8(code, c32);

    // Bit t of pairsAt[d]: character t would be a pair if d pairs came
    // before it; kFirstSteps + 1 rows first, as most blocks need.
    constexpr int kFirstSteps = 19;
    // Rows up to 64 pairs, and a last four past them.
    std::uint64_t pairsAt[64 + 4];
    int known = 0;
    auto findMore = [&](int more) {
    // Four rows a pass: unrolled in full, the loop would hand the rows to
    // the chain in registers.
#pragma GCC unroll 4
      for (int n = 0; n < more; ++n, ++known) {
        // Bit x of kPairCodes for each x = class XOR key.
        pairsAt[known] = known > 64
                             ? 0
                             : _mm512_bitshuffle_epi64_mask(
                                   pairBits, _mm512_xor_si512(base, _mm512_loadu_si512(k + known)));
      }
    };
    findMore(kFirstSteps + 1);
    const std::uint64_t pairs = ChainPairs<kFirstSteps>(pairsAt, known, findMore);

    // The letters of the block in two halves of 32 characters: each
    // character's two slots, its first letter and its second, which only a
    // pair keeps. kept0 and kept1 mark the slots kept of each half, first0
    // and first1 the first letters among the letters of each half.
    constexpr std::uint64_t kEvens = 0x5555555555555555ull;
    const std::uint64_t kept0 = kEvens | _pdep_u64(pairs & 0xFFFFFFFF, ~kEvens);
    const std::uint64_t kept1 = kEvens | _pdep_u64(pairs >> 32, ~kEvens);
    const std::uint64_t first0 = _pext_u64(kEvens, kept0);
    const std::uint64_t first1 = _pext_u64(kEvens, kept1);
    const unsigned letters0 = static_cast<unsigned>(_mm_popcnt_u64(kept0));

    // Letter n takes key n: each character's key is the key of its first
    // letter.
    const __m512i keys0 = _mm512_maskz_compress_epi8(first0, _mm512_loadu_si512(k));
    const __m512i keys1 = _mm512_maskz_compress_epi8(first1, _mm512_loadu_si512(k + letters0));
    // The low half of each, side by side.
    const __m512i charKeys = _mm512_mask_shuffle_i64x2(keys0, 0xF0, keys1, keys1, 0x44);
    const __m512i x = _mm512_xor_si512(code, charKeys);
    // A byte of 32 or more stands for itself.
    const __m512i firsts =
        _mm512_mask_blend_epi8(_mm512_cmpge_epu8_mask(x, c32), Permute64(x, firstLookup), x);
    const __m512i seconds = Permute64(x, secondLookup);
    const __m512i slots0 = _mm512_permutex2var_epi8(firsts, slotsOf0, seconds);
    const __m512i slots1 = _mm512_permutex2var_epi8(firsts, slotsOf1, seconds);
    // The second half's letters overwrite what the first half's store
    // writes past its own.
    _mm512_storeu_si512(letters + used, _mm512_maskz_compress_epi8(kept0, slots0));
    _mm512_storeu_si512(letters + used + letters0, _mm512_maskz_compress_epi8(kept1, slots1));
    _mm512_storeu_si512(additive + i, charKeys);
    used += letters0 + static_cast<unsigned>(_mm_popcnt_u64(kept1));
  }
  return EncipherLettersFrom(plain, i, count, keys, used, letters, additive);
}

std::size_t FindByteClassAvx512(const std::uint8_t* data, std::size_t count, std::uint8_t wanted) {
  const Table256 classTable = LoadTable256(PlainByteClasses.data());
  const __m512i wantedBits = _mm512_set1_epi8(static_cast<char>(wanted));
  for (std::size_t i = 0; i < count; i += 64) {
    // The bytes of the block that there are; the class of each from the
    // table.
    std::uint64_t present =
        count - i >= 64 ? ~std::uint64_t{0} : Below(static_cast<unsigned>(count - i));
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, data + i);
    std::uint64_t found =
        _mm512_mask_test_epi8_mask(present, Lookup256(classTable, bytes), wantedBits);
    if (found != 0) return i + static_cast<std::size_t>(__builtin_ctzll(found));
  }
  return count;
}

std::size_t LayOutLinesAvx512(const std::uint8_t* letters, std::size_t count, int phase,
                              std::uint8_t* out) {
  const LineLayout& layout = LineLayouts[phase];
  const __m512i separators = _mm512_loadu_si512(layout.Separators.data());
  std::size_t done = 0;
  for (; done + kLineLetters <= count; done += kLineLetters, out += kLineBytes) {
    _mm512_storeu_si512(
        out, _mm512_mask_expandloadu_epi8(separators, layout.LetterMask, letters + done));
  }
  return done;
}

}  // namespace quarvel
