// A run from its plan to its files: the series on standard output, or a
// run folder that appears complete, with its record, or not at all.
#pragma once

#include <QString>
#include <functional>

#include "Experiment.h"
#include "Result.h"

class TForm1;
struct TRunRecord;

// Draws the figures of a run into its folder from its record (--plot);
// pathwick_run gives the analysis library's.
using TFigureWriter = std::function<TStatus(const QString& dir, const TRunRecord& record)>;

struct TRunTarget {
  QString out;  // the run folder; empty: the series goes to standard output
  bool force = false;
  bool quiet = false;
  TFigureWriter figures;
};

// Runs `plan` in `form` and writes what it asks for. A plan given no seed
// takes one from the clock. On failure nothing is left behind.
TStatus RunPlan(TForm1& form, TRunPlan plan, const TRunTarget& target);

// Opens the plan's world in the window and runs it until the window closes
// (or, when the plan came with a number of steps, stops it there).
TStatus ShowPlan(TForm1& form, TRunPlan plan, bool stopAtSteps);
