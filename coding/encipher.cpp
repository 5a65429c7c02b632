// The encipher steps, one character at a time: the reference of the bulk
// loop.
#include "coding/encipher.h"

#include "alphabet/teleprinter.h"
#include "coding/encipher_tables.h"
#include "coding/key_chars.h"
#include "io/io_error.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

inline void WriteBoth(RunState& state, std::uint8_t byte) {
  state.Con->Write(byte);
  state.TargetFile.WriteByte(byte);
}

inline void WriteLineEndBoth(RunState& state) {
  state.Con->Write('\r');
  state.Con->Write('\n');
  state.TargetFile.WriteByte('\r');
  state.TargetFile.WriteByte('\n');
}

}  // namespace

void CountGroupLetter(RunState& state, std::int32_t& groupsInLine) {
  if (++state.GroupCharCount != kLettersPerGroup) return;
  if (++groupsInLine == kGroupsPerLine) {
    WriteLineEndBoth(state);
    groupsInLine = 0;
  } else {
    WriteBoth(state, ' ');
  }
  state.GroupCharCount = 0;
}

void EncipherStep(RunState& state) {
  std::uint8_t plainByte = state.SourceFile.ReadByte();
  // The text was checked before the run began: a byte without a code here
  // came after the check, and would reach the cipher text as a non-letter.
  if ((PlainByteClasses[plainByte] & kUncodedByte) != 0)
    ThrowIoError(kSourceChanged, IoOp::Read, state.SourceFile.Name());
  std::uint8_t plainChar = ToUpper(plainByte);
  CharToCode(plainChar);
  NextKeyChar(state, state.KeyChar);
  std::uint8_t cipherChar = plainChar ^ state.KeyChar;
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.WriteByte(state.KeyChar);
  std::uint8_t pairLetter = cipherChar < 32 ? PairSecondCode[cipherChar] : kNoPair;
  if (pairLetter != kNoPair) cipherChar = kCodeOfY;
  // The cipher text is written in letters shift throughout.
  bool lettersShift = true;
  CodeToChar(cipherChar, lettersShift);
  WriteBoth(state, cipherChar);
  CountGroupLetter(state, state.GroupsInLine);
  if (pairLetter != kNoPair) {
    lettersShift = true;
    CodeToChar(pairLetter, lettersShift);
    WriteBoth(state, pairLetter);
    CountGroupLetter(state, state.GroupsInLine);
    NextKeyChar(state, state.KeyChar);
  }
}

void PadLastGroup(RunState& state) {
  if (state.GroupCharCount < 1 || state.GroupCharCount > 4) return;
  for (int i = state.GroupCharCount; i < kLettersPerGroup; ++i) WriteBoth(state, 'Y');
}

}  // namespace quarvel
