// Byte-shuffle tables of the AVX2 kernels, which have no compress or
// expand instruction: what those do for 64 bytes, a shuffle from these does
// for eight. Constant data only.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel {

// For every 8-bit mask, the places of its set bits, in order, then 0x80.
inline constexpr std::array<std::array<std::uint8_t, 8>, 256> kPackShuffles = [] {
  std::array<std::array<std::uint8_t, 8>, 256> table{};
  for (int mask = 0; mask < 256; ++mask) {
    int n = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if ((mask >> bit) & 1) table[mask][n++] = static_cast<std::uint8_t>(bit);
    }
    while (n < 8) table[mask][n++] = 0x80;
  }
  return table;
}();

// Eight items of one or two bytes, item t taking two where bit t of the
// mask is set, from sixteen slots, the two of each item side by side
// (2t and 2t + 1): where each item's first byte goes (FirstSlot, then
// 0x80), and for each byte its slot (Bytes, then 0x80).
struct DoubledShuffles {
  std::array<std::array<std::uint8_t, 16>, 256> FirstSlot;
  std::array<std::array<std::uint8_t, 16>, 256> Bytes;
};
alignas(16) inline constexpr DoubledShuffles kDoubledShuffles = [] {
  DoubledShuffles table{};
  for (int mask = 0; mask < 256; ++mask) {
    int n = 0;
    for (int t = 0; t < 8; ++t) {
      table.FirstSlot[mask][t] = static_cast<std::uint8_t>(n);
      table.Bytes[mask][n++] = static_cast<std::uint8_t>(2 * t);
      if ((mask >> t) & 1) table.Bytes[mask][n++] = static_cast<std::uint8_t>(2 * t + 1);
    }
    for (int t = 8; t < 16; ++t) table.FirstSlot[mask][t] = 0x80;
    while (n < 16) table.Bytes[mask][n++] = 0x80;
  }
  return table;
}();

}  // namespace quarvel
