// The companion programs run as processes: new key files and headers that
// quarvel accepts, a letter through encode, quarvel C, quarvel D and decode,
// the key series view of the example's run, and the conventions they share.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

const std::string kKeygen = QUARVEL_KEYGEN_BIN;
const std::string kText = QUARVEL_TEXT_BIN;
const std::string kSeries = QUARVEL_SERIES_BIN;
// What the companions get on standard input when a test gives them nothing.
const std::string kNoInput = "";

// Enciphers header + notation with `key` and deciphers it again; returns the
// deciphered file.
std::string EncipherAndDecipher(const TempDir& dir, const std::string& key,
                                const std::string& header, const std::string& notation) {
  WriteFile(dir.File("plain.txt"), header + notation);
  ProcessResult c = RunIn(dir, QuarvelPath(), {"C", "t", key, "cipher.txt", "plain.txt"});
  EXPECT_EQ(c.ExitStatus, 0) << c.Out;
  ProcessResult d = RunIn(dir, QuarvelPath(), {"D", "t", key, "cipher.txt", "back.txt"});
  EXPECT_EQ(d.ExitStatus, 0) << d.Out;
  return ReadFile(dir.File("back.txt"));
}

const std::regex kKeyFileLayout(
    "STRUKTURSCHLUESSEL\r\n([01]{16}\r\n){8}GRUNDSCHLUESSEL [A-Z]{10}\r\n");
const std::regex kHeaderLayout("HHHHH( ([A-Z])\\2\\2){10} ");

TEST(Keygen, MakesDifferentKeyFilesThatQuarvelAccepts) {
  TempDir dir;
  std::string keys[2];
  const std::string names[2] = {"k0.txt", "k1.txt"};
  for (int i = 0; i < 2; ++i) {
    const std::string& name = names[i];
    ProcessResult r = RunIn(dir, kKeygen, {name}, kNoInput);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_TRUE(std::regex_match(r.Out, std::regex("[2-9A-HJ-NP-Z]{4} [2-9A-HJ-NP-Z]{4}\n")));
    keys[i] = ReadFile(dir.File(name));
    EXPECT_TRUE(std::regex_match(keys[i], kKeyFileLayout)) << keys[i];
    struct stat st {};
    ASSERT_EQ(stat(dir.File(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(EncipherAndDecipher(dir, name, kHeader, "PROBE #1%"), kHeader + "PROBE 1");
  }
  EXPECT_NE(keys[0], keys[1]);

  ProcessResult third = RunIn(dir, kKeygen, {"k0.txt"}, kNoInput);
  EXPECT_EQ(third.ExitStatus, 1);
  EXPECT_EQ(third.Err, "quarvel_keygen: k0.txt: File exists\n");
  EXPECT_EQ(ReadFile(dir.File("k0.txt")), keys[0]);
}

TEST(Keygen, NeverTouchesAnExistingFile) {
  TempDir dir;
  WriteFile(dir.File("key.txt"), "my own key\n");
  ASSERT_EQ(symlink(dir.File("target.txt").c_str(), dir.File("link.txt").c_str()), 0);
  for (const std::string name : {"key.txt", "link.txt"}) {
    ProcessResult r = RunIn(dir, kKeygen, {name}, kNoInput);
    EXPECT_EQ(r.ExitStatus, 1) << name;
    EXPECT_EQ(r.Err, "quarvel_keygen: " + name + ": File exists\n");
  }
  EXPECT_EQ(ReadFile(dir.File("key.txt")), "my own key\n");
  EXPECT_FALSE(FileExists(dir.File("target.txt")));

  ProcessResult r = RunIn(dir, kKeygen, {"no/such/folder/key.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Err, "quarvel_keygen: no/such/folder/key.txt: No such file or directory\n");
}

TEST(Keygen, WritesTenDifferentHeadersThatQuarvelAccepts) {
  TempDir dir;
  PutExampleKey(dir);
  std::set<std::string> headers;
  for (int i = 0; i < 10; ++i) {
    ProcessResult r = RunIn(dir, kKeygen, {"--header"}, kNoInput);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_TRUE(std::regex_match(r.Out, kHeaderLayout)) << r.Out;
    headers.insert(r.Out);
    EXPECT_EQ(EncipherAndDecipher(dir, "key.txt", r.Out, "TEST"), r.Out + "TEST");
  }
  EXPECT_EQ(headers.size(), 10u);
}

TEST(Text, TakesAGermanLetterThroughBothProgramsToItsReading) {
  TempDir dir;
  const std::string fixtures = SourceDir() + "/tests/fixtures/";
  WriteFile(dir.File("letter.txt"), ReadFile(fixtures + "letter.txt"));
  ASSERT_EQ(RunIn(dir, kKeygen, {"key.txt"}, kNoInput).ExitStatus, 0);
  ProcessResult header = RunIn(dir, kKeygen, {"--header"}, kNoInput);
  ProcessResult encoded = RunIn(dir, kText, {"encode", "letter.txt"}, kNoInput);
  ASSERT_EQ(encoded.ExitStatus, 0) << encoded.Err;
  EXPECT_EQ(encoded.Err, "");
  EXPECT_EQ(encoded.Out, ReadFile(fixtures + "letter.notation.txt"));

  WriteFile(dir.File("back.txt"), EncipherAndDecipher(dir, "key.txt", header.Out, encoded.Out));
  ProcessResult decoded = RunIn(dir, kText, {"decode", "back.txt"}, kNoInput);
  ASSERT_EQ(decoded.ExitStatus, 0) << decoded.Err;
  EXPECT_EQ(decoded.Out, ReadFile(fixtures + "letter.reading.txt"));

  // The same through standard input, keeping the header.
  decoded = RunIn(dir, kText, {"decode", "--keep-header"}, ReadFile(dir.File("back.txt")));
  EXPECT_EQ(decoded.Out, header.Out + ReadFile(fixtures + "letter.reading.txt"));
}

TEST(Text, GivesBackTheReadingOfGeneratedTextsAfterEncipheringAndDeciphering) {
  // Every kind of character that encode takes, with its reading.
  std::vector<std::pair<std::string, std::string>> pieces = {
      {" ", " "},
      {"\t", " "},
      {"\n", "\n"},
      {"\r\n", "\n"},
      {"|", "|"},
      {"\xC3\xA4", "AE"},
      {"\xC3\x84", "AE"},
      {"\xC3\xB6", "OE"},
      {"\xC3\x96", "OE"},
      {"\xC3\xBC", "UE"},
      {"\xC3\x9C", "UE"},
      {"\xC3\x9F", "SS"},
      {"\xE1\xBA\x9E", "SS"},
  };
  for (char c = 'A'; c <= 'Z'; ++c) {
    pieces.push_back({std::string(1, c), std::string(1, c)});
    pieces.push_back({std::string(1, static_cast<char>(c - 'A' + 'a')), std::string(1, c)});
  }
  for (char c : std::string("-?:@3()8.,90147\"5=2/6+")) {
    // Figures come in runs, as in dates, times and numbers.
    pieces.push_back({std::string(3, c), std::string(3, c)});
  }
  TempDir dir;
  PutExampleKey(dir);
  std::mt19937 generator(1412);
  for (int round = 0; round < 8; ++round) {
    std::string text, reading;
    int length = round == 0 ? 0 : std::uniform_int_distribution<int>(1, 400)(generator);
    for (int i = 0; i < length; ++i) {
      const auto& piece =
          pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(generator)];
      text += piece.first;
      reading += piece.second;
    }
    ProcessResult encoded = RunIn(dir, kText, {"encode"}, text);
    ASSERT_EQ(encoded.ExitStatus, 0) << encoded.Err;
    WriteFile(dir.File("back.txt"), EncipherAndDecipher(dir, "key.txt", kHeader, encoded.Out));
    ProcessResult decoded = RunIn(dir, kText, {"decode", "back.txt"}, kNoInput);
    ASSERT_EQ(decoded.ExitStatus, 0) << decoded.Err;
    EXPECT_EQ(decoded.Out, reading) << "text: " << text;
  }
}

TEST(Text, StopsAtACharacterWithoutTeleprinterFormAndWritesNothing) {
  TempDir dir;
  WriteFile(dir.File("a.txt"),
            "Gr\xC3\xBC\xC3\x9F"
            "e\n");
  WriteFile(dir.File("b.txt"), "Preis:\n5 \xE2\x82\xAC & mehr\n");
  ProcessResult r = RunIn(dir, kText, {"encode", "a.txt", "b.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "quarvel_text: b.txt:2:3: U+20AC '\xE2\x82\xAC' has no teleprinter form\n");

  r = RunIn(dir, kText, {"encode", "--replace", "?", "a.txt", "b.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_EQ(r.Out, "GRUESSE<*PREIS#:<*5 ? ?% MEHR<*");
  EXPECT_EQ(r.Err, "quarvel_text: 2 characters replaced by '?'\n");

  r = RunIn(dir, kText, {"encode"}, "ok\nno\xFF");
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Err, "quarvel_text: standard input:2:3: byte 0xFF is not UTF-8\n");

  r = RunIn(dir, kText, {"decode", "a.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("quarvel_text: a.txt: no message header"), std::string::npos) << r.Err;
}

TEST(Series, ShowsTheExampleSeriesAndConfirmsTheirRelation) {
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("message.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  ProcessResult run =
      RunIn(dir, QuarvelKeysPath(),
            {"C", "t", "key.txt", "cipher.txt", "message.txt", "add.bin", "all.bin"});
  ASSERT_EQ(run.ExitStatus, 0) << run.Out;

  ProcessResult r = RunIn(dir, kSeries, {"add.bin", "all.bin"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 0) << r.Err;
  EXPECT_NE(r.Out.find("add.bin:\n"), std::string::npos);
  EXPECT_NE(r.Out.find("length: 120 key characters\n"), std::string::npos);
  EXPECT_NE(r.Out.find("length: 139 key characters\n"), std::string::npos);
  // The series begins 18 6 12 10 22 22 18 29 18 5: D N I R F F D Q D H.
  EXPECT_EQ(r.Out.substr(0, 20), "add.bin:\nDNIRF FDQDH");
  // One bar line for each of the 32 values in each file.
  std::regex bar(" *[0-9]+ [A-Z|<_*#%] +[0-9]+  #+\n");
  auto bars = std::sregex_iterator(r.Out.begin(), r.Out.end(), bar);
  EXPECT_EQ(std::distance(bars, std::sregex_iterator()), 64);
  EXPECT_TRUE(std::regex_search(r.Out, std::regex("chi-square: [0-9]+\\.[0-9]{2} with 31 "
                                                  "degrees of freedom, p-value 0\\.[0-9]{4}")));
  EXPECT_NE(r.Out.find("serial correlation of neighbours: "), std::string::npos);
  EXPECT_NE(r.Out.find("add.bin is all.bin without the key character taken after each of its 19 "
                       "pairs.\n"),
            std::string::npos);

  r = RunIn(dir, kSeries, {"--raw-codes", "all.bin", "add.bin"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out.substr(0, 25), "all.bin:\n18  6 12 10 22  ");
  EXPECT_NE(r.Out.find("all.bin is not add.bin without the key characters taken after pairs"),
            std::string::npos);
}

TEST(Series, RefusesAFileThatIsNoKeySeries) {
  TempDir dir;
  WriteFile(dir.File("text.bin"), std::string("\x01\x1F") + "A");
  ProcessResult r = RunIn(dir, kSeries, {"text.bin", "missing.bin"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Err,
            "quarvel_series: text.bin: byte 3 is 65, not a key character (0 to 31)\n"
            "quarvel_series: missing.bin: No such file or directory\n");
}

TEST(Companions, FollowTheConventionsOfCommandLineTools) {
  struct Case {
    std::string Program;
    std::vector<std::string> Args;
    int Status;
    std::string OutStart;
    std::string ErrStart;
  };
  const std::vector<Case> cases = {
      {kKeygen, {"--help"}, 0, "Usage: quarvel_keygen KEYFILE\n", ""},
      {kText, {"--help"}, 0, "Usage: quarvel_text encode", ""},
      {kSeries, {"--help"}, 0, "Usage: quarvel_series [--raw-codes] FILE...\n", ""},
      {kKeygen, {"--version"}, 0, "quarvel_keygen (quarvel) ", ""},
      {kText, {"--version"}, 0, "quarvel_text (quarvel) ", ""},
      {kSeries, {"--version"}, 0, "quarvel_series (quarvel) ", ""},
      {kKeygen, {}, 2, "", "quarvel_keygen: missing key file name\n"},
      {kKeygen, {"a", "b"}, 2, "", "quarvel_keygen: only one key file name is taken\n"},
      {kKeygen, {"--header", "k.txt"}, 2, "", "quarvel_keygen: --header takes no file name\n"},
      {kText, {}, 2, "", "quarvel_text: missing command: encode or decode\n"},
      {kText, {"shout"}, 2, "", "quarvel_text: unknown command 'shout': encode or decode\n"},
      {kText, {"encode", "--replace", "#"}, 2, "", "quarvel_text: --replace needs one letter"},
      {kText, {"encode", "--replace"}, 2, "", "quarvel_text: option '--replace' needs a value\n"},
      {kText, {"decode", "--replace=x"}, 2, "", "quarvel_text: --replace is for encode\n"},
      {kSeries, {}, 2, "", "quarvel_series: missing key series file\n"},
      {kSeries, {"-x"}, 2, "", "quarvel_series: unknown option '-x'\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    ProcessResult r = RunIn(dir, c.Program, c.Args, kNoInput);
    std::string call = c.Program + (c.Args.empty() ? "" : " " + c.Args[0]);
    EXPECT_EQ(r.ExitStatus, c.Status) << call;
    EXPECT_EQ(r.Out.substr(0, c.OutStart.size()), c.OutStart) << call;
    EXPECT_EQ(r.Err.substr(0, c.ErrStart.size()), c.ErrStart) << call;
    if (c.Status == 2) {
      EXPECT_EQ(r.Out, "") << call;
    }
  }
  EXPECT_FALSE(FileExists(dir.File("k.txt")));
}

}  // namespace
}  // namespace quarvel::testing
