#include "coding/teleprinter.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(Teleprinter, LettersRoundTrip) {
  for (int p = 0; p < 26; ++p) {
    std::uint8_t c = static_cast<std::uint8_t>(LetterChars[p]);
    CharToCode(c);
    EXPECT_EQ(c, LetterCodes[p]);
    bool letters = true;
    CodeToChar(c, letters);
    EXPECT_EQ(c, static_cast<std::uint8_t>(LetterChars[p]));
  }
}

}  // namespace
}  // namespace quarvel
