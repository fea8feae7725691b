// Shared by the runner's benchmarks: medians, and a headless world set up
// and stepped as pathwick_run sets it up.
#pragma once

#include <algorithm>
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
  plan.settings = ReadSettings(*form);
  plan.settings[*FindSetting("cell-size")] = cellSize;
  plan.settings[*FindSetting("agents")] = agents;
  plan.seed = 1;
  plan.steps = steps;
  RunExperiment(*form, plan, {});
  return form;
}

}  // namespace runner_bench
