#include "Statistics.h"

#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>

namespace {

namespace policies = boost::math::policies;
// A quantile too large for a double is infinite rather than an exception; the
// domain is checked before.
using TPolicy = policies::policy<policies::overflow_error<policies::ignore_error>>;

}  // namespace

double StudentTQuantile(double p, double df) {
  if (!(p > 0 && p < 1) || !(df > 0)) return std::numeric_limits<double>::quiet_NaN();
  return boost::math::quantile(boost::math::students_t_distribution<double, TPolicy>(df), p);
}

TEstimate Estimate(std::span<const double> values) {
  TEstimate e;
  e.n = values.size();
  if (e.n == 0) return e;
  double sum = 0;
  for (double v : values) sum += v;
  e.mean = sum / static_cast<double>(e.n);
  if (e.n < 2) return e;
  double squares = 0;
  for (double v : values) squares += (v - e.mean) * (v - e.mean);
  e.sd = std::sqrt(squares / static_cast<double>(e.n - 1));
  e.se = *e.sd / std::sqrt(static_cast<double>(e.n));
  const double half = StudentTQuantile(0.5 + kConfidence / 2.0, static_cast<double>(e.n - 1)) * *e.se;
  e.low = e.mean - half;
  e.high = e.mean + half;
  return e;
}

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
