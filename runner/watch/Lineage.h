// births.csv.gz: one row per birth, where it happens, so that descent can be
// traced from any agent back to the founders.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "FileNames.h"
#include "GzipFile.h"

class TForm1;
struct TBirth;

// births.csv.gz's columns: these numbers of a birth, then the child's "chroma".
inline constexpr std::array<std::string_view, 9> kBirthNumberColumns{
    "step", "agent", "colony", "parent_first", "parent_second", "cut", "mutated_position", "angle_gene", "wiggle_gene"};
// The column left empty where no chroma position flipped.
inline constexpr size_t kMutatedColumn = 6;
static_assert(kBirthNumberColumns[kMutatedColumn] == "mutated_position");
using TBirthNumbers = std::array<int32_t, kBirthNumberColumns.size()>;
// The numbers of the birth just completed in `form`, `step` steps
// completed; the mutated position is TForm1::kNoMutation where none flipped.
TBirthNumbers BirthNumbers(int32_t step, const TBirth& birth, const TForm1& form);

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
