// Statistics of key series: value counts, the chi-square test against a
// uniform distribution, the serial correlation of neighbouring characters,
// and the relation between the additive series and the all-additive file of
// one run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quarvel::companions {

inline constexpr int kKeyValues = 32;

using ValueCounts = std::array<std::int64_t, kKeyValues>;

// How often each value 0 to 31 occurs; bytes of 32 or more are not counted.
ValueCounts CountValues(std::span<const std::uint8_t> series);

// Sum over the 32 values of (count - expected)^2 / expected, with expected
// = total / 32. Nothing for an empty series.
std::optional<double> ChiSquareUniform(const ValueCounts& counts);

// The regularized upper incomplete gamma function Q(a, x) = Γ(a, x) / Γ(a),
// for a > 0 and x >= 0.
double RegularizedUpperGamma(double a, double x);

// The probability that a chi-square variable with `degrees` degrees of
// freedom is at least `statistic`.
double ChiSquarePValue(double statistic, int degrees);

// The correlation coefficient of the pairs (x[i], x[i + 1]). Nothing when
// there are fewer than two pairs or either side of the pairs is constant.
std::optional<double> SerialCorrelation(std::span<const std::uint8_t> series);

// Whether `additive` is `all` without one character right after each of
// some kept characters: the extra key character a run takes after every
// two-letter pair. A character that is left out always follows one that is
// kept, so the first character is kept and no two in a row are left out.
struct PairRelation {
  bool Holds = false;
  std::size_t Pairs = 0;  // characters left out, when it holds
  // When it does not hold: how many characters of `additive` can be matched
  // from its start.
  std::size_t Matched = 0;
};

PairRelation CheckPairRelation(std::span<const std::uint8_t> additive,
                               std::span<const std::uint8_t> all);

}  // namespace quarvel::companions
