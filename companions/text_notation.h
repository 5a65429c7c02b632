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
// Decoding turns a deciphered text back into ordinary text: CR LF becomes LF
// and the message header is dropped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarvel::companions {

struct EncodeOptions {
  // Written in place of a character that has no teleprinter form; when not
  // set, such a character stops the encoding.
  std::optional<char> Replacement;
};

// Carries from one input to the next, so that several inputs give one text.
struct EncodeState {
  bool Figures = false;       // the shift in force at the end of the output
  std::string Pending;        // blanks and line ends after figures, held back
                              // until it is known whether letters follow
  std::int64_t Replaced = 0;  // characters replaced so far
};

// A character without a teleprinter form.
struct EncodeProblem {
  std::int64_t Line = 0;    // from 1
  std::int64_t Column = 0;  // from 1, in characters
  std::string Bytes;        // the character as it stands in the input
  bool Valid = true;        // false: the bytes are not valid UTF-8
  char32_t CodePoint = 0;   // when valid
};

// True for a character that --replace may name: a letter, a figure or sign
// of the tables, a space or "|".
bool IsReplacementChar(char c);

// Appends the notation of `text` to `out`. Returns false at the first
// character without a teleprinter form when no replacement is set, with
// `problem` describing it (`out` then holds a part of the notation).
bool EncodeText(std::string_view text, const EncodeOptions& options, EncodeState& state,
                std::string& out, EncodeProblem& problem);

// Appends what the last input left pending; the text then ends.
void FinishEncoding(EncodeState& state, std::string& out);

// How a problem is told to the user: "U+00E9 'é' has no teleprinter form".
std::string DescribeProblem(const EncodeProblem& problem);

// The length of the message header at the start of a deciphered text: from
// the start through the byte after the 30th message-key letter, found as the
// programs find it ("HHHHH", one byte skipped, then 30 letters with anything
// else passed over before each but the last). Nothing when the text holds no
// complete header.
std::optional<std::size_t> MessageHeaderLength(std::string_view text);

// CR LF to LF; every other byte as it is.
std::string ToUnixLineEnds(std::string_view text);

}  // namespace quarvel::companions
