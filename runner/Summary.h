// The summary of a sweep: one row per run folder, and one chart of every
// run's gene series grouped by the settings that vary between runs.
#pragma once

#include <QString>

#include "Settings.h"

inline constexpr const char* kSummaryCsvName = "summary.csv";
inline constexpr const char* kSummaryPngName = "summary.png";

// Writes DIR/summary.csv and DIR/summary.png from DIR/*/run.json and
// DIR/*/series.csv; `defaults` fill settings a record lacks. Returns an
// error text or empty.
QString Summarize(const QString& dir, const TSettingValues& defaults);
