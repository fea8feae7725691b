// The one writer of a sweep's tables: CSV cells and rows into files that
// appear whole or not at all, effects.csv, and the tables printed on
// standard output.
#pragma once

#include <QSaveFile>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "Exploration.h"
#include "GzipFile.h"
#include "Result.h"

// A cell as CSV holds it: one with a comma, a quote or a line end (a run
// folder may be named so) is quoted, its quotes doubled, so it reads back as
// one cell.
QString CsvCell(const QString& cell);

// A table written line by line (a sweep's samples need not fit in memory)
// into a file that appears whole or not at all; gzip-compressed on request,
// then written beside its place and renamed into it when whole.
class TCsvFile {
 public:
  explicit TCsvFile(const QString& path, bool gzip = false) : file_(path), gzip_(gzip) {}
  TCsvFile(const TCsvFile&) = delete;
  TCsvFile& operator=(const TCsvFile&) = delete;
  ~TCsvFile();
  TStatus Open();
  // One row, each cell as CsvCell writes it.
  TStatus Add(const QStringList& cells);
  // Puts the file in place; a file that is not committed is not made. The
  // buffered tail is written first and checked: a commit alone would put a
  // file cut short by a full disk in place as if it were whole.
  TStatus Commit();

 private:
  QString PartPath() const { return file_.fileName() + QStringLiteral(".part"); }
  TError CannotWrite() const;

  QSaveFile file_;  // the plain table, or the compressed one's name
  bool gzip_ = false;
  bool committed_ = false;
  std::optional<TGzipFile> compressed_;
};

// effects.csv in long format, written whole or not at all.
TStatus WriteEffects(const QString& path, const std::vector<TEffect>& effects);

// The exploration's short table for standard output: per measure one row
// per term, the largest first, and one column per quantity; empty without
// effects.
QString EffectsTable(const TExploration& exploration);
