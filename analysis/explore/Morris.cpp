// Morris' trajectories: r trajectories of k+1 points, roles "T0".."T<k>".
//
// Its analysis: mu*, mu and sigma of the elementary effects, each an effect
// over the factor's whole range, with percentile bootstrap intervals over
// the trajectories (Sensitivity.h). A point run with several seeds counts
// once, with the mean of its runs; the seeds' variance at a point (one-way
// ANOVA, Replicates.h) gives each factor the noise floor its mu* must rise
// above.
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <string_view>

#include "DesignKind.h"
#include "Draws.h"
#include "Estimation.h"
#include "Sensitivity.h"

namespace explore::morris_design {

bool FitsRole(const QString& role, qsizetype factors) {
  const std::optional<qsizetype> j = NumberedRole(role, QStringLiteral("T"));
  return j && *j >= 0 && *j <= factors;
}

qint64 PointCount(qint64 samples, qint64 factors) { return samples * (factors + 1); }

std::vector<TUnitPoint> Generate(const TDesignDraw& draw) {
  return MorrisTrajectories(draw.samples, draw.factors, draw.levels, draw.seed);
}

constexpr int kBootstrapResamples = 1000;
constexpr uint64_t kBootstrapSeed = 19910501;
// The first trajectories the convergence table takes: halving down to this many.
constexpr size_t kFewestConvergenceTrajectories = 4;

// A factor's elementary effects, each with its trajectory and its step as a
// share of the factor's range.
struct TFactorEffects {
  std::vector<double> effects;
  std::vector<int32_t> trajectory;
  std::vector<double> delta;
};

// mu*, mu and sigma over `effects`, with percentile bootstrap intervals over them.
struct TMorrisRow {
  const char* quantity;
  double estimate;
  std::optional<std::pair<double, double>> interval;
};
std::vector<TMorrisRow> MorrisRows(std::span<const double> effects) {
  const TMorrisMoments whole = MorrisMoments(effects);
  std::vector<double> drawn(effects.size());
  const auto intervals = PercentileBootstrap(
      effects.size(), 3,
      [&](std::span<const size_t> draw, std::span<double> values) {
        for (size_t j = 0; j < draw.size(); ++j) drawn[j] = effects[draw[j]];
        const TMorrisMoments again = MorrisMoments(drawn);
        values[0] = again.muStar;
        values[1] = again.mu;
        values[2] = again.sigma.value_or(0);
        return again.sigma.has_value();
      },
      kBootstrapSeed, kBootstrapResamples);
  std::vector<TMorrisRow> rows{{"mu_star", whole.muStar, intervals[0]}, {"mu", whole.mu, intervals[1]}};
  if (whole.sigma) rows.push_back({"sigma", *whole.sigma, intervals[2]});
  return rows;
}

void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes) {
  const size_t k = factors.size();
  std::vector<TRange> ranges;
  for (size_t f : factors) ranges.push_back(RangeOf(runs, f));
  size_t broken = 0;
  size_t strangers = 0;  // points whose role is not a trajectory's
  out.rowsWord = QStringLiteral("trajectories");
  for (size_t m = 0; m < out.measures.size(); ++m) {
    if (RunsWith(runs, m).empty()) continue;  // a measure no run holds is not studied
    // Per trajectory its points in order.
    std::map<int32_t, std::map<int32_t, TPointValue>> trajectories;
    size_t unreadable = 0;
    for (const auto& [key, point] : PointMeans(runs, m)) {
      bool ok = false;
      const int32_t index = key.first.startsWith(QLatin1Char('T')) ? key.first.mid(1).toInt(&ok) : -1;
      if (!ok || index < 0) {
        ++unreadable;
        continue;
      }
      trajectories[key.second][index] = point;
    }
    std::vector<TFactorEffects> effects(k);
    size_t steps = 0;
    for (const auto& [trajectory, points] : trajectories) {
      for (auto it = points.begin(); it != points.end(); ++it) {
        const auto next = std::next(it);
        if (next == points.end()) break;
        if (next->first != it->first + 1) {
          steps += static_cast<size_t>(next->first - it->first);
          continue;
        }
        std::vector<size_t> moved;
        for (size_t f = 0; f < k; ++f) {
          if (it->second.run->settings[factors[f]] != next->second.run->settings[factors[f]]) moved.push_back(f);
        }
        if (moved.size() != 1 || !(ranges[moved[0]].Span() > 0)) {
          ++steps;
          continue;
        }
        const size_t f = moved[0];
        const double dx =
            (next->second.run->settings[factors[f]] - it->second.run->settings[factors[f]]) / ranges[f].Span();
        effects[f].effects.push_back((next->second.value - it->second.value) / dx);
        effects[f].trajectory.push_back(trajectory);
        effects[f].delta.push_back(std::abs(dx));
      }
      // Steps that a missing point at either end of a trajectory took away.
      if (!points.empty())
        steps +=
            static_cast<size_t>(points.begin()->first) + (k - std::min(k, static_cast<size_t>(points.rbegin()->first)));
    }
    broken = std::max(broken, steps);
    strangers = std::max(strangers, unreadable);
    const TSeedShare share = PointSeedShare(runs, m);
    const QString method = QStringLiteral("bootstrap over trajectories; elementary effects per range; %1 of them; ") +
                           NoiseWords(share, "compare mu_star with noise_floor");
    bool any = false;
    for (size_t f = 0; f < k; ++f) {
      const TFactorEffects& ee = effects[f];
      if (ee.effects.empty()) {
        notes << QStringLiteral("%1: no elementary effect of %2").arg(MeasureName(out, m), Option(factors[f]));
        continue;
      }
      any = true;
      for (const TMorrisRow& row : MorrisRows(ee.effects)) {
        TEffect e = MakeEffect(out, m, Option(factors[f]), QLatin1String(row.quantity), row.estimate);
        if (row.interval) {
          e.low = row.interval->first;
          e.high = row.interval->second;
        }
        e.method = method.arg(ee.effects.size());
        out.effects.push_back(std::move(e));
      }
      if (ee.effects.size() < 2)
        out.warnings.push_back({m, Option(factors[f]), QStringLiteral("mu_star"),
                                QStringLiteral("one elementary effect of %1: no spread and no interval"),
                                QStringLiteral("%1 trajectories or more would give them"), 4});
      if (share.meanNoise) {
        double delta = 0;
        for (double d : ee.delta) delta += d / static_cast<double>(ee.delta.size());
        TEffect floor = MakeEffect(out, m, Option(factors[f]), QStringLiteral("noise_floor"),
                                   MorrisNoiseFloor(*share.meanNoise, delta));
        floor.method = QStringLiteral(
                           "the mean |elementary effect| of noise alone: sqrt(2)·sigma/delta·sqrt(2/pi); sigma^2 the "
                           "seeds' variance over %1 runs a point; delta %2 of the range")
                           .arg(share.perPoint, 0, 'g', 3)
                           .arg(delta, 0, 'g', 3);
        out.effects.push_back(std::move(floor));
      }
      // mu* and sigma over the first trajectories.
      const int32_t count = trajectories.empty() ? 0 : static_cast<int32_t>(trajectories.size());
      std::vector<int32_t> order;
      for (const auto& [t, points] : trajectories) order.push_back(t);
      for (int32_t n = count; n >= static_cast<int32_t>(kFewestConvergenceTrajectories) || n == count; n /= 2) {
        std::vector<double> part;
        for (size_t j = 0; j < ee.effects.size(); ++j) {
          if (ee.trajectory[j] <= order[static_cast<size_t>(n - 1)]) part.push_back(ee.effects[j]);
        }
        if (!part.empty()) {
          for (const TMorrisRow& row : MorrisRows(part)) {
            if (row.quantity == std::string_view("mu")) continue;
            out.convergence.push_back({MeasureName(out, m), Option(factors[f]), QLatin1String(row.quantity),
                                       static_cast<size_t>(n), row.estimate,
                                       row.interval ? std::optional(row.interval->first) : std::nullopt,
                                       row.interval ? std::optional(row.interval->second) : std::nullopt});
          }
        }
        if (n < 2) break;
      }
    }
    if (any) ReportSeedShare(m, share, "trajectory point", out);
  }
  if (strangers > 0) notes << QStringLiteral("%1 points of no trajectory role were left out").arg(strangers);
  if (broken > 0)
    notes << QStringLiteral(
                 "%1 of the trajectories' steps were left out: a point is missing or more than one factor "
                 "changed")
                 .arg(broken);
}

}  // namespace explore::morris_design

namespace explore {

// The kind's row of the design table (DesignKinds.cpp).
extern constexpr TDesignKind kMorrisDesign{
    .name = "morris",
    .takesLevels = true,
    .takesSeed = true,
    .fitsRole = morris_design::FitsRole,
    .pointCount = morris_design::PointCount,
    .generate = morris_design::Generate,
    .estimate = morris_design::Estimate,
    .mainQuantity = "mu_star",
    .words = {.analysis = "Morris screening",
              .axis = "elementary effect over the factor's whole range",
              .point = "trajectory",
              .draws = "N trajectories of k+1 points on a --levels grid"},
};

}  // namespace explore

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
