// Resolving a parsed command line into a plan: the files it names (a run
// record, a checkpoint) are read and checked here, and nowhere else.
#pragma once

#include "Experiment.h"
#include "Options.h"
#include "Result.h"

// The plan of a run (or of --show, or the base of a job list): the
// window's `defaults`, then the record of --config, then the checkpoint of
// --from (or of the record, whose SHA-256 it must still have), then the
// options given. Refuses with one line what cannot be run.
TResult<TRunPlan> ResolvePlan(const TRunOptions& options, const TSettingValues& defaults);

// Takes the watching options into `plan` and refuses what cannot be watched:
// a video without ffmpeg or of an unknown kind, options that would be ignored.
TStatus ResolveWatch(const TRunOptions& options, TRunPlan& plan);
