// Reads a key file back with the programs' own key reader, as a run would
// read it before enciphering.
#pragma once

#include <string>

namespace quarvel::companions {

struct KeyCheck {
  bool Accepted = false;
  // The key reader refused a key part: another key may pass. Otherwise a
  // key that is not accepted means the check itself could not be made.
  bool Refused = false;
  std::string Reason;  // why not, when not accepted
};

// Reads the structure key and the basic key from `keyFileName` and the
// message key from `header` (written to a temporary file for the reader),
// and accepts the key when the reader refuses none of the three parts and
// the key file holds exactly `structureKey` (128 digits) and `basicKey`.
// Nothing is written to the console and nothing waits for input.
KeyCheck CheckKeyFile(const std::string& keyFileName, const std::string& header,
                      const std::string& structureKey, const std::string& basicKey);

}  // namespace quarvel::companions
