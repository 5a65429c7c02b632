// A cipher text that mail or a person has damaged in its layout, written
// back in the layout the programs write.
//
// The header is taken from the first "HHHHH" (in either case) through the
// 30th message-key letter; what stands before it is dropped. The letters
// after it are the cipher letters: line breaks, blanks, tabs and mail
// quoting ("> ") inside and between groups are passed over, and small
// letters are taken as capitals. They end before the first line that cannot
// be a line of groups: an empty line, a line quoted otherwise than the
// header's, a line with anything but letters, blanks and tabs, a word in
// mixed case, a word that would run over the end of a group, or a line that
// starts a group and holds only a part of one (a greeting, a signature).
//
// The result is "HHHHH", a blank, the ten groups of three message-key
// letters each followed by a blank, then the cipher letters in groups of
// five, a blank between groups, four groups on the first line and ten on
// every further one, lines ending in CR LF; the last group as it came, with
// nothing after it. Letters and their order are never changed, added or
// dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::companions {

struct RegroupResult {
  bool HeaderFound = false;        // false: nothing to write; see Problem
  std::string Problem;             // why there is no header
  std::string Text;                // the cipher text in its layout
  std::int64_t DroppedBefore = 0;  // bytes before the marker, dropped
  std::int64_t Letters = 0;        // cipher letters kept
  std::int64_t EndLine = 0;        // the line (from 1) before which the cipher
                                   // letters end; 0: they run to the end
  std::string EndText;             // the start of that line, for the user
  std::int64_t LinesLeftOut = 0;   // lines from EndLine to the end
};

RegroupResult Regroup(std::string_view text);

}  // namespace quarvel::companions
