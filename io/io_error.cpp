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

std::string RuntimeErrorLine(const IoError& error) {
  char line[64];
  std::snprintf(line, sizeof line, "Runtime error%4d at %08X\r\n", error.Code,
                static_cast<unsigned>(error.Op));
  return line;
}

}  // namespace quarvel
