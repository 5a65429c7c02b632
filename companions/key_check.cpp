#include "companions/key_check.h"

#include <sodium.h>

#include <array>
#include <cstdint>
#include <stdexcept>

#include "alphabet/teleprinter.h"
#include "companions/cli.h"
#include "keyfile/key_file.h"
#include "keyfile/key_reasons.h"

namespace quarvel::companions {

namespace {

KeyFileKey KeyOf(const KeyReading& reading) {
  KeyFileKey key;
  key.StructureKey.assign(reading.StructureKeyText.begin(), reading.StructureKeyText.end());
  key.BasicKey = reading.BasicKey;
  return key;
}

// The hashed text begins with this, so that the value is of this use alone.
constexpr std::string_view kCheckValueContext = "quarvel key check value 1\n";

// 32 capitals and figures, without 0, 1, I and O, which are misheard and
// misread for one another.
constexpr std::string_view kCheckValueSymbols = "23456789ABCDEFGHJKLMNPQRSTUVWXYZ";

}  // namespace

KeyFileKey ReadKeyOfFile(const std::string& keyFileName) {
  std::string bytes, error;
  if (!ReadWholeFile(keyFileName, bytes, error)) {
    KeyFileKey key;
    key.Reason = error + "\n";
    return key;
  }
  // Standard input is named as the programs name it.
  const std::string name = keyFileName == "-" ? "" : keyFileName;
  const KeyReading reading = ReadKeyFileBytes(bytes, name);
  KeyFileKey key = KeyOf(reading);
  key.Refused = reading.StructureKeyRefused || reading.BasicKeyRefused;
  key.Accepted = !key.Refused;
  if (key.Refused) key.Reason = RefusalLines(reading, name, "");
  return key;
}

KeyCheck CheckKeyFile(const std::string& keyFileName, const std::string& header,
                      const std::string& structureKey, const std::string& basicKey) {
  KeyCheck check;
  std::string bytes;
  if (!ReadWholeFile(keyFileName, bytes, check.Reason)) {
    check.Reason += "\n";
    return check;
  }
  constexpr std::string_view kHeaderName = "(new message header)";
  const KeyReading reading = ReadKeyBytes(bytes, keyFileName, header, kHeaderName);
  const KeyFileKey key = KeyOf(reading);
  check.Refused =
      reading.StructureKeyRefused || reading.BasicKeyRefused || reading.MessageKeyRefused;
  if (check.Refused) {
    check.Reason = RefusalLines(reading, keyFileName, kHeaderName);
  } else if (key.StructureKey != structureKey || key.BasicKey != basicKey) {
    check.Reason = "the key reader reads another key than the one written\n";
  } else {
    check.Accepted = true;
    check.CheckValue = KeyCheckValue(key.StructureKey, key.BasicKey);
  }
  return check;
}

std::string KeyCheckValue(std::string_view structureKey, std::string_view basicKey) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be used");
  std::string material(kCheckValueContext);
  for (char c : structureKey) material += (c & 1) != 0 ? '1' : '0';
  for (char c : basicKey) material += static_cast<char>(ToUpper(static_cast<std::uint8_t>(c)));
  std::array<unsigned char, crypto_generichash_BYTES_MIN> hash{};
  crypto_generichash(hash.data(), hash.size(),
                     reinterpret_cast<const unsigned char*>(material.data()), material.size(),
                     nullptr, 0);
  // The first 40 bits, five at a time.
  std::uint64_t bits = 0;
  for (int i = 0; i < 5; ++i) bits = bits << 8 | hash[i];
  std::string value;
  for (int i = 0; i < 8; ++i) {
    if (i == 4) value += ' ';
    value += kCheckValueSymbols[(bits >> (35 - 5 * i)) & 31];
  }
  return value;
}

}  // namespace quarvel::companions
