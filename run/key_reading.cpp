#include "run/key_reading.h"

#include "keyfile/key_file.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

void ReportOpenFailure(RunState& state) {
  Console& con = *state.Con;
  con.Write(" ERROR ");
  con.WriteLineEnd();
  con.Write(" Dateifehler ! ");
  state.ConsoleAnswer = static_cast<char>(con.ReadChar());
}

// Opens the file again for reading only. It is read no further than the
// run reads its own source and key file: what was added since the run opened
// them is not part of them. When the run holds the file of that name open
// for reading, its descriptor serves; the console's copy of standard input
// (the empty name) opens without any new descriptor anyway.
int OpenAgain(ByteFile& handle, const RunState& state) {
  int code = -1;
  for (const ByteFile* open : {&state.SourceFile, &state.KeyFile}) {
    if (code != 0 && !handle.Name().empty() && open->IsShareable() && open->Name() == handle.Name())
      code = handle.OpenToReadFrom(*open);
  }
  if (code != 0) code = handle.OpenToRead();
  if (code == 0) {
    handle.KeepWithinSizeOf(state.SourceFile);
    handle.KeepWithinSizeOf(state.KeyFile);
  }
  return code;
}

}  // namespace

void ReadKeyFile(RunState& state) {
  const std::string& sourceName =
      state.Mode == 'D' ? state.Params.CipherTextName : state.Params.PlainTextName;
  KeyReading reading;
  for (KeyItem item : kKeyItems) {
    ByteFile handle;
    handle.Bind(item == KeyItem::Message ? sourceName : state.Params.KeyFileName, *state.Con);
    const KeyPartFinding& finding = ReadKeyItem(
        reading, item, handle, [&state](ByteFile& file) { return OpenAgain(file, state); });
    if (finding.Fault == KeyFault::NotReopened) ReportOpenFailure(state);
  }
  JudgeKey(reading);
  StoreKeyReading(state, reading);
}

}  // namespace quarvel
