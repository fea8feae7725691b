// Run folders read back: the record, the series and the gene histograms of
// a run, the runs of a sweep, and the run a branch continues.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "FileNames.h"
#include "Result.h"
#include "RunRecord.h"
#include "Series.h"
#include "SeriesColumns.h"

// series.csv as written: the header and every row's cells as text.
struct TSeries {
  QStringList header;
  std::vector<QStringList> rows;

  // The column's index, or -1.
  qsizetype Column(const QString& name) const { return header.indexOf(name); }
  qsizetype Column(TSeriesColumn column, int32_t colony = 0) const { return Column(SeriesColumnName(column, colony)); }
  // A cell as a number; nothing for an empty cell or a missing column.
  std::optional<double> Number(size_t row, qsizetype column) const;
};

// A series.csv; refuses a file without a column every series has (the step
// and the chart's genes).
TResult<TSeries> ReadSeries(const QString& path);

struct TRunData {
  QString folder;  // the folder's name
  QString path;    // the folder's absolute path
  TRunRecord record;
  TSeries series;
};

// Reads DIR/run.json and DIR/series.csv; `defaults` fill settings a record
// lacks. Refuses files that are not a run's.
TResult<TRunData> ReadRunFolder(const QString& dir, const TSettingValues& defaults);
// Every folder of `dir` that holds a run.json, in name order; refuses a
// `dir` that holds none.
TResult<std::vector<TRunData>> ReadSweep(const QString& dir, const TSettingValues& defaults);

// A run folder of a sweep before its series is read: the record and the
// series' header line, so that a sweep's runs can be read one at a time.
struct TRunFolder {
  QString folder;  // the folder's name
  QString path;    // the folder's absolute path
  TRunRecord record;
  QStringList header;
};
// ReadSweep's folders, each with its record and its series' header only.
TResult<std::vector<TRunFolder>> ListSweep(const QString& dir, const TSettingValues& defaults);
// The run whose checkpoint `record` continued, when the checkpoint's folder
// still holds that run and the very checkpoint (same SHA-256) it started from.
std::optional<TRunData> FindParent(const TRunRecord& record, const TSettingValues& defaults);

struct THistogramSample {
  int32_t step = 0;
  TGeneHistogram counts{};
};
// genes_hist.csv: every sample's two rows.
TResult<std::vector<THistogramSample>> ReadHistograms(const QString& path);
