// agents.csv.gz: every agent of the world at a statistics sample, one row
// each, so that genes can be followed within and between colonies.
#pragma once

#include <cstdint>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;

class TAgentTable {
 public:
  // The file at `path` with its header; fails when it cannot be made.
  static TResult<TAgentTable> Open(const QString& path);
  // One row per agent of `form` as it stands, `step` steps completed.
  TStatus Write(int32_t step, const TForm1& form);
  TStatus Close() { return file_.Close(); }

 private:
  explicit TAgentTable(TGzipFile file) : file_(std::move(file)) {}
  // Hands the rows built so far to the file.
  TStatus WriteRows();

  TGzipFile file_;
  TCsvRows rows_;
};
