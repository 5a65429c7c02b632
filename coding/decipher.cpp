#include "coding/decipher.h"

#include <algorithm>

#include "coding/teleprinter.h"
#include "generator/key_stream.h"
#include "run/run_state.h"

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

}  // namespace

void FindTextLimit(RunState& state, std::int64_t& textPosition) {
  ByteFile& source = state.SourceFile;
  std::int64_t counter = textPosition;
  int lettersInGroup = 5;
  bool newGroup = true;
  std::int64_t lastGroupEnd = 0;
  if (source.AtEnd()) {
    // Nothing follows the header: there is no text to decipher.
    textPosition = 0;
    return;
  }
  for (;;) {
    std::uint8_t byte = source.ReadByte();
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
    if (source.AtEnd() || !(lettersInGroup == 5 || capital)) break;
  }
  if (lettersInGroup == 5 && lastGroupEnd > 0) lastGroupEnd = SkipFillingBack(source, lastGroupEnd);
  textPosition = lastGroupEnd;
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
  const std::int64_t limit = state.TextPosition;
  if (source.Position() > limit) {
    state.DecipherDone = true;
    return;
  }
  state.CipherChar = ReadToLetter(source, limit);
  if (!IsLetter(state.CipherChar)) {
    state.DecipherDone = true;
    return;
  }
  state.CipherChar = ToUpper(state.CipherChar);
  bool pair = false;
  if (state.CipherChar == 'Y') {
    if (source.Position() > limit && source.AtEnd()) {
      state.DecipherDone = true;
    } else {
      state.PairLetter = ToUpper(ReadToLetter(source, limit));
      if (IsCapital(state.PairLetter)) {
        std::uint8_t meaning = PairCharBySecondLetter[state.PairLetter - 'A'];
        if (meaning != 0) state.CipherChar = meaning;
      }
      pair = true;
    }
    state.PairFlag = pair;
  } else {
    state.PairFlag = false;
  }
  CharToCode(state.CipherChar);
  NextKeyChar(state, state.KeyChar);
  state.PlainChar = state.CipherChar ^ state.KeyChar;
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.WriteByte(state.KeyChar);
  CodeToChar(state.PlainChar, state.LettersShift);
  switch (state.PlainChar) {
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
      state.Con->Write(state.PlainChar);
      state.TargetFile.WriteByte(state.PlainChar);
      break;
  }
  if (pair) NextKeyChar(state, state.KeyChar);
}

}  // namespace quarvel
