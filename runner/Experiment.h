// One headless run: a world built from the window class with a run's
// settings and seed, stepped with the drawing passes switched off unless a
// picture is due, and observed at every statistics sample.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Sample.h"
#include "SeedRule.h"
#include "Settings.h"

class TForm1;
struct TCheckpoint;
struct TCheckpointRule;

struct TRunPlan {
  TSettingValues settings{};
  uint32_t seed = 0;
  bool seedFromClock = false;
  int32_t steps = 0;
  bool histograms = false;
  bool plot = false;
  int32_t snapshotEvery = 0;    // 0: no snapshots
  int32_t checkpointEvery = 0;  // 0: no checkpoints
  // A world to continue instead of setting one up (consumed by the run). The
  // seed rule continues the checkpoint's unless `branchSeed`: then reseeds
  // count from the checkpoint on with `seed`.
  std::shared_ptr<TCheckpoint> from;
  QString fromPath;
  QString fromChecksum;
  bool branchSeed = false;
  // Pictures of the grid keep the cell layer drawn as the window draws it.
  bool Pictures() const { return plot || snapshotEvery > 0; }
};

struct TRunObserver {
  std::function<void(const TSample&)> sample;
  std::function<void(int32_t step, const TGeneHistogram&)> histogram;
  // A picture of the grid after `step` steps; `last` marks the run's final one.
  std::function<void(int32_t step, const QImage& grid, bool last)> picture;
  std::function<void(int32_t stepsDone)> progress;  // after every step
  // Due every `checkpointEvery` steps, after the last step and when the run
  // is interrupted: the world and what it does not hold itself.
  std::function<void(TForm1& form, const TCheckpointRule& rule)> checkpoint;
};

struct TRunOutcome {
  int32_t firstStep = 0;  // the world's step count when the run began
  int32_t stepsDone = 0;  // the world's step count when it ended
  bool interrupted = false;
  QString error;  // a fault reported by the world; the run stopped there
};

// Sets up `form`'s world with the plan's settings and seed and runs it. The
// seed rule stays in force only for the run. Stops early, between steps,
// once StopRequested() holds.
TRunOutcome RunExperiment(TForm1& form, const TRunPlan& plan, const TRunObserver& observer);

// Sets up the plan's world in `form`, or continues its checkpoint (which it
// consumes), under the plan's seed rule, which `rule` then keeps in force.
// Returns an error text or empty.
QString PrepareWorld(TForm1& form, const TRunPlan& plan, std::optional<TSeedRule>& rule);

// Ctrl-C and SIGTERM ask the run to stop at the current step.
void InstallStopSignals();
void RequestStop();
bool StopRequested();
void ClearStopRequest();

// The grid as the window shows it: the cell layer with the agents on top.
QImage GridPicture(TForm1& form);
