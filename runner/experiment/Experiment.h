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
#include "Result.h"
#include "RunSetup.h"
#include "Sample.h"
#include "SeedRule.h"
#include "Settings.h"

class TForm1;
struct TBirth;

// A run ready to go: its TRunSpec and the world it continues, if any, already
// read. A copy is a whole plan of its own, so a plan kept can run again.
struct TRunPlan : TRunSpec {
  std::optional<TCheckpoint> from;
};

// What a run hands out as it goes. A call that returns a TStatus may fail:
// the run then ends with that error after the step it failed in.
struct TRunObserver {
  std::function<TStatus(const TSample&)> sample;
  std::function<TStatus(int32_t step, const TGeneHistogram&)> histogram;
  // Every agent at the samples of every `agentsEvery`-th step.
  std::function<void(int32_t step, const TForm1& form)> agents;
  // Every cell at the samples of every `fieldEvery`-th step.
  std::function<void(int32_t step, const TForm1& form)> field;
  // Every birth, as it happens, when the plan asks for births.
  std::function<void(int32_t step, const TBirth& birth, const TForm1& form)> birth;
  // A picture of the grid after `step` steps; `last` marks the run's final one.
  std::function<TStatus(int32_t step, const QImage& grid, bool last)> picture;
  std::function<void(int32_t stepsDone)> progress;  // after every step
  // Due every `checkpointEvery` steps, after the last step and when the run
  // is interrupted: the world and what it does not hold itself.
  std::function<TStatus(const TForm1& form, const TCheckpointRule& rule)> checkpoint;
};

struct TRunOutcome {
  int32_t firstStep = 0;  // the world's step count when the run began
  int32_t endStep = 0;    // the world's step count when it ended
  bool interrupted = false;
};

// Collects what the world reports while it lives, instead of message boxes.
class TMessageCatcher {
 public:
  TMessageCatcher();
  ~TMessageCatcher();
  TMessageCatcher(const TMessageCatcher&) = delete;
  TMessageCatcher& operator=(const TMessageCatcher&) = delete;
  const QString& First() const { return first_; }

 private:
  QString first_;
};

// A run under way: the world, what observes it and the sample before. The
// world's hooks are the run's until it ends, whichever way. RunExperiment
// drives one through a plan; a caller that steps a world at its own pace
// (the Python module) drives one step by step. `plan` and `observer` must
// outlive it.
class TRunUnderWay {
 public:
  TRunUnderWay(TForm1& form, const TRunPlan& plan, const TRunObserver& observer);
  ~TRunUnderWay();
  TRunUnderWay(const TRunUnderWay&) = delete;
  TRunUnderWay& operator=(const TRunUnderWay&) = delete;

  // 1. The world: set up under the seed rule, or continued from `from`.
  TStatus Prepare(std::optional<TCheckpoint> from);
  // 2. One step, with its picture and checkpoint when they are due; `last`
  // is the run's last step.
  TStatus Step(int32_t last);
  // 3. An interrupted run ends with the picture and checkpoint of its last step.
  TStatus EndInterrupted();
  // What a checkpoint of the world as it stands holds beside the world:
  // the seed rule in force and the totals at the last sample.
  TCheckpointRule Rule() const;

 private:
  void Hook();
  // The sample the world takes inside a step, handed to the observer.
  TStatus Sampled(int32_t avgAngle, int32_t avgWiggle);
  TStatus Checkpoint();
  // What went wrong inside the last step: the world's first report, or the
  // first failure of an observer it called.
  TStatus Fault() const;

  TForm1& form_;
  const TRunPlan& plan_;
  const TRunObserver& observer_;
  TMessageCatcher messages_;
  std::optional<TSeedRule> rule_;
  TSample previous_;
  TStatus sampled_ = Success();
};

// Sets up `form`'s world with the plan's settings and seed and runs it. The
// seed rule stays in force only for the run. Stops early, between steps,
// once StopRequested() holds; fails at the first step the world reports a
// fault in or an observer fails in.
TResult<TRunOutcome> RunExperiment(TForm1& form, TRunPlan plan, const TRunObserver& observer);

// A window for a run, as every program that runs one makes it: its timer
// stopped (the run drives it), and without the first world the run would
// replace at once with its own.
std::unique_ptr<TForm1> NewRunWindow();

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
// The panel paints itself into the picture, which restarts its frame clock,
// so the window is not left as it was.
QImage GridPicture(TForm1& form);
