#include "companions/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/retry.h"

namespace quarvel::companions {

CommandLine ParseCommandLine(int argc, const char* const* argv,
                             std::span<const KnownOption> known) {
  CommandLine line;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      line.Operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help") {
      line.Help = true;
      continue;
    }
    if (arg == "--version") {
      line.Version = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view value;
    bool inlineValue = false;
    if (std::size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const KnownOption* rule = nullptr;
    for (const KnownOption& candidate : known) {
      if (name.size() > 2 && name.substr(2) == candidate.Name) rule = &candidate;
    }
    if (rule == nullptr) {
      if (line.Error.empty()) line.Error = "unknown option '" + std::string(arg) + "'";
      continue;
    }
    if (rule->TakesValue && !inlineValue) {
      if (i + 1 >= argc) {
        if (line.Error.empty()) line.Error = "option '" + std::string(name) + "' needs a value";
        continue;
      }
      value = argv[++i];
    } else if (!rule->TakesValue && inlineValue) {
      if (line.Error.empty()) line.Error = "option '" + std::string(name) + "' takes no value";
      continue;
    }
    line.Options.push_back({std::string(rule->Name), std::string(value)});
  }
  return line;
}

const ParsedOption* FindOption(const CommandLine& line, std::string_view name) {
  const ParsedOption* found = nullptr;
  for (const ParsedOption& option : line.Options) {
    if (option.Name == name) found = &option;
  }
  return found;
}

void Complain(std::string_view program, std::string_view message) {
  std::string line;
  line.append(program).append(": ").append(message).append("\n");
  WriteAll(2, line);
}

int WrongCall(std::string_view program, std::string_view message) {
  Complain(program, message);
  std::string hint = "Try '" + std::string(program) + " --help' for more information.\n";
  WriteAll(2, hint);
  return kExitUsage;
}

std::optional<int> HandleCommonOptions(std::string_view program, const CommandLine& line,
                                       std::string_view help) {
  if (!line.Error.empty()) return WrongCall(program, line.Error);
  std::string text;
  if (line.Help) {
    text = help;
  } else if (line.Version) {
    text = std::string(program) + " (quarvel) " + std::string(kVersion) + "\n";
  } else {
    return std::nullopt;
  }
  return WriteStandardOutput(program, text) ? kExitSuccess : kExitFailure;
}

bool WriteStandardOutput(std::string_view program, std::string_view bytes) {
  if (WriteAll(1, bytes)) return true;
  Complain(program, std::string("standard output: ") + std::strerror(errno));
  return false;
}

std::string DisplayName(const std::string& name) {
  return name == "-" ? "standard input" : name;
}

bool ReadWholeFile(const std::string& name, std::string& bytes, std::string& error) {
  bytes.clear();
  int fd = 0;
  if (name != "-") {
    fd = RetryOnInterrupt([&] { return ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY); });
    if (fd < 0) {
      error = DisplayName(name) + ": " + std::strerror(errno);
      return false;
    }
  }
  char buffer[1 << 16];
  bool ok = true;
  for (;;) {
    ssize_t n = RetryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n < 0) {
      error = DisplayName(name) + ": " + std::strerror(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  if (fd != 0) ::close(fd);
  return ok;
}

}  // namespace quarvel::companions
