// Byte-vector helpers of the AVX-512 kernels, for files compiled with that
// tier's features only; internal linkage, as the tier files need.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace quarvel {

// Bytes of `table` at the low six bits of `index`.
static inline __m512i Permute64(__m512i index, __m512i table) {
  return _mm512_maskz_permutexvar_epi8(~std::uint64_t{0}, index, table);
}

// Bit k set for k below `count` (0 to 64).
static inline std::uint64_t Below(unsigned count) {
  return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// Where the bytes of 64 items go when those in `doubled` take a second byte
// right after their first: bit k of `first0` (of `first1`) is set when
// byte k (byte 64 + k) is an item's first byte.
static inline void FirstBytes(std::uint64_t doubled, std::uint64_t& first0, std::uint64_t& first1) {
  constexpr std::uint64_t kEvens = 0x5555555555555555ull;
  constexpr std::uint64_t kOdds = ~kEvens;
  // Two slots an item, the second kept for a doubled one; in the bit string
  // of the bytes, 1 for a first byte and 0 for a second. Items 0 to 31 take
  // `low` bits.
  std::uint64_t slotsLow = kEvens | _pdep_u64(doubled & 0xFFFFFFFF, kOdds);
  std::uint64_t slotsHigh = kEvens | _pdep_u64(doubled >> 32, kOdds);
  unsigned low = static_cast<unsigned>(_mm_popcnt_u64(slotsLow));
  std::uint64_t firstLow = _pext_u64(kEvens, slotsLow);
  std::uint64_t firstHigh = _pext_u64(kEvens, slotsHigh);
  first0 = firstLow | (low < 64 ? firstHigh << low : 0);
  first1 = low < 64 ? firstHigh >> (64 - low) : firstHigh;
}

}  // namespace quarvel
