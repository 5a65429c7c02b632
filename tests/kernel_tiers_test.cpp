// Each tier's layout, letter collection, byte-class scan, key-character
// packing, cipher letters, plain characters and text-limit scan against the
// reference ways, kernel by kernel, on every instruction set the processor
// has.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "coding/decipher_kernels.h"
#include "coding/encipher_kernels.h"
#include "coding/kernels.h"

namespace quarvel {
namespace {

class KernelTiers : public ::testing::TestWithParam<Isa> {
 protected:
  void SetUp() override {
    if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  }
  const Kernels& Tier() const { return KernelsFor(GetParam()); }
};

std::vector<std::uint8_t> RandomBytes(std::mt19937& rng, std::size_t count,
                                      const std::string& alphabet) {
  std::vector<std::uint8_t> bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(alphabet[rng() % alphabet.size()]);
  return bytes;
}

TEST_P(KernelTiers, LayOutLinesFromEveryPhase) {
  std::mt19937 rng(3);
  // Up to four lines' worth, and letters left over.
  const std::size_t count = 4 * kLineLetters + 17;
  std::vector<std::uint8_t> letters = RandomBytes(rng, count + 64, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  for (int phase = 0; phase < kLineLetters; ++phase) {
    SCOPED_TRACE(phase);
    std::vector<std::uint8_t> expected(5 * kLineBytes + 64, 0), got(expected.size(), 0);
    std::size_t done = LayOutLinesByRuns(letters.data(), count, phase, expected.data());
    ASSERT_EQ(Tier().LayOutLines(letters.data(), count, phase, got.data()), done);
    const std::size_t bytes = done / kLineLetters * kLineBytes;
    EXPECT_EQ(std::string(got.begin(), got.begin() + bytes),
              std::string(expected.begin(), expected.begin() + bytes));
  }
}

TEST_P(KernelTiers, CollectLettersOfAnyMix) {
  std::mt19937 rng(5);
  // Cipher text as laid out, letters of both cases among other bytes, and
  // every byte value.
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  const std::string mixes[] = {"ABCDE ABCDE\r\n", "aYbZz@[`{ \t", everyByte};
  for (const std::string& mix : mixes) {
    for (std::size_t count : {0, 1, 31, 32, 33, 100, 1000}) {
      SCOPED_TRACE(::testing::Message() << count << " bytes");
      std::vector<std::uint8_t> text = RandomBytes(rng, count, mix);
      std::vector<std::uint8_t> expected(count + 64), got(count + 64);
      std::size_t n = CollectLettersOneByOne(text.data(), count, expected.data());
      ASSERT_EQ(Tier().CollectLetters(text.data(), count, got.data()), n);
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, expected.begin()));
    }
  }
  // Groups of five laid out in lines, with now and then a group of another
  // length, a byte of either case that is no letter ("@", "[", "`", "{",
  // bytes from 128), or a doubled separator, cut anywhere.
  std::string laidOut;
  for (int g = 0; laidOut.size() < 3000; ++g) {
    const int length = rng() % 8 == 0 ? static_cast<int>(rng() % 9) : 5;
    for (int k = 0; k < length; ++k) laidOut.push_back(static_cast<char>('A' + rng() % 26));
    if (length == 5 && rng() % 16 == 0)
      laidOut[laidOut.size() - 1 - rng() % 5] = "@[`{\x81\xC1z"[rng() % 7];
    laidOut += g % 10 == 9 ? "\r\n" : rng() % 20 == 0 ? "  " : " ";
  }
  for (std::size_t start : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{5}}) {
    for (std::size_t count : {std::size_t{7}, std::size_t{8}, std::size_t{9}, std::size_t{13},
                              std::size_t{64}, std::size_t{1000}, std::size_t{2900}}) {
      SCOPED_TRACE(::testing::Message() << "laid out, " << count << " bytes from " << start);
      const auto* text = reinterpret_cast<const std::uint8_t*>(laidOut.data()) + start;
      std::vector<std::uint8_t> expected(count + 64), got(count + 64);
      std::size_t n = CollectLettersOneByOne(text, count, expected.data());
      ASSERT_EQ(Tier().CollectLetters(text, count, got.data()), n);
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, expected.begin()));
    }
  }
}

TEST_P(KernelTiers, FindByteClassFindsTheFirstOfEachClass) {
  std::mt19937 rng(7);
  const std::uint8_t wanted[] = {kLineByte, kUncodedByte, kLineByte | kUncodedByte};
  for (int b = 0; b < 256; ++b) {
    // Byte b at a random place among bytes of no class.
    std::vector<std::uint8_t> data = RandomBytes(rng, 300, "ABCXYZ |<*#%-?:38");
    const std::size_t place = rng() % data.size();
    data[place] = static_cast<std::uint8_t>(b);
    for (std::uint8_t classes : wanted) {
      SCOPED_TRACE(::testing::Message() << "byte " << b << ", classes " << int{classes});
      const std::size_t expected = (PlainByteClasses[b] & classes) != 0 ? place : data.size();
      EXPECT_EQ(Tier().FindByteClass(data.data(), data.size(), classes), expected);
    }
  }
}

TEST_P(KernelTiers, PackCharsEqualsTheBitByBitWay) {
  std::mt19937 rng(9);
  const int groups = 64;
  std::vector<std::uint8_t> bits(5 * groups + 64);
  for (auto& byte : bits) byte = static_cast<std::uint8_t>(rng());
  std::vector<std::uint8_t> chars(8 * groups + 64);
  Tier().PackChars(bits.data(), groups, chars.data());
  for (int c = 0; c < 8 * groups; ++c) {
    // Five consecutive bits in step order, the first the most significant.
    int expected = 0;
    for (int k = 0; k < 5; ++k) {
      const int step = 5 * c + k;
      expected = expected << 1 | ((bits[step / 8] >> (step % 8)) & 1);
    }
    ASSERT_EQ(chars[c], expected) << "character " << c;
  }
}

TEST_P(KernelTiers, EncipherLettersOfAnyBytesAndRunsOfPairs) {
  std::mt19937 rng(11);
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  // Text of the tables, with line bytes and bytes without a code, and every
  // byte value; keys at random, and keys that make every character a pair
  // (a long run of pairs), or none.
  const std::string mixes[] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ |<*#%-?:38", "AB C\r\n\t!$[{~",
                               everyByte};
  enum KeyChoice { kRandom, kAllPairs, kNoPairs };
  for (const std::string& mix : mixes) {
    for (KeyChoice choice : {kRandom, kAllPairs, kNoPairs}) {
      for (std::size_t count : {1, 2, 3, 7, 8, 9, 63, 64, 65, 1000}) {
        SCOPED_TRACE(::testing::Message() << "keys " << choice << ", " << count << " bytes");
        std::vector<std::uint8_t> plain = RandomBytes(rng, count, mix);
        std::vector<std::uint8_t> keys(2 * count + 128);
        for (auto& key : keys) key = static_cast<std::uint8_t>(rng() % 32);
        if (choice != kRandom) {
          // Character i takes key i + the pairs before it.
          std::size_t used = 0;
          for (std::uint8_t byte : plain) {
            const std::uint8_t base = PairIndexBase[byte];
            std::uint8_t& key = keys[used];
            for (int k = 0; k < 32; ++k) {
              bool pair = ((kPairCodes >> (base ^ k)) & 1) != 0;
              if (pair == (choice == kAllPairs)) {
                key = static_cast<std::uint8_t>(k);
                break;
              }
            }
            used += 1 + ((kPairCodes >> (base ^ key)) & 1);
          }
        }
        std::vector<std::uint8_t> letters(2 * count + 64), additive(count + 64);
        std::vector<std::uint8_t> expectedLetters(letters.size()),
            expectedAdditive(additive.size());
        const std::size_t used =
            EncipherLettersFrom(plain.data(), 0, count, keys.data(), 0, expectedLetters.data(),
                                expectedAdditive.data());
        ASSERT_EQ(Tier().EncipherLetters(plain.data(), count, keys.data(), letters.data(),
                                         additive.data()),
                  used);
        EXPECT_TRUE(std::equal(letters.begin(), letters.begin() + used, expectedLetters.begin()));
        EXPECT_TRUE(
            std::equal(additive.begin(), additive.begin() + count, expectedAdditive.begin()));
      }
    }
  }
}

TEST_P(KernelTiers, DecipherCharsEqualsTheCharacterByCharacterWay) {
  std::mt19937 rng(13);
  // Letters of both cases heavy in "Y" (pairs, runs of them, and a "Y" that
  // is the second letter of a pair), and random keys, which give every
  // plain code: the shifts, carriage return and line feed among them.
  const std::string mixes[] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZY", "YYYYYYYYYYYYAbyz", "YyYAYBYQ"};
  for (const std::string& mix : mixes) {
    for (std::size_t count : {std::size_t{1}, std::size_t{2}, std::size_t{63}, std::size_t{64},
                              std::size_t{65}, std::size_t{127}, std::size_t{128}, std::size_t{129},
                              std::size_t{1000}, kDecipherChunk}) {
      for (bool lettersShift : {false, true}) {
        SCOPED_TRACE(::testing::Message() << count << " letters, shift " << lettersShift);
        std::vector<std::uint8_t> letters = RandomBytes(rng, count + 64, mix);
        std::vector<std::uint8_t> keys(count + 64);
        for (auto& key : keys) key = static_cast<std::uint8_t>(rng() % 32);
        std::vector<std::uint64_t> starts(kDecipherChunk / 64);
        const std::size_t take = MarkStartsPortable(letters.data(), count, starts.data());
        if (take == 0) continue;
        std::vector<std::uint8_t> out(2 * count + 64), additive(count + 64);
        std::vector<std::uint8_t> expectedOut(out.size()), expectedAdditive(additive.size());
        bool expectedShift = lettersShift, shift = lettersShift;
        std::size_t expectedChars = 0, chars = 0;
        const std::size_t bytes =
            DecipherCharsOneByOne(letters.data(), keys.data(), take, starts.data(), expectedShift,
                                  expectedOut.data(), expectedAdditive.data(), expectedChars);
        ASSERT_EQ(Tier().DecipherChars(letters.data(), keys.data(), take, starts.data(), shift,
                                       out.data(), additive.data(), chars),
                  bytes);
        ASSERT_EQ(chars, expectedChars);
        EXPECT_EQ(shift, expectedShift);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + bytes, expectedOut.begin()));
        EXPECT_TRUE(
            std::equal(additive.begin(), additive.begin() + chars, expectedAdditive.begin()));
      }
    }
  }
}

// The scan for the text limit over whole blocks, capital by capital: a
// block is done when each byte other than a capital right after a capital
// follows the capital that completes a group; the scan stops before the
// first block that is not.
struct ScanState {
  int GroupPart = 0;
  std::int64_t Counter = 0, LastGroupEnd = -1;
  bool operator==(const ScanState&) const = default;
};
std::size_t ScanBlocksByCapitals(const std::uint8_t* text, std::size_t count, ScanState& scan) {
  std::size_t done = 0;
  for (; done + 64 <= count; done += 64) {
    ScanState next = scan;
    bool afterCapital = scan.GroupPart != 0, ends = false;
    for (int i = 0; i < 64 && !ends; ++i) {
      const bool capital = text[done + i] >= 'A' && text[done + i] <= 'Z';
      if (capital) {
        next.GroupPart = (next.GroupPart + 1) % 5;
        if (next.GroupPart == 0) next.LastGroupEnd = next.Counter + i + 1;
      } else if (afterCapital && next.GroupPart != 0) {
        ends = true;
      }
      afterCapital = capital;
    }
    if (ends) break;
    next.Counter += 64;
    scan = next;
  }
  return done;
}

TEST_P(KernelTiers, ScanBlocksEqualsTheCapitalByCapitalWay) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 400; ++trial) {
    // Groups of five, each followed by a blank, a line end or (now and then)
    // nothing, so that runs of capitals span several groups; in some trials
    // a short group, a lower-case letter or another byte in between.
    std::string text;
    while (text.size() < 1000) {
      const std::vector<std::uint8_t> group = RandomBytes(rng, 5, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
      text.append(group.begin(), group.end());
      const unsigned pick = rng() % 8;
      text += pick == 0 ? "" : pick < 6 ? " " : "\r\n";
    }
    text.resize(1000);
    const std::size_t at = rng() % text.size();
    switch (trial % 4) {
      case 1:
        text.insert(at, "ABC ");
        break;
      case 2:
        text[at] = 'a';
        break;
      case 3:
        text[at] = static_cast<char>(rng() % 256);
        break;
      default:
        break;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    ScanState expected{static_cast<int>(rng() % 5), 1000, -1};
    ScanState got = expected;
    const std::size_t done = ScanBlocksByCapitals(bytes, text.size(), expected);
    SCOPED_TRACE(::testing::Message() << "trial " << trial);
    ASSERT_EQ(Tier().ScanBlocks(bytes, text.size(), got.GroupPart, got.Counter, got.LastGroupEnd),
              done);
    EXPECT_EQ(got, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(AllIsas, KernelTiers,
                         ::testing::Values(Isa::Portable, Isa::Avx2, Isa::Avx512),
                         [](const ::testing::TestParamInfo<Isa>& info) {
                           return std::string(IsaName(info.param));
                         });

}  // namespace
}  // namespace quarvel
