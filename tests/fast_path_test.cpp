// The fast paths against their step-by-step references, on every
// instruction set the processor has: the block key generator, the encipher
// kernel, the bulk encipher and decipher loops, and the scan for the text
// limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "coding/decipher.h"
#include "coding/encipher.h"
#include "coding/encipher_kernels.h"
#include "coding/kernels.h"
#include "coding/key_chars.h"
#include "generator/key_block.h"
#include "generator/key_stream.h"
#include "generator/register_bank.h"
#include "io/console.h"
#include "io/io_error.h"
#include "run/runs.h"
#include "state/run_state.h"
#include "tests/process_runner.h"

namespace quarvel {
namespace {

class KeyBlockIsa : public ::testing::TestWithParam<Isa> {};

TEST_P(KeyBlockIsa, EqualsStepwiseOverRandomStarts) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  std::mt19937 rng(1234);
  auto block = std::make_unique<KeyBlock>();
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE(trial);
    RegisterBank bank;
    for (int i = 0; i < kStageCount; ++i) bank.Stages[i] = static_cast<std::uint8_t>(rng());
    if (trial % 3 == 0) bank.Stages[0] = 0xFF;
    // Matrices of all zeros, all ones, and random ones.
    StructureMatrix matrix;
    for (int i = 0; i < 128; ++i) {
      matrix[i] = static_cast<std::uint8_t>(trial == 1 ? 0 : trial == 2 ? 1 : rng() & 1);
    }
    std::uint8_t parity = static_cast<std::uint8_t>(rng() & 1);
    const int warmUp = static_cast<int>(rng() % 200);
    for (int n = 0; n < warmUp; ++n) FoldParity(parity, StepRegisters(bank));
    StartKeyBlock(*block, bank, parity, matrix);
    const Kernels& kernels = KernelsFor(GetParam());
    const int length = 2 * KeyBlock::kChars + static_cast<int>(rng() % KeyBlock::kChars);
    for (int i = 0; i < length; ++i) {
      std::uint8_t expected = StepwiseKeyChar(bank, parity, matrix, 5);
      ASSERT_EQ(TakeKeyChar(*block, kernels), expected) << "character " << i;
    }
  }
}

TEST_P(KeyBlockIsa, RefillKeepsTheCharactersNotTaken) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  // Made here, and made ahead on a second thread over several rounds of its
  // ring.
  BackgroundThread thread;
  const bool ahead = thread.Start();
  for (bool madeAhead : {false, ahead}) {
    SCOPED_TRACE(madeAhead ? "made ahead" : "made here");
    std::mt19937 rng(99);
    RegisterBank bank;
    for (auto& stage : bank.Stages) stage = static_cast<std::uint8_t>(rng());
    StructureMatrix matrix;
    for (auto& entry : matrix) entry = static_cast<std::uint8_t>(rng() & 1);
    std::uint8_t parity = 0;
    auto block = std::make_unique<KeyBlock>();
    const Kernels& kernels = KernelsFor(GetParam());
    if (madeAhead) MakeKeysAhead(*block, thread, kernels);
    StartKeyBlock(*block, bank, parity, matrix);
    const int length = madeAhead ? 3 * 2 * KeyAhead::kHalf : 5 * KeyBlock::kChars;
    for (int i = 0; i < length; ++i) {
      // Now and then a refill before the block is used up, as the bulk
      // loops do.
      if (rng() % 500 == 0 && block->Count - block->Next < KeyBlock::kChars)
        RefillKeyBlock(*block, kernels);
      std::uint8_t expected = StepwiseKeyChar(bank, parity, matrix, 5);
      ASSERT_EQ(TakeKeyChar(*block, kernels), expected) << "character " << i;
    }
  }
}

// Matrices whose quarter rows (four entries that registers 6 and 7 pick
// among) are each one function of two bits: every function everywhere, all
// of them side by side, and a matrix of single entries that differ from the
// rest of their rows, with its complement (rows of mostly ones).
TEST_P(KeyBlockIsa, EqualsStepwiseOverMatricesOfEveryQuarter) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  std::vector<StructureMatrix> matrices;
  auto byQuarters = [](auto truthOf) {
    StructureMatrix matrix;
    for (int i = 0; i < 128; ++i)
      matrix[i] = static_cast<std::uint8_t>((truthOf(i / 4) >> (i % 4)) & 1);
    return matrix;
  };
  for (int truth = 0; truth < 16; ++truth)
    matrices.push_back(byQuarters([=](int) { return truth; }));
  matrices.push_back(byQuarters([](int quarter) { return quarter % 16; }));
  matrices.push_back(byQuarters([](int quarter) { return (7 * quarter + 3) % 16; }));
  StructureMatrix sparse{};
  for (int row = 0; row < 8; ++row) sparse[16 * row + (5 * row + 2) % 16] = 1;
  matrices.push_back(sparse);
  for (auto& entry : sparse) entry ^= 1;
  matrices.push_back(sparse);

  std::mt19937 rng(77);
  auto block = std::make_unique<KeyBlock>();
  const Kernels& kernels = KernelsFor(GetParam());
  for (std::size_t m = 0; m < matrices.size(); ++m) {
    SCOPED_TRACE(m);
    RegisterBank bank;
    for (auto& stage : bank.Stages) stage = static_cast<std::uint8_t>(rng());
    std::uint8_t parity = static_cast<std::uint8_t>(m & 1);
    StartKeyBlock(*block, bank, parity, matrices[m]);
    // The first block and the start of the second.
    for (int i = 0; i < KeyBlock::kPrimeSteps / 5 + 700; ++i) {
      std::uint8_t expected = StepwiseKeyChar(bank, parity, matrices[m], 5);
      ASSERT_EQ(TakeKeyChar(*block, kernels), expected) << "character " << i;
    }
  }
}

// Plain bytes and key characters for EncipherLetters where each character
// is a pair with the chance `pairPercent`: the key each one takes is
// chosen for it. Keys run 128 past those taken, as the kernels may read.
struct PairMix {
  std::vector<std::uint8_t> Plain, Keys;
};

PairMix MixPairs(std::mt19937& rng, std::size_t count, int pairPercent) {
  const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ|< *#%-?:38().,9014\"57=2/6+";
  PairMix mix;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = static_cast<std::uint8_t>(chars[rng() % chars.size()]);
    std::uint8_t code = PlainCodes[byte];
    bool pair = static_cast<int>(rng() % 100) < pairPercent;
    std::uint8_t key;
    do {
      key = static_cast<std::uint8_t>(rng() % 32);
    } while (((kPairCodes >> (code ^ key)) & 1) != (pair ? 1u : 0u));
    mix.Plain.push_back(byte);
    mix.Keys.push_back(key);
    if (pair) mix.Keys.push_back(static_cast<std::uint8_t>(rng() % 32));
  }
  for (int i = 0; i < 128; ++i) mix.Keys.push_back(static_cast<std::uint8_t>(rng() % 32));
  return mix;
}

class EncipherKernel : public ::testing::TestWithParam<Isa> {
 protected:
  // The tier's kernel against the letter-by-letter way over all of `mix`.
  void ExpectTheSame(const PairMix& mix) {
    const std::size_t count = mix.Plain.size();
    std::vector<std::uint8_t> letters(2 * count + 64), additive(count + 64);
    std::vector<std::uint8_t> expectedLetters(2 * count + 64), expectedAdditive(count + 64);
    std::size_t used = KernelsFor(GetParam())
                           .EncipherLetters(mix.Plain.data(), count, mix.Keys.data(),
                                            letters.data(), additive.data());
    ASSERT_EQ(used, mix.Keys.size() - 128);
    ASSERT_EQ(used, EncipherLettersFrom(mix.Plain.data(), 0, count, mix.Keys.data(), 0,
                                        expectedLetters.data(), expectedAdditive.data()));
    EXPECT_TRUE(std::equal(letters.begin(), letters.begin() + used, expectedLetters.begin()));
    EXPECT_TRUE(std::equal(additive.begin(), additive.begin() + count, expectedAdditive.begin()));
  }
};

TEST_P(EncipherKernel, EqualsTheCharacterByCharacterWayForAnyShareOfPairs) {
  if (GetParam() > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  std::mt19937 rng(77);
  // No pairs, every share up to all pairs.
  for (int share : {0, 5, 22, 35, 50, 80, 100}) {
    for (std::size_t count : {std::size_t{63}, std::size_t{64}, std::size_t{1000}}) {
      SCOPED_TRACE(::testing::Message() << share << "% pairs, " << count << " characters");
      ExpectTheSame(MixPairs(rng, count, share));
    }
  }
  // Blocks of 64 pairs and blocks of none, in turn.
  PairMix mix;
  for (int run = 0; run < 8; ++run) {
    PairMix part = MixPairs(rng, 64, run % 2 == 0 ? 100 : 0);
    mix.Plain.insert(mix.Plain.end(), part.Plain.begin(), part.Plain.end());
    mix.Keys.insert(mix.Keys.end(), part.Keys.begin(), part.Keys.end() - 128);
  }
  mix.Keys.resize(mix.Keys.size() + 128, 0);
  ExpectTheSame(mix);
}

INSTANTIATE_TEST_SUITE_P(AllIsas, KeyBlockIsa,
                         ::testing::Values(Isa::Portable, Isa::Avx2, Isa::Avx512),
                         [](const ::testing::TestParamInfo<Isa>& info) {
                           return std::string(IsaName(info.param));
                         });
INSTANTIATE_TEST_SUITE_P(AllIsas, EncipherKernel,
                         ::testing::Values(Isa::Portable, Isa::Avx2, Isa::Avx512),
                         [](const ::testing::TestParamInfo<Isa>& info) {
                           return std::string(IsaName(info.param));
                         });

// ---- Bulk character loops against the steps ----

const std::string kHeader = "HHHHH QQQ WWW EEE RRR TTT ZZZ UUU III OOO PPP ";

// A run of either program on files in a folder of its own, as far as the
// character loop: the files open, the header copied, the generator loaded
// from a fixed random start. The console writes to a file.
struct LoopRun {
  testing::TempDir Dir;
  int ConsoleFd = -1;
  int StdinFd = -1;
  std::unique_ptr<Console> Con;
  std::unique_ptr<RunState> State;

  LoopRun(const LoopRun&) = delete;
  LoopRun& operator=(const LoopRun&) = delete;
  ~LoopRun() {
    State.reset();
    Con.reset();
    ::close(ConsoleFd);
    ::close(StdinFd);
  }

  // With `backgroundIo`, the files write behind, and the key characters
  // are made ahead, on the run's second thread.
  LoopRun(const std::string& source, Program program, Isa isa, std::uint32_t seed,
          bool backgroundIo = false) {
    testing::WriteFile(Dir.File("source"), source);
    ConsoleFd = ::open(Dir.File("console").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    StdinFd = ::open("/dev/null", O_RDONLY);
    Con = std::make_unique<Console>(StdinFd, ConsoleFd);
    State = std::make_unique<RunState>();
    RunState& state = *State;
    state.Con = Con.get();
    state.Variant = program;
    state.StepsPerChar = 5;
    std::pair<ByteFile*, const char*> files[] = {{&state.SourceFile, "source"},
                                                 {&state.TargetFile, "target"},
                                                 {&state.AdditiveSeriesFile, "additive"},
                                                 {&state.AllAdditiveFile, "all"}};
    for (auto& [file, name] : files) {
      if (program == Program::Quarvel && file == &state.AdditiveSeriesFile) break;
      file->Bind(Dir.File(name), *Con);
      EXPECT_EQ(file == &state.SourceFile ? file->OpenToRead() : file->OpenNew(), 0);
    }
    if (backgroundIo) {
      auto thread = std::make_unique<BackgroundThread>();
      if (thread->Start()) {
        for (auto& [file, name] : files) {
          if (file->CanWriteBehind())
            file->WriteBehindOn(*thread, std::make_unique<std::uint8_t[]>(ByteFile::kCapacity));
        }
        MakeKeysAhead(state.Block, *thread, KernelsFor(isa));
        state.SecondThread = std::move(thread);
      }
    }
    std::mt19937 rng(seed);
    for (auto& stage : state.Registers.Stages) stage = static_cast<std::uint8_t>(rng());
    state.Registers.Stages[0] = 0xFF;
    for (auto& entry : state.KeyMatrix) entry = static_cast<std::uint8_t>(rng() & 1);
    state.TextPosition = static_cast<std::int64_t>(kHeader.size()) - 1;
    CopyHeader(state, state.TextPosition);
    state.KernelTable = &KernelsFor(isa);
    WarmUp(state);
  }

  // Everything written, after closing the files.
  std::vector<std::string> Outputs() {
    // A few key characters after the loop: the generator stands where the
    // steps leave it.
    std::string after;
    for (int i = 0; i < 3; ++i) {
      NextKeyChar(*State, State->KeyChar);
      after.push_back(static_cast<char>(State->KeyChar));
    }
    CloseRunFiles(*State);
    Con->Flush();
    std::vector<std::string> outputs = {testing::ReadFile(Dir.File("target")),
                                        testing::ReadFile(Dir.File("console")), after};
    if (State->WritesKeySeries()) {
      outputs.push_back(testing::ReadFile(Dir.File("additive")));
      outputs.push_back(testing::ReadFile(Dir.File("all")));
    }
    return outputs;
  }
};

using LoopParam = std::tuple<Isa, Program>;

class BulkLoops : public ::testing::TestWithParam<LoopParam> {
 protected:
  void SetUp() override {
    if (std::get<0>(GetParam()) > BestIsa()) GTEST_SKIP() << "not offered by this processor";
  }
  Isa Tier() const { return std::get<0>(GetParam()); }
  Program Variant() const { return std::get<1>(GetParam()); }

  // Enciphers `text` after the header by EncipherStep and by EncipherText,
  // starting from the given group counters, and compares; the bulk loop's
  // files with or without the second thread.
  void CompareEncipher(const std::string& text, std::uint32_t seed, int inGroup, int groupsInLine) {
    for (bool background : {false, true})
      CompareEncipher(text, seed, inGroup, groupsInLine, background);
  }
  void CompareEncipher(const std::string& text, std::uint32_t seed, int inGroup, int groupsInLine,
                       bool background) {
    SCOPED_TRACE(background ? "background I/O" : "no background I/O");
    LoopRun steps(kHeader + text, Variant(), Tier(), seed);
    LoopRun bulk(kHeader + text, Variant(), Tier(), seed, background);
    for (LoopRun* run : {&steps, &bulk}) {
      run->State->GroupCharCount = inGroup;
      run->State->GroupsInLine = groupsInLine;
    }
    while (!steps.State->SourceFile.AtEnd()) EncipherStep(*steps.State);
    EncipherText(*bulk.State);
    for (LoopRun* run : {&steps, &bulk}) PadLastGroup(*run->State);
    EXPECT_EQ(bulk.State->GroupCharCount, steps.State->GroupCharCount);
    EXPECT_EQ(bulk.State->GroupsInLine, steps.State->GroupsInLine);
    EXPECT_EQ(bulk.State->KeyChar, steps.State->KeyChar);
    ExpectSameOutputs(steps, bulk);
  }

  // Deciphers `text` after the header by DecipherStep and by DecipherText,
  // both up to the limit that FindTextLimit finds, and compares.
  void CompareDecipher(const std::string& text, std::uint32_t seed) {
    for (bool background : {false, true}) CompareDecipher(text, seed, background);
  }
  void CompareDecipher(const std::string& text, std::uint32_t seed, bool background) {
    SCOPED_TRACE(background ? "background I/O" : "no background I/O");
    LoopRun steps(kHeader + text, Variant(), Tier(), seed);
    LoopRun bulk(kHeader + text, Variant(), Tier(), seed, background);
    for (LoopRun* run : {&steps, &bulk}) {
      RunState& state = *run->State;
      state.TextLimit = FindTextLimit(state, state.TextPosition);
      state.SourceFile.Seek(state.TextPosition);
      state.DecipherDone = false;
      state.LettersShift = true;
    }
    while (!steps.State->DecipherDone) DecipherStep(*steps.State);
    DecipherText(*bulk.State);
    EXPECT_EQ(bulk.State->KeyChar, steps.State->KeyChar);
    EXPECT_EQ(bulk.State->LettersShift, steps.State->LettersShift);
    ExpectSameOutputs(steps, bulk);
  }

  static void ExpectSameOutputs(LoopRun& steps, LoopRun& bulk) {
    std::vector<std::string> expected = steps.Outputs();
    std::vector<std::string> got = bulk.Outputs();
    const char* names[] = {"target", "console", "key characters after", "additive series",
                           "all-additive"};
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].size(), expected[i].size()) << names[i];
      EXPECT_TRUE(got[i] == expected[i]) << names[i] << " differs";
    }
  }
};

std::string RandomText(std::mt19937& rng, std::size_t length, const std::string& alphabet,
                       int otherBytesPercent) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<int>(rng() % 100) < otherBytesPercent) {
      text.push_back(static_cast<char>(rng() % 256));
    } else {
      text.push_back(alphabet[rng() % alphabet.size()]);
    }
  }
  return text;
}

const std::string kTableChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz|< *#%-?:@38().,9014\"57=2/6+\r\n";

// Every byte below 32 has the code of its value.
const std::string kBytesBelow32 = [] {
  std::string bytes;
  for (int b = 0; b < 32; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}();

TEST_P(BulkLoops, EncipherEqualsTheSteps) {
  std::mt19937 rng(2024);
  // Lengths around the buffer of 64 KiB and the key block, and short ones.
  const std::size_t lengths[] = {1, 2, 5, 63, 64, 65, 1000, 70000, 140000};
  int trial = 0;
  for (std::size_t length : lengths) {
    SCOPED_TRACE(length);
    // Table characters only, then with every byte below 32 mixed in.
    CompareEncipher(RandomText(rng, length, kTableChars, 0), 10 + trial, trial % 5, 6);
    CompareEncipher(RandomText(rng, length, kTableChars + kBytesBelow32, 0), 20 + trial,
                    (trial + 2) % 5, trial % 10);
    ++trial;
  }
}

// A byte without a code that the loops meet (one that came after the check
// of the text) stops both at that byte with the same error, and everything
// before it is written alike; nothing of it reaches the cipher text.
TEST_P(BulkLoops, EncipherStopsAtAByteWithoutACodeAsTheStepsDo) {
  std::mt19937 rng(4711);
  const std::uint8_t uncoded[] = {'!', '[', 0x7F, 0xC3, 0xFF};
  // At the start, inside a pass, at a pass's end and past a buffer of 64 KiB.
  const std::size_t places[] = {0, 1, 700, 1023, 1024, 65535, 65536, 100001};
  int trial = 0;
  for (std::size_t place : places) {
    for (bool background : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "at " << place << (background ? ", background" : ""));
      std::string text = RandomText(rng, place + 5000, kTableChars, 0);
      text[place] = static_cast<char>(uncoded[trial++ % std::size(uncoded)]);
      LoopRun steps(kHeader + text, Variant(), Tier(), 9);
      LoopRun bulk(kHeader + text, Variant(), Tier(), 9, background);
      for (LoopRun* run : {&steps, &bulk}) run->State->GroupsInLine = kGroupsInLineAtStart;
      auto codeOfStop = [](auto loop) {
        try {
          loop();
        } catch (const IoError& error) {
          return error.Code;
        }
        return 0;
      };
      EXPECT_EQ(codeOfStop([&] {
                  while (!steps.State->SourceFile.AtEnd()) EncipherStep(*steps.State);
                }),
                kSourceChanged);
      EXPECT_EQ(codeOfStop([&] { EncipherText(*bulk.State); }), kSourceChanged);
      EXPECT_EQ(bulk.State->SourceFile.Position(), steps.State->SourceFile.Position());
      EXPECT_EQ(steps.State->SourceFile.Position(),
                static_cast<std::int64_t>(kHeader.size() + place + 1));
      ExpectSameOutputs(steps, bulk);
    }
  }
}

TEST_P(BulkLoops, DecipherEqualsTheSteps) {
  std::mt19937 rng(77);
  // Cipher text as the encipher loop lays it out, deciphered in full.
  {
    LoopRun cipher(kHeader + RandomText(rng, 150000, kTableChars, 0), Program::Quarvel,
                   Isa::Portable, 5);
    cipher.State->GroupsInLine = kGroupsInLineAtStart;
    EncipherText(*cipher.State);
    PadLastGroup(*cipher.State);
    std::string text = cipher.Outputs()[0].substr(kHeader.size());
    CompareDecipher(text, 5);
    // Cut off inside a group, and with its filling gone.
    CompareDecipher(text.substr(0, text.size() - 3), 5);
    CompareDecipher(text.substr(0, 99999), 5);
  }
  // Groups of capitals heavy in "Y", lower case inside, broken groups and
  // junk, with trailing "Y" letters.
  const std::string groupLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZYYYYYYYYY";
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE(trial);
    std::string text;
    std::size_t groups = 1 + rng() % (trial < 6 ? 20 : 30000);
    for (std::size_t g = 0; g < groups; ++g) {
      for (int k = 0; k < 5; ++k) {
        char letter = groupLetters[rng() % groupLetters.size()];
        if (trial % 3 == 1 && rng() % 50 == 0) letter = static_cast<char>(letter | 0x20);
        text.push_back(letter);
      }
      text += g % 10 == 3 ? "\r\n" : " ";
      if (trial % 4 == 2 && rng() % 200 == 0) text += "  \n\r ";
    }
    switch (trial % 4) {
      case 0:
        text += std::string(1 + rng() % 9, 'Y');
        break;
      case 1:
        text += "AB";
        break;
      case 2:
        text += "YYYYY";
        break;
      default:
        text += RandomText(rng, 5000, "ABCYy yz\r\n", 10);
        break;
    }
    CompareDecipher(text, 100 + trial);
  }
  // Anything at all.
  for (int trial = 0; trial < 6; ++trial) {
    CompareDecipher(RandomText(rng, 20000, "ABCDEFGHIJKLMNOPQRSTUVWXYZYYYYyy", 20), 200 + trial);
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllIsas, BulkLoops,
    ::testing::Combine(::testing::Values(Isa::Portable, Isa::Avx2, Isa::Avx512),
                       ::testing::Values(Program::Quarvel, Program::QuarvelKeys)),
    [](const ::testing::TestParamInfo<LoopParam>& info) {
      return std::string(IsaName(std::get<0>(info.param))) +
             (std::get<1>(info.param) == Program::Quarvel ? "Quarvel" : "QuarvelKeys");
    });

// ---- The text limit against the scan rule, byte by byte, on every tier ----

// The last letter of the last complete group of capitals, read from the
// byte after the header: capitals count in fives; any other byte is passed
// over between groups and ends the scan inside one; the filling "Y" letters
// of the last group are not counted when the scan ended on a complete group.
std::int64_t LimitByTheRule(const std::string& file, std::int64_t headerEnd) {
  std::int64_t lastGroupEnd = 0;
  int inGroup = 0;
  for (std::size_t p = static_cast<std::size_t>(headerEnd) + 1; p < file.size(); ++p) {
    bool capital = file[p] >= 'A' && file[p] <= 'Z';
    if (capital) {
      if (++inGroup == 5) {
        inGroup = 0;
        lastGroupEnd = static_cast<std::int64_t>(p);
      }
    } else if (inGroup != 0) {
      break;
    }
  }
  if (inGroup == 0 && lastGroupEnd > 0) {
    while (lastGroupEnd > 0 && file[static_cast<std::size_t>(lastGroupEnd)] == 'Y') --lastGroupEnd;
  }
  return lastGroupEnd;
}

TEST(FindTextLimit, FollowsTheScanRuleOverLongTexts) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 30; ++trial) {
    SCOPED_TRACE(trial);
    std::string text;
    std::size_t groups = 1 + rng() % 40000;
    for (std::size_t g = 0; g < groups; ++g) {
      text += RandomText(rng, 5, "ABCDEFGHIJKLMNOPQRSTUVWXYZYYYY", 0);
      // In odd trials some groups run on into the next, with no separator.
      if (trial % 2 == 1 && rng() % 4 == 0) continue;
      text += rng() % 3 ? " " : "\r\n";
    }
    // Where the scan should end: a short group, a lower-case letter or a
    // byte that is no capital inside a group, or the end of the file.
    std::size_t at = rng() % (text.size() + 1);
    auto insert = [&](const std::string& piece) {
      std::string longer = text.substr(0, at);
      longer.append(piece);
      longer.append(text, at, std::string::npos);
      text.swap(longer);
    };
    switch (trial % 5) {
      case 0:
        insert("ABC ");
        break;
      case 1:
        insert("a");
        break;
      case 2:
        insert(std::string(1, static_cast<char>(rng() % 256)));
        break;
      case 3:
        text += "YYYYYYY";
        break;
      default:
        break;
    }
    for (Isa tier : {Isa::Portable, Isa::Avx2, Isa::Avx512}) {
      if (tier > BestIsa()) continue;
      LoopRun run(kHeader + text, Program::Quarvel, tier, 1);
      std::int64_t limit = FindTextLimit(*run.State, run.State->TextPosition);
      EXPECT_EQ(limit, LimitByTheRule(kHeader + text, run.State->TextPosition)) << IsaName(tier);
    }
  }
}

}  // namespace
}  // namespace quarvel

namespace quarvel {
namespace {

TEST(TierChoice, RequestLowersTheTierAndNeverRaisesIt) {
  struct Case {
    const char* Request;
    Isa Best;
    Isa Expected;
  };
  const Case cases[] = {
      {nullptr, Isa::Avx512, Isa::Avx512},   {"portable", Isa::Avx512, Isa::Portable},
      {"avx2", Isa::Avx512, Isa::Avx2},      {"avx512", Isa::Avx512, Isa::Avx512},
      {"avx512", Isa::Avx2, Isa::Avx2},      {"avx2", Isa::Portable, Isa::Portable},
      {"AVX2", Isa::Avx512, Isa::Avx512},    {"", Isa::Avx2, Isa::Avx2},
      {"sse", Isa::Portable, Isa::Portable},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseIsa(c.Request, c.Best), c.Expected)
        << (c.Request ? c.Request : "(none)") << " with best " << IsaName(c.Best);
  }
  EXPECT_LE(RunIsa(), BestIsa());
}

// Both programs in both modes, once per tier the variable can ask for: every
// file, the console and the exit status are the same.
TEST(TierChoice, VariableChangesNoOutput) {
  std::mt19937 rng(404);
  const std::string plain = kHeader + RandomText(rng, 200000, kTableChars, 0);
  const std::string key = testing::ReadFile(testing::SourceDir() + "/examples/key.txt");
  std::vector<std::string> first;
  for (const char* tier : {"avx512", "avx2", "portable"}) {
    SCOPED_TRACE(tier);
    testing::ProcessOptions options;
    options.Environment = {std::string("QUARVEL_ISA=") + tier};
    testing::TempDir dir;
    testing::WriteFile(dir.File("key.txt"), key);
    testing::WriteFile(dir.File("plain.txt"), plain);
    std::vector<std::string> outputs;
    for (const char* mode : {"C", "D"}) {
      testing::ProcessResult run = testing::RunProcess(
          testing::QuarvelKeysPath(),
          {mode, "id", dir.File("key.txt"), dir.File("cipher.txt"),
           dir.File(mode[0] == 'C' ? "plain.txt" : "back.txt"), dir.File("add"), dir.File("all")},
          options);
      EXPECT_EQ(run.ExitStatus, 0) << mode;
      outputs.push_back(run.Out);
      for (const char* name : {"cipher.txt", "add", "all"}) {
        outputs.push_back(testing::ReadFile(dir.File(name)));
      }
    }
    outputs.push_back(testing::ReadFile(dir.File("back.txt")));
    EXPECT_GT(outputs.back().size(), plain.size() / 2);
    if (first.empty()) {
      first = outputs;
    } else {
      ASSERT_EQ(outputs.size(), first.size());
      for (std::size_t i = 0; i < outputs.size(); ++i) EXPECT_TRUE(outputs[i] == first[i]) << i;
    }
  }
}

}  // namespace
}  // namespace quarvel
