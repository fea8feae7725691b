// --verify DIR: a run folder proves its data by being repeated.
#pragma once

#include <QString>

#include "Result.h"
#include "Run.h"
#include "Settings.h"

// Checks DIR's files against its record, repeats the recorded run in a
// temporary folder and compares every file the record lists. Succeeds when
// all are identical; fails (status 1) naming the first file that differs;
// refuses (status 2) a DIR that holds no run or whose run cannot be repeated.
// `figures` draws the repeated run's figures.
TStatus VerifyRun(TForm1& form, const QString& dir, const TSettingValues& defaults, bool quiet,
                  const TFigureWriter& figures);
