#include "run/text_check.h"

#include "coding/encipher_tables.h"
#include "state/run_state.h"

namespace quarvel {

bool CheckPlainText(RunState& state) {
  state.UncodedOffset = -1;
  state.LineByteOffset = -1;
  ByteFile& source = state.SourceFile;
  std::uint8_t wanted = kLineByte | kUncodedByte;
  ForEachBlock(source, state.TextPosition + 1,
               [&](std::int64_t offset, const std::uint8_t* data, std::size_t count) {
                 for (std::size_t i = 0;; ++i) {
                   i += state.KernelTable->FindByteClass(data + i, count - i, wanted);
                   if (i == count) return true;
                   if ((PlainByteClasses[data[i]] & kUncodedByte) != 0) {
                     state.UncodedOffset = offset + static_cast<std::int64_t>(i);
                     return false;
                   }
                   // The first line byte is noted; from here on only bytes
                   // without a code are looked for.
                   state.LineByteOffset = offset + static_cast<std::int64_t>(i);
                   wanted = kUncodedByte;
                 }
               });
  return state.UncodedOffset < 0;
}

}  // namespace quarvel
