// The decipher run on arbitrary cipher text: a fixed valid key and header,
// the input as the text after the header.
//
// Both programs decipher the same text. Checked: no crash, no read past the
// end; the run ends with exit status 0; the source and key file are left as
// they were; the target, which held stale bytes before, is the header and
// then only teleprinter characters and CR LF pairs, never a shift, carriage-
// return or line-feed character; the console shows exactly what the target
// got; both programs write the same target; the additive series of
// quarvel_keys, which held stale bytes before, is cut to the key characters
// of this run, one per plain character, and every key character is also in
// the all-additive file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "run/dispatch.h"

namespace quarvel::fuzz {
namespace {

bool IsPlainOutput(std::uint8_t c) {
  static const std::string kAllowed = "ABCDEFGHIJKLMNOPQRSTUVWXYZ-?:@38(),.9014\"57=2/6+| ";
  return kAllowed.find(static_cast<char>(c)) != std::string::npos;
}

// Plain characters in a deciphered body; CR LF counts as one (the line feed).
std::size_t CountPlainChars(const std::string& body) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    std::uint8_t c = static_cast<std::uint8_t>(body[i]);
    if (c == '\r') {
      Check(i + 1 < body.size() && body[i + 1] == '\n', "CR only before LF");
      ++i;
    } else {
      Check(IsPlainOutput(c), "deciphered body holds teleprinter characters only",
            std::to_string(c));
    }
    ++count;
  }
  return count;
}

struct Outcome {
  std::string Target;
  std::string Additive;
  std::string AllAdditive;
};

bool Decipher(Program program, const std::string& cipher, Outcome& outcome) {
  const std::string keyName = ScratchFile("key.txt");
  const std::string cipherName = ScratchFile("cipher.txt");
  const std::string plainName = ScratchFile("plain.txt");
  const std::string additiveName = ScratchFile("additive.bin");
  const std::string allName = ScratchFile("all.bin");
  // Longer than anything the run writes.
  const std::string stale(2 * cipher.size() + 16, '\xEE');
  WriteBytes(keyName, kKeyFile);
  WriteBytes(cipherName, cipher);
  WriteBytes(plainName, stale);
  WriteBytes(additiveName, stale);
  WriteBytes(allName, stale);

  RunParameters params;
  params.Identifier = "fuzz";
  params.KeyFileName = keyName;
  params.CipherTextName = cipherName;
  params.PlainTextName = plainName;
  if (program == Program::QuarvelKeys) {
    params.AdditiveSeriesName = additiveName;
    params.AllAdditiveName = allName;
  }
  RecordedConsole console;
  int status = -1;
  try {
    status = Dispatch('D', params, program, console.Get());
  } catch (const IoError& error) {
    CheckIoError(error, "decipher run");
    return false;
  }
  Check(status == kExitDone, "decipher run ends with exit status 0", std::to_string(status));
  Check(ReadBytes(keyName) == kKeyFile, "key file unchanged");
  Check(ReadBytes(cipherName) == cipher, "cipher text unchanged");
  outcome.Target = ReadBytes(plainName);
  Check(console.Output() == outcome.Target, "console echo equals the target");
  if (program == Program::QuarvelKeys) {
    outcome.Additive = ReadBytes(additiveName);
    outcome.AllAdditive = ReadBytes(allName);
  }
  return true;
}

void RunOne(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::string cipher = std::string(kHeader) + body;

  Outcome plain, keys;
  if (!Decipher(Program::Quarvel, cipher, plain)) return;
  if (!Decipher(Program::QuarvelKeys, cipher, keys)) return;

  Check(plain.Target.compare(0, kHeader.size(), kHeader) == 0, "target starts with the header");
  std::string out = plain.Target.substr(kHeader.size());
  std::size_t chars = CountPlainChars(out);
  Check(out.size() <= 2 * body.size(), "at most two bytes per cipher byte");
  Check(keys.Target == plain.Target, "both programs decipher alike");

  // One key character per cipher letter or pair; its plain character may be
  // a shift or carriage return that writes nothing.
  Check(keys.Additive.size() >= chars && keys.Additive.size() <= body.size(),
        "additive series cut to this run");
  Check(keys.AllAdditive.size() >= keys.Additive.size(), "all-additive holds every key character");
  for (char c : keys.AllAdditive) {
    Check(static_cast<std::uint8_t>(c) < 32, "all-additive file holds key characters only");
  }
  for (char c : keys.Additive) {
    Check(static_cast<std::uint8_t>(c) < 32, "additive series holds key characters only");
  }
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarvel::fuzz::RunOne(data, size);
  return 0;
}
