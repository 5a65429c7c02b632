// The plain-text check: the classes of every byte, each tier's search proven
// equal to the table at every place of a block, and quarvel and quarvel_keys
// run as processes on texts that hold a byte without a teleprinter code:
// exit status 4, the report, the place on standard error, nothing written.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "coding/encipher_tables.h"
#include "coding/kernels.h"
#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

TEST(PlainByteClasses, FollowTheTeleprinterTables) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    int code = CodeOf(static_cast<unsigned char>(b));
    bool line = b == '\n' || b == '\r' || b == '\t';
    EXPECT_EQ(PlainByteClasses[b], line ? kLineByte : code < 0 ? kUncodedByte : 0);
  }
  EXPECT_EQ(PlainByteClasses[static_cast<std::uint8_t>('|')], 0);
  EXPECT_EQ(PlainByteClasses[static_cast<std::uint8_t>('~')], kUncodedByte);
  EXPECT_EQ(PlainByteClasses[0x7F], kUncodedByte);
}

class FindByteClassIsa : public ::testing::TestWithParam<Isa> {};

TEST_P(FindByteClassIsa, FindsEveryByteAtEveryPlaceLikeTheTable) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  const Kernels& kernels = KernelsFor(GetParam());
  // Each byte value at each place of a run of plain letters that is longer
  // than one block, for each class looked for.
  constexpr std::size_t kSize = 64 * 2 + 17;
  for (std::uint8_t wanted : {kLineByte, kUncodedByte, std::uint8_t(kLineByte | kUncodedByte)}) {
    for (int b = 0; b < 256; ++b) {
      for (std::size_t at = 0; at < kSize; ++at) {
        std::vector<std::uint8_t> text(kSize, 'E');
        text[at] = static_cast<std::uint8_t>(b);
        std::size_t expected = (PlainByteClasses[b] & wanted) != 0 ? at : kSize;
        ASSERT_EQ(kernels.FindByteClass(text.data(), kSize, wanted), expected)
            << "byte " << b << " at " << at << " looking for " << int(wanted);
      }
    }
  }
}

TEST_P(FindByteClassIsa, GivesTheFirstOfSeveral) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  const Kernels& kernels = KernelsFor(GetParam());
  std::string text(200, 'A');
  text[150] = '!';
  text[70] = '\n';
  text[90] = '\xE4';
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  EXPECT_EQ(kernels.FindByteClass(data, text.size(), kLineByte | kUncodedByte), 70u);
  EXPECT_EQ(kernels.FindByteClass(data, text.size(), kUncodedByte), 90u);
  EXPECT_EQ(kernels.FindByteClass(data, 90, kUncodedByte), 90u);
}

INSTANTIATE_TEST_SUITE_P(AllIsas, FindByteClassIsa,
                         ::testing::Values(Isa::Portable, Isa::Avx2, Isa::Avx512),
                         [](const ::testing::TestParamInfo<Isa>& info) {
                           return std::string(IsaName(info.param));
                         });

const std::string kOldTarget = "yesterday's cipher text";
const std::string kReport = "Zeichenfehler in Quelldatei\r\n....weiter mit Taste";

TEST(TextRefusal, UmlautsInTheTextLeaveTheTargetsAsTheyWere) {
  // printf 'HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP Grüße\n'
  const std::string source = kKeyLetters + " Gr\xC3\xBC\xC3\x9F" + "e\n";
  for (bool keys : {false, true}) {
    SCOPED_TRACE(keys ? "quarvel_keys" : "quarvel");
    for (bool existing : {true, false}) {
      SCOPED_TRACE(existing ? "existing target" : "new target");
      TempDir dir;
      PutExampleKey(dir);
      WriteFile(dir.File("s.txt"), source);
      if (existing) {
        WriteFile(dir.File("out.cip"), kOldTarget);
        WriteFile(dir.File("add.bin"), "old series");
        WriteFile(dir.File("all.bin"), "old key characters");
      }
      ProcessResult r = RunIn(dir, keys, RunArgs(keys, 'C', "key.txt", "s.txt", "out.cip"));
      EXPECT_EQ(r.Out, kReport);
      EXPECT_EQ(r.ExitStatus, 4);
      EXPECT_EQ(ReadFile(dir.File("s.txt")), source);
      EXPECT_EQ(ReadFile(dir.File("out.cip")), existing ? kOldTarget : "");
      if (keys) {
        EXPECT_EQ(ReadFile(dir.File("add.bin")), existing ? "old series" : "");
        EXPECT_EQ(ReadFile(dir.File("all.bin")), existing ? "old key characters" : "");
      }
      const std::string program = keys ? "quarvel_keys: " : "quarvel: ";
      EXPECT_EQ(r.Err.substr(0, r.Err.find('\n') + 1),
                program + "Quelldatei 's.txt', line 1, column 49, offset 48: byte 0xC3 has no " +
                    "teleprinter code\n");
      EXPECT_NE(r.Err.find(program + "the bytes C3 BC are the UTF-8 letter '\xC3\xBC': write UE"),
                std::string::npos)
          << r.Err;
    }
  }
}

struct RefusedCase {
  const char* Name;
  std::string Text;  // after the header
  std::string Place;
  std::string Byte;
  std::string Hint;  // a line that must follow, or empty
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.Name;
}

const RefusedCase kRefused[] = {
    {"ExclamationMark", "TREFFEN!", "line 1, column 54, offset 53", "'!' (0x21)", ""},
    {"OnTheSecondLine", "AB\nC$D", "line 2, column 2, offset 50", "'$' (0x24)", ""},
    {"AfterAllowedControlBytes", "A\x01\x1F\r\t[", "line 1, column 52, offset 51", "'[' (0x5B)",
     ""},
    {"Delete", "A\x7F", "line 1, column 48, offset 47", "0x7F", ""},
    {"Utf8SharpS",
     "STRA\xC3\x9F"
     "E",
     "line 1, column 51, offset 50", "0xC3",
     "the bytes C3 9F are the UTF-8 letter '\xC3\x9F': write SS"},
    {"Utf8CapitalUmlaut", "\xC3\x84RGER", "line 1, column 47, offset 46", "0xC3",
     "the bytes C3 84 are the UTF-8 letter '\xC3\x84': write AE"},
    {"Latin1Umlaut", "M\xF6WE", "line 1, column 48, offset 47", "0xF6",
     "the byte F6 is the Latin-1 letter '\xC3\xB6': write OE"},
    {"LastByteOfTheFile", std::string(300, 'A') + "~", "line 1, column 347, offset 346",
     "'~' (0x7E)", ""},
};

class TextRefusal : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(TextRefusal, NamesThePlaceAndTheByte) {
  const RefusedCase& c = GetParam();
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("s.txt"), kHeader + c.Text);
  WriteFile(dir.File("out.cip"), kOldTarget);
  ProcessResult r = RunIn(dir, false, RunArgs(false, 'C', "key.txt", "s.txt", "out.cip"));
  EXPECT_EQ(r.Out, kReport);
  EXPECT_EQ(r.ExitStatus, 4);
  EXPECT_EQ(ReadFile(dir.File("out.cip")), kOldTarget);
  std::string first =
      "quarvel: Quelldatei 's.txt', " + c.Place + ": byte " + c.Byte + " has no teleprinter code\n";
  EXPECT_EQ(r.Err.substr(0, first.size()), first);
  if (!c.Hint.empty()) {
    EXPECT_EQ(r.Err.substr(first.size(), 9 + c.Hint.size()), "quarvel: " + c.Hint);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TextRefusal, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TextRefusal, EverySignWithoutACodeIsRefusedAndEveryOtherByteTaken) {
  TempDir dir;
  PutExampleKey(dir);
  for (char sign : std::string("!$&';>[\\]^_`{}~")) {
    SCOPED_TRACE(sign);
    WriteFile(dir.File("s.txt"), kHeader + "AB" + sign + "CD");
    EXPECT_EQ(RunIn(dir, false, RunArgs(false, 'C', "key.txt", "s.txt", "out.cip")).ExitStatus, 4);
  }
  // The letters in either case, the figure and control characters, and
  // every byte below 32 have a code.
  std::string text =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz #-?:@3().,9014\"57=2/6+%|<*";
  for (int b = 0; b < 32; ++b) text += static_cast<char>(b);
  WriteFile(dir.File("s.txt"), kHeader + text);
  ProcessResult r = RunIn(dir, false, RunArgs(false, 'C', "key.txt", "s.txt", "out.cip"));
  EXPECT_EQ(r.ExitStatus, 0) << r.Out;
  EXPECT_EQ(r.Out, ReadFile(dir.File("out.cip")));
}

// A text large enough to be checked in two halves at once: whichever half
// holds them, the first byte without a code and the first line byte are
// the ones named.
TEST(TextRefusal, ALargeTextNamesItsFirstFindingsWhereverTheyAre) {
  struct Case {
    const char* Name;
    std::vector<std::pair<std::size_t, char>> Bytes;  // offsets after the header
    int Status;
    std::string Named;  // in the first line of standard error
  };
  constexpr std::size_t kLength = 3u << 20;
  const Case cases[] = {
      {"UncodedInTheFirstHalf", {{500000, '$'}, {2500000, '!'}}, 4, "offset 500046: byte '$'"},
      {"UncodedInTheSecondHalf", {{2400000, '\t'}, {2500000, '!'}}, 4, "offset 2500046: byte '!'"},
      {"UncodedAtTheEnd", {{kLength - 1, '~'}}, 4, "offset 3145773: byte '~'"},
      {"LineByteInTheSecondHalf", {{2400000, '\t'}, {2600000, '\n'}}, 0, "offset 2400046"},
      {"LineBytesInBothHalves", {{2400000, '\t'}, {700000, '\r'}}, 0, "offset 700046"},
  };
  TempDir dir;
  PutExampleKey(dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string text(kLength, 'A');
    for (std::size_t i = 5; i < kLength; i += 6) text[i] = ' ';
    for (const auto& [offset, byte] : c.Bytes) text[offset] = byte;
    WriteFile(dir.File("s.txt"), kHeader + text);
    // With the second thread, and held to one.
    for (const char* threads : {"", "QUARVEL_THREADS=1"}) {
      SCOPED_TRACE(threads);
      ProcessOptions options;
      options.WorkDir = dir.Path();
      options.Stdin = "\n";
      if (threads[0] != '\0') options.Environment = {threads};
      ProcessResult r =
          RunProcess(QuarvelPath(), RunArgs(false, 'C', "key.txt", "s.txt", "out.cip"), options);
      EXPECT_EQ(r.ExitStatus, c.Status);
      const std::string first = r.Err.substr(0, r.Err.find('\n'));
      EXPECT_NE(first.find(c.Named), std::string::npos) << first;
    }
  }
}

TEST(TextRefusal, TheHeaderIsNotChecked) {
  // Bytes before the marker belong to the header, which is copied as it
  // stands (with a warning); the text after it is checked.
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("s.txt"),
            "Gr\xC3\xBC\xC3\x9F"
            "e " +
                kHeader + "TREFFEN");
  ProcessResult r = RunIn(dir, false, RunArgs(false, 'C', "key.txt", "s.txt", "out.cip"));
  EXPECT_EQ(r.ExitStatus, 0) << r.Out;
  EXPECT_EQ(ReadFile(dir.File("out.cip")).substr(0, 8),
            "GR\xC3\xBC\xC3\x9F"
            "E ");
}

}  // namespace
}  // namespace quarvel::testing
