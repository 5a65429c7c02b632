// The encipher kernels in plain C++, for any processor.
#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive) {
  return EncipherLettersFrom(plain, 0, count, keys, 0, letters, additive);
}

std::size_t LayOutLinesPortable(const std::uint8_t* letters, std::size_t count, int phase,
                                std::uint8_t* out) {
  return LayOutLinesByRuns(letters, count, phase, out);
}

}  // namespace quarvel
