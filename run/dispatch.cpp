#include "run/dispatch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "coding/kernels.h"
#include "io/io_error.h"
#include "io/retry.h"
#include "run/diagnostics.h"
#include "run/runs.h"
#include "state/run_state.h"

namespace quarvel {

int Dispatch(char mode, const RunParameters& params, Program program, Console& console) {
  // Default-initialised: every member has its initialiser, and the key
  // block's large arrays are left as they are, to be written before they are
  // read; a short run touches only the pages it uses of them.
  auto state = std::make_unique_for_overwrite<RunState>();
  state->Params = params;
  state->Mode = mode;
  state->StepsPerChar = 5;
  state->Variant = program;
  state->Con = &console;
  state->KernelTable = &KernelsFor(RunIsa());
  NoteIsaRequest(*state);
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
    case RunOutcome::TextRefused:
      return kExitTextRefused;
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

// The run-time error line, on standard error when standard output fails.
void WriteErrorLine(const IoError& error) {
  char line[kRuntimeErrorLineSize];
  std::size_t length = FormatRuntimeErrorLine(error, line);
  if (!WriteAll(1, {line, length})) WriteAll(2, {line, length});
}

// The I/O error stop: what the run had written goes out as far as it can,
// then the report line.
int ErrorStop(Console& console, const IoError& error) {
  console.FlushBestEffort();
  WriteErrorLine(error);
  return error.Code;
}

// Memory that cannot be had is the run-time error stop with the platform's
// code for it. It ends the process at once: an exception would itself need
// memory. Nothing is lost by not unwinding: a run takes all its memory
// before it writes to its files (file buffers are taken at their opens), and
// the console's output has gone out at every wait before that.
// The line on standard error is put together from constant pieces, which
// takes no memory either.
template <Program program>
[[noreturn]] void StopForLackOfMemory() {
  WriteErrorLine(IoError{ENOMEM, IoOp::Allocate});
  WriteAll(2, ProgramName(program));
  WriteAll(2, ": allocating memory: ");
  WriteAll(2, std::strerror(ENOMEM));
  WriteAll(2, "\n");
  ::_exit(ENOMEM);
}

}  // namespace

int ProgramMain(int argc, const char* const* argv, Program program) {
  HoldClosedStandardStreams();
  std::set_new_handler(program == Program::QuarvelKeys ? StopForLackOfMemory<Program::QuarvelKeys>
                                                       : StopForLackOfMemory<Program::Quarvel>);
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
    int status = ErrorStop(console, error);
    WriteIoErrorDiagnostic(program, error, console.ErrFd());
    return status;
  }
}

}  // namespace quarvel
