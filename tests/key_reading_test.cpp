// Key reading: the keyword search, filtered reading and the key file layout
// with its verdict on each key part, on small fixture files read from disk
// and from memory; and the run's reports of a file that does not open again.
#include "run/key_reading.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "io/console.h"
#include "keyfile/key_file.h"
#include "keyfile/key_reasons.h"
#include "keyfile/keyword_search.h"
#include "run/diagnostics.h"
#include "state/run_state.h"
#include "tests/process_runner.h"

namespace quarvel {
namespace {

using testing::TempDir;
using testing::WriteFile;

// A run state whose console reads and writes /dev/null.
class KeyReader : public ::testing::Test {
 protected:
  KeyReader()
      : nullIn_(::open("/dev/null", O_RDONLY)),
        nullOut_(::open("/dev/null", O_WRONLY)),
        console_(nullIn_, nullOut_),
        state_(std::make_unique<RunState>()) {
    state_->Con = &console_;
    state_->Mode = 'C';
    state_->StepsPerChar = 5;
    state_->Params.KeyFileName = dir_.File("key");
    state_->Params.PlainTextName = dir_.File("plain");
    state_->Params.CipherTextName = dir_.File("cipher");
  }
  ~KeyReader() override {
    ::close(nullIn_);
    ::close(nullOut_);
  }

  std::string Fixture(const std::string& content) {
    std::string path = dir_.File("fixture");
    WriteFile(path, content);
    return path;
  }

  TempDir dir_;
  int nullIn_;
  int nullOut_;
  Console console_;
  std::unique_ptr<RunState> state_;
};

struct FilteredCase {
  const char* Name;
  std::string Content;
  std::string Keyword;
  bool Binary;  // binary digits, else letters
  int Count;
  std::int64_t Found;     // result of FindKeyword
  std::string Part;       // what ReadKeyPart delivers
  std::int64_t Position;  // the position after the part (kKept: none read)
};

constexpr std::int64_t kKept = 12345;

template <typename File, typename Open>
void ExpectFiltered(const FilteredCase& c, const CharSet& allowed, File& file, Open open) {
  ASSERT_EQ(open(file), 0);
  EXPECT_EQ(FindKeyword(c.Keyword, file), c.Found);
  file.Close();
  if (c.Found != 0) {
    ASSERT_EQ(open(file), 0);
    KeyPart part = "old";
    EXPECT_TRUE(ReadFiltered(part, c.Found, allowed, file, c.Count));
    EXPECT_EQ(part, c.Part);
    EXPECT_EQ(file.Position(), c.Position);
    file.Close();
  }
  KeyPart part = "old";
  KeyPartRead read = ReadKeyPart(part, file, open, c.Keyword, allowed, c.Count);
  EXPECT_EQ(read.Status, c.Found != 0 ? KeyPartStatus::Read : KeyPartStatus::Missing);
  EXPECT_EQ(read.OpenError, 0);
  EXPECT_EQ(part, c.Part);
  EXPECT_EQ(read.End, c.Found != 0 ? c.Position : -1);
}

TEST_F(KeyReader, KeywordSearchAndFilteredReading) {
  const std::string spaces10(10, ' ');
  const FilteredCase cases[] = {
      // The keyword's last byte at 14: result 16, byte 15 skipped unread.
      {"blank after keyword", "GRUNDSCHLUESSEL ABCDEFGHIJ\r\n", "GRUNDSCHLUESSEL", false, 10, 16,
       "ABCDEFGHIJ", 26},
      {"letter after keyword is skipped", "xyGRUNDSCHLUESSELKABCDEFGHIJ", "GRUNDSCHLUESSEL", false,
       10, 18, "ABCDEFGHIJ", 28},
      {"line end between digits", "K 1\n01", "K", true, 3, 2, "101", 6},
      {"last character unfiltered", "K 1 0 1", "K", true, 3, 2, "10 ", 6},
      {"hyphens between letters", "K A-B-C", "K", false, 3, 2, "AB-", 6},
      {"long separators, letters among digits", "K 1 ,;\r\n\tabc01xyz", "K", true, 3, 2, "101", 14},
      {"keyword ends the file", "xxGRUNDSCHLUESSEL", "GRUNDSCHLUESSEL", false, 10, 0, spaces10,
       kKept},
      {"keyword absent", "nothing to find here\n", "GRUNDSCHLUESSEL", false, 10, 0, spaces10,
       kKept},
      {"lower-case keyword not found", "grundschluessel ABCDEFGHIJ\n", "GRUNDSCHLUESSEL", false, 10,
       0, spaces10, kKept},
      {"first of two occurrences", "GRUNDSCHLUESSEL AAAAAAAAAA GRUNDSCHLUESSEL BBBBBBBBBB\n",
       "GRUNDSCHLUESSEL", false, 10, 16, "AAAAAAAAAA", 26},
      // The second G breaks the partial match and is not tried as a start.
      {"doubled first letter hides an occurrence",
       "GGRUNDSCHLUESSEL AAAAAAAAAA GRUNDSCHLUESSEL BBBBBBBBBB\n", "GRUNDSCHLUESSEL", false, 10, 44,
       "BBBBBBBBBB", 54},
      {"broken partial match hides an occurrence",
       "GRUNGRUNDSCHLUESSEL AAAAAAAAAA GRUNDSCHLUESSEL BBBBBBBBBB\n", "GRUNDSCHLUESSEL", false, 10,
       47, "BBBBBBBBBB", 57},
      {"six H's: the sixth is the separator", "HHHHHHQQQWWW\n", "HHHHH", false, 6, 6, "QQQWWW", 12},
      {"key characters kept as they stand", "GRUNDSCHLUESSEL kwtrbNMZUE\n", "GRUNDSCHLUESSEL",
       false, 10, 16, "kwtrbNMZUE", 26},
  };
  for (const FilteredCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = Fixture(c.Content);
    const CharSet& allowed = c.Binary ? BinaryDigits : Letters;
    // The same bytes on disk and in memory.
    ByteFile disk;
    disk.Bind(path, console_);
    auto openDisk = [](ByteFile& file) { return file.OpenToRead(); };
    KeyBytes memory{c.Content, path};
    ExpectFiltered(c, allowed, disk, openDisk);
    ExpectFiltered(c, allowed, memory, OpenKeyBytes);
  }
  // Nothing of this is reported.
  EXPECT_EQ(console_.BytesWritten(), 0);
  EXPECT_EQ(console_.BytesRead(), 0);
}

// Reads one part through the run's key reading: the basic key from the
// run's key file, with the structure key and the message key beside it.
void ReadRunKey(RunState& state, const std::string& plain =
                                     "HHHHH AAA BBB CCC DDD EEE FFF GGG "
                                     "HHH III JJJ ") {
  WriteFile(state.Params.PlainTextName, plain);
  ReadKeyFile(state);
}

// The run's own open key file serves the search: what it holds counts, even
// when another file has taken its name since the run opened it.
TEST_F(KeyReader, OpenKeyFileOfTheRunServesTheSearch) {
  const std::string path = state_->Params.KeyFileName;
  WriteFile(path, "GRUNDSCHLUESSEL ABCDE");
  state_->KeyFile.Bind(path, console_);
  ASSERT_EQ(state_->KeyFile.OpenToRead(), 0);
  WriteFile(path + ".new", "GRUNDSCHLUESSEL ZZZZZZZZZZ\n");
  ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
  ReadRunKey(*state_);
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::EndsInside);
  EXPECT_EQ(state_->BasicKeyFinding.CharsRead, 5);
  EXPECT_EQ(state_->BasicKey, "ABCDE     ");
  state_->KeyFile.Close();
}

TEST_F(KeyReader, FileEndingInsideAPartIsShort) {
  const std::string content = "GRUNDSCHLUESSEL ABC";
  KeyBytes file{content, "k"};
  KeyPart part;
  KeyPartRead read = ReadKeyPart(part, file, OpenKeyBytes, "GRUNDSCHLUESSEL", Letters, 10);
  EXPECT_EQ(read.Status, KeyPartStatus::Short);
  EXPECT_EQ(part, "ABC");
  EXPECT_EQ(read.End, 19);
}

TEST_F(KeyReader, EmptyFileIsAMissingKeyword) {
  WriteFile(state_->Params.KeyFileName, "");
  state_->TextPosition = kKept;
  ReadRunKey(*state_, "");
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::NotFound);
  EXPECT_EQ(state_->BasicKey, std::string(10, ' '));
  EXPECT_EQ(state_->TextPosition, kKept);
}

// The key reader opens its files for reading only: a file that nobody may
// write is read like any other.
TEST_F(KeyReader, ProtectedFileIsRead) {
  const std::string path = state_->Params.KeyFileName;
  WriteFile(path, "GRUNDSCHLUESSEL ABCDEFGHIJ\n");
  ASSERT_EQ(::chmod(path.c_str(), 0400), 0);
  ReadRunKey(*state_);
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::None);
  EXPECT_EQ(state_->BasicKey, "ABCDEFGHIJ");
}

// While the run holds a file open, the key reader reads it no further than
// the size it had when the run opened it.
TEST_F(KeyReader, BytesAddedAfterTheRunOpenedTheFileDoNotCount) {
  const std::string path = state_->Params.KeyFileName;
  WriteFile(path, "GRUNDSCHLUESSEL ABCDEFGHI");
  state_->KeyFile.Bind(path, console_);
  ASSERT_EQ(state_->KeyFile.OpenToRead(), 0);
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "J\n", 2), 2);
  ::close(fd);
  ReadRunKey(*state_);
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::EndsInside);
  state_->KeyFile.Close();
  ReadRunKey(*state_);
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::None);
  EXPECT_EQ(state_->BasicKey, "ABCDEFGHIJ");
}

// A console on pipes: what is typed goes in before, what is shown is read
// after.
struct PipeConsole {
  int In[2];
  int Out[2];
  std::unique_ptr<Console> Con;

  explicit PipeConsole(const std::string& typed) {
    if (::pipe(In) != 0 || ::pipe(Out) != 0) throw std::runtime_error("pipe");
    EXPECT_EQ(::write(In[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    ::close(In[1]);
    Con = std::make_unique<Console>(In[0], Out[1]);
  }
  // Everything written to the console.
  std::string Shown() {
    Con->Flush();
    ::close(Out[1]);
    Out[1] = -1;
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::read(Out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
  }
  ~PipeConsole() {
    Con.reset();
    ::close(In[0]);
    ::close(Out[0]);
    if (Out[1] >= 0) ::close(Out[1]);
  }
};

// The reader itself reports nothing: it returns the error code.
TEST(KeywordSearch, FileThatDoesNotOpenIsFoundMissingWithItsCode) {
  TempDir dir;
  PipeConsole pipes("xy\n");
  ByteFile handle;
  handle.Bind(dir.File("missing"), *pipes.Con);
  KeyPart part;
  KeyPartRead read = ReadKeyPart(
      part, handle, [](ByteFile& file) { return file.OpenToRead(); }, "GRUNDSCHLUESSEL", Letters,
      10);
  EXPECT_EQ(read.Status, KeyPartStatus::Missing);
  EXPECT_EQ(read.OpenError, ENOENT);
  EXPECT_EQ(read.End, -1);
  EXPECT_EQ(part, std::string(10, ' '));
  EXPECT_EQ(pipes.Con->BytesRead(), 0);
  EXPECT_EQ(pipes.Shown(), "");
}

// The run reports each search whose file does not open, at once, and reads
// one character after each report.
TEST(KeywordSearch, RunReportsEachFileThatDoesNotOpenAndReadsOneCharacter) {
  TempDir dir;
  PipeConsole pipes("xy\nmore\n");
  auto state = std::make_unique<RunState>();
  state->Con = pipes.Con.get();
  state->Mode = 'C';
  state->Params.KeyFileName = dir.File("missing");
  state->Params.PlainTextName = dir.File("plain");
  WriteFile(state->Params.PlainTextName, "HHHHH AAA BBB CCC DDD EEE FFF GGG HHH III JJJ x");
  state->TextPosition = kKept;
  ReadKeyFile(*state);
  EXPECT_EQ(state->StructureKeyFinding.Fault, KeyFault::NotReopened);
  EXPECT_EQ(state->BasicKeyFinding.Fault, KeyFault::NotReopened);
  EXPECT_EQ(state->MessageKeyFinding.Fault, KeyFault::None);
  EXPECT_EQ(state->BasicKey, std::string(10, ' '));
  EXPECT_EQ(state->ConsoleAnswer, 'y');
  EXPECT_EQ(pipes.Con->BytesRead(), 2);
  EXPECT_EQ(state->TextPosition, 45);
  const std::string report = " ERROR \r\n Dateifehler ! ";
  EXPECT_EQ(pipes.Shown(), report + report);
}

// The structure key of the example key file, row by row.
const std::vector<std::string> kRows = {"1010001000011000", "1000010000110010", "0010000111111100",
                                        "0011111001010110", "0111110011001111", "1011001001001110",
                                        "0111011111000000", "0010110011100111"};

std::string Joined(const std::vector<std::string>& rows, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) text += (i ? separator : "") + rows[i];
  return text;
}

const std::string kStructureDigits = Joined(kRows, "");
const std::string kStructureSection = "STRUKTURSCHLUESSEL\r\n" + Joined(kRows, "\r\n") + "\r\n";
const std::string kBasicSection = "GRUNDSCHLUESSEL KWTRBNMZUE\r\n";
const std::string kKeyFile =
    "Schluessel fuer die Beispiele\r\n" + kStructureSection + kBasicSection;
const std::string kHeader = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP TREFFEN AM BAHNHOF";

// The digits in groups of eight, blanks and line ends between the groups.
std::string GroupedDigits() {
  std::string text;
  for (int g = 0; g < 16; ++g) {
    text += kStructureDigits.substr(8 * g, 8);
    text += g % 2 ? "\n" : "  ";
  }
  return text;
}

struct KeyFileCase {
  const char* Name;
  std::string Key;
  std::string Source;
  // Expected key texts; "?" where a refused part's text is not checked.
  std::string Structure;
  std::string Basic;
  std::string Message;
  bool StructureRefused, BasicRefused, MessageRefused;
  std::int64_t Position;  // TextPosition afterwards, -1 not to check it
};

TEST_F(KeyReader, KeyFileLayoutAndVerdict) {
  const std::string zeros(128, '0');
  const std::string aaa = "HHHHH AAA AAA AAA AAA AAA AAA AAA AAA AAA AAA text";
  const KeyFileCase cases[] = {
      {"lines", kKeyFile, kHeader, kStructureDigits, "KWTRBNMZUE", "QWERTZUIOP", false, false,
       false, 45},
      {"basic key first", "x " + kBasicSection + "y\n" + kStructureSection + "z", kHeader,
       kStructureDigits, "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 45},
      {"digits in groups", "STRUKTURSCHLUESSEL\n" + GroupedDigits() + kBasicSection, kHeader,
       kStructureDigits, "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 45},
      // The 128th character follows the 127th unfiltered; its lowest bit
      // counts, so a blank there is not refused.
      {"last two digits apart",
       "STRUKTURSCHLUESSEL " + kStructureDigits.substr(0, 127) + " 1\n" + kBasicSection, kHeader,
       kStructureDigits.substr(0, 127) + " ", "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 45},
      {"lower-case basic key kept", kStructureSection + "GRUNDSCHLUESSEL kwtrbnmzue\n", kHeader,
       kStructureDigits, "kwtrbnmzue", "QWERTZUIOP", false, false, false, 45},
      {"basic key in two groups, a digit among the letters",
       kStructureSection + "GRUNDSCHLUESSEL\nKW1TRB NMZUE\n", kHeader, kStructureDigits,
       "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 45},
      {"six H's", kKeyFile, "HHHHHHQQQWWWEEERRRTTTZZZUUUIIIOOOPPP rest", kStructureDigits,
       "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 36},
      {"groups in blocks of five", kKeyFile, "HHHHH QQQWW WEEER RRTTT ZZZUU UIIIO OOPPP x",
       kStructureDigits, "KWTRBNMZUE", "QWERTZUIOP", false, false, false, 41},
      {"malformed group", kKeyFile, "HHHHH QQQ WWW EER RRR TTT ZZZ UUU III OOO PPP x",
       kStructureDigits, "KWTRBNMZUE", "QWRTZUIOP", false, false, true, 45},
      {"group in mixed case", kKeyFile, "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU iII OOO PPP x",
       kStructureDigits, "KWTRBNMZUE", "QWERTZUOP", false, false, true, 45},
      {"marker without separator", kKeyFile, "HHHHHQQQWWWEEERRRTTTZZZUUUIIIOOOPPP x",
       kStructureDigits, "KWTRBNMZUE", "", false, false, true, 36},
      {"marker missing", kKeyFile, "QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP x", kStructureDigits,
       "KWTRBNMZUE", "?", false, false, true, -1},
      {"source ends inside the groups", kKeyFile, "HHHHH QQQ WWW", kStructureDigits, "KWTRBNMZUE",
       "?", false, false, true, -1},
      {"empty source", kKeyFile, "", kStructureDigits, "KWTRBNMZUE", "?", false, false, true, -1},
      {"structure keyword missing", kBasicSection, kHeader, std::string(128, ' '), "KWTRBNMZUE",
       "QWERTZUIOP", true, false, false, 45},
      {"key file ends inside the structure key", kBasicSection + "STRUKTURSCHLUESSEL\n0101010101",
       kHeader, "?", "KWTRBNMZUE", "QWERTZUIOP", true, false, false, 45},
      {"basic keyword missing", kStructureSection, kHeader, kStructureDigits, std::string(10, ' '),
       "QWERTZUIOP", false, true, false, 45},
      {"key file ends inside the basic key", kStructureSection + "GRUNDSCHLUESSEL KWTRB", kHeader,
       kStructureDigits, "?", "QWERTZUIOP", false, true, false, 45},
      {"tenth basic-key character a digit", kStructureSection + "GRUNDSCHLUESSEL KWTRBNMZU1\n",
       kHeader, kStructureDigits, "KWTRBNMZU1", "QWERTZUIOP", false, true, false, 45},
      {"tenth basic-key character a blank", kStructureSection + "GRUNDSCHLUESSEL KWTRBNMZU E\n",
       kHeader, kStructureDigits, "KWTRBNMZU ", "QWERTZUIOP", false, true, false, 45},
      {"empty key file", "", kHeader, std::string(128, ' '), std::string(10, ' '), "QWERTZUIOP",
       true, true, false, 45},
      // Basic and message key all A: their bits cancel, the matrix is the
      // digits alone, weight 0 under every shift.
      {"matrix never reaches the window",
       "STRUKTURSCHLUESSEL " + zeros + "\nGRUNDSCHLUESSEL AAAAAAAAAA\n", aaa, zeros, "AAAAAAAAAA",
       "AAAAAAAAAA", true, false, false, 45},
      {"matrix checked only with an accepted message key",
       "STRUKTURSCHLUESSEL " + zeros + "\nGRUNDSCHLUESSEL AAAAAAAAAA\n",
       "HHHHH AAA AAA AAA AAA ABA AAA AAA AAA AAA AAA text", zeros, "AAAAAAAAAA", "AAAAAAAAA",
       false, false, true, 45},
      {"matrix checked only with an accepted basic key",
       "STRUKTURSCHLUESSEL " + zeros + "\nGRUNDSCHLUESSEL AAAAAAAAA%\n", aaa, zeros, "AAAAAAAAA%",
       "AAAAAAAAAA", false, true, false, 45},
      // A against B: 0xD8 ^ 0x8B = 0x53, four rows of ones, weight 64.
      {"same digits with another message key",
       "STRUKTURSCHLUESSEL " + zeros + "\nGRUNDSCHLUESSEL AAAAAAAAAA\n",
       "HHHHH BBB BBB BBB BBB BBB BBB BBB BBB BBB BBB text", zeros, "AAAAAAAAAA", "BBBBBBBBBB",
       false, false, false, 45},
  };
  for (const KeyFileCase& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(state_->Params.KeyFileName, c.Key);
    WriteFile(state_->Params.PlainTextName, c.Source);
    state_->TextPosition = kKept;
    ReadKeyFile(*state_);
    if (c.Structure != "?") {
      EXPECT_EQ(std::string(state_->StructureKeyText.begin(), state_->StructureKeyText.end()),
                c.Structure);
    }
    if (c.Basic != "?") {
      EXPECT_EQ(state_->BasicKey, c.Basic);
    }
    if (c.Message != "?") {
      EXPECT_EQ(state_->MessageKey, c.Message);
    }
    EXPECT_EQ(state_->StructureKeyRefused, c.StructureRefused);
    EXPECT_EQ(state_->BasicKeyRefused, c.BasicRefused);
    EXPECT_EQ(state_->MessageKeyRefused, c.MessageRefused);
    if (c.Position >= 0) {
      EXPECT_EQ(state_->TextPosition, c.Position);
    }
    if (!c.StructureRefused && !c.BasicRefused && !c.MessageRefused) {
      EXPECT_TRUE(state_->KeysValid);
    }
    // The same bytes in memory read the same.
    const KeyReading memory = ReadKeyBytes(c.Key, "key", c.Source, "plain");
    EXPECT_EQ(memory.StructureKeyText, state_->StructureKeyText);
    EXPECT_EQ(memory.BasicKey, state_->BasicKey);
    EXPECT_EQ(memory.MessageKey, state_->MessageKey);
    EXPECT_EQ(memory.StructureKeyRefused, c.StructureRefused);
    EXPECT_EQ(memory.BasicKeyRefused, c.BasicRefused);
    EXPECT_EQ(memory.MessageKeyRefused, c.MessageRefused);
    EXPECT_EQ(memory.TextPosition < 0 ? kKept : memory.TextPosition, state_->TextPosition);
  }
  EXPECT_EQ(console_.BytesWritten(), 0);
}

TEST_F(KeyReader, MessageKeyComesFromTheSourceOfTheMode) {
  WriteFile(state_->Params.KeyFileName, kKeyFile);
  WriteFile(state_->Params.PlainTextName, "no marker in the plain text\n");
  WriteFile(state_->Params.CipherTextName, "HHHHH ZZZ UUU III OOO PPP QQQ WWW EEE RRR TTT\r\nAB");
  state_->Mode = 'D';
  ReadKeyFile(*state_);
  EXPECT_EQ(state_->MessageKey, "ZUIOPQWERT");
  EXPECT_FALSE(state_->MessageKeyRefused);
  EXPECT_EQ(state_->TextPosition, 45);

  state_->Mode = 'C';
  ReadKeyFile(*state_);
  EXPECT_TRUE(state_->MessageKeyRefused);
}

TEST_F(KeyReader, KeyFileThatDoesNotOpenAgainIsNamedWithItsReason) {
  // The run holds its files open; here the key file is gone when its parts
  // are searched for.
  WriteFile(state_->Params.PlainTextName, kHeader);
  ReadKeyFile(*state_);
  EXPECT_EQ(state_->StructureKeyFinding.Fault, KeyFault::NotReopened);
  EXPECT_EQ(state_->StructureKeyFinding.Code, ENOENT);
  EXPECT_EQ(state_->BasicKeyFinding.Fault, KeyFault::NotReopened);
  EXPECT_EQ(state_->MessageKeyFinding.Fault, KeyFault::None);
  NoteKey(*state_);
  const std::string file = "Schluesseldatei '" + state_->Params.KeyFileName + "'";
  EXPECT_EQ(state_->Notes, "Strukturschluessel: " + file +
                               " did not open again for the search: No such file or directory\n"
                               "Grundschluessel: " +
                               file +
                               " did not open again for the search: No such file or directory\n");
}

}  // namespace
}  // namespace quarvel
