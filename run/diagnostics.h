// Diagnostics on standard error: what went wrong, for people and for logs,
// after each report on the console and after the run-time error line; and
// notes and warnings about input that is taken as it stands. One cause per
// line, in English, after the program's name. Nothing here changes a byte
// that a run writes to its files or to standard output, or its exit status.
//
// The Note... operations gather lines in RunState::Notes; WriteNotes writes
// them out.
#pragma once

#include <string_view>

#include "state/run_parameters.h"

namespace quarvel {

struct RunState;
struct IoError;
class ByteFile;

// "quarvel" or "quarvel_keys".
const char* ProgramName(Program program);

// A file of the run that did not open: its role word, its name and the
// reason. `newFile`: the run creates it. `written`: the run writes it (else
// it only reads it). `sameAsRole`: for a written file that is another file
// of the run, that file's role word.
void NoteFileError(RunState& state, std::string_view role, const ByteFile& file, int code,
                   bool newFile, bool written, std::string_view sameAsRole);

// Each refused key part and why; then each key part that looks damaged but
// is taken as it stands: a 128th structure-key character that is no binary
// digit, a digit or letter right after the last character of a part, a
// keyword that occurs twice; in mode C, text before the marker, which the
// header copy takes along in the clear.
void NoteKey(RunState& state);

// Mode C, after the check of the plain text: the byte without a teleprinter
// code, with its place and a hint; or else, when the text holds line-feed,
// carriage-return or tab bytes, a note that they are enciphered as letters.
void NotePlainText(RunState& state);

// Mode D, after deciphering: when the text limit leaves more than the
// filling and separators unread, how many bytes were left out and why.
void NoteDecipherStop(RunState& state);

// When QUARVEL_ISA names no tier, or one this processor does not offer: the
// request and the tier that runs instead. The output is the same either way.
void NoteIsaRequest(RunState& state);

// Writes the gathered lines to standard error, after what the console holds
// has gone out, and forgets them.
void WriteNotes(RunState& state);

// The line after the run-time error line: the operation, the file and the
// system's reason.
void WriteIoErrorDiagnostic(Program program, const IoError& error, int errFd);

}  // namespace quarvel
