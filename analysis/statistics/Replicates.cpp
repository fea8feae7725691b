#include "Replicates.h"

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <map>

#include "Statistics.h"

namespace {

double FQuantile(double p, double df1, double df2) {
  return boost::math::quantile(boost::math::fisher_f_distribution<double>(df1, df2), p);
}

// ICC(1) from F and n0, as Shrout and Fleiss give it.
double Icc(double f, double n0) { return (f - 1) / (f + n0 - 1); }

}  // namespace

TSeedShare SeedShare(std::span<const double> values, std::span<const size_t> point) {
  TSeedShare out;
  struct TGroup {
    size_t n = 0;
    double sum = 0;
  };
  std::map<size_t, TGroup> groups;
  double sum = 0;
  const size_t count = std::min(values.size(), point.size());
  for (size_t i = 0; i < count; ++i) {
    TGroup& g = groups[point[i]];
    ++g.n;
    g.sum += values[i];
    sum += values[i];
  }
  out.points = groups.size();
  out.runs = count;
  if (out.points == 0) return out;
  const double n = static_cast<double>(count);
  const double a = static_cast<double>(out.points);
  const double mean = sum / n;
  double squaresOfCounts = 0, between = 0, inverseCounts = 0;
  for (const auto& [key, g] : groups) {
    const double ni = static_cast<double>(g.n);
    squaresOfCounts += ni * ni;
    inverseCounts += 1 / ni;
    const double gm = g.sum / ni;
    between += ni * (gm - mean) * (gm - mean);
    if (g.n > 1) ++out.replicated;
  }
  double within = 0;
  for (size_t i = 0; i < count; ++i) {
    const TGroup& g = groups[point[i]];
    const double d = values[i] - g.sum / static_cast<double>(g.n);
    within += d * d;
  }
  out.perPoint = out.points > 1 ? (n - squaresOfCounts / n) / (a - 1) : n;
  if (out.replicated == 0 || out.points < 2) return out;
  const double dfBetween = a - 1, dfWithin = n - a;
  const double msb = between / dfBetween;
  const double msw = within / dfWithin;
  if (!(msb + msw > 0)) return out;
  out.within = msw;
  out.between = std::max(0.0, (msb - msw) / out.perPoint);
  out.share = *out.within / (*out.within + *out.between);
  out.meanNoise = msw * inverseCounts / a;
  if (msw > 0) {
    const double f = msb / msw;
    const double q = 0.5 + kConfidence / 2;
    const double iccLow = Icc(f / FQuantile(q, dfBetween, dfWithin), out.perPoint);
    const double iccHigh = Icc(f * FQuantile(q, dfWithin, dfBetween), out.perPoint);
    out.low = std::clamp(1 - iccHigh, 0.0, 1.0);
    out.high = std::clamp(1 - iccLow, 0.0, 1.0);
  } else {
    out.low = out.high = 0.0;  // replicates that agree exactly: no noise
  }
  return out;
}
