#include "run/runs.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "alphabet/teleprinter.h"
#include "coding/decipher.h"
#include "coding/encipher.h"
#include "coding/key_chars.h"
#include "generator/key_block.h"
#include "generator/key_loading.h"
#include "keyfile/key_file.h"
#include "run/diagnostics.h"
#include "run/key_reading.h"
#include "run/text_check.h"
#include "state/role_words.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

// One row of a run's file table.
struct FileTableRow {
  ByteFile RunState::*File;
  std::string RunParameters::*Name;
  bool NewFile;  // created, and emptied once the run goes on to write
  bool Written;  // the run writes it
  const char* RoleWord;
};

constexpr FileTableRow kEncipherTable[kMaxFileRows] = {
    {&RunState::SourceFile, &RunParameters::PlainTextName, false, false, kSourceRole},
    {&RunState::TargetFile, &RunParameters::CipherTextName, true, true, kTargetRole},
    {&RunState::KeyFile, &RunParameters::KeyFileName, false, false, kKeyFileRole},
    {&RunState::AdditiveSeriesFile, &RunParameters::AdditiveSeriesName, true, true,
     kAdditiveSeriesRole},
    {&RunState::AllAdditiveFile, &RunParameters::AllAdditiveName, true, true, kAllAdditiveRole},
};

// The decipher run exchanges source and target names, and needs the
// additive-series file to exist: it overwrites it from its start.
constexpr FileTableRow kDecipherTable[kMaxFileRows] = {
    {&RunState::SourceFile, &RunParameters::CipherTextName, false, false, kSourceRole},
    {&RunState::TargetFile, &RunParameters::PlainTextName, true, true, kTargetRole},
    {&RunState::KeyFile, &RunParameters::KeyFileName, false, false, kKeyFileRole},
    {&RunState::AdditiveSeriesFile, &RunParameters::AdditiveSeriesName, false, true,
     kAdditiveSeriesRole},
    {&RunState::AllAdditiveFile, &RunParameters::AllAdditiveName, true, true, kAllAdditiveRole},
};

const FileTableRow* TableOf(const RunState& state) {
  return state.Mode == 'D' ? kDecipherTable : kEncipherTable;
}

}  // namespace

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

void CloseRunFiles(RunState& state) {
  const FileTableRow* table = TableOf(state);
  for (int i = 0; i < state.FileCount(); ++i) {
    ByteFile& file = state.*(table[i].File);
    if (file.IsOpen()) file.Close();
  }
}

bool BulkLoopsMayRun(const RunState& state) {
  if (state.Con == nullptr || !state.Block.Active || state.StepsPerChar != 5) return false;
  const FileTableRow* table = TableOf(state);
  for (int i = 0; i < state.FileCount(); ++i) {
    // The key file is only held open; the loops never touch it.
    if (i == kKeyFileRow) continue;
    if (!(state.*(table[i].File)).IsDisk()) return false;
  }
  return true;
}

void EncipherText(RunState& state) {
  if (BulkLoopsMayRun(state)) {
    EncipherBulk(state);
  } else {
    while (!state.SourceFile.AtEnd()) EncipherStep(state);
  }
}

void DecipherText(RunState& state) {
  if (BulkLoopsMayRun(state)) {
    DecipherBulk(state);
  } else {
    while (!state.DecipherDone) DecipherStep(state);
  }
}

namespace {

// The text that ends both reports: four dots in mode C, three in mode D.
const char* ContinuePrompt(const RunState& state) {
  return state.Mode == 'D' ? "...weiter mit Taste" : "....weiter mit Taste";
}

// Each file is opened for what the run does with it: an input for reading
// only, a written file for writing only, so that a protected input can be
// read and a pipe as target meets a reader of its own.
int OpenForRow(ByteFile& file, const FileTableRow& row) {
  if (!row.Written) return file.OpenToRead();
  return row.NewFile ? file.OpenNew() : file.OpenToWrite();
}

// Binds and opens every file of the table, each open attempted whatever the
// others gave. A written file that is the same regular file as another file
// of the run is a file error of its own row: nothing may overwrite an input.
// Returns true when every file is usable.
bool OpenRunFiles(RunState& state) {
  const FileTableRow* table = TableOf(state);
  int rows = state.FileCount();
  bool allOpen = true;
  for (int i = 0; i < rows; ++i) {
    ByteFile& file = state.*(table[i].File);
    file.Bind(state.Params.*(table[i].Name), *state.Con);
    state.OpenResult[i] = OpenForRow(file, table[i]);
    // A file that is only read is searched from its start and read again at
    // given positions, which takes a regular file: a device or pipe might
    // never end, or never deliver. The console is given by an empty name.
    if (state.OpenResult[i] == 0 && !table[i].Written && file.IsDisk() && !file.IsRegular()) {
      file.Close();
      state.OpenResult[i] = ESPIPE;
    }
    if (state.OpenResult[i] != 0) allOpen = false;
  }
  for (int i = 0; i < rows; ++i) {
    const ByteFile& written = state.*(table[i].File);
    if (!table[i].Written || !written.IsOpen()) continue;
    for (int j = 0; j < rows; ++j) {
      if (j != i && written.SameFileAs(state.*(table[j].File))) {
        state.OpenResult[i] = EEXIST;
        state.SameFileRow[i] = j;
        allOpen = false;
        break;
      }
    }
  }
  return allOpen;
}

// A run that stops at a report leaves no file behind that its own opens
// created; every file that was there before is left as it was. They go
// before the report's first byte, so that a console that fails there
// leaves nothing either.
void StartReport(RunState& state) {
  const FileTableRow* table = TableOf(state);
  for (int i = 0; i < state.FileCount(); ++i) (state.*(table[i].File)).RemoveIfCreated();
}

// Ends a report: the prompt, the diagnostics gathered for it on standard
// error, then one character read.
void EndReport(RunState& state) {
  state.Con->Write(ContinuePrompt(state));
  WriteNotes(state);
  state.ConsoleAnswer = static_cast<char>(state.Con->ReadChar());
}

void FileErrorReport(RunState& state) {
  const FileTableRow* table = TableOf(state);
  Console& con = *state.Con;
  con.Write("Dateifehler in ");
  for (int i = 0; i < state.FileCount(); ++i) {
    if (state.OpenResult[i] != 0) {
      con.Write(table[i].RoleWord);
      con.WriteLineEnd();
      int same = state.SameFileRow[i];
      NoteFileError(state, table[i].RoleWord, state.*(table[i].File), state.OpenResult[i],
                    table[i].NewFile, table[i].Written, same >= 0 ? table[same].RoleWord : "");
    }
  }
  EndReport(state);
}

bool KeyRefused(const RunState& state) {
  return state.StructureKeyRefused || state.BasicKeyRefused || state.MessageKeyRefused;
}

void KeyErrorReport(RunState& state) {
  Console& con = *state.Con;
  con.Write("Schluesselfehler in ");
  const bool refused[] = {state.StructureKeyRefused, state.BasicKeyRefused,
                          state.MessageKeyRefused};
  for (KeyItem item : kKeyItems) {
    if (!refused[static_cast<int>(item)]) continue;
    con.Write(InfoOf(item).Name);
    con.WriteLineEnd();
  }
  EndReport(state);
}

void TextErrorReport(RunState& state) {
  Console& con = *state.Con;
  con.Write("Zeichenfehler in ");
  con.Write(TableOf(state)[kSourceRow].RoleWord);
  con.WriteLineEnd();
  EndReport(state);
}

// Ends a run that stopped at a report; the files that it created were gone
// before the report began (StartReport).
bool StopAfterReport(RunState& state, RunOutcome outcome) {
  CloseRunFiles(state);
  state.Outcome = outcome;
  return false;
}

// A run this large checks half its plain text, writes its files behind and
// makes its key characters ahead on a second thread, while it does the rest.
// (Its other reads stay here: handing them over costs more than they take.)
constexpr std::int64_t kSecondThreadFrom = 1 << 20;
// Memory that must be left over once the thread has what it needs: more
// than whatever the run takes after this point on one thread (its notes,
// the diagnostics of a stop), so that a run that fits on one thread fits
// with the second too.
constexpr std::size_t kSpareMemory = std::size_t{1} << 20;

// QUARVEL_THREADS=1 holds every run to one thread.
bool HeldToOneThread() {
  const char* threads = std::getenv("QUARVEL_THREADS");
  return threads != nullptr && std::string_view(threads) == "1";
}

// Whether kSpareMemory could be had now; it is given back at once.
bool MemoryToSpare() {
  void* probe =
      ::mmap(nullptr, kSpareMemory, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (probe == MAP_FAILED) return false;
  ::munmap(probe, kSpareMemory);
  return true;
}

// Calls `take`; memory that it cannot have fails it (false) instead of
// ending the process as it does everywhere else. Only while the run has one
// thread: the handler is the process's own.
template <typename Take>
bool TakeSoftly(Take take) {
  std::new_handler stop = std::set_new_handler(nullptr);
  bool had = true;
  try {
    had = take();
  } catch (const std::bad_alloc&) {
    had = false;
  }
  std::set_new_handler(stop);
  return had;
}

// The one place that decides whether the run has a second thread: a large
// regular source, two processors or more, no QUARVEL_THREADS=1, and memory
// for all that the thread needs. Everything it needs is taken here, at
// once, and handed to what uses it; without any of it the run goes on with
// one thread.
void UseSecondThread(RunState& state) {
  const ByteFile& source = state.SourceFile;
  if (HeldToOneThread() || !source.IsRegular() || source.ReadLimit() < kSecondThreadFrom) return;
  const FileTableRow* table = TableOf(state);
  std::unique_ptr<BackgroundThread> thread;
  std::unique_ptr<std::uint8_t[]> spares[kMaxFileRows];
  bool had = TakeSoftly([&] {
    thread = std::make_unique<BackgroundThread>();
    for (int i = 0; i < state.FileCount(); ++i) {
      if ((state.*(table[i].File)).CanWriteBehind())
        spares[i].reset(new std::uint8_t[ByteFile::kCapacity]);
    }
    if (state.Mode == 'C') state.CheckBuffer.reset(new std::uint8_t[ByteFile::kCapacity]);
    MakeKeysAhead(state.Block, *thread, *state.KernelTable);
    return MemoryToSpare() && thread->Start();
  });
  if (!had) {
    // Nothing has been given to the thread yet.
    state.Block.Ahead.reset();
    state.CheckBuffer.reset();
    return;
  }
  for (int i = 0; i < state.FileCount(); ++i) {
    if (spares[i]) (state.*(table[i].File)).WriteBehindOn(*thread, std::move(spares[i]));
  }
  state.SecondThread = std::move(thread);
}

// Opens the files, reads the key and, in mode C, checks the plain text.
// Returns true when the run may go on to write; otherwise the report has been
// given and the files are closed.
bool PrepareRun(RunState& state) {
  if (!OpenRunFiles(state)) {
    StartReport(state);
    FileErrorReport(state);
    return StopAfterReport(state, RunOutcome::FileError);
  }
  ReadKeyFile(state);
  NoteKey(state);
  if (KeyRefused(state)) {
    StartReport(state);
    KeyErrorReport(state);
    return StopAfterReport(state, RunOutcome::KeyRefused);
  }
  UseSecondThread(state);
  // A plain text is enciphered only when every byte after its header has a
  // teleprinter code (or is below 32).
  if (state.Mode == 'C') {
    bool coded = CheckPlainText(state);
    NotePlainText(state);
    if (!coded) {
      StartReport(state);
      TextErrorReport(state);
      return StopAfterReport(state, RunOutcome::TextRefused);
    }
  }
  // Only now, with every file open, the key accepted and the text checked,
  // are the files that the run writes emptied: each loses its old bytes as
  // its first new ones go out, so that an interrupted run leaves a prefix of
  // what it writes and nothing after it.
  const FileTableRow* table = TableOf(state);
  for (int i = 0; i < state.FileCount(); ++i) {
    if (table[i].Written) (state.*(table[i].File)).EmptyIfRegular();
  }
  // Nothing is on the console yet: the notes come before the text.
  WriteNotes(state);
  return true;
}

void LoadKey(RunState& state) {
  ExpandKeys(state.BasicKeyBits, state.MessageKeyBits, state.BasicKey, state.MessageKey);
  LoadRegisters(state.Registers, state.BasicKeyBits, state.MessageKeyBits);
  BuildStructureMatrix(state.KeyMatrix, state.StructureKeyText, state.BasicKeyBits,
                       state.MessageKeyBits);
  WarmUp(state);
}

}  // namespace

void EncipherRun(RunState& state) {
  if (!PrepareRun(state)) return;
  CopyHeader(state, state.TextPosition);
  LoadKey(state);
  state.GroupCharCount = 0;
  state.GroupsInLine = kGroupsInLineAtStart;
  EncipherText(state);
  PadLastGroup(state);
  CloseRunFiles(state);
  state.Outcome = RunOutcome::Done;
}

void DecipherRun(RunState& state) {
  if (!PrepareRun(state)) return;
  CopyHeader(state, state.TextPosition);
  state.TextLimit = FindTextLimit(state, state.TextPosition);
  state.SourceFile.Seek(state.TextPosition);
  LoadKey(state);
  state.DecipherDone = false;
  state.LettersShift = true;
  DecipherText(state);
  // The additive series of this run replaces the old one whole.
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.CutHere();
  // The note takes memory, and memory that runs out ends the process at once:
  // everything written goes out first.
  state.Con->FlushAll();
  NoteDecipherStop(state);
  CloseRunFiles(state);
  WriteNotes(state);
  state.Outcome = RunOutcome::Done;
}

}  // namespace quarvel
