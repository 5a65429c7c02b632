// The run-time I/O check: every failed file or console operation that the
// program does not handle itself ends the process with one report line and
// the error code as exit status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel {

// Code of a read past the end of a file.
inline constexpr int kReadPastEnd = 100;
// Code of a source that changed during the run: the encipher loop met a byte
// without a teleprinter code, which the check of the text before had not
// found there. No error of the platform has this number.
inline constexpr int kSourceChanged = 41;

// The code address reported for a failed operation, one per kind of
// operation, so that the report tells which operation failed.
enum class IoOp : std::uint32_t {
  Open = 0x00010A14,
  Read = 0x00010B2C,
  Write = 0x00010C40,
  Seek = 0x00010D58,
  Position = 0x00010E6C,
  Close = 0x00010F80,
  Truncate = 0x00011094,
  ConsoleRead = 0x000111A8,
  ConsoleWrite = 0x000112BC,
  // Memory for the run's buffers or records could not be had (code ENOMEM).
  Allocate = 0x000113D0,
};

// Thrown by the file and console layer; caught by the entry point, after the
// files of the run have been flushed and closed by unwinding.
struct IoError {
  int Code;
  IoOp Op;
  // The name of the file, for the diagnostics; empty for the console.
  std::string File = {};
};

[[noreturn]] void ThrowIoError(int code, IoOp op, std::string_view file = {});

// Room for the line with any code.
inline constexpr std::size_t kRuntimeErrorLineSize = 48;

// "Runtime error 100 at 00010B2C" followed by CR LF, written into `line`
// without taking memory, since the stop must work when memory has run out.
// Returns its length.
std::size_t FormatRuntimeErrorLine(const IoError& error, char (&line)[kRuntimeErrorLineSize]);
std::string RuntimeErrorLine(const IoError& error);

}  // namespace quarvel
