// agents.csv.gz: every agent of the world at a statistics sample, one row
// each, so that genes can be followed within and between colonies.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;
struct TAgent;

// agents.csv.gz's columns: "step", these numbers of an agent, then "chroma".
inline constexpr std::array<std::string_view, 10> kAgentNumberColumns{
    "agent", "colony", "cell_x", "cell_y", "heading", "searching", "energy", "trips", "angle_gene", "wiggle_gene"};
using TAgentNumbers = std::array<int32_t, kAgentNumberColumns.size()>;
// The numbers of agent `index` in the order of kAgentNumberColumns; the
// heading within 0..359, searching 1 or 0.
TAgentNumbers AgentNumbers(int32_t index, const TAgent& agent);

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
