// The measures a study reads from each run, over the summary's window: the
// unrounded genes' means, and trips and births per 100 steps. One table:
// the names effects.csv and the tables print, and the words of the figures.
#pragma once

#include <array>
#include <cstddef>

struct TStudyMeasure {
  const char* name;   // as effects.csv and summary.csv name it
  const char* words;  // a figure's panel title or axis
};

inline constexpr std::array kStudyMeasureTable{
    TStudyMeasure{.name = "mean_angle", .words = "mean angle gene"},
    TStudyMeasure{.name = "mean_wiggle", .words = "mean wiggle gene"},
    TStudyMeasure{.name = "trip_rate", .words = "trips per 100 steps"},
    TStudyMeasure{.name = "birth_rate", .words = "births per 100 steps"},
};

inline constexpr size_t kStudyMeasureCount = kStudyMeasureTable.size();

// The measures' names alone, in the table's order.
inline constexpr std::array<const char*, kStudyMeasureCount> kStudyMeasures = [] {
  std::array<const char*, kStudyMeasureCount> names{};
  for (size_t m = 0; m < kStudyMeasureCount; ++m) names[m] = kStudyMeasureTable[m].name;
  return names;
}();
