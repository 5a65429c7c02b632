// The kernels of the block generator, one version per instruction-set tier,
// each tier in a file of its own (key_block_portable.cpp, key_block_avx2.cpp,
// key_block_avx512.cpp); their contracts are those of the Kernels table.
//
// The tier files are compiled with their tier's features. Whatever they
// share is data, or code of internal linkage (static): an inline function of
// external linkage compiled there could be the one the linker keeps for
// every caller, on processors without those features.
#pragma once

#include <cstdint>

#include "isa/kernels.h"

namespace quarvel {

inline constexpr int kKeyStride = 64;

// Byte-shuffle tables of the vector kernels. Reverses the bytes of every
// group of eight:
inline constexpr std::uint8_t kReverse8[16] = {7,  6,  5,  4,  3,  2,  1, 0,
                                               15, 14, 13, 12, 11, 10, 9, 8};
// 1 << (index AND 7):
inline constexpr std::uint8_t kBitOf[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                            1, 2, 4, 8, 16, 32, 64, 128};
// 0xFF for a nibble of odd parity:
inline constexpr std::uint8_t kParityOf[16] = {0,    0xFF, 0xFF, 0,    0xFF, 0,    0,    0xFF,
                                               0xFF, 0,    0,    0xFF, 0,    0xFF, 0xFF, 0};

// The key bits of 64 steps from two masks in which bit 8m+r stands for step
// 8m+7-r: `entry` holds the matrix entry XOR bit 0 of each step's output,
// `parity` the parity of each output. A key bit takes the parity of the
// step before it: within a byte of the mask that is the next bit up, and for
// the top bit the lowest bit of the byte below; `prev` carries the parity of
// the last step into the next word.
static inline std::uint64_t CombineMasks(std::uint64_t entry, std::uint64_t parity,
                                         std::uint64_t& prev) {
  std::uint64_t before = ((parity >> 1) & 0x7F7F7F7F7F7F7F7Full) |
                         ((parity << 15) & 0x8080808080808080ull) | (prev << 7);
  prev = (parity >> 56) & 1;
  return entry ^ before;
}

void StridedStepsPortable(std::uint8_t* f, int from, int to);
std::uint8_t KeyBitsPortable(const std::uint8_t* f, int words, const KeyBitTables& tables,
                             std::uint8_t prevParity, std::uint8_t* keyBits);
void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

void StridedStepsAvx2(std::uint8_t* f, int from, int to);
std::uint8_t KeyBitsAvx2(const std::uint8_t* f, int words, const KeyBitTables& tables,
                         std::uint8_t prevParity, std::uint8_t* keyBits);

void StridedStepsAvx512(std::uint8_t* f, int from, int to);
std::uint8_t KeyBitsAvx512(const std::uint8_t* f, int words, const KeyBitTables& tables,
                           std::uint8_t prevParity, std::uint8_t* keyBits);
void PackCharsAvx512(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

}  // namespace quarvel
