// agents.csv.gz: every agent of the world at a statistics sample, one row
// each, so that genes can be followed within and between colonies.
#pragma once

#include <cstdint>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;


class TAgentTable {
 public:
  explicit TAgentTable(const QString& path);
  // One row per agent of `form` as it stands, `step` steps completed.
  void Write(int32_t step, const TForm1& form);
  QString Close() { return file_.Close(); }

 private:
  TGzipFile file_;
  TCsvRows rows_;
};
