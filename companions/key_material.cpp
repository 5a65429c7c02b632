#include "companions/key_material.h"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

#include "io/retry.h"
#include "keyfile/key_file.h"

namespace quarvel::companions {

void FillFromSystem(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n =
        RetryOnInterrupt([&] { return ::getrandom(out.data() + done, out.size() - done, 0); });
    if (n < 0) {
      throw std::system_error(errno, std::generic_category(), "getrandom");
    }
    done += static_cast<std::size_t>(n);
  }
}

std::uint8_t RandomBytes::Next() {
  if (pos_ == buffer_.size()) {
    fill_(buffer_);
    pos_ = 0;
  }
  return buffer_[pos_++];
}

int UniformBelow(int n, RandomBytes& random) {
  const int limit = 256 - 256 % n;
  for (;;) {
    int byte = random.Next();
    if (byte < limit) return byte % n;
  }
}

char RandomCapital(RandomBytes& random) {
  return static_cast<char>('A' + UniformBelow(26, random));
}

KeyParts DrawKeyParts(RandomBytes& random) {
  KeyParts key;
  while (key.StructureKey.size() < static_cast<std::size_t>(kStructureKeyLength)) {
    std::uint8_t bits = random.Next();
    for (int b = 7; b >= 0; --b) key.StructureKey += static_cast<char>('0' + ((bits >> b) & 1));
  }
  for (int i = 0; i < kBasicKeyLength; ++i) key.BasicKey += RandomCapital(random);
  return key;
}

std::string KeyFileText(const KeyParts& key) {
  constexpr std::size_t kRowLength = 16;
  std::string text(kStructureKeyword);
  text += "\r\n";
  for (std::size_t row = 0; row < key.StructureKey.size(); row += kRowLength) {
    text.append(key.StructureKey, row, kRowLength);
    text += "\r\n";
  }
  text += kBasicKeyword;
  text += ' ';
  text += key.BasicKey;
  text += "\r\n";
  return text;
}

std::string MakeMessageHeader(RandomBytes& random) {
  std::string header(kMessageKeyMarker);
  for (int g = 0; g < kMessageKeyGroups; ++g) {
    header += ' ';
    header.append(3, RandomCapital(random));
  }
  header += ' ';
  return header;
}

}  // namespace quarvel::companions
