// The encipher kernels with AVX-512.
#include <immintrin.h>

#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t FindPairsAvx512(const std::uint8_t* plain, std::size_t count, const std::uint8_t* keys,
                            std::uint8_t* pairOf) {
  // 0xFF at every x = code XOR key, 0 to 63, that is written as a pair.
  alignas(64) std::uint8_t pairTable[64];
  for (int x = 0; x < 64; ++x) pairTable[x] = ((kPairCodes >> x) & 1) ? 0xFF : 0;
  const __m512i table = _mm512_load_si512(pairTable);
  std::size_t used = 0, i = 0;
  for (; i + 64 <= count; i += 64) {
    std::uint64_t d = 0;
    for (std::size_t t = 0; t < 64; ++t) {
      __m512i x = _mm512_xor_si512(_mm512_set1_epi8(static_cast<char>(PairIndexBase[plain[i + t]])),
                                   _mm512_loadu_si512(keys + used + t));
      std::uint64_t pairs = _mm512_movepi8_mask(_mm512_maskz_permutexvar_epi8(~0ull, x, table));
      std::uint64_t pair = (pairs >> d) & 1;
      pairOf[i + t] = static_cast<std::uint8_t>(pair);
      d += pair;
    }
    used += 64 + d;
  }
  return FindPairsFrom(plain, i, count, keys, used, pairOf);
}

}  // namespace quarvel
