// Ordinary text to the teleprinter notation and back: the characters taken,
// the placing of the shifts, the characters refused, and the message header
// that decoding drops.
#include "companions/text_notation.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/run_fixtures.h"

namespace quarvel::companions {
namespace {

using quarvel::testing::kKeyLetters;

std::string Encode(const std::string& text, std::optional<char> replacement = std::nullopt) {
  EncodeOptions options;
  options.Replacement = replacement;
  EncodeState state;
  EncodeProblem problem;
  std::string out;
  EXPECT_TRUE(EncodeText(text, options, state, out, problem)) << DescribeProblem(problem);
  FinishEncoding(state, out);
  return out;
}

struct EncodeCase {
  std::string Text;
  std::string Notation;
};

TEST(EncodeText, GivesTheNotationWithTheShiftsWhereTheTextNeedsThem) {
  const std::vector<EncodeCase> cases = {
      {"um 14:30 Uhr", "UM #14:30% UHR"},
      {"\xC3\x84rger \xC3\xBC"
       "ber \xC3\x96l, s\xC3\xBC\xC3\x9F",
       "AERGER UEBER OEL#,% SUESS"},
      {"\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xE1\xBA\x9E", "AEOEUEAEOEUESSSS"},
      {"a\nb\r\nc\n", "A<*B<*C<*"},
      {"a\tb", "A B"},
      // A text starts in letters; figures at its end need no shift back.
      {"12", "#12"},
      {"x 1\n", "X #1<*"},
      // Blanks and line ends between figures stay inside the figures.
      {"1 2\n3 b", "#1 2<*3% B"},
      {"a | b", "A | B"},
      {"-?:3 8().,9014\"57=2/6+@", "#-?:3 8().,9014\"57=2/6+@"},
      {"Tel. 0815/4711, Fax -12.", "TEL#. 0815/4711,% FAX #-12."},
      {"\xEF\xBB\xBFok", "OK"},
      {"", ""},
  };
  for (const EncodeCase& c : cases) EXPECT_EQ(Encode(c.Text), c.Notation) << c.Text;
}

TEST(EncodeText, CarriesTheShiftFromOneInputToTheNext) {
  EncodeState state;
  EncodeProblem problem;
  std::string out;
  ASSERT_TRUE(EncodeText("am 12 ", {}, state, out, problem));
  ASSERT_TRUE(EncodeText("13 Uhr", {}, state, out, problem));
  FinishEncoding(state, out);
  EXPECT_EQ(out, "AM #12 13% UHR");
}

// What a reader of the notation sees: the shifts gone and each "<*" a line
// end. For text that encoding accepts this is its reading: capitals, umlauts
// spelt out, LF line ends, tabs as blanks.
std::string ReadNotation(const std::string& notation, int& shifts, bool& shiftsRight) {
  std::string reading;
  bool figures = false;
  const std::string figureChars = "-?:@3()8.,90147\"5=2/6+";
  for (std::size_t i = 0; i < notation.size(); ++i) {
    char c = notation[i];
    if (c == '#' || c == '%') {
      ++shifts;
      figures = c == '#';
    } else if (c == '<') {
      reading += '\n';
      ++i;
    } else {
      if (c >= 'A' && c <= 'Z' && figures) shiftsRight = false;
      if (figureChars.find(c) != std::string::npos && !figures) shiftsRight = false;
      reading += c;
    }
  }
  return reading;
}

TEST(EncodeText, UsesNoMoreShiftsThanTheChangesBetweenLettersAndFigures) {
  // Pieces of text with their reading and what they ask of the shift:
  // L letters, F figures, N neither.
  struct Piece {
    const char* Text;
    const char* Reading;
    char Needs;
  };
  const Piece pieces[] = {
      {"a", "A", 'L'},         {"Z", "Z", 'L'}, {"\xC3\xA4", "AE", 'L'}, {"\xC3\x9F", "SS", 'L'},
      {"\xC3\x9C", "UE", 'L'}, {"7", "7", 'F'}, {"@", "@", 'F'},         {"(", "(", 'F'},
      {"\"", "\"", 'F'},       {" ", " ", 'N'}, {"\t", " ", 'N'},        {"\n", "\n", 'N'},
      {"\r\n", "\n", 'N'},     {"|", "|", 'N'},
  };
  std::mt19937 generator(20261210);
  for (int round = 0; round < 200; ++round) {
    std::string text, reading;
    int changes = 0;
    char shift = 'L';
    int length = std::uniform_int_distribution<int>(0, 60)(generator);
    for (int i = 0; i < length; ++i) {
      const Piece& piece =
          pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(generator)];
      text += piece.Text;
      reading += piece.Reading;
      if (piece.Needs != 'N' && piece.Needs != shift) {
        ++changes;
        shift = piece.Needs;
      }
    }
    int shifts = 0;
    bool shiftsRight = true;
    EXPECT_EQ(ReadNotation(Encode(text), shifts, shiftsRight), reading) << text;
    EXPECT_TRUE(shiftsRight) << text;
    EXPECT_EQ(shifts, changes) << text;
  }
}

struct ProblemCase {
  std::string Text;
  std::int64_t Line, Column;
  std::string Bytes;
  bool Valid;
  std::string Description;
};

TEST(EncodeText, StopsAtTheFirstCharacterWithoutATeleprinterForm) {
  const std::vector<ProblemCase> cases = {
      {"ab\nc\xC3\xA9", 2, 2, "\xC3\xA9", true, "U+00E9 '\xC3\xA9' has no teleprinter form"},
      {"x\ry", 1, 2, "\r", true,
       "U+000D has no teleprinter form (a carriage return without a line feed)"},
      {"a\r\nb\r\n\r\n50%", 4, 3, "%", true,
       "U+0025 '%' has no teleprinter form (it is a control character of the notation)"},
      {"ok!", 1, 3, "!", true, "U+0021 '!' has no teleprinter form"},
      {"\xE2\x82\xAC 5", 1, 1, "\xE2\x82\xAC", true,
       "U+20AC '\xE2\x82\xAC' has no teleprinter form"},
      {"a\x01", 1, 2, "\x01", true, "U+0001 has no teleprinter form"},
      {"a\xFF", 1, 2, "\xFF", false, "byte 0xFF is not UTF-8"},
      // An encoded surrogate and an overlong form are not UTF-8.
      {"\xED\xA0\x80", 1, 1, "\xED", false, "byte 0xED is not UTF-8"},
      {"\xC0\xAF", 1, 1, "\xC0", false, "byte 0xC0 is not UTF-8"},
  };
  for (const ProblemCase& c : cases) {
    EncodeState state;
    EncodeProblem problem;
    std::string out;
    EXPECT_FALSE(EncodeText(c.Text, {}, state, out, problem)) << c.Text;
    EXPECT_EQ(problem.Line, c.Line) << c.Text;
    EXPECT_EQ(problem.Column, c.Column) << c.Text;
    EXPECT_EQ(problem.Bytes, c.Bytes) << c.Text;
    EXPECT_EQ(problem.Valid, c.Valid) << c.Text;
    EXPECT_EQ(DescribeProblem(problem), c.Description) << c.Text;
  }
}

TEST(EncodeText, WritesTheReplacementInPlaceOfEachSuchCharacterAndCountsThem) {
  EncodeOptions options;
  options.Replacement = '?';
  EncodeState state;
  EncodeProblem problem;
  std::string out;
  ASSERT_TRUE(EncodeText("a!b \xE2\x82\xAC\xFF c", options, state, out, problem));
  FinishEncoding(state, out);
  EXPECT_EQ(out, "A#?%B #??% C");
  EXPECT_EQ(state.Replaced, 3);
  EXPECT_EQ(Encode("x!y", 'q'), "XQY");
}

TEST(EncodeText, TakesAsReplacementOnlyCharactersThatReadTheSameBack) {
  for (char c : std::string("aZ1@- |\"")) EXPECT_TRUE(IsReplacementChar(c)) << c;
  for (char c : std::string("#%<*!\n\t\r~")) EXPECT_FALSE(IsReplacementChar(c)) << c;
}

TEST(MessageHeaderLength, RunsThroughTheByteAfterTheLastMessageKeyLetter) {
  struct Case {
    std::string Text;
    std::optional<std::size_t> Length;
  };
  const std::vector<Case> cases = {
      {kKeyLetters + " TEXT", kKeyLetters.size() + 1},
      {kKeyLetters + "\r\nTEXT", kKeyLetters.size() + 1},
      {kKeyLetters, kKeyLetters.size()},
      {"HHHHH QQQWW WEEER RRTTT ZZZUU UIIIO OOPPP\r\nX", 42},
      // Six H: the sixth is the byte after the marker, which is skipped.
      {"HHHHHHQQQWWWEEERRRTTTZZZUUUIIIOOOPPP X", 37},
      {"text before HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP rest", 58},
      {"no header at all", std::nullopt},
      {"HHHHH QQQ WWW", std::nullopt},
      {"HHHHH", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageHeaderLength(c.Text), c.Length) << c.Text;
}

TEST(ToUnixLineEnds, TurnsCrLfIntoLfAndLeavesEverythingElse) {
  EXPECT_EQ(ToUnixLineEnds("a\r\nb\rc\r\r\n\n"), "a\nb\rc\r\n\n");
}

}  // namespace
}  // namespace quarvel::companions
