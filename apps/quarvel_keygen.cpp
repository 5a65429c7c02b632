// quarvel_keygen: a new key file, or a fresh message header, from the
// operating system's random source; and the check value of a key file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <system_error>

#include "companions/cli.h"
#include "companions/key_check.h"
#include "companions/key_material.h"

namespace {

using namespace quarvel::companions;
using quarvel::WriteAll;

constexpr std::string_view kProgram = "quarvel_keygen";

constexpr std::string_view kHelp =
    "Usage: quarvel_keygen KEYFILE\n"
    "       quarvel_keygen --check KEYFILE\n"
    "       quarvel_keygen --header\n"
    "Make a new key file and print its check value, print the check value of a\n"
    "key file, or write a fresh message header to standard output.\n"
    "\n"
    "  KEYFILE    the new key file: a random structure key and basic key in the\n"
    "             layout the programs read; created with mode 0600, never\n"
    "             overwritten, and read back to check that the key is accepted;\n"
    "             its check value (such as \"K7QM 2XD9\") is printed on a line\n"
    "  --check    print the check value of an existing key file (\"-\": standard\n"
    "             input); a key file the programs refuse is exit status 1, with\n"
    "             the reason\n"
    "  --header   \"HHHHH\", a blank, ten groups of three equal random capitals\n"
    "             separated by blanks, and a blank, to stand before the text\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Partners who hold the same key see the same check value: compare it by\n"
    "telephone before the first message.\n"
    "\n"
    "Exit status: 0 done, 1 failure (for instance the key file exists, or the key\n"
    "is refused), 2 wrong call.\n";

// Draws a key that the programs' key reader accepts; this many draws at most.
constexpr int kMaxDraws = 20;

int WriteHeader() {
  RandomBytes random;
  return WriteStandardOutput(kProgram, MakeMessageHeader(random)) ? kExitSuccess : kExitFailure;
}

// Each line of a reason as a message of its own.
void ComplainLines(std::string_view lines) {
  while (!lines.empty()) {
    std::size_t end = lines.find('\n');
    Complain(kProgram, lines.substr(0, end));
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
  }
}

// The check value on a line of its own.
int PrintCheckValue(const std::string& structureKey, const std::string& basicKey) {
  std::string value;
  try {
    value = KeyCheckValue(structureKey, basicKey);
  } catch (const std::exception& error) {
    Complain(kProgram, error.what());
    return kExitFailure;
  }
  return WriteStandardOutput(kProgram, value + "\n") ? kExitSuccess : kExitFailure;
}

int CheckExistingKey(const std::string& name) {
  KeyFileKey key = ReadKeyOfFile(name);
  if (!key.Accepted) {
    ComplainLines(key.Reason);
    return kExitFailure;
  }
  return PrintCheckValue(key.StructureKey, key.BasicKey);
}

// Puts the whole text at the start of the file and cuts it there.
bool Rewrite(int fd, const std::string& text) {
  if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) return false;
  return WriteAll(fd, text) && ::fsync(fd) == 0;
}

int MakeKeyFile(const std::string& name) {
  // O_EXCL: an existing file (or a link of that name) is never touched.
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    Complain(kProgram, name + ": " + std::strerror(errno));
    return kExitFailure;
  }
  std::string failure;
  // The mode does not depend on the umask: the key is the owner's alone.
  if (::fchmod(fd, 0600) != 0) failure = name + ": " + std::strerror(errno);
  RandomBytes random;
  bool accepted = false;
  std::string refusal, checkValue;
  for (int draw = 0; failure.empty() && !accepted && draw < kMaxDraws; ++draw) {
    try {
      KeyParts key = DrawKeyParts(random);
      if (!Rewrite(fd, KeyFileText(key))) {
        failure = name + ": " + std::strerror(errno);
        break;
      }
      KeyCheck check =
          CheckKeyFile(name, MakeMessageHeader(random), key.StructureKey, key.BasicKey);
      accepted = check.Accepted;
      refusal = check.Reason;
      checkValue = check.CheckValue;
      // Only a refused key is drawn again; a check that could not be made
      // would fail the same way every time.
      if (!accepted && !check.Refused) {
        failure = check.Reason;
        break;
      }
    } catch (const std::system_error& error) {
      failure = std::string("random source: ") + error.what();
      break;
    } catch (const std::exception& error) {
      failure = error.what();
      break;
    }
  }
  if (!accepted && failure.empty()) failure = refusal;
  if (::close(fd) != 0 && failure.empty()) failure = name + ": " + std::strerror(errno);
  if (!accepted || !failure.empty()) {
    // The file is ours: a key that failed is not left behind.
    ::unlink(name.c_str());
    ComplainLines(failure);
    return kExitFailure;
  }
  return WriteStandardOutput(kProgram, checkValue + "\n") ? kExitSuccess : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr KnownOption kOptions[] = {{"header", false}, {"check", false}};
  CommandLine line = ParseCommandLine(argc, argv, kOptions);
  if (std::optional<int> status = HandleCommonOptions(kProgram, line, kHelp)) return *status;
  bool header = FindOption(line, "header") != nullptr;
  bool check = FindOption(line, "check") != nullptr;
  if (header && check) return WrongCall(kProgram, "--header and --check exclude each other");
  if (header) {
    if (!line.Operands.empty()) return WrongCall(kProgram, "--header takes no file name");
    return WriteHeader();
  }
  if (line.Operands.size() != 1) {
    return WrongCall(kProgram, line.Operands.empty() ? "missing key file name"
                                                     : "only one key file name is taken");
  }
  const std::string& name = line.Operands[0];
  if (check) return CheckExistingKey(name);
  if (name == "-") return WrongCall(kProgram, "the key file must be a file, not '-'");
  return MakeKeyFile(name);
}
