#include "Series.h"

#include <QStringList>

namespace {

constexpr int kDecimals = 4;

QString Fixed(double value) { return QString::number(value, 'f', kDecimals); }

}  // namespace

QString SeriesHeader() {
  QStringList columns{"step",  "avg_angle",   "avg_wiggle", "mean_angle",   "sd_angle",     "mean_wiggle",  "sd_wiggle",
                      "trips", "trips_total", "births",     "births_total", "heading_home", "visible_cells"};
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) columns << QStringLiteral("angle_c%1").arg(c);
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) columns << QStringLiteral("wiggle_c%1").arg(c);
  // Added after the first columns, so readers of older series keep working.
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) columns << QStringLiteral("sd_angle_c%1").arg(c);
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) columns << QStringLiteral("sd_wiggle_c%1").arg(c);
  return columns.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString SeriesRow(const TSample& s) {
  QStringList cells{QString::number(s.step),
                    QString::number(s.avgAngle),
                    QString::number(s.avgWiggle),
                    Fixed(s.meanAngle),
                    Fixed(s.sdAngle),
                    Fixed(s.meanWiggle),
                    Fixed(s.sdWiggle),
                    QString::number(s.trips),
                    QString::number(s.tripsTotal),
                    QString::number(s.births),
                    QString::number(s.birthsTotal),
                    QString::number(s.headingHome),
                    QString::number(s.visibleCells)};
  // A colony without members has no mean: its cell stays empty.
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) cells << (s.colonySize[c] > 0 ? Fixed(s.colonyAngle[c]) : QString());
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) cells << (s.colonySize[c] > 0 ? Fixed(s.colonyWiggle[c]) : QString());
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) cells << (s.colonySize[c] > 0 ? Fixed(s.colonyAngleSd[c]) : QString());
  for (int32_t c = 0; c < TModelShape::kColonies; ++c) cells << (s.colonySize[c] > 0 ? Fixed(s.colonyWiggleSd[c]) : QString());
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
