// The scan for the text limit and the decipher steps, one character at a
// time: the reference of the bulk loop.
#include "coding/decipher.h"

#include <algorithm>

#include "alphabet/teleprinter.h"
#include "coding/encipher.h"
#include "coding/key_chars.h"
#include "isa/kernels.h"
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
    if (file.ReadBlock(chunk, want) != want) ThrowIoError(kReadPastEnd, IoOp::Read, file.Name());
    for (std::int64_t p = position; p >= low; --p) {
      if (chunk[p - low] != 'Y') return p;
      if (p == 0) return 0;
    }
    position = low - 1;
  }
  return position;
}

}  // namespace

std::int64_t FindTextLimit(RunState& state, std::int64_t headerEnd) {
  ByteFile& source = state.SourceFile;
  std::int64_t counter = headerEnd;
  int lettersInGroup = kLettersPerGroup;
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
      if (++lettersInGroup == kLettersPerGroup) {
        lastGroupEnd = counter;
        newGroup = true;
      }
    }
    return lettersInGroup == kLettersPerGroup || capital;
  };
  // Through the buffer, to the end of the file or the first byte that ends
  // the scan.
  for (bool more = true; more;) {
    const std::uint8_t* data;
    std::size_t count = source.Buffered(data);
    if (count == 0) {
      if (!source.Refill()) break;
      continue;
    }
    // Whole blocks of 64 bytes while they hold no end of the scan; the block
    // that does, and the rest, byte by byte.
    int groupPart = newGroup ? 0 : lettersInGroup;
    std::size_t i = state.KernelTable->ScanBlocks(data, count, groupPart, counter, lastGroupEnd);
    newGroup = groupPart == 0;
    lettersInGroup = newGroup ? kLettersPerGroup : groupPart;
    while (i < count && more) more = scan(data[i++]);
    source.Advance(i);
  }
  if (lettersInGroup == kLettersPerGroup && lastGroupEnd > 0)
    lastGroupEnd = SkipFillingBack(source, lastGroupEnd);
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

}  // namespace quarvel
