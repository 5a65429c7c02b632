#include "run/text_check.h"

#include <cstring>

#include "state/run_state.h"

namespace quarvel {

namespace {

using ByteVector = std::uint8_t __attribute__((vector_size(16)));
using LaneMask = signed char __attribute__((vector_size(16)));
constexpr std::size_t kLanes = sizeof(ByteVector);
constexpr std::size_t kBlock = 4 * kLanes;

// The lanes that are line bytes.
LaneMask LineLanes(ByteVector b) {
  return (b == '\n') | (b == '\r') | (b == '\t');
}

// The lanes without a teleprinter code: "!", "$", "&", "'", ";", ">", "[" to
// "`", and "{" and above except "|".
LaneMask UncodedLanes(ByteVector b) {
  return (b == '!') | (b == '$') | ((b | 1) == '\'') | (b == ';') | (b == '>') |
         (static_cast<ByteVector>(b - '[') <= '`' - '[') | ((b >= '{') & (b != '|'));
}

bool AnyLane(LaneMask mask) {
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// True when one of the 64 bytes has a class bit of `Wanted`.
template <std::uint8_t Wanted>
bool BlockHasClass(const std::uint8_t* data) {
  LaneMask found{};
  for (std::size_t k = 0; k < kBlock; k += kLanes) {
    ByteVector bytes;
    std::memcpy(&bytes, data + k, kLanes);
    if constexpr ((Wanted & kLineByte) != 0) found |= LineLanes(bytes);
    if constexpr ((Wanted & kUncodedByte) != 0) found |= UncodedLanes(bytes);
  }
  return AnyLane(found);
}

// The whole blocks from the start that hold no byte of a wanted class.
template <std::uint8_t Wanted>
std::size_t SkipBlocks(const std::uint8_t* data, std::size_t count) {
  std::size_t i = 0;
  while (i + kBlock <= count && !BlockHasClass<Wanted>(data + i)) i += kBlock;
  return i;
}

}  // namespace

std::size_t FindByteClass(const std::uint8_t* data, std::size_t count, std::uint8_t wanted) {
  // Whole blocks while none holds a wanted byte; then byte by byte.
  std::size_t i = wanted == kUncodedByte ? SkipBlocks<kUncodedByte>(data, count)
                  : wanted == kLineByte  ? SkipBlocks<kLineByte>(data, count)
                                         : SkipBlocks<kLineByte | kUncodedByte>(data, count);
  for (; i < count; ++i) {
    if ((PlainByteClasses[data[i]] & wanted) != 0) return i;
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
