#include "Series.h"

#include <QStringList>

namespace {

constexpr int kDecimals = 4;

QString Fixed(double value) { return QString::number(value, 'f', kDecimals); }

}  // namespace

QString SeriesHeader(int32_t specs) { return SeriesColumnNames(specs).join(QLatin1Char(',')) + QLatin1Char('\n'); }

namespace {

// A colony without members has no mean: its cell stays empty.
QString ColonyCell(const TSample& s, const std::array<double, TModelShape::kColonies>& values, int32_t colony) {
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
    case TSeriesColumn::kMeanChemical: return Fixed(s.meanChemical);
    case TSeriesColumn::kFloorShare: return s.floorShare ? Fixed(*s.floorShare) : QString();
  }
  return {};
}

}  // namespace

QString SeriesRow(const TSample& s, int32_t specs) {
  QStringList cells;
  ForEachSeriesCell([&](TSeriesColumn column, int32_t colony) { cells << SeriesCell(s, column, colony); }, specs);
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
