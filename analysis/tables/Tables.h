// The one writer of a sweep's tables: CSV cells and rows into files that
// appear whole or not at all, effects.csv, and the tables printed on
// standard output.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "AtomicFile.h"
#include "Exploration.h"
#include "GzipFile.h"
#include "Result.h"

// A cell as CSV holds it: one with a comma, a quote or a line end (a run
// folder may be named so) is quoted, its quotes doubled, so it reads back as
// one cell.
QString CsvCell(const QString& cell);

// A table written line by line (a sweep's samples need not fit in memory)
// into a file that appears whole or not at all (a TAtomicFile);
// gzip-compressed on request.
class TCsvFile {
 public:
  explicit TCsvFile(QString path, bool gzip = false) : path_(std::move(path)), gzip_(gzip) {}
  TCsvFile(const TCsvFile&) = delete;
  TCsvFile& operator=(const TCsvFile&) = delete;
  TStatus Open();
  // One row, each cell as CsvCell writes it.
  TStatus Add(const QStringList& cells);
  // Puts the file in place; a file that is not committed is not made.
  TStatus Commit();

 private:
  QString path_;
  bool gzip_ = false;
  std::optional<TAtomicFile> plain_;
  std::optional<TGzipFile> compressed_;
};

// effects.csv in long format, written whole or not at all.
TStatus WriteEffects(const QString& path, const std::vector<TEffect>& effects);

// convergence.csv: each index with its interval over the design's first
// rows (or trajectories, `rowsWord` the column's name), written whole or not at all.
TStatus WriteConvergence(const QString& path, const std::vector<TConvergence>& rows, const QString& rowsWord);

// The exploration's short table for standard output: per measure one row
// per term, the largest first, and one column per quantity ("!" marks an
// estimate a warning concerns), then the seeds' share and the warnings;
// empty without effects.
QString EffectsTable(const TExploration& exploration);
