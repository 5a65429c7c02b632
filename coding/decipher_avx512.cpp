// The decipher kernels with AVX-512.
#include <immintrin.h>

#include <algorithm>

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

// As LetterPlainsPortable, 64 letters at a time, keeping only the characters
// that begin in `starts` (one bit per letter), packed: their plain codes in
// `plain` and their key characters in `additive`. Returns how many. Letters
// and keys must be readable, plain and additive writable, 64 bytes past
// `count`.
std::size_t StartPlainsAvx512(const std::uint8_t* letters, const std::uint8_t* keys,
                              std::size_t count, const std::uint64_t* starts, std::uint8_t* plain,
                              std::uint8_t* additive) {
  const __m512i letterTable = _mm512_loadu_si512(LetterCodeBy6.data());
  const __m512i pairTable = _mm512_loadu_si512(PairCodeBy6.data());
  const __m512i lower = _mm512_set1_epi8(0x20);
  const __m512i y = _mm512_set1_epi8('y');
  std::size_t n = 0;
  for (std::size_t j = 0; j < count; j += 64) {
    __m512i first = _mm512_loadu_si512(letters + j);
    __m512i second = _mm512_loadu_si512(letters + j + 1);
    __mmask64 isY = _mm512_cmpeq_epi8_mask(_mm512_or_si512(first, lower), y);
    __m512i code =
        _mm512_mask_blend_epi8(isY, _mm512_maskz_permutexvar_epi8(~0ull, first, letterTable),
                               _mm512_maskz_permutexvar_epi8(~0ull, second, pairTable));
    __m512i key = _mm512_loadu_si512(keys + j);
    __mmask64 begins = starts[j / 64];
    _mm512_storeu_si512(plain + n, _mm512_maskz_compress_epi8(begins, _mm512_xor_si512(code, key)));
    _mm512_storeu_si512(additive + n, _mm512_maskz_compress_epi8(begins, key));
    n += static_cast<std::size_t>(_mm_popcnt_u64(begins));
  }
  return n;
}

}  // namespace quarvel
