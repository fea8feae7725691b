#include "Pictures.h"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>
#include <map>

#include "CellForm.h"
#include "Chart.h"

namespace {

constexpr int kChartWidth = 960;
constexpr int kChartHeight = 420;
constexpr int kSummaryPanelWidth = 900;
constexpr int kSummaryHeight = 480;
constexpr int kLabelHeight = 16;  // the label strip, before magnification
constexpr int kLabelFontPixels = 11;
constexpr int kLabelMargin = 4;
constexpr int kLabelGray = 0xe4;  // the strip's background, set off from the white grid

TStatus SaveBytes(const QByteArray& bytes, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    return Failed(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
  }
  return Success();
}

// Qt's own palette for line series, so groups look as the chart's series do.
const QList<QColor>& GroupColours() {
  static const QList<QColor> colours{QColor(0x20, 0x9f, 0xdf), QColor(0x99, 0xca, 0x53), QColor(0xf6, 0xa6, 0x25),
                                     QColor(0x6d, 0x5f, 0xd5), QColor(0xbf, 0x59, 0x3e), QColor(0x2a, 0x2a, 0x2a),
                                     QColor(0xd0, 0x3b, 0x8f), QColor(0x0b, 0x6e, 0x4f)};
  return colours;
}

// A chart lays itself out only in a shown view: show it, never on a screen.
void ShowOffscreen(QWidget& view, int width, int height) {
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.resize(width, height);
  view.show();
}

}  // namespace

QImage LabelledPicture(const QImage& grid, int32_t step, uint32_t seed, int32_t scale) {
  const int width = (grid.width() + 1) / 2 * 2;
  const int height = (grid.height() + kLabelHeight + 1) / 2 * 2;
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(Qt::white);
  QPainter painter(&picture);
  painter.drawImage(0, 0, grid);
  painter.fillRect(0, grid.height(), width, height - grid.height(), QColor(kLabelGray, kLabelGray, kLabelGray));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(kLabelFontPixels);
  font.setHintingPreference(QFont::PreferFullHinting);
  font.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRect(kLabelMargin, grid.height(), width - 2 * kLabelMargin, height - grid.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("step %1    seed %2").arg(step).arg(seed));
  painter.end();
  if (scale <= 1) return picture;
  return picture.scaled(width * scale, height * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

TStatus SavePng(const QImage& image, const QString& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Failed(QStringLiteral("cannot encode %1").arg(path));
  return SaveBytes(bytes, path);
}

TStatus WriteGeneChart(const QString& pngPath, const QString& svgPath, const std::vector<TChartPoint>& points) {
  TChart chart;
  ShowOffscreen(chart, kChartWidth, kChartHeight);
  const auto [angle, wiggle] = SetupGeneChart(chart);
  for (const TChartPoint& p : points) {
    chart.AddXY(angle, p.step, p.avgAngle);
    chart.AddXY(wiggle, p.step, p.avgWiggle);
  }
  if (TStatus saved = SavePng(chart.grab().toImage(), pngPath); !saved) return saved;

  QByteArray svg;
  QBuffer buffer(&svg);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(chart.size());
  generator.setViewBox(chart.rect());
  generator.setTitle(QStringLiteral("average values of all agents"));
  {
    QPainter painter(&generator);
    chart.render(&painter);
  }
  return SaveBytes(svg, svgPath);
}

TStatus WriteSummaryChart(const QString& pngPath, const std::vector<TSummaryRun>& runs) {
  std::map<QString, int> groupIndex;
  for (const TSummaryRun& run : runs) groupIndex.emplace(run.group, 0);
  int next = 0;
  for (auto& [group, index] : groupIndex) index = next++;

  QImage image(2 * kSummaryPanelWidth, kSummaryHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  const char* titles[] = {"average angle", "average wiggle"};
  for (int panel = 0; panel < 2; ++panel) {
    auto* chart = new QChart();
    chart->setTitle(QLatin1String(titles[panel]));
    chart->legend()->setAlignment(Qt::AlignRight);
    auto* x = new QValueAxis();
    auto* y = new QValueAxis();
    x->setTitleText(QStringLiteral("step"));
    x->setLabelFormat(QStringLiteral("%d"));
    y->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double maxStep = 1;
    double maxValue = 1;
    std::map<QString, bool> named;
    for (const TSummaryRun& run : runs) {
      auto* series = new QLineSeries();
      for (const TChartPoint& p : run.points) {
        const int32_t value = panel == 0 ? p.avgAngle : p.avgWiggle;
        series->append(p.step, value);
        maxStep = std::max(maxStep, static_cast<double>(p.step));
        maxValue = std::max(maxValue, static_cast<double>(value));
      }
      const QColor colour = GroupColours()[groupIndex[run.group] % GroupColours().size()];
      series->setPen(QPen(colour, 1.5));
      series->setName(run.group.isEmpty() ? QStringLiteral("all runs") : run.group);
      chart->addSeries(series);
      series->attachAxis(x);
      series->attachAxis(y);
      // One legend entry per group.
      const bool first = !named[run.group];
      named[run.group] = true;
      for (QLegendMarker* marker : chart->legend()->markers(series)) marker->setVisible(first);
    }
    x->setRange(0, maxStep);
    x->applyNiceNumbers();
    y->setRange(0, maxValue);
    y->applyNiceNumbers();
    QChartView view(chart);
    view.setRenderHint(QPainter::Antialiasing, true);
    ShowOffscreen(view, kSummaryPanelWidth, kSummaryHeight);
    view.render(&painter, QRectF(panel * kSummaryPanelWidth, 0, kSummaryPanelWidth, kSummaryHeight));
  }
  painter.end();
  return SavePng(image, pngPath);
}
