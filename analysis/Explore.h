// Exploring a model from a sweep's runs: the effects of its factors, chosen
// from the design the runs record. Factorials give main effects and two-way
// interactions, Latin hypercubes partial rank correlations, Sobol designs
// first-order and total indices, Morris designs mu*, mu and sigma.
#pragma once

#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "Result.h"
#include "RunSetup.h"

// The measures a study reads from each run, over the summary's window: the
// unrounded genes' means, and trips and births per 100 steps.
inline constexpr std::array<const char*, 4> kStudyMeasures{"mean_angle", "mean_wiggle", "trip_rate", "birth_rate"};

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
  QString analysis;  // "factorial", "lhs", "sobol", "morris"; empty when none was made
  std::vector<TEffect> effects;
  QString table;  // the short table for standard output, sorted by size; empty without effects
  QString note;   // one line for standard error: why no analysis was made, or what was left out
};

// The analysis the runs' design calls for; a factorial needs two or more
// varied settings. Runs that lack a measure are left out of that measure.
TExploration Explore(const std::vector<TRunMeasures>& runs);

// Per measure of kStudyMeasures the indices of its effects in the order the
// table and the figure show them, largest first: every effect of a
// factorial or Latin hypercube, the ST of a Sobol design, the mu_star of a
// Morris design (one per term).
std::vector<std::vector<size_t>> ExploreTermOrder(const TExploration& exploration);
// A term in words: "mutation rate", "mutation rate × evaporation rate".
QString ExploreTermWords(const QString& term);

// effects.csv in long format, written whole or not at all.
TStatus WriteEffects(const QString& path, const std::vector<TEffect>& effects);

// effects.png and effects.svg (a forest plot, one panel per measure), and for
// factorials interactions.png and .svg (the strongest pairs), into `dir`.
TStatus WriteEffectFigures(const QString& dir, const TExploration& exploration, const std::vector<TRunMeasures>& runs);
