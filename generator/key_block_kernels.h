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

#include "generator/key_block.h"
#include "isa/kernels.h"

namespace quarvel {

inline constexpr int kKeyStride = KeyBlock::kStride;

// The delays, in bytes of its plane, of each register's four-term
// recurrence: bit n = bit n-8a XOR bit n-8b XOR bit n-8c.
inline constexpr int kPlaneDelays[8][3] = {{836, 1230, 1273}, {301, 314, 419}, {391, 506, 564},
                                           {324, 352, 750},   {267, 407, 762}, {890, 1155, 1277},
                                           {809, 1371, 1467}, {276, 284, 1242}};

namespace {

// Vectors of 64-bit lanes, by their width in bytes.
template <int kWidth>
struct PlaneVector;
template <>
struct PlaneVector<16> {
  typedef std::uint64_t Type __attribute__((vector_size(16)));
};
template <>
struct PlaneVector<32> {
  typedef std::uint64_t Type __attribute__((vector_size(32)));
};
template <>
struct PlaneVector<64> {
  typedef std::uint64_t Type __attribute__((vector_size(64)));
};

// The plane kernels for vectors of kWidth bytes, written once with the
// compiler's vector extensions: each tier file makes them at its width.
template <int kWidth>
struct PlaneKernels {
  using Vec = typename PlaneVector<kWidth>::Type;
  static constexpr int kLanes = kWidth / 8;

  static Vec Load(const std::uint8_t* p) {
    Vec v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
  }
  static void Store(std::uint8_t* p, Vec v) { __builtin_memcpy(p, &v, sizeof v); }

  // Each bit of ifSet where select has it, else of ifClear.
  static Vec Choose(Vec select, Vec ifSet, Vec ifClear) {
    return ifClear ^ (select & (ifSet ^ ifClear));
  }

  // The four minterms of a (weight 2) and b (weight 1), minterm t where
  // 2a + b is t.
  static void Minterms(Vec a, Vec b, Vec (&out)[4]) {
    out[0] = ~(a | b);
    out[1] = ~a & b;
    out[2] = a & ~b;
    out[3] = a & b;
  }

  // Stores the key bits of kWidth * 8 steps from their matrix entries: the
  // entry, register 0 and the parity of the step before each step, which
  // comes one bit up through the lanes, the first from `carry`; `carry`
  // then holds the parity of the last step.
  static void StoreKeyBits(const Vec (&reg)[8], Vec entry, std::uint64_t& carry,
                           std::uint8_t* out) {
    Vec parity = reg[0] ^ reg[1] ^ reg[2] ^ reg[3] ^ reg[4] ^ reg[5] ^ reg[6] ^ reg[7];
    Vec top = parity >> 63;
    // Every lane one place up, the last to the first.
    if constexpr (kLanes == 2) {
      top = __builtin_shufflevector(top, top, 1, 0);
    } else if constexpr (kLanes == 4) {
      top = __builtin_shufflevector(top, top, 3, 0, 1, 2);
    } else {
      top = __builtin_shufflevector(top, top, 7, 0, 1, 2, 3, 4, 5, 6);
    }
    std::uint64_t last = top[0];
    top[0] = carry;
    carry = last;
    Store(out, entry ^ reg[0] ^ ((parity << 1) | top));
  }

  // The key bits of the steps from the entries of the eight rows, the row
  // chosen by register 3 (weight 1), then 2, then 1.
  static void StoreRowKeyBits(const Vec (&reg)[8], Vec (&rows)[8], std::uint64_t& carry,
                              std::uint8_t* out) {
    for (int row = 0; row < 4; ++row) rows[row] = Choose(reg[3], rows[2 * row + 1], rows[2 * row]);
    for (int row = 0; row < 2; ++row) rows[row] = Choose(reg[2], rows[2 * row + 1], rows[2 * row]);
    StoreKeyBits(reg, Choose(reg[1], rows[1], rows[0]), carry, out);
  }

  // The registers side by side, so that a vector is read back only after
  // the store that made it has long gone to the cache.
  static void Steps(std::uint8_t* planes, int planeBytes, int from, int to) {
    for (int k = from; k < to; k += kWidth) {
      for (int r = 0; r < 8; ++r) {
        std::uint8_t* p = planes + r * planeBytes + k;
        Store(p, Load(p - kPlaneDelays[r][0]) ^ Load(p - kPlaneDelays[r][1]) ^
                     Load(p - kPlaneDelays[r][2]));
      }
    }
  }

  static std::uint8_t KeyBits(const std::uint8_t* planes, int planeBytes, int from, int to,
                              const KeyBitTables& tables, std::uint8_t prevParity,
                              std::uint8_t* keyBits) {
    std::uint64_t carry = prevParity;
    for (int k = from; k < to; k += kWidth) {
      Vec reg[8];
      for (int r = 0; r < 8; ++r) reg[r] = Load(planes + r * planeBytes + k);
      // The column comes from registers 7 to 4 (weights 1 to 8), the row
      // from registers 3 to 1 (weights 1 to 4): their minterms.
      Vec low[4], high[4];
      Minterms(reg[6], reg[7], low);
      Minterms(reg[4], reg[5], high);
      Vec column[16];
      for (int c = 0; c < 16; ++c) column[c] = low[c & 3] & high[c >> 2];
      Vec hit[8];
      for (int row = 0; row < 8; ++row) {
        hit[row] = Vec{};
        for (int j = 0; j < tables.ColumnCount[row]; ++j)
          hit[row] |= column[tables.Columns[row][j]];
        if (tables.Invert[row]) hit[row] = ~hit[row];
      }
      StoreRowKeyBits(reg, hit, carry, keyBits + (k - from));
    }
    return static_cast<std::uint8_t>(carry);
  }

  // The same key bits by a tree of choices in two-input steps: registers 6
  // and 7 pick among the four entries of a quarter of a row (one of the
  // sixteen functions of two bits, all made first), the minterms of
  // registers 4 and 5 pick the quarter, then registers 3, 2 and 1 choose
  // between halves.
  static std::uint8_t TreeKeyBits(const std::uint8_t* planes, int planeBytes, int from, int to,
                                  const KeyBitTables& tables, std::uint8_t prevParity,
                                  std::uint8_t* keyBits) {
    std::uint64_t carry = prevParity;
    for (int k = from; k < to; k += kWidth) {
      Vec reg[8];
      for (int r = 0; r < 8; ++r) reg[r] = Load(planes + r * planeBytes + k);
      // Function t has the value of bit 2a + b of t, a from register 6 and
      // b from register 7.
      const Vec a = reg[6], b = reg[7];
      const Vec functions[16] = {Vec{}, ~(a | b), ~a & b, ~a,     a & ~b, ~b,     a ^ b, ~(a & b),
                                 a & b, ~(a ^ b), b,      ~a | b, a,      a | ~b, a | b, ~Vec{}};
      // The quarter, by the minterms of registers 4 (weight 2) and 5.
      Vec quarter[4];
      Minterms(reg[4], reg[5], quarter);
      const std::uint8_t* q = tables.Quarters;
      Vec rows[8];
      for (int row = 0; row < 8; ++row, q += 4) {
        rows[row] = ((quarter[0] & functions[q[0]]) | (quarter[1] & functions[q[1]])) |
                    ((quarter[2] & functions[q[2]]) | (quarter[3] & functions[q[3]]));
      }
      StoreRowKeyBits(reg, rows, carry, keyBits + (k - from));
    }
    return static_cast<std::uint8_t>(carry);
  }
};

}  // namespace

void StridedStepsPortable(std::uint8_t* f, int from, int to);
void PlaneStepsPortable(std::uint8_t* planes, int planeBytes, int from, int to);
std::uint8_t PlaneKeyBitsPortable(const std::uint8_t* planes, int planeBytes, int from, int to,
                                  const KeyBitTables& tables, std::uint8_t prevParity,
                                  std::uint8_t* keyBits);
std::uint8_t PlaneKeyBitsByMintermsPortable(const std::uint8_t* planes, int planeBytes, int from,
                                            int to, const KeyBitTables& tables,
                                            std::uint8_t prevParity, std::uint8_t* keyBits);
void PackCharsPortable(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

void StridedStepsAvx2(std::uint8_t* f, int from, int to);
void PlaneStepsAvx2(std::uint8_t* planes, int planeBytes, int from, int to);
std::uint8_t PlaneKeyBitsAvx2(const std::uint8_t* planes, int planeBytes, int from, int to,
                              const KeyBitTables& tables, std::uint8_t prevParity,
                              std::uint8_t* keyBits);
std::uint8_t PlaneKeyBitsByMintermsAvx2(const std::uint8_t* planes, int planeBytes, int from,
                                        int to, const KeyBitTables& tables, std::uint8_t prevParity,
                                        std::uint8_t* keyBits);
void PackCharsAvx2(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

void StridedStepsAvx512(std::uint8_t* f, int from, int to);
void PlaneStepsAvx512(std::uint8_t* planes, int planeBytes, int from, int to);
std::uint8_t PlaneKeyBitsAvx512(const std::uint8_t* planes, int planeBytes, int from, int to,
                                const KeyBitTables& tables, std::uint8_t prevParity,
                                std::uint8_t* keyBits);
void PackCharsAvx512(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

}  // namespace quarvel
