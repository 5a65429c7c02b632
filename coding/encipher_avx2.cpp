// The encipher kernels with AVX2, 32 plain bytes at a time.
#include <immintrin.h>

#include <array>

#include "coding/encipher_kernels.h"
#include "coding/pair_chain.h"
#include "coding/shuffle_kernels.h"

namespace quarvel {

namespace {

__m128i Load16(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
__m256i Load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
// 16 bytes from `low` in the low lane and 16 from `high` in the high one.
__m256i LoadLanes(const void* high, const void* low) {
  return _mm256_loadu2_m128i(static_cast<const __m128i*>(high), static_cast<const __m128i*>(low));
}
void Store16(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// The plain codes of bytes 32 to 127 by their high nibble (2 to 7): every
// other byte is its own code.
constexpr std::array<std::array<std::uint8_t, 16>, 8> CodesByNibble() {
  std::array<std::array<std::uint8_t, 16>, 8> table{};
  for (int high = 2; high < 8; ++high) {
    for (int low = 0; low < 16; ++low) table[high][low] = PlainCodes[16 * high + low];
  }
  return table;
}
alignas(16) constexpr auto kCodesByNibble = CodesByNibble();
constexpr bool OwnCodesOutside() {
  for (int b = 0; b < 256; ++b) {
    if ((b < 32 || b >= 128) && PlainCodes[b] != b) return false;
  }
  return true;
}
static_assert(OwnCodesOutside());

// The plain code of each byte.
__m256i PlainCodesOf(__m256i bytes) {
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), _mm256_set1_epi8(0x0F));
  __m256i codes = bytes;
  for (int h = 2; h < 8; ++h) {
    const __m256i table = _mm256_broadcastsi128_si256(Load16(kCodesByNibble[h].data()));
    codes = _mm256_blendv_epi8(codes, _mm256_shuffle_epi8(table, bytes),
                               _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(h))));
  }
  return codes;
}

// A table of 32 entries as two halves of 16, each in both lanes.
struct Table32 {
  __m256i Low, High;
};
Table32 LoadTable32(const std::uint8_t* entries) {
  return {_mm256_broadcastsi128_si256(Load16(entries)),
          _mm256_broadcastsi128_si256(Load16(entries + 16))};
}
// Entries at the low five bits of each byte below 128; 0 for the others.
__m256i Lookup32(const Table32& table, __m256i index) {
  // Bit 4 of the index, moved to bit 7, chooses the half.
  return _mm256_blendv_epi8(_mm256_shuffle_epi8(table.Low, index),
                            _mm256_shuffle_epi8(table.High, index), _mm256_slli_epi16(index, 3));
}

// The first (`second` false) or the second letter of each cipher code below
// 32; for the pair test, 0x80 for a code written as a pair.
constexpr std::array<std::uint8_t, 32> LetterTable(bool second) {
  std::array<std::uint8_t, 32> table{};
  for (int x = 0; x < 32; ++x)
    table[x] = static_cast<std::uint8_t>(CipherLetters[x] >> (second ? 8 : 0));
  return table;
}
alignas(16) constexpr auto kFirstLetters = LetterTable(false);
alignas(16) constexpr auto kSecondLetters = LetterTable(true);
alignas(16) constexpr std::array<std::uint8_t, 32> kPairFlags = [] {
  std::array<std::uint8_t, 32> table{};
  for (int x = 0; x < 32; ++x) table[x] = ((kPairCodes >> x) & 1) ? 0x80 : 0;
  return table;
}();

}  // namespace

std::size_t EncipherLettersAvx2(const std::uint8_t* plain, std::size_t count,
                                const std::uint8_t* keys, std::uint8_t* letters,
                                std::uint8_t* additive) {
  const Table32 pairFlags = LoadTable32(kPairFlags.data());
  const Table32 firstLetters = LoadTable32(kFirstLetters.data());
  const Table32 secondLetters = LoadTable32(kSecondLetters.data());
  const __m256i c31 = _mm256_set1_epi8(31);
  const __m256i c80 = _mm256_set1_epi8(static_cast<char>(0x80));
  std::size_t used = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    const std::uint8_t* k = keys + used;
    const __m256i code = PlainCodesOf(Load32(plain + i));
    // A code of 32 or more stands for itself and is never a pair: its bit 7
    // set for the pair test, which then finds nothing.
    const __m256i uncoded =
        _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(code, c31), code), _mm256_set1_epi8(-1));
    const __m256i base = _mm256_or_si256(code, _mm256_and_si256(uncoded, c80));

    // Bit t of pairsAt[d]: character t would be a pair if d pairs came
    // before it; kFirstSteps + 1 rows first, as most blocks need.
    constexpr int kFirstSteps = 12;
    // Rows up to 32 pairs, and a last four past them.
    std::uint32_t pairsAt[32 + 4];
    int known = 0;
    auto findMore = [&](int more) {
    // Four rows a pass: unrolled in full, the loop would hand the rows to
    // the chain in registers.
#pragma GCC unroll 4
      for (int n = 0; n < more; ++n, ++known) {
        pairsAt[known] = known > 32 ? 0
                                    : static_cast<std::uint32_t>(_mm256_movemask_epi8(Lookup32(
                                          pairFlags, _mm256_xor_si256(base, Load32(k + known)))));
      }
    };
    findMore(kFirstSteps + 1);
    const std::uint32_t pairs = ChainPairs<kFirstSteps>(pairsAt, known, findMore);

    // Four groups of eight characters, each starting at its first letter.
    const unsigned m0 = pairs & 0xFF, m1 = (pairs >> 8) & 0xFF, m2 = (pairs >> 16) & 0xFF,
                   m3 = pairs >> 24;
    const unsigned u1 = 8 + static_cast<unsigned>(_mm_popcnt_u32(m0));
    const unsigned u2 = u1 + 8 + static_cast<unsigned>(_mm_popcnt_u32(m1));
    const unsigned u3 = u2 + 8 + static_cast<unsigned>(_mm_popcnt_u32(m2));
    // Letter n takes key n: each character's key is the key of its first
    // letter. Groups 0 and 2, then 1 and 3, in the two lanes.
    const DoubledShuffles& shuffles = kDoubledShuffles;
    const __m256i keys02 = _mm256_shuffle_epi8(
        LoadLanes(k + u2, k),
        LoadLanes(shuffles.FirstSlot[m2].data(), shuffles.FirstSlot[m0].data()));
    const __m256i keys13 = _mm256_shuffle_epi8(
        LoadLanes(k + u3, k + u1),
        LoadLanes(shuffles.FirstSlot[m3].data(), shuffles.FirstSlot[m1].data()));
    const __m256i charKeys = _mm256_unpacklo_epi64(keys02, keys13);
    const __m256i x = _mm256_xor_si256(code, charKeys);
    const __m256i firsts = _mm256_blendv_epi8(Lookup32(firstLetters, x), x, uncoded);
    const __m256i seconds = Lookup32(secondLetters, x);
    // Each character's two slots side by side: groups 0 and 2, then 1 and
    // 3; the kept ones packed. Each group's letters overwrite what the store
    // of the group before writes past its own.
    const __m256i letters02 =
        _mm256_shuffle_epi8(_mm256_unpacklo_epi8(firsts, seconds),
                            LoadLanes(shuffles.Bytes[m2].data(), shuffles.Bytes[m0].data()));
    const __m256i letters13 =
        _mm256_shuffle_epi8(_mm256_unpackhi_epi8(firsts, seconds),
                            LoadLanes(shuffles.Bytes[m3].data(), shuffles.Bytes[m1].data()));
    std::uint8_t* l = letters + used;
    Store16(l, _mm256_castsi256_si128(letters02));
    Store16(l + u1, _mm256_castsi256_si128(letters13));
    Store16(l + u2, _mm256_extracti128_si256(letters02, 1));
    Store16(l + u3, _mm256_extracti128_si256(letters13, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(additive + i), charKeys);
    used += u3 + 8 + static_cast<unsigned>(_mm_popcnt_u32(m3));
  }
  return EncipherLettersFrom(plain, i, count, keys, used, letters, additive);
}

std::size_t FindByteClassAvx2(const std::uint8_t* data, std::size_t count, std::uint8_t wanted) {
  return FindByteClassBy<32>(data, count, wanted);
}

namespace {

// A line's 64 bytes (61 of them the line, the rest written over by the
// next) as four pieces of 16, each from the 16 letters that start at
// Start[piece]: Index gives each byte's letter among those, or 0x80 for a
// separator, which LineLayout::Separators then puts in.
struct LinePieces {
  std::array<std::uint8_t, 4> Start;
  std::array<std::uint8_t, 64> Index;
};
alignas(32) constexpr std::array<LinePieces, kLineLetters> kLinePieces = [] {
  std::array<LinePieces, kLineLetters> table{};
  for (int phase = 0; phase < kLineLetters; ++phase) {
    const std::uint64_t isLetter = LineLayouts[phase].LetterMask;
    int letter = 0;
    for (int place = 0; place < 64; ++place) {
      if (place % 16 == 0) table[phase].Start[place / 16] = static_cast<std::uint8_t>(letter);
      if ((isLetter >> place) & 1) {
        table[phase].Index[place] =
            static_cast<std::uint8_t>(letter++ - table[phase].Start[place / 16]);
      } else {
        table[phase].Index[place] = 0x80;
      }
    }
  }
  return table;
}();

}  // namespace

std::size_t LayOutLinesAvx2(const std::uint8_t* letters, std::size_t count, int phase,
                            std::uint8_t* out) {
  const LinePieces& pieces = kLinePieces[phase];
  const std::uint8_t* separators = LineLayouts[phase].Separators.data();
  const __m256i index01 = Load32(pieces.Index.data());
  const __m256i index23 = Load32(pieces.Index.data() + 32);
  const __m256i separators01 = Load32(separators);
  const __m256i separators23 = Load32(separators + 32);
  std::size_t done = 0;
  for (; done + kLineLetters <= count; done += kLineLetters, out += kLineBytes) {
    const std::uint8_t* l = letters + done;
    const __m256i half0 = _mm256_or_si256(
        _mm256_shuffle_epi8(LoadLanes(l + pieces.Start[1], l + pieces.Start[0]), index01),
        separators01);
    const __m256i half1 = _mm256_or_si256(
        _mm256_shuffle_epi8(LoadLanes(l + pieces.Start[3], l + pieces.Start[2]), index23),
        separators23);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), half0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), half1);
  }
  return done;
}

}  // namespace quarvel
