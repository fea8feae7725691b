// Statistics across the runs of a sweep: means, sample standard deviations,
// Student's t intervals of a mean and Welch's interval of a difference.
#pragma once

#include <cstdint>
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
  const char* method = nullptr;  // how the interval was made: "t" or "bootstrap"; none without one
};
TEstimate Estimate(std::span<const double> values);

// The values a measure can take: a gene within its range, a rate or a count
// not below zero. An open end is absent.
struct TBounds {
  std::optional<double> lowest;
  std::optional<double> highest;
};

// Estimate's mean with an interval inside `bounds`: Student's t where it fits,
// else the percentile bootstrap of the mean over the values (a fixed seed, so
// the same values give the same interval), which stays within the values'
// own range.
TEstimate BoundedEstimate(std::span<const double> values, const TBounds& bounds);

// A group's mean and spread gathered one value at a time, in bounded memory:
// the mean is the sum over the count, as Estimate's, the spread Welford's.
class TRunningEstimate {
 public:
  void Add(double value);
  size_t Count() const { return n_; }
  TEstimate Estimate() const;

 private:
  size_t n_ = 0;
  double sum_ = 0;
  double mean_ = 0;
  double squares_ = 0;  // the sum of squared deviations from the running mean
};

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
