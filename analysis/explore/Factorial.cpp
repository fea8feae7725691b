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
// over the total sum of squares about the mean.
//
// When a factor has more than two levels a line over its range can miss an
// effect that zig-zags, so each measure is instead analysed with the factors
// as categories: a categorical ANOVA with a dummy column per level but the
// first (treatment coding), a column per pair of levels for each pair of
// factors, and the seed blocks as above. Each term's sum of squares is Type
// II (Langsrud, Statistics and Computing 13, 2003, 163-167; Fox, Applied
// Regression Analysis and Generalized Linear Models, 3rd ed., 2016, §8.2.4):
// the residual sum of squares gained by dropping the term from the model of
// every term that does not contain it, so a main effect is adjusted for the
// other main effects but not for its own interactions. Its F is that sum of
// squares over its degrees of freedom, against the full model's residual
// mean square, with the p-value of Fisher's F; its share is its sum of
// squares over the total about the mean. The seed blocks get their own row,
// dropped from the full model in the same way. Beside the terms' shares
// stand the seed blocks' and the residual's, and the seeds' share of the
// variance within the cells (one-way ANOVA over the cells, Replicates.h).
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <cstddef>
#include <map>
#include <numeric>
#include <optional>

#include "DesignKind.h"
#include "Estimation.h"
#include "LeastSquares.h"
#include "Replicates.h"
#include "Statistics.h"

namespace explore::factorial_design {

bool FitsRole(const QString& role, qsizetype) { return role == QLatin1String("cell"); }

// A term of the categorical model: one factor (b empty) or a pair, as places in the factors.
struct TAnovaTerm {
  size_t a = 0;
  std::optional<size_t> b;
  bool Contains(const TAnovaTerm& other) const { return b && !other.b && (other.a == a || other.a == *b); }
  bool operator==(const TAnovaTerm&) const = default;
};

// The runs of one measure as the categorical model sees them: each run's
// level of each factor (0 the lowest) and its seed block (0 the first seed).
struct TCategoricalRuns {
  std::vector<std::vector<size_t>> level;  // per run, per factor
  std::vector<size_t> block;               // per run
  std::vector<size_t> levels;              // per factor: how many
  size_t blocks = 1;
  std::vector<double> y;
};

size_t TermColumns(const TCategoricalRuns& c, const TAnovaTerm& t) {
  return (c.levels[t.a] - 1) * (t.b ? c.levels[*t.b] - 1 : 1);
}

// The residual sum of squares of the model of the intercept, the blocks
// (when `withBlocks`) and `terms`; nothing when its columns cannot be told apart.
std::optional<double> CategoricalRss(const TCategoricalRuns& c, const std::vector<TAnovaTerm>& terms, bool withBlocks) {
  size_t p = 1 + (withBlocks ? c.blocks - 1 : 0);
  for (const TAnovaTerm& t : terms) p += TermColumns(c, t);
  TMatrix x(c.y.size(), std::vector<double>(p, 0.0));
  for (size_t r = 0; r < c.y.size(); ++r) {
    std::vector<double>& row = x[r];
    row[0] = 1;
    size_t at = 1;
    if (withBlocks) {
      if (c.block[r] > 0) row[at + c.block[r] - 1] = 1;
      at += c.blocks - 1;
    }
    for (const TAnovaTerm& t : terms) {
      const size_t la = c.level[r][t.a];
      const size_t wide = c.levels[t.a] - 1;
      if (!t.b) {
        if (la > 0) row[at + la - 1] = 1;
      } else if (const size_t lb = c.level[r][*t.b]; la > 0 && lb > 0) {
        row[at + (lb - 1) * wide + la - 1] = 1;
      }
      at += TermColumns(c, t);
    }
  }
  const std::optional<TFit> fit = LeastSquares(x, c.y);
  if (!fit) return std::nullopt;
  return fit->rss;
}

// The categorical ANOVA of one measure: per term (and the seed blocks) its
// F (with the term's share) and its p-value. Notes why when it cannot be made.
void CategoricalAnova(const std::vector<const TRunMeasures*>& with, const std::vector<size_t>& factors,
                      const std::vector<std::vector<int32_t>>& levels, bool blocks, size_t m, TExploration& out,
                      QStringList& notes) {
  const size_t k = factors.size();
  TCategoricalRuns c;
  for (const auto& l : levels) c.levels.push_back(l.size());
  std::map<uint32_t, size_t> blockOf;
  if (blocks) {
    for (const TRunMeasures* run : with) blockOf.emplace(run->seed, 0);
    size_t next = 0;
    for (auto& [seed, b] : blockOf) b = next++;
    c.blocks = blockOf.size();
  }
  for (const TRunMeasures* run : with) {
    std::vector<size_t> level;
    for (size_t f = 0; f < k; ++f) {
      const auto at = std::lower_bound(levels[f].begin(), levels[f].end(), run->settings[factors[f]]);
      level.push_back(static_cast<size_t>(at - levels[f].begin()));
    }
    c.level.push_back(std::move(level));
    c.block.push_back(blocks ? blockOf.at(run->seed) : 0);
    c.y.push_back(*run->values[m]);
  }
  std::vector<TAnovaTerm> terms;
  size_t mainColumns = 0;
  for (size_t f = 0; f < k; ++f) {
    terms.push_back({f, std::nullopt});
    mainColumns += c.levels[f] - 1;
  }
  size_t pairColumns = 0;
  std::vector<TAnovaTerm> pairTerms;
  for (size_t a = 0; a < k; ++a) {
    for (size_t b = a + 1; b < k; ++b) {
      pairTerms.push_back({a, b});
      pairColumns += TermColumns(c, pairTerms.back());
    }
  }
  const size_t base = 1 + (blocks ? c.blocks - 1 : 0);
  const bool interactions = with.size() > base + mainColumns + pairColumns;
  if (!interactions && with.size() <= base + mainColumns) {
    notes << QStringLiteral("%1: %2 runs are too few for the %3 columns of the categorical model")
                 .arg(MeasureName(out, m))
                 .arg(with.size())
                 .arg(base + mainColumns);
    return;
  }
  if (!interactions && !pairTerms.empty())
    notes << QStringLiteral("%1: too few runs for interactions, main effects only").arg(MeasureName(out, m));
  if (interactions) terms.insert(terms.end(), pairTerms.begin(), pairTerms.end());
  size_t p = base;
  for (const TAnovaTerm& t : terms) p += TermColumns(c, t);
  const std::optional<double> full = CategoricalRss(c, terms, blocks);
  if (!full) {
    notes << QStringLiteral("%1: the terms cannot be told apart in these runs").arg(MeasureName(out, m));
    return;
  }
  const double mean = std::accumulate(c.y.begin(), c.y.end(), 0.0) / static_cast<double>(c.y.size());
  double total = 0;
  for (double v : c.y) total += (v - mean) * (v - mean);
  if (total <= kTinyVariance) {
    notes << QStringLiteral("%1: the measure does not vary").arg(MeasureName(out, m));
    return;
  }
  const double dfResidual = static_cast<double>(with.size() - p);
  const double residualMean = *full / dfResidual;
  const QString blocking = blocks ? QStringLiteral("seeds as blocks") : QStringLiteral("no blocks");
  // One term's rows: its sum of squares is `reduced` - `kept`, over `df` degrees of freedom.
  const auto add = [&](const QString& term, std::optional<double> reduced, std::optional<double> kept, size_t df) {
    if (!reduced || !kept) return;
    const double ss = std::max(*reduced - *kept, 0.0);
    const double f = residualMean > kTinyVariance ? ss / static_cast<double>(df) / residualMean : 0.0;
    const double pValue = residualMean > kTinyVariance
                              ? boost::math::cdf(boost::math::complement(
                                    boost::math::fisher_f_distribution<double>(static_cast<double>(df), dfResidual), f))
                              : 1.0;
    const QString method = QStringLiteral("F; categorical, type II sums of squares; %1; df %2 and %3")
                               .arg(blocking)
                               .arg(df)
                               .arg(dfResidual);
    const std::optional<double> share =
        total > kTinyVariance ? std::optional<double>(std::clamp(ss / total, 0.0, 1.0)) : std::nullopt;
    for (const auto& [quantity, value] : {std::pair{kAnovaStatistic, f}, std::pair{kAnovaPValue, pValue}}) {
      TEffect e = MakeEffect(out, m, term, QLatin1String(quantity), value);
      if (quantity == kAnovaStatistic) e.share = share;
      e.method = method;
      out.effects.push_back(std::move(e));
    }
  };
  for (const TAnovaTerm& t : terms) {
    std::vector<TAnovaTerm> without;
    for (const TAnovaTerm& u : terms) {
      if (!(u == t) && !u.Contains(t)) without.push_back(u);
    }
    std::vector<TAnovaTerm> kept = without;
    kept.push_back(t);
    const QString term = t.b ? Option(factors[t.a]) + QLatin1Char(':') + Option(factors[*t.b]) : Option(factors[t.a]);
    add(term, CategoricalRss(c, without, blocks), CategoricalRss(c, kept, blocks), TermColumns(c, t));
  }
  if (blocks) add(QLatin1String(kSeedBlockTerm), CategoricalRss(c, terms, false), full, c.blocks - 1);
}

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
  for (size_t m = 0; m < out.measures.size(); ++m) {
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
    // A factor of more than two levels: the factors as categories, unless asked otherwise.
    const bool manyLevels = std::ranges::any_of(levels, [](const std::vector<int32_t>& l) { return l.size() > 2; });
    if (out.coding == TFactorCoding::kCategorical || (out.coding == TFactorCoding::kAuto && manyLevels)) {
      CategoricalAnova(with, factors, levels, blocks, m, out, notes);
      // The seeds' share within the cells, as beside the linear coding's terms.
      if (const TSeedShare seeds = PointSeedShare(with, m); seeds.replicated > 0)
        ReportSeedShare(m, seeds, "cell", out);
      continue;
    }
    const size_t first = 1 + blockColumn.size();  // the intercept, then the blocks, then the terms
    // Too few runs for the interactions (a 2 x 2 of one seed, say): the main effects alone.
    const bool interactions = with.size() > first + k + pairs.size();
    if (!interactions && with.size() <= first + k) {
      notes << QStringLiteral("%1: %2 runs are too few for %3 terms")
                   .arg(MeasureName(out, m))
                   .arg(with.size())
                   .arg(first + k);
      continue;
    }
    if (!interactions && !pairs.empty()) {
      notes << QStringLiteral("%1: too few runs for interactions, main effects only").arg(MeasureName(out, m));
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
      notes << QStringLiteral("%1: the terms cannot be told apart in these runs").arg(MeasureName(out, m));
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
          TEffect e = MakeEffect(out, m, QStringLiteral("seed"), QStringLiteral("share"),
                                 std::clamp((without->rss - fit->rss) / total, 0.0, 1.0));
          e.share = e.estimate;
          e.method = QStringLiteral("the seed blocks' sum of squares over the total");
          out.effects.push_back(std::move(e));
        }
      }
      TEffect e = MakeEffect(out, m, QStringLiteral("residual"), QStringLiteral("share"), fit->rss / total);
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
          MakeEffect(out, m, term, main ? QStringLiteral("effect") : QStringLiteral("interaction"), 2 * fit->beta[j]);
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
