// The companion programs run as processes: new key files and headers that
// quarvel accepts, letters through encode, quarvel C, quarvel D and decode,
// cipher texts damaged in the mail through regroup, the key series view of
// the example's run, and the conventions they share.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "companions/text_notation.h"
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

TEST(Text, ListsEveryCharacterWithoutTeleprinterFormInOneRunAndWritesNothing) {
  TempDir dir;
  WriteFile(dir.File("a.txt"),
            "Gr\xC3\xBC\xC3\x9F"
            "e\n");
  WriteFile(dir.File("b.txt"), "Preis:\n5 \xE2\x82\xAC & mehr\n\xD0\x96\n");
  ProcessResult r = RunIn(dir, kText, {"encode", "a.txt", "b.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err,
            "quarvel_text: b.txt:2:3: U+20AC '\xE2\x82\xAC' has no teleprinter form (--translit: "
            "'EUR')\n"
            "quarvel_text: b.txt:2:5: U+0026 '&' has no teleprinter form (--translit: 'UND')\n"
            "quarvel_text: b.txt:3:1: U+0416 '\xD0\x96' has no teleprinter form\n"
            "quarvel_text: nothing written; --translit writes characters such as these as a "
            "telegram would (the table is in the manual page), and --replace C puts C in place of "
            "the others\n");

  r = RunIn(dir, kText, {"encode", "--replace", "?", "a.txt", "b.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_EQ(r.Out, "GRUESSE<*PREIS#:<*5 ? ?% MEHR<*#?<*");
  EXPECT_EQ(r.Err, "quarvel_text: 3 characters replaced by '?'\n");

  r = RunIn(dir, kText, {"encode", "--translit", "--replace", "?", "a.txt", "b.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 0);
  EXPECT_EQ(r.Out, "GRUESSE<*PREIS#:<*5% EUR UND MEHR<*#?<*");
  EXPECT_EQ(r.Err, "quarvel_text: 1 character replaced by '?'\n");

  r = RunIn(dir, kText, {"encode"}, "ok\nM\xFCller!");
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err,
            "quarvel_text: standard input:2:2: byte 0xFC is not UTF-8: the file is not UTF-8 text; "
            "if it is Latin-1, convert it (iconv -f latin1) or read it with --from latin1\n"
            "quarvel_text: nothing written\n");
  r = RunIn(dir, kText, {"encode", "--from", "latin1", "--translit"}, "ok\nM\xFCller!");
  EXPECT_EQ(r.ExitStatus, 0) << r.Err;
  EXPECT_EQ(r.Out, "OK<*MUELLER#.");

  r = RunIn(dir, kText, {"decode", "a.txt"}, kNoInput);
  EXPECT_EQ(r.ExitStatus, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("quarvel_text: a.txt: no message header"), std::string::npos) << r.Err;
}

const char* const kLetters[] = {"geschaeftsbrief", "privatbrief", "email"};

std::string FixtureLetter(const std::string& name, const std::string& suffix) {
  return ReadFile(SourceDir() + "/tests/fixtures/letters/" + name + suffix);
}

TEST(Text, TakesRealLettersWithTranslitThroughBothProgramsToTheirReading) {
  TempDir dir;
  PutExampleKey(dir);
  for (const std::string name : kLetters) {
    SCOPED_TRACE(name);
    WriteFile(dir.File(name + ".txt"), FixtureLetter(name, ".txt"));
    ProcessResult encoded = RunIn(dir, kText, {"encode", "--translit", name + ".txt"}, kNoInput);
    ASSERT_EQ(encoded.ExitStatus, 0) << encoded.Err;
    EXPECT_EQ(encoded.Err, "");
    WriteFile(dir.File("back.txt"), EncipherAndDecipher(dir, "key.txt", kHeader, encoded.Out));
    ProcessResult decoded = RunIn(dir, kText, {"decode", "back.txt"}, kNoInput);
    ASSERT_EQ(decoded.ExitStatus, 0) << decoded.Err;
    EXPECT_EQ(decoded.Out, FixtureLetter(name, ".reading.txt"));
  }
  // In one step, with a fresh header of its own.
  ProcessResult message =
      RunIn(dir, kText, {"encode", "--header", "--translit", "privatbrief.txt"}, kNoInput);
  ASSERT_EQ(message.ExitStatus, 0) << message.Err;
  std::smatch header;
  ASSERT_TRUE(std::regex_search(message.Out, header, kHeaderLayout,
                                std::regex_constants::match_continuous));
  EXPECT_NE(header.str(), kHeader);
  WriteFile(dir.File("back.txt"), EncipherAndDecipher(dir, "key.txt", "", message.Out));
  ProcessResult decoded = RunIn(dir, kText, {"decode", "back.txt"}, kNoInput);
  EXPECT_EQ(decoded.Out, FixtureLetter("privatbrief", ".reading.txt"));
}

// The characters of a text that have a teleprinter form of their own, told
// apart without the program: ASCII letters, figures and signs of the
// figures shift, blank, "|", tab, line ends, umlauts and sharp s.
std::int64_t CharactersWithoutForm(const std::string& text) {
  const std::string own =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-?:().,\"=/+@ |\t\n";
  const std::set<std::string> spelt = {"\xC3\x84", "\xC3\xA4", "\xC3\x96", "\xC3\xB6",
                                       "\xC3\x9C", "\xC3\xBC", "\xC3\x9F"};
  std::int64_t count = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::string c = text.substr(i, length);
    if (!(length == 1 && own.find(c[0]) != std::string::npos) && spelt.count(c) == 0) ++count;
    i += length;
  }
  return count;
}

TEST(Text, RefusesRealLettersWithoutTranslitListingTheirPlacesInOneRun) {
  TempDir dir;
  for (const std::string name : kLetters) {
    SCOPED_TRACE(name);
    const std::string letter = FixtureLetter(name, ".txt");
    WriteFile(dir.File(name + ".txt"), letter);
    ProcessResult r = RunIn(dir, kText, {"encode", name + ".txt"}, kNoInput);
    EXPECT_EQ(r.ExitStatus, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, FixtureLetter(name, ".refused.txt"));
    const std::int64_t all = CharactersWithoutForm(letter);
    EXPECT_NE(r.Err.find(" more characters without a teleprinter form (" + std::to_string(all) +
                         " in all)\n"),
              std::string::npos)
        << all;
  }
}

TEST(Text, FixtureLettersAndTheManualPageHoldEveryCharacterOfTheTable) {
  std::string letters;
  for (const std::string name : kLetters) letters += FixtureLetter(name, ".txt");
  const std::string manual = ReadFile(SourceDir() + "/man/quarvel_text.1");
  for (const auto& entry : quarvel::companions::TransliterationTable()) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(entry.CodePoint));
    std::string utf8;
    char32_t cp = entry.CodePoint;
    if (cp < 0x80) {
      utf8 += static_cast<char>(cp);
    } else if (cp < 0x800) {
      utf8 += static_cast<char>(0xC0 | (cp >> 6));
      utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (cp >> 12));
      utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
    EXPECT_NE(letters.find(utf8), std::string::npos) << code << " is in no fixture letter";
    EXPECT_NE(manual.find(code), std::string::npos) << code << " is not in the manual page";
  }
}

// A cipher text and its copies as they came back from the mail.
std::string MailFixture(const std::string& name) {
  return ReadFile(SourceDir() + "/tests/fixtures/mail/" + name);
}

TEST(Text, RegroupGivesBackACipherTextThatTheMailReWrappedLowerCasedOrQuoted) {
  TempDir dir;
  PutExampleKey(dir);
  const std::string cipher = MailFixture("cipher.txt");
  WriteFile(dir.File("cipher.txt"), cipher);
  ProcessResult whole = RunIn(dir, QuarvelPath(), {"D", "t", "key.txt", "cipher.txt", "plain.txt"});
  ASSERT_EQ(whole.ExitStatus, 0);
  const std::string plain = ReadFile(dir.File("plain.txt"));
  const std::string kept = "kept 1805 cipher letters in 361 groups; the last group is whole";
  struct Case {
    std::string File;
    std::string Err;
  };
  const std::vector<Case> cases = {
      {"folded.txt", "quarvel_text: folded.txt: " + kept},
      {"lowercased.txt", "quarvel_text: lowercased.txt: " + kept},
      {"quoted.txt",
       "quarvel_text: quoted.txt: the 75 bytes before the header (HHHHH) were dropped\n"
       "quarvel_text: quoted.txt: the cipher letters end before line 42; 4 lines of text from "
       "there on were left out, the first 'Viele Gruesse'\n"
       "quarvel_text: quoted.txt: " +
           kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    WriteFile(dir.File(c.File), MailFixture(c.File));
    // The damage costs the deciphered text its end, and the note says what helps.
    ProcessResult damaged = RunIn(dir, QuarvelPath(), {"D", "t", "key.txt", c.File, "lost.txt"});
    EXPECT_NE(ReadFile(dir.File("lost.txt")), plain);
    if (c.File != "quoted.txt") {
      EXPECT_NE(damaged.Err.find("'quarvel_text regroup' writes them back in their layout"),
                std::string::npos)
          << damaged.Err;
    }
    ProcessResult r = RunIn(dir, kText, {"regroup", c.File}, kNoInput);
    ASSERT_EQ(r.ExitStatus, 0) << r.Err;
    EXPECT_EQ(r.Out, cipher);
    EXPECT_EQ(r.Err, c.Err + "\n");
    WriteFile(dir.File("regrouped.txt"), r.Out);
    ProcessResult d = RunIn(dir, QuarvelPath(), {"D", "t", "key.txt", "regrouped.txt", "back.txt"});
    EXPECT_EQ(d.ExitStatus, 0);
    EXPECT_EQ(d.Err, "");
    EXPECT_EQ(ReadFile(dir.File("back.txt")), plain);
  }
  ProcessResult none = RunIn(dir, kText, {"regroup"}, "Hallo,\nkeine Nachricht heute.\n");
  EXPECT_EQ(none.ExitStatus, 1);
  EXPECT_EQ(none.Out, "");
  EXPECT_EQ(none.Err, "quarvel_text: standard input: no message header (HHHHH); nothing written\n");
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
      {kText, {}, 2, "", "quarvel_text: missing command: encode, decode or regroup\n"},
      {kText,
       {"shout"},
       2,
       "",
       "quarvel_text: unknown command 'shout': encode, decode or regroup\n"},
      {kText, {"encode", "--replace", "#"}, 2, "", "quarvel_text: --replace needs one letter"},
      {kText, {"encode", "--replace"}, 2, "", "quarvel_text: option '--replace' needs a value\n"},
      {kText, {"decode", "--replace=x"}, 2, "", "quarvel_text: --replace is for encode\n"},
      {kText, {"regroup", "--translit"}, 2, "", "quarvel_text: --translit is for encode\n"},
      {kText, {"regroup", "--keep-header"}, 2, "", "quarvel_text: --keep-header is for decode\n"},
      {kText, {"encode", "--from", "cp437"}, 2, "", "quarvel_text: --from takes latin1 or utf-8"},
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
