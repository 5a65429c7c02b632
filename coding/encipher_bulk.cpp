// The bulk encipher loop: many characters at a time, straight into the
// file buffers, through the kernels of the run's tier.
#include <algorithm>
#include <cstring>

#include "alphabet/teleprinter.h"
#include "coding/encipher.h"
#include "coding/encipher_tables.h"
#include "generator/key_block.h"
#include "isa/kernels.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// Plain characters per pass; a pass takes at most twice as many key
// characters, which a refill of the key block must leave room for.
constexpr std::size_t kEncipherChunk = 1024;
static_assert(2 * kEncipherChunk < KeyBlock::kChars);
// Bytes one plain character can add to the target: a pair and a line end.
constexpr std::size_t kMostOutPerChar = 4;
// Vector stores may reach this far past what is kept.
constexpr std::size_t kSlack = 64;

inline std::size_t CharsFitting(std::size_t room, std::size_t perChar) {
  return room > kSlack ? (room - kSlack) / perChar : 0;
}

// One pass over the buffered plain text: the cipher letters of `count`
// characters (fewer when the buffers are short), laid out in groups into the
// target and the console, the key characters into the key series. Returns
// the number of plain characters done; 0 when the next character has to take
// the step-by-step way because a buffer is about to go out.
template <bool kKeySeries>
std::size_t EncipherPass(RunState& state, const std::uint8_t* plain, std::size_t count) {
  KeyBlock& block = state.Block;
  const Kernels& kernels = *state.KernelTable;
  if (static_cast<std::size_t>(block.Count - block.Next) < 2 * kEncipherChunk)
    RefillKeyBlock(block, kernels);
  std::size_t targetRoom, consoleRoom, additiveRoom = 0, allRoom = 0;
  std::uint8_t* target = state.TargetFile.WriteRoom(targetRoom);
  std::uint8_t* console = state.Con->WriteRoom(consoleRoom);
  std::uint8_t* additive = nullptr;
  std::uint8_t* all = nullptr;
  count = std::min({count, kEncipherChunk, CharsFitting(targetRoom, kMostOutPerChar),
                    CharsFitting(consoleRoom, kMostOutPerChar)});
  if constexpr (kKeySeries) {
    additive = state.AdditiveSeriesFile.WriteRoom(additiveRoom);
    all = state.AllAdditiveFile.WriteRoom(allRoom);
    count = std::min({count, additiveRoom, allRoom / 2});
  }
  // A byte without a code came after the check of the text: the pass ends
  // before it, and the step-by-step way stops the run there.
  count = kernels.FindByteClass(plain, count, kUncodedByte);
  if (count == 0) return 0;

  const std::uint8_t* keys = block.Keys + block.Next;
  // The cipher letters, without the layout; letter n takes key character n.
  alignas(64) std::uint8_t letters[2 * kEncipherChunk + kSlack];
  alignas(64) std::uint8_t additiveHere[kEncipherChunk];
  if constexpr (!kKeySeries) additive = additiveHere;
  std::size_t used = kernels.EncipherLetters(plain, count, keys, letters, additive);

  // Groups of five letters, a space after each group and CR LF after every
  // tenth group of a line: whole lines' worth at once, then letter by
  // letter. They are laid out in the console's buffer and copied to the
  // target's: in a large run the target's buffer has just been written out
  // on the second thread, from another processor, and the many small
  // stores of the layout would each wait for a line of it.
  std::int32_t inGroup = state.GroupCharCount;
  std::int32_t groupsInLine = state.GroupsInLine;
  std::size_t done =
      kernels.LayOutLines(letters, used, groupsInLine * kLettersPerGroup + inGroup, console);
  std::uint8_t* out = console + done / kLineLetters * kLineBytes;
  while (done < used) {
    std::size_t take =
        std::min<std::size_t>(static_cast<std::size_t>(kLettersPerGroup - inGroup), used - done);
    std::memcpy(out, letters + done, 8);
    out += take;
    done += take;
    inGroup += static_cast<std::int32_t>(take);
    if (inGroup == kLettersPerGroup) {
      inGroup = 0;
      if (++groupsInLine == kGroupsPerLine) {
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
        groupsInLine = 0;
      } else {
        *out++ = ' ';
      }
    }
  }
  std::size_t length = static_cast<std::size_t>(out - console);
  std::memcpy(target, console, length);
  state.TargetFile.Commit(length);
  state.Con->Commit(length);
  if constexpr (kKeySeries) {
    // Every key character taken, in order: one per letter.
    std::memcpy(all, keys, used);
    state.AdditiveSeriesFile.Commit(count);
    state.AllAdditiveFile.Commit(used);
  }
  state.GroupCharCount = inGroup;
  state.GroupsInLine = groupsInLine;
  block.Next += static_cast<int>(used);
  state.KeyChar = keys[used - 1];
  return count;
}

template <bool kKeySeries>
void EncipherBulkLoop(RunState& state) {
  ByteFile& source = state.SourceFile;
  for (;;) {
    const std::uint8_t* plain;
    std::size_t available = source.Buffered(plain);
    if (available == 0) {
      if (source.AtEnd()) return;
      continue;
    }
    std::size_t done = EncipherPass<kKeySeries>(state, plain, available);
    if (done > 0) {
      source.Advance(done);
    } else {
      EncipherStep(state);
    }
  }
}

}  // namespace

void EncipherBulk(RunState& state) {
  if (state.WritesKeySeries()) {
    EncipherBulkLoop<true>(state);
  } else {
    EncipherBulkLoop<false>(state);
  }
}

}  // namespace quarvel
