// The pictures of a run: the gene chart of the whole run, pictures of the
// grid, and the summary chart of a sweep.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <vector>

#include "Result.h"

struct TChartPoint {
  int32_t step;
  int32_t avgAngle;
  int32_t avgWiggle;
};

// genes.png and genes.svg: every sample of the run in the window's chart.
TStatus WriteGeneChart(const QString& pngPath, const QString& svgPath, const std::vector<TChartPoint>& points);

inline constexpr int32_t kMinPictureScale = 1;
inline constexpr int32_t kMaxPictureScale = 8;

// A picture of the grid as a run writes it: a strip below the grid with the
// step and seed, the whole magnified `scale` times, nearest neighbour, so
// that every cell stays sharp. Its sides are even, as video encoders need.
QImage LabelledPicture(const QImage& grid, int32_t step, uint32_t seed, int32_t scale);

// Saves a PNG atomically.
TStatus SavePng(const QImage& image, const QString& path);

struct TSummaryRun {
  QString group;  // the varied settings of the run, as "name=value ..."
  std::vector<TChartPoint> points;
};
// Two charts side by side, average angle and average wiggle, one line per
// run, one colour per group.
TStatus WriteSummaryChart(const QString& pngPath, const std::vector<TSummaryRun>& runs);
