#include "coding/encipher.h"

#include "coding/teleprinter.h"
#include "generator/key_stream.h"
#include "run/run_state.h"

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
  state.PlainChar = ToUpper(state.SourceFile.ReadByte());
  CharToCode(state.PlainChar);
  NextKeyChar(state, state.KeyChar);
  state.CipherChar = state.PlainChar ^ state.KeyChar;
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.WriteByte(state.KeyChar);
  std::uint8_t second = state.CipherChar < 32 ? PairSecondCode[state.CipherChar] : kNoPair;
  if (second != kNoPair) {
    state.PairLetter = second;
    state.CipherChar = kCodeOfY;
    state.PairFlag = true;
  } else {
    state.PairFlag = false;
  }
  state.LettersShift = true;
  CodeToChar(state.CipherChar, state.LettersShift);
  WriteBoth(state, state.CipherChar);
  CountGroupLetter(state, state.GroupsInLine);
  if (state.PairFlag) {
    CodeToChar(state.PairLetter, state.LettersShift);
    WriteBoth(state, state.PairLetter);
    CountGroupLetter(state, state.GroupsInLine);
    NextKeyChar(state, state.KeyChar);
  }
}

void CopyHeader(RunState& state, std::int64_t textPosition) {
  state.SourceFile.Seek(0);
  state.TargetFile.Seek(0);
  for (std::int64_t i = 0; i <= textPosition; ++i) {
    if (state.SourceFile.AtEnd()) break;
    std::uint8_t byte = ToUpper(state.SourceFile.ReadByte());
    state.TargetFile.WriteByte(byte);
    state.Con->Write(byte);
  }
}

void PadLastGroup(RunState& state) {
  if (state.GroupCharCount < 1 || state.GroupCharCount > 4) return;
  for (int i = state.GroupCharCount; i < kLettersPerGroup; ++i) WriteBoth(state, 'Y');
}

void CloseRunFiles(RunState& state) {
  ByteFile* files[] = {&state.SourceFile, &state.TargetFile, &state.KeyFile,
                       &state.AdditiveSeriesFile, &state.AllAdditiveFile};
  for (ByteFile* file : files) {
    if (file->IsOpen()) file->Close();
  }
}

}  // namespace quarvel
