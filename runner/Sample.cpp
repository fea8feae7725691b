#include "Sample.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kDecimals = 4;

QString Fixed(double value) { return QString::number(value, 'f', kDecimals); }

struct TMoments {
  long double sum = 0;
  long double squares = 0;
  void Add(int32_t v) {
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  double Mean(int64_t n) const { return n > 0 ? static_cast<double>(sum / n) : 0.0; }
  double Deviation(int64_t n) const {
    if (n <= 0) return 0.0;
    const long double mean = sum / n;
    const long double variance = squares / n - mean * mean;
    return variance > 0 ? static_cast<double>(std::sqrt(variance)) : 0.0;
  }
};

}  // namespace

TSample TakeSample(TForm1& form, int32_t avgAngle, int32_t avgWiggle, const TSample& previous) {
  TSample s;
  s.step = stepCount;
  s.avgAngle = avgAngle;
  s.avgWiggle = avgWiggle;
  TMoments angle;
  TMoments wiggle;
  std::array<int64_t, TForm1::kColonies> colonyAngleSum{};
  std::array<int64_t, TForm1::kColonies> colonyWiggleSum{};
  std::array<TMoments, TForm1::kColonies> colonyAngle{};  // for the spread within each colony
  std::array<TMoments, TForm1::kColonies> colonyWiggle{};
  for (const TAgent& agent : form.agents) {
    angle.Add(agent.angleGene);
    wiggle.Add(agent.wiggleGene);
    if (!agent.searching) ++s.headingHome;
    colonyAngleSum[agent.colony] += agent.angleGene;
    colonyWiggleSum[agent.colony] += agent.wiggleGene;
    colonyAngle[agent.colony].Add(agent.angleGene);
    colonyWiggle[agent.colony].Add(agent.wiggleGene);
    ++s.colonySize[agent.colony];
  }
  const auto n = static_cast<int64_t>(form.agents.size());
  s.meanAngle = angle.Mean(n);
  s.sdAngle = angle.Deviation(n);
  s.meanWiggle = wiggle.Mean(n);
  s.sdWiggle = wiggle.Deviation(n);
  for (int32_t c = 0; c < TForm1::kColonies; ++c) {
    const int32_t size = s.colonySize[c];
    s.colonyAngle[c] = size > 0 ? static_cast<double>(colonyAngleSum[c]) / size : 0.0;
    s.colonyWiggle[c] = size > 0 ? static_cast<double>(colonyWiggleSum[c]) / size : 0.0;
    s.colonyAngleSd[c] = colonyAngle[c].Deviation(size);
    s.colonyWiggleSd[c] = colonyWiggle[c].Deviation(size);
  }
  s.tripsTotal = form.tripsCompleted;
  s.trips = form.tripsCompleted - previous.tripsTotal;
  s.birthsTotal = form.births;
  s.births = form.births - previous.birthsTotal;
  const int32_t threshold = form.VisibilityThreshold();
  for (const TCell& cell : form.cells) s.visibleCells += cell.chemical >= threshold ? 1 : 0;
  return s;
}

TGeneHistogram TakeHistogram(const TForm1& form) {
  TGeneHistogram histogram{};
  for (const TAgent& agent : form.agents) {
    // Genes have 8 bits; a value outside them would be a fault elsewhere,
    // counted at the nearest end rather than written out of bounds.
    ++histogram[0][std::clamp<int32_t>(agent.angleGene, 0, kGeneValues - 1)];
    ++histogram[1][std::clamp<int32_t>(agent.wiggleGene, 0, kGeneValues - 1)];
  }
  return histogram;
}

QString SeriesHeader() { return SeriesColumnNames().join(QLatin1Char(',')) + QLatin1Char('\n'); }

namespace {

static_assert(kSeriesColonies == TForm1::kColonies, "a per-colony column is written for every colony");

// A colony without members has no mean: its cell stays empty.
QString ColonyCell(const TSample& s, const std::array<double, TForm1::kColonies>& values, int32_t colony) {
  return s.colonySize[colony] > 0 ? Fixed(values[colony]) : QString();
}

// The cell of `column` in a sample's row; a per-colony column's for `colony`.
QString SeriesCell(const TSample& s, TSeriesColumn column, int32_t colony) {
  switch (column) {
    case TSeriesColumn::kStep: return QString::number(s.step);
    case TSeriesColumn::kAvgAngle: return QString::number(s.avgAngle);
    case TSeriesColumn::kAvgWiggle: return QString::number(s.avgWiggle);
    case TSeriesColumn::kMeanAngle: return Fixed(s.meanAngle);
    case TSeriesColumn::kSdAngle: return Fixed(s.sdAngle);
    case TSeriesColumn::kMeanWiggle: return Fixed(s.meanWiggle);
    case TSeriesColumn::kSdWiggle: return Fixed(s.sdWiggle);
    case TSeriesColumn::kTrips: return QString::number(s.trips);
    case TSeriesColumn::kTripsTotal: return QString::number(s.tripsTotal);
    case TSeriesColumn::kBirths: return QString::number(s.births);
    case TSeriesColumn::kBirthsTotal: return QString::number(s.birthsTotal);
    case TSeriesColumn::kHeadingHome: return QString::number(s.headingHome);
    case TSeriesColumn::kVisibleCells: return QString::number(s.visibleCells);
    case TSeriesColumn::kColonyAngle: return ColonyCell(s, s.colonyAngle, colony);
    case TSeriesColumn::kColonyWiggle: return ColonyCell(s, s.colonyWiggle, colony);
    case TSeriesColumn::kColonyAngleSd: return ColonyCell(s, s.colonyAngleSd, colony);
    case TSeriesColumn::kColonyWiggleSd: return ColonyCell(s, s.colonyWiggleSd, colony);
  }
  return {};
}

}  // namespace

QString SeriesRow(const TSample& s) {
  QStringList cells;
  ForEachSeriesCell([&](TSeriesColumn column, int32_t colony) { cells << SeriesCell(s, column, colony); });
  return cells.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString HistogramHeader() {
  QStringList columns{"step", "gene"};
  for (int32_t v = 0; v < kGeneValues; ++v) columns << QString::number(v);
  return columns.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString HistogramRows(int32_t step, const TGeneHistogram& histogram) {
  QString rows;
  const char* genes[] = {"angle", "wiggle"};
  for (size_t g = 0; g < histogram.size(); ++g) {
    QStringList cells{QString::number(step), QLatin1String(genes[g])};
    for (int64_t count : histogram[g]) cells << QString::number(count);
    rows += cells.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return rows;
}
