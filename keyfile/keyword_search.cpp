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

}  // namespace

std::int64_t FindKeyword(std::string_view keyword, ByteFile& handle, std::string_view fileName,
                         RunState& state) {
  handle.Bind(fileName, *state.Con);
  if (handle.OpenExisting() != 0) {
    ReportOpenFailure(state);
    return 0;
  }
  std::int64_t result = 0;
  if (!keyword.empty() && !handle.AtEnd()) {
    std::int64_t count = 0;
    std::size_t matched = 0;
    for (;;) {
      std::uint8_t byte = handle.ReadByte();
      ++count;
      if (byte == static_cast<std::uint8_t>(keyword[matched])) {
        ++matched;
      } else {
        matched = 0;
      }
      if (handle.AtEnd()) break;
      if (matched == keyword.size()) {
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
  int code = handle.OpenExisting();
  if (code != 0) ThrowIoError(code, IoOp::Open);
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
