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

// Saves a PNG atomically.
TStatus SavePng(const QImage& image, const QString& path);

struct TSummaryRun {
  QString group;  // the varied settings of the run, as "name=value ..."
  std::vector<TChartPoint> points;
};
// Two charts side by side, average angle and average wiggle, one line per
// run, one colour per group.
TStatus WriteSummaryChart(const QString& pngPath, const std::vector<TSummaryRun>& runs);
