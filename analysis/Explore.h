// Exploring a model from a sweep's runs: the analysis the runs' design calls
// for (explore/), with its printed table (tables/) and its figures (figures/).
#pragma once

#include <vector>

#include "Exploration.h"
#include "ExploreFigures.h"
#include "Tables.h"

// Analyse's exploration with its table for standard output.
TExploration Explore(const std::vector<TRunMeasures>& runs,
                     const std::vector<TStudyMeasure>& measures = DefaultStudyMeasures(),
                     TFactorCoding coding = TFactorCoding::kAuto);
