// The chain from pair to pair of the vector encipher kernels, for files
// compiled with BMI1 (the AVX2 and AVX-512 tiers); internal linkage, as the
// tier files need.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace quarvel {

// The lowest set bit of `x`, and the bits up to it.
static inline std::uint32_t LowestBit(std::uint32_t x) {
  return _blsi_u32(x);
}
static inline std::uint64_t LowestBit(std::uint64_t x) {
  return _blsi_u64(x);
}
static inline std::uint32_t UpToLowestBit(std::uint32_t x) {
  return _blsmsk_u32(x);
}
static inline std::uint64_t UpToLowestBit(std::uint64_t x) {
  return _blsmsk_u64(x);
}
static inline std::uint32_t AndNot(std::uint32_t x, std::uint32_t y) {
  return _andn_u32(x, y);
}
static inline std::uint64_t AndNot(std::uint64_t x, std::uint64_t y) {
  return _andn_u64(x, y);
}

// The pairs among the characters of a block. Bit t of pairsAt[d]: character
// t would be a pair if d pairs came before it; rows 0 to kSteps are there,
// `findMore(n)` adds n more behind the `known` there are. From each pair the
// next is the lowest set bit above it at one d more: a chain of two
// instructions a pair, kSteps of them without a branch, as many as most
// blocks need, then on while pairs come. The chain reads the rows from
// memory: built into it, the compiler may fold each row's mask into the
// chain and make every step wait for the vector unit.
template <int kSteps, typename Mask, typename FindMore>
static inline Mask ChainPairs(const Mask* pairsAt, const int& known, FindMore findMore) {
  Mask pairs = 0;
  Mask next = pairsAt[0];
  int d = 0;
#pragma GCC unroll 32
  for (; d < kSteps;) {
    pairs |= LowestBit(next);
    ++d;
    next = AndNot(UpToLowestBit(next), pairsAt[d]);
  }
  while (next != 0) {
    pairs |= LowestBit(next);
    ++d;
    if (d == known) findMore(4);
    next = AndNot(UpToLowestBit(next), pairsAt[d]);
  }
  return pairs;
}

}  // namespace quarvel
