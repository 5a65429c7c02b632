// New key material from the operating system's random source: the text of a
// key file and a message header. Letters are drawn without bias: a random
// byte that would favour some letters is thrown away and another drawn.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quarvel::companions {

// Fills the span with random bytes; throws std::system_error on failure.
using FillFunction = std::function<void(std::span<std::uint8_t>)>;

// The operating system's random source (getrandom).
void FillFromSystem(std::span<std::uint8_t> out);

// Random bytes taken one at a time from a fill function, in batches.
class RandomBytes {
 public:
  explicit RandomBytes(FillFunction fill = FillFromSystem) : fill_(std::move(fill)) {}
  std::uint8_t Next();

 private:
  FillFunction fill_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t pos_ = buffer_.size();
};

// A value from 0 to n - 1 (n from 1 to 256), each equally likely: bytes at
// or above the largest multiple of n are drawn again.
int UniformBelow(int n, RandomBytes& random);

// A random capital "A" to "Z".
char RandomCapital(RandomBytes& random);

// The two key parts of a key file.
struct KeyParts {
  std::string StructureKey;  // 128 binary digits
  std::string BasicKey;      // 10 capitals
};

// 128 random binary digits and 10 random capitals.
KeyParts DrawKeyParts(RandomBytes& random);

// The key file: "STRUKTURSCHLUESSEL", the structure key in eight lines of 16
// digits, "GRUNDSCHLUESSEL", a blank and the basic key; every line ends with
// CR LF.
std::string KeyFileText(const KeyParts& key);

// A message header: "HHHHH", a blank, ten groups of three equal random
// capitals separated by blanks, and a blank.
std::string MakeMessageHeader(RandomBytes& random);

}  // namespace quarvel::companions
