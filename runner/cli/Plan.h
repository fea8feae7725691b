// Resolving a parsed command line into a plan: the files it names (a run
// record, a checkpoint) are read and checked here, and nowhere else.
#pragma once

#include "Experiment.h"
#include "Options.h"
#include "Result.h"

// Where the run of a plan goes: what it writes needs a folder, the window a display.
enum class TPlanTarget {
  kFolder,          // a run folder (also every run of a job list)
  kStandardOutput,  // the series alone, on standard output
  kWindow,          // --show
};

// The plan of a run (or of --show, or the base of a job list): the
// window's `defaults`, then the record of --config, then the checkpoint of
// --from (or of the record, whose SHA-256 it must still have), then the
// options given. Refuses with one line what cannot be run, or not at
// `target`; a plan it returns needs no further check.
TResult<TRunPlan> ResolvePlan(const TRunOptions& options, const TSettingValues& defaults, TPlanTarget target);

// Refuses an `out` that is, or holds, the record (--config) or the
// checkpoint the plan reads: --force would remove it, and its run could
// never be repeated. Paths are compared once links are resolved.
TStatus CheckParentsOutside(const QString& out, const TRunOptions& options, const TRunPlan& plan);
