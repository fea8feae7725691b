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

#include "Checkpoint.h"
#include "Sample.h"
#include "Result.h"
#include "SeedRule.h"
#include "Settings.h"

class TForm1;

// What a run is asked to do, in plain values: what run.json records.
struct TRunSpec {
  TSettingValues settings{};
  uint32_t seed = 0;
  bool seedFromClock = false;
  int32_t steps = 0;
  bool histograms = false;
  bool plot = false;
  int32_t snapshotEvery = 0;    // 0: no snapshots
  int32_t checkpointEvery = 0;  // 0: no checkpoints
  // Repeating an interrupted run: it is interrupted again after this many steps.
  std::optional<int32_t> interruptedAfter;
  // A continued world: the checkpoint's file and its SHA-256. The seed rule
  // continues the checkpoint's unless `branchSeed`: then reseeds count from
  // the checkpoint on with `seed`.
  QString fromPath;
  QString fromSha256;
  bool branchSeed = false;
  // Pictures of the grid keep the cell layer drawn as the window draws it.
  bool Pictures() const { return plot || snapshotEvery > 0; }
};

// A run ready to go: its spec and the world it continues, if any, already
// read. A copy is a whole plan of its own, so a plan kept can run again.
struct TRunPlan : TRunSpec {
  std::optional<TCheckpoint> from;
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
  int32_t endStep = 0;    // the world's step count when it ended
  bool interrupted = false;

};

// Sets up `form`'s world with the plan's settings and seed and runs it. The
// seed rule stays in force only for the run. Stops early, between steps,
// once StopRequested() holds.
TResult<TRunOutcome> RunExperiment(TForm1& form, TRunPlan plan, const TRunObserver& observer);

// Sets up the spec's world in `form`, or continues `from`, under the spec's
// seed rule, which `rule` then keeps in force.
TStatus PrepareWorld(TForm1& form, const TRunSpec& spec, std::optional<TCheckpoint> from,
                     std::optional<TSeedRule>& rule);

// Ctrl-C and SIGTERM ask the run to stop at the current step.
void InstallStopSignals();
void RequestStop();
bool StopRequested();
void ClearStopRequest();

// The grid as the window shows it: the cell layer with the agents on top.
QImage GridPicture(TForm1& form);
