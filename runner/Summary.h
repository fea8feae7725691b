// The summary of a sweep: one row per run folder, and one chart of every
// run's gene series grouped by the settings that vary between runs.
#pragma once

#include <QString>

#include <QStringList>
#include <vector>

#include "FileNames.h"
#include "Result.h"
#include "Settings.h"


// Writes DIR/summary.csv and DIR/summary.png from DIR/*/run.json and
// DIR/*/series.csv; `defaults` fill settings a record lacks. Refuses a DIR
// that is no folder or holds no run folders.
TStatus Summarize(const QString& dir, const TSettingValues& defaults);

// The group of each run in the summary's chart: the settings that differ
// between the runs, as "name=value ...", in the order of the settings.
QStringList SummaryGroups(const std::vector<TSettingValues>& runs);
