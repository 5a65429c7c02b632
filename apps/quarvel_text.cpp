// quarvel_text: ordinary text into the teleprinter notation of a message
// (encode), and a deciphered message back into ordinary text (decode).
#include <string>
#include <vector>

#include "companions/cli.h"
#include "companions/text_notation.h"

namespace {

using namespace quarvel::companions;

constexpr std::string_view kProgram = "quarvel_text";

constexpr std::string_view kHelp =
    "Usage: quarvel_text encode [--replace C] [FILE...]\n"
    "       quarvel_text decode [--keep-header] [FILE...]\n"
    "Turn text into the teleprinter notation of a message, or a deciphered message\n"
    "back into text. Reads the FILEs one after the other, or standard input when\n"
    "there is none or for '-', and writes to standard output.\n"
    "\n"
    "encode  UTF-8 text to the notation: letters in capitals, umlauts and sharp s\n"
    "        as AE, OE, UE, SS, figures and signs between '#' and '%' with as few\n"
    "        shifts as the text allows, line ends (LF or CR LF) as '<*', tabs as\n"
    "        blanks. A character without a teleprinter form stops it: its file,\n"
    "        line, column and the character on standard error, nothing written,\n"
    "        exit 1.\n"
    "  --replace C  write C (a letter, figure, sign, blank or '|') in place of such\n"
    "               characters instead, and count them on standard error\n"
    "decode  a deciphered text to ordinary text: CR LF to LF, and the message header\n"
    "        (from the start through the byte after the last message-key letter)\n"
    "        dropped\n"
    "  --keep-header  keep the header\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 failure, 2 wrong call.\n";

std::vector<std::string> Inputs(const CommandLine& line) {
  std::vector<std::string> inputs(line.Operands.begin() + 1, line.Operands.end());
  if (inputs.empty()) inputs.emplace_back("-");
  return inputs;
}

// Reads each input in turn and hands it to `take`; stops at the first that
// cannot be read (with a complaint) or that `take` refuses.
template <typename Take>
bool ForEachInput(const CommandLine& line, Take take) {
  std::string text;
  std::string error;
  for (const std::string& name : Inputs(line)) {
    if (!ReadWholeFile(name, text, error)) {
      Complain(kProgram, error);
      return false;
    }
    if (!take(name, text)) return false;
  }
  return true;
}

int Encode(const CommandLine& line) {
  EncodeOptions options;
  if (const ParsedOption* replace = FindOption(line, "replace")) {
    if (replace->Value.size() != 1 || !IsReplacementChar(replace->Value[0])) {
      return WrongCall(kProgram, "--replace needs one letter, figure, sign, blank or '|', not '" +
                                     replace->Value + "'");
    }
    options.Replacement = replace->Value[0];
  }
  EncodeState state;
  std::string out;
  bool encoded = ForEachInput(line, [&](const std::string& name, const std::string& text) {
    EncodeProblem problem;
    if (EncodeText(text, options, state, out, problem)) return true;
    Complain(kProgram, DisplayName(name) + ":" + std::to_string(problem.Line) + ":" +
                           std::to_string(problem.Column) + ": " + DescribeProblem(problem));
    return false;
  });
  if (!encoded) return kExitFailure;
  FinishEncoding(state, out);
  if (!WriteStandardOutput(kProgram, out)) return kExitFailure;
  if (state.Replaced > 0) {
    Complain(kProgram, std::to_string(state.Replaced) +
                           (state.Replaced == 1 ? " character" : " characters") + " replaced by '" +
                           *options.Replacement + "'");
  }
  return kExitSuccess;
}

int Decode(const CommandLine& line) {
  bool keepHeader = FindOption(line, "keep-header") != nullptr;
  std::string out;
  bool decoded = ForEachInput(line, [&](const std::string& name, const std::string& text) {
    std::string_view body = text;
    if (!keepHeader) {
      std::optional<std::size_t> header = MessageHeaderLength(text);
      if (!header) {
        Complain(kProgram, DisplayName(name) +
                               ": no message header (HHHHH and 30 message-key letters); "
                               "use --keep-header to take the text as it is");
        return false;
      }
      body.remove_prefix(*header);
    }
    out += ToUnixLineEnds(body);
    return true;
  });
  if (!decoded) return kExitFailure;
  return WriteStandardOutput(kProgram, out) ? kExitSuccess : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr KnownOption kOptions[] = {{"replace", true}, {"keep-header", false}};
  CommandLine line = ParseCommandLine(argc, argv, kOptions);
  if (std::optional<int> status = HandleCommonOptions(kProgram, line, kHelp)) return *status;
  if (line.Operands.empty()) return WrongCall(kProgram, "missing command: encode or decode");
  const std::string& command = line.Operands[0];
  if (command == "encode") {
    if (FindOption(line, "keep-header")) return WrongCall(kProgram, "--keep-header is for decode");
    return Encode(line);
  }
  if (command == "decode") {
    if (FindOption(line, "replace")) return WrongCall(kProgram, "--replace is for encode");
    return Decode(line);
  }
  return WrongCall(kProgram, "unknown command '" + command + "': encode or decode");
}
