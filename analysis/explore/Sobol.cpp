// Saltelli's design for Sobol indices: N(k+2) points, roles "A", "B" and "AB<i>".
//
// Its analysis: S1 by Saltelli et al. (2010) and ST by Jansen (1999) on
// centred outputs, with percentile bootstrap intervals over the design's
// rows (Sensitivity.h gives the forms). A point run with several seeds
// counts once, with the mean of its runs, and the variance the seeds leave
// in those means (one-way ANOVA over the points, Replicates.h) is taken
// out of the indices' variances: they are the indices of the mean response.
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <boost/random/sobol.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <span>
#include <tuple>

#include "DesignKind.h"
#include "Estimation.h"
#include "LeastSquares.h"
#include "Replicates.h"
#include "Sensitivity.h"
#include "Statistics.h"

namespace explore::sobol_design {

constexpr int kBootstrapResamples = 1000;
constexpr uint64_t kBootstrapSeed = 20100101;

bool FitsRole(const QString& role, qsizetype factors) {
  if (role == QLatin1String("A") || role == QLatin1String("B")) return true;
  const std::optional<qsizetype> i = NumberedRole(role, QStringLiteral("AB"));
  return i && *i >= 1 && *i <= factors;
}

qint64 PointCount(qint64 samples, qint64 factors) { return samples * (factors + 2); }

std::vector<TUnitPoint> Generate(const TDesignDraw& draw) { return SaltelliSobol(draw.samples, draw.factors); }

// Per row of the design its A, B and A_B values. The rows are told by the
// points' numbers: the same number for a row's every role, or numbered
// through the design row by row (A, B, A_B^(1), ... of a row together) or
// role by role (every A, then every B, ...); any other numbering pairs each
// role's points in their order. Every A_B run is checked against its row's
// A and B.
struct TSobolRows {
  std::vector<double> a, b;             // per row; NaN where the run is missing
  std::vector<std::vector<double>> ab;  // per factor, per row
  size_t mismatched = 0;                // A_B runs whose settings are not A's with one of B's
};

bool SameBut(const TSettingValues& x, const TSettingValues& y, const std::vector<size_t>& factors, size_t skip) {
  for (size_t f = 0; f < factors.size(); ++f) {
    if (f != skip && x[factors[f]] != y[factors[f]]) return false;
  }
  return true;
}

// The role's place in a row: 0 for A, 1 for B, 1 + i for A_B^(i); nothing for another role.
std::optional<size_t> RoleIndex(const QString& role, size_t k) {
  if (role == QLatin1String("A")) return 0;
  if (role == QLatin1String("B")) return 1;
  bool ok = false;
  const int i = role.startsWith(QLatin1String("AB")) ? role.mid(2).toInt(&ok) : 0;
  if (!ok || i < 1 || static_cast<size_t>(i) > k) return std::nullopt;
  return 1 + static_cast<size_t>(i);
}

TSobolRows SobolRows(const TPointMeans& points, const std::vector<size_t>& factors) {
  const size_t k = factors.size();
  const size_t width = k + 2;
  // Per role index its points in order.
  std::vector<std::vector<std::pair<int32_t, TPointValue>>> byRole(width);
  int64_t last = 0;
  for (const auto& [key, point] : points) {
    if (const auto r = RoleIndex(key.first, k)) {
      byRole[*r].emplace_back(key.second, point);
      last = std::max<int64_t>(last, key.second);
    }
  }
  const auto all = [&](auto rule) {
    for (size_t r = 0; r < width; ++r) {
      for (const auto& [p, v] : byRole[r]) {
        if (!rule(r, static_cast<int64_t>(p))) return false;
      }
    }
    return true;
  };
  std::set<int32_t> aPoints, bPoints;
  for (const auto& [p, v] : byRole[0]) aPoints.insert(p);
  for (const auto& [p, v] : byRole[1]) bPoints.insert(p);
  std::function<int64_t(size_t, int64_t, size_t)> rowOf = [](size_t, int64_t, size_t rank) {
    return static_cast<int64_t>(rank);
  };
  if (!aPoints.empty() && aPoints == bPoints) {
    rowOf = [](size_t, int64_t p, size_t) { return p; };
  } else if (all([&](size_t r, int64_t p) {
               return p >= 0 && p % static_cast<int64_t>(width) == static_cast<int64_t>(r);
             })) {
    rowOf = [width](size_t, int64_t p, size_t) { return p / static_cast<int64_t>(width); };
  } else {
    // Role by role: the rows a role holds, from A's last point, B's first or the design's last.
    int64_t perRole = 0;
    for (const int64_t rows : {aPoints.empty() ? int64_t{0} : *aPoints.rbegin() + 1,
                               bPoints.empty() ? int64_t{0} : int64_t{*bPoints.begin()},
                               (last + static_cast<int64_t>(width)) / static_cast<int64_t>(width)}) {
      if (rows > 0 && all([&](size_t r, int64_t p) {
            return p >= static_cast<int64_t>(r) * rows && p < static_cast<int64_t>(r + 1) * rows;
          })) {
        perRole = rows;
        break;
      }
    }
    if (perRole > 0) rowOf = [perRole](size_t r, int64_t p, size_t) { return p - static_cast<int64_t>(r) * perRole; };
  }
  std::vector<std::map<int64_t, TPointValue>> rows(width);
  std::set<int64_t> rowKeys;
  for (size_t r = 0; r < width; ++r) {
    for (size_t i = 0; i < byRole[r].size(); ++i) {
      const int64_t row = rowOf(r, byRole[r][i].first, i);
      rows[r][row] = byRole[r][i].second;
      rowKeys.insert(row);
    }
  }
  TSobolRows out;
  out.ab.assign(k, {});
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int64_t key : rowKeys) {
    const auto find = [&](size_t role) -> const TPointValue* {
      const auto it = rows[role].find(key);
      return it == rows[role].end() ? nullptr : &it->second;
    };
    const TPointValue* a = find(0);
    const TPointValue* b = find(1);
    out.a.push_back(a ? a->value : nan);
    out.b.push_back(b ? b->value : nan);
    for (size_t i = 0; i < k; ++i) {
      const TPointValue* ab = find(2 + i);
      double value = nan;
      if (ab && a && b) {
        // A_B^(i) is A with factor i from B.
        if (SameBut(ab->run->settings, a->run->settings, factors, i) &&
            ab->run->settings[factors[i]] == b->run->settings[factors[i]]) {
          value = ab->value;
        } else {
          ++out.mismatched;
        }
      }
      out.ab[i].push_back(value);
    }
  }
  return out;
}

// The first rows of the design the convergence table takes: halving from
// all of them down to kFewestConvergenceRows.
constexpr size_t kFewestConvergenceRows = 8;
std::vector<size_t> Prefixes(size_t rows) {
  std::vector<size_t> sizes;
  for (size_t n = rows; n >= kFewestConvergenceRows; n /= 2) sizes.insert(sizes.begin(), n);
  if (sizes.empty()) sizes.push_back(rows);
  return sizes;
}

// S1 and ST of one factor over the rows `use` with their percentile bootstrap
// intervals over those rows (the same resamples for every factor and measure).
struct TIndexWithIntervals {
  TSobolIndex index;
  std::optional<std::pair<double, double>> s1, st;
};
std::optional<TIndexWithIntervals> Indices(const TSobolRows& rows, size_t i, std::span<const size_t> use,
                                           double noise) {
  const std::optional<TSobolIndex> whole = SobolIndex(rows.a, rows.b, rows.ab[i], use, noise);
  if (!whole) return std::nullopt;
  std::vector<size_t> drawn(use.size());
  const auto intervals = PercentileBootstrap(
      use.size(), 2,
      [&](std::span<const size_t> draw, std::span<double> values) {
        for (size_t j = 0; j < draw.size(); ++j) drawn[j] = use[draw[j]];
        const std::optional<TSobolIndex> again = SobolIndex(rows.a, rows.b, rows.ab[i], drawn, noise);
        if (!again) return false;
        values[0] = again->s1;
        values[1] = again->st;
        return true;
      },
      kBootstrapSeed, kBootstrapResamples);
  return TIndexWithIntervals{*whole, intervals[0], intervals[1]};
}

void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes) {
  const size_t k = factors.size();
  size_t mismatched = 0;
  size_t rowCount = 0, missingRows = 0;
  out.rowsWord = QStringLiteral("rows");
  for (size_t m = 0; m < out.measures.size(); ++m) {
    if (RunsWith(runs, m).empty()) continue;  // a measure no run holds is not studied
    const TSobolRows rows = SobolRows(PointMeans(runs, m), factors);
    const TSeedShare share = PointSeedShare(runs, m);
    // The variance the seeds leave in a point's mean, subtracted from the indices' variances.
    const double noise = share.meanNoise.value_or(0);
    const QString method = QStringLiteral("bootstrap; centred; ") +
                           NoiseWords(share, "the seeds' variance over the runs a point subtracted");
    mismatched = std::max(mismatched, rows.mismatched);
    bool any = false;
    bool withinNoise = false;  // the point means vary no more than the seeds' noise leaves in them
    for (size_t i = 0; i < k; ++i) {
      std::vector<size_t> use;
      for (size_t j = 0; j < rows.a.size(); ++j) {
        if (Finite(rows.a[j]) && Finite(rows.b[j]) && Finite(rows.ab[i][j])) use.push_back(j);
      }
      rowCount = std::max(rowCount, rows.a.size());
      missingRows = std::max(missingRows, rows.a.size() - use.size());
      if (use.size() < 2) {
        notes << QStringLiteral("%1, %2: too few whole rows for indices").arg(MeasureName(out, m), Option(factors[i]));
        continue;
      }
      const std::optional<TIndexWithIntervals> whole = Indices(rows, i, use, noise);
      if (!whole) {
        notes << QStringLiteral("%1: the measure does not vary beyond the seeds' noise").arg(MeasureName(out, m));
        withinNoise = withinNoise || noise > 0;
        continue;
      }
      any = true;
      for (const auto& [quantity, estimate, interval] :
           {std::tuple{QStringLiteral("S1"), whole->index.s1, whole->s1},
            std::tuple{QStringLiteral("ST"), whole->index.st, whole->st}}) {
        TEffect e = MakeEffect(out, m, Option(factors[i]), quantity, estimate);
        if (interval) {
          e.low = interval->first;
          e.high = interval->second;
        }
        e.method = method;
        const TQuantityRange range = QuantityRange(quantity);
        CheckRange(e, m, range.lo, range.hi, use.size(), out.rowsWord, out);
        out.effects.push_back(std::move(e));
      }
      // The same indices over the design's first rows.
      for (const size_t n : Prefixes(use.size())) {
        const std::optional<TIndexWithIntervals> part =
            n == use.size() ? whole : Indices(rows, i, std::span<const size_t>(use).first(n), noise);
        if (!part) continue;
        for (const auto& [quantity, estimate, interval] :
             {std::tuple{"S1", part->index.s1, part->s1}, std::tuple{"ST", part->index.st, part->st}}) {
          out.convergence.push_back({MeasureName(out, m), Option(factors[i]), QLatin1String(quantity), n, estimate,
                                     interval ? std::optional(interval->first) : std::nullopt,
                                     interval ? std::optional(interval->second) : std::nullopt});
        }
      }
    }
    // Without an index the seeds' share is the answer: how much of the measure is noise.
    if (any || withinNoise) ReportSeedShare(m, share, "point", out);
  }
  if (missingRows > 0)
    notes << QStringLiteral("up to %1 of the %2 rows lack their A, B or A_B run and were left out of an index")
                 .arg(missingRows)
                 .arg(rowCount);
  if (mismatched > 0)
    notes
        << QStringLiteral("%1 A_B runs are not their row's A with one factor from B and were left out").arg(mismatched);
}

}  // namespace explore::sobol_design

namespace explore {

// The kind's row of the design table (DesignKinds.cpp).
extern constexpr TDesignKind kSobolDesign{
    .name = "sobol",
    .seedless = "a Sobol sequence draws nothing",
    .fitsRole = sobol_design::FitsRole,
    .pointCount = sobol_design::PointCount,
    .generate = sobol_design::Generate,
    .estimate = sobol_design::Estimate,
    .mainQuantity = "ST",
    .words = {.analysis = "Sobol indices",
              .axis = "share of the measure's variance, 95 % bootstrap interval",
              .point = "point",
              .draws = "Saltelli's N(k+2) points for k factors from a Sobol sequence"},
};

}  // namespace explore

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
