// What the key reader found of a key part, and why it refused one.
#pragma once

#include <cstdint>

namespace quarvel {

// Why the key reader refused a key part.
enum class KeyFault : std::uint8_t {
  None,
  NotFound,      // keyword or marker missing
  NotReopened,   // the file did not open again for the search
  EndsInside,    // the file ends before the last character
  NotALetter,    // a basic-key character is not a letter
  UnequalGroup,  // a message-key group is not three equal letters
  NoMatrix,      // the structure key gives no matrix of usable weight
};

// What the key reader found of one key part, for the diagnostics.
struct KeyPartFinding {
  KeyFault Fault = KeyFault::None;
  std::int32_t Code = 0;       // NotReopened: the platform's error code
  std::int32_t CharsRead = 0;  // EndsInside: the characters read before the end
  std::int64_t End = -1;       // read whole: the offset after its last character
};

}  // namespace quarvel
