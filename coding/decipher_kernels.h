// The kernels of the bulk decipher loop and of the scan for the text limit,
// one version per instruction-set tier, each tier in a file of its own
// (decipher_portable.cpp, decipher_avx2.cpp, decipher_avx512.cpp); their
// contracts are those of the Kernels table. Shared code here has internal
// linkage: the tier files are compiled with their tier's features.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coding/decipher_tables.h"

namespace quarvel {

// Cipher bytes per pass of the bulk loop, at most.
inline constexpr std::size_t kDecipherChunk = 2048;

// The bytes of a word that are "A" to "Z", one bit per byte, for 8 bytes.
static inline std::uint64_t CapitalBits8(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::uint64_t low = x & kLow7;
  // With 0x80 - "A" more, the high bit says "at least A"; with 0x80 - ("Z" +
  // 1) more, "beyond Z". No byte carries into the next.
  std::uint64_t in = (low + 0x3F3F3F3F3F3F3F3Full) & ~(low + 0x2525252525252525ull) & ~x & kHigh;
  return ((in >> 7) * 0x0102040810204080ull) >> 56;
}

// The bytes of a word that are letters of either case: 0x80 in each, 0
// in the others.
static inline std::uint64_t LetterBytes8(std::uint64_t x) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  // Letters of either case are the bytes that bit 5 more makes "a" to "z";
  // with 0x80 - "a" more, the high bit says "at least a"; with 0x80 - ("z"
  // + 1) more, "beyond z". No byte carries into the next.
  std::uint64_t low = (x | 0x2020202020202020ull) & kLow7;
  return (low + 0x1F1F1F1F1F1F1F1Full) & ~(low + 0x0505050505050505ull) & ~x & kHigh;
}

// The letters of `count` bytes, in order, byte by byte; returns how many.
static inline std::size_t CollectLettersOneByOne(const std::uint8_t* text, std::size_t count,
                                                 std::uint8_t* letters) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = text[i];
    letters[n] = byte;
    n += LetterFlags[byte];
  }
  return n;
}

// The capitals of a block of 64 bytes that complete a group, `groupPart`
// capitals of the group in progress coming before it, where the block is
// laid out in whole groups: each run of capitals a group of five, the group
// in progress finished by the block's first capitals, the last run free to
// go on in the next block. Then the completing capitals are the top bit of
// that head and each run's fifth; false for any other block.
static inline bool CompletingInWholeGroups(std::uint64_t capitals, int groupPart,
                                           std::uint64_t& completing) {
  const std::uint64_t runStarts = capitals & ~((capitals << 1) | (groupPart != 0 ? 1 : 0));
  const std::uint64_t head = (std::uint64_t{1} << ((5 - groupPart) % 5)) - 1;
  const std::uint64_t groups =
      head | runStarts | (runStarts << 1) | (runStarts << 2) | (runStarts << 3) | (runStarts << 4);
  if (groups != capitals) return false;
  completing = ((head + 1) >> 1) | (runStarts << 4);
  return true;
}

// Bit i set where text[i] is a capital, for 64 bytes, with 64-bit words.
static inline std::uint64_t CapitalMask64(const std::uint8_t* text) {
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    std::uint64_t x;
    __builtin_memcpy(&x, text + 8 * k, 8);
    mask |= CapitalBits8(x) << (8 * k);
  }
  return mask;
}

// What a plain code is written as, in figures shift (row 0) and letters
// shift (row 1): one character, CR LF for the line feed, nothing for
// carriage return and the two shifts.
struct PlainOut {
  std::uint16_t Bytes;
  std::uint8_t Length;
};
inline constexpr std::array<std::array<PlainOut, 32>, 2> PlainOutOf = [] {
  std::array<std::array<PlainOut, 32>, 2> table{};
  for (int letters = 0; letters < 2; ++letters) {
    for (int code = 0; code < 32; ++code) {
      std::uint8_t c = letters ? LettersShiftChars[code] : FiguresShiftChars[code];
      PlainOut& out = table[letters][code];
      switch (c) {
        case '*':
          out = {static_cast<std::uint16_t>('\r' | ('\n' << 8)), 2};
          break;
        case '<':
        case '#':
        case '%':
          out = {0, 0};
          break;
        default:
          out = {c, 1};
          break;
      }
    }
  }
  return table;
}();

inline constexpr std::uint8_t kCarriageReturnCode = CharToCodeTable['<'];
inline constexpr std::uint8_t kLineFeedCode = CharToCodeTable['*'];
inline constexpr std::uint8_t kFiguresShiftCode = CharToCodeTable[kFiguresShiftChar];
inline constexpr std::uint8_t kLettersShiftCode = CharToCodeTable[kLettersShiftChar];

// The shift after a plain code in shift `lettersShift` (1 letters, 0
// figures): the letters shift sets it, the figures shift clears it, any
// other code keeps it. By bits of two constant words, so that no branch
// waits on the code.
static constexpr unsigned NextShift(unsigned lettersShift, std::uint8_t code) {
  constexpr std::uint32_t kSets = std::uint32_t{1} << kLettersShiftCode;
  constexpr std::uint32_t kKeeps = ~(std::uint32_t{1} << kFiguresShiftCode);
  return ((kSets >> code) | (lettersShift & (kKeeps >> code))) & 1;
}

// The letters that begin a character, among 64 letters of which those in
// `y` are "Y" (either case): a "Y" that begins a character takes the next
// letter as its second. A letter is a second letter when the run of "Y"
// letters just before it, counted from where a character begins, is of odd
// length. `carry` is 1 when the letter before these 64 was a "Y" beginning a
// character, and is updated for the next 64.
static inline std::uint64_t CharacterStarts(std::uint64_t y, std::uint64_t& carry) {
  constexpr std::uint64_t kEven = 0x5555555555555555ull;
  constexpr std::uint64_t kOdd = ~kEven;
  std::uint64_t first = carry;  // letter 0 is a second letter
  std::uint64_t runs = y & ~first;
  std::uint64_t runStarts = runs & ~(runs << 1);
  // Adding a run's first bit clears a run that starts at an even place, so
  // what stays of `runs` are the runs that start at odd places.
  std::uint64_t oddRuns = (runs + (runStarts & kEven)) & runs;
  std::uint64_t evenRuns = runs & ~oddRuns;
  std::uint64_t seconds = ((evenRuns << 1) & kOdd) | ((oddRuns << 1) & kEven) | first;
  // Letter 63 begins a character and is a "Y": the next letter is its second.
  carry = (runs >> 63) & ~(seconds >> 63) & 1;
  return ~seconds;
}

// Bit i set where text[i] is "Y" or "y", for 64 bytes, with 64-bit words.
static inline std::uint64_t YMaskByWords(const std::uint8_t* text) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    std::uint64_t x;
    __builtin_memcpy(&x, text + 8 * k, 8);
    // Zero bytes where the byte is "y" with bit 5 set.
    std::uint64_t z = (x | 0x2020202020202020ull) ^ 0x7979797979797979ull;
    std::uint64_t zero = ~(((z & kLow7) + kLow7) | z) & ~kLow7;
    mask |= (((zero >> 7) * 0x0102040810204080ull) >> 56) << (8 * k);
  }
  return mask;
}

// Marks in `starts` the letters that begin a character, of `count` letters
// (`letters` readable 64 bytes past them). Returns how many letters the
// pass takes: all, or all but a last "Y" that begins a character and waits
// for its second letter. `yMask` gives the "Y" letters of 64 letters.
template <typename YMaskOf>
static inline std::size_t MarkStartsWith(const std::uint8_t* letters, std::size_t count,
                                         std::uint64_t* starts, YMaskOf yMask) {
  std::size_t words = (count + 63) / 64;
  std::uint64_t carry = 0;
  for (std::size_t w = 0; w < words; ++w)
    starts[w] = CharacterStarts(yMask(letters + 64 * w), carry);
  std::size_t tail = count % 64;
  if (tail != 0) starts[words - 1] &= (std::uint64_t{1} << tail) - 1;
  std::size_t last = count - 1;
  if (((starts[last / 64] >> (last % 64)) & 1) && (letters[last] | 0x20) == 'y') {
    starts[last / 64] &= ~(std::uint64_t{1} << (last % 64));
    return last;
  }
  return count;
}

// The shift of each of 64 characters from their codes: bit c set when
// character c is converted in letters shift, which the last letters or
// figures shift before it decides, or `lettersShift` when there is none.
// `lettersShift` becomes the shift after the last of `count` characters.
static inline std::uint64_t ShiftOfEach(std::uint64_t figures, std::uint64_t letters,
                                        unsigned count, bool& lettersShift) {
  // The shift after each character: where a shift character stands, its
  // own; elsewhere that of the nearest one before, found by doubling.
  std::uint64_t known = figures | letters;
  std::uint64_t after = letters;
  for (unsigned step = 1; step < 64; step <<= 1) {
    after |= (after << step) & ~known;
    known |= known << step;
  }
  if (lettersShift) after |= ~known;
  std::uint64_t before = (after << 1) | (lettersShift ? 1 : 0);
  lettersShift = ((after >> (count - 1)) & 1) != 0;
  return before;
}

// Writes the characters of `count` plain codes from `out` on, in the shift
// that `lettersShift` holds and updates; returns the end of what it wrote.
static inline std::uint8_t* WritePlain(const std::uint8_t* plain, std::size_t count,
                                       bool& lettersShift, std::uint8_t* out) {
  unsigned shift = lettersShift ? 1 : 0;
  for (std::size_t c = 0; c < count; ++c) {
    std::uint8_t code = plain[c];
    // The length does not depend on the shift: the place of the next
    // character need not wait for it.
    __builtin_memcpy(out, &PlainOutOf[shift][code].Bytes, 2);
    out += PlainOutOf[1][code].Length;
    shift = NextShift(shift, code);
  }
  lettersShift = shift != 0;
  return out;
}

// The plain text of the characters that begin in `starts`, one character at
// a time by their bits: the way the kernels are checked against.
static inline std::size_t DecipherCharsOneByOne(const std::uint8_t* letters,
                                                const std::uint8_t* keys, std::size_t count,
                                                const std::uint64_t* starts, bool& lettersShift,
                                                std::uint8_t* out, std::uint8_t* additive,
                                                std::size_t& chars) {
  std::uint8_t* const begin = out;
  unsigned shift = lettersShift ? 1 : 0;
  std::size_t n = 0;
  for (std::size_t w = 0; w < (count + 63) / 64; ++w) {
    for (std::uint64_t bits = starts[w]; bits != 0; bits &= bits - 1) {
      // The code of the letter, or of the pair that a "Y" there begins.
      std::size_t j = 64 * w + static_cast<std::size_t>(__builtin_ctzll(bits));
      std::size_t two = letters[j] | std::size_t{letters[j + 1]} << 8;
      std::uint8_t key = keys[j];
      std::uint8_t code = CodeByTwoLetters[two & 0x1F1F] ^ key;
      additive[n++] = key;
      __builtin_memcpy(out, &PlainOutOf[shift][code].Bytes, 2);
      out += PlainOutOf[1][code].Length;
      shift = NextShift(shift, code);
    }
  }
  lettersShift = shift != 0;
  chars = n;
  return static_cast<std::size_t>(out - begin);
}

std::size_t ScanBlocksPortable(const std::uint8_t* text, std::size_t count, int& groupPart,
                               std::int64_t& counter, std::int64_t& lastGroupEnd);
std::size_t CollectLettersPortable(const std::uint8_t* text, std::size_t count,
                                   std::uint8_t* letters);
std::size_t MarkStartsPortable(const std::uint8_t* letters, std::size_t count,
                               std::uint64_t* starts);
std::size_t DecipherCharsPortable(const std::uint8_t* letters, const std::uint8_t* keys,
                                  std::size_t count, const std::uint64_t* starts,
                                  bool& lettersShift, std::uint8_t* out, std::uint8_t* additive,
                                  std::size_t& chars);

std::size_t ScanBlocksAvx2(const std::uint8_t* text, std::size_t count, int& groupPart,
                           std::int64_t& counter, std::int64_t& lastGroupEnd);
std::size_t CollectLettersAvx2(const std::uint8_t* text, std::size_t count, std::uint8_t* letters);
std::size_t MarkStartsAvx2(const std::uint8_t* letters, std::size_t count, std::uint64_t* starts);
std::size_t DecipherCharsAvx2(const std::uint8_t* letters, const std::uint8_t* keys,
                              std::size_t count, const std::uint64_t* starts, bool& lettersShift,
                              std::uint8_t* out, std::uint8_t* additive, std::size_t& chars);

std::size_t CollectLettersAvx512(const std::uint8_t* text, std::size_t count,
                                 std::uint8_t* letters);
std::size_t MarkStartsAvx512(const std::uint8_t* letters, std::size_t count, std::uint64_t* starts);
std::size_t DecipherCharsAvx512(const std::uint8_t* letters, const std::uint8_t* keys,
                                std::size_t count, const std::uint64_t* starts, bool& lettersShift,
                                std::uint8_t* out, std::uint8_t* additive, std::size_t& chars);

}  // namespace quarvel
