// The decipher kernels with AVX2.
#include <immintrin.h>

#include "coding/decipher_kernels.h"
#include "coding/shuffle_kernels.h"

namespace quarvel {

namespace {

// Bit i set where text[i] is a capital, for 64 bytes.
std::uint64_t CapitalMask(const std::uint8_t* text) {
  // Capitals are the bytes that 0x3F more turns into -128 to -103.
  const __m256i shift = _mm256_set1_epi8(0x3F);
  const __m256i bound = _mm256_set1_epi8(-102);
  std::uint64_t mask = 0;
  for (int half = 0; half < 2; ++half) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32 * half));
    std::uint32_t bits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(bound, _mm256_add_epi8(v, shift))));
    mask |= static_cast<std::uint64_t>(bits) << (32 * half);
  }
  return mask;
}

__m128i Load16(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Two copies of 16 entries of a table of 64.
__m256i Sixteen(const std::uint8_t* entries) {
  __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries));
  return _mm256_setr_m128i(half, half);
}

// Entries 0 to 31 of a table of 64 at the low five bits of each byte.
__m256i Lookup32(__m256i v, __m256i low, __m256i high) {
  __m256i index = _mm256_and_si256(v, _mm256_set1_epi8(0x1F));
  // Bit 4 of the index, moved to bit 7, chooses between the two halves.
  __m256i choose = _mm256_slli_epi16(index, 3);
  return _mm256_blendv_epi8(_mm256_shuffle_epi8(low, index), _mm256_shuffle_epi8(high, index),
                            choose);
}

// The code of the character each letter begins (its own, or for a "Y" the
// pair's by the next letter) XOR its key, 32 letters at a time; letters and
// keys must be readable 32 bytes past `count`, and plain writable.
void LetterPlainsAvx2(const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
                      std::uint8_t* plain) {
  // Letters have their low five bits from 1 to 26, so entries 0 to 31 of the
  // 64 serve both cases.
  const __m256i letterLow = Sixteen(LetterCodeBy6.data());
  const __m256i letterHigh = Sixteen(LetterCodeBy6.data() + 16);
  const __m256i pairLow = Sixteen(PairCodeBy6.data());
  const __m256i pairHigh = Sixteen(PairCodeBy6.data() + 16);
  const __m256i lower = _mm256_set1_epi8(0x20);
  const __m256i y = _mm256_set1_epi8('y');
  for (std::size_t j = 0; j < count; j += 32) {
    __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + j));
    __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + j + 1));
    __m256i isY = _mm256_cmpeq_epi8(_mm256_or_si256(first, lower), y);
    __m256i code = _mm256_blendv_epi8(Lookup32(first, letterLow, letterHigh),
                                      Lookup32(second, pairLow, pairHigh), isY);
    __m256i key = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys + j));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(plain + j), _mm256_xor_si256(code, key));
  }
}

// The plain codes of 32 letters at a time, packed eight letters at a time
// by a byte shuffle from a table.
std::size_t StartPlains(const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
                        const std::uint64_t* starts, std::uint8_t* plain, std::uint8_t* additive) {
  alignas(32) std::uint8_t codes[kDecipherChunk + 64];
  LetterPlainsAvx2(letters, keys, count, codes);
  std::size_t n = 0;
  for (std::size_t j = 0; j < count; j += 8) {
    unsigned mask = static_cast<unsigned>(starts[j / 64] >> (j % 64)) & 0xFF;
    __m128i shuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[mask].data()));
    __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes + j));
    __m128i k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keys + j));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(plain + n), _mm_shuffle_epi8(p, shuffle));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(additive + n), _mm_shuffle_epi8(k, shuffle));
    n += static_cast<std::size_t>(_mm_popcnt_u32(mask));
  }
  return n;
}

// Bit i set where letters[i] is "Y" or "y", for 64 letters.
std::uint64_t YMask(const std::uint8_t* letters) {
  const __m256i lower = _mm256_set1_epi8(0x20);
  const __m256i y = _mm256_set1_epi8('y');
  std::uint64_t mask = 0;
  for (int half = 0; half < 2; ++half) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + 32 * half));
    std::uint32_t bits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_or_si256(v, lower), y)));
    mask |= static_cast<std::uint64_t>(bits) << (32 * half);
  }
  return mask;
}

}  // namespace

// The letters of `count` bytes, in order: 32 bytes at a time, each eight
// packed by a shuffle from the table, then byte by byte.
std::size_t CollectLettersAvx2(const std::uint8_t* text, std::size_t count, std::uint8_t* letters) {
  const __m256i lower = _mm256_set1_epi8(0x20);
  const __m256i a = _mm256_set1_epi8('a');
  const __m256i z = _mm256_set1_epi8(25);
  // The second eight of each 16 bytes take the places 8 on.
  const __m128i highHalf = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 8, 8, 8, 8, 8, 8);
  std::size_t n = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const __m256i fromA = _mm256_sub_epi8(_mm256_or_si256(v, lower), a);
    std::uint32_t isLetter = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_min_epu8(fromA, z), fromA)));
    for (int half = 0; half < 2; ++half, isLetter >>= 16) {
      const __m128i bytes = half == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
      const unsigned low = isLetter & 0xFF, high = (isLetter >> 8) & 0xFF;
      const __m128i shuffle = _mm_add_epi8(
          _mm_unpacklo_epi64(
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[low].data())),
              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[high].data()))),
          highHalf);
      const __m128i packed = _mm_shuffle_epi8(bytes, shuffle);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(letters + n), packed);
      n += static_cast<std::size_t>(_mm_popcnt_u32(low));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(letters + n), _mm_unpackhi_epi64(packed, packed));
      n += static_cast<std::size_t>(_mm_popcnt_u32(high));
    }
  }
  for (; i < count; ++i) {
    letters[n] = text[i];
    n += LetterFlags[text[i]];
  }
  return n;
}

std::size_t MarkStartsAvx2(const std::uint8_t* letters, std::size_t count, std::uint64_t* starts) {
  return MarkStartsWith(letters, count, starts, YMask);
}

namespace {

// The character of each code in figures shift and in letters shift; CR for
// the line feed, which the LF after it completes.
constexpr std::array<std::uint8_t, 32> ShiftChars(bool letters) {
  std::array<std::uint8_t, 32> table{};
  for (int code = 0; code < 32; ++code) {
    table[code] = code == kLineFeedCode ? '\r'
                  : letters             ? LettersShiftChars[code]
                                        : FiguresShiftChars[code];
  }
  return table;
}
alignas(16) constexpr auto kFiguresChars = ShiftChars(false);
alignas(16) constexpr auto kLettersChars = ShiftChars(true);

// Byte k all ones where bit k of `bits` is set.
__m256i BitsToBytes(std::uint32_t bits) {
  const __m256i spread =
      _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)),
                          _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2,
                                           2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3));
  const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
}

// Writes the characters of `count` plain codes (readable 32 bytes past)
// from `out` on, in the shift that `lettersShift` holds and updates;
// returns the end of what it wrote. First the character of each code, 32 at
// a time, with those that write nothing packed out eight at a time; then
// eight at a time again, an LF after each line feed's CR.
std::uint8_t* WritePlainAvx2(const std::uint8_t* plain, std::size_t count, bool& lettersShift,
                             std::uint8_t* out) {
  const __m256i figuresLow = _mm256_broadcastsi128_si256(Load16(kFiguresChars.data()));
  const __m256i figuresHigh = _mm256_broadcastsi128_si256(Load16(kFiguresChars.data() + 16));
  const __m256i lettersLow = _mm256_broadcastsi128_si256(Load16(kLettersChars.data()));
  const __m256i lettersHigh = _mm256_broadcastsi128_si256(Load16(kLettersChars.data() + 16));
  const __m256i figuresShift = _mm256_set1_epi8(kFiguresShiftCode);
  const __m256i lettersShiftCode = _mm256_set1_epi8(kLettersShiftCode);
  const __m256i carriageReturn = _mm256_set1_epi8(kCarriageReturnCode);
  const __m256i lineFeed = _mm256_set1_epi8(kLineFeedCode);
  alignas(32) std::uint8_t written[kDecipherChunk + 64], lineFeeds[kDecipherChunk + 64];
  std::size_t w = 0;
  for (std::size_t c = 0; c < count; c += 32) {
    const unsigned here = count - c >= 32 ? 32 : static_cast<unsigned>(count - c);
    const std::uint32_t valid = here == 32 ? ~0u : (1u << here) - 1;
    const __m256i code = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plain + c));
    auto maskOf = [](__m256i bytes) {
      return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
    };
    const __m256i isFigures = _mm256_cmpeq_epi8(code, figuresShift);
    const __m256i isLetters = _mm256_cmpeq_epi8(code, lettersShiftCode);
    const std::uint64_t inLetters =
        ShiftOfEach(maskOf(isFigures) & valid, maskOf(isLetters) & valid, here, lettersShift);
    const __m256i chars = _mm256_blendv_epi8(Lookup32(code, figuresLow, figuresHigh),
                                             Lookup32(code, lettersLow, lettersHigh),
                                             BitsToBytes(static_cast<std::uint32_t>(inLetters)));
    const __m256i silent = _mm256_or_si256(_mm256_or_si256(isFigures, isLetters),
                                           _mm256_cmpeq_epi8(code, carriageReturn));
    const std::uint32_t kept = ~maskOf(silent) & valid;
    const __m256i feeds = _mm256_cmpeq_epi8(code, lineFeed);
    for (int g = 0; g < 4; ++g) {
      const unsigned mask = (kept >> (8 * g)) & 0xFF;
      const __m128i shuffle =
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[mask].data()));
      __m128i charsHere =
          g < 2 ? _mm256_castsi256_si128(chars) : _mm256_extracti128_si256(chars, 1);
      __m128i feedsHere =
          g < 2 ? _mm256_castsi256_si128(feeds) : _mm256_extracti128_si256(feeds, 1);
      if (g % 2 == 1) {
        charsHere = _mm_srli_si128(charsHere, 8);
        feedsHere = _mm_srli_si128(feedsHere, 8);
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(written + w),
                       _mm_shuffle_epi8(charsHere, shuffle));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(lineFeeds + w),
                       _mm_shuffle_epi8(feedsHere, shuffle));
      w += static_cast<std::size_t>(_mm_popcnt_u32(mask));
    }
  }
  const __m128i newLine = _mm_set1_epi8('\n');
  for (std::size_t j = 0; j < w; j += 8) {
    const unsigned here = w - j >= 8 ? 8 : static_cast<unsigned>(w - j);
    const unsigned feedMask =
        static_cast<unsigned>(
            _mm_movemask_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(lineFeeds + j)))) &
        ((1u << here) - 1);
    const __m128i slots =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(written + j)), newLine);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(slots, Load16(kDoubledShuffles.Bytes[feedMask].data())));
    out += here + static_cast<unsigned>(_mm_popcnt_u32(feedMask));
  }
  return out;
}

}  // namespace

std::size_t DecipherCharsAvx2(const std::uint8_t* letters, const std::uint8_t* keys,
                              std::size_t count, const std::uint64_t* starts, bool& lettersShift,
                              std::uint8_t* out, std::uint8_t* additive, std::size_t& chars) {
  alignas(32) std::uint8_t plain[kDecipherChunk + 64];
  chars = StartPlains(letters, keys, count, starts, plain, additive);
  return static_cast<std::size_t>(WritePlainAvx2(plain, chars, lettersShift, out) - out);
}

namespace {

// The capitals of a block that complete a group, `groupPart` capitals of
// the group in progress coming before it: from the runs' starts where the
// block is laid out in whole groups, as most are, else capital by capital.
// (A bit deposit would do it in one instruction, but that instruction is
// slow on some processors with AVX2.)
std::uint64_t CompletingCapitals(std::uint64_t capitals, int groupPart) {
  std::uint64_t completing = 0;
  if (CompletingInWholeGroups(capitals, groupPart, completing)) return completing;
  int part = groupPart;
  for (std::uint64_t rest = capitals; rest != 0; rest = _blsr_u64(rest)) {
    if (++part == 5) {
      completing |= _blsi_u64(rest);
      part = 0;
    }
  }
  return completing;
}

}  // namespace

std::size_t ScanBlocksAvx2(const std::uint8_t* text, std::size_t count, int& groupPart,
                           std::int64_t& counter, std::int64_t& lastGroupEnd) {
  std::size_t done = 0;
  for (; done + 64 <= count; done += 64) {
    std::uint64_t capitals = CapitalMask(text + done);
    // The capitals that complete a group, and the bytes other than capitals
    // right after a capital: each of those must follow a completing one.
    std::uint64_t completing = CompletingCapitals(capitals, groupPart);
    std::uint64_t ends = ~capitals & ((capitals << 1) | (groupPart != 0 ? 1 : 0));
    if ((ends & ~(completing << 1)) != 0) break;
    if (completing != 0) lastGroupEnd = counter + 64 - __builtin_clzll(completing);
    groupPart = static_cast<int>(
        (static_cast<unsigned>(groupPart) + static_cast<unsigned>(_mm_popcnt_u64(capitals))) % 5);
    counter += 64;
  }
  return done;
}

}  // namespace quarvel
