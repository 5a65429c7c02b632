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

// The place in `text` of the letter `back` letters before its last one.
std::size_t PlaceOfLetterFromEnd(const std::uint8_t* text, std::size_t count, std::size_t back) {
  for (std::size_t place = count;;) {
    if (IsLetter(text[--place]) && back-- == 0) return place;
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
  // Every letter gives at most one character of at most two bytes; vector
  // stores reach 64 bytes further.
  std::size_t outRoom = std::min(targetRoom, consoleRoom);
  window = std::min({window, kDecipherChunk, outRoom > 64 ? (outRoom - 64) / 2 : 0});
  if constexpr (kKeySeries) {
    std::size_t allRoom;
    room.Additive = state.AdditiveSeriesFile.WriteRoom(room.AdditiveRoom);
    room.All = state.AllAdditiveFile.WriteRoom(allRoom);
    window = std::min({window, room.AdditiveRoom, allRoom});
  }
  room.Window = window;
  return room;
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
  std::size_t used = kernels.MarkStarts(letters, letterCount, starts);
  if (used == 0) return false;

  const std::uint8_t* keys = block.Keys + block.Next;
  // The additive series of the pass; written where it goes when there is
  // room for the vector stores past it.
  alignas(64) std::uint8_t additiveHere[kDecipherChunk + 64];
  std::uint8_t* additive = additiveHere;
  if constexpr (kKeySeries) {
    if (room.AdditiveRoom >= used + 64) additive = room.Additive;
  }
  // The characters go to the console's buffer and are copied to the
  // target's, whose lines the second thread of a large run has just written
  // out from another processor.
  std::size_t chars = 0;
  const std::size_t length = kernels.DecipherChars(letters, keys, used, starts, state.LettersShift,
                                                   room.Console, additive, chars);
  std::memcpy(room.Target, room.Console, length);
  state.TargetFile.Commit(length);
  state.Con->Commit(length);
  if constexpr (kKeySeries) {
    if (additive != room.Additive) std::memcpy(room.Additive, additive, chars);
    // Every key character taken, in order: one per letter.
    std::memcpy(room.All, keys, used);
    state.AdditiveSeriesFile.Commit(chars);
    state.AllAdditiveFile.Commit(used);
  }
  state.SourceFile.Advance(PlaceOfLetterFromEnd(room.Cipher, room.Window, letterCount - used) + 1);
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
