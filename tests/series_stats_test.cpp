// Statistics of key series: the incomplete gamma function against closed
// forms, the chi-square statistic, the serial correlation, and the relation
// between an additive series and the all-additive file of its run.
#include "companions/series_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace quarvel::companions {
namespace {

// Q(n, x) for a whole number n: e^-x times the first n terms of e^x.
double UpperGammaOfWholeNumber(int n, double x) {
  double term = 1, sum = 0;
  for (int k = 0; k < n; ++k) {
    sum += term;
    term *= x / (k + 1);
  }
  return std::exp(-x) * sum;
}

// Q(n + 1/2, x) from Q(1/2, x) = erfc(sqrt x) and
// Q(a + 1, x) = Q(a, x) + x^a e^-x / Γ(a + 1).
double UpperGammaOfHalfNumber(int n, double x) {
  double q = std::erfc(std::sqrt(x));
  for (int k = 0; k < n; ++k) {
    double a = k + 0.5;
    q += std::exp(a * std::log(x) - x - std::lgamma(a + 1));
  }
  return q;
}

TEST(RegularizedUpperGamma, AgreesWithTheClosedFormsOnBothSidesOfTheSwitch) {
  for (int n : {1, 2, 3, 15, 16, 40}) {
    for (double x : {0.01, 0.5, 2.0, 10.0, 15.5, 16.0, 30.0, 60.0}) {
      EXPECT_NEAR(RegularizedUpperGamma(n, x), UpperGammaOfWholeNumber(n, x), 1e-12)
          << "a " << n << " x " << x;
      EXPECT_NEAR(RegularizedUpperGamma(n + 0.5, x), UpperGammaOfHalfNumber(n, x), 1e-12)
          << "a " << n + 0.5 << " x " << x;
    }
  }
  EXPECT_EQ(RegularizedUpperGamma(15.5, 0), 1.0);
  EXPECT_TRUE(std::isnan(RegularizedUpperGamma(0, 1)));
}

TEST(ChiSquarePValue, MatchesTheTabledCriticalValuesFor31DegreesOfFreedom) {
  EXPECT_NEAR(ChiSquarePValue(44.985, 31), 0.05, 1e-4);
  EXPECT_NEAR(ChiSquarePValue(52.191, 31), 0.01, 1e-4);
  EXPECT_NEAR(ChiSquarePValue(19.281, 31), 0.95, 1e-4);
}

TEST(ChiSquareUniform, IsZeroForEqualCountsAndGrowsWithTheDeviation) {
  ValueCounts equal;
  equal.fill(7);
  EXPECT_EQ(ChiSquareUniform(equal), 0.0);
  // 32 characters all of one value: (32 - 1)^2 / 1 + 31 * (0 - 1)^2 / 1.
  std::vector<std::uint8_t> same(32, 5);
  ValueCounts counts = CountValues(same);
  EXPECT_EQ(counts[5], 32);
  EXPECT_EQ(ChiSquareUniform(counts), 992.0);
  EXPECT_FALSE(ChiSquareUniform(ValueCounts{}).has_value());
}

TEST(SerialCorrelation, IsMinusOneForAlternatingAndOneForRisingSeries) {
  std::vector<std::uint8_t> alternating, rising;
  for (int i = 0; i < 40; ++i) alternating.push_back(i % 2 ? 31 : 0);
  for (int i = 0; i < 32; ++i) rising.push_back(static_cast<std::uint8_t>(i));
  EXPECT_NEAR(*SerialCorrelation(alternating), -1.0, 1e-12);
  EXPECT_NEAR(*SerialCorrelation(rising), 1.0, 1e-12);
  EXPECT_FALSE(SerialCorrelation(std::vector<std::uint8_t>(10, 3)).has_value());
  EXPECT_FALSE(SerialCorrelation(std::vector<std::uint8_t>{1, 2}).has_value());
}

std::vector<std::uint8_t> Series(const std::string& letters) {
  return {letters.begin(), letters.end()};
}

TEST(CheckPairRelation, FindsTheAdditiveSeriesInTheAllAdditiveFile) {
  struct Case {
    std::string Additive, All;
    bool Holds;
    std::size_t PairsOrMatched;
  };
  const std::vector<Case> cases = {
      {"abc", "abc", true, 0},
      {"abc", "abxc", true, 1},
      {"ab", "abx", true, 1},
      // Keeping the second b first would leave two characters in a row to
      // drop: the reading that drops the first b is the one that fits.
      {"abc", "abbxc", true, 2},
      {"", "", true, 0},
      {"abc", "abxyc", false, 2},
      {"abc", "xabc", false, 0},
      {"ab", "abxy", false, 2},
      {"abcd", "abc", false, 3},
      {"", "x", false, 0},
  };
  for (const Case& c : cases) {
    PairRelation relation = CheckPairRelation(Series(c.Additive), Series(c.All));
    EXPECT_EQ(relation.Holds, c.Holds) << c.Additive << " / " << c.All;
    EXPECT_EQ(c.Holds ? relation.Pairs : relation.Matched, c.PairsOrMatched)
        << c.Additive << " / " << c.All;
  }
}

TEST(CheckPairRelation, HoldsForALongSeriesWithExtraCharactersAfterRandomPairs) {
  std::mt19937 generator(31);
  std::uniform_int_distribution<int> value(0, 31);
  std::bernoulli_distribution pair(7.0 / 32);
  std::vector<std::uint8_t> additive, all;
  std::size_t pairs = 0;
  for (int i = 0; i < 20000; ++i) {
    additive.push_back(static_cast<std::uint8_t>(value(generator)));
    all.push_back(additive.back());
    if (pair(generator)) {
      all.push_back(static_cast<std::uint8_t>(value(generator)));
      ++pairs;
    }
  }
  PairRelation relation = CheckPairRelation(additive, all);
  EXPECT_TRUE(relation.Holds);
  EXPECT_EQ(relation.Pairs, pairs);

  // A key character lost from the middle of the all-additive file.
  std::vector<std::uint8_t> cut = all;
  cut.erase(cut.begin() + 10000);
  relation = CheckPairRelation(additive, cut);
  EXPECT_FALSE(relation.Holds);
  EXPECT_LT(relation.Matched, additive.size());
}

// The relation by trying every way: keep all[j] as additive[i], or leave it
// out when the character before it was kept.
bool HoldsByTrying(const std::vector<std::uint8_t>& additive, std::size_t i,
                   const std::vector<std::uint8_t>& all, std::size_t j, bool lastKept) {
  if (j == all.size()) return i == additive.size();
  if (i < additive.size() && additive[i] == all[j] &&
      HoldsByTrying(additive, i + 1, all, j + 1, true)) {
    return true;
  }
  return lastKept && HoldsByTrying(additive, i, all, j + 1, false);
}

TEST(CheckPairRelation, AgreesWithTryingEveryWayOnShortSeriesOfFewValues) {
  std::mt19937 generator(5);
  std::uniform_int_distribution<int> value(0, 1);
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> additive, all;
    int n = std::uniform_int_distribution<int>(0, 8)(generator);
    int m = std::uniform_int_distribution<int>(n, 2 * n + 1)(generator);
    for (int i = 0; i < n; ++i) additive.push_back(static_cast<std::uint8_t>(value(generator)));
    for (int i = 0; i < m; ++i) all.push_back(static_cast<std::uint8_t>(value(generator)));
    EXPECT_EQ(CheckPairRelation(additive, all).Holds, HoldsByTrying(additive, 0, all, 0, false))
        << "round " << round;
  }
}

TEST(CheckPairRelation, DecidesForASeriesOfOneRepeatedValue) {
  // Any arrangement of the extra characters fits, up to one after each kept
  // character.
  std::vector<std::uint8_t> additive(200000, 0);
  PairRelation relation = CheckPairRelation(additive, std::vector<std::uint8_t>(400000, 0));
  EXPECT_TRUE(relation.Holds);
  EXPECT_EQ(relation.Pairs, 200000u);
  relation = CheckPairRelation(additive, std::vector<std::uint8_t>(400001, 0));
  EXPECT_FALSE(relation.Holds);
  EXPECT_EQ(relation.Matched, 200000u);
}

}  // namespace
}  // namespace quarvel::companions
