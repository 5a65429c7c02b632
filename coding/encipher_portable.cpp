// The encipher kernels in plain C++, for any processor.
#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive) {
  // Two characters a step of the chain: the second's pair test is made for
  // both places it can take, and the first's chooses, all by arithmetic.
  // The tests are shifts of the characters' pair keys by the keys alone. A
  // branch on the first's test would let the next step start at once when
  // it guesses right, but with pairs a fifth of the characters it guesses
  // wrong too often: branch-free the step is faster, on a text that does
  // not repeat.
  std::size_t used = 0, i = 0;
  for (; i + 2 <= count; i += 2) {
    std::uint64_t keys0 = PairKeysOf[plain[i]], keys1 = PairKeysOf[plain[i + 1]];
    const std::uint8_t* k = keys + used;
    std::uint32_t k0 = k[0];
    std::size_t pair0 = (keys0 >> k0) & 1;
    // Bit d: the second is a pair when it takes key 1 + d.
    std::size_t pairs1 = ((keys1 >> k[1]) & 1) | (((keys1 << 1) >> k[2]) & 2);
    std::uint8_t key1 = k[1 + pair0];
    std::uint16_t written0 = CipherLetters[PlainCodes[plain[i]] ^ k0];
    std::uint16_t written1 = CipherLetters[PlainCodes[plain[i + 1]] ^ key1];
    __builtin_memcpy(letters + used, &written0, 2);
    __builtin_memcpy(letters + used + 1 + pair0, &written1, 2);
    additive[i] = static_cast<std::uint8_t>(k0);
    additive[i + 1] = key1;
    used += 2 + pair0 + ((pairs1 >> pair0) & 1);
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
