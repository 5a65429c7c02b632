// quarvel_text: ordinary text into the teleprinter notation of a message
// (encode), a deciphered message back into ordinary text (decode), and a
// cipher text damaged in the mail back into its layout (regroup).
#include <string>
#include <system_error>
#include <vector>

#include "companions/cli.h"
#include "companions/key_material.h"
#include "companions/regroup.h"
#include "companions/text_notation.h"

namespace {

using namespace quarvel::companions;

constexpr std::string_view kProgram = "quarvel_text";

constexpr std::string_view kHelp =
    "Usage: quarvel_text encode [--translit] [--replace C] [--from latin1] [--header]\n"
    "                           [FILE...]\n"
    "       quarvel_text decode [--keep-header] [FILE...]\n"
    "       quarvel_text regroup [FILE...]\n"
    "Turn text into the teleprinter notation of a message, a deciphered message back\n"
    "into text, or a cipher text damaged in the mail back into its layout. Reads the\n"
    "FILEs one after the other, or standard input when there is none or for '-', and\n"
    "writes to standard output.\n"
    "\n"
    "encode  UTF-8 text to the notation: letters in capitals, umlauts and sharp s\n"
    "        as AE, OE, UE, SS, figures and signs between '#' and '%' with as few\n"
    "        shifts as the text allows, line ends (LF or CR LF) as '<*', tabs as\n"
    "        blanks. Characters without a teleprinter form are listed on standard\n"
    "        error (file, line, column, the character), nothing written, exit 1.\n"
    "  --translit   write such characters as a telegram would (quotes as '\"', dashes\n"
    "               as '-', '!' as '.', EUR, UND, PROZENT, accented letters as their\n"
    "               base letter...; the table is in the manual page)\n"
    "  --replace C  write C (a letter, figure, sign, blank or '|') in place of such\n"
    "               characters (after --translit), and count them on standard error\n"
    "  --from latin1  read ISO 8859-1 text instead of UTF-8\n"
    "  --header     write a fresh random message header before the text\n"
    "decode  a deciphered text to ordinary text: CR LF to LF, and the message header\n"
    "        (from the start through the byte after the last message-key letter)\n"
    "        dropped\n"
    "  --keep-header  keep the header\n"
    "regroup a cipher text re-wrapped, lower-cased or quoted in the mail, in the\n"
    "        layout quarvel writes: the header from HHHHH, then the letters in groups\n"
    "        of five; every letter kept as it came, up to a greeting or signature\n"
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

// Lists the problems of a refused text: the first of them one to a line,
// then how many more, then what to do.
void ListProblems(const EncodeState& state) {
  bool translit = false, other = false;
  for (const EncodeProblem& problem : state.Problems) {
    Complain(kProgram, DisplayName(problem.Input) + ":" + std::to_string(problem.Line) + ":" +
                           std::to_string(problem.Column) + ": " + DescribeProblem(problem));
    if (!problem.Valid) continue;
    (TransliterationOf(problem.CodePoint) ? translit : other) = true;
  }
  const auto listed = static_cast<std::int64_t>(state.Problems.size());
  if (state.ProblemCount > listed) {
    Complain(kProgram, "and " + std::to_string(state.ProblemCount - listed) +
                           " more characters without a teleprinter form (" +
                           std::to_string(state.ProblemCount) + " in all)");
  }
  if (translit) {
    Complain(kProgram,
             "nothing written; --translit writes characters such as these as a telegram would"
             " (the table is in the manual page)" +
                 std::string(other ? ", and --replace C puts C in place of the others" : ""));
  } else if (other) {
    Complain(kProgram, "nothing written; --replace C puts C in place of such characters");
  } else {
    Complain(kProgram, "nothing written");
  }
}

int Encode(const CommandLine& line) {
  EncodeOptions options;
  options.Transliterate = FindOption(line, "translit") != nullptr;
  if (const ParsedOption* replace = FindOption(line, "replace")) {
    if (replace->Value.size() != 1 || !IsReplacementChar(replace->Value[0])) {
      return WrongCall(kProgram, "--replace needs one letter, figure, sign, blank or '|', not '" +
                                     replace->Value + "'");
    }
    options.Replacement = replace->Value[0];
  }
  bool latin1 = false;
  if (const ParsedOption* from = FindOption(line, "from")) {
    if (from->Value == "latin1" || from->Value == "latin-1" || from->Value == "iso-8859-1") {
      latin1 = true;
    } else if (from->Value != "utf8" && from->Value != "utf-8") {
      return WrongCall(kProgram, "--from takes latin1 or utf-8, not '" + from->Value + "'");
    }
  }
  EncodeState state;
  std::string out;
  if (FindOption(line, "header")) {
    try {
      RandomBytes random;
      out = MakeMessageHeader(random);
    } catch (const std::system_error& error) {
      Complain(kProgram, std::string("random source: ") + error.what());
      return kExitFailure;
    }
  }
  bool read = ForEachInput(line, [&](const std::string& name, const std::string& text) {
    state.Input = name;
    EncodeText(latin1 ? Latin1ToUtf8(text) : text, options, state, out);
    return true;
  });
  if (!read) return kExitFailure;
  if (state.ProblemCount > 0) {
    ListProblems(state);
    return kExitFailure;
  }
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

int Regroup(const CommandLine& line) {
  std::string text;
  std::vector<std::string> names;
  bool read = ForEachInput(line, [&](const std::string& name, const std::string& input) {
    text += input;
    names.push_back(name);
    return true;
  });
  if (!read) return kExitFailure;
  const std::string source = names.size() == 1 ? DisplayName(names[0]) : "the input";
  RegroupResult result = quarvel::companions::Regroup(text);
  if (!result.HeaderFound) {
    Complain(kProgram, source + ": " + result.Problem + "; nothing written");
    return kExitFailure;
  }
  if (!WriteStandardOutput(kProgram, result.Text)) return kExitFailure;
  if (result.DroppedBefore > 0) {
    Complain(kProgram, source + ": the " + std::to_string(result.DroppedBefore) +
                           " bytes before the header (HHHHH) were dropped");
  }
  if (result.LinesLeftOut > 0) {
    Complain(kProgram,
             source + ": the cipher letters end before line " + std::to_string(result.EndLine) +
                 "; " + std::to_string(result.LinesLeftOut) +
                 (result.LinesLeftOut == 1 ? " line" : " lines") +
                 " of text from there on were left out, the first '" + result.EndText + "'");
  }
  const std::int64_t groups = result.Letters / 5, over = result.Letters % 5;
  std::string summary = "kept " + std::to_string(result.Letters) + " cipher letters in " +
                        std::to_string(groups) + (groups == 1 ? " group" : " groups");
  if (over == 0) {
    summary += result.Letters > 0 ? "; the last group is whole" : "";
  } else {
    summary += " and " + std::to_string(over) +
               " letters: the last group is not whole (the cipher text may be cut off)";
  }
  Complain(kProgram, source + ": " + summary);
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr KnownOption kOptions[] = {{"replace", true},
                                      {"keep-header", false},
                                      {"translit", false},
                                      {"from", true},
                                      {"header", false}};
  CommandLine line = ParseCommandLine(argc, argv, kOptions);
  if (std::optional<int> status = HandleCommonOptions(kProgram, line, kHelp)) return *status;
  if (line.Operands.empty()) {
    return WrongCall(kProgram, "missing command: encode, decode or regroup");
  }
  const std::string& command = line.Operands[0];
  if (command != "decode" && FindOption(line, "keep-header")) {
    return WrongCall(kProgram, "--keep-header is for decode");
  }
  if (command != "encode") {
    for (const char* option : {"replace", "translit", "from", "header"}) {
      if (FindOption(line, option)) {
        return WrongCall(kProgram, "--" + std::string(option) + " is for encode");
      }
    }
  }
  if (command == "encode") return Encode(line);
  if (command == "decode") return Decode(line);
  if (command == "regroup") return Regroup(line);
  return WrongCall(kProgram, "unknown command '" + command + "': encode, decode or regroup");
}
