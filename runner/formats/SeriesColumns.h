// The columns of series.csv, each named once with its meaning, in the order
// they are written. The sample writer, the summary, the figures and the
// column reference (docs/columns.md) all follow this table; readers find a
// column by its name, so a column is only ever added at the end.
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <cstdint>

#include "ModelShape.h"

// The colonies of a world: a per-colony column is written once for each, c0 to c9.
inline constexpr int32_t kSeriesColonies = TModelShape::kColonies;

enum class TSeriesColumn : uint8_t {
  kStep,
  kAvgAngle,
  kAvgWiggle,
  kMeanAngle,
  kSdAngle,
  kMeanWiggle,
  kSdWiggle,
  kTrips,
  kTripsTotal,
  kBirths,
  kBirthsTotal,
  kHeadingHome,
  kVisibleCells,
  kColonyAngle,
  kColonyWiggle,
  kColonyAngleSd,
  kColonyWiggleSd,
  kMeanChemical,
  kFloorShare,
};

struct TSeriesColumnSpec {
  TSeriesColumn column;
  const char* name;  // a per-colony column's stem: "angle_c" names angle_c0 ... angle_c9
  bool perColony;
  bool required;  // every series ever written has it; a reader refuses a file without it
  const char* meaning;
};

// clang-format off
inline constexpr std::array kSeriesColumns{
  TSeriesColumnSpec{TSeriesColumn::kStep, "step", false, true, "steps completed when the sample was taken"},
  TSeriesColumnSpec{TSeriesColumn::kAvgAngle, "avg_angle", false, true,
                    "the chart's mean angle gene, rounded (ties to even)"},
  TSeriesColumnSpec{TSeriesColumn::kAvgWiggle, "avg_wiggle", false, true,
                    "the chart's mean wiggle gene, rounded"},
  TSeriesColumnSpec{TSeriesColumn::kMeanAngle, "mean_angle", false, false, "mean angle gene, unrounded"},
  TSeriesColumnSpec{TSeriesColumn::kSdAngle, "sd_angle", false, false,
                    "population standard deviation of the angle gene"},
  TSeriesColumnSpec{TSeriesColumn::kMeanWiggle, "mean_wiggle", false, false, "mean wiggle gene, unrounded"},
  TSeriesColumnSpec{TSeriesColumn::kSdWiggle, "sd_wiggle", false, false,
                    "population standard deviation of the wiggle gene"},
  TSeriesColumnSpec{TSeriesColumn::kTrips, "trips", false, false,
                    "trips completed since the previous sample"},
  TSeriesColumnSpec{TSeriesColumn::kTripsTotal, "trips_total", false, false, "trips completed since setup"},
  TSeriesColumnSpec{TSeriesColumn::kBirths, "births", false, false,
                    "children born since the previous sample"},
  TSeriesColumnSpec{TSeriesColumn::kBirthsTotal, "births_total", false, false, "children born since setup"},
  TSeriesColumnSpec{TSeriesColumn::kHeadingHome, "heading_home", false, false, "agents on their way home"},
  TSeriesColumnSpec{TSeriesColumn::kVisibleCells, "visible_cells", false, false,
                    "cells at or above the visibility threshold"},
  TSeriesColumnSpec{TSeriesColumn::kColonyAngle, "angle_c", true, false,
                    "mean angle gene within the colony; empty without agents"},
  TSeriesColumnSpec{TSeriesColumn::kColonyWiggle, "wiggle_c", true, false,
                    "mean wiggle gene within the colony; empty likewise"},
  // Added after the columns above, so readers of older series keep working.
  TSeriesColumnSpec{TSeriesColumn::kColonyAngleSd, "sd_angle_c", true, false,
                    "population sd of the angle gene within the colony; empty likewise"},
  TSeriesColumnSpec{TSeriesColumn::kColonyWiggleSd, "sd_wiggle_c", true, false,
                    "population sd of the wiggle gene within the colony; empty likewise"},
  // The field, added after the columns above.
  TSeriesColumnSpec{TSeriesColumn::kMeanChemical, "mean_chemical", false, false, "mean chemical over all cells"},
  TSeriesColumnSpec{TSeriesColumn::kFloorShare, "floor_share", false, false,
                    "share of cells at or below the evaporation floor; empty under diffusion"},
};
// clang-format on

// The table is indexed by its column: each row stands at its enumerator's place.
constexpr bool SeriesColumnsInOrder() {
  for (size_t i = 0; i < kSeriesColumns.size(); ++i) {
    if (static_cast<size_t>(kSeriesColumns[i].column) != i) return false;
  }
  return true;
}
static_assert(SeriesColumnsInOrder(), "kSeriesColumns lists every TSeriesColumn once, in its order");
static_assert(static_cast<size_t>(TSeriesColumn::kFloorShare) + 1 == kSeriesColumns.size());

// The column specs a series holds: a run writes all of them, and records
// how many (run.json's series_columns), so that a repeat of it writes the
// same columns. A record without that count was written with the columns
// before the field's.
inline constexpr int32_t kAllSeriesColumns = static_cast<int32_t>(kSeriesColumns.size());
inline constexpr int32_t kSeriesColumnsBeforeField = static_cast<int32_t>(TSeriesColumn::kMeanChemical);

constexpr const TSeriesColumnSpec& SeriesColumnSpec(TSeriesColumn column) {
  return kSeriesColumns[static_cast<size_t>(column)];
}

// A column's name in the header; a per-colony column's for `colony`.
inline QString SeriesColumnName(TSeriesColumn column, int32_t colony = 0) {
  const TSeriesColumnSpec& spec = SeriesColumnSpec(column);
  return spec.perColony ? QLatin1String(spec.name) + QString::number(colony) : QLatin1String(spec.name);
}

// Calls visit(column, colony) for every column of a series.csv row of the
// first `specs` column specs, in order (colony 0 for a column that is not
// per colony).
template <typename TVisit>
void ForEachSeriesCell(TVisit&& visit, int32_t specs = kAllSeriesColumns) {
  for (int32_t i = 0; i < specs && i < kAllSeriesColumns; ++i) {
    const TSeriesColumnSpec& spec = kSeriesColumns[static_cast<size_t>(i)];
    for (int32_t c = 0; c < (spec.perColony ? kSeriesColonies : 1); ++c) visit(spec.column, c);
  }
}

// Every column's name of the first `specs` column specs, in the order
// series.csv holds them.
inline QStringList SeriesColumnNames(int32_t specs = kAllSeriesColumns) {
  QStringList names;
  ForEachSeriesCell([&](TSeriesColumn column, int32_t colony) { names << SeriesColumnName(column, colony); }, specs);
  return names;
}
