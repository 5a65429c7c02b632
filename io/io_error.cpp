#include "io/io_error.h"

#include <cstdio>

namespace quarvel {

void ThrowIoError(int code, IoOp op, std::string_view file) {
  IoError error{code, op};
  // The name only serves the diagnostics: without memory for it the error
  // is thrown all the same.
  try {
    error.File.assign(file);
  } catch (...) {
  }
  throw error;
}

std::size_t FormatRuntimeErrorLine(const IoError& error, char (&line)[kRuntimeErrorLineSize]) {
  int length = std::snprintf(line, sizeof line, "Runtime error%4d at %08X\r\n", error.Code,
                             static_cast<unsigned>(error.Op));
  return length < 0 ? 0 : static_cast<std::size_t>(length);
}

std::string RuntimeErrorLine(const IoError& error) {
  char line[kRuntimeErrorLineSize];
  return std::string(line, FormatRuntimeErrorLine(error, line));
}

}  // namespace quarvel
