// The whole state of one run. Dispatch creates it, the procedures of the run
// read and write its fields in place, and it is gone when Dispatch returns.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "generator/generator_types.h"
#include "generator/key_block.h"
#include "io/background_thread.h"
#include "io/byte_file.h"
#include "io/console.h"
#include "isa/kernels.h"
#include "state/key_finding.h"
#include "state/run_parameters.h"

namespace quarvel {

// Rows of the file table of a run, in the order of binding, opening,
// reporting and closing.
enum FileRow : int { kSourceRow = 0, kTargetRow, kKeyFileRow, kAdditiveSeriesRow, kAllAdditiveRow };
inline constexpr int kMaxFileRows = 5;

// How a run ended, for the exit status.
enum class RunOutcome { NoRun, Done, FileError, KeyRefused, TextRefused };

struct RunState {
  // The run's second thread, when it has one (a large run; see
  // UseSecondThread): the files write behind on it, the key characters are
  // made ahead and half the plain text is checked there. Declared first, it
  // ends last, after every file and the key block are done with it.
  std::unique_ptr<BackgroundThread> SecondThread;
  // The buffer of the second half of the text check, taken with the thread.
  std::unique_ptr<std::uint8_t[]> CheckBuffer;

  // Run parameters.
  RunParameters Params;
  char Mode = 0;
  std::int32_t StepsPerChar = 0;
  Program Variant = Program::Quarvel;
  Console* Con = nullptr;

  // Files and console.
  ByteFile SourceFile;
  ByteFile TargetFile;
  ByteFile KeyFile;
  ByteFile AdditiveSeriesFile;
  ByteFile AllAdditiveFile;
  std::array<std::int32_t, kMaxFileRows> OpenResult{};
  // For a written file that is another file of the run: that file's row.
  std::array<std::int32_t, kMaxFileRows> SameFileRow{-1, -1, -1, -1, -1};
  // The character read after a report (a file error, or a file that the key
  // reader could not open again); kept as the record of that answer, though
  // nothing reads it.
  char ConsoleAnswer = 0;

  // Key parts.
  StructureKeyChars StructureKeyText{};
  std::string BasicKey;
  std::string MessageKey;
  // The summary of the checks on the three key parts; kept as a record,
  // though no step of a run reads it: the verdicts below drive the runs.
  bool KeysValid = false;
  // The verdict on each key part: a refused part stops the run before it
  // writes anything.
  bool StructureKeyRefused = false;
  bool BasicKeyRefused = false;
  bool MessageKeyRefused = false;
  KeyPartFinding StructureKeyFinding;
  KeyPartFinding BasicKeyFinding;
  KeyPartFinding MessageKeyFinding;
  // The 30 characters read behind the marker.
  std::string MessageKeyText;

  // The check of the plain text after its header (mode C): the offsets of
  // the first byte of 32 or more that has no teleprinter code and of the
  // first line-feed, carriage-return or tab byte; -1 when there is none.
  std::int64_t UncodedOffset = -1;
  std::int64_t LineByteOffset = -1;

  // Text positions. TextPosition is set by every filtered read of the key
  // reader; after it, the position just after the last message-key letter,
  // which ends the header. TextLimit: decipher run only, the position of the
  // last cipher letter to decipher.
  std::int64_t TextPosition = 0;
  std::int64_t TextLimit = 0;

  // Key generator.
  RegisterBank Registers;
  // Parity of the output bits of the last register step.
  std::uint8_t StepParity = 0;
  // The key character last produced.
  std::uint8_t KeyChar = 0;
  ExpandedKey BasicKeyBits{};
  ExpandedKey MessageKeyBits{};
  StructureMatrix KeyMatrix{};
  // Key characters made ahead in blocks after the warm-up.
  KeyBlock Block;
  // The kernels of the run's instruction-set tier, chosen at the warm-up.
  const Kernels* KernelTable = nullptr;

  // Character steps.
  // Shift state of the decipher loop's conversion, carried from character
  // to character.
  bool LettersShift = true;
  bool DecipherDone = false;
  std::int32_t GroupCharCount = 0;
  std::int32_t GroupsInLine = 0;

  RunOutcome Outcome = RunOutcome::NoRun;
  // Diagnostics, notes and warnings gathered for standard error, one per
  // line, without the program's name.
  std::string Notes;

  bool WritesKeySeries() const { return Variant == Program::QuarvelKeys; }
  int FileCount() const { return WritesKeySeries() ? 5 : 3; }
};

}  // namespace quarvel
