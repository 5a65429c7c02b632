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

std::size_t EncipherLettersPortable(const std::uint8_t* plain, std::size_t count,
                                    const std::uint8_t* keys, std::uint8_t* letters,
                                    std::uint8_t* additive);
std::size_t FindByteClassPortable(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);
std::size_t LayOutLinesPortable(const std::uint8_t* letters, std::size_t count, int phase,
                                std::uint8_t* out);
std::size_t EncipherLettersAvx2(const std::uint8_t* plain, std::size_t count,
                                const std::uint8_t* keys, std::uint8_t* letters,
                                std::uint8_t* additive);
std::size_t EncipherLettersAvx512(const std::uint8_t* plain, std::size_t count,
                                  const std::uint8_t* keys, std::uint8_t* letters,
                                  std::uint8_t* additive);
std::size_t FindByteClassAvx512(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);
std::size_t LayOutLinesAvx512(const std::uint8_t* letters, std::size_t count, int phase,
                              std::uint8_t* out);

}  // namespace quarvel
