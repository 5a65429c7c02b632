// The register bank: tap table, stepping, output bits and the period of a
// register.
#include "generator/register_bank.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "generator/key_block_kernels.h"

namespace quarvel {
namespace {

RegisterBank StartBank() {
  RegisterBank bank;
  bank.Stages[0] = 0xFF;
  return bank;
}

TEST(RegisterBank, TapTableStageByStage) {
  const std::uint8_t expected[kStageCount] = {0x14, 0x73, 0xA3, 0x33, 0x8F, 0x25, 0x67, 0xBD,
                                              0x16, 0xB6, 0xB4, 0x4C, 0x0C, 0xB4, 0x51, 0x90,
                                              0x6B, 0x1A, 0x6B, 0x09, 0xE0, 0x59, 0x0D, 0xA8,
                                              0x18, 0xE1, 0x70, 0x61, 0xC1, 0x01, 0x81};
  for (int i = 0; i < kStageCount; ++i) EXPECT_EQ(FeedbackTaps[i], expected[i]) << "stage " << i;
}

TEST(RegisterBank, TapTableReadByRegister) {
  // The taps of each register, as listed per register; the highest tap gives
  // its effective length.
  const std::vector<std::vector<int>> taps = {
      {1, 2, 3, 4, 5, 6, 7, 14, 16, 18, 19, 21, 22, 25, 27, 28, 29, 30},
      {1, 2, 3, 4, 6, 8, 9, 16, 17, 18},
      {0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 22},
      {4, 7, 11, 12, 16, 17, 18, 19, 21, 22, 23, 24},
      {0, 1, 3, 7, 8, 9, 10, 13, 14, 15, 17, 21, 24, 26},
      {1, 2, 3, 5, 6, 7, 9, 10, 13, 16, 18, 20, 23, 25, 26, 27},
      {1, 6, 11, 14, 16, 18, 20, 21, 25, 26, 27, 28},
      {2, 4, 7, 9, 10, 13, 15, 20, 23, 25, 28, 30},
  };
  const int lengths[8] = {31, 19, 23, 25, 27, 28, 29, 31};
  for (int b = 0; b < 8; ++b) {
    std::set<int> found;
    for (int i = 0; i < kStageCount; ++i) {
      if ((FeedbackTaps[i] >> b) & 1) found.insert(i);
    }
    EXPECT_EQ(found, std::set<int>(taps[b].begin(), taps[b].end())) << "register " << b;
    EXPECT_EQ(*found.rbegin() + 1, lengths[b]) << "register " << b;
  }
}

TEST(RegisterBank, FirstFiveStepsFromStageZeroAllOnes) {
  RegisterBank bank = StartBank();
  const std::uint8_t expected[5] = {0x14, 0x67, 0xB7, 0x44, 0x8B};
  for (int n = 0; n < 5; ++n) {
    EXPECT_EQ(StepBank(bank), expected[n]) << "step " << n + 1;
    EXPECT_EQ(bank.Stages[0], expected[n]);
  }
  // Every stage moved up one place per step: the 0xFF now stands in stage 5,
  // the outputs below it, newest first.
  EXPECT_EQ(bank.Stages[5], 0xFF);
  for (int n = 0; n < 5; ++n) EXPECT_EQ(bank.Stages[4 - n], expected[n]);
  for (int i = 6; i < kStageCount; ++i) EXPECT_EQ(bank.Stages[i], 0);
}

TEST(RegisterBank, StepRegistersGivesTheStepBits) {
  RegisterBank bank = StartBank();
  // 0x14, element 0 from register 7.
  const StepBits expected = {0, 0, 0, 1, 0, 1, 0, 0};
  EXPECT_EQ(StepRegisters(bank), expected);
  EXPECT_EQ(bank.Stages[0], 0x14);
  EXPECT_EQ(bank.Stages[1], 0xFF);
  const StepBits second = {0, 1, 1, 0, 0, 1, 1, 1};  // 0x67
  EXPECT_EQ(StepRegisters(bank), second);
}

TEST(RegisterBank, AllZeroBankStaysZero) {
  RegisterBank bank;
  for (int n = 0; n < 100; ++n) EXPECT_EQ(StepRegisters(bank), StepBits{});
  EXPECT_EQ(bank.Stages, RegisterBank{}.Stages);
}

// Bits 0 to 18 of register 1: the stages that its feedback reads.
std::uint32_t RegisterOneState(const RegisterBank& bank) {
  std::uint32_t state = 0;
  for (int i = 0; i < 19; ++i) state |= static_cast<std::uint32_t>((bank.Stages[i] >> 1) & 1) << i;
  return state;
}

TEST(RegisterBank, RegisterOneRepeatsEvery2To19Minus1Steps) {
  constexpr int kPeriod = (1 << 19) - 1;  // a prime: no shorter period but 1
  // Some start whose stages 0 to 18 of register 1 are not all zero; the
  // other registers and stages are set too, and do not matter.
  RegisterBank bank;
  for (int i = 0; i < kStageCount; ++i) bank.Stages[i] = static_cast<std::uint8_t>(0x5A ^ (7 * i));
  const std::uint32_t start = RegisterOneState(bank);
  ASSERT_NE(start, 0u);

  std::vector<std::uint8_t> outputs;
  outputs.reserve(kPeriod + 64);
  for (int n = 1; n <= kPeriod; ++n) {
    outputs.push_back(static_cast<std::uint8_t>((StepBank(bank) >> 1) & 1));
    if (n < kPeriod) {
      ASSERT_NE(RegisterOneState(bank), start) << "back at the start after " << n;
    }
  }
  EXPECT_EQ(RegisterOneState(bank), start);
  // The output sequence goes on as it began.
  for (int n = 0; n < 64; ++n) {
    EXPECT_EQ((StepBank(bank) >> 1) & 1, outputs[n]) << "step " << kPeriod + n + 1;
  }
}

// The block generator's four-term recurrences hold for every register's
// output bits, from any start, once 8 times the longest delay is behind.
TEST(RegisterBank, EveryRegisterObeysItsFourTermRecurrence) {
  std::mt19937 rng(8);
  for (int trial = 0; trial < 3; ++trial) {
    RegisterBank bank;
    for (auto& stage : bank.Stages) stage = static_cast<std::uint8_t>(rng());
    std::vector<std::uint8_t> outputs;
    const int longest = 8 * kPlaneDelays[6][2];
    for (int n = 0; n < longest + 4000; ++n) outputs.push_back(StepBank(bank));
    for (int r = 0; r < 8; ++r) {
      SCOPED_TRACE(r);
      const int a = 8 * kPlaneDelays[r][0], b = 8 * kPlaneDelays[r][1], c = 8 * kPlaneDelays[r][2];
      ASSERT_LE(c, longest);
      for (int n = longest; n < static_cast<int>(outputs.size()); ++n) {
        int bit = (outputs[n] ^ outputs[n - a] ^ outputs[n - b] ^ outputs[n - c]) >> r & 1;
        ASSERT_EQ(bit, 0) << "step " << n;
      }
    }
  }
}

}  // namespace
}  // namespace quarvel
