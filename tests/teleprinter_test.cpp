// The teleprinter alphabet: characters to codes and back, with the shift state.
//
// The expected tables below are written out independently of the program's
// own tables.
#include "alphabet/teleprinter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarvel {
namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::uint8_t kLetterCodes[26] = {24, 19, 14, 18, 16, 22, 11, 5,  12, 26, 30, 9,  7,
                                           6,  3,  13, 29, 10, 20, 1,  28, 15, 25, 23, 21, 17};
// The figure of the same code, "@" where the code has none.
constexpr char kFigures[] = "-?:@3@@@8@().,9014\"57=2/6+";

struct Control {
  char Char;
  std::uint8_t Code;
};
constexpr Control kControls[] = {{'|', 0}, {'<', 2}, {' ', 4}, {'*', 8}, {'#', 27}, {'%', 31}};

std::uint8_t ToCode(std::uint8_t byte) {
  CharToCode(byte);
  return byte;
}

std::uint8_t ToChar(std::uint8_t byte, bool& lettersShift) {
  CodeToChar(byte, lettersShift);
  return byte;
}

bool InAnyTable(std::uint8_t byte) {
  return std::string(kLetters).find(static_cast<char>(byte)) != std::string::npos ||
         std::string(kFigures).find(static_cast<char>(byte)) != std::string::npos ||
         std::string("|< *#%").find(static_cast<char>(byte)) != std::string::npos;
}

TEST(Teleprinter, EveryLetterRoundTripsInLettersShift) {
  for (int p = 0; p < 26; ++p) {
    SCOPED_TRACE(kLetters[p]);
    std::uint8_t code = ToCode(static_cast<std::uint8_t>(kLetters[p]));
    EXPECT_EQ(code, kLetterCodes[p]);
    bool letters = true;
    EXPECT_EQ(ToChar(code, letters), static_cast<std::uint8_t>(kLetters[p]));
    EXPECT_TRUE(letters);
  }
}

TEST(Teleprinter, EveryFigureRoundTripsInFiguresShift) {
  for (int p = 0; p < 26; ++p) {
    if (kFigures[p] == '@') continue;
    SCOPED_TRACE(kFigures[p]);
    std::uint8_t code = ToCode(static_cast<std::uint8_t>(kFigures[p]));
    EXPECT_EQ(code, kLetterCodes[p]);
    bool letters = false;
    EXPECT_EQ(ToChar(code, letters), static_cast<std::uint8_t>(kFigures[p]));
    EXPECT_FALSE(letters);
  }
}

TEST(Teleprinter, AtSignTakesTheCodeOfD) {
  EXPECT_EQ(ToCode('@'), 18);
  // D, F, G, H and J have no figure of their own.
  for (std::uint8_t code : {18, 22, 11, 5, 26}) {
    SCOPED_TRACE(static_cast<int>(code));
    bool letters = false;
    EXPECT_EQ(ToChar(code, letters), '@');
    EXPECT_FALSE(letters);
  }
  // And back: "@" by way of the code of D.
  bool letters = false;
  EXPECT_EQ(ToChar(ToCode('@'), letters), '@');
}

TEST(Teleprinter, ShiftPicksLetterOrFigureForTheSameCode) {
  const std::uint8_t codes[] = {24, 19, 14};
  const char letters[] = "ABC";
  const char figures[] = "-?:";
  for (int i = 0; i < 3; ++i) {
    bool shift = true;
    EXPECT_EQ(ToChar(codes[i], shift), static_cast<std::uint8_t>(letters[i]));
    shift = false;
    EXPECT_EQ(ToChar(codes[i], shift), static_cast<std::uint8_t>(figures[i]));
  }
}

TEST(Teleprinter, ControlCharactersRoundTripInEitherShift) {
  for (const Control& control : kControls) {
    SCOPED_TRACE(control.Char);
    EXPECT_EQ(ToCode(static_cast<std::uint8_t>(control.Char)), control.Code);
    for (bool start : {true, false}) {
      bool letters = start;
      EXPECT_EQ(ToChar(control.Code, letters), static_cast<std::uint8_t>(control.Char));
      // Only the two shift characters change the state.
      bool expected = control.Char == '%' ? true : control.Char == '#' ? false : start;
      EXPECT_EQ(letters, expected);
    }
  }
}

TEST(Teleprinter, EveryCodeHasACharacterThatGivesItBack) {
  for (bool start : {true, false}) {
    for (int code = 0; code < 32; ++code) {
      bool letters = start;
      std::uint8_t c = ToChar(static_cast<std::uint8_t>(code), letters);
      EXPECT_GE(c, 32);
      EXPECT_EQ(ToCode(c), code == 22 || code == 11 || code == 5 || code == 26
                               ? (start ? code : 18)  // "@" comes back as the code of D
                               : code);
    }
  }
}

TEST(Teleprinter, ShiftCharactersSwitchTheStateForWhatFollows) {
  // Figures shift, E's code, letters shift, E's code.
  const std::uint8_t codes[] = {27, 16, 31, 16};
  const char expected[] = "#3%E";
  const bool stateAfter[] = {false, false, true, true};
  bool letters = true;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ToChar(codes[i], letters), static_cast<std::uint8_t>(expected[i]));
    EXPECT_EQ(letters, stateAfter[i]);
  }
}

TEST(Teleprinter, BytesOutsideTheTablesStayInBothDirections) {
  for (int b = 0; b < 256; ++b) {
    std::uint8_t byte = static_cast<std::uint8_t>(b);
    if (InAnyTable(byte)) continue;
    SCOPED_TRACE(b);
    EXPECT_EQ(ToCode(byte), byte);
    if (byte >= 32) {
      for (bool start : {true, false}) {
        bool letters = start;
        EXPECT_EQ(ToChar(byte, letters), byte);
        EXPECT_EQ(letters, start);
      }
    }
  }
  // No case folding, and CR / LF are not the notation of carriage return and
  // line feed.
  EXPECT_EQ(ToCode('a'), 'a');
  EXPECT_EQ(ToCode(13), 13);
  EXPECT_EQ(ToCode(10), 10);
}

TEST(Teleprinter, ShiftCharacterGivenAsAByteStillSwitches) {
  // "%" and "#" are 32 or more, so they stay as they are, but the state
  // follows them all the same.
  bool letters = false;
  EXPECT_EQ(ToChar('%', letters), '%');
  EXPECT_TRUE(letters);
  EXPECT_EQ(ToChar('#', letters), '#');
  EXPECT_FALSE(letters);
  EXPECT_EQ(ToChar('!', letters), '!');
  EXPECT_FALSE(letters);
}

}  // namespace
}  // namespace quarvel
