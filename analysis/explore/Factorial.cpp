// The factorial design: the cells of two or more --vary, one role "cell".
//
// Each factor is coded linearly over the levels the runs hold, -1 at its
// lowest and +1 at its highest, and every measure is fitted by least squares
// with a term per factor, a term per pair of factors (the product of their
// codes) and, when every seed recurs, a block per seed. An effect is twice
// its term's coefficient: for a two-level factor in a balanced design that
// is the classic mean at the high level minus the mean at the low level, for
// a factor of more levels the change of the linear fit over the factor's
// whole range. An interaction is twice its coefficient as well, which is the
// half-difference convention: half of (the effect of the first factor at the
// second's high level minus its effect at the low one). Intervals are
// Student's t on the residual variance of that model; a term's share is its
// sum of squares (the residual sum of squares gained by dropping the term)
// over the total sum of squares about the mean. Beside the terms' shares
// stand the seed blocks' and the residual's, and the seeds' share of the
// variance within the cells (one-way ANOVA over the cells, Replicates.h).
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <numeric>

#include "DesignKind.h"
#include "Estimation.h"
#include "LeastSquares.h"
#include "Replicates.h"
#include "Statistics.h"

namespace explore::factorial_design {

bool FitsRole(const QString& role, qsizetype) { return role == QLatin1String("cell"); }

void Estimate(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors, TExploration& out,
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
  for (size_t m = 0; m < kStudyMeasureCount; ++m) {
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
    if (!interactions && !pairs.empty()) {
      notes << QStringLiteral("%1: too few runs for interactions, main effects only").arg(kStudyMeasures[m]);
      out.warnings.push_back(
          {m, QStringLiteral("design"), QStringLiteral("interaction"),
           QStringLiteral("%1 runs are too few for the interactions of %2 factors").arg(with.size()).arg(k),
           QStringLiteral("%1 runs (another seed per cell) would fit them"),
           static_cast<double>(first + k + pairs.size() + 1)});
    }
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
    // The seeds' and the residual's shares beside the terms': the blocks'
    // sum of squares is the residual's growth when they are dropped.
    if (total > kTinyVariance) {
      if (blocks) {
        TMatrix unblocked(x.size());
        for (size_t r = 0; r < x.size(); ++r) {
          unblocked[r].push_back(1);
          unblocked[r].insert(unblocked[r].end(), x[r].begin() + static_cast<std::ptrdiff_t>(first), x[r].end());
        }
        if (const std::optional<TFit> without = LeastSquares(unblocked, y)) {
          TEffect e = MakeEffect(m, QStringLiteral("seed"), QStringLiteral("share"),
                                 std::clamp((without->rss - fit->rss) / total, 0.0, 1.0));
          e.share = e.estimate;
          e.method = QStringLiteral("the seed blocks' sum of squares over the total");
          out.effects.push_back(std::move(e));
        }
      }
      TEffect e = MakeEffect(m, QStringLiteral("residual"), QStringLiteral("share"), fit->rss / total);
      e.share = e.estimate;
      e.method = QStringLiteral("the residual sum of squares over the total; %1 degrees of freedom").arg(df);
      out.effects.push_back(std::move(e));
    }
    const TSeedShare seeds = PointSeedShare(with, m);
    if (seeds.replicated > 0) {
      ReportSeedShare(m, seeds, "cell", out);
    } else if (total > kTinyVariance && df > 0) {
      // One run a cell: the residual's mean square is the noise, if the model holds.
      const double residualShare = fit->rss / df / (total / static_cast<double>(with.size() - 1));
      if (residualShare > kNoisyMeans)
        out.warnings.push_back({m, QStringLiteral("seed"), QStringLiteral("seed_share"),
                                QStringLiteral("one seed per cell and the residual holds %1 % of the variance: the "
                                               "runs cannot tell the seeds' noise from the factors' effects")
                                    .arg(100 * std::min(residualShare, 1.0), 0, 'f', 0),
                                QStringLiteral("run every cell with --seeds 1-%1 (or more) to measure it"),
                                static_cast<double>(kFewestSeeds)});
    }
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

}  // namespace explore::factorial_design

namespace explore {

// The kind's row of the design table (DesignKinds.cpp).
extern constexpr TDesignKind kFactorialDesign{
    .name = "factorial",
    .cellsFromVary = true,
    .fitsRole = factorial_design::FitsRole,
    .estimate = factorial_design::Estimate,
    .minFactors = 2,
    .dropsConstantFactors = true,
    .sharedColumn = "effect",
    .words = {.analysis = "Factorial effects",
              .axis = "effect from the factor's low to its high end, 95 % interval",
              .point = "point"},
};

}  // namespace explore
