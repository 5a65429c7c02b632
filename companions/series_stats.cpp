#include "companions/series_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace quarvel::companions {

ValueCounts CountValues(std::span<const std::uint8_t> series) {
  ValueCounts counts{};
  for (std::uint8_t value : series) {
    if (value < kKeyValues) ++counts[value];
  }
  return counts;
}

std::optional<double> ChiSquareUniform(const ValueCounts& counts) {
  std::int64_t total = 0;
  for (std::int64_t count : counts) total += count;
  if (total == 0) return std::nullopt;
  const double expected = static_cast<double>(total) / kKeyValues;
  double sum = 0;
  for (std::int64_t count : counts) {
    double deviation = static_cast<double>(count) - expected;
    sum += deviation * deviation / expected;
  }
  return sum;
}

namespace {

constexpr double kEpsilon = 1e-15;
constexpr int kMaxIterations = 10000;

// x^a e^-x / Γ(a), the factor in front of both expansions.
double GammaPrefactor(double a, double x) {
  return std::exp(a * std::log(x) - x - std::lgamma(a));
}

// The lower function P(a, x) by its power series; converges fast for
// x < a + 1.
double LowerBySeries(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  for (int n = 1; n < kMaxIterations; ++n) {
    term *= x / (a + n);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * kEpsilon) break;
  }
  return sum * GammaPrefactor(a, x);
}

// The upper function Q(a, x) by its continued fraction, evaluated from the
// front (modified Lentz); converges fast for x >= a + 1.
double UpperByFraction(double a, double x) {
  constexpr double kTiny = std::numeric_limits<double>::min() / kEpsilon;
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double result = d;
  for (int i = 1; i < kMaxIterations; ++i) {
    double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    double factor = d * c;
    result *= factor;
    if (std::fabs(factor - 1.0) < kEpsilon) break;
  }
  return result * GammaPrefactor(a, x);
}

}  // namespace

double RegularizedUpperGamma(double a, double x) {
  if (!(a > 0) || !(x >= 0)) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0) return 1.0;
  if (x < a + 1.0) return 1.0 - LowerBySeries(a, x);
  return UpperByFraction(a, x);
}

double ChiSquarePValue(double statistic, int degrees) {
  return RegularizedUpperGamma(degrees / 2.0, statistic / 2.0);
}

std::optional<double> SerialCorrelation(std::span<const std::uint8_t> series) {
  if (series.size() < 3) return std::nullopt;
  const std::size_t pairs = series.size() - 1;
  double meanX = 0, meanY = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    meanX += series[i];
    meanY += series[i + 1];
  }
  meanX /= static_cast<double>(pairs);
  meanY /= static_cast<double>(pairs);
  double sxy = 0, sxx = 0, syy = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    double dx = series[i] - meanX;
    double dy = series[i + 1] - meanY;
    sxy += dx * dy;
    sxx += dx * dx;
    syy += dy * dy;
  }
  if (sxx == 0 || syy == 0) return std::nullopt;
  return sxy / std::sqrt(sxx * syy);
}

PairRelation CheckPairRelation(std::span<const std::uint8_t> additive,
                               std::span<const std::uint8_t> all) {
  // Every way of reading `all` so far, as the number of characters of
  // `additive` matched and how the last character of `all` was taken.
  // Several ways can be open at once (a character may be kept or be the one
  // left out after a pair), so no single greedy choice decides.
  enum : std::uint8_t { kStart = 1, kKept = 2, kLeftOut = 4 };
  using Way = std::pair<std::size_t, std::uint8_t>;  // matched, how
  std::vector<Way> ways{{0, kStart}};
  std::vector<Way> next;
  std::size_t matched = 0;
  auto add = [&next](std::size_t count, std::uint8_t how) {
    if (!next.empty() && next.back().first == count) {
      next.back().second |= how;
    } else {
      next.emplace_back(count, how);
    }
  };
  for (std::uint8_t value : all) {
    next.clear();
    // Ways are sorted by their count, and each one leads to the same count or
    // one more, so the next ways come out sorted too.
    for (const auto& [count, how] : ways) {
      if (how & kKept) add(count, kLeftOut);
      if (count < additive.size() && additive[count] == value) add(count + 1, kKept);
    }
    std::swap(ways, next);
    if (ways.empty()) break;
    matched = std::max(matched, ways.back().first);
  }
  PairRelation relation;
  relation.Matched = matched;
  if (!ways.empty() && ways.back().first == additive.size()) {
    relation.Holds = true;
    relation.Pairs = all.size() - additive.size();
  }
  return relation;
}

}  // namespace quarvel::companions
