// The kernels of the bulk encipher loop, one version per instruction-set
// tier, each tier in a file of its own (encipher_portable.cpp,
// encipher_avx2.cpp, encipher_avx512.cpp); their contracts are those of the
// Kernels table. Shared code here has internal linkage: the tier files are
// compiled with their tier's features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/encipher_tables.h"

namespace quarvel {

// Which plain characters are written as pairs: pairOf[i] is 1 or 0. Every
// letter written takes one key character, so character i takes keys[i + d],
// d the pairs before it: a chain from character to character. The vector
// forms test a character against the next 32 or 64 key characters at once,
// leaving the chain to a shift and an add.
static inline std::size_t FindPairsFrom(const std::uint8_t* plain, std::size_t from,
                                        std::size_t count, const std::uint8_t* keys,
                                        std::size_t used, std::uint8_t* pairOf) {
  for (std::size_t i = from; i < count; ++i) {
    std::uint8_t pair = (kPairCodes >> (PairIndexBase[plain[i]] ^ keys[used])) & 1;
    pairOf[i] = pair;
    used += 1 + pair;
  }
  return used;
}

std::size_t FindPairsPortable(const std::uint8_t* plain, std::size_t count,
                              const std::uint8_t* keys, std::uint8_t* pairOf);
std::size_t FindPairsAvx2(const std::uint8_t* plain, std::size_t count, const std::uint8_t* keys,
                          std::uint8_t* pairOf);
std::size_t FindPairsAvx512(const std::uint8_t* plain, std::size_t count, const std::uint8_t* keys,
                            std::uint8_t* pairOf);

}  // namespace quarvel
