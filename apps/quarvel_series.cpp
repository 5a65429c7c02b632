// quarvel_series: shows key series files (one key character 0 to 31 per
// byte) with their statistics, and checks the relation between the additive
// series and the all-additive file of one run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "alphabet/teleprinter.h"
#include "companions/cli.h"
#include "companions/series_stats.h"

namespace {

using namespace quarvel::companions;

constexpr std::string_view kProgram = "quarvel_series";

constexpr std::string_view kHelp =
    "Usage: quarvel_series [--raw-codes] FILE...\n"
    "Show key series files, as quarvel_keys writes them (one key character, 0 to 31,\n"
    "per byte): the key characters, then for each file its length, the count of\n"
    "each value with a bar chart, the chi-square statistic against a uniform\n"
    "distribution with its p-value, and the serial correlation of neighbouring\n"
    "characters.\n"
    "\n"
    "Given two files, the additive series and the all-additive file of one run, it\n"
    "also checks that the first is the second without the key character taken\n"
    "after each two-letter pair, and says so.\n"
    "\n"
    "  --raw-codes  show the key characters as numbers instead of as the\n"
    "               characters of their codes\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "The characters of the codes are the letters, and for the six codes without a\n"
    "letter the characters of the notation: | < * # % and _ for the space.\n"
    "\n"
    "Exit status: 0 done, 1 failure (a file unreadable or not a key series, or two\n"
    "files that are not so related), 2 wrong call.\n";

constexpr int kDegrees = kKeyValues - 1;
// Below this length some expected count is under 5, where the chi-square
// approximation is rough.
constexpr std::size_t kRoughBelow = 5 * kKeyValues;
constexpr int kBarWidth = 50;

char ShownChar(std::uint8_t code) {
  char c = static_cast<char>(quarvel::LettersShiftChars[code]);
  return c == ' ' ? '_' : c;
}

std::string Format(const char* format, auto... values) {
  int length = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, values...);
  text.pop_back();
  return text;
}

// Groups of five, ten groups to a line; as numbers, five groups to a line.
std::string Listing(std::span<const std::uint8_t> series, bool raw) {
  const std::size_t groupsPerLine = raw ? 5 : 10;
  std::string out;
  for (std::size_t i = 0; i < series.size(); ++i) {
    if (i > 0) {
      if (i % (5 * groupsPerLine) == 0) {
        out += '\n';
      } else if (i % 5 == 0) {
        out += raw ? "  " : " ";
      } else if (raw) {
        out += ' ';
      }
    }
    if (raw) {
      out += Format("%2d", series[i]);
    } else {
      out += ShownChar(series[i]);
    }
  }
  if (!series.empty()) out += '\n';
  return out;
}

std::string Summary(std::span<const std::uint8_t> series) {
  std::string out = Format("length: %zu key characters\n", series.size());
  if (series.empty()) return out;
  ValueCounts counts = CountValues(series);
  std::int64_t most = *std::max_element(counts.begin(), counts.end());
  out += Format("counts (expected %.2f each):\n", static_cast<double>(series.size()) / kKeyValues);
  for (int value = 0; value < kKeyValues; ++value) {
    std::int64_t count = counts[value];
    int bar = static_cast<int>((count * kBarWidth + most / 2) / most);
    if (count > 0 && bar == 0) bar = 1;
    out += Format("  %2d %c %7lld  ", value, ShownChar(static_cast<std::uint8_t>(value)),
                  static_cast<long long>(count));
    out.append(static_cast<std::size_t>(bar), '#');
    out += '\n';
  }
  double chi = *ChiSquareUniform(counts);
  out += Format("chi-square: %.2f with %d degrees of freedom, p-value %.4f", chi, kDegrees,
                ChiSquarePValue(chi, kDegrees));
  out += '\n';
  if (series.size() < kRoughBelow) {
    out += "  (fewer than 5 expected per value: the p-value is only a rough guide)\n";
  }
  if (std::optional<double> r = SerialCorrelation(series)) {
    out += Format("serial correlation of neighbours: %.4f\n", *r);
  } else {
    out += "serial correlation of neighbours: not defined (too short, or constant)\n";
  }
  return out;
}

// The first byte that is no key character, or the size.
std::size_t FirstInvalid(std::span<const std::uint8_t> series) {
  auto it =
      std::find_if(series.begin(), series.end(), [](std::uint8_t b) { return b >= kKeyValues; });
  return static_cast<std::size_t>(it - series.begin());
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

int main(int argc, char** argv) {
  constexpr KnownOption kOptions[] = {{"raw-codes", false}};
  CommandLine line = ParseCommandLine(argc, argv, kOptions);
  if (std::optional<int> status = HandleCommonOptions(kProgram, line, kHelp)) return *status;
  if (line.Operands.empty()) return WrongCall(kProgram, "missing key series file");
  bool raw = FindOption(line, "raw-codes") != nullptr;

  int status = kExitSuccess;
  std::vector<std::string> contents(line.Operands.size());
  std::vector<bool> usable(line.Operands.size(), false);
  std::string out;
  for (std::size_t f = 0; f < line.Operands.size(); ++f) {
    const std::string& name = line.Operands[f];
    std::string error;
    if (!ReadWholeFile(name, contents[f], error)) {
      Complain(kProgram, error);
      status = kExitFailure;
      continue;
    }
    std::span<const std::uint8_t> series = Bytes(contents[f]);
    if (std::size_t bad = FirstInvalid(series); bad < series.size()) {
      Complain(kProgram, Format("%s: byte %zu is %d, not a key character (0 to 31)",
                                DisplayName(name).c_str(), bad + 1, series[bad]));
      status = kExitFailure;
      continue;
    }
    usable[f] = true;
    if (!out.empty()) out += '\n';
    out += DisplayName(name) + ":\n";
    out += Listing(series, raw);
    out += Summary(series);
  }
  if (line.Operands.size() == 2 && usable[0] && usable[1]) {
    std::string additive = DisplayName(line.Operands[0]);
    std::string all = DisplayName(line.Operands[1]);
    PairRelation relation = CheckPairRelation(Bytes(contents[0]), Bytes(contents[1]));
    out += '\n';
    if (relation.Holds) {
      out += Format("%s is %s without the key character taken after each of its %zu pairs.\n",
                    additive.c_str(), all.c_str(), relation.Pairs);
    } else if (relation.Matched == contents[0].size()) {
      out += Format(
          "%s is not %s without the key characters taken after pairs: %s has characters left "
          "over that no pair explains.\n",
          additive.c_str(), all.c_str(), all.c_str());
      status = kExitFailure;
    } else {
      out += Format(
          "%s is not %s without the key characters taken after pairs: only its first %zu of %zu "
          "key characters can be matched.\n",
          additive.c_str(), all.c_str(), relation.Matched, contents[0].size());
      status = kExitFailure;
    }
  }
  if (!WriteStandardOutput(kProgram, out)) return kExitFailure;
  return status;
}
