#include "Statistics.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kMaxFractionTerms = 300;
constexpr double kFractionEpsilon = 1e-15;
constexpr double kTiny = 1e-300;
constexpr int kBisections = 200;

// The continued fraction of I_x(a, b), evaluated by the modified Lentz
// method; converges fast for x < (a + 1) / (a + b + 2).
double BetaFraction(double a, double b, double x) {
  const auto guard = [](double v) { return std::fabs(v) < kTiny ? kTiny : v; };
  double c = 1.0;
  double d = 1.0 / guard(1.0 - (a + b) * x / (a + 1.0));
  double result = d;
  for (int m = 1; m <= kMaxFractionTerms; ++m) {
    const double m2 = 2.0 * m;
    // The even step, then the odd step of the fraction.
    double numerator = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
    d = 1.0 / guard(1.0 + numerator * d);
    c = guard(1.0 + numerator / c);
    result *= d * c;
    numerator = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
    d = 1.0 / guard(1.0 + numerator * d);
    c = guard(1.0 + numerator / c);
    const double delta = d * c;
    result *= delta;
    if (std::fabs(delta - 1.0) < kFractionEpsilon) break;
  }
  return result;
}

}  // namespace

double RegularisedIncompleteBeta(double a, double b, double x) {
  if (x <= 0) return 0.0;
  if (x >= 1) return 1.0;
  const double logFront =
      std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x);
  const double front = std::exp(logFront);
  if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaFraction(a, b, x) / a;
  return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

double StudentTCdf(double t, double df) {
  if (std::isinf(t)) return t > 0 ? 1.0 : 0.0;
  const double tail = 0.5 * RegularisedIncompleteBeta(df / 2.0, 0.5, df / (df + t * t));
  return t > 0 ? 1.0 - tail : tail;
}

double StudentTQuantile(double p, double df) {
  if (!(p > 0 && p < 1) || !(df > 0)) return std::numeric_limits<double>::quiet_NaN();
  if (p == 0.5) return 0.0;
  if (p < 0.5) return -StudentTQuantile(1.0 - p, df);
  // The CDF rises monotonically: bracket the quantile, then halve.
  double low = 0.0;
  double high = 1.0;
  while (StudentTCdf(high, df) < p) {
    low = high;
    high *= 2.0;
  }
  for (int i = 0; i < kBisections && high - low > 1e-13 * high; ++i) {
    const double middle = 0.5 * (low + high);
    (StudentTCdf(middle, df) < p ? low : high) = middle;
  }
  return 0.5 * (low + high);
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
  d.df = (va + vb) * (va + vb) /
         (va * va / static_cast<double>(a.n - 1) + vb * vb / static_cast<double>(b.n - 1));
  const double half = StudentTQuantile(0.5 + kConfidence / 2.0, *d.df) * *d.se;
  d.low = *d.difference - half;
  d.high = *d.difference + half;
  return d;
}
