// The encipher kernels with AVX2.
#include <immintrin.h>

#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t FindPairsAvx2(const std::uint8_t* plain, std::size_t count, const std::uint8_t* keys,
                          std::uint8_t* pairOf) {
  // For x = code XOR key, 0 to 63: the pair codes below 16 in bit 0, those
  // from 16 to 31 in bit 1, by the low nibble; the high nibble gives the bit
  // to test.
  alignas(32) std::uint8_t lowTable[32], highTable[32];
  for (int i = 0; i < 32; ++i) {
    int nibble = i & 15;
    lowTable[i] = static_cast<std::uint8_t>(((kPairCodes >> nibble) & 1) |
                                            (((kPairCodes >> (16 + nibble)) & 1) << 1));
    highTable[i] = static_cast<std::uint8_t>(nibble == 0 ? 1 : nibble == 1 ? 2 : 0);
  }
  const __m256i low = _mm256_load_si256((const __m256i*)lowTable);
  const __m256i high = _mm256_load_si256((const __m256i*)highTable);
  const __m256i highBits = _mm256_set1_epi8(0x30);
  std::size_t used = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    std::uint32_t d = 0;
    for (std::size_t t = 0; t < 32; ++t) {
      __m256i x = _mm256_xor_si256(_mm256_set1_epi8(static_cast<char>(PairIndexBase[plain[i + t]])),
                                   _mm256_loadu_si256((const __m256i*)(keys + used + t)));
      __m256i a = _mm256_shuffle_epi8(low, x);
      __m256i b = _mm256_shuffle_epi8(high, _mm256_srli_epi16(_mm256_and_si256(x, highBits), 4));
      std::uint32_t none = static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(a, b), _mm256_setzero_si256())));
      std::uint32_t pair = (~none >> d) & 1;
      pairOf[i + t] = static_cast<std::uint8_t>(pair);
      d += pair;
    }
    used += 32 + d;
  }
  return FindPairsFrom(plain, i, count, keys, used, pairOf);
}

}  // namespace quarvel
