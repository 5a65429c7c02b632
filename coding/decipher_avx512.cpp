// The decipher kernels with AVX-512.
#include <immintrin.h>

#include <algorithm>
#include <array>

#include "coding/avx512_bytes.h"
#include "coding/decipher_kernels.h"

namespace quarvel {

// The letters of `count` bytes, in order, 64 bytes at a time; `letters` must
// be writable 64 bytes past the letters found.
std::size_t CollectLettersAvx512(const std::uint8_t* text, std::size_t count,
                                 std::uint8_t* letters) {
  const __m512i lower = _mm512_set1_epi8(0x20);
  const __m512i a = _mm512_set1_epi8('a');
  const __m512i span = _mm512_set1_epi8(26);
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; i += 64) {
    std::size_t part = std::min<std::size_t>(64, count - i);
    __mmask64 valid = part == 64 ? ~0ull : (std::uint64_t{1} << part) - 1;
    __m512i v = _mm512_maskz_loadu_epi8(valid, text + i);
    __mmask64 isLetter =
        _mm512_mask_cmplt_epu8_mask(valid, _mm512_sub_epi8(_mm512_or_si512(v, lower), a), span);
    _mm512_storeu_si512(letters + n, _mm512_maskz_compress_epi8(isLetter, v));
    n += static_cast<std::size_t>(_mm_popcnt_u64(isLetter));
  }
  return n;
}

namespace {

// Bit i set where letters[i] is "Y" or "y", for 64 letters.
std::uint64_t YMask(const std::uint8_t* letters) {
  return _mm512_cmpeq_epi8_mask(
      _mm512_or_si512(_mm512_loadu_si512(letters), _mm512_set1_epi8(0x20)), _mm512_set1_epi8('y'));
}

}  // namespace

std::size_t MarkStartsAvx512(const std::uint8_t* letters, std::size_t count,
                             std::uint64_t* starts) {
  return MarkStartsWith(letters, count, starts, YMask);
}

namespace {

// The character of each code in figures shift (row 0) and letters shift (row
// 1), twice over for a 64-byte lookup; CR for the line feed, which the LF
// after it completes.
alignas(64) constexpr std::array<std::array<std::uint8_t, 64>, 2> kShiftChars = [] {
  std::array<std::array<std::uint8_t, 64>, 2> table{};
  for (int code = 0; code < 64; ++code) {
    table[1][code] = LettersShiftChars[code & 31];
    table[0][code] = FiguresShiftChars[code & 31];
    if ((code & 31) == kLineFeedCode) table[0][code] = table[1][code] = '\r';
  }
  return table;
}();

}  // namespace

std::size_t DecipherCharsAvx512(const std::uint8_t* letters, const std::uint8_t* keys,
                                std::size_t count, const std::uint64_t* starts, bool& lettersShift,
                                std::uint8_t* out, std::uint8_t* additive, std::size_t& chars) {
  const __m512i letterTable = _mm512_loadu_si512(LetterCodeBy6.data());
  const __m512i pairTable = _mm512_loadu_si512(PairCodeBy6.data());
  const __m512i inLetters = _mm512_load_si512(kShiftChars[1].data());
  const __m512i inFigures = _mm512_load_si512(kShiftChars[0].data());
  const __m512i lower = _mm512_set1_epi8(0x20);
  const __m512i y = _mm512_set1_epi8('y');
  const __m512i newLine = _mm512_set1_epi8('\n');
  std::size_t n = 0;
  std::uint8_t* const start = out;
  for (std::size_t j = 0; j < count; j += 64) {
    __m512i first = _mm512_loadu_si512(letters + j);
    __m512i second = _mm512_loadu_si512(letters + j + 1);
    __mmask64 isY = _mm512_cmpeq_epi8_mask(_mm512_or_si512(first, lower), y);
    __m512i code =
        _mm512_mask_blend_epi8(isY, Permute64(first, letterTable), Permute64(second, pairTable));
    __m512i key = _mm512_loadu_si512(keys + j);
    __mmask64 begins = starts[j / 64];
    unsigned here = static_cast<unsigned>(_mm_popcnt_u64(begins));
    if (here == 0) continue;
    __m512i plain = _mm512_maskz_compress_epi8(begins, _mm512_xor_si512(code, key));
    _mm512_storeu_si512(additive + n, _mm512_maskz_compress_epi8(begins, key));
    n += here;

    const std::uint64_t valid = Below(here);
    std::uint64_t letterShifts =
        ShiftOfEach(_mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kFiguresShiftCode)) & valid,
                    _mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kLettersShiftCode)) & valid,
                    here, lettersShift);
    __m512i written = _mm512_mask_blend_epi8(letterShifts, Permute64(plain, inFigures),
                                             Permute64(plain, inLetters));
    // Carriage return and the two shifts write nothing; a line feed writes
    // CR LF.
    std::uint64_t silent = _mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kCarriageReturnCode)) |
                           _mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kFiguresShiftCode)) |
                           _mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kLettersShiftCode));
    std::uint64_t kept = valid & ~silent;
    std::uint64_t lineFeeds = _mm512_cmpeq_epi8_mask(plain, _mm512_set1_epi8(kLineFeedCode)) & kept;
    unsigned keptCount = static_cast<unsigned>(_mm_popcnt_u64(kept));
    __m512i keptChars = _mm512_maskz_compress_epi8(kept, written);
    if (lineFeeds == 0) {
      _mm512_storeu_si512(out, keptChars);
      out += keptCount;
      continue;
    }
    // Each line feed writes LF after its CR.
    std::uint64_t feeds = _pext_u64(lineFeeds, kept);
    std::uint64_t chars0, chars1;
    FirstBytes(feeds, chars0, chars1);
    unsigned total = keptCount + static_cast<unsigned>(_mm_popcnt_u64(feeds));
    _mm512_storeu_si512(out, _mm512_mask_expand_epi8(newLine, chars0, keptChars));
    if (total > 64) {
      unsigned chars0Count = static_cast<unsigned>(_mm_popcnt_u64(chars0));
      __m512i rest = _mm512_maskz_compress_epi8(~Below(chars0Count), keptChars);
      _mm512_storeu_si512(out + 64, _mm512_mask_expand_epi8(newLine, chars1, rest));
    }
    out += total;
  }
  chars = n;
  return static_cast<std::size_t>(out - start);
}

}  // namespace quarvel
