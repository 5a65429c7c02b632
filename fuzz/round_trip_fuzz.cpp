// Encipher then decipher: a fixed valid key and header, the input as the
// plain text after the header.
//
// Checked for every input: no crash, no read past the end; a text holding a
// byte of 32 or more outside the tables is refused (exit status 4, the
// report on the console, the target as it was); every other run ends with
// exit status 0 and leaves its source and the key file as they were; the
// console shows exactly what each target got; both programs encipher alike;
// the additive series of the encipher run holds one key character per plain
// byte.
//
// For a text made only of table characters (letters of either case, the
// figure characters, "|", "<", " ", "*", "#", "%") also: the cipher text is
// capitals in groups of five, four groups on the first line, ten on the
// others, a filled last group without anything after it; deciphering gives
// the text back as the teleprinter prints it (capitals, figures between "#"
// and "%", CR LF for "*", nothing for "<", "#", "%"); and the decipher run
// makes the same key characters as the encipher run.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "run/dispatch.h"

namespace quarvel::fuzz {
namespace {

// The two rows of the teleprinter: the letter and the figure printed for
// the same code.
constexpr std::string_view kLetterRow = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kFigureRow = "-?:@3@@@8@().,9014\"57=2/6+";
constexpr std::string_view kControls = "|< *#%";

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsTableChar(char c) {
  c = Upper(c);
  return kLetterRow.find(c) != std::string_view::npos ||
         kFigureRow.find(c) != std::string_view::npos ||
         kControls.find(c) != std::string_view::npos;
}

// What the decipher run gives back for a text of table characters.
std::string PrintedText(std::string_view text) {
  std::string out;
  bool letters = true;
  for (char raw : text) {
    char c = Upper(raw);
    switch (c) {
      case '#':
        letters = false;
        break;
      case '%':
        letters = true;
        break;
      case '<':
        break;
      case '*':
        out += "\r\n";
        break;
      case '|':
      case ' ':
        out += c;
        break;
      default: {
        std::size_t p = kLetterRow.find(c);
        if (p == std::string_view::npos) p = kFigureRow.find(c);  // the first "@" is D
        out += letters ? kLetterRow[p] : kFigureRow[p];
        break;
      }
    }
  }
  return out;
}

// The grouped layout of an enciphered text of table characters; returns the
// number of letters.
std::size_t CheckLayout(std::string_view body) {
  std::size_t i = 0;
  int group = 0;
  while (i < body.size()) {
    Check(i + 5 <= body.size(), "whole groups of five", std::string(body));
    for (std::size_t k = i; k < i + 5; ++k) {
      Check(body[k] >= 'A' && body[k] <= 'Z', "cipher letters are capitals", std::string(body));
    }
    i += 5;
    ++group;
    if (i == body.size()) {
      // A filled group ends the text; a complete one has its separator.
      Check(body[i - 1] == 'Y', "an incomplete last group is filled with Y", std::string(body));
      break;
    }
    bool lineEnd = group == 4 || (group > 4 && (group - 4) % 10 == 0);
    std::string_view separator = lineEnd ? "\r\n" : " ";
    Check(body.substr(i, separator.size()) == separator, "group separator", std::string(body));
    i += separator.size();
  }
  return 5 * static_cast<std::size_t>(group);
}

struct Files {
  std::string Key = ScratchFile("key.txt");
  std::string Plain = ScratchFile("plain.txt");
  std::string Cipher = ScratchFile("cipher.txt");
  std::string Back = ScratchFile("back.txt");
  std::string Additive = ScratchFile("additive.bin");
  std::string AllAdditive = ScratchFile("all.bin");
};

struct Outcome {
  std::string Target;
  std::string Additive;
  std::string AllAdditive;
};

// True when every byte has a code: a table character, or a byte below 32.
bool Coded(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 32 && !IsTableChar(c)) return false;
  }
  return true;
}

// Runs one program; false when the run ended otherwise than with its target
// written (an I/O error stop, or a refused text).
bool Run(char mode, Program program, const Files& files, Outcome& outcome) {
  RunParameters params;
  params.Identifier = "fuzz";
  params.KeyFileName = files.Key;
  params.PlainTextName = mode == 'C' ? files.Plain : files.Back;
  params.CipherTextName = files.Cipher;
  if (program == Program::QuarvelKeys) {
    params.AdditiveSeriesName = files.Additive;
    params.AllAdditiveName = files.AllAdditive;
  }
  const std::string& sourceName = mode == 'C' ? params.PlainTextName : params.CipherTextName;
  const std::string& targetName = mode == 'C' ? params.CipherTextName : params.PlainTextName;
  const std::string source = ReadBytes(sourceName);
  const std::string oldTarget = ReadBytes(targetName);
  const bool refused = mode == 'C' && !Coded(std::string_view(source).substr(kHeader.size()));

  RecordedConsole console;
  int status = -1;
  try {
    status = Dispatch(mode, params, program, console.Get());
  } catch (const IoError& error) {
    CheckIoError(error, mode == 'C' ? "encipher run" : "decipher run");
    return false;
  }
  Check(ReadBytes(files.Key) == kKeyFile, "key file unchanged");
  Check(ReadBytes(sourceName) == source, "source unchanged");
  if (refused) {
    Check(status == kExitTextRefused, "a text without codes is refused", std::to_string(status));
    Check(console.Output() == "Zeichenfehler in Quelldatei\r\n....weiter mit Taste",
          "the report of a refused text");
    Check(ReadBytes(targetName) == oldTarget, "a refused text leaves the target as it was");
    return false;
  }
  Check(status == kExitDone, "run ends with exit status 0", std::to_string(status));
  outcome.Target = ReadBytes(targetName);
  Check(console.Output() == outcome.Target, "console echo equals the target");
  if (program == Program::QuarvelKeys) {
    outcome.Additive = ReadBytes(files.Additive);
    outcome.AllAdditive = ReadBytes(files.AllAdditive);
  }
  return true;
}

void RunOne(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const Files files;
  WriteBytes(files.Key, kKeyFile);
  WriteBytes(files.Plain, std::string(kHeader) + body);
  // The decipher run of quarvel_keys needs the additive series to exist.
  WriteBytes(files.Additive, "");

  Outcome plainRun, keysRun, back;
  if (!Run('C', Program::Quarvel, files, plainRun)) return;
  if (!Run('C', Program::QuarvelKeys, files, keysRun)) return;
  Check(keysRun.Target == plainRun.Target, "both programs encipher alike");
  Check(keysRun.Additive.size() == body.size(), "one key character per plain byte");
  Check(keysRun.AllAdditive.size() >= keysRun.Additive.size(), "all-additive holds every one");
  for (char c : keysRun.AllAdditive) {
    Check(static_cast<std::uint8_t>(c) < 32, "key characters are 5-bit codes");
  }
  Check(keysRun.Target.compare(0, kHeader.size(), kHeader) == 0, "cipher text starts with header");

  if (!Run('D', Program::QuarvelKeys, files, back)) return;

  for (char c : body) {
    if (!IsTableChar(c)) return;
  }
  std::size_t letters = CheckLayout(std::string_view(keysRun.Target).substr(kHeader.size()));
  Check(letters >= body.size() && letters <= 2 * body.size() + 4, "letters per plain character");
  const std::string expected = std::string(kHeader) + PrintedText(body);
  Check(back.Target == expected, "round trip gives the text back",
        "expected:\n" + expected + "\ngot:\n" + back.Target);
  Check(back.Additive == keysRun.Additive, "decipher makes the encipher's additive series");
  Check(back.AllAdditive == keysRun.AllAdditive, "decipher makes the same key characters");
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarvel::fuzz::RunOne(data, size);
  return 0;
}
