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
  // kStudyMeasures' values, in their order; absent when the run lacks them.
  std::array<std::optional<double>, kStudyMeasures.size()> values{};
};

// One estimate of effects.csv: a term's effect on a measure, or an index.
struct TEffect {
  QString measure;   // one of kStudyMeasures
  QString term;      // a factor's option name, "a:b" for an interaction of two
  QString quantity;  // "effect", "interaction", "prcc", "S1", "ST", "mu_star", "mu" or "sigma"
  double estimate = 0;
  std::optional<double> low;  // the 95 % interval, when one is made
  std::optional<double> high;
  std::optional<double> share;  // factorials: the share of the variance the term explains
  QString method;               // how the interval was made: "t", "bootstrap", "fisher-z", ...
};

struct TExploration {
  QString analysis;  // the design kind's name whose estimator made the effects; empty when none was made
  std::vector<TEffect> effects;
  QString table;  // the short table for standard output, sorted by size; empty without effects
  QString note;   // one line for standard error: why no analysis was made, or what was left out
};

// The analysis the runs' design calls for, without its table; runs without
// a recorded design are a factorial when two or more settings vary and the
// runs form their product. Runs that lack a measure are left out of that
// measure.
TExploration Analyse(const std::vector<TRunMeasures>& runs);

// Per measure of kStudyMeasures the indices of its effects in the order the
// table and the figure show them, largest first: every effect, or only the
// design kind's main quantity (a Sobol design's ST, a Morris design's
// mu_star) when it has one.
std::vector<std::vector<size_t>> ExploreTermOrder(const TExploration& exploration);
// A term in words: "mutation rate", "mutation rate × evaporation rate".
QString ExploreTermWords(const QString& term);
