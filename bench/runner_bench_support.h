// Shared by the runner's benchmarks: medians, and a headless world set up
// and stepped as pathwick_run sets it up.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CellForm.h"
#include "Experiment.h"

namespace runner_bench {

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// A window whose world (seed 1) has run `steps` headless steps.
inline std::unique_ptr<TForm1> HeadlessWorld(int cellSize, int agents, int steps) {
  auto form = std::make_unique<TForm1>();
  TRunPlan plan;
  plan.settings = WithChanges(ReadSettings(*form), {{"cell-size", cellSize}, {"agents", agents}});
  plan.seed = 1;
  plan.steps = steps;
  if (const TResult<TRunOutcome> outcome = RunExperiment(*form, plan, {}); !outcome) {
    std::fprintf(stderr, "the world failed: %s\n", qPrintable(outcome.Error().message));
    std::exit(1);
  }
  return form;
}

}  // namespace runner_bench
