// Morris' trajectories: r trajectories of k+1 points, roles "T0".."T<k>".
//
// Its analysis: mu*, mu and sigma of the elementary effects, each an effect
// over the factor's whole range. A point run with several seeds counts once,
// with the mean of its runs.
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>

#include "DesignKind.h"
#include "Draws.h"
#include "Estimation.h"

namespace explore::morris_design {

bool FitsRole(const QString& role, qsizetype factors) {
  const std::optional<qsizetype> j = NumberedRole(role, QStringLiteral("T"));
  return j && *j >= 0 && *j <= factors;
}

qint64 PointCount(qint64 samples, qint64 factors) { return samples * (factors + 1); }

std::vector<TUnitPoint> Generate(const TDesignDraw& draw) {
  return MorrisTrajectories(draw.samples, draw.factors, draw.levels, draw.seed);
}

void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes) {
  const size_t k = factors.size();
  std::vector<TRange> ranges;
  for (size_t f : factors) ranges.push_back(RangeOf(runs, f));
  size_t broken = 0;
  size_t strangers = 0;  // points whose role is not a trajectory's
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
    std::vector<std::vector<double>> effects(k);
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
        effects[f].push_back((next->second.value - it->second.value) / dx);
      }
      // Steps that a missing point at either end of a trajectory took away.
      if (!points.empty())
        steps +=
            static_cast<size_t>(points.begin()->first) + (k - std::min(k, static_cast<size_t>(points.rbegin()->first)));
    }
    broken = std::max(broken, steps);
    strangers = std::max(strangers, unreadable);
    for (size_t f = 0; f < k; ++f) {
      const std::vector<double>& ee = effects[f];
      if (ee.empty()) {
        notes << QStringLiteral("%1: no elementary effect of %2").arg(MeasureName(out, m), Option(factors[f]));
        continue;
      }
      const double n = static_cast<double>(ee.size());
      double mu = 0, star = 0;
      for (double v : ee) {
        mu += v;
        star += std::abs(v);
      }
      mu /= n;
      star /= n;
      std::vector<std::pair<QString, double>> quantities{{QStringLiteral("mu_star"), star}, {QStringLiteral("mu"), mu}};
      if (ee.size() >= 2) {
        double squares = 0;
        for (double v : ee) squares += (v - mu) * (v - mu);
        quantities.emplace_back(QStringLiteral("sigma"), std::sqrt(squares / (n - 1)));
      }
      for (const auto& [quantity, value] : quantities) {
        TEffect e = MakeEffect(out, m, Option(factors[f]), quantity, value);
        e.method = QStringLiteral("elementary effects per range; %1 of them").arg(ee.size());
        out.effects.push_back(std::move(e));
      }
    }
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
