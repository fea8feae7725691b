// Job lists for sweeps: one line of options per run, the product of the
// --vary values and the seeds, each line a complete run on its own.
#pragma once

#include <QStringList>

#include "Options.h"
#include "Result.h"

struct TJobList {
  QStringList lines;
  // One line per group of varied values that come to the same effective
  // settings, i.e. the same world: "evaporation-rate=0.15, ... are one condition".
  QStringList sameWorld;
};

// The job list of a --grid command; `defaults` are the window's settings.
// Refuses a --vary of a setting that the checkpoint of --from fixes.
TResult<TJobList> BuildJobList(const TCommand& command, const TSettingValues& defaults);
