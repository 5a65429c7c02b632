// The encipher kernels in plain C++, for any processor.
#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t FindPairsPortable(const std::uint8_t* plain, std::size_t count,
                              const std::uint8_t* keys, std::uint8_t* pairOf) {
  return FindPairsFrom(plain, 0, count, keys, 0, pairOf);
}

}  // namespace quarvel
