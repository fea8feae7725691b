// Saltelli's design for Sobol indices: N(k+2) points, roles "A", "B" and "AB<i>".
//
// Its analysis: S1 by Saltelli (2010), ST by Jansen, percentile bootstrap
// intervals over the design's rows. A point run with several seeds counts
// once, with the mean of its runs.
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <boost/random/sobol.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "DesignKind.h"
#include "Estimation.h"
#include "LeastSquares.h"
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

struct TIndices {
  double s1 = 0;
  double st = 0;
  bool ok = false;
};

// S1 (Saltelli 2010) and ST (Jansen) over the rows `use`, the variance from
// their A and B values.
TIndices SobolIndices(const std::vector<double>& a, const std::vector<double>& b, const std::vector<double>& ab,
                      const std::vector<size_t>& use) {
  const double n = static_cast<double>(use.size());
  double mean = 0;
  for (size_t j : use) mean += a[j] + b[j];
  mean /= 2 * n;
  double variance = 0, first = 0, total = 0;
  for (size_t j : use) {
    variance += (a[j] - mean) * (a[j] - mean) + (b[j] - mean) * (b[j] - mean);
    first += b[j] * (ab[j] - a[j]);
    total += (a[j] - ab[j]) * (a[j] - ab[j]);
  }
  variance /= 2 * n - 1;
  if (!(variance > kTinyVariance)) return {};
  return {first / n / variance, total / (2 * n) / variance, true};
}

void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes) {
  const size_t k = factors.size();
  size_t mismatched = 0;
  size_t rowCount = 0, missingRows = 0;
  for (size_t m = 0; m < out.measures.size(); ++m) {
    if (RunsWith(runs, m).empty()) continue;  // a measure no run holds is not studied
    const TSobolRows rows = SobolRows(PointMeans(runs, m), factors);
    mismatched = std::max(mismatched, rows.mismatched);
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
      const TIndices whole = SobolIndices(rows.a, rows.b, rows.ab[i], use);
      if (!whole.ok) {
        notes << QStringLiteral("%1: the measure does not vary").arg(MeasureName(out, m));
        continue;
      }
      // Percentile bootstrap over the rows, the same resamples for every factor and measure.
      std::mt19937_64 random(kBootstrapSeed);
      std::vector<double> s1s, sts;
      std::vector<size_t> resample(use.size());
      for (int r = 0; r < kBootstrapResamples; ++r) {
        for (size_t& j : resample) j = use[random() % use.size()];
        const TIndices again = SobolIndices(rows.a, rows.b, rows.ab[i], resample);
        if (!again.ok) continue;
        s1s.push_back(again.s1);
        sts.push_back(again.st);
      }
      for (const auto& [quantity, estimate, sample] :
           {std::tuple{QStringLiteral("S1"), whole.s1, &s1s}, std::tuple{QStringLiteral("ST"), whole.st, &sts}}) {
        TEffect e = MakeEffect(out, m, Option(factors[i]), quantity, estimate);
        if (sample->size() >= 2) {
          e.low = PercentileOf(*sample, (1 - kConfidence) / 2);
          e.high = PercentileOf(*sample, (1 + kConfidence) / 2);
        }
        e.method = QStringLiteral("bootstrap");
        out.effects.push_back(std::move(e));
      }
    }
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
