#include "ChartStyle.h"

#include <QAbstractAxis>
#include <QAbstractSeries>
#include <QChart>
#include <QLegend>
#include <QLegendMarker>

namespace {

constexpr const char* kFontFamily = "DejaVu Sans";
constexpr int kChartTitlePixels = 14;
constexpr int kLegendPixels = 12;
constexpr int kChartMargin = 6;

}  // namespace

QFont Font(int pixelSize, bool bold) {
  QFont font{QString::fromLatin1(kFontFamily)};
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

void StyleChart(QChart* chart, const QString& title) {
  chart->setTitle(title);
  chart->setTitleFont(Font(kChartTitlePixels, true));
  chart->setBackgroundRoundness(0);
  chart->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));
  chart->legend()->setFont(Font(kLegendPixels));
}

void Attach(QChart* chart, QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y) {
  chart->addSeries(series);
  series->attachAxis(x);
  series->attachAxis(y);
}

void HideFromLegend(QChart* chart, QAbstractSeries* series) {
  for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(false);
}
