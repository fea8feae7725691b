// The estimators of an exploration.
//
// Factorials: each factor is coded linearly over the levels the runs hold,
// -1 at its lowest and +1 at its highest, and every measure is fitted by
// least squares with a term per factor, a term per pair of factors (the
// product of their codes) and, when every seed recurs, a block per seed. An
// effect is twice its term's coefficient: for a two-level factor in a
// balanced design that is the classic mean at the high level minus the mean
// at the low level, for a factor of more levels the change of the linear fit
// over the factor's whole range. An interaction is twice its coefficient as
// well, which is the half-difference convention: half of (the effect of the
// first factor at the second's high level minus its effect at the low one).
// Intervals are Student's t on the residual variance of that model; a term's
// share is its sum of squares (the residual sum of squares gained by dropping
// the term) over the total sum of squares about the mean.
//
// Latin hypercubes: partial rank correlations, intervals by Fisher's z.
// Sobol: S1 by Saltelli (2010), ST by Jansen, percentile bootstrap intervals
// over the design's rows. Morris: mu*, mu and sigma of the elementary effects,
// each an effect over the factor's whole range. A design point run with
// several seeds counts once, with the mean of its runs.
#include "Explore.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <tuple>

#include "AtomicFile.h"
#include "ExploreFit.h"
#include "Statistics.h"
#include "Summary.h"

namespace {

constexpr size_t kMeasureCount = kStudyMeasures.size();
constexpr int kBootstrapResamples = 1000;
constexpr uint64_t kBootstrapSeed = 20100101;
constexpr double kTinyVariance = 1e-300;

double Quantile(double p) { return boost::math::quantile(boost::math::normal_distribution<double>(), p); }

bool Finite(double v) { return std::isfinite(v); }

QString Option(size_t setting) { return QLatin1String(SettingSpecs()[setting].option); }

// The runs that hold a finite value of measure `m`.
std::vector<const TRunMeasures*> RunsWith(const std::vector<const TRunMeasures*>& runs, size_t m) {
  std::vector<const TRunMeasures*> with;
  for (const TRunMeasures* run : runs) {
    if (run->values[m] && Finite(*run->values[m])) with.push_back(run);
  }
  return with;
}

// The settings that differ between runs, in the order of the settings.
std::vector<size_t> Varied(const std::vector<const TRunMeasures*>& runs) {
  std::vector<size_t> varied;
  for (size_t s = 0; s < kSettingCount; ++s) {
    for (const TRunMeasures* run : runs) {
      if (run->settings[s] != runs.front()->settings[s]) {
        varied.push_back(s);
        break;
      }
    }
  }
  return varied;
}

// The design's factors as setting indices; names no setting has are listed in `unknown`.
std::vector<size_t> DesignFactors(const TDesignPoint& design, QStringList& unknown) {
  std::vector<size_t> factors;
  for (const QString& name : design.factors) {
    if (const auto index = FindSetting(name)) {
      if (std::find(factors.begin(), factors.end(), *index) == factors.end()) factors.push_back(*index);
    } else {
      unknown << name;
    }
  }
  return factors;
}

struct TRange {
  double min = 0;
  double max = 0;
  double Span() const { return max - min; }
};

TRange RangeOf(const std::vector<const TRunMeasures*>& runs, size_t setting) {
  TRange r{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
  for (const TRunMeasures* run : runs) {
    r.min = std::min(r.min, static_cast<double>(run->settings[setting]));
    r.max = std::max(r.max, static_cast<double>(run->settings[setting]));
  }
  return r;
}

// -1 at the lowest value of the range, +1 at the highest.
double Coded(double value, const TRange& r) { return (2.0 * value - r.max - r.min) / r.Span(); }

QString Words(const QString& term) {
  QStringList words;
  for (const QString& option : term.split(QLatin1Char(':'))) {
    const auto index = FindSetting(option);
    words << (index ? SettingCaption(SettingSpecs()[*index]) : option);
  }
  return words.join(QStringLiteral(" × "));
}

// --- Factorials ---

TEffect MakeEffect(size_t m, QString term, QString quantity, double estimate) {
  TEffect e;
  e.measure = QLatin1String(kStudyMeasures[m]);
  e.term = std::move(term);
  e.quantity = std::move(quantity);
  e.estimate = estimate;
  return e;
}

void Factorial(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
               QStringList& notes) {
  // Cells: a design of two-level factors has the classic effects; the
  // missing ones are counted over all runs.
  std::vector<TRange> ranges;
  std::vector<std::vector<int32_t>> levels;
  for (size_t f : factors) {
    ranges.push_back(RangeOf(runs, f));
    std::vector<int32_t> values;
    for (const TRunMeasures* run : runs) values.push_back(run->settings[f]);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    levels.push_back(std::move(values));
  }
  size_t expected = 1;
  for (const auto& l : levels) expected *= l.size();
  QSet<QString> cells;
  for (const TRunMeasures* run : runs) {
    QStringList key;
    for (size_t f : factors) key << QString::number(run->settings[f]);
    cells.insert(key.join(QLatin1Char(',')));
  }
  if (static_cast<size_t>(cells.size()) < expected)
    notes
        << QStringLiteral("%1 of the %2 cells of the factorial have no run").arg(expected - cells.size()).arg(expected);

  const size_t k = factors.size();
  std::vector<std::pair<size_t, size_t>> pairs;
  for (size_t a = 0; a < k; ++a) {
    for (size_t b = a + 1; b < k; ++b) pairs.emplace_back(a, b);
  }
  for (size_t m = 0; m < kMeasureCount; ++m) {
    const std::vector<const TRunMeasures*> with = RunsWith(runs, m);
    if (with.empty()) continue;  // a measure no run holds is not studied
    // Seeds as blocks when every seed recurs: a seed of one run would only
    // take that run out of the fit.
    std::map<uint32_t, size_t> seedRuns;
    for (const TRunMeasures* run : with) ++seedRuns[run->seed];
    bool blocks = seedRuns.size() > 1;
    for (const auto& [seed, count] : seedRuns) blocks = blocks && count > 1;
    std::map<uint32_t, size_t> blockColumn;  // every seed but the first, which the intercept holds
    if (blocks) {
      for (auto it = std::next(seedRuns.begin()); it != seedRuns.end(); ++it)
        blockColumn.emplace(it->first, blockColumn.size());
    }
    const size_t first = 1 + blockColumn.size();  // the intercept, then the blocks, then the terms
    // Too few runs for the interactions (a 2 x 2 of one seed, say): the main effects alone.
    const bool interactions = with.size() > first + k + pairs.size();
    if (!interactions && with.size() <= first + k) {
      notes << QStringLiteral("%1: %2 runs are too few for %3 terms")
                   .arg(kStudyMeasures[m])
                   .arg(with.size())
                   .arg(first + k);
      continue;
    }
    if (!interactions && !pairs.empty())
      notes << QStringLiteral("%1: too few runs for interactions, main effects only").arg(kStudyMeasures[m]);
    const size_t p = first + k + (interactions ? pairs.size() : 0);
    TMatrix x(with.size(), std::vector<double>(p, 0.0));
    std::vector<double> y;
    for (size_t r = 0; r < with.size(); ++r) {
      const TRunMeasures& run = *with[r];
      x[r][0] = 1;
      if (const auto it = blockColumn.find(run.seed); it != blockColumn.end()) x[r][1 + it->second] = 1;
      std::vector<double> coded;
      for (size_t f = 0; f < k; ++f) coded.push_back(Coded(run.settings[factors[f]], ranges[f]));
      for (size_t f = 0; f < k; ++f) x[r][first + f] = coded[f];
      for (size_t i = 0; interactions && i < pairs.size(); ++i)
        x[r][first + k + i] = coded[pairs[i].first] * coded[pairs[i].second];
      y.push_back(*run.values[m]);
    }
    const std::optional<TFit> fit = LeastSquares(x, y);
    if (!fit) {
      notes << QStringLiteral("%1: the terms cannot be told apart in these runs").arg(kStudyMeasures[m]);
      continue;
    }
    const double mean = std::accumulate(y.begin(), y.end(), 0.0) / static_cast<double>(y.size());
    double total = 0;
    for (double v : y) total += (v - mean) * (v - mean);
    const double df = static_cast<double>(with.size() - p);
    const double sigma2 = fit->rss / df;
    const double t = StudentTQuantile(0.5 + kConfidence / 2.0, df);
    const QString blocking = blocks ? QStringLiteral("seeds as blocks") : QStringLiteral("no blocks");
    for (size_t j = first; j < p; ++j) {
      const bool main = j < first + k;
      const size_t f = main ? j - first : 0;
      const std::pair<size_t, size_t> pair = main ? std::pair<size_t, size_t>{} : pairs[j - first - k];
      const QString term =
          main ? Option(factors[f]) : Option(factors[pair.first]) + QLatin1Char(':') + Option(factors[pair.second]);
      TEffect e =
          MakeEffect(m, term, main ? QStringLiteral("effect") : QStringLiteral("interaction"), 2 * fit->beta[j]);
      const double varianceFactor = fit->inverse[j][j];
      const double half = 2 * t * std::sqrt(std::max(sigma2 * varianceFactor, 0.0));
      if (Finite(half)) {
        e.low = e.estimate - half;
        e.high = e.estimate + half;
      }
      if (total > kTinyVariance && varianceFactor > 0)
        e.share = std::clamp(fit->beta[j] * fit->beta[j] / varianceFactor / total, 0.0, 1.0);
      const bool twoLevel =
          main ? levels[f].size() == 2 : levels[pair.first].size() == 2 && levels[pair.second].size() == 2;
      const QString coding = !twoLevel ? QStringLiteral("linear over the range")
                             : main    ? QStringLiteral("high minus low")
                                       : QStringLiteral("half difference");
      e.method = QStringLiteral("t; %1; %2").arg(coding, blocking);
      out.effects.push_back(std::move(e));
    }
  }
}

// --- Design points: a point's runs over several seeds count once ---

struct TPointValue {
  const TRunMeasures* run = nullptr;  // the first of the point's runs: its settings
  double value = 0;                   // the mean of its runs
};

// Per (role, point) the mean of the measure over the runs that hold it.
std::map<std::pair<QString, int32_t>, TPointValue> PointMeans(const std::vector<const TRunMeasures*>& runs, size_t m) {
  std::map<std::pair<QString, int32_t>, std::pair<TPointValue, size_t>> sums;
  for (const TRunMeasures* run : RunsWith(runs, m)) {
    auto& [point, n] = sums[{run->design->role, run->design->point}];
    if (n == 0) point.run = run;
    point.value += *run->values[m];
    ++n;
  }
  std::map<std::pair<QString, int32_t>, TPointValue> means;
  for (auto& [key, sum] : sums) {
    sum.first.value /= static_cast<double>(sum.second);
    means.emplace(key, sum.first);
  }
  return means;
}

// --- Latin hypercubes ---

void Lhs(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
         QStringList& notes) {
  const size_t k = factors.size();
  const double z = Quantile(0.5 + kConfidence / 2.0);
  for (size_t m = 0; m < kMeasureCount; ++m) {
    if (RunsWith(runs, m).empty()) continue;  // a measure no run holds is not studied
    const auto points = PointMeans(runs, m);
    const size_t n = points.size();
    if (n < k + 2) {
      notes << QStringLiteral("%1: %2 samples are too few for %3 factors").arg(kStudyMeasures[m]).arg(n).arg(k);
      continue;
    }
    std::vector<std::vector<double>> columns(k);
    std::vector<double> y;
    for (const auto& [key, point] : points) {
      for (size_t f = 0; f < k; ++f) columns[f].push_back(point.run->settings[factors[f]]);
      y.push_back(point.value);
    }
    for (auto& column : columns) column = Ranks(column);
    const std::vector<double> ry = Ranks(y);
    for (size_t f = 0; f < k; ++f) {
      const std::optional<double> r = PartialCorrelation(columns, f, ry);
      if (!r) {
        notes << QStringLiteral(
                     "%1: no rank correlation with %2 (it or the measure is constant once the other "
                     "factors are accounted for)")
                     .arg(kStudyMeasures[m], Option(factors[f]));
        continue;
      }
      TEffect e = MakeEffect(m, Option(factors[f]), QStringLiteral("prcc"), *r);
      // Fisher's z of a partial correlation given k - 1 others: n - 3 - (k - 1) degrees of freedom.
      const double dof = static_cast<double>(n) - 3.0 - static_cast<double>(k - 1);
      if (dof > 0) {
        const double centre = std::atanh(std::clamp(*r, -1.0, 1.0));
        const double half = z / std::sqrt(dof);
        e.low = std::tanh(centre - half);
        e.high = std::tanh(centre + half);
      }
      e.method = QStringLiteral("fisher-z");
      out.effects.push_back(std::move(e));
    }
  }
}

// --- Sobol ---

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

TSobolRows SobolRows(const std::map<std::pair<QString, int32_t>, TPointValue>& points,
                     const std::vector<size_t>& factors) {
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

void Sobol(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
           QStringList& notes) {
  const size_t k = factors.size();
  size_t mismatched = 0;
  size_t rowCount = 0, missingRows = 0;
  for (size_t m = 0; m < kMeasureCount; ++m) {
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
        notes << QStringLiteral("%1, %2: too few whole rows for indices").arg(kStudyMeasures[m], Option(factors[i]));
        continue;
      }
      const TIndices whole = SobolIndices(rows.a, rows.b, rows.ab[i], use);
      if (!whole.ok) {
        notes << QStringLiteral("%1: the measure does not vary").arg(kStudyMeasures[m]);
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
        TEffect e = MakeEffect(m, Option(factors[i]), quantity, estimate);
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

// --- Morris ---

void Morris(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
            QStringList& notes) {
  const size_t k = factors.size();
  std::vector<TRange> ranges;
  for (size_t f : factors) ranges.push_back(RangeOf(runs, f));
  size_t broken = 0;
  size_t strangers = 0;  // points whose role is not a trajectory's
  for (size_t m = 0; m < kMeasureCount; ++m) {
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
        notes << QStringLiteral("%1: no elementary effect of %2").arg(kStudyMeasures[m], Option(factors[f]));
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
        TEffect e = MakeEffect(m, Option(factors[f]), quantity, value);
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

// --- The table ---

QString Interval(const TEffect& e) {
  if (!e.low || !e.high) return QString();
  return QStringLiteral("[%1, %2]").arg(*e.low, 0, 'g', 3).arg(*e.high, 0, 'g', 3);
}

// The quantity a term is ordered by.
QString Primary(const QString& analysis) {
  if (analysis == QLatin1String("sobol")) return QStringLiteral("ST");
  if (analysis == QLatin1String("morris")) return QStringLiteral("mu_star");
  return {};
}

}  // namespace

std::vector<std::vector<size_t>> ExploreTermOrder(const TExploration& exploration) {
  std::vector<std::vector<size_t>> order(kMeasureCount);
  const QString primary = Primary(exploration.analysis);
  for (size_t m = 0; m < kMeasureCount; ++m) {
    std::vector<size_t>& list = order[m];
    for (size_t i = 0; i < exploration.effects.size(); ++i) {
      const TEffect& e = exploration.effects[i];
      if (e.measure == QLatin1String(kStudyMeasures[m]) && (primary.isEmpty() || e.quantity == primary))
        list.push_back(i);
    }
    std::stable_sort(list.begin(), list.end(), [&](size_t a, size_t b) {
      return std::abs(exploration.effects[a].estimate) > std::abs(exploration.effects[b].estimate);
    });
  }
  return order;
}

QString ExploreTermWords(const QString& term) { return Words(term); }

namespace {

// A column of the table: a quantity, with its interval and share when any
// estimate of the column has them. A factorial's main effects and
// interactions share one column.
struct TTableColumn {
  QString quantity;
  bool interval = false;
  bool share = false;
};

QString ColumnOf(const TExploration& x, const TEffect& e) {
  return x.analysis == QLatin1String("factorial") ? QStringLiteral("effect") : e.quantity;
}

// Per measure, one row per term, the largest first, and one column per quantity.
QString Table(const TExploration& x) {
  if (x.effects.empty()) return {};
  constexpr int kNumberWidth = 9;
  constexpr int kIntervalWidth = 21;
  constexpr size_t kTableRows = 10;  // per measure; effects.csv holds every term
  const auto order = ExploreTermOrder(x);
  QString text;
  for (size_t m = 0; m < kMeasureCount; ++m) {
    if (order[m].empty()) continue;
    const QString measure = QLatin1String(kStudyMeasures[m]);
    std::vector<TTableColumn> columns;
    qsizetype termWidth = 4;
    for (const TEffect& e : x.effects) {
      if (e.measure != measure) continue;
      termWidth = std::max(termWidth, Words(e.term).size());
      const QString key = ColumnOf(x, e);
      auto column = std::ranges::find(columns, key, &TTableColumn::quantity);
      if (column == columns.end()) column = columns.insert(columns.end(), TTableColumn{key});
      column->interval = column->interval || (e.low && e.high);
      column->share = column->share || e.share.has_value();
    }
    QString header = QStringLiteral("  %1").arg(QStringLiteral("term"), -termWidth);
    for (const TTableColumn& c : columns) {
      header += QStringLiteral("  %1").arg(c.quantity, kNumberWidth);
      if (c.interval) header += QStringLiteral("  %1").arg(QStringLiteral("95 % interval"), -kIntervalWidth);
      if (c.share) header += QStringLiteral("  share");
    }
    text += QStringLiteral("%1 (%2):\n%3\n").arg(measure, x.analysis, header.trimmed().prepend(QStringLiteral("  ")));
    for (size_t shown = 0; shown < order[m].size(); ++shown) {
      if (shown == kTableRows) {
        text += QStringLiteral("  and %1 smaller in effects.csv\n").arg(order[m].size() - shown);
        break;
      }
      const TEffect& lead = x.effects[order[m][shown]];
      QString line = QStringLiteral("  %1").arg(Words(lead.term), -termWidth);
      for (const TTableColumn& c : columns) {
        const auto e = std::ranges::find_if(x.effects, [&](const TEffect& f) {
          return f.measure == lead.measure && f.term == lead.term && ColumnOf(x, f) == c.quantity;
        });
        const bool found = e != x.effects.end();
        line += QStringLiteral("  %1").arg(found ? QString::number(e->estimate, 'g', 3) : QString(), kNumberWidth);
        if (c.interval) line += QStringLiteral("  %1").arg(found ? Interval(*e) : QString(), -kIntervalWidth);
        if (c.share) {
          line += QStringLiteral("  %1").arg(
              found && e->share ? QStringLiteral("%1 %").arg(100 * *e->share, 0, 'f', 0) : QString(), 5);
        }
      }
      text += line.trimmed().prepend(QStringLiteral("  ")) + QLatin1Char('\n');
    }
  }
  return text;
}

// The kind of the designed runs, the most common one when they differ.
QString DesignKind(const std::vector<TRunMeasures>& runs) {
  QMap<QString, size_t> kinds;
  for (const TRunMeasures& run : runs) {
    if (run.design) ++kinds[run.design->kind];
  }
  QString kind;
  size_t most = 0;
  for (auto it = kinds.begin(); it != kinds.end(); ++it) {
    if (it.value() > most) {
      most = it.value();
      kind = it.key();
    }
  }
  return kind;
}

}  // namespace

TExploration Explore(const std::vector<TRunMeasures>& runs) {
  TExploration out;
  QStringList notes;
  const QString kind = DesignKind(runs);
  std::vector<const TRunMeasures*> chosen;
  std::vector<size_t> factors;
  if (kind.isEmpty()) {
    for (const TRunMeasures& run : runs) chosen.push_back(&run);
    if (chosen.empty()) {
      out.note = QStringLiteral("no runs to analyse");
      return out;
    }
    factors = Varied(chosen);
    if (factors.size() < 2) {
      out.note = factors.empty() ? QStringLiteral("no setting varies: no effects to estimate")
                                 : QStringLiteral("one setting varies: its groups are compared, no effects estimated");
      return out;
    }
    // Without a recorded design the runs must form the product of their varied settings' values.
    std::set<std::vector<int32_t>> cells;
    size_t product = 1;
    for (size_t f : factors) {
      std::set<int32_t> values;
      for (const TRunMeasures* run : chosen) values.insert(run->settings[f]);
      product *= values.size();
    }
    for (const TRunMeasures* run : chosen) {
      std::vector<int32_t> cell;
      for (size_t f : factors) cell.push_back(run->settings[f]);
      cells.insert(cell);
    }
    if (cells.size() != product) {
      out.note = QStringLiteral(
                     "the varied settings do not form a factorial (%1 of %2 combinations) and no design is "
                     "recorded: no effects estimated")
                     .arg(cells.size())
                     .arg(product);
      return out;
    }
    out.analysis = QStringLiteral("factorial");
    Factorial(chosen, factors, out, notes);
  } else {
    size_t others = 0;
    QString command;
    for (const TRunMeasures& run : runs) {
      if (run.design && run.design->kind == kind && (chosen.empty() || run.design->command == command)) {
        if (chosen.empty()) command = run.design->command;
        chosen.push_back(&run);
      } else {
        ++others;
      }
    }
    if (others > 0) notes << QStringLiteral("%1 runs of another or no design were left out").arg(others);
    QStringList unknown;
    factors = DesignFactors(*chosen.front()->design, unknown);
    if (!unknown.isEmpty()) notes << QStringLiteral("no setting is called %1").arg(unknown.join(QStringLiteral(", ")));
    if (kind == QLatin1String("factorial")) {
      // A factor that does not vary in the runs has no effect to estimate.
      std::vector<size_t> varying;
      for (size_t f : factors) {
        const TRange r = RangeOf(chosen, f);
        if (r.Span() > 0)
          varying.push_back(f);
        else
          notes << QStringLiteral("%1 does not vary in the runs").arg(Option(f));
      }
      factors = varying;
    }
    const bool known = kind == QLatin1String("factorial") || kind == QLatin1String("lhs") ||
                       kind == QLatin1String("sobol") || kind == QLatin1String("morris");
    if (!known) {
      out.note = QStringLiteral("the runs' design '%1' is not one this program analyses").arg(kind);
      return out;
    }
    if (factors.empty() || (kind == QLatin1String("factorial") && factors.size() < 2)) {
      notes.prepend(QStringLiteral("the design has too few factors to analyse"));
      out.note = notes.join(QStringLiteral("; "));
      return out;
    }
    out.analysis = kind;
    if (kind == QLatin1String("factorial")) Factorial(chosen, factors, out, notes);
    if (kind == QLatin1String("lhs")) Lhs(chosen, factors, out, notes);
    if (kind == QLatin1String("sobol")) Sobol(chosen, factors, out, notes);
    if (kind == QLatin1String("morris")) Morris(chosen, factors, out, notes);
  }
  if (out.effects.empty()) {
    notes.prepend(QStringLiteral("no effect could be estimated from the %1 runs").arg(chosen.size()));
    out.analysis.clear();
  }
  notes.removeDuplicates();
  out.note = notes.join(QStringLiteral("; "));
  out.table = Table(out);
  return out;
}

namespace {

constexpr int kCsvDigits = 10;

QString CsvNumber(const std::optional<double>& value) {
  return value ? QString::number(*value, 'g', kCsvDigits) : QString();
}

}  // namespace

TStatus WriteEffects(const QString& path, const std::vector<TEffect>& effects) {
  QString text = QStringLiteral("measure,term,quantity,estimate,low,high,share,method\n");
  for (const TEffect& e : effects) {
    for (const std::optional<double>& value : {std::optional<double>(e.estimate), e.low, e.high, e.share}) {
      if (value && !Finite(*value))
        return Failed(QStringLiteral("cannot write %1: the %2 of %3 on %4 is not a number")
                          .arg(path, e.quantity, e.term, e.measure));
    }
    const QStringList cells{
        e.measure,          e.term,  e.quantity, CsvNumber(e.estimate), CsvNumber(e.low), CsvNumber(e.high),
        CsvNumber(e.share), e.method};
    QStringList quoted;
    for (const QString& cell : cells) quoted << CsvCell(cell);
    text += quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return SaveBytes(text.toUtf8(), path);
}
