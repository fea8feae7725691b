// Statistics across the runs of a sweep: means, sample standard deviations,
// Student's t intervals of a mean and Welch's interval of a difference.
#pragma once

#include <optional>
#include <span>

// The confidence of every interval the analysis reports.
inline constexpr double kConfidence = 0.95;

// The t with P(T <= t) = p for Student's t with `df` degrees of freedom (need
// not be whole, as Welch's are not), from Boost.Math; NaN unless 0 < p < 1 and
// df > 0.
double StudentTQuantile(double p, double df);

// The mean of a group of values with its 95 % interval (Student's t, n - 1
// degrees of freedom). sd and the interval are absent below two values.
struct TEstimate {
  size_t n = 0;
  double mean = 0;           // 0 without values
  std::optional<double> sd;  // sample standard deviation (n - 1)
  std::optional<double> se;  // standard error of the mean
  std::optional<double> low;
  std::optional<double> high;
};
TEstimate Estimate(std::span<const double> values);

// b's mean minus a's, with Welch's 95 % interval (the Welch-Satterthwaite
// degrees of freedom). No difference when a group is empty, no interval when
// either has fewer than two values; a zero standard error gives the
// difference as its own interval.
struct TDifference {
  std::optional<double> difference;
  std::optional<double> se;
  std::optional<double> df;
  std::optional<double> low;
  std::optional<double> high;
};
TDifference Welch(const TEstimate& a, const TEstimate& b);
