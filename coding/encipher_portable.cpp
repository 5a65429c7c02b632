// The encipher kernels in plain C++, for any processor.
#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive) {
  // Two characters a step of the chain: the second's pair test is made for
  // both places it can take, and the first's chooses. The tests are shifts
  // of the characters' pair keys by the keys alone.
  std::size_t used = 0, i = 0;
#pragma GCC unroll 2
  for (; i + 2 <= count; i += 2) {
    std::uint32_t keys0 = PairKeysOf[plain[i]], keys1 = PairKeysOf[plain[i + 1]];
    std::uint8_t k0 = keys[used], k1 = keys[used + 1], k2 = keys[used + 2];
    bool pair0 = (keys0 >> k0) & 1;
    std::size_t pairIf0 = (keys1 >> k1) & 1;
    std::size_t pairIf1 = (keys1 >> k2) & 1;
    std::uint8_t key1 = pair0 ? k2 : k1;
    std::uint16_t written0 = CipherLetters[PlainCodes[plain[i]] ^ k0];
    std::uint16_t written1 = CipherLetters[PlainCodes[plain[i + 1]] ^ key1];
    __builtin_memcpy(letters + used, &written0, 2);
    __builtin_memcpy(letters + used + 1 + pair0, &written1, 2);
    additive[i] = k0;
    additive[i + 1] = key1;
    used = pair0 ? used + 3 + pairIf1 : used + 2 + pairIf0;
  }
  return EncipherLettersFrom(plain, i, count, keys, used, letters, additive);
}

std::size_t LayOutLinesPortable(const std::uint8_t* letters, std::size_t count, int phase,
                                std::uint8_t* out) {
  return LayOutLinesByRuns(letters, count, phase, out);
}

std::size_t FindByteClassPortable(const std::uint8_t* data, std::size_t count,
                                  std::uint8_t wanted) {
  return FindByteClassBy<16>(data, count, wanted);
}

}  // namespace quarvel
