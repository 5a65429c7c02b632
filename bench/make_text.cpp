// Makes the deterministic input of the end-to-end benchmark:
//
//   quarvel_bench_text SIZE PLAIN EXPECTED KEY
//
// PLAIN: a plain text of exactly SIZE bytes (at least 64): the header "HHHHH "
// with ten groups of three equal letters and a space, then words of letters
// and spaces, "|" blanks, "<*" and "*" line ends, and figures between "#" and
// "%". EXPECTED: what deciphering its cipher text gives back: the header, then
// the text with every "*" written as CR LF and every "<", "#" and "%" dropped.
// KEY: a key file for it. The same SIZE always gives the same files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    // splitmix64
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t state_;
};

constexpr char kFigures[] = "-?:@38().,9014\"57=2/6+";

// Writes to both outputs through one buffer each.
class Writer {
 public:
  Writer(std::FILE* plain, std::FILE* expected) : plain_(plain), expected_(expected) {}
  void Plain(char c) {
    std::fputc(c, plain_);
    ++written_;
    switch (c) {
      case '*':
        std::fputc('\r', expected_);
        std::fputc('\n', expected_);
        break;
      case '<':
      case '#':
      case '%':
        break;
      default:
        std::fputc(c, expected_);
        break;
    }
  }
  void Plain(const std::string& text) {
    for (char c : text) Plain(c);
  }
  long long Written() const { return written_; }

 private:
  std::FILE* plain_;
  std::FILE* expected_;
  long long written_ = 0;
};

// One token of text: never leaves the figures shift in force.
std::string Token(Random& random) {
  std::string token;
  token.reserve(16);
  int kind = random.Below(100);
  if (kind < 70) {
    int length = 2 + random.Below(8);
    for (int i = 0; i < length; ++i) token.push_back(static_cast<char>('A' + random.Below(26)));
    token.push_back(' ');
  } else if (kind < 78) {
    if (random.Below(2)) token.push_back('<');
    token.push_back('*');
  } else if (kind < 94) {
    token.push_back('#');
    int length = 1 + random.Below(6);
    for (int i = 0; i < length; ++i) token.push_back(kFigures[random.Below(sizeof kFigures - 1)]);
    token.push_back('%');
    token.push_back(' ');
  } else {
    token.push_back(random.Below(2) ? '|' : 'Y');
  }
  return token;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s SIZE PLAIN EXPECTED KEY\n", argv[0]);
    return 2;
  }
  long long size = std::atoll(argv[1]);
  if (size < 64) {
    std::fprintf(stderr, "SIZE must be at least 64\n");
    return 2;
  }
  std::FILE* plain = std::fopen(argv[2], "wb");
  std::FILE* expected = std::fopen(argv[3], "wb");
  std::FILE* key = std::fopen(argv[4], "wb");
  if (plain == nullptr || expected == nullptr || key == nullptr) {
    std::perror("open");
    return 1;
  }
  static char plainBuffer[1 << 16], expectedBuffer[1 << 16];
  std::setvbuf(plain, plainBuffer, _IOFBF, sizeof plainBuffer);
  std::setvbuf(expected, expectedBuffer, _IOFBF, sizeof expectedBuffer);

  Random random(static_cast<std::uint64_t>(size) * 2654435761u + 17);
  Writer out(plain, expected);
  out.Plain("HHHHH ");
  for (int i = 0; i < 10; ++i) {
    char letter = static_cast<char>('A' + random.Below(26));
    for (int k = 0; k < 3; ++k) out.Plain(letter);
    out.Plain(' ');
  }
  for (;;) {
    std::string token = Token(random);
    if (out.Written() + static_cast<long long>(token.size()) > size) break;
    out.Plain(token);
  }
  while (out.Written() < size) out.Plain(static_cast<char>('A' + random.Below(26)));

  std::fputs("Schluessel des Durchsatzversuchs\r\nSTRUKTURSCHLUESSEL\r\n", key);
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 16; ++column) std::fputc('0' + random.Below(2), key);
    std::fputs("\r\n", key);
  }
  std::fputs("GRUNDSCHLUESSEL ", key);
  for (int i = 0; i < 10; ++i) std::fputc('A' + random.Below(26), key);
  std::fputs("\r\n", key);

  bool ok = std::fclose(plain) == 0;
  ok = std::fclose(expected) == 0 && ok;
  ok = std::fclose(key) == 0 && ok;
  if (!ok) {
    std::perror("write");
    return 1;
  }
  return 0;
}
