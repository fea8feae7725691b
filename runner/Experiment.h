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
struct TBirth;

inline constexpr int32_t kDefaultVideoEvery = 10;

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
  bool keepCheckpoints = false;  // every checkpoint under its own step's name
  int32_t pictureScale = 1;      // magnification of every picture of the grid
  QString video;                 // the video's file name in the run's folder; empty: none
  int32_t videoEvery = kDefaultVideoEvery;  // a frame after every videoEvery-th step
  int32_t agentsEvery = 0;       // 0: no agent table; else a multiple of the sample interval
  bool births = false;           // the lineage: one row per birth
  // Repeating an interrupted run: it is interrupted again after this many steps.
  std::optional<int32_t> interruptedAfter;
  // A continued world: the checkpoint's file and its SHA-256. The seed rule
  // continues the checkpoint's unless `branchSeed`: then reseeds count from
  // the checkpoint on with `seed`.
  QString fromPath;
  QString fromSha256;
  bool branchSeed = false;
  // A picture of the grid after the last step (final.png).
  bool FinalPicture() const { return plot || snapshotEvery > 0; }
  // Pictures of the grid keep the cell layer drawn as the window draws it.
  bool Pictures() const { return FinalPicture() || !video.isEmpty(); }
  // Whether a picture is due after the world's `step`-th step.
  bool PictureDue(int32_t step) const {
    return (snapshotEvery > 0 && step % snapshotEvery == 0) || (!video.isEmpty() && step % videoEvery == 0);
  }
};

// A run ready to go: its TRunSpec and the world it continues, if any, already
// read. A copy is a whole plan of its own, so a plan kept can run again.
struct TRunPlan : TRunSpec {
  std::optional<TCheckpoint> from;
};

struct TRunObserver {
  std::function<void(const TSample&)> sample;
  std::function<void(int32_t step, const TGeneHistogram&)> histogram;
  // Every agent at the samples of every `agentsEvery`-th step.
  std::function<void(int32_t step, const TForm1& form)> agents;
  // Every birth, as it happens, when the plan asks for births.
  std::function<void(int32_t step, const TBirth& birth, const TForm1& form)> birth;
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

// Sets up the world of the TRunSpec in `form`, or continues `from`, under its
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
