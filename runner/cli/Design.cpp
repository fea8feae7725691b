#include "Design.h"

#include <algorithm>
#include <boost/random/sobol.hpp>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

namespace {

// Draws that are the same on every machine: the 64-bit Mersenne Twister's
// output is fixed by the standard, the library's distributions are not.
class TDraws {
 public:
  explicit TDraws(uint32_t seed) : engine_(seed) {}
  // Uniform in 0..n-1, without the modulo's bias.
  uint64_t Below(uint64_t n) {
    const uint64_t limit = std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % n;
    uint64_t value = engine_();
    while (value >= limit) value = engine_();
    return value % n;
  }
  // Uniform in [0, 1), on a grid of 2^-53.
  double Unit() { return std::ldexp(static_cast<double>(engine_() >> 11), -53); }
  // A uniform permutation of 0..n-1 (Fisher and Yates).
  std::vector<size_t> Permutation(size_t n) {
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    for (size_t i = n; i > 1; --i) std::swap(order[i - 1], order[Below(i)]);
    return order;
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace

TDesignShape DesignShape(const TCommand& grid) {
  TDesignShape shape;
  const auto specs = SettingSpecs();
  const TDesignOptions& design = grid.design;
  if (!design.kind.isEmpty()) {
    shape.kind = design.kind;
    for (const TFactorRange& range : design.ranges) shape.factors << QLatin1String(specs[range.setting].option);
    const qint64 k = shape.factors.size();
    shape.indices = design.samples;
    shape.points = design.kind == QLatin1String("lhs")     ? design.samples
                   : design.kind == QLatin1String("sobol") ? design.samples * (k + 2)
                                                           : design.samples * (k + 1);
  } else if (grid.vary.size() >= 2) {
    shape.kind = QStringLiteral("factorial");
    shape.indices = 1;
    for (const TVary& vary : grid.vary) {
      shape.factors << QLatin1String(specs[vary.setting].option);
      shape.indices *= vary.values.size();
    }
    shape.points = shape.indices;
  }
  return shape;
}

std::vector<TUnitPoint> LatinHypercube(int32_t samples, size_t factors, uint32_t seed) {
  TDraws draws(seed);
  const auto n = static_cast<size_t>(samples);
  std::vector<TUnitPoint> points(n);
  for (size_t j = 0; j < n; ++j) {
    points[j].index = static_cast<int32_t>(j);
    points[j].role = QStringLiteral("sample");
  }
  for (size_t f = 0; f < factors; ++f) {
    const std::vector<size_t> strata = draws.Permutation(n);
    for (size_t j = 0; j < n; ++j) {
      points[j].x.push_back((static_cast<double>(strata[j]) + draws.Unit()) / static_cast<double>(n));
    }
  }
  return points;
}

std::vector<TUnitPoint> SaltelliSobol(int32_t samples, size_t factors) {
  // The engine starts after the sequence's first point, all zeros (the
  // cube's corner, the same for A and B), as Saltelli advises: its first
  // point is all halves.
  boost::random::sobol sequence(2 * factors);
  const auto coordinate = [&sequence] { return std::ldexp(static_cast<double>(sequence()), -64); };
  std::vector<TUnitPoint> points;
  for (int32_t j = 0; j < samples; ++j) {
    TUnitPoint a{{}, j, QStringLiteral("A")};
    TUnitPoint b{{}, j, QStringLiteral("B")};
    for (size_t f = 0; f < factors; ++f) a.x.push_back(coordinate());
    for (size_t f = 0; f < factors; ++f) b.x.push_back(coordinate());
    points.push_back(a);
    points.push_back(b);
    for (size_t i = 0; i < factors; ++i) {
      TUnitPoint ab{a.x, j, QStringLiteral("AB%1").arg(i + 1)};
      ab.x[i] = b.x[i];
      points.push_back(ab);
    }
  }
  return points;
}

std::vector<TUnitPoint> MorrisTrajectories(int32_t trajectories, size_t factors, int32_t levels, uint32_t seed) {
  TDraws draws(seed);
  const auto p = static_cast<uint64_t>(levels);
  const uint64_t jump = p / 2;  // Δ = p/(2(p-1)) of the range is p/2 of its p-1 steps
  const double step = 1.0 / static_cast<double>(p - 1);
  std::vector<TUnitPoint> points;
  for (int32_t t = 0; t < trajectories; ++t) {
    // Each level has exactly one move of p/2 steps that stays on the grid.
    std::vector<uint64_t> level(factors);
    for (uint64_t& l : level) l = draws.Below(p);
    const std::vector<size_t> order = draws.Permutation(factors);
    const auto place = [&](size_t k) {
      TUnitPoint point{{}, t, QStringLiteral("T%1").arg(k)};
      for (uint64_t l : level) point.x.push_back(static_cast<double>(l) * step);
      points.push_back(point);
    };
    place(0);
    for (size_t k = 0; k < factors; ++k) {
      uint64_t& l = level[order[k]];
      l = l + jump <= p - 1 ? l + jump : l - jump;
      place(k + 1);
    }
  }
  return points;
}

int32_t SnapToControl(const TFactorRange& range, double x) {
  const int64_t values = int64_t{range.hi} - range.lo + 1;
  const auto cell = static_cast<int64_t>(std::floor(x * static_cast<double>(values)));
  return static_cast<int32_t>(range.lo + std::clamp<int64_t>(cell, 0, values - 1));
}
