#include "keyfile/key_reasons.h"

#include <cstdio>
#include <cstring>

#include "alphabet/teleprinter.h"
#include "generator/key_loading.h"
#include "io/io_error.h"

namespace quarvel {

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

std::string ByteText(std::uint8_t byte) {
  if (byte >= 32 && byte < 127)
    return std::string("'") + static_cast<char>(byte) + "' (" + Hex(byte) + ")";
  return Hex(byte);
}

std::string Visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte < 32 || byte == 127) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FileText(std::string_view role, std::string_view name) {
  std::string text(role);
  if (name.empty()) return text + " (standard input)";
  return text + " '" + Visible(name) + "'";
}

std::string Ordinal(std::int64_t n) {
  const char* suffix = "th";
  if (n % 100 < 11 || n % 100 > 13) {
    if (n % 10 == 1) suffix = "st";
    if (n % 10 == 2) suffix = "nd";
    if (n % 10 == 3) suffix = "rd";
  }
  return std::to_string(n) + suffix;
}

std::string SystemReason(int code) {
  if (code == kReadPastEnd) return "read past the end of the file";
  if (code == kSourceChanged) return "the source changed during the run";
  return std::strerror(code);
}

std::string RefusalLines(KeyItem item, const KeyPartFinding& finding, std::string_view partText,
                         std::string_view fileName) {
  const KeyItemInfo& part = InfoOf(item);
  const std::string head = std::string(part.Name) + ": ";
  const std::string file = FileText(part.Role, fileName);
  switch (finding.Fault) {
    case KeyFault::None:
      break;
    case KeyFault::NotFound:
      return head + part.KeywordKind + " " + std::string(part.Keyword) + " not found in " + file +
             "\n";
    case KeyFault::NotReopened:
      return head + file + " did not open again for the search: " + SystemReason(finding.Code) +
             "\n";
    case KeyFault::EndsInside:
      return head + file + " ends after " + std::to_string(finding.CharsRead) + " of the " +
             std::to_string(part.Count) + " " + part.Units + "\n";
    case KeyFault::NotALetter:
      for (std::size_t i = 0; i < partText.size(); ++i) {
        auto byte = static_cast<std::uint8_t>(partText[i]);
        if (!IsLetter(byte)) {
          return head + "the " + Ordinal(static_cast<std::int64_t>(i) + 1) +
                 " basic-key character is " + ByteText(byte) + ", not a letter\n";
        }
      }
      break;
    case KeyFault::UnequalGroup: {
      std::string lines;
      for (std::size_t g = 0; 3 * g + 3 <= partText.size(); ++g) {
        std::string_view group = partText.substr(3 * g, 3);
        if (group[0] != group[1] || group[1] != group[2]) {
          lines += head + "group " + std::to_string(g + 1) + " \"" + Visible(group) +
                   "\" is not three equal letters\n";
        }
      }
      return lines;
    }
    case KeyFault::NoMatrix:
      return head +
             "the structure key reaches no usable matrix: with this basic key and message key "
             "its weight never comes into " +
             std::to_string(kMinMatrixWeight) + " to " + std::to_string(kMaxMatrixWeight) + "\n";
  }
  return {};
}

std::string RefusalLines(const KeyReading& reading, std::string_view keyFileName,
                         std::string_view sourceName) {
  const std::string_view structure(reading.StructureKeyText.data(),
                                   reading.StructureKeyText.size());
  return RefusalLines(KeyItem::Structure, reading.StructureKeyFinding, structure, keyFileName) +
         RefusalLines(KeyItem::Basic, reading.BasicKeyFinding, reading.BasicKey, keyFileName) +
         RefusalLines(KeyItem::Message, reading.MessageKeyFinding, reading.MessageKeyText,
                      sourceName);
}

}  // namespace quarvel
