// What a run records at each statistics sample: the chart's two rounded
// averages and what a researcher needs beside them; and how series.csv and
// genes_hist.csv store them.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "ModelShape.h"
#include "SeriesColumns.h"

inline constexpr int32_t kGeneValues = TModelShape::kGeneValues;

struct TSample {
  int32_t step = 0;      // steps completed when the sample was taken
  int32_t avgAngle = 0;  // as the chart shows them: rounded means
  int32_t avgWiggle = 0;
  double meanAngle = 0;
  double sdAngle = 0;  // population standard deviation
  double meanWiggle = 0;
  double sdWiggle = 0;
  int64_t trips = 0;  // trips completed since the previous sample
  int64_t tripsTotal = 0;
  int64_t births = 0;  // children born since the previous sample
  int64_t birthsTotal = 0;
  int64_t headingHome = 0;
  int64_t visibleCells = 0;                                  // cells with chemical at or above the visibility threshold
  std::array<double, TModelShape::kColonies> colonyAngle{};  // mean per colony
  std::array<double, TModelShape::kColonies> colonyWiggle{};
  std::array<double, TModelShape::kColonies> colonyAngleSd{};  // population standard deviation per colony
  std::array<double, TModelShape::kColonies> colonyWiggleSd{};
  std::array<int32_t, TModelShape::kColonies> colonySize{};
  double meanChemical = 0;  // over all cells
  // Share of cells at or below the evaporation floor; none under diffusion,
  // where evaporation does not run.
  std::optional<double> floorShare;
};

// Counts of agents at each value of each gene: [0] angle, [1] wiggle.
using TGeneHistogram = std::array<std::array<int64_t, kGeneValues>, 2>;

// series.csv: the header line and one row, each ending in a newline, with the
// columns of the first `specs` column specs of kSeriesColumns.
QString SeriesHeader(int32_t specs = kAllSeriesColumns);
QString SeriesRow(const TSample& sample, int32_t specs = kAllSeriesColumns);
// genes_hist.csv: step, gene, then the count at each value 0..255.
QString HistogramHeader();
QString HistogramRows(int32_t step, const TGeneHistogram& histogram);
