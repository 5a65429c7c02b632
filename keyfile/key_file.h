// The key file and the message-key header: the three key parts of a run.
//
// Key file: "STRUKTURSCHLUESSEL" followed by 128 binary digits and
// "GRUNDSCHLUESSEL" followed by 10 letters, in either order, with any other
// text around them. Message header at the head of a text: "HHHHH" followed by
// ten groups of three equal letters.
#pragma once

#include <string_view>

namespace quarvel {

struct RunState;

inline constexpr std::string_view kStructureKeyword = "STRUKTURSCHLUESSEL";
inline constexpr std::string_view kBasicKeyword = "GRUNDSCHLUESSEL";
inline constexpr std::string_view kMessageKeyMarker = "HHHHH";
inline constexpr int kStructureKeyLength = 128;
inline constexpr int kBasicKeyLength = 10;
inline constexpr int kMessageKeyGroups = 10;

// Reads the structure key and the basic key from the key file and the message
// key from the run's source (the plain text in mode C, the cipher text in
// mode D). Leaves TextPosition after the last message-key character and
// gives the verdict on each part:
// - structure key refused: keyword missing, the file ends inside the key, or
//   (when the other two parts are accepted) the matrix cannot reach its
//   weight window;
// - basic key refused: keyword missing, the file ends inside the key, or one
//   of its 10 characters is not a letter;
// - message key refused: marker missing, the source ends inside the groups,
//   or a group is not three equal letters.
void ReadKeyFile(RunState& state);

}  // namespace quarvel
