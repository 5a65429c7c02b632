// The encipher kernels in plain C++, for any processor.
#include "coding/encipher_kernels.h"

namespace quarvel {

namespace {

// 1 when class XOR key is a code written as a pair.
inline unsigned PairBit(std::uint8_t base, std::uint8_t key) {
  return static_cast<unsigned>(kPairCodes >> (base ^ key)) & 1;
}

}  // namespace

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive) {
  // Four characters a step of the chain, without a branch: the pair test of
  // character j is made for each of the j + 1 keys it can take (bit e of
  // ifPairs[j] for e pairs before it in the step), and the pairs before each
  // choose; the keys are all read before the chain needs them.
  std::size_t used = 0, i = 0;
  for (; i + 4 <= count; i += 4) {
    const std::uint8_t* k = keys + used;
    const std::uint8_t* p = plain + i;
    const std::uint8_t b0 = PairIndexBase[p[0]], b1 = PairIndexBase[p[1]], b2 = PairIndexBase[p[2]],
                       b3 = PairIndexBase[p[3]];
    const unsigned ifPairs1 = PairBit(b1, k[1]) | PairBit(b1, k[2]) << 1;
    const unsigned ifPairs2 = PairBit(b2, k[2]) | PairBit(b2, k[3]) << 1 | PairBit(b2, k[4]) << 2;
    const unsigned ifPairs3 = PairBit(b3, k[3]) | PairBit(b3, k[4]) << 1 | PairBit(b3, k[5]) << 2 |
                              PairBit(b3, k[6]) << 3;
    // The pairs before each character of the step.
    const unsigned d1 = PairBit(b0, k[0]);
    const unsigned d2 = d1 + ((ifPairs1 >> d1) & 1);
    const unsigned d3 = d2 + ((ifPairs2 >> d2) & 1);
    const unsigned d4 = d3 + ((ifPairs3 >> d3) & 1);
    const std::uint8_t key0 = k[0], key1 = k[1 + d1], key2 = k[2 + d2], key3 = k[3 + d3];
    const std::uint16_t written0 = CipherLetters[PlainCodes[p[0]] ^ key0];
    const std::uint16_t written1 = CipherLetters[PlainCodes[p[1]] ^ key1];
    const std::uint16_t written2 = CipherLetters[PlainCodes[p[2]] ^ key2];
    const std::uint16_t written3 = CipherLetters[PlainCodes[p[3]] ^ key3];
    std::uint8_t* l = letters + used;
    __builtin_memcpy(l, &written0, 2);
    __builtin_memcpy(l + 1 + d1, &written1, 2);
    __builtin_memcpy(l + 2 + d2, &written2, 2);
    __builtin_memcpy(l + 3 + d3, &written3, 2);
    additive[i] = key0;
    additive[i + 1] = key1;
    additive[i + 2] = key2;
    additive[i + 3] = key3;
    used += 4 + d4;
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
