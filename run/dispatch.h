// The entry point of both programs and the dispatch on the mode letter.
#pragma once

#include "io/console.h"
#include "state/run_parameters.h"

namespace quarvel {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFileError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitKeyRefused = 3;
inline constexpr int kExitTextRefused = 4;

// Creates the run state and performs the run that the mode letter names ("C"
// or "D"); any other letter starts nothing. Returns the exit status.
int Dispatch(char mode, const RunParameters& params, Program program, Console& console);

// The mode letter from parameter 1: its first character, "a" to "z" upper-
// cased; 0 when the parameter is empty.
char ModeLetter(const char* parameter1);

// The run parameters from the command line (argv[1] is parameter 1). A
// missing parameter reads as empty; quarvel reads parameters 2 to 5,
// quarvel_keys 2 to 7.
RunParameters ParseParameters(int argc, const char* const* argv, Program program);

// The usage line of each program.
const char* UsageLine(Program program);

// The whole program: command line, dispatch, final wait for a line, exit
// status. A run-time I/O error ends it with its report line and code.
int ProgramMain(int argc, const char* const* argv, Program program);

}  // namespace quarvel
