// Run folders read back: the record, the series and the gene histograms of
// a run, the runs of a sweep, and the run a branch continues.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "RunRecord.h"
#include "Sample.h"

inline constexpr const char* kSeriesName = "series.csv";
inline constexpr const char* kHistogramsName = "genes_hist.csv";

// series.csv as written: the header and every row's cells as text.
struct TSeries {
  QStringList header;
  std::vector<QStringList> rows;

  // The column's index, or -1.
  qsizetype Column(const QString& name) const { return header.indexOf(name); }
  // A cell as a number; nothing for an empty cell or a missing column.
  std::optional<double> Number(size_t row, qsizetype column) const;
};

struct TRunData {
  QString folder;  // the folder's name
  QString path;    // the folder's absolute path
  TRunRecord record;
  TSeries series;
};

// Reads DIR/run.json and DIR/series.csv; `defaults` fill settings a record
// lacks. Returns an error text or empty.
QString ReadRunFolder(const QString& dir, const TSettingValues& defaults, TRunData& run);
// Every folder of `dir` that holds a run.json, in name order.
QString ReadSweep(const QString& dir, const TSettingValues& defaults, std::vector<TRunData>& runs);
// The run whose checkpoint `record` continued, when the checkpoint's folder
// still holds that run and the very checkpoint (same SHA-256) it started from.
std::optional<TRunData> FindParent(const TRunRecord& record, const TSettingValues& defaults);

struct THistogramSample {
  int32_t step = 0;
  TGeneHistogram counts{};
};
// genes_hist.csv: every sample's two rows. Returns an error text or empty.
QString ReadHistograms(const QString& path, std::vector<THistogramSample>& samples);
