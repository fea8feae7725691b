// Shared by the runner's benchmarks: medians, and a headless world set up
// and stepped as pathwick_run sets it up.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "CellForm.h"
#include "Experiment.h"

namespace runner_bench {

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The value of a step that cannot fail in a benchmark; a failure ends the program.
template <class T>
T Checked(TResult<T> result, const char* what) {
  if (!result) {
    std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(result.Error().message));
    std::exit(1);
  }
  return std::move(*result);
}

// A window whose world (seed 1) has run `steps` headless steps.
inline std::unique_ptr<TForm1> HeadlessWorld(int cellSize, int agents, int steps) {
  auto form = std::make_unique<TForm1>();
  TRunPlan plan;
  plan.settings =
      Checked(WithChanges(ReadSettings(*form), {{"cell-size", cellSize}, {"agents", agents}}), "the settings");
  plan.seed = 1;
  plan.steps = steps;
  Checked(RunExperiment(*form, plan, {}), "the world");
  return form;
}

}  // namespace runner_bench
