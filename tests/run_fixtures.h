// Shared helpers of the tests that run the programs as processes with the
// example key: the teleprinter tables written out for the tests, and a way to
// choose cipher letters and get the plain text that enciphers into them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/process_runner.h"

namespace quarvel::testing {

// The message header used with the example key: the marker, ten groups of
// three equal letters, and the blank after the last of them.
inline const std::string kKeyLetters = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP";
inline const std::string kHeader = kKeyLetters + " ";

inline constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr std::uint8_t kLetterCodes[26] = {24, 19, 14, 18, 16, 22, 11, 5,  12,
                                                  26, 30, 9,  7,  6,  3,  13, 29, 10,
                                                  20, 1,  28, 15, 25, 23, 21, 17};
inline constexpr char kFigures[] = "-?:@3@@@8@().,9014\"57=2/6+";
inline constexpr char kControlChars[] = "|< *#%";
inline constexpr std::uint8_t kControlCodes[6] = {0, 2, 4, 8, 27, 31};

inline std::uint8_t CodeOfLetter(char letter) {
  return kLetterCodes[letter - 'A'];
}

// The code of a plain-text byte (letters of either case, figures, control
// characters, bytes below 32), or -1 for a byte outside the tables.
inline int CodeOf(unsigned char byte) {
  if (byte >= 'a' && byte <= 'z') byte = static_cast<unsigned char>(byte - 'a' + 'A');
  for (int p = 0; p < 26; ++p) {
    if (byte == static_cast<unsigned char>(kLetters[p]) ||
        byte == static_cast<unsigned char>(kFigures[p])) {
      return kLetterCodes[p];
    }
  }
  for (int p = 0; p < 6; ++p) {
    if (byte == static_cast<unsigned char>(kControlChars[p])) return kControlCodes[p];
  }
  return byte < 32 ? byte : -1;
}

// The plain-text character of a code: its letter, or its control character.
inline char CharOfCode(std::uint8_t code) {
  for (int p = 0; p < 26; ++p) {
    if (kLetterCodes[p] == code) return kLetters[p];
  }
  for (int p = 0; p < 6; ++p) {
    if (kControlCodes[p] == code) return kControlChars[p];
  }
  ADD_FAILURE() << "no character for code " << int(code);
  return '?';
}

// quarvel_keys when `keys` is set, else quarvel.
inline std::string ProgramPath(bool keys) {
  return keys ? QuarvelKeysPath() : QuarvelPath();
}

// Runs a program in `dir` with `input` on standard input: by default one line
// for its final wait.
inline ProcessResult RunIn(const TempDir& dir, const std::string& program,
                           const std::vector<std::string>& args, const std::string& input = "\n") {
  ProcessOptions options;
  options.Stdin = input;
  options.WorkDir = dir.Path();
  return RunProcess(program, args, options);
}

// Runs quarvel_keys when `keys` is set, else quarvel.
inline ProcessResult RunIn(const TempDir& dir, bool keys, const std::vector<std::string>& args) {
  return RunIn(dir, ProgramPath(keys), args);
}

// A program name as a bare string literal would choose the overload above.
ProcessResult RunIn(const TempDir& dir, const char* program, const std::vector<std::string>& args,
                    const std::string& input = "\n") = delete;

// The arguments of a run in `mode` with the given key, source and target
// files: the target comes before the source when enciphering, after it when
// deciphering; quarvel_keys also gets "add.bin" and "all.bin".
inline std::vector<std::string> RunArgs(bool keys, char mode, const std::string& key,
                                        const std::string& source, const std::string& target) {
  std::vector<std::string> args = {std::string(1, mode), "id", key};
  if (mode == 'C') {
    args.insert(args.end(), {target, source});
  } else {
    args.insert(args.end(), {source, target});
  }
  if (keys) args.insert(args.end(), {"add.bin", "all.bin"});
  return args;
}

// What a program writes on standard error: each line after its name.
inline std::string Diagnostics(bool keys, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += (keys ? "quarvel_keys: " : "quarvel: ") + line + "\n";
  return text;
}

// The text of the example key file.
inline std::string ExampleKeyText() {
  return ReadFile(SourceDir() + "/examples/key.txt");
}

// The example key file with the first `find` replaced by `replace`.
inline std::string ExampleKeyWith(const std::string& find, const std::string& replace) {
  std::string key = ExampleKeyText();
  std::size_t at = key.find(find);
  EXPECT_NE(at, std::string::npos) << find;
  if (at != std::string::npos) key.replace(at, find.size(), replace);
  return key;
}

inline void PutExampleKey(const TempDir& dir) {
  WriteFile(dir.File("key.txt"), ExampleKeyText());
}

// The key characters of a run with the example key and kHeader, at least
// `count` of them, as quarvel_keys writes them to its all-additive file. They
// do not depend on the text.
inline std::string KeyStream(const TempDir& dir, std::size_t count) {
  PutExampleKey(dir);
  WriteFile(dir.File("stream.txt"), kHeader + std::string(count, 'A'));
  ProcessResult r =
      RunIn(dir, QuarvelKeysPath(),
            {"C", "stream", "key.txt", "stream.cip", "stream.txt", "stream.add", "stream.all"});
  EXPECT_EQ(r.ExitStatus, 0) << r.Out;
  std::string keys = ReadFile(dir.File("stream.all"));
  EXPECT_GE(keys.size(), count);
  return keys;
}

// The plain text that enciphers into the given cipher letters, in which "Y"
// and the letter after it stand for one character: each plain code is the
// cipher code XOR the key character of its place, and a pair uses up one more
// key character. A byte that is not a capital stands for itself, a byte
// outside the tables, and uses up one key character.
inline std::string PlainFor(const std::string& cipher, const std::string& keys) {
  std::string plain;
  std::size_t k = 0;
  for (std::size_t i = 0; i < cipher.size(); ++i) {
    if (cipher[i] < 'A' || cipher[i] > 'Z') {
      plain += cipher[i];
      ++k;
      continue;
    }
    std::uint8_t code = CodeOfLetter(cipher[i]);
    bool pair = cipher[i] == 'Y';
    if (pair) code = CodeOfLetter(cipher.at(++i)) ^ 1;
    plain += CharOfCode(code ^ static_cast<std::uint8_t>(keys.at(k)));
    k += pair ? 2 : 1;
  }
  return plain;
}

}  // namespace quarvel::testing
