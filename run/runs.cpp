#include "run/runs.h"

#include <cerrno>
#include <string>

#include "alphabet/teleprinter.h"
#include "coding/decipher.h"
#include "coding/encipher.h"
#include "coding/key_chars.h"
#include "generator/key_loading.h"
#include "keyfile/key_file.h"
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
    {&RunState::SourceFile, &RunParameters::PlainTextName, false, false, "Quelldatei"},
    {&RunState::TargetFile, &RunParameters::CipherTextName, true, true, "Zieldatei"},
    {&RunState::KeyFile, &RunParameters::KeyFileName, false, false, "Schluesseldatei"},
    {&RunState::AdditiveSeriesFile, &RunParameters::AdditiveSeriesName, true, true,
     "Additionsreihe - Datei"},
    {&RunState::AllAdditiveFile, &RunParameters::AllAdditiveName, true, true,
     "Alle Additionsdatei"},
};

// The decipher run exchanges source and target names, and needs the
// additive-series file to exist: it overwrites it from its start.
constexpr FileTableRow kDecipherTable[kMaxFileRows] = {
    {&RunState::SourceFile, &RunParameters::CipherTextName, false, false, "Quelldatei"},
    {&RunState::TargetFile, &RunParameters::PlainTextName, true, true, "Zieldatei"},
    {&RunState::KeyFile, &RunParameters::KeyFileName, false, false, "Schluesseldatei"},
    {&RunState::AdditiveSeriesFile, &RunParameters::AdditiveSeriesName, false, true,
     "Additionsreihe - Datei"},
    {&RunState::AllAdditiveFile, &RunParameters::AllAdditiveName, true, true,
     "Alle Additionsdatei"},
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

bool WholeFiles(const RunState& state) {
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
  if (WholeFiles(state)) {
    EncipherBulk(state);
  } else {
    while (!state.SourceFile.AtEnd()) EncipherStep(state);
  }
}

void DecipherText(RunState& state) {
  if (WholeFiles(state)) {
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
    state.OpenResult[i] = table[i].NewFile ? file.OpenNew() : file.OpenExisting();
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
        allOpen = false;
      }
    }
  }
  return allOpen;
}

void FileErrorReport(RunState& state) {
  const FileTableRow* table = TableOf(state);
  Console& con = *state.Con;
  con.Write("Dateifehler in ");
  for (int i = 0; i < state.FileCount(); ++i) {
    if (state.OpenResult[i] != 0) {
      con.Write(table[i].RoleWord);
      con.WriteLineEnd();
    }
  }
  con.Write(ContinuePrompt(state));
  state.ConsoleAnswer = static_cast<char>(con.ReadChar());
}

bool KeyRefused(const RunState& state) {
  return state.StructureKeyRefused || state.BasicKeyRefused || state.MessageKeyRefused;
}

void KeyErrorReport(RunState& state) {
  Console& con = *state.Con;
  con.Write("Schluesselfehler in ");
  if (state.StructureKeyRefused) {
    con.Write("Strukturschluessel");
    con.WriteLineEnd();
  }
  if (state.BasicKeyRefused) {
    con.Write("Grundschluessel");
    con.WriteLineEnd();
  }
  if (state.MessageKeyRefused) {
    con.Write("Spruchschluessel");
    con.WriteLineEnd();
  }
  con.Write(ContinuePrompt(state));
  state.ConsoleAnswer = static_cast<char>(con.ReadChar());
}

// Opens the files and reads the key. Returns true when the run may go on to
// write; otherwise the report has been given and the files are closed.
bool PrepareRun(RunState& state) {
  if (!OpenRunFiles(state)) {
    FileErrorReport(state);
    CloseRunFiles(state);
    state.Outcome = RunOutcome::FileError;
    return false;
  }
  ReadKeyFile(state);
  if (KeyRefused(state)) {
    KeyErrorReport(state);
    CloseRunFiles(state);
    state.Outcome = RunOutcome::KeyRefused;
    return false;
  }
  // Only now, with every file open and the key accepted, are the files that
  // the run creates emptied.
  const FileTableRow* table = TableOf(state);
  for (int i = 0; i < state.FileCount(); ++i) {
    if (table[i].NewFile) (state.*(table[i].File)).EmptyIfRegular();
  }
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
  state.GroupsInLine = kFirstLineGroupCount;
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
  CloseRunFiles(state);
  state.Outcome = RunOutcome::Done;
}

}  // namespace quarvel
