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

// The letters of plain bytes `from` to `count`, from key character `used`
// on, one character at a time; returns the letters made. Every letter
// written takes one key character, so character i takes keys[i + d], d the
// pairs before it: a chain from character to character.
static inline std::size_t EncipherLettersFrom(const std::uint8_t* plain, std::size_t from,
                                              std::size_t count, const std::uint8_t* keys,
                                              std::size_t used, std::uint8_t* letters,
                                              std::uint8_t* additive) {
  for (std::size_t i = from; i < count; ++i) {
    std::uint8_t key = keys[used];
    std::uint16_t written = CipherLetters[PlainCodes[plain[i]] ^ key];
    __builtin_memcpy(letters + used, &written, 2);
    additive[i] = key;
    used += 1 + ((kPairCodes >> (PairIndexBase[plain[i]] ^ key)) & 1);
  }
  return used;
}

// Lays out whole lines' worth of letters run by run: eight bytes a run,
// which the next run and the separators then overwrite.
static inline std::size_t LayOutLinesByRuns(const std::uint8_t* letters, std::size_t count,
                                            int phase, std::uint8_t* out) {
  const LineLayout& layout = LineLayouts[phase];
  std::size_t done = 0;
  for (; done + kLineLetters <= count; done += kLineLetters, out += kLineBytes) {
    for (int r = 0; r < layout.Runs; ++r) {
      __builtin_memcpy(out + layout.Place[r], letters + done + layout.Source[r], 8);
    }
    for (std::uint8_t place : layout.SeparatorPlace) out[place] = layout.Separators[place];
  }
  return done;
}

namespace {

// The scan for bytes of a class with the compiler's vectors of kWidth
// bytes: whole blocks of four vectors while none holds a wanted byte, then
// byte by byte.
template <int kWidth>
struct ByteVectors;
template <>
struct ByteVectors<16> {
  typedef std::uint8_t Bytes __attribute__((vector_size(16)));
  typedef signed char Mask __attribute__((vector_size(16)));
};
template <>
struct ByteVectors<32> {
  typedef std::uint8_t Bytes __attribute__((vector_size(32)));
  typedef signed char Mask __attribute__((vector_size(32)));
};

template <int kWidth>
struct ByteClassScan {
  using ByteVector = typename ByteVectors<kWidth>::Bytes;
  using LaneMask = typename ByteVectors<kWidth>::Mask;
  static constexpr std::size_t kBlock = 4 * kWidth;

  // The lanes that are line bytes.
  static LaneMask LineLanes(ByteVector b) { return (b == '\n') | (b == '\r') | (b == '\t'); }

  // The lanes without a teleprinter code: "!", "$", "&", "'", ";", ">", "["
  // to "`", and "{" and above except "|".
  static LaneMask UncodedLanes(ByteVector b) {
    return (b == '!') | (b == '$') | ((b | 1) == '\'') | (b == ';') | (b == '>') |
           (static_cast<ByteVector>(b - '[') <= '`' - '[') | ((b >= '{') & (b != '|'));
  }

  static bool AnyLane(LaneMask mask) {
    std::uint64_t words[kWidth / 8];
    __builtin_memcpy(words, &mask, sizeof words);
    std::uint64_t any = 0;
    for (std::uint64_t word : words) any |= word;
    return any != 0;
  }

  // True when one of the block's bytes has a class bit of `Wanted`.
  template <std::uint8_t Wanted>
  static bool BlockHasClass(const std::uint8_t* data) {
    LaneMask found{};
    for (std::size_t k = 0; k < kBlock; k += kWidth) {
      ByteVector bytes;
      __builtin_memcpy(&bytes, data + k, kWidth);
      if constexpr ((Wanted & kLineByte) != 0) found |= LineLanes(bytes);
      if constexpr ((Wanted & kUncodedByte) != 0) found |= UncodedLanes(bytes);
    }
    return AnyLane(found);
  }

  // The whole blocks from the start that hold no byte of a wanted class.
  template <std::uint8_t Wanted>
  static std::size_t SkipBlocks(const std::uint8_t* data, std::size_t count) {
    std::size_t i = 0;
    while (i + kBlock <= count && !BlockHasClass<Wanted>(data + i)) i += kBlock;
    return i;
  }
};

template <int kWidth>
std::size_t FindByteClassBy(const std::uint8_t* data, std::size_t count, std::uint8_t wanted) {
  using Scan = ByteClassScan<kWidth>;
  std::size_t i = wanted == kUncodedByte ? Scan::template SkipBlocks<kUncodedByte>(data, count)
                  : wanted == kLineByte
                      ? Scan::template SkipBlocks<kLineByte>(data, count)
                      : Scan::template SkipBlocks<kLineByte | kUncodedByte>(data, count);
  for (; i < count; ++i) {
    if ((PlainByteClasses[data[i]] & wanted) != 0) return i;
  }
  return count;
}

}  // namespace

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive);
std::size_t FindByteClassPortable(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);
std::size_t LayOutLinesPortable(const std::uint8_t* letters, std::size_t count, int phase,
                                std::uint8_t* out);
std::size_t EncipherLettersAvx2(const std::uint8_t* plain, std::size_t count,
                                const std::uint8_t* keys, std::uint8_t* letters,
                                std::uint8_t* additive);
std::size_t FindByteClassAvx2(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);
std::size_t LayOutLinesAvx2(const std::uint8_t* letters, std::size_t count, int phase,
                            std::uint8_t* out);
std::size_t EncipherLettersAvx512(const std::uint8_t* plain, std::size_t count,
                                  const std::uint8_t* keys, std::uint8_t* letters,
                                  std::uint8_t* additive);
std::size_t FindByteClassAvx512(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);
std::size_t LayOutLinesAvx512(const std::uint8_t* letters, std::size_t count, int phase,
                              std::uint8_t* out);

}  // namespace quarvel
