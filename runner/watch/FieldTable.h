// field.csv.gz: every cell of the grid at a statistics sample, one row each,
// so that the chemical field can be followed over a run.
#pragma once

#include <cstdint>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;

class TFieldTable {
 public:
  // The file at `path` with its header; fails when it cannot be made.
  static TResult<TFieldTable> Open(const QString& path);
  // One row per cell of `form` as it stands, `step` steps completed, in the
  // grid's memory order: row after row, each row's cells by column.
  TStatus Write(int32_t step, const TForm1& form);
  TStatus Close() { return file_.Close(); }

 private:
  explicit TFieldTable(TGzipFile file) : file_(std::move(file)) {}
  // Hands the rows built so far to the file.
  TStatus WriteRows();

  TGzipFile file_;
  TCsvRows rows_;
};
