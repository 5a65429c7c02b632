// The bulk decipher loop: many characters at a time, straight into the file
// buffers, through the kernels of the run's tier.
#include <algorithm>
#include <cstring>

#include "alphabet/teleprinter.h"
#include "coding/decipher.h"
#include "coding/decipher_kernels.h"
#include "generator/key_block.h"
#include "isa/kernels.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

static_assert(kDecipherChunk < KeyBlock::kChars && kDecipherChunk % 64 == 0);
// Fewer bytes than this before the text limit or the end of the buffer are
// left to the step-by-step way.
constexpr std::size_t kLeastWindow = 16;

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

// Bit i set where text[i] is "Y" or "y", for 64 bytes.
inline std::uint64_t YMask(const std::uint8_t* text) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  std::uint64_t mask = 0;
  for (int k = 0; k < 8; ++k) {
    std::uint64_t x;
    std::memcpy(&x, text + 8 * k, 8);
    // Zero bytes where the byte is "y" with bit 5 set.
    std::uint64_t z = (x | 0x2020202020202020ull) ^ 0x7979797979797979ull;
    std::uint64_t zero = ~(((z & kLow7) + kLow7) | z) & ~kLow7;
    mask |= (((zero >> 7) * 0x0102040810204080ull) >> 56) << (8 * k);
  }
  return mask;
}

// The place in `text` of letter number `index` (from 0).
std::size_t PlaceOfLetter(const std::uint8_t* text, std::size_t count, std::size_t index) {
  for (std::size_t base = 0;; base += 64) {
    std::uint64_t mask = 0;
    if (count - base >= 64) {
      mask = LetterMask64(text + base, 0x20);
    } else {
      for (std::size_t i = base; i < count; ++i) {
        mask |= std::uint64_t{LetterFlags[text[i]]} << (i - base);
      }
    }
    std::size_t here = static_cast<std::size_t>(__builtin_popcountll(mask));
    if (index < here) {
      for (std::size_t k = 0; k < index; ++k) mask &= mask - 1;
      return base + static_cast<std::size_t>(__builtin_ctzll(mask));
    }
    index -= here;
  }
}

// Where a pass may read and write: the cipher bytes up to the text limit
// and the room in the buffers, all cut to what one pass can take.
struct PassRoom {
  const std::uint8_t* Cipher;
  std::size_t Window;  // cipher bytes
  std::uint8_t* Target;
  std::uint8_t* Console;
  std::uint8_t* Additive = nullptr;
  std::size_t AdditiveRoom = 0;
  std::uint8_t* All = nullptr;
};

template <bool kKeySeries>
PassRoom FindRoom(RunState& state) {
  PassRoom room;
  ByteFile& source = state.SourceFile;
  std::size_t window = source.Buffered(room.Cipher);
  // Only bytes at or before the limit: every byte the steps would read for
  // these characters lies there.
  std::int64_t beforeLimit = state.TextLimit + 1 - source.Position();
  if (static_cast<std::int64_t>(window) > beforeLimit)
    window = static_cast<std::size_t>(beforeLimit);
  std::size_t targetRoom, consoleRoom;
  room.Target = state.TargetFile.WriteRoom(targetRoom);
  room.Console = state.Con->WriteRoom(consoleRoom);
  // Every letter gives at most one character of at most two bytes.
  window = std::min({window, kDecipherChunk, targetRoom / 2, consoleRoom / 2});
  if constexpr (kKeySeries) {
    std::size_t allRoom;
    room.Additive = state.AdditiveSeriesFile.WriteRoom(room.AdditiveRoom);
    room.All = state.AllAdditiveFile.WriteRoom(allRoom);
    window = std::min({window, room.AdditiveRoom, allRoom});
  }
  room.Window = window;
  return room;
}

// Marks in `starts` the letters that begin a character, of `count` letters
// (`letters` readable 64 bytes past them). Returns how many letters the
// pass takes: all, or all but a last "Y" that begins a character and waits
// for its second letter.
std::size_t MarkStarts(const std::uint8_t* letters, std::size_t count, std::uint64_t* starts) {
  std::size_t words = (count + 63) / 64;
  std::uint64_t carry = 0;
  for (std::size_t w = 0; w < words; ++w)
    starts[w] = CharacterStarts(YMask(letters + 64 * w), carry);
  std::size_t tail = count % 64;
  if (tail != 0) starts[words - 1] &= (std::uint64_t{1} << tail) - 1;
  std::size_t last = count - 1;
  if (((starts[last / 64] >> (last % 64)) & 1) && (letters[last] | 0x20) == 'y') {
    starts[last / 64] &= ~(std::uint64_t{1} << (last % 64));
    return last;
  }
  return count;
}

// Writes the characters of `count` plain codes from `out` on, in the shift
// that `lettersShift` holds and updates; returns the end of what it wrote.
std::uint8_t* WritePlain(const std::uint8_t* plain, std::size_t count, bool& lettersShift,
                         std::uint8_t* out) {
  bool shift = lettersShift;
  for (std::size_t c = 0; c < count; ++c) {
    std::uint8_t code = plain[c];
    const PlainOut& written = PlainOutOf[shift][code];
    std::memcpy(out, &written.Bytes, 2);
    out += written.Length;
    shift = code == kLettersShiftCode || (shift && code != kFiguresShiftCode);
  }
  lettersShift = shift;
  return out;
}

// One pass over the buffered cipher text from the source's position, which
// is at or before the text limit: the letters before the limit are
// deciphered, as far as the buffers allow and leaving a "Y" whose second
// letter is not in reach. Every letter takes one key character, the second
// letter of a pair the one that the step takes after the pair. Returns false
// when no character was done and the next one has to take the step-by-step
// way.
template <bool kKeySeries>
bool DecipherPass(RunState& state) {
  KeyBlock& block = state.Block;
  const Kernels& kernels = *state.KernelTable;
  if (static_cast<std::size_t>(block.Count - block.Next) < kDecipherChunk)
    RefillKeyBlock(block, kernels);
  const PassRoom room = FindRoom<kKeySeries>(state);
  if (room.Window < kLeastWindow) return false;

  // The letters of the window, with room for the vector loads past them.
  alignas(64) std::uint8_t letters[kDecipherChunk + 128];
  std::size_t letterCount = kernels.CollectLetters(room.Cipher, room.Window, letters);
  if (letterCount == 0) return false;
  std::memset(letters + letterCount, 0, 64);
  std::uint64_t starts[kDecipherChunk / 64];
  std::size_t used = MarkStarts(letters, letterCount, starts);
  if (used == 0) return false;

  const std::uint8_t* keys = block.Chars.data() + block.Next;
  alignas(64) std::uint8_t plain[kDecipherChunk + 64];
  // The additive series of the pass; written where it goes when there is
  // room for the vector stores past it.
  alignas(64) std::uint8_t additiveHere[kDecipherChunk + 64];
  std::uint8_t* additive = additiveHere;
  if constexpr (kKeySeries) {
    if (room.AdditiveRoom >= used + 64) additive = room.Additive;
  }
  std::size_t chars = kernels.StartPlains(letters, keys, used, starts, plain, additive);
  std::uint8_t* end = WritePlain(plain, chars, state.LettersShift, room.Target);

  std::size_t length = static_cast<std::size_t>(end - room.Target);
  std::memcpy(room.Console, room.Target, length);
  state.TargetFile.Commit(length);
  state.Con->Commit(length);
  if constexpr (kKeySeries) {
    if (additive != room.Additive) std::memcpy(room.Additive, additive, chars);
    // Every key character taken, in order: one per letter.
    std::memcpy(room.All, keys, used);
    state.AdditiveSeriesFile.Commit(chars);
    state.AllAdditiveFile.Commit(used);
  }
  state.SourceFile.Advance(PlaceOfLetter(room.Cipher, room.Window, used - 1) + 1);
  block.Next += static_cast<int>(used);
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
