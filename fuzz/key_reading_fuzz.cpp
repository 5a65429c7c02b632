// Key reading on arbitrary bytes: the key file and the source header.
//
// Input: byte 0 holds flags (bit 0: mode D, so the source is the cipher-text
// file; bit 1: key file and source are one file), bytes 1 and 2 the length of
// the key file (little-endian, cut to what there is), then the key file, then
// the source.
//
// Checked: no crash, no read past the end; the files are left as they were;
// no report on the console (every file opens); the reader on the same bytes
// held in memory finds the same; each accepted part is well formed; an accepted key loads a matrix
// of odd weight inside the window, and its block key stream equals the step-by-step one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "coding/kernels.h"
#include "coding/key_chars.h"
#include "fuzz/fuzz_support.h"
#include "generator/key_loading.h"
#include "generator/key_stream.h"
#include "keyfile/key_file.h"
#include "run/key_reading.h"
#include "state/run_state.h"

namespace quarvel::fuzz {
namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::unique_ptr<RunState> MakeState(char mode, const std::string& keyName,
                                    const std::string& sourceName, Console& console) {
  auto state = std::make_unique<RunState>();
  state->Mode = mode;
  state->StepsPerChar = 5;
  state->Con = &console;
  state->KernelTable = &KernelsFor(RunIsa());
  state->Params.KeyFileName = keyName;
  (mode == 'D' ? state->Params.CipherTextName : state->Params.PlainTextName) = sourceName;
  return state;
}

void LoadKey(RunState& state) {
  ExpandKeys(state.BasicKeyBits, state.MessageKeyBits, state.BasicKey, state.MessageKey);
  LoadRegisters(state.Registers, state.BasicKeyBits, state.MessageKeyBits);
  Check(BuildStructureMatrix(state.KeyMatrix, state.StructureKeyText, state.BasicKeyBits,
                             state.MessageKeyBits),
        "an accepted structure key reaches the weight window");
  WarmUp(state);
}

void CheckAcceptedKey(const RunState& read, Console& console) {
  Check(read.KeysValid, "an accepted key is valid");
  auto block = MakeState(read.Mode, "", "", console);
  auto stepwise = MakeState(read.Mode, "", "", console);
  for (RunState* s : {block.get(), stepwise.get()}) {
    s->StructureKeyText = read.StructureKeyText;
    s->BasicKey = read.BasicKey;
    s->MessageKey = read.MessageKey;
    LoadKey(*s);
  }
  int weight = 0;
  for (std::uint8_t bit : block->KeyMatrix) {
    Check(bit <= 1, "matrix entries are bits");
    weight += bit;
  }
  Check(weight % 2 == 1 && weight >= kMinMatrixWeight && weight <= kMaxMatrixWeight,
        "matrix weight odd and inside the window", std::to_string(weight));
  // Past the first block of the block generator.
  constexpr int kChars = KeyBlock::kChars + 50;
  for (int i = 0; i < kChars; ++i) {
    std::uint8_t a = 0, b = 0;
    NextKeyChar(*block, a);
    b = StepwiseKeyChar(stepwise->Registers, stepwise->StepParity, stepwise->KeyMatrix, 5);
    Check(a < 32, "key characters are 5-bit codes");
    Check(a == b, "block key stream equals the step-by-step one", std::to_string(i));
  }
}

void RunOne(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  const char mode = (data[0] & 1) ? 'D' : 'C';
  const bool oneFile = (data[0] & 2) != 0;
  std::size_t keyLength = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
  std::string_view key(reinterpret_cast<const char*>(data) + 3, keyLength);
  std::string_view source(reinterpret_cast<const char*>(data) + 3 + keyLength,
                          size - 3 - keyLength);

  const std::string keyName = ScratchFile("key.txt");
  const std::string sourceName = oneFile ? keyName : ScratchFile("source.txt");
  std::string keyBytes(key);
  std::string sourceBytes(source);
  if (oneFile) {
    keyBytes += sourceBytes;
    sourceBytes = keyBytes;
  }
  WriteBytes(keyName, keyBytes);
  if (!oneFile) WriteBytes(sourceName, sourceBytes);

  RecordedConsole console;
  auto state = MakeState(mode, keyName, sourceName, console.Get());
  try {
    ReadKeyFile(*state);
  } catch (const IoError& error) {
    CheckIoError(error, "ReadKeyFile");
    return;
  }

  Check(ReadBytes(keyName) == keyBytes, "key file unchanged");
  Check(ReadBytes(sourceName) == sourceBytes, "source unchanged");
  Check(console.Output().empty(), "no console report when every file opens", console.Output());

  const KeyReading memory = ReadKeyBytes(keyBytes, keyName, sourceBytes, sourceName);
  Check(memory.StructureKeyText == state->StructureKeyText, "same structure key in memory");
  Check(memory.BasicKey == state->BasicKey, "same basic key in memory", memory.BasicKey);
  Check(memory.MessageKey == state->MessageKey, "same message key in memory", memory.MessageKey);
  Check(memory.StructureKeyRefused == state->StructureKeyRefused &&
            memory.BasicKeyRefused == state->BasicKeyRefused &&
            memory.MessageKeyRefused == state->MessageKeyRefused,
        "same verdicts in memory");
  Check((memory.TextPosition < 0 ? 0 : memory.TextPosition) == state->TextPosition,
        "same header end in memory", std::to_string(memory.TextPosition));

  if (!state->StructureKeyRefused) {
    Check(keyBytes.find(kStructureKeyword) != std::string::npos, "structure keyword present");
    for (int i = 0; i + 1 < kStructureKeyLength; ++i) {
      char c = state->StructureKeyText[i];
      Check(c == '0' || c == '1', "structure key digits", std::to_string(i));
    }
  }
  if (!state->BasicKeyRefused) {
    Check(keyBytes.find(kBasicKeyword) != std::string::npos, "basic keyword present");
    Check(state->BasicKey.size() == kBasicKeyLength, "basic key length");
    for (char c : state->BasicKey) Check(IsAsciiLetter(c), "basic key letters", state->BasicKey);
  }
  if (!state->MessageKeyRefused) {
    std::size_t marker = sourceBytes.find(kMessageKeyMarker);
    Check(marker != std::string::npos, "message key marker present");
    Check(state->MessageKey.size() == kMessageKeyGroups, "message key length");
    for (char c : state->MessageKey) {
      Check(IsAsciiLetter(c), "message key letters", state->MessageKey);
    }
    // The marker, then at least 30 bytes, all inside the source.
    Check(state->TextPosition >= static_cast<std::int64_t>(marker + 5 + 30) &&
              state->TextPosition <= static_cast<std::int64_t>(sourceBytes.size()),
          "header end inside the source", std::to_string(state->TextPosition));
  }
  if (!state->StructureKeyRefused && !state->BasicKeyRefused && !state->MessageKeyRefused) {
    CheckAcceptedKey(*state, console.Get());
  }
}

}  // namespace
}  // namespace quarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarvel::fuzz::RunOne(data, size);
  return 0;
}
