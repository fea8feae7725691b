// Exploring a model from a sweep's runs: the effects of its factors, chosen
// from the design the runs record (DesignKind.h names each design and its
// estimator).
#pragma once

#include <QString>
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
  QString measure;   // the name of one of the study's measures
  QString term;      // a factor's option name, "a:b" for an interaction of two
  QString quantity;  // "effect", "interaction", "prcc", "S1", "ST", "mu_star", "mu" or "sigma"
  double estimate = 0;
  std::optional<double> low;  // the 95 % interval, when one is made
  std::optional<double> high;
  std::optional<double> share;  // factorials: the share of the variance the term explains
  QString method;               // how the interval was made: "t", "bootstrap", "fisher-z", ...
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
  QString table;  // the short table for standard output, sorted by size; empty without effects
  QString note;   // one line for standard error: why no analysis was made, or what was left out
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
