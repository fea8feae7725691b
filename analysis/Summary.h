// The summary of a sweep: tables of every run, every sample and every group
// of runs, the comparison of the groups when one setting varies, and the
// summary figure.
#pragma once

#include <QString>

#include "Settings.h"

inline constexpr const char* kSummaryCsvName = "summary.csv";
inline constexpr const char* kSamplesCsvName = "samples.csv";
inline constexpr const char* kGroupsCsvName = "groups.csv";
inline constexpr const char* kComparisonCsvName = "comparison.csv";
inline constexpr const char* kSummaryPngName = "summary.png";
inline constexpr const char* kSummarySvgName = "summary.svg";

// Writes DIR/summary.csv, samples.csv, groups.csv, summary.png and
// summary.svg from the run folders in DIR (`defaults` fill settings a record
// lacks), and comparison.csv when exactly one setting varies. A run's final
// value is its last sample's, and with `window` > 0 also the mean of its
// last `window` samples. `report` receives the comparison as text (empty
// when none is made). Returns an error text or empty.
QString Summarize(const QString& dir, const TSettingValues& defaults, int32_t window, QString* report);
