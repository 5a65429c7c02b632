// A cipher text damaged in its layout, and what regrouping gives back: the
// layout of the programs, every letter in its place, the end of the groups
// before a greeting or signature, and the header it cannot do without.
#include "companions/regroup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/run_fixtures.h"

namespace quarvel::companions {
namespace {

using quarvel::testing::kHeader;

// Groups in the layout of the programs: four on the first line, ten on
// each further one, the last line short.
std::string Groups(int count) {
  std::string text;
  for (int g = 0; g < count; ++g) {
    if (g > 0) text += (g - 4) % 10 == 0 ? "\r\n" : " ";
    for (int k = 0; k < 5; ++k) text += static_cast<char>('A' + (g * 5 + k) % 26);
  }
  return text;
}

const std::string kCipher = kHeader + Groups(33);

// Every line cut after `width` bytes, as a mail program re-wraps it.
std::string Folded(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t column = 0;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      column = 0;
    } else if (column++ == width) {
      out += '\n';
      column = 1;
    }
    out += c;
  }
  return out;
}

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

std::string Quoted(const std::string& text, const std::string& quote) {
  std::string out = quote;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) out += quote;
  }
  return out;
}

TEST(Regroup, GivesBackTheLayoutOfTheProgramsWhateverTheMailDidToIt) {
  struct Case {
    const char* Name;
    std::string Text;
    std::int64_t EndLine;
  };
  const std::string body = kCipher.substr(kHeader.size());
  const std::vector<Case> cases = {
      {"AsWritten", kCipher, 0},
      {"FoldedAt40", Folded(kCipher, 40), 0},
      {"FoldedAt7", Folded(kCipher, 7), 0},
      {"BodyLowerCased", kHeader + Lower(body), 0},
      {"AllLowerCased", Lower(kCipher) + "\r\n", 0},
      {"QuotedBetweenGreetingAndSignature",
       "Hallo Anna,\n\nhier die Nachricht:\n\n" + Quoted(kCipher + "\r\n", "> ") +
           "\nViele Gruesse\nHans\n",
       9},
      {"QuotedTwiceAndFolded", Quoted(Folded(kCipher, 30) + "\n", ">> "), 0},
      // A line break inside a group that a later edit turned into a blank.
      {"BrokenGroupsJoinedByBlanks", kHeader + "ABCD E" + body.substr(5), 0},
      {"TabsAndBlanksBetweenGroups", kHeader + "ABCDE\t FGHIJ" + body.substr(11), 0},
      {"SignatureRightUnderTheGroups", kCipher + "\r\nGruss Hans\r\n", 5},
      {"GreetingOnTheHeaderLine", "Hier: " + kCipher + "\nTschuess", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RegroupResult r = Regroup(c.Text);
    ASSERT_TRUE(r.HeaderFound) << r.Problem;
    EXPECT_EQ(r.Text, kCipher);
    EXPECT_EQ(r.Letters, 33 * 5);
    EXPECT_EQ(r.EndLine, c.EndLine);
  }
}

TEST(Regroup, KeepsALastGroupThatIsNotWholeAsItCame) {
  RegroupResult r = Regroup(Folded(kCipher.substr(0, kCipher.size() - 2), 40));
  ASSERT_TRUE(r.HeaderFound);
  EXPECT_EQ(r.Letters, 33 * 5 - 2);
  EXPECT_EQ(r.Text, kCipher.substr(0, kCipher.size() - 2));
  // A text that ends on a whole group loses the separator after it only.
  r = Regroup(kHeader + Groups(14) + " ");
  EXPECT_EQ(r.Text, kHeader + Groups(14));
}

TEST(Regroup, EndsTheGroupsBeforeALineThatCannotBeOne) {
  struct Case {
    const char* Name;
    std::string After;  // the line after the fourth line of groups
    std::string EndText;
  };
  const std::vector<Case> cases = {
      {"EmptyLine", "\n\nFGHIJ", "FGHIJ"},
      {"Punctuation", "\n-- \nHans", "--"},
      {"MixedCase", "\nDanke", "Danke"},
      {"WordLongerThanAGroup", "\nVIELE GRUESSE", "VIELE GRUESSE"},
      {"PartOfAGroupAlone", "\nHANS", "HANS"},
      {"OtherQuoting", "\n> FGHIJ", "FGHIJ"},
  };
  const std::string start = kHeader + Groups(34);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RegroupResult r = Regroup(start + c.After);
    ASSERT_TRUE(r.HeaderFound);
    EXPECT_EQ(r.Text, start);
    EXPECT_EQ(r.EndLine, 5);
    EXPECT_EQ(r.EndText, c.EndText);
    EXPECT_EQ(r.LinesLeftOut, c.Name == std::string("Punctuation") ? 2 : 1);
  }
}

TEST(Regroup, NeedsTheWholeHeader) {
  struct Case {
    std::string Text;
    std::string Problem;
  };
  const std::vector<Case> cases = {
      {"ABCDE FGHIJ", "no message header (HHHHH)"},
      {"HHHHH QQQ WWW\r\n", "the header ends after 6 of its 30 message-key letters"},
      {"HHHHH QQQ WW1 EEE", "the message key is damaged at line 1: '1' after 5 of its 30 letters"},
      {"HHHHHH QQQ",
       "a letter directly follows HHHHH at line 1; the programs pass over the byte "
       "after the marker, so a blank belongs there"},
  };
  for (const Case& c : cases) {
    RegroupResult r = Regroup(c.Text);
    EXPECT_FALSE(r.HeaderFound) << c.Text;
    EXPECT_EQ(r.Problem, c.Problem) << c.Text;
  }
  // A header split by a line break, in small letters, is whole.
  RegroupResult r = Regroup("hhhhh qqq www eee rrr ttt zzz\nuuu iii ooo ppp abcde");
  ASSERT_TRUE(r.HeaderFound);
  EXPECT_EQ(r.Text, kHeader + "ABCDE");
  EXPECT_EQ(r.DroppedBefore, 0);
  EXPECT_EQ(Regroup("Nr 7\n" + kHeader).DroppedBefore, 5);
  // Text right after the message key ends the groups there.
  r = Regroup(kHeader + "Viele Gruesse\nHans");
  EXPECT_EQ(r.Text, kHeader);
  EXPECT_EQ(r.EndLine, 1);
  EXPECT_EQ(r.EndText, "Viele Gruesse");
  EXPECT_EQ(r.LinesLeftOut, 2);
}

}  // namespace
}  // namespace quarvel::companions
