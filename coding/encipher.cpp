#include "coding/encipher.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARVEL_X86 1
#endif

#include "alphabet/teleprinter.h"
#include "coding/key_chars.h"
#include "generator/key_block.h"
#include "state/run_state.h"

namespace quarvel {

namespace {

inline void WriteBoth(RunState& state, std::uint8_t byte) {
  state.Con->Write(byte);
  state.TargetFile.WriteByte(byte);
}

inline void WriteLineEndBoth(RunState& state) {
  state.Con->Write('\r');
  state.Con->Write('\n');
  state.TargetFile.WriteByte('\r');
  state.TargetFile.WriteByte('\n');
}

}  // namespace

void CountGroupLetter(RunState& state, std::int32_t& groupsInLine) {
  if (++state.GroupCharCount != kLettersPerGroup) return;
  if (++groupsInLine == kGroupsPerLine) {
    WriteLineEndBoth(state);
    groupsInLine = 0;
  } else {
    WriteBoth(state, ' ');
  }
  state.GroupCharCount = 0;
}

void EncipherStep(RunState& state) {
  std::uint8_t plainChar = ToUpper(state.SourceFile.ReadByte());
  CharToCode(plainChar);
  NextKeyChar(state, state.KeyChar);
  std::uint8_t cipherChar = plainChar ^ state.KeyChar;
  if (state.WritesKeySeries()) state.AdditiveSeriesFile.WriteByte(state.KeyChar);
  std::uint8_t pairLetter = cipherChar < 32 ? PairSecondCode[cipherChar] : kNoPair;
  if (pairLetter != kNoPair) cipherChar = kCodeOfY;
  // The cipher text is written in letters shift throughout.
  bool lettersShift = true;
  CodeToChar(cipherChar, lettersShift);
  WriteBoth(state, cipherChar);
  CountGroupLetter(state, state.GroupsInLine);
  if (pairLetter != kNoPair) {
    lettersShift = true;
    CodeToChar(pairLetter, lettersShift);
    WriteBoth(state, pairLetter);
    CountGroupLetter(state, state.GroupsInLine);
    NextKeyChar(state, state.KeyChar);
  }
}

void PadLastGroup(RunState& state) {
  if (state.GroupCharCount < 1 || state.GroupCharCount > 4) return;
  for (int i = state.GroupCharCount; i < kLettersPerGroup; ++i) WriteBoth(state, 'Y');
}

namespace {

// A plain byte's code: "a" to "z" as capitals, then CharToCode.
constexpr std::array<std::uint8_t, 256> PlainCodes = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = CharToCodeTable[UpperCase[b]];
  return table;
}();

// What a cipher code is written as: its letter, or "Y" with the second
// letter of its pair in the high byte; a byte of 32 or more stands for
// itself.
constexpr std::array<std::uint16_t, 256> CipherLetters = [] {
  std::array<std::uint16_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    if (x >= 32) {
      table[x] = static_cast<std::uint16_t>(x);
    } else if (PairSecondCode[x] != kNoPair) {
      table[x] = static_cast<std::uint16_t>(LettersShiftChars[kCodeOfY] |
                                            (LettersShiftChars[PairSecondCode[x]] << 8));
    } else {
      table[x] = LettersShiftChars[x];
    }
  }
  return table;
}();

// Bit x set: cipher code x is written as a pair.
constexpr std::uint64_t kPairCodes = [] {
  std::uint64_t mask = 0;
  for (int x = 0; x < 32; ++x) {
    if (PairSecondCode[x] != kNoPair) mask |= std::uint64_t{1} << x;
  }
  return mask;
}();

// The plain code, or 32 for a byte outside the tables, which never gives a
// pair: kPairCodes has no bit from 32 up.
constexpr std::array<std::uint8_t, 256> PairIndexBase = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = PlainCodes[b] < 32 ? PlainCodes[b] : 32;
  return table;
}();

// Plain characters per pass; a pass takes at most twice as many key
// characters, which a refill of the key block must leave room for.
constexpr std::size_t kEncipherChunk = 1024;
static_assert(2 * kEncipherChunk < KeyBlock::kChars);
// Bytes one plain character can add to the target: a pair and a line end.
constexpr std::size_t kMostOutPerChar = 4;
// Stores of eight bytes may reach this far past what is kept.
constexpr std::size_t kSlack = 8;

inline std::size_t CharsFitting(std::size_t room, std::size_t perChar) {
  return room > kSlack ? (room - kSlack) / perChar : 0;
}

// Which plain characters are written as pairs: pairOf[i] is 1 or 0. Every
// letter written takes one key character, so character i takes keys[i + d],
// d the pairs before it: a chain from character to character. The vector
// forms test a character against the next 32 or 64 key characters at once,
// leaving the chain to a shift and an add.
std::size_t FindPairsStepwise(const std::uint8_t* plain, std::size_t from, std::size_t count,
                              const std::uint8_t* keys, std::size_t used, std::uint8_t* pairOf) {
  for (std::size_t i = from; i < count; ++i) {
    std::uint8_t pair = (kPairCodes >> (PairIndexBase[plain[i]] ^ keys[used])) & 1;
    pairOf[i] = pair;
    used += 1 + pair;
  }
  return used;
}

#if QUARVEL_X86

__attribute__((target("avx2"))) std::size_t FindPairsAvx2(const std::uint8_t* plain,
                                                          std::size_t count,
                                                          const std::uint8_t* keys,
                                                          std::uint8_t* pairOf) {
  // For x = code XOR key, 0 to 63: the pair codes below 16 in bit 0, those
  // from 16 to 31 in bit 1, by the low nibble; the high nibble gives the bit
  // to test.
  alignas(32) std::uint8_t lowTable[32], highTable[32];
  for (int i = 0; i < 32; ++i) {
    int nibble = i & 15;
    lowTable[i] = static_cast<std::uint8_t>(((kPairCodes >> nibble) & 1) |
                                            (((kPairCodes >> (16 + nibble)) & 1) << 1));
    highTable[i] = static_cast<std::uint8_t>(nibble == 0 ? 1 : nibble == 1 ? 2 : 0);
  }
  const __m256i low = _mm256_load_si256((const __m256i*)lowTable);
  const __m256i high = _mm256_load_si256((const __m256i*)highTable);
  const __m256i highBits = _mm256_set1_epi8(0x30);
  std::size_t used = 0, i = 0;
  for (; i + 32 <= count; i += 32) {
    std::uint32_t d = 0;
    for (std::size_t t = 0; t < 32; ++t) {
      __m256i x = _mm256_xor_si256(_mm256_set1_epi8(static_cast<char>(PairIndexBase[plain[i + t]])),
                                   _mm256_loadu_si256((const __m256i*)(keys + used + t)));
      __m256i a = _mm256_shuffle_epi8(low, x);
      __m256i b = _mm256_shuffle_epi8(high, _mm256_srli_epi16(_mm256_and_si256(x, highBits), 4));
      std::uint32_t none = static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(a, b), _mm256_setzero_si256())));
      std::uint32_t pair = (~none >> d) & 1;
      pairOf[i + t] = static_cast<std::uint8_t>(pair);
      d += pair;
    }
    used += 32 + d;
  }
  return FindPairsStepwise(plain, i, count, keys, used, pairOf);
}

#define QUARVEL_AVX512 "avx512f,avx512bw,avx512vbmi,bmi2"

__attribute__((target(QUARVEL_AVX512))) std::size_t FindPairsAvx512(const std::uint8_t* plain,
                                                                    std::size_t count,
                                                                    const std::uint8_t* keys,
                                                                    std::uint8_t* pairOf) {
  // 0xFF at every x = code XOR key, 0 to 63, that is written as a pair.
  alignas(64) std::uint8_t pairTable[64];
  for (int x = 0; x < 64; ++x) pairTable[x] = ((kPairCodes >> x) & 1) ? 0xFF : 0;
  const __m512i table = _mm512_load_si512(pairTable);
  std::size_t used = 0, i = 0;
  for (; i + 64 <= count; i += 64) {
    std::uint64_t d = 0;
    for (std::size_t t = 0; t < 64; ++t) {
      __m512i x = _mm512_xor_si512(_mm512_set1_epi8(static_cast<char>(PairIndexBase[plain[i + t]])),
                                   _mm512_loadu_si512(keys + used + t));
      std::uint64_t pairs = _mm512_movepi8_mask(_mm512_maskz_permutexvar_epi8(~0ull, x, table));
      std::uint64_t pair = (pairs >> d) & 1;
      pairOf[i + t] = static_cast<std::uint8_t>(pair);
      d += pair;
    }
    used += 64 + d;
  }
  return FindPairsStepwise(plain, i, count, keys, used, pairOf);
}

#endif  // QUARVEL_X86

std::size_t FindPairs(KeyIsa isa, const std::uint8_t* plain, std::size_t count,
                      const std::uint8_t* keys, std::uint8_t* pairOf) {
  switch (isa) {
#if QUARVEL_X86
    case KeyIsa::Avx512:
      return FindPairsAvx512(plain, count, keys, pairOf);
    case KeyIsa::Avx2:
      return FindPairsAvx2(plain, count, keys, pairOf);
#endif
    default:
      return FindPairsStepwise(plain, 0, count, keys, 0, pairOf);
  }
}

// One pass over the buffered plain text: the cipher letters of `count`
// characters (fewer when the buffers are short), laid out in groups into the
// target and the console, the key characters into the key series. Returns
// the number of plain characters done; 0 when the next character has to take
// the step-by-step way because a buffer is about to go out.
template <bool kKeySeries>
std::size_t EncipherPass(RunState& state, const std::uint8_t* plain, std::size_t count) {
  KeyBlock& block = state.Block;
  if (static_cast<std::size_t>(block.Count - block.Next) < 2 * kEncipherChunk)
    RefillKeyBlock(block);
  std::size_t targetRoom, consoleRoom, additiveRoom = 0, allRoom = 0;
  std::uint8_t* target = state.TargetFile.WriteRoom(targetRoom);
  std::uint8_t* console = state.Con->WriteRoom(consoleRoom);
  std::uint8_t* additive = nullptr;
  std::uint8_t* all = nullptr;
  count = std::min({count, kEncipherChunk, CharsFitting(targetRoom, kMostOutPerChar),
                    CharsFitting(consoleRoom, kMostOutPerChar)});
  if constexpr (kKeySeries) {
    additive = state.AdditiveSeriesFile.WriteRoom(additiveRoom);
    all = state.AllAdditiveFile.WriteRoom(allRoom);
    count = std::min({count, additiveRoom, allRoom / 2});
  }
  if (count == 0) return 0;

  const std::uint8_t* keys = block.Chars.data() + block.Next;
  std::uint8_t pairOf[kEncipherChunk];
  FindPairs(block.Isa, plain, count, keys, pairOf);

  // The cipher letters, without the layout; letter n takes key character n.
  alignas(16) std::uint8_t letters[2 * kEncipherChunk + kSlack];
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t key = keys[used];
    std::uint16_t written = CipherLetters[PlainCodes[plain[i]] ^ key];
    std::memcpy(letters + used, &written, 2);
    if constexpr (kKeySeries) additive[i] = key;
    used += 1 + pairOf[i];
  }

  // Groups of five letters, a space after each group and CR LF after every
  // tenth group of a line.
  std::uint8_t* out = target;
  std::int32_t inGroup = state.GroupCharCount;
  std::int32_t groupsInLine = state.GroupsInLine;
  std::size_t done = 0;
  while (done < used) {
    std::size_t take =
        std::min<std::size_t>(static_cast<std::size_t>(kLettersPerGroup - inGroup), used - done);
    std::memcpy(out, letters + done, 8);
    out += take;
    done += take;
    inGroup += static_cast<std::int32_t>(take);
    if (inGroup == kLettersPerGroup) {
      inGroup = 0;
      if (++groupsInLine == kGroupsPerLine) {
        out[0] = '\r';
        out[1] = '\n';
        out += 2;
        groupsInLine = 0;
      } else {
        *out++ = ' ';
      }
    }
  }
  std::size_t length = static_cast<std::size_t>(out - target);
  std::memcpy(console, target, length);
  state.TargetFile.Commit(length);
  state.Con->Commit(length);
  if constexpr (kKeySeries) {
    // Every key character taken, in order: one per letter.
    std::memcpy(all, keys, used);
    state.AdditiveSeriesFile.Commit(count);
    state.AllAdditiveFile.Commit(used);
  }
  state.GroupCharCount = inGroup;
  state.GroupsInLine = groupsInLine;
  block.Next += static_cast<int>(used);
  state.KeyChar = keys[used - 1];
  return count;
}

template <bool kKeySeries>
void EncipherBulkLoop(RunState& state) {
  ByteFile& source = state.SourceFile;
  for (;;) {
    const std::uint8_t* plain;
    std::size_t available = source.Buffered(plain);
    if (available == 0) {
      if (source.AtEnd()) return;
      continue;
    }
    std::size_t done = EncipherPass<kKeySeries>(state, plain, available);
    if (done > 0) {
      source.Advance(done);
    } else {
      EncipherStep(state);
    }
  }
}

}  // namespace

void EncipherBulk(RunState& state) {
  if (state.WritesKeySeries()) {
    EncipherBulkLoop<true>(state);
  } else {
    EncipherBulkLoop<false>(state);
  }
}

}  // namespace quarvel
