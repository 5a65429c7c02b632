#include "companions/key_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "companions/cli.h"
#include "io/console.h"
#include "io/io_error.h"
#include "keyfile/key_file.h"
#include "state/run_state.h"

namespace quarvel::companions {

namespace {

// A file descriptor that closes itself.
struct OwnedFd {
  int Fd = -1;
  explicit OwnedFd(int fd) : Fd(fd) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  ~OwnedFd() {
    if (Fd >= 0) ::close(Fd);
  }
};

// A temporary file that removes itself.
struct TempFile {
  std::string Path;
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!Path.empty()) ::unlink(Path.c_str());
  }
};

bool WriteTempFile(TempFile& file, const std::string& bytes, std::string& error) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/quarvel_keygen.XXXXXX";
  OwnedFd fd(::mkstemp(pattern.data()));
  if (fd.Fd < 0) {
    error =
        "temporary file in " + pattern.substr(0, pattern.rfind('/')) + ": " + std::strerror(errno);
    return false;
  }
  file.Path = pattern;
  if (!WriteAll(fd.Fd, bytes)) {
    error = file.Path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

KeyCheck CheckKeyFile(const std::string& keyFileName, const std::string& header,
                      const std::string& structureKey, const std::string& basicKey) {
  KeyCheck check;
  TempFile source;
  if (!WriteTempFile(source, header, check.Reason)) return check;

  // The reader reports a file that no longer opens on the console and reads
  // an answer: here both go to /dev/null.
  OwnedFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (null.Fd < 0) {
    check.Reason = std::string("/dev/null: ") + std::strerror(errno);
    return check;
  }
  Console console(null.Fd, null.Fd);
  auto state = std::make_unique<RunState>();
  state->Mode = 'C';
  state->StepsPerChar = 5;
  state->Con = &console;
  state->Params.KeyFileName = keyFileName;
  state->Params.PlainTextName = source.Path;
  try {
    ReadKeyFile(*state);
  } catch (const IoError& error) {
    check.Reason = "reading the key back failed: " + RuntimeErrorLine(error);
    while (!check.Reason.empty() && (check.Reason.back() == '\n' || check.Reason.back() == '\r')) {
      check.Reason.pop_back();
    }
    return check;
  }
  check.Refused = state->StructureKeyRefused || state->BasicKeyRefused || state->MessageKeyRefused;
  if (state->StructureKeyRefused) {
    check.Reason = "the key reader refuses the structure key";
  } else if (state->BasicKeyRefused) {
    check.Reason = "the key reader refuses the basic key";
  } else if (state->MessageKeyRefused) {
    check.Reason = "the key reader refuses the message key";
  } else if (std::string(state->StructureKeyText.begin(), state->StructureKeyText.end()) !=
                 structureKey ||
             state->BasicKey != basicKey) {
    check.Reason = "the key reader reads another key than the one written";
  } else {
    check.Accepted = true;
  }
  return check;
}

}  // namespace quarvel::companions
