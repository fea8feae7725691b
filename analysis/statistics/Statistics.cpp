#include "Statistics.h"

#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

namespace policies = boost::math::policies;
// A quantile too large for a double is infinite rather than an exception; the
// domain is checked before.
using TPolicy = policies::policy<policies::overflow_error<policies::ignore_error>>;

constexpr int kBootstrapResamples = 4000;
constexpr uint64_t kBootstrapSeed = 0x5eed2026;

// The mean and its t interval from the count, the sum and the sum of squared
// deviations from the mean.
TEstimate FromSums(size_t n, double sum, double squares) {
  TEstimate e;
  e.n = n;
  if (n == 0) return e;
  e.mean = sum / static_cast<double>(n);
  if (n < 2) return e;
  e.sd = std::sqrt(squares / static_cast<double>(n - 1));
  e.se = *e.sd / std::sqrt(static_cast<double>(n));
  const double half = StudentTQuantile(0.5 + kConfidence / 2.0, static_cast<double>(n - 1)) * *e.se;
  e.low = e.mean - half;
  e.high = e.mean + half;
  e.method = "t";
  return e;
}

// The p-quantile of sorted values, interpolated between neighbours.
double SortedQuantile(const std::vector<double>& sorted, double p) {
  const double at = p * static_cast<double>(sorted.size() - 1);
  const auto below = static_cast<size_t>(std::floor(at));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (at - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

}  // namespace

double StudentTQuantile(double p, double df) {
  if (!(p > 0 && p < 1) || !(df > 0)) return std::numeric_limits<double>::quiet_NaN();
  return boost::math::quantile(boost::math::students_t_distribution<double, TPolicy>(df), p);
}

TEstimate Estimate(std::span<const double> values) {
  double sum = 0;
  for (double v : values) sum += v;
  const double mean = values.empty() ? 0 : sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  return FromSums(values.size(), sum, squares);
}

TEstimate BoundedEstimate(std::span<const double> values, const TBounds& bounds) {
  TEstimate e = Estimate(values);
  if (!e.low || !e.high) return e;
  const bool fits = (!bounds.lowest || *e.low >= *bounds.lowest) && (!bounds.highest || *e.high <= *bounds.highest);
  if (fits) return e;
  // Resampled means of the runs (seeds): each draw picks n of them with
  // replacement. The generator's raw output is used, as the distributions'
  // algorithms differ between standard libraries.
  std::mt19937_64 random(kBootstrapSeed);
  const uint64_t n = values.size();
  std::vector<double> means;
  means.reserve(kBootstrapResamples);
  for (int b = 0; b < kBootstrapResamples; ++b) {
    double sum = 0;
    for (uint64_t i = 0; i < n; ++i) sum += values[static_cast<size_t>(random() % n)];
    means.push_back(sum / static_cast<double>(n));
  }
  std::sort(means.begin(), means.end());
  e.low = SortedQuantile(means, (1.0 - kConfidence) / 2.0);
  e.high = SortedQuantile(means, 0.5 + kConfidence / 2.0);
  e.method = "bootstrap";
  return e;
}

void TRunningEstimate::Add(double value) {
  ++n_;
  sum_ += value;
  const double delta = value - mean_;
  mean_ += delta / static_cast<double>(n_);
  squares_ += delta * (value - mean_);
}

TEstimate TRunningEstimate::Estimate() const { return FromSums(n_, sum_, squares_); }

TDifference Welch(const TEstimate& a, const TEstimate& b) {
  TDifference d;
  if (a.n == 0 || b.n == 0) return d;
  d.difference = b.mean - a.mean;
  if (!a.se || !b.se) return d;
  const double va = *a.se * *a.se;
  const double vb = *b.se * *b.se;
  d.se = std::sqrt(va + vb);
  if (*d.se == 0) {
    d.low = d.high = *d.difference;
    return d;
  }
  d.df = (va + vb) * (va + vb) / (va * va / static_cast<double>(a.n - 1) + vb * vb / static_cast<double>(b.n - 1));
  const double half = StudentTQuantile(0.5 + kConfidence / 2.0, *d.df) * *d.se;
  d.low = *d.difference - half;
  d.high = *d.difference + half;
  return d;
}
