// Why the key reader refused a key part, in the words of the diagnostics;
// and the pieces those words are made of, which name files and bytes so that
// a person finds them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "keyfile/key_file.h"

namespace quarvel {

// "0x2A".
std::string Hex(std::uint8_t byte);

// A byte as the user would look for it: "'!' (0x21)", or "0x0A".
std::string ByteText(std::uint8_t byte);

// Bytes of a name or key text, with control bytes written as \xNN so that
// every diagnostic stays on its line.
std::string Visible(std::string_view text);

// "Quelldatei 'brief.txt'", or "Quelldatei (standard input)".
std::string FileText(std::string_view role, std::string_view name);

// "1st", "2nd", "11th", "128th".
std::string Ordinal(std::int64_t n);

// The system's reason for an error code; code 100 is a read past the end.
std::string SystemReason(int code);

// The lines, each ending in a line feed, that say why the part `item` was
// refused, or nothing when it was not. `partText` is what was read of the
// part (the basic key, or the 30 characters behind the marker), `fileName`
// the name of the file it was read from.
std::string RefusalLines(KeyItem item, const KeyPartFinding& finding, std::string_view partText,
                         std::string_view fileName);

// The lines for every refused part of a reading; the message key's from
// `sourceName`.
std::string RefusalLines(const KeyReading& reading, std::string_view keyFileName,
                         std::string_view sourceName);

}  // namespace quarvel
