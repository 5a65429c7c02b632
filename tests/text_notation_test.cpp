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

std::string Encode(const std::string& text, std::optional<char> replacement = std::nullopt,
                   bool transliterate = false) {
  EncodeOptions options;
  options.Replacement = replacement;
  options.Transliterate = transliterate;
  EncodeState state;
  std::string out;
  EXPECT_TRUE(EncodeText(text, options, state, out))
      << (state.Problems.empty() ? "" : DescribeProblem(state.Problems[0]));
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
  std::string out;
  ASSERT_TRUE(EncodeText("am 12 ", {}, state, out));
  ASSERT_TRUE(EncodeText("13 Uhr", {}, state, out));
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

TEST(EncodeText, RecordsEachCharacterWithoutATeleprinterFormWithItsPlace) {
  const std::vector<ProblemCase> cases = {
      {"ab\nc\xC3\xA9", 2, 2, "\xC3\xA9", true,
       "U+00E9 '\xC3\xA9' has no teleprinter form (--translit: 'E')"},
      {"x\ry", 1, 2, "\r", true,
       "U+000D has no teleprinter form (a carriage return without a line feed)"},
      {"a\r\nb\r\n\r\n50%", 4, 3, "%", true,
       "U+0025 '%' has no teleprinter form (it is a control character of the notation; "
       "--translit: 'PROZENT')"},
      {"ok!", 1, 3, "!", true, "U+0021 '!' has no teleprinter form (--translit: '.')"},
      {"don't", 1, 4, "'", true, "U+0027 ''' has no teleprinter form (--translit drops it)"},
      {"\xE2\x82\xAC 5", 1, 1, "\xE2\x82\xAC", true,
       "U+20AC '\xE2\x82\xAC' has no teleprinter form (--translit: 'EUR')"},
      {"a\x01", 1, 2, "\x01", true, "U+0001 has no teleprinter form"},
      {"\xD0\x96", 1, 1, "\xD0\x96", true, "U+0416 '\xD0\x96' has no teleprinter form"},
  };
  for (const ProblemCase& c : cases) {
    EncodeState state;
    std::string out;
    EXPECT_FALSE(EncodeText(c.Text, {}, state, out)) << c.Text;
    ASSERT_EQ(state.Problems.size(), 1u) << c.Text;
    const EncodeProblem& problem = state.Problems[0];
    EXPECT_EQ(problem.Line, c.Line) << c.Text;
    EXPECT_EQ(problem.Column, c.Column) << c.Text;
    EXPECT_EQ(problem.Bytes, c.Bytes) << c.Text;
    EXPECT_EQ(problem.Valid, c.Valid) << c.Text;
    EXPECT_EQ(DescribeProblem(problem), c.Description) << c.Text;
  }
}

TEST(EncodeText, GoesOnPastProblemsAndKeepsTheFirstTwentyWithTheirInput) {
  EncodeState state;
  std::string out;
  state.Input = "a.txt";
  EXPECT_FALSE(EncodeText("1!\n\xE2\x80\x93x!", {}, state, out));
  state.Input = "b.txt";
  EXPECT_TRUE(EncodeText("fine", {}, state, out));
  state.Input = "c.txt";
  EXPECT_FALSE(EncodeText(std::string(30, ';'), {}, state, out));
  EXPECT_EQ(state.ProblemCount, 33);
  ASSERT_EQ(state.Problems.size(), kListedProblems);
  EXPECT_EQ(state.Problems[0].Input, "a.txt");
  EXPECT_EQ(state.Problems[1].Line, 2);
  EXPECT_EQ(state.Problems[1].Column, 1);
  EXPECT_EQ(state.Problems[2].Column, 3);
  EXPECT_EQ(state.Problems[3].Input, "c.txt");
  EXPECT_EQ(state.Problems[19].Column, 17);
}

TEST(EncodeText, StopsAtTheFirstByteThatIsNotUtf8AndSaysHowToReadTheFile) {
  const std::vector<ProblemCase> cases = {
      {"a\xFF!\xFE", 1, 2, "\xFF", false, ""},
      // An encoded surrogate and an overlong form are not UTF-8.
      {"\xED\xA0\x80", 1, 1, "\xED", false, ""},
      {"x\n\xC0\xAF", 2, 1, "\xC0", false, ""},
  };
  for (const ProblemCase& c : cases) {
    EncodeState state;
    std::string out;
    EXPECT_FALSE(EncodeText(c.Text, {}, state, out)) << c.Text;
    ASSERT_EQ(state.Problems.size(), 1u) << c.Text;
    EXPECT_EQ(state.Problems[0].Line, c.Line) << c.Text;
    EXPECT_EQ(state.Problems[0].Column, c.Column) << c.Text;
    EXPECT_EQ(state.Problems[0].Bytes, c.Bytes) << c.Text;
    EXPECT_FALSE(state.Problems[0].Valid);
  }
  EncodeProblem problem{"", 1, 1, "\xFC", false, 0};
  EXPECT_EQ(DescribeProblem(problem),
            "byte 0xFC is not UTF-8: the file is not UTF-8 text; if it is Latin-1, convert it "
            "(iconv -f latin1) or read it with --from latin1");
}

TEST(Latin1ToUtf8, GivesEachByteItsCharacter) {
  EXPECT_EQ(Latin1ToUtf8("M\xFCller \xA7 5\xFF"), "M\xC3\xBCller \xC2\xA7 5\xC3\xBF");
  EXPECT_EQ(Encode(Latin1ToUtf8("Gr\xFC\xDF"
                                "e")),
            "GRUESSE");
}

TEST(EncodeText, WithTransliterationWritesWhatATelegramWould) {
  const std::vector<EncodeCase> cases = {
      {"\xE2\x80\x9E"
       "Die Akte\xE2\x80\x9C",
       "#\"%DIE AKTE#\""},
      {"2026!", "#2026."},
      {"ja; nein", "JA#,% NEIN"},
      {"a \xE2\x80\x93 b \xE2\x80\x94 c", "A #-% B #-% C"},
      {"und so\xE2\x80\xA6", "UND SO#..."},
      // Words of the table stand apart from letters and figures.
      {"50%", "#50% PROZENT"},
      {"50 %", "#50% PROZENT"},
      {"12\xE2\x82\xAC", "#12% EUR"},
      {"M\xC3\xBCller & S\xC3\xB6hne", "MUELLER UND SOEHNE"},
      {"A&O", "A UND O"},
      {"2\xC2\xBD Tage", "#2 1/2% TAGE"},
      {"\xC2\xA7"
       "5",
       "PARAGRAPH #5"},
      {"[1]", "#(1)"},
      {"Caf\xC3\xA9 Fran\xC3\xA7ois Espa\xC3\xB1"
       "a",
       "CAFE FRANCOIS ESPANA"},
      {"\xC3\xA6 \xC3\xB8 \xC5\x93 \xC3\xA5", "AE OE OE AA"},
      {"it\xE2\x80\x99s Peter's", "ITS PETERS"},
      {"a\xC2\xA0"
       "b\xE2\x80\xAF"
       "c",
       "A B C"},
      {"Zu\xC2\xAD"
       "cker\xE2\x80\x8B\xEF\xBB\xBF",
       "ZUCKER"},
      // Umlauts, figures and line ends as without it.
      {"\xC3\x84 1\n", "AE #1<*"},
  };
  for (const EncodeCase& c : cases) EXPECT_EQ(Encode(c.Text, {}, true), c.Notation) << c.Text;
  // What the table does not cover takes the replacement.
  EXPECT_EQ(Encode("\xD0\x96!", '?', true), "#?.");
}

TEST(TransliterationTable, HoldsOnlyFormsThatEncodeAsThemselves) {
  for (const Transliteration& entry : TransliterationTable()) {
    std::string form(entry.Form);
    EncodeState state;
    std::string out;
    EXPECT_TRUE(EncodeText(form, {}, state, out))
        << std::hex << static_cast<unsigned>(entry.CodePoint);
    FinishEncoding(state, out);
    int shifts = 0;
    bool shiftsRight = true;
    EXPECT_EQ(ReadNotation(out, shifts, shiftsRight), form)
        << std::hex << static_cast<unsigned>(entry.CodePoint);
    EXPECT_EQ(TransliterationOf(entry.CodePoint), entry.Form);
  }
  // Characters with a form of their own are not in it.
  for (char32_t cp : {U'A', U'a', U'1', U'(', U'|', U' ', U'\n', U'\u00E4', U'\u00DF'}) {
    EXPECT_FALSE(TransliterationOf(cp)) << std::hex << static_cast<unsigned>(cp);
  }
}

TEST(EncodeText, WritesTheReplacementInPlaceOfEachSuchCharacterAndCountsThem) {
  EncodeOptions options;
  options.Replacement = '?';
  EncodeState state;
  std::string out;
  ASSERT_TRUE(EncodeText("a!b \xE2\x82\xAC\xFF c", options, state, out));
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
