// --verify DIR: a run folder proves its data by being repeated; a folder of
// run folders (a sweep's) by every run's files and a sample of repeats.
#pragma once

#include <QString>
#include <QStringList>

#include "Options.h"
#include "Result.h"
#include "Run.h"
#include "Settings.h"

// Checks DIR's files against its record and, unless `repeat` is false,
// repeats the recorded run in a temporary folder and compares every file the
// record lists. Succeeds when all are identical; fails (status 1) naming the
// first file that differs; refuses (status 2) a DIR that holds no run or
// whose run cannot be repeated. `figures` draws the repeated run's figures.
TStatus VerifyRun(TForm1& form, const QString& dir, const TSettingValues& defaults, bool quiet,
                  const TFigureWriter& figures, bool repeat = true);

// The run folders of DIR, by name: its visible subfolders, when at least one
// holds a run.json (one that lacks it has lost its record). Empty when none
// does, or DIR is no folder or itself a run: DIR holds no sweep.
QStringList SweepRuns(const QString& dir);

// The `count` runs of `runs` to repeat (kRepeatAll: every one), in the order
// of `runs`. The choice depends on the names alone, so the same folder gives
// the same sample, and a run keeps its chance as others are added.
QStringList ChooseRepeated(const QStringList& runs, int32_t count);

// Verifies a folder of runs: every visible subfolder's files against its
// record (size and SHA-256), then `repeat` of them (ChooseRepeated) each
// repeated by `program --verify RUN` in a process of its own, as many at
// once as there are cores. Prints one line of counts, a few of the runs that
// are not intact and where the list of every run's outcome was written
// (DIR/.sweep/verify.txt). Fails (status 1) naming the first run and file
// that differ; refuses (status 2) a DIR that holds no run folder.
TStatus VerifySweep(const QString& dir, const TSettingValues& defaults, int32_t repeat, const QString& program);
