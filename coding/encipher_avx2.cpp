// The encipher kernels with AVX2, 32 plain bytes at a time.
#include <immintrin.h>

#include "coding/encipher_kernels.h"
#include "coding/pair_chain.h"

namespace quarvel {

std::size_t EncipherLettersAvx2(const std::uint8_t* plain, std::size_t count,
                                const std::uint8_t* keys, std::uint8_t* letters,
                                std::uint8_t* additive) {
  // For x = class XOR key, 0 to 63: the pair codes below 16 in bit 0, those
  // from 16 to 31 in bit 1, by the low nibble; the high nibble gives the bit
  // to test.
  alignas(32) std::uint8_t lowTable[32], highTable[32];
  for (int i = 0; i < 32; ++i) {
    int nibble = i & 15;
    lowTable[i] = static_cast<std::uint8_t>(((kPairCodes >> nibble) & 1) |
                                            (((kPairCodes >> (16 + nibble)) & 1) << 1));
    highTable[i] = static_cast<std::uint8_t>(nibble == 0 ? 1 : nibble == 1 ? 2 : 0);
  }
  const __m256i low = _mm256_load_si256(reinterpret_cast<const __m256i*>(lowTable));
  const __m256i high = _mm256_load_si256(reinterpret_cast<const __m256i*>(highTable));
  const __m256i highBits = _mm256_set1_epi8(0x30);
  std::size_t used = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    alignas(32) std::uint8_t classes[32];
    for (int t = 0; t < 32; ++t) classes[t] = PairIndexBase[plain[i + t]];
    const __m256i base = _mm256_load_si256(reinterpret_cast<const __m256i*>(classes));
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
        if (known > 32) {
          pairsAt[known] = 0;
          continue;
        }
        __m256i x = _mm256_xor_si256(
            base, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys + used + known)));
        __m256i a = _mm256_shuffle_epi8(low, x);
        __m256i b = _mm256_shuffle_epi8(high, _mm256_srli_epi16(_mm256_and_si256(x, highBits), 4));
        pairsAt[known] = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(
            _mm256_cmpeq_epi8(_mm256_and_si256(a, b), _mm256_setzero_si256())));
      }
    };
    findMore(kFirstSteps + 1);
    const std::uint32_t pairs = ChainPairs<kFirstSteps>(pairsAt, known, findMore);
    for (int t = 0; t < 32; ++t) {
      std::uint8_t key = keys[used];
      std::uint16_t written = CipherLetters[PlainCodes[plain[i + t]] ^ key];
      __builtin_memcpy(letters + used, &written, 2);
      additive[i + t] = key;
      used += 1 + ((pairs >> t) & 1);
    }
  }
  return EncipherLettersFrom(plain, i, count, keys, used, letters, additive);
}

}  // namespace quarvel
