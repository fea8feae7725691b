// The Latin hypercube: --samples N points, one role "sample".
//
// Its analysis: partial rank correlations of each factor with each measure,
// intervals by Fisher's z. A point run with several seeds counts once, with
// the mean of its runs, and the seeds' share of the variance (one-way ANOVA
// over the points, Replicates.h) is reported beside them.
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <iterator>
#include <map>
#include <utility>

#include "DesignKind.h"
#include "Draws.h"
#include "Estimation.h"
#include "LeastSquares.h"
#include "Statistics.h"

namespace explore::lhs_design {

bool FitsRole(const QString& role, qsizetype) { return role == QLatin1String("sample"); }

qint64 PointCount(qint64 samples, qint64) { return samples; }

std::vector<TUnitPoint> Generate(const TDesignDraw& draw) {
  return LatinHypercube(draw.samples, draw.factors, draw.seed);
}

double Quantile(double p) { return boost::math::quantile(boost::math::normal_distribution<double>(), p); }

// The ranges the design's command gives its factors (--range NAME=LO:HI),
// by setting; a range that cannot be read is not held against the points.
std::map<size_t, std::pair<int32_t, int32_t>> CommandRanges(const QString& command) {
  std::map<size_t, std::pair<int32_t, int32_t>> ranges;
  const QStringList words = QProcess::splitCommand(command);
  const QString option = QStringLiteral("--range");
  for (qsizetype i = 0; i < words.size(); ++i) {
    QString value;
    if (words[i] == option && i + 1 < words.size()) {
      value = words[++i];
    } else if (words[i].startsWith(option + QLatin1Char('='))) {
      value = words[i].mid(option.size() + 1);
    } else {
      continue;
    }
    const qsizetype equals = value.indexOf(QLatin1Char('='));
    const qsizetype colon = value.indexOf(QLatin1Char(':'), equals);
    if (equals < 0 || colon < 0) continue;
    const std::optional<size_t> setting = FindSetting(value.left(equals));
    if (!setting) continue;
    const TSettingSpec& spec = SettingSpecs()[*setting];
    const std::optional<int32_t> lo = ParseSettingValue(spec, value.mid(equals + 1, colon - equals - 1));
    const std::optional<int32_t> hi = ParseSettingValue(spec, value.mid(colon + 1));
    if (lo && hi) ranges[*setting] = std::minmax(*lo, *hi);
  }
  return ranges;
}

// Whether the run's point lies within the ranges of its design's command: a
// point moved outside them (a job line edited by hand) is no point of the design.
bool WithinRanges(const TRunMeasures& run) {
  if (!run.design) return true;
  for (const auto& [setting, range] : CommandRanges(run.design->command)) {
    const int32_t value = run.settings[setting];
    if (value < range.first || value > range.second) return false;
  }
  return true;
}

void Estimate(const std::vector<const TRunMeasures*>& given, const std::vector<size_t>& factors, TExploration& out,
              QStringList& notes) {
  std::vector<const TRunMeasures*> runs;
  std::copy_if(given.begin(), given.end(), std::back_inserter(runs),
               [](const TRunMeasures* run) { return WithinRanges(*run); });
  if (runs.size() < given.size()) {
    notes << QStringLiteral("%1 runs whose point lies outside its design's --range were left out")
                 .arg(given.size() - runs.size());
  }
  const size_t k = factors.size();
  const double z = Quantile(0.5 + kConfidence / 2.0);
  for (size_t m = 0; m < out.measures.size(); ++m) {
    if (RunsWith(runs, m).empty()) continue;  // a measure no run holds is not studied
    const auto points = PointMeans(runs, m);
    const size_t n = points.size();
    if (n < k + 2) {
      notes << QStringLiteral("%1: %2 samples are too few for %3 factors: %4 would give intervals")
                   .arg(MeasureName(out, m))
                   .arg(n)
                   .arg(k)
                   .arg(k + 3);
      continue;
    }
    const TSeedShare share = PointSeedShare(runs, m);
    const QString method = QStringLiteral("fisher-z; ") + NoiseWords(share, "the seeds' noise is not corrected");
    bool any = false;
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
                     .arg(MeasureName(out, m), Option(factors[f]));
        continue;
      }
      TEffect e = MakeEffect(out, m, Option(factors[f]), QStringLiteral("prcc"), *r);
      // Fisher's z of a partial correlation given k - 1 others: n - 3 - (k - 1) degrees of freedom.
      const double dof = static_cast<double>(n) - 3.0 - static_cast<double>(k - 1);
      if (dof > 0) {
        const double centre = std::atanh(std::clamp(*r, -1.0, 1.0));
        const double half = z / std::sqrt(dof);
        e.low = std::tanh(centre - half);
        e.high = std::tanh(centre + half);
      }
      e.method = method;
      out.effects.push_back(std::move(e));
      any = true;
    }
    if (any) ReportSeedShare(m, share, "point", out);
  }
}

}  // namespace explore::lhs_design

namespace explore {

// The kind's row of the design table (DesignKinds.cpp).
extern constexpr TDesignKind kLhsDesign{
    .name = "lhs",
    .takesSeed = true,
    .fitsRole = lhs_design::FitsRole,
    .pointCount = lhs_design::PointCount,
    .generate = lhs_design::Generate,
    .estimate = lhs_design::Estimate,
    .correlationAxis = true,
    .words = {.analysis = "Partial rank correlations, Latin hypercube",
              .axis = "partial rank correlation, 95 % interval",
              .point = "point",
              .draws = "a Latin hypercube of --samples N points"},
};

}  // namespace explore

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
