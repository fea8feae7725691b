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
  explicit TLineage(const QString& path);
  // The birth just completed in `form`, `step` steps completed.
  void Write(int32_t step, const TBirth& birth, const TForm1& form);
  QString Close();

 private:
  TGzipFile file_;
  TCsvRows rows_;
};
