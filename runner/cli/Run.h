// A run from its plan to its files: the series on standard output, or a
// run folder that appears complete, with its record, or not at all.
#pragma once

#include <QString>
#include <functional>

#include "Experiment.h"
#include "Result.h"

class TForm1;
class TRunFolder;
struct TRunRecord;

// Draws the figures of a run into its folder from its record (--plot);
// pathwick_run gives the analysis library's.
using TFigureWriter = std::function<TStatus(const QString& dir, const TRunRecord& record)>;

// Takes a run's folder once every file and its record are written, to put
// it in place (TRunFolder::Commit) now or later; its status is the run's.
using TFolderTaker = std::function<TStatus(TRunFolder&& folder)>;

struct TRunTarget {
  QString out;  // the run folder; empty: the series goes to standard output
  bool force = false;
  bool quiet = false;
  TFigureWriter figures;
  TFolderTaker takeFolder;  // empty: the run puts its folder in place itself
};

// Runs `plan` in `form` and writes what it asks for. A plan given no seed
// takes one from the clock. On failure nothing is left behind.
TStatus RunPlan(TForm1& form, TRunPlan plan, const TRunTarget& target);

// Opens the plan's world in the window and runs it until the window closes
// (or, when the plan came with a number of steps, stops it there).
TStatus ShowPlan(TForm1& form, TRunPlan plan, bool stopAtSteps);
