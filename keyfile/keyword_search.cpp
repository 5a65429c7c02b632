#include "keyfile/keyword_search.h"

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

std::int64_t FindKeyword(std::string_view keyword, ByteFile& handle, std::string_view fileName,
                         RunState& state) {
  handle.Bind(fileName, *state.Con);
  if (int code = OpenAgain(handle, state); code != 0) {
    state.KeyReopenError = code;
    ReportOpenFailure(state);
    return 0;
  }
  std::int64_t result = 0;
  if (!keyword.empty() && !handle.AtEnd()) {
    std::int64_t count = 0;
    KeywordMatcher matcher{keyword};
    for (;;) {
      bool complete = matcher.Step(handle.ReadByte());
      ++count;
      if (handle.AtEnd()) break;
      if (complete) {
        result = count + 1;
        break;
      }
    }
  }
  handle.Close();
  return result;
}

bool ReadFiltered(KeyPart& part, std::int64_t start, const CharSet& allowed, ByteFile& handle,
                  std::int32_t count, RunState& state) {
  int code = OpenAgain(handle, state);
  if (code != 0) ThrowIoError(code, IoOp::Open, handle.Name());
  handle.Seek(start);
  part.clear();
  bool complete = true;
  for (std::int32_t i = 1; i <= count && complete; ++i) {
    std::uint8_t byte = 0;
    do {
      if (handle.AtEnd()) {
        complete = false;
        break;
      }
      byte = handle.ReadByte();
    } while (!allowed.Contains(byte) && i != count);
    if (complete) part.push_back(static_cast<char>(byte));
  }
  state.TextPosition = handle.Position();
  handle.Close();
  return complete;
}

KeyPartStatus ReadKeyPart(KeyPart& part, std::string_view fileName, std::string_view keyword,
                          const CharSet& allowed, std::int32_t count, RunState& state) {
  ByteFile handle;
  std::int64_t start = FindKeyword(keyword, handle, fileName, state);
  if (start == 0) {
    part.assign(count > 0 ? static_cast<std::size_t>(count) : 0, ' ');
    return KeyPartStatus::Missing;
  }
  return ReadFiltered(part, start, allowed, handle, count, state) ? KeyPartStatus::Read
                                                                  : KeyPartStatus::Short;
}

}  // namespace quarvel
