// What the companion programs share as ordinary command-line tools: the
// exit statuses, the option parsing (--help, --version, "--"), messages on
// standard error prefixed with the program's name, and whole-file reading
// and writing.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/retry.h"

namespace quarvel::companions {

inline constexpr std::string_view kVersion = "1.0";

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// One long option of a program ("--replace").
struct KnownOption {
  std::string_view Name;
  bool TakesValue = false;
};

struct ParsedOption {
  std::string Name;
  std::string Value;
};

struct CommandLine {
  std::vector<ParsedOption> Options;
  std::vector<std::string> Operands;
  bool Help = false;
  bool Version = false;
  std::string Error;  // not empty: the call is wrong
};

// Takes argv apart. "--help" and "--version" are known to every program;
// "--name value" and "--name=value" give a value; "--" ends the options; "-"
// alone is an operand (standard input).
CommandLine ParseCommandLine(int argc, const char* const* argv, std::span<const KnownOption> known);

// The value of the last occurrence of an option, or nullptr.
const ParsedOption* FindOption(const CommandLine& line, std::string_view name);

// "program: message" and a line end on standard error.
void Complain(std::string_view program, std::string_view message);

// A wrong call: the complaint, a pointer to --help, and the usage status.
int WrongCall(std::string_view program, std::string_view message);

// The common start of every program: a wrong call ends it with the usage
// status, --help with the help text and --version with the version line
// ("program (quarvel) 1.0"); the status is returned. Otherwise nothing.
std::optional<int> HandleCommonOptions(std::string_view program, const CommandLine& line,
                                       std::string_view help);

// Writes to standard output; on failure complains and returns false.
bool WriteStandardOutput(std::string_view program, std::string_view bytes);

// Reads a whole file, or standard input for "-". On failure returns false
// and puts "name: reason" into `error`.
bool ReadWholeFile(const std::string& name, std::string& bytes, std::string& error);

// How a file operand is named in messages.
std::string DisplayName(const std::string& name);

}  // namespace quarvel::companions
