// Exploring a model from a sweep's runs: the effects of its factors, chosen
// from the design the runs record (DesignKind.h names each design and its
// estimator).
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

#include "DesignPoint.h"
#include "Settings.h"
#include "StudyMeasures.h"

// One run as the exploration sees it.
struct TRunMeasures {
  QString folder;
  TSettingValues settings{};
  uint32_t seed = 0;
  std::optional<TDesignPoint> design;
  // The study's measures' values, in the order of TExploration::measures;
  // absent when the run lacks one (or a measure's transform cannot take it).
  std::vector<std::optional<double>> values;
};

// One estimate of effects.csv: a term's effect on a measure, or an index.
struct TEffect {
  QString measure;  // the name of one of the study's measures
  QString term;     // a factor's option name, "a:b" for an interaction of two
  // "effect", "interaction", "prcc", "S1", "ST", "mu_star", "mu", "sigma" or
  // "noise_floor" of a term; "seed_share" (term "seed"), "share" (terms
  // "seed" and "residual" of a factorial) or "warning" of the design.
  QString quantity;
  double estimate = 0;
  std::optional<double> low;  // the 95 % interval, when one is made
  std::optional<double> high;
  std::optional<double> share;  // factorials: the share of the variance the term explains
  QString method;               // how the interval was made: "t", "bootstrap", "fisher-z", ...
};

// Whether a quantity is a term's (a column of the printed table, a row of
// the figure's panel) rather than the design's: the seeds' share, the
// factorial's shares of the seeds and the residual, a warning.
bool IsTermQuantity(const QString& quantity);

// The range a quantity's true value lies in, whatever its estimate: 0 to 1
// for a Sobol index and a share of the variance, -1 to 1 for a correlation,
// from 0 for a mean absolute effect and a spread; unbounded (infinite ends)
// for an effect, an interaction, a mean effect or an F.
struct TQuantityRange {
  double lo;
  double hi;
};
TQuantityRange QuantityRange(const QString& quantity);

// A word that the design cannot answer a question: effects.csv holds it as
// a row of quantity "warning" (its estimate the count that would answer, its
// method the words), and standard error as one line per measure and kind.
struct TWarning {
  size_t measure = 0;  // an index of the exploration's measures
  QString term;        // the factor it concerns, or "seed" or "design"
  QString quantity;    // the quantity it concerns: "S1", "seed_share", ...
  QString what;        // what is wrong, "%1" the term's words: "the S1 interval of %1 is wider than 0 to 1"
  QString answer;      // what would answer, "%1" the count: "about %1 rows would narrow it"
  double count = 0;    // the seeds per point or the rows that would answer
};

// An index against the rows (or trajectories) of the design's first part
// that made it: how it settles as the design grows.
struct TConvergence {
  QString measure;
  QString term;
  QString quantity;
  size_t rows = 0;
  double estimate = 0;
  std::optional<double> low;
  std::optional<double> high;
};
// How a factorial codes its factors: each as a line over its range
// (Factorial.cpp), or as categories (a categorical ANOVA); by default as
// categories when a factor has more than two levels.
enum class TFactorCoding : uint8_t { kAuto, kLinear, kCategorical };
struct TFactorCodingName {
  TFactorCoding coding;
  const char* name;  // as --factor-coding takes it
};
inline constexpr std::array kFactorCodings{TFactorCodingName{TFactorCoding::kAuto, "auto"},
                                           TFactorCodingName{TFactorCoding::kLinear, "linear"},
                                           TFactorCodingName{TFactorCoding::kCategorical, "categorical"}};
std::optional<TFactorCoding> FindFactorCoding(const QString& name);

// A factorial analysed with its factors as categories has, per term, its F
// statistic (with the term's share) and its p-value in place of an
// effect; the seed blocks are a term of their own there.
inline constexpr const char* kAnovaStatistic = "F";
inline constexpr const char* kAnovaPValue = "p";
inline constexpr const char* kSeedBlockTerm = "seed";

struct TExploration {
  std::vector<TStudyMeasure> measures;          // the study's measures, in the order of the runs' values
  TFactorCoding coding = TFactorCoding::kAuto;  // as asked for
  QString analysis;  // the design kind's name whose estimator made the effects; empty when none was made
  std::vector<TEffect> effects;
  QString table;                          // the short table for standard output, sorted by size; empty without effects
  QString note;                           // one line for standard error: why no analysis was made, or what was left out
  std::vector<TWarning> warnings;         // each also a row of effects
  QStringList warningLines;               // for standard error, one line each, grouped by measure and kind
  std::vector<TConvergence> convergence;  // Sobol and Morris: the indices over the design's first rows
  QString rowsWord;                       // what convergence counts: "rows", "trajectories"
};

// The analysis the runs' design calls for, without its table; runs without
// a recorded design are a factorial when two or more settings vary and the
// runs form their product. Runs that lack a measure are left out of that
// measure.
TExploration Analyse(const std::vector<TRunMeasures>& runs,
                     const std::vector<TStudyMeasure>& measures = DefaultStudyMeasures(),
                     TFactorCoding coding = TFactorCoding::kAuto);

// Per measure of the exploration's measures the indices of its effects in the order the
// table and the figure show them, largest first: every effect, or only the
// design kind's main quantity (a Sobol design's ST, a Morris design's
// mu_star) when it has one.
std::vector<std::vector<size_t>> ExploreTermOrder(const TExploration& exploration);
// A term in words: "mutation rate", "mutation rate × evaporation rate".
QString ExploreTermWords(const QString& term);
