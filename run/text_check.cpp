#include "run/text_check.h"

#include "run/run_state.h"

namespace quarvel {

namespace {

constexpr bool ClassesAgree() {
  for (int b = 0; b < 256; ++b) {
    if (PlainByteClass(static_cast<std::uint8_t>(b)) != PlainByteClasses[b]) return false;
  }
  return true;
}
static_assert(ClassesAgree(), "the compared classes differ from the teleprinter tables");

}  // namespace

std::size_t FindByteClass(const std::uint8_t* data, std::size_t count, std::uint8_t wanted) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  // Whole blocks while none holds a wanted byte; then byte by byte.
  for (; i + kBlock <= count; i += kBlock) {
    std::uint8_t any = 0;
    for (std::size_t j = 0; j < kBlock; ++j) any |= PlainByteClass(data[i + j]);
    if ((any & wanted) != 0) break;
  }
  for (; i < count; ++i) {
    if ((PlainByteClass(data[i]) & wanted) != 0) return i;
  }
  return count;
}

bool CheckPlainText(RunState& state) {
  state.UncodedOffset = -1;
  state.LineByteOffset = -1;
  ByteFile& source = state.SourceFile;
  if (!source.IsDisk()) return true;
  std::uint8_t wanted = kLineByte | kUncodedByte;
  ForEachBlock(source, state.TextPosition + 1,
               [&](std::int64_t offset, const std::uint8_t* data, std::size_t count) {
                 for (std::size_t i = 0;; ++i) {
                   i += FindByteClass(data + i, count - i, wanted);
                   if (i == count) return true;
                   if ((PlainByteClass(data[i]) & kUncodedByte) != 0) {
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
