// The encipher kernels in plain C++, for any processor.
#include <cstring>

#include "coding/encipher_kernels.h"

namespace quarvel {

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive) {
  // Two characters a step of the chain: the second's pair test is made for
  // both places it can take, and the first's chooses.
  std::size_t used = 0, i = 0;
  for (; i + 2 <= count; i += 2) {
    std::uint8_t base0 = PairIndexBase[plain[i]], base1 = PairIndexBase[plain[i + 1]];
    std::uint8_t k0 = keys[used], k1 = keys[used + 1], k2 = keys[used + 2];
    std::size_t pair0 = (kPairCodes >> (base0 ^ k0)) & 1;
    std::size_t pairIf0 = (kPairCodes >> (base1 ^ k1)) & 1;
    std::size_t pairIf1 = (kPairCodes >> (base1 ^ k2)) & 1;
    std::uint8_t key1 = pair0 ? k2 : k1;
    std::uint16_t written0 = CipherLetters[PlainCodes[plain[i]] ^ k0];
    std::uint16_t written1 = CipherLetters[PlainCodes[plain[i + 1]] ^ key1];
    __builtin_memcpy(letters + used, &written0, 2);
    __builtin_memcpy(letters + used + 1 + pair0, &written1, 2);
    additive[i] = k0;
    additive[i + 1] = key1;
    used += 2 + pair0 + (pair0 ? pairIf1 : pairIf0);
  }
  return EncipherLettersFrom(plain, i, count, keys, used, letters, additive);
}

std::size_t LayOutLinesPortable(const std::uint8_t* letters, std::size_t count, int phase,
                                std::uint8_t* out) {
  return LayOutLinesByRuns(letters, count, phase, out);
}

namespace {

using ByteVector = std::uint8_t __attribute__((vector_size(16)));
using LaneMask = signed char __attribute__((vector_size(16)));
constexpr std::size_t kLanes = sizeof(ByteVector);
constexpr std::size_t kBlock = 4 * kLanes;

// The lanes that are line bytes.
LaneMask LineLanes(ByteVector b) {
  return (b == '\n') | (b == '\r') | (b == '\t');
}

// The lanes without a teleprinter code: "!", "$", "&", "'", ";", ">", "[" to
// "`", and "{" and above except "|".
LaneMask UncodedLanes(ByteVector b) {
  return (b == '!') | (b == '$') | ((b | 1) == '\'') | (b == ';') | (b == '>') |
         (static_cast<ByteVector>(b - '[') <= '`' - '[') | ((b >= '{') & (b != '|'));
}

bool AnyLane(LaneMask mask) {
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// True when one of the 64 bytes has a class bit of `Wanted`.
template <std::uint8_t Wanted>
bool BlockHasClass(const std::uint8_t* data) {
  LaneMask found{};
  for (std::size_t k = 0; k < kBlock; k += kLanes) {
    ByteVector bytes;
    std::memcpy(&bytes, data + k, kLanes);
    if constexpr ((Wanted & kLineByte) != 0) found |= LineLanes(bytes);
    if constexpr ((Wanted & kUncodedByte) != 0) found |= UncodedLanes(bytes);
  }
  return AnyLane(found);
}

// The whole blocks from the start that hold no byte of a wanted class.
template <std::uint8_t Wanted>
std::size_t SkipBlocks(const std::uint8_t* data, std::size_t count) {
  std::size_t i = 0;
  while (i + kBlock <= count && !BlockHasClass<Wanted>(data + i)) i += kBlock;
  return i;
}

}  // namespace

std::size_t FindByteClassPortable(const std::uint8_t* data, std::size_t count,
                                  std::uint8_t wanted) {
  // Whole blocks while none holds a wanted byte; then byte by byte.
  std::size_t i = wanted == kUncodedByte ? SkipBlocks<kUncodedByte>(data, count)
                  : wanted == kLineByte  ? SkipBlocks<kLineByte>(data, count)
                                         : SkipBlocks<kLineByte | kUncodedByte>(data, count);
  for (; i < count; ++i) {
    if ((PlainByteClasses[data[i]] & wanted) != 0) return i;
  }
  return count;
}

}  // namespace quarvel
