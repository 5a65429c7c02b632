// The table of kernel functions: the inner loops of the block generator and
// of the bulk character loops, one version per instruction-set tier, each
// tier's versions in files of their own. A run takes one table, for its tier
// (KernelsFor in coding/kernels.h), and calls every kernel through it. Every
// version of a kernel gives the same results as the portable one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "isa/isa.h"

namespace quarvel {

// The key-bit function of the structure matrix, for the block generator:
// for each row of the matrix, the columns whose entry is 1 (Invert false)
// or 0 (Invert true), whichever are fewer. Quarters, the same matrix by
// fours: entry 4 row + q holds the entries of columns 4q to 4q + 3, column
// 4q + j in bit j (the column's two low bits, from registers 6 and 7, pick
// one of the four).
struct KeyBitTables {
  std::uint8_t ColumnCount[8];
  bool Invert[8];
  std::uint8_t Columns[8][8];
  std::uint8_t Quarters[32];
};

struct Kernels {
  // Block generator. StridedSteps: output bytes f[from] to f[to - 1] by the
  // strided recurrence, from a stride of 64 (from and to multiples of 64
  // apart). PlaneSteps: bytes `from` to `to` of each of the eight register
  // planes, `planeBytes` apart, by their four-term recurrence. PlaneKeyBits:
  // the key bits of the steps of plane bytes `from` to `to`, in step order,
  // given the parity of the output before them; returns the parity of the
  // last. (`to` - `from` a multiple of 64 in both.) PackChars: eight key
  // characters from every five bytes of key bits, `groups` (a multiple of 8)
  // times; key bits readable 16 bytes past them.
  void (*StridedSteps)(std::uint8_t* f, int from, int to);
  void (*PlaneSteps)(std::uint8_t* planes, int planeBytes, int from, int to);
  std::uint8_t (*PlaneKeyBits)(const std::uint8_t* planes, int planeBytes, int from, int to,
                               const KeyBitTables& tables, std::uint8_t prevParity,
                               std::uint8_t* keyBits);
  void (*PackChars)(const std::uint8_t* keyBits, int groups, std::uint8_t* chars);

  // Encipher. EncipherLetters: the cipher letters of `count` plain bytes,
  // without the layout, and the key character of each plain byte in
  // `additive`; letter n takes key character n. Returns the letters made.
  // Keys readable 128 bytes past those taken; letters and additive writable
  // 64 bytes past what is made. LayOutLines: letters laid out in groups of
  // five and lines of ten groups, 50 letters (one line's worth, 61 bytes)
  // at a time from `phase` (5 times the groups on the line plus the letters
  // in the group); returns the letters done, a multiple of 50. Letters
  // readable and output writable 64 bytes past. FindByteClass: the index of
  // the first of `count` bytes whose class (PlainByteClasses) has a bit of
  // `wanted`, or `count`; for the check of a plain text.
  std::size_t (*EncipherLetters)(const std::uint8_t* plain, std::size_t count,
                                 const std::uint8_t* keys, std::uint8_t* letters,
                                 std::uint8_t* additive);
  std::size_t (*LayOutLines)(const std::uint8_t* letters, std::size_t count, int phase,
                             std::uint8_t* out);
  std::size_t (*FindByteClass)(const std::uint8_t* data, std::size_t count, std::uint8_t wanted);

  // Decipher. ScanBlocks: the scan for the text limit over whole blocks of
  // 64 bytes, up to the block where it ends; returns the bytes done.
  // CollectLetters: the letters of `count` bytes, in order; returns how many
  // (`letters` writable 64 bytes past them). MarkStarts: one bit per letter
  // in `starts` for the letters that begin a character; returns how many
  // letters to take (all, or all but a last "Y" waiting for its second
  // letter). DecipherChars: the plain text of the characters that begin in
  // `starts`, from `out` on, in the shift that `lettersShift` holds and
  // updates, and their key characters in `additive`; returns the bytes
  // written and sets `chars`; `count` is at most a pass's letters
  // (kDecipherChunk, coding/decipher_kernels.h). Letters and keys readable,
  // output and additive writable, 64 bytes past.
  std::size_t (*ScanBlocks)(const std::uint8_t* text, std::size_t count, int& groupPart,
                            std::int64_t& counter, std::int64_t& lastGroupEnd);
  std::size_t (*CollectLetters)(const std::uint8_t* text, std::size_t count, std::uint8_t* letters);
  std::size_t (*MarkStarts)(const std::uint8_t* letters, std::size_t count, std::uint64_t* starts);
  std::size_t (*DecipherChars)(const std::uint8_t* letters, const std::uint8_t* keys,
                               std::size_t count, const std::uint64_t* starts, bool& lettersShift,
                               std::uint8_t* out, std::uint8_t* additive, std::size_t& chars);
};

}  // namespace quarvel
