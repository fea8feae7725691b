#include "Chart.h"

#include <QChart>
#include <QFont>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kInitialYMax = 10.0;
constexpr double kInitialXMax = 100.0;
constexpr int kTitlePixelHeight = 11;

// The smallest of 1, 2, 5 x 10^k at or above v, so the axis keeps round ticks.
double NiceCeiling(double v) {
  if (v <= 0) return 1.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(v)));
  for (double step : {1.0, 2.0, 5.0, 10.0}) {
    if (step * magnitude >= v) return step * magnitude;
  }
  return 10.0 * magnitude;
}

// Ticks for an axis from 0 to a NiceCeiling value, so that the labels fall
// on round numbers: 1 x 10^k and 5 x 10^k in fifths, 2 x 10^k in quarters.
int TickCountFor(double max) {
  const double mantissa = max / std::pow(10.0, std::floor(std::log10(max)));
  return std::abs(mantissa - 2.0) < 1e-9 ? 5 : 6;
}

void SetAxisMax(QValueAxis* axis, double max) {
  axis->setMax(max);
  axis->setTickCount(TickCountFor(max));
}

}  // namespace

// The view is built around our chart: a view built without one makes a
// default chart that a later setChart() would orphan, never to be freed.
TChart::TChart(QWidget* parent) : QChartView(new QChart(), parent) {
  chart_ = chart();
  chart_->setTitle(QStringLiteral("TChart"));
  // Arial is not shipped with Debian; DejaVu Sans is.
  QFont titleFont(QStringLiteral("DejaVu Sans"));
  titleFont.setPixelSize(kTitlePixelHeight);
  chart_->setTitleFont(titleFont);
  chart_->setTitleBrush(Qt::black);
  chart_->setBackgroundBrush(Qt::white);
  chart_->setPlotAreaBackgroundVisible(false);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  chart_->legend()->setAlignment(Qt::AlignBottom);

  bottomAxis_ = new QValueAxis(chart_);
  bottomAxis_->setMin(0);
  SetAxisMax(bottomAxis_, kInitialXMax);
  bottomAxis_->setLabelFormat(QStringLiteral("%d"));
  leftAxis_ = new QValueAxis(chart_);
  leftAxis_->setMin(0);
  SetAxisMax(leftAxis_, kInitialYMax);
  leftAxis_->setLabelFormat(QStringLiteral("%d"));
  rightAxis_ = new QValueAxis(chart_);
  rightAxis_->setMin(0);
  SetAxisMax(rightAxis_, kInitialYMax);
  rightAxis_->setLabelFormat(QStringLiteral("%d"));
  chart_->addAxis(bottomAxis_, Qt::AlignBottom);
  chart_->addAxis(leftAxis_, Qt::AlignLeft);
  chart_->addAxis(rightAxis_, Qt::AlignRight);

  setChart(chart_);
  setRenderHint(QPainter::Antialiasing, false);
}

void TChart::RemoveAllSeries() {
  chart_->removeAllSeries();
  SetAxisMax(bottomAxis_, kInitialXMax);
  SetAxisMax(leftAxis_, kInitialYMax);
  SetAxisMax(rightAxis_, kInitialYMax);
}

void TChart::SetTitleLine(const std::string& line) { chart_->setTitle(QString::fromStdString(line)); }

QString TChart::TitleText() const { return chart_->title(); }

QLineSeries* TChart::AddLineSeries(const std::string& title) {
  auto* series = new QLineSeries();
  series->clear();
  series->setName(QString::fromStdString(title));
  chart_->addSeries(series);
  series->attachAxis(bottomAxis_);
  series->attachAxis(rightAxis_);
  return series;
}

void TChart::AddXY(QLineSeries* series, double x, double y) {
  series->append(x, y);
  GrowAxes(x, y);
}

void TChart::GrowAxes(double x, double y) {
  if (x > bottomAxis_->max()) SetAxisMax(bottomAxis_, NiceCeiling(x));
  if (y > rightAxis_->max()) {
    const double top = NiceCeiling(y);
    SetAxisMax(rightAxis_, top);
    SetAxisMax(leftAxis_, top);
  }
}
