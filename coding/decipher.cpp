#include "coding/decipher.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARVEL_X86 1
#endif

#include "alphabet/teleprinter.h"
#include "coding/key_chars.h"
#include "generator/key_block.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// The position of the last byte at or before `position` that is not "Y",
// walking back over "Y" letters; stops at 0.
std::int64_t SkipFillingBack(ByteFile& file, std::int64_t position) {
  constexpr std::int64_t kChunk = 4096;
  std::uint8_t chunk[kChunk];
  while (position > 0) {
    std::int64_t low = std::max<std::int64_t>(0, position - kChunk + 1);
    file.Seek(low);
    std::size_t want = static_cast<std::size_t>(position - low + 1);
    if (file.ReadBlock(chunk, want) != want) ThrowIoError(kReadPastEnd, IoOp::Read);
    for (std::int64_t p = position; p >= low; --p) {
      if (chunk[p - low] != 'Y') return p;
      if (p == 0) return 0;
    }
    position = low - 1;
  }
  return position;
}

// Bit i set where text[i] is a capital, for 64 bytes.
inline std::uint64_t CapitalMask(const std::uint8_t* text) {
#if defined(__SSE2__)
  std::uint64_t mask = 0;
  // Capitals are the bytes that 0x3F more turns into -128 to -103.
  const __m128i shift = _mm_set1_epi8(0x3F);
  const __m128i bound = _mm_set1_epi8(-102);
  for (int part = 0; part < 4; ++part) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * part));
    std::uint32_t bits = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpgt_epi8(bound, _mm_add_epi8(v, shift))));
    mask |= static_cast<std::uint64_t>(bits) << (16 * part);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= static_cast<std::uint64_t>(IsCapital(text[i])) << i;
  return mask;
#endif
}

// The scan of FindTextLimit over 64 bytes at once, `groupPart` being the
// capitals of the group in progress (0 to 4) and `counter` the position of
// the byte before the block. Only the bytes other than capitals that follow
// a capital can end the scan, when the capitals before them do not complete
// a group. Returns false, changing nothing, when the scan ends in the block.
inline bool ScanBlock(const std::uint8_t* text, int& groupPart, std::int64_t& counter,
                      std::int64_t& lastGroupEnd) {
  std::uint64_t capitals = CapitalMask(text);
  std::uint64_t afterCapital = ~capitals & ((capitals << 1) | (groupPart != 0 ? 1 : 0));
  for (std::uint64_t ends = afterCapital; ends != 0; ends &= ends - 1) {
    std::uint64_t before = capitals & ((ends & -ends) - 1);
    if ((groupPart + __builtin_popcountll(before)) % 5 != 0) return false;
  }
  int total = __builtin_popcountll(capitals);
  // The last capital that completes a group: drop the capitals after it.
  int after = (groupPart + total) % 5;
  if (total > after) {
    std::uint64_t complete = capitals;
    for (int k = 0; k < after; ++k) {
      complete &= ~(std::uint64_t{1} << (63 - __builtin_clzll(complete)));
    }
    lastGroupEnd = counter + 1 + (63 - __builtin_clzll(complete));
  }
  groupPart = after;
  counter += 64;
  return true;
}

// ScanBlock over the whole blocks of `count` bytes, up to the block where
// the scan ends; returns the bytes done. Made twice on x86, with and without
// the population-count instruction.
#if QUARVEL_X86
#define QUARVEL_POPCNT_CLONES __attribute__((target_clones("popcnt", "default")))
#else
#define QUARVEL_POPCNT_CLONES
#endif
QUARVEL_POPCNT_CLONES std::size_t ScanBlocks(const std::uint8_t* text, std::size_t count,
                                             int& groupPart, std::int64_t& counter,
                                             std::int64_t& lastGroupEnd) {
  std::size_t done = 0;
  while (done + 64 <= count && ScanBlock(text + done, groupPart, counter, lastGroupEnd)) done += 64;
  return done;
}

}  // namespace

std::int64_t FindTextLimit(RunState& state, std::int64_t headerEnd) {
  ByteFile& source = state.SourceFile;
  std::int64_t counter = headerEnd;
  int lettersInGroup = 5;
  bool newGroup = true;
  std::int64_t lastGroupEnd = 0;
  if (source.AtEnd()) {
    // Nothing follows the header: there is no text to decipher.
    return 0;
  }
  // One byte: false when it ends the scan, a byte other than a capital
  // inside a group.
  auto scan = [&](std::uint8_t byte) {
    ++counter;
    bool capital = IsCapital(byte);
    if (capital) {
      if (newGroup) {
        lettersInGroup = 0;
        newGroup = false;
      }
      if (++lettersInGroup == 5) {
        lastGroupEnd = counter;
        newGroup = true;
      }
    }
    return lettersInGroup == 5 || capital;
  };
  if (source.IsDisk()) {
    // Through the buffer, to the end of the file or the first byte that
    // ends the scan.
    for (bool more = true; more;) {
      const std::uint8_t* data;
      std::size_t count = source.Buffered(data);
      if (count == 0) {
        if (!source.Refill()) break;
        continue;
      }
      // Whole blocks of 64 bytes while they hold no end of the scan; the
      // block that does, and the rest, byte by byte.
      int groupPart = newGroup ? 0 : lettersInGroup;
      std::size_t i = ScanBlocks(data, count, groupPart, counter, lastGroupEnd);
      newGroup = groupPart == 0;
      lettersInGroup = newGroup ? 5 : groupPart;
      while (i < count && more) more = scan(data[i++]);
      source.Advance(i);
    }
  } else {
    for (;;) {
      if (!scan(source.ReadByte()) || source.AtEnd()) break;
    }
  }
  if (lettersInGroup == 5 && lastGroupEnd > 0) lastGroupEnd = SkipFillingBack(source, lastGroupEnd);
  return lastGroupEnd;
}

namespace {

// Reads bytes until a letter, until the position passes the limit, or to the
// end of the file; at least one byte.
std::uint8_t ReadToLetter(ByteFile& source, std::int64_t limit) {
  std::uint8_t byte;
  do {
    byte = source.ReadByte();
  } while (!IsLetter(byte) && source.Position() <= limit && !source.AtEnd());
  return byte;
}

}  // namespace

void DecipherStep(RunState& state) {
  ByteFile& source = state.SourceFile;
  const std::int64_t limit = state.TextLimit;
  if (source.Position() > limit) {
    state.DecipherDone = true;
    return;
  }
  std::uint8_t cipherChar = ReadToLetter(source, limit);
  if (!IsLetter(cipherChar)) {
    state.DecipherDone = true;
    return;
  }
  cipherChar = ToUpper(cipherChar);
  bool pair = false;
  if (cipherChar == 'Y') {
    if (source.Position() > limit && source.AtEnd()) {
      state.DecipherDone = true;
    } else {
      std::uint8_t pairLetter = ToUpper(ReadToLetter(source, limit));
      if (IsCapital(pairLetter)) {
        std::uint8_t meaning = PairCharBySecondLetter[pairLetter - 'A'];
        if (meaning != 0) cipherChar = meaning;
      }
      pair = true;
    }
  }
  CharToCode(cipherChar);
  NextKeyChar(state, state.KeyChar);
  std::uint8_t plainChar = cipherChar ^ state.KeyChar;
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.WriteByte(state.KeyChar);
  CodeToChar(plainChar, state.LettersShift);
  switch (plainChar) {
    case '*':
      state.Con->Write('\r');
      state.Con->Write('\n');
      state.TargetFile.WriteByte('\r');
      state.TargetFile.WriteByte('\n');
      break;
    case '<':
    case '#':
    case '%':
      break;
    default:
      state.Con->Write(plainChar);
      state.TargetFile.WriteByte(plainChar);
      break;
  }
  if (pair) NextKeyChar(state, state.KeyChar);
}

namespace {

// The code of a cipher letter, either case.
constexpr std::array<std::uint8_t, 256> LetterCodeOf = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t byte = ToUpper(static_cast<std::uint8_t>(b));
    table[b] = IsCapital(byte) ? CharToCodeTable[byte] : 0;
  }
  return table;
}();

// The code a "Y" pair stands for, by its second letter, either case; the
// code of "Y" where the pair has no meaning.
constexpr std::array<std::uint8_t, 256> PairCodeOf = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t byte = ToUpper(static_cast<std::uint8_t>(b));
    std::uint8_t meaning = IsCapital(byte) ? PairCharBySecondLetter[byte - 'A'] : 0;
    table[b] = CharToCodeTable[meaning != 0 ? meaning : 'Y'];
  }
  return table;
}();

// LetterCodeOf followed by PairCodeOf.
constexpr std::array<std::uint8_t, 512> CodeOf = [] {
  std::array<std::uint8_t, 512> table{};
  for (int b = 0; b < 256; ++b) {
    table[b] = LetterCodeOf[b];
    table[256 + b] = PairCodeOf[b];
  }
  return table;
}();

// What a plain code is written as, in figures shift (row 0) and letters
// shift (row 1): one character, CR LF for the line feed, nothing for
// carriage return and the two shifts.
struct PlainOut {
  std::uint16_t Bytes;
  std::uint8_t Length;
};
constexpr std::array<std::array<PlainOut, 32>, 2> PlainOutOf = [] {
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

constexpr std::uint8_t kFiguresShiftCode = 27;
constexpr std::uint8_t kLettersShiftCode = 31;

// Cipher bytes per pass; a pass takes at most one key character per byte,
// which a refill of the key block must leave room for.
constexpr std::size_t kDecipherChunk = 2048;
static_assert(kDecipherChunk < KeyBlock::kChars && kDecipherChunk % 64 == 0);
// Fewer bytes than this before the text limit or the end of the buffer are
// left to the step-by-step way.
constexpr std::size_t kLeastWindow = 16;

// The letters that begin a character, among 64 letters of which those in
// `y` are "Y" (either case): a "Y" that begins a character takes the next
// letter as its second. A letter is a second letter when the run of "Y"
// letters just before it, counted from where a character begins, is of odd
// length. `carry` is 1 when the letter before these 64 was a "Y" beginning a
// character, and is updated for the next 64.
inline std::uint64_t CharacterStarts(std::uint64_t y, std::uint64_t& carry) {
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

// 1 for a letter, 0 for any other byte.
constexpr std::array<std::uint8_t, 256> LetterFlags = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = IsLetter(static_cast<std::uint8_t>(b)) ? 1 : 0;
  return table;
}();

// The codes of letters and of pairs by their second letter, indexed by the
// low six bits of the letter ("A" and "a" alike): LetterCodeOf and
// PairCodeOf in 64 entries.
constexpr std::array<std::uint8_t, 64> LetterCodeBy6 = [] {
  std::array<std::uint8_t, 64> table{};
  for (int b = 'A'; b <= 'z'; ++b) {
    if (IsLetter(static_cast<std::uint8_t>(b))) table[b & 63] = LetterCodeOf[b];
  }
  return table;
}();
constexpr std::array<std::uint8_t, 64> PairCodeBy6 = [] {
  std::array<std::uint8_t, 64> table{};
  for (int b = 'A'; b <= 'z'; ++b) {
    if (IsLetter(static_cast<std::uint8_t>(b))) table[b & 63] = PairCodeOf[b];
  }
  return table;
}();

// Bit i set where text[i] is "Y" or "y", for 64 bytes.
inline std::uint64_t YMask(const std::uint8_t* text) {
#if defined(__SSE2__)
  std::uint64_t mask = 0;
  const __m128i lower = _mm_set1_epi8(0x20);
  const __m128i y = _mm_set1_epi8('y');
  for (int part = 0; part < 4; ++part) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * part));
    std::uint32_t bits =
        static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(v, lower), y)));
    mask |= static_cast<std::uint64_t>(bits) << (16 * part);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) mask |= static_cast<std::uint64_t>((text[i] | 0x20) == 'y') << i;
  return mask;
#endif
}

inline int Popcount64(std::uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int>((x * 0x0101010101010101ull) >> 56);
}

// Bit i set where text[i] is a letter; `count` up to 64 bytes.
inline std::uint64_t LetterMask(const std::uint8_t* text, std::size_t count) {
  std::uint64_t mask = 0;
#if defined(__SSE2__)
  if (count == 64) {
    // Letters are the bytes that, with bit 5 set and 0x1F more, are -128 to
    // -103.
    const __m128i lower = _mm_set1_epi8(0x20);
    const __m128i shift = _mm_set1_epi8(0x1F);
    const __m128i bound = _mm_set1_epi8(-102);
    for (int part = 0; part < 4; ++part) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * part));
      v = _mm_add_epi8(_mm_or_si128(v, lower), shift);
      std::uint32_t bits = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(bound, v)));
      mask |= static_cast<std::uint64_t>(bits) << (16 * part);
    }
    return mask;
  }
#endif
  for (std::size_t i = 0; i < count; ++i) mask |= std::uint64_t{LetterFlags[text[i]]} << i;
  return mask;
}

// The place in `text` of letter number `index` (from 0).
std::size_t PlaceOfLetter(const std::uint8_t* text, std::size_t count, std::size_t index) {
  for (std::size_t base = 0;; base += 64) {
    std::uint64_t mask = LetterMask(text + base, std::min<std::size_t>(64, count - base));
    std::size_t here = static_cast<std::size_t>(Popcount64(mask));
    if (index < here) {
      for (std::size_t k = 0; k < index; ++k) mask &= mask - 1;
      return base + static_cast<std::size_t>(__builtin_ctzll(mask));
    }
    index -= here;
  }
}

// The letters of `count` bytes, in order; returns how many.
std::size_t CollectLetters(const std::uint8_t* text, std::size_t count, std::uint8_t* letters) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = text[i];
    letters[n] = byte;
    n += LetterFlags[byte];
  }
  return n;
}

// plain[j] for j < count: the code of the letter j, or of the pair that a
// "Y" there begins, XOR keys[j]; meaningful where a character begins.
// letters[count] must be readable.
void LetterPlainsPortable(const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
                          std::uint8_t* plain) {
  for (std::size_t j = 0; j < count; ++j) {
    std::size_t first = letters[j], second = letters[j + 1];
    std::size_t pair = (first | 0x20) == 'y';
    plain[j] = CodeOf[first + pair * (256 + second - first)] ^ keys[j];
  }
}

#if QUARVEL_X86

// Two copies of 16 entries of a table of 64.
__attribute__((target("avx2"))) inline __m256i Sixteen(const std::uint8_t* entries) {
  __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries));
  return _mm256_setr_m128i(half, half);
}

// Entries 0 to 31 of a table of 64 at the low five bits of each byte.
__attribute__((target("avx2"))) inline __m256i Lookup32(__m256i v, __m256i low, __m256i high) {
  __m256i index = _mm256_and_si256(v, _mm256_set1_epi8(0x1F));
  // Bit 4 of the index, moved to bit 7, chooses between the two halves.
  __m256i choose = _mm256_slli_epi16(index, 3);
  return _mm256_blendv_epi8(_mm256_shuffle_epi8(low, index), _mm256_shuffle_epi8(high, index),
                            choose);
}

// As LetterPlainsPortable, 32 letters at a time; letters and keys must be
// readable 32 bytes past `count`, and plain writable.
__attribute__((target("avx2"))) void LetterPlainsAvx2(const std::uint8_t* letters,
                                                      const std::uint8_t* keys, std::size_t count,
                                                      std::uint8_t* plain) {
  // Letters have their low five bits from 1 to 26, so entries 0 to 31 of the
  // 64 serve both cases.
  const __m256i letterLow = Sixteen(LetterCodeBy6.data());
  const __m256i letterHigh = Sixteen(LetterCodeBy6.data() + 16);
  const __m256i pairLow = Sixteen(PairCodeBy6.data());
  const __m256i pairHigh = Sixteen(PairCodeBy6.data() + 16);
  const __m256i lower = _mm256_set1_epi8(0x20);
  const __m256i y = _mm256_set1_epi8('y');
  for (std::size_t j = 0; j < count; j += 32) {
    __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + j));
    __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(letters + j + 1));
    __m256i isY = _mm256_cmpeq_epi8(_mm256_or_si256(first, lower), y);
    __m256i code = _mm256_blendv_epi8(Lookup32(first, letterLow, letterHigh),
                                      Lookup32(second, pairLow, pairHigh), isY);
    __m256i key = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys + j));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(plain + j), _mm256_xor_si256(code, key));
  }
}

// For every 8-bit mask, the places of its set bits, in order, then 0x80.
constexpr std::array<std::array<std::uint8_t, 8>, 256> kPackShuffles = [] {
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

// As StartPlainsAvx512, with AVX2: the plain codes of 32 letters at a time,
// packed eight letters at a time by a byte shuffle from a table.
__attribute__((target("avx2,popcnt"))) std::size_t StartPlainsAvx2(
    const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
    const std::uint64_t* starts, std::uint8_t* plain, std::uint8_t* additive) {
  alignas(32) std::uint8_t codes[kDecipherChunk + 64];
  LetterPlainsAvx2(letters, keys, count, codes);
  std::size_t n = 0;
  for (std::size_t j = 0; j < count; j += 8) {
    unsigned mask = static_cast<unsigned>(starts[j / 64] >> (j % 64)) & 0xFF;
    __m128i shuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[mask].data()));
    __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes + j));
    __m128i k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keys + j));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(plain + n), _mm_shuffle_epi8(p, shuffle));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(additive + n), _mm_shuffle_epi8(k, shuffle));
    n += static_cast<std::size_t>(_mm_popcnt_u32(mask));
  }
  return n;
}

#define QUARVEL_AVX512 "avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt"

// The letters of `count` bytes, in order, 64 bytes at a time; `letters` must
// be writable 64 bytes past the letters found.
__attribute__((target(QUARVEL_AVX512))) std::size_t CollectLettersAvx512(const std::uint8_t* text,
                                                                         std::size_t count,
                                                                         std::uint8_t* letters) {
  const __m512i lower = _mm512_set1_epi8(0x20);
  const __m512i a = _mm512_set1_epi8('a');
  const __m512i span = _mm512_set1_epi8(26);
  std::size_t n = 0;
  for (std::size_t i = 0; i < count; i += 64) {
    std::size_t part = std::min<std::size_t>(64, count - i);
    __mmask64 valid = part == 64 ? ~0ull : (std::uint64_t{1} << part) - 1;
    __m512i v = _mm512_maskz_loadu_epi8(valid, text + i);
    __mmask64 isLetter =
        _mm512_mask_cmplt_epu8_mask(valid, _mm512_sub_epi8(_mm512_or_si512(v, lower), a), span);
    _mm512_storeu_si512(letters + n, _mm512_maskz_compress_epi8(isLetter, v));
    n += static_cast<std::size_t>(_mm_popcnt_u64(isLetter));
  }
  return n;
}

// As LetterPlainsPortable, 64 letters at a time, keeping only the characters
// that begin in `starts` (one bit per letter), packed: their plain codes in
// `plain` and their key characters in `additive`. Returns how many. Letters
// and keys must be readable, plain and additive writable, 64 bytes past
// `count`.
__attribute__((target(QUARVEL_AVX512))) std::size_t StartPlainsAvx512(
    const std::uint8_t* letters, const std::uint8_t* keys, std::size_t count,
    const std::uint64_t* starts, std::uint8_t* plain, std::uint8_t* additive) {
  const __m512i letterTable = _mm512_loadu_si512(LetterCodeBy6.data());
  const __m512i pairTable = _mm512_loadu_si512(PairCodeBy6.data());
  const __m512i lower = _mm512_set1_epi8(0x20);
  const __m512i y = _mm512_set1_epi8('y');
  std::size_t n = 0;
  for (std::size_t j = 0; j < count; j += 64) {
    __m512i first = _mm512_loadu_si512(letters + j);
    __m512i second = _mm512_loadu_si512(letters + j + 1);
    __mmask64 isY = _mm512_cmpeq_epi8_mask(_mm512_or_si512(first, lower), y);
    __m512i code =
        _mm512_mask_blend_epi8(isY, _mm512_maskz_permutexvar_epi8(~0ull, first, letterTable),
                               _mm512_maskz_permutexvar_epi8(~0ull, second, pairTable));
    __m512i key = _mm512_loadu_si512(keys + j);
    __mmask64 begins = starts[j / 64];
    _mm512_storeu_si512(plain + n, _mm512_maskz_compress_epi8(begins, _mm512_xor_si512(code, key)));
    _mm512_storeu_si512(additive + n, _mm512_maskz_compress_epi8(begins, key));
    n += static_cast<std::size_t>(_mm_popcnt_u64(begins));
  }
  return n;
}

#endif  // QUARVEL_X86

// One pass over the buffered cipher text from the source's position, which
// is at or before the text limit: the letters before the limit are
// deciphered, as far as the buffers allow and leaving a "Y" whose second
// letter is not in reach. Every letter takes one key character, the second
// letter of a pair the one that the step takes after the pair. Returns false
// when no character was done and the next one has to take the step-by-step
// way.
template <bool kKeySeries>
bool DecipherPass(RunState& state) {
  ByteFile& source = state.SourceFile;
  KeyBlock& block = state.Block;
  if (static_cast<std::size_t>(block.Count - block.Next) < kDecipherChunk) RefillKeyBlock(block);
  const std::uint8_t* cipher;
  std::size_t window = source.Buffered(cipher);
  // Only bytes at or before the limit: every byte the steps would read for
  // these characters lies there.
  std::int64_t beforeLimit = state.TextLimit + 1 - source.Position();
  if (static_cast<std::int64_t>(window) > beforeLimit)
    window = static_cast<std::size_t>(beforeLimit);
  std::size_t targetRoom, consoleRoom, additiveRoom = 0, allRoom = 0;
  std::uint8_t* target = state.TargetFile.WriteRoom(targetRoom);
  std::uint8_t* console = state.Con->WriteRoom(consoleRoom);
  std::uint8_t* all = nullptr;
  // Every letter gives at most one character of at most two bytes.
  window = std::min({window, kDecipherChunk, targetRoom / 2, consoleRoom / 2});
  std::uint8_t* additiveFile = nullptr;
  if constexpr (kKeySeries) {
    additiveFile = state.AdditiveSeriesFile.WriteRoom(additiveRoom);
    all = state.AllAdditiveFile.WriteRoom(allRoom);
    window = std::min({window, additiveRoom, allRoom});
  }
  if (window < kLeastWindow) return false;
  const KeyIsa isa = block.Isa;

  // The letters of the window, with room for the vector loads past them.
  alignas(64) std::uint8_t letters[kDecipherChunk + 128];
  std::size_t letterCount;
#if QUARVEL_X86
  if (isa == KeyIsa::Avx512) {
    letterCount = CollectLettersAvx512(cipher, window, letters);
  } else
#endif
  {
    letterCount = CollectLetters(cipher, window, letters);
  }
  if (letterCount == 0) return false;
  std::memset(letters + letterCount, 0, 64);

  std::uint64_t starts[kDecipherChunk / 64];
  std::size_t words = (letterCount + 63) / 64;
  std::uint64_t carry = 0;
  for (std::size_t w = 0; w < words; ++w)
    starts[w] = CharacterStarts(YMask(letters + 64 * w), carry);
  std::size_t tail = letterCount % 64;
  if (tail != 0) starts[words - 1] &= (std::uint64_t{1} << tail) - 1;
  // A last letter that is a "Y" beginning a character waits for its second.
  std::size_t used = letterCount;
  std::size_t last = letterCount - 1;
  if (((starts[last / 64] >> (last % 64)) & 1) && (letters[last] | 0x20) == 'y') {
    starts[last / 64] &= ~(std::uint64_t{1} << (last % 64));
    used = last;
  }
  if (used == 0) return false;

  const std::uint8_t* keys = block.Chars.data() + block.Next;
  alignas(64) std::uint8_t plain[kDecipherChunk + 64];
  // The additive series of the pass; written where it goes when there is
  // room for the vector stores past it.
  alignas(64) std::uint8_t additiveHere[kDecipherChunk + 64];
  std::uint8_t* additive = additiveHere;
  if constexpr (kKeySeries) {
    if (additiveRoom >= used + 64) additive = additiveFile;
  }
  std::uint8_t* out = target;
  bool letterShift = state.LettersShift;
  std::size_t chars = 0;
  // Writes the character of one plain code.
  auto write = [&](std::uint8_t code) {
    const PlainOut& written = PlainOutOf[letterShift][code];
    std::memcpy(out, &written.Bytes, 2);
    out += written.Length;
    letterShift = code == kLettersShiftCode || (letterShift && code != kFiguresShiftCode);
  };
#if QUARVEL_X86
  if (isa == KeyIsa::Avx512 || isa == KeyIsa::Avx2) {
    chars = isa == KeyIsa::Avx512 ? StartPlainsAvx512(letters, keys, used, starts, plain, additive)
                                  : StartPlainsAvx2(letters, keys, used, starts, plain, additive);
    for (std::size_t c = 0; c < chars; ++c) write(plain[c]);
  } else
#endif
  {
    LetterPlainsPortable(letters, keys, used, plain);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t bits = starts[w]; bits != 0; bits &= bits - 1) {
        std::size_t start = 64 * w + static_cast<std::size_t>(__builtin_ctzll(bits));
        additive[chars++] = keys[start];
        write(plain[start]);
      }
    }
  }

  std::size_t length = static_cast<std::size_t>(out - target);
  std::memcpy(console, target, length);
  state.TargetFile.Commit(length);
  state.Con->Commit(length);
  if constexpr (kKeySeries) {
    if (additive != additiveFile) std::memcpy(additiveFile, additive, chars);
    // Every key character taken, in order: one per letter.
    std::memcpy(all, keys, used);
    state.AdditiveSeriesFile.Commit(chars);
    state.AllAdditiveFile.Commit(used);
  }
  source.Advance(PlaceOfLetter(cipher, window, used - 1) + 1);
  block.Next += static_cast<int>(used);

  state.LettersShift = letterShift;
  state.KeyChar = keys[used - 1];
  return true;
}

template <bool kKeySeries>
void DecipherBulkLoop(RunState& state) {
  while (!state.DecipherDone) {
    if (state.SourceFile.Position() > state.TextLimit || !DecipherPass<kKeySeries>(state)) {
      DecipherStep(state);
    }
  }
}

}  // namespace

void DecipherBulk(RunState& state) {
  if (state.WritesKeySeries()) {
    DecipherBulkLoop<true>(state);
  } else {
    DecipherBulkLoop<false>(state);
  }
}

}  // namespace quarvel
