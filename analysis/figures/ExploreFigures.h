// The figures of an exploration.
#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "Exploration.h"
#include "Result.h"

// An effect as a forest plot draws it: its estimate and interval cut to the
// quantity's range (QuantityRange), and which of them were cut. A cut
// interval end is drawn with an arrowhead, a cut estimate as a hollow marker
// at the range's end; effects.csv and the printed table keep the numbers
// whole.
struct TDrawnEffect {
  double estimate = 0;
  std::optional<double> low;
  std::optional<double> high;
  bool estimateCut = false;
  bool lowCut = false;
  bool highCut = false;
};
TDrawnEffect DrawnEffect(const TQuantityRange& range, double estimate, std::optional<double> low,
                         std::optional<double> high);

// effects.png and effects.svg (a forest plot, one panel per measure), and
// when the estimator made interactions interactions.png and .svg (the
// strongest pairs), and when it measured its indices over the design's
// first rows convergence.png and .svg (the main quantity against the rows), into `dir`.
TStatus WriteEffectFigures(const QString& dir, const TExploration& exploration, const std::vector<TRunMeasures>& runs);
