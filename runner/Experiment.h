// One headless run: a world built from the window class with a run's
// settings and seed, stepped with the drawing passes switched off unless a
// picture is due, and observed at every statistics sample.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>

#include "Sample.h"
#include "Settings.h"

class TForm1;

struct TRunPlan {
  TSettingValues settings{};
  uint32_t seed = 0;
  bool seedFromClock = false;
  int32_t steps = 0;
  bool histograms = false;
  bool plot = false;
  int32_t snapshotEvery = 0;  // 0: no snapshots
  // Pictures of the grid keep the cell layer drawn as the window draws it.
  bool Pictures() const { return plot || snapshotEvery > 0; }
};

struct TRunObserver {
  std::function<void(const TSample&)> sample;
  std::function<void(int32_t step, const TGeneHistogram&)> histogram;
  // A picture of the grid after `step` steps; `last` marks the run's final one.
  std::function<void(int32_t step, const QImage& grid, bool last)> picture;
  std::function<void(int32_t stepsDone)> progress;  // after every step
};

struct TRunOutcome {
  int32_t stepsDone = 0;
  bool interrupted = false;
  QString error;  // a fault reported by the world; the run stopped there
};

// Sets up `form`'s world with the plan's settings and seed and runs it. The
// seed rule stays in force only for the run. Stops early, between steps,
// once StopRequested() holds.
TRunOutcome RunExperiment(TForm1& form, const TRunPlan& plan, const TRunObserver& observer);

// Ctrl-C and SIGTERM ask the run to stop at the current step.
void InstallStopSignals();
void RequestStop();
bool StopRequested();
void ClearStopRequest();

// The grid as the window shows it: the cell layer with the agents on top.
QImage GridPicture(TForm1& form);
