// The summary of a sweep: tables of every run, every sample and every group
// of runs, the comparison of the groups when one setting varies, and the
// summary figure.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "FileNames.h"
#include "Result.h"
#include "Settings.h"

// What a summary has to say besides its files.
struct TSummaryReport {
  QString comparison;  // for standard output; empty when none is made
  QString note;        // one line for standard error, or empty: why no comparison is made
};

// Writes DIR/summary.csv, samples.csv, groups.csv, summary.png and
// summary.svg from the run folders in DIR (`defaults` fill settings a record
// lacks), and comparison.csv when exactly one setting varies. A run's final
// value is its last sample's, and with `window` > 0 also the mean of its
// last `window` samples. Gives the comparison as text to print, or when
// several settings vary a note that says none is made; refuses a DIR without
// run folders.
TResult<TSummaryReport> Summarize(const QString& dir, const TSettingValues& defaults, int32_t window);

// The group of each run: the settings that differ between the runs, as
// "name=value ...", in the order of the settings; empty when none differs.
QStringList SummaryGroups(const std::vector<TSettingValues>& runs);
