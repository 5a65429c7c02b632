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

namespace {

// Counts of matched additive characters, from Lo to Hi inclusive.
struct CountSpan {
  std::size_t Lo, Hi;
};
using Spans = std::vector<CountSpan>;

void AddSpan(Spans& spans, CountSpan span) {
  if (!spans.empty() && span.Lo <= spans.back().Hi + 1) {
    spans.back().Hi = std::max(spans.back().Hi, span.Hi);
  } else {
    spans.push_back(span);
  }
}

// The union of two sorted lists of disjoint spans, sorted.
void MergeSpans(const Spans& a, const Spans& b, Spans& out) {
  out.clear();
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    bool fromA = j == b.size() || (i < a.size() && a[i].Lo <= b[j].Lo);
    AddSpan(out, fromA ? a[i++] : b[j++]);
  }
}

bool Contains(const Spans& spans, std::size_t count) {
  for (const CountSpan& span : spans) {
    if (span.Lo <= count && count <= span.Hi) return true;
  }
  return false;
}

}  // namespace

PairRelation CheckPairRelation(std::span<const std::uint8_t> additive,
                               std::span<const std::uint8_t> all) {
  // Every way of reading `all` so far, as the number of characters of
  // `additive` matched: `kept` when the last character of `all` was kept,
  // `leftOut` when it was the one left out after a pair. Several ways can be
  // open at once (a character may be kept or be the one left out), so no
  // single greedy choice decides. The ways are held as spans of counts,
  // which stay few even for a series of one repeated value.
  const std::size_t n = additive.size();
  // The last position of the run of equal values that each position is in.
  std::vector<std::size_t> runEnd(n);
  for (std::size_t c = n; c-- > 0;) {
    runEnd[c] = c + 1 < n && additive[c + 1] == additive[c] ? runEnd[c + 1] : c;
  }
  Spans kept, leftOut, from, nextKept;
  bool atStart = true;
  std::size_t matched = 0;
  for (std::uint8_t value : all) {
    MergeSpans(kept, leftOut, from);
    if (atStart) AddSpan(from, {0, 0});
    nextKept.clear();
    for (const CountSpan& span : from) {
      if (span.Lo >= n) continue;
      std::size_t hi = std::min(span.Hi, n - 1);
      for (std::size_t c = span.Lo; c <= hi;) {
        std::size_t end = std::min(runEnd[c], hi);
        if (additive[c] == value) AddSpan(nextKept, {c + 1, end + 1});
        c = end + 1;
      }
    }
    // Only a kept character may be followed by one left out.
    std::swap(leftOut, kept);
    std::swap(kept, nextKept);
    atStart = false;
    if (kept.empty() && leftOut.empty()) break;
    if (!kept.empty()) matched = std::max(matched, kept.back().Hi);
  }
  PairRelation relation;
  relation.Matched = matched;
  if (Contains(kept, n) || Contains(leftOut, n) || (atStart && n == 0)) {
    relation.Holds = true;
    relation.Pairs = all.size() - n;
  }
  return relation;
}

}  // namespace quarvel::companions
