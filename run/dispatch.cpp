#include "run/dispatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <memory>
#include <string>

#include "coding/kernels.h"
#include "io/io_error.h"
#include "run/runs.h"
#include "state/run_state.h"

namespace quarvel {

int Dispatch(char mode, const RunParameters& params, Program program, Console& console) {
  auto state = std::make_unique<RunState>();
  state->Params = params;
  state->Mode = mode;
  state->StepsPerChar = 5;
  state->Variant = program;
  state->Con = &console;
  state->KernelTable = &KernelsFor(RunIsa());
  switch (mode) {
    case 'C':
      EncipherRun(*state);
      break;
    case 'D':
      DecipherRun(*state);
      break;
    default:
      break;
  }
  switch (state->Outcome) {
    case RunOutcome::NoRun:
      return kExitUsage;
    case RunOutcome::Done:
      return kExitDone;
    case RunOutcome::FileError:
      return kExitFileError;
    case RunOutcome::KeyRefused:
      return kExitKeyRefused;
  }
  return kExitDone;
}

char ModeLetter(const char* parameter1) {
  if (parameter1 == nullptr || parameter1[0] == '\0') return 0;
  char c = parameter1[0];
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

RunParameters ParseParameters(int argc, const char* const* argv, Program program) {
  auto param = [&](int n) -> std::string { return n < argc && argv[n] ? argv[n] : ""; };
  RunParameters params;
  params.Identifier = param(2).substr(0, kIdentifierLength);
  params.PlainTextName = param(5);
  params.CipherTextName = param(4);
  params.KeyFileName = param(3);
  if (program == Program::QuarvelKeys) {
    params.AdditiveSeriesName = param(6);
    params.AllAdditiveName = param(7);
  }
  return params;
}

const char* UsageLine(Program program) {
  return program == Program::QuarvelKeys
             ? "Aufruf: quarvel_keys C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei "
               "Additionsreihe-Datei Alle-Additionsdatei"
             : "Aufruf: quarvel C|D Kennung Schluesseldatei Geheimtextdatei Klartextdatei";
}

namespace {

// A closed standard stream would let the first file opened take its place,
// and console output would then land in that file. Such a stream is held by
// /dev/null, opened the wrong way round, so that using it fails as a closed
// stream does.
void HoldClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
      if (held >= 0 && held != fd) {
        ::dup2(held, fd);
        ::close(held);
      }
    }
  }
}

bool TryWriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int ProgramMain(int argc, const char* const* argv, Program program) {
  HoldClosedStandardStreams();
  // A console whose reader has gone is an I/O error with its code, not a
  // silent end by signal.
  std::signal(SIGPIPE, SIG_IGN);
  // Likewise a file that reaches the size limit fails its write with a code.
  std::signal(SIGXFSZ, SIG_IGN);
  Console console;
  try {
    char mode = ModeLetter(argc > 1 ? argv[1] : nullptr);
    RunParameters params = ParseParameters(argc, argv, program);
    int status = Dispatch(mode, params, program, console);
    if (status == kExitUsage) {
      console.Write(UsageLine(program));
      console.WriteLineEnd();
    }
    console.WaitForLine();
    console.Flush();
    return status;
  } catch (const IoError& error) {
    console.FlushBestEffort();
    std::string line = RuntimeErrorLine(error);
    if (!TryWriteAll(1, line)) TryWriteAll(2, line);
    return error.Code;
  }
}

}  // namespace quarvel
