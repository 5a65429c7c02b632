// Ordinary text and the teleprinter notation of a message.
//
// Encoding turns UTF-8 text into the notation: letters in capitals, umlauts
// and sharp s spelt out (AE, OE, UE, SS), figures and signs between "#" and
// "%", a line end as "<*", a tab as a space. The shift characters are as few
// as the text allows: a text starts in letters, and a shift is written only
// where a character needs the other shift. Space, the blank "|" and line
// ends read the same in both shifts and never cause one; the figures stand
// closely between their shifts, so that "um 14:30 Uhr" gives
// "UM #14:30% UHR".
//
// With transliteration, characters without a teleprinter form become what
// a telegram or telex writer would put in their place: typographic quotes
// the plain quote, dashes a hyphen, "!" a full stop, "EUR" for the euro
// sign, accented letters their base letter, and so on.
//
// Decoding turns a deciphered text back into ordinary text: CR LF becomes LF
// and the message header is dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarvel::companions {

struct EncodeOptions {
  // Characters without a teleprinter form take their form from the
  // transliteration table (TransliterationTable) where it has one.
  bool Transliterate = false;
  // Written in place of a character that has no teleprinter form (after the
  // table, when that is used); when not set, such a character is a problem.
  std::optional<char> Replacement;
};

// A character without a teleprinter form.
struct EncodeProblem {
  std::string Input;        // the input's name in messages
  std::int64_t Line = 0;    // from 1
  std::int64_t Column = 0;  // from 1, in characters
  std::string Bytes;        // the character as it stands in the input
  bool Valid = true;        // false: the bytes are not valid UTF-8
  char32_t CodePoint = 0;   // when valid
};

// At most this many problems are kept to be listed; the rest are counted.
inline constexpr std::size_t kListedProblems = 20;

// Carries from one input to the next, so that several inputs give one text.
struct EncodeState {
  bool Figures = false;                 // the shift in force at the end of the output
  std::string Pending;                  // blanks and line ends after figures, held back
                                        // until it is known whether letters follow
  bool AfterWordChar = false;           // the last character written is a letter or figure
  std::int64_t Replaced = 0;            // characters replaced so far
  std::string Input;                    // the name of the input being encoded
  std::vector<EncodeProblem> Problems;  // the first kListedProblems problems
  std::int64_t ProblemCount = 0;        // all problems so far
};

// One entry of the transliteration table: a character and what it becomes,
// in characters that have a teleprinter form; empty: it is dropped.
struct Transliteration {
  char32_t CodePoint;
  std::string_view Form;
};

// The transliteration table, by code point.
std::span<const Transliteration> TransliterationTable();

// The form of a character in the transliteration table, or nothing.
std::optional<std::string_view> TransliterationOf(char32_t codePoint);

// True for a character that --replace may name: a letter, a figure or sign
// of the tables, a space or "|".
bool IsReplacementChar(char c);

// Appends the notation of `text` to `out`. A character without a
// teleprinter form (and without a replacement) is recorded in
// state.Problems and the encoding goes on past it; the first byte that is
// not UTF-8 is recorded and ends the encoding of this text (with a
// replacement, each such byte is replaced too). Returns true when this text
// had no problem.
bool EncodeText(std::string_view text, const EncodeOptions& options, EncodeState& state,
                std::string& out);

// Appends what the last input left pending; the text then ends.
void FinishEncoding(EncodeState& state, std::string& out);

// How a problem is told to the user: "U+00E9 'é' has no teleprinter form
// (--translit: E)".
std::string DescribeProblem(const EncodeProblem& problem);

// ISO 8859-1 text in UTF-8: every byte is the character of that code.
std::string Latin1ToUtf8(std::string_view text);

// The length of the message header at the start of a deciphered text: from
// the start through the byte after the 30th message-key letter, found as the
// programs find it ("HHHHH", one byte skipped, then 30 letters with anything
// else passed over before each but the last). Nothing when the text holds no
// complete header.
std::optional<std::size_t> MessageHeaderLength(std::string_view text);

// CR LF to LF; every other byte as it is.
std::string ToUnixLineEnds(std::string_view text);

}  // namespace quarvel::companions
