// The key stream: worked examples, the parts of one key bit, the warm-up's
// parity, and the block generator against the step-by-step one.
#include "generator/key_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "coding/kernels.h"
#include "coding/key_chars.h"
#include "generator/key_block.h"
#include "generator/register_bank.h"
#include "state/run_state.h"

namespace quarvel {
namespace {

// Stage 0 = 0xFF, the rest 0, parity 0, five steps per key character.
std::unique_ptr<RunState> StartState(std::uint8_t matrixFill) {
  auto state = std::make_unique<RunState>();
  state->Registers.Stages[0] = 0xFF;
  state->StepParity = 0;
  state->StepsPerChar = 5;
  state->KeyMatrix.fill(matrixFill);
  state->KernelTable = &KernelsFor(RunIsa());
  return state;
}

std::vector<int> KeyChars(RunState& state, int count) {
  std::vector<int> chars;
  for (int i = 0; i < count; ++i) {
    NextKeyChar(state, state.KeyChar);
    chars.push_back(state.KeyChar);
  }
  return chars;
}

TEST(KeyStream, WorkedExamples) {
  auto zeros = StartState(0);
  EXPECT_EQ(KeyChars(*zeros, 3), (std::vector<int>{9, 17, 31}));
  auto ones = StartState(1);
  EXPECT_EQ(KeyChars(*ones, 3), (std::vector<int>{22, 14, 0}));

  // The step-by-step reference gives the same.
  auto stepwise = StartState(0);
  std::vector<int> chars;
  for (int i = 0; i < 3; ++i) {
    chars.push_back(
        StepwiseKeyChar(stepwise->Registers, stepwise->StepParity, stepwise->KeyMatrix, 5));
  }
  EXPECT_EQ(chars, (std::vector<int>{9, 17, 31}));
}

TEST(KeyStream, StepsOfTheFirstKeyCharacter) {
  auto state = StartState(0);
  struct Step {
    std::uint8_t Output;  // new stage-0 byte
    int Row, Column;
    std::uint8_t KeyBit;  // with an all-zero matrix
    std::uint8_t Parity;  // of the output byte
  };
  const Step steps[5] = {
      {0x14, 2, 8, 0, 0}, {0x67, 6, 6, 1, 1}, {0xB7, 6, 13, 0, 0},
      {0x44, 2, 2, 0, 0}, {0x8B, 5, 1, 1, 0},
  };
  std::uint8_t parity = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.Output));
    const StepBits bits = StepRegisters(state->Registers);
    ASSERT_EQ(state->Registers.Stages[0], step.Output);

    // The entry selected is (row, column): a lone 1 there is found, a lone 0
    // in a matrix of ones too.
    StructureMatrix single{};
    single[16 * step.Row + step.Column] = 1;
    EXPECT_EQ(LookupBit(single, bits), 1);
    StructureMatrix hole;
    hole.fill(1);
    hole[16 * step.Row + step.Column] = 0;
    EXPECT_EQ(LookupBit(hole, bits), 0);

    std::uint8_t keyBit = 7;
    CombineBit(keyBit, state->KeyMatrix, bits, parity);
    EXPECT_EQ(keyBit, step.KeyBit);
    // The entry and the previous parity each invert the key bit.
    CombineBit(keyBit, single, bits, parity);
    EXPECT_EQ(keyBit, step.KeyBit ^ 1);
    CombineBit(keyBit, state->KeyMatrix, bits, parity ^ 1);
    EXPECT_EQ(keyBit, step.KeyBit ^ 1);

    FoldParity(parity, bits);
    EXPECT_EQ(parity, step.Parity);
  }
}

TEST(KeyStream, InvertedMatrixGives31MinusEachCharacter) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 4; ++trial) {
    auto a = StartState(0);
    auto b = StartState(0);
    for (int i = 1; i < kStageCount; ++i) {
      a->Registers.Stages[i] = b->Registers.Stages[i] = static_cast<std::uint8_t>(rng());
    }
    for (int i = 0; i < 128; ++i) {
      a->KeyMatrix[i] = static_cast<std::uint8_t>(rng() & 1);
      b->KeyMatrix[i] = a->KeyMatrix[i] ^ 1;
    }
    WarmUp(*a);
    WarmUp(*b);
    std::vector<int> ca = KeyChars(*a, 5000);
    std::vector<int> cb = KeyChars(*b, 5000);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(cb[i], 31 - ca[i]) << "character " << i;
  }
}

int ByteParity(std::uint8_t f) {
  return __builtin_popcount(f) & 1;
}

TEST(KeyStream, FirstKeyBitUsesTheParityOfTheLastWarmUpStep) {
  // A start whose 150th step has odd parity, found by stepping copies of the
  // bank by hand.
  RegisterBank start;
  start.Stages[0] = 0xFF;
  std::vector<std::uint8_t> outputs;
  for (int k = 0; k < 256; ++k) {
    start.Stages[1] = static_cast<std::uint8_t>(k);
    RegisterBank bank = start;
    outputs.clear();
    for (int n = 0; n < 155; ++n) outputs.push_back(StepBank(bank));
    if (ByteParity(outputs[149]) == 1) break;
  }
  ASSERT_EQ(ByteParity(outputs[149]), 1);

  // With an all-zero matrix a key bit is bit 0 of its step's output XOR the
  // parity of the output before it.
  int expected = 0;
  for (int n = 150; n < 155; ++n) {
    expected = (expected << 1) | ((outputs[n] & 1) ^ ByteParity(outputs[n - 1]));
  }
  auto state = StartState(0);
  state->Registers = start;
  WarmUp(*state);
  EXPECT_EQ(state->StepParity, 1);
  EXPECT_EQ(state->Registers.Stages[0], outputs[149]);
  NextKeyChar(*state, state->KeyChar);
  EXPECT_EQ(state->KeyChar, expected);
  // A first bit made with parity 0 would differ in its top bit.
  EXPECT_NE((state->KeyChar >> 4) & 1, outputs[150] & 1);
}

TEST(KeyStream, RunPathAfterWarmUpEqualsStepwise) {
  std::mt19937 rng(7);
  auto run = StartState(0);
  auto reference = StartState(0);
  for (int i = 1; i < kStageCount; ++i) {
    run->Registers.Stages[i] = reference->Registers.Stages[i] = static_cast<std::uint8_t>(rng());
  }
  for (int i = 0; i < 128; ++i) {
    run->KeyMatrix[i] = reference->KeyMatrix[i] = static_cast<std::uint8_t>(rng() & 1);
  }
  WarmUp(*run);
  WarmUp(*reference);
  for (int i = 0; i < 3 * KeyBlock::kChars + 777; ++i) {
    NextKeyChar(*run, run->KeyChar);
    std::uint8_t expected =
        StepwiseKeyChar(reference->Registers, reference->StepParity, reference->KeyMatrix, 5);
    ASSERT_EQ(run->KeyChar, expected) << "character " << i;
  }
}

TEST(KeyBlock, EqualsStepwiseGenerator) {
  std::mt19937 rng(0x5eed);
  auto block = std::make_unique<KeyBlock>();
  for (int trial = 0; trial < 40; ++trial) {
    SCOPED_TRACE(trial);
    RegisterBank bank;
    for (int i = 0; i < kStageCount; ++i) bank.Stages[i] = static_cast<std::uint8_t>(rng());
    // Some starts as loading makes them.
    if (trial % 4 == 0) bank.Stages[0] = 0xFF;
    StructureMatrix matrix;
    for (int i = 0; i < 128; ++i) matrix[i] = static_cast<std::uint8_t>(rng() & 1);
    std::uint8_t parity = static_cast<std::uint8_t>(rng() & 1);
    const int warmUp = trial == 0 ? 0 : trial == 1 ? 300 : static_cast<int>(rng() % 301);
    for (int n = 0; n < warmUp; ++n) FoldParity(parity, StepRegisters(bank));
    StartKeyBlock(*block, bank, parity, matrix);
    const int length = 3 * KeyBlock::kChars + 1 + static_cast<int>(rng() % 2000);
    for (int i = 0; i < length; ++i) {
      std::uint8_t expected = StepwiseKeyChar(bank, parity, matrix, 5);
      ASSERT_EQ(TakeKeyChar(*block, KernelsFor(RunIsa())), expected)
          << "warm-up " << warmUp << ", character " << i;
    }
  }
}

}  // namespace
}  // namespace quarvel
