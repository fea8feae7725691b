// Job lists for sweeps: one line of options per run, the product of the
// --vary values (or the points of --design) and the seeds, each line a
// complete run on its own. A designed line, and a line of two or more
// --vary, also holds its design point (--design-point, --design-factors,
// --design-command), which its run records.
#pragma once

#include <QStringList>
#include <optional>
#include <vector>

#include "Options.h"
#include "Result.h"

struct TJobList {
  QStringList lines;
  // One line per group of varied values that come to the same effective
  // settings, i.e. the same world: "evaporation-rate=0.15, ... are one condition".
  QStringList sameWorld;
  // One line per set of design points that snapping to the controls' values
  // made equal, or a count with examples when there are many.
  QStringList equalPoints;
};

// The job list of a --grid command; `defaults` are the window's settings.
// Refuses a --vary of a setting that the checkpoint of --from fixes.
TResult<TJobList> BuildJobList(const TCommand& command, const TSettingValues& defaults);

// A job of the list, as values: its settings, its seed (none: from the
// clock), its design point, and its line.
struct TJob {
  TSettingValues settings{};
  std::optional<uint32_t> seed;
  std::optional<TDesignPoint> design;
  QString line;
};
// The jobs of BuildJobList's lines, in their order.
TResult<std::vector<TJob>> BuildJobs(const TCommand& command, const TSettingValues& defaults);
