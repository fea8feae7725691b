// births.csv.gz: one row per birth, where it happens, so that descent can be
// traced from any agent back to the founders.
#pragma once

#include <cstdint>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;
struct TBirth;

class TLineage {
 public:
  // The file at `path` with its header; fails when it cannot be made.
  static TResult<TLineage> Open(const QString& path);
  // The birth just completed in `form`, `step` steps completed.
  TStatus Write(int32_t step, const TBirth& birth, const TForm1& form);
  TStatus Close();

 private:
  explicit TLineage(TGzipFile file) : file_(std::move(file)) {}
  // Hands the rows built so far to the file.
  TStatus WriteRows();

  TGzipFile file_;
  TCsvRows rows_;
};
