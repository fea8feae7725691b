// The figures of an exploration.
#pragma once

#include <QString>
#include <vector>

#include "Exploration.h"
#include "Result.h"

// effects.png and effects.svg (a forest plot, one panel per measure), and
// when the estimator made interactions interactions.png and .svg (the
// strongest pairs), and when it measured its indices over the design's
// first rows convergence.png and .svg (the main quantity against the rows), into `dir`.
TStatus WriteEffectFigures(const QString& dir, const TExploration& exploration, const std::vector<TRunMeasures>& runs);
