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
  bool perColony = false;
  bool required = false;  // every series ever written has it; a reader refuses a file without it
  const char* meaning;
};

inline constexpr std::array kSeriesColumns{
    TSeriesColumnSpec{.column = TSeriesColumn::kStep,
                      .name = "step",
                      .required = true,
                      .meaning = "steps completed when the sample was taken"},
    TSeriesColumnSpec{.column = TSeriesColumn::kAvgAngle,
                      .name = "avg_angle",
                      .required = true,
                      .meaning = "the chart's mean angle gene, rounded (ties to even)"},
    TSeriesColumnSpec{.column = TSeriesColumn::kAvgWiggle,
                      .name = "avg_wiggle",
                      .required = true,
                      .meaning = "the chart's mean wiggle gene, rounded"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kMeanAngle, .name = "mean_angle", .meaning = "mean angle gene, unrounded"},
    TSeriesColumnSpec{.column = TSeriesColumn::kSdAngle,
                      .name = "sd_angle",
                      .meaning = "population standard deviation of the angle gene"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kMeanWiggle, .name = "mean_wiggle", .meaning = "mean wiggle gene, unrounded"},
    TSeriesColumnSpec{.column = TSeriesColumn::kSdWiggle,
                      .name = "sd_wiggle",
                      .meaning = "population standard deviation of the wiggle gene"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kTrips, .name = "trips", .meaning = "trips completed since the previous sample"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kTripsTotal, .name = "trips_total", .meaning = "trips completed since setup"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kBirths, .name = "births", .meaning = "children born since the previous sample"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kBirthsTotal, .name = "births_total", .meaning = "children born since setup"},
    TSeriesColumnSpec{
        .column = TSeriesColumn::kHeadingHome, .name = "heading_home", .meaning = "agents on their way home"},
    TSeriesColumnSpec{.column = TSeriesColumn::kVisibleCells,
                      .name = "visible_cells",
                      .meaning = "cells at or above the visibility threshold"},
    TSeriesColumnSpec{.column = TSeriesColumn::kColonyAngle,
                      .name = "angle_c",
                      .perColony = true,
                      .meaning = "mean angle gene within the colony; empty without agents"},
    TSeriesColumnSpec{.column = TSeriesColumn::kColonyWiggle,
                      .name = "wiggle_c",
                      .perColony = true,
                      .meaning = "mean wiggle gene within the colony; empty likewise"},
    // Added after the columns above, so readers of older series keep working.
    TSeriesColumnSpec{.column = TSeriesColumn::kColonyAngleSd,
                      .name = "sd_angle_c",
                      .perColony = true,
                      .meaning = "population sd of the angle gene within the colony; empty likewise"},
    TSeriesColumnSpec{.column = TSeriesColumn::kColonyWiggleSd,
                      .name = "sd_wiggle_c",
                      .perColony = true,
                      .meaning = "population sd of the wiggle gene within the colony; empty likewise"},
    // The field, added after the columns above.
    TSeriesColumnSpec{
        .column = TSeriesColumn::kMeanChemical, .name = "mean_chemical", .meaning = "mean chemical over all cells"},
    TSeriesColumnSpec{.column = TSeriesColumn::kFloorShare,
                      .name = "floor_share",
                      .meaning = "share of cells at or below the evaporation floor; empty under diffusion"},
};

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
