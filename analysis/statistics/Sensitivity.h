// The estimators of variance-based and elementary-effect sensitivity
// analysis, over spans of doubles, and the percentile bootstrap their
// intervals come from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// The percentile bootstrap (Efron and Tibshirani 1993, "An Introduction to
// the Bootstrap", §13.3): `resamples` draws of n indices 0..n-1 with
// replacement from a 64-bit Mersenne Twister seeded with `seed` (its raw
// output modulo n, the same on every machine); `statistics` fills one value
// per statistic from a draw, or returns false to skip it. Per statistic the
// 2.5 and 97.5 percentiles of the draws kept; nothing below two kept draws.
using TBootstrapStatistics = std::function<bool(std::span<const size_t> draw, std::span<double> values)>;
std::vector<std::optional<std::pair<double, double>>> PercentileBootstrap(size_t n, size_t statistics,
                                                                          const TBootstrapStatistics& compute,
                                                                          uint64_t seed, int resamples);

// S1 and ST of one factor from the rows `use` of Saltelli's design, a, b
// and ab (A with the factor from B) holding f at each row.
//
// The outputs are centred first, by the mean ȳ of f(A) and f(B) pooled over
// the rows, which leaves every expectation unchanged and keeps the
// estimator's variance from growing with the square of the mean. With
// V = (1/2n) Σ (f(A) − ȳ)² + (f(B) − ȳ)² (the variance of A and B pooled,
// as SALib's sobol.analyze divides):
//   S1 = (1/n) Σ (f(B) − ȳ) (f(A_B) − f(A)) / V
//        (Saltelli et al. 2010, Comput. Phys. Commun. 181, 259-270, Table 2 (b)),
//   ST = (1/2n) Σ (f(A) − f(A_B))² / V  (Jansen 1999, Comput. Phys. Commun. 117, 35-43).
// `noise` is the variance the seeds leave in each value (a point's mean of
// r runs: σ²/r); it adds to V's expectation and to ST's numerator's and not
// to S1's (the noises of different points are independent), so it is
// subtracted from both: the indices of the mean response. Nothing when the
// corrected variance is not positive.
struct TSobolIndex {
  double s1 = 0;
  double st = 0;
};
std::optional<TSobolIndex> SobolIndex(std::span<const double> a, std::span<const double> b, std::span<const double> ab,
                                      std::span<const size_t> use, double noise = 0);

// Morris' statistics of a factor's elementary effects (Morris 1991,
// Technometrics 33, 161-174; μ* of Campolongo, Cariboni and Saltelli 2007,
// Environ. Model. Softw. 22, 1509-1518): μ the mean, μ* the mean of the
// absolute values, σ the sample standard deviation (n − 1; absent below two).
struct TMorrisMoments {
  double mu = 0;
  double muStar = 0;
  std::optional<double> sigma;
};
TMorrisMoments MorrisMoments(std::span<const double> effects);

// The mean absolute elementary effect that noise alone makes: two point
// means of noise variance `noise` each, a step of `delta` of the range apart,
// differ by a normal of variance 2·noise, whose mean absolute value is
// sqrt(2·noise)·sqrt(2/π); over delta, E|EE| = sqrt(2)·σ/Δ·sqrt(2/π).
double MorrisNoiseFloor(double noise, double delta);
