// Reads a key file with the programs' own key reader, and the check value
// by which two partners make sure that they hold the same key.
#pragma once

#include <string>
#include <string_view>

namespace quarvel::companions {

// The key of a key file as the programs read it.
struct KeyFileKey {
  // The file was read and the key reader refuses neither part.
  bool Accepted = false;
  // The key reader refused a part: the file was read.
  bool Refused = false;
  // Why not, when not accepted: one or more lines, each ending in a line
  // feed.
  std::string Reason;
  std::string StructureKey;  // the 128 characters read
  std::string BasicKey;      // the 10 characters read
};

// Reads the structure key and the basic key of a key file, as every run
// reads them. A part is refused when its keyword is missing, the file ends
// inside it, or (the basic key) one of its characters is not a letter.
// "-" reads standard input.
KeyFileKey ReadKeyOfFile(const std::string& keyFileName);

struct KeyCheck {
  bool Accepted = false;
  // The key reader refused a key part: another key may pass. Otherwise a
  // key that is not accepted means the check itself could not be made.
  bool Refused = false;
  std::string Reason;      // why not, when not accepted (lines, as above)
  std::string CheckValue;  // of the key read, when accepted
};

// Reads the structure key and the basic key from `keyFileName` and the
// message key from `header`, and accepts the key when the reader refuses
// none of the three parts and the key file holds exactly `structureKey`
// (128 digits) and `basicKey`.
KeyCheck CheckKeyFile(const std::string& keyFileName, const std::string& header,
                      const std::string& structureKey, const std::string& basicKey);

// The check value of a key: two groups of four capitals and figures
// ("K7QM 2XD9"), from a cryptographic hash of the key as the programs load
// it: the 128 structure-key characters as binary digits (their lowest bit,
// which is what counts) and the 10 basic-key letters as capitals. The same
// key in any layout gives the same value; it tells nothing of the key.
std::string KeyCheckValue(std::string_view structureKey, std::string_view basicKey);

}  // namespace quarvel::companions
