#include "FrontFigure.h"

#include <QChart>
#include <QDir>
#include <QLegend>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <numeric>

#include "ChartStyle.h"
#include "Figures.h"

namespace {

constexpr int kPanelWidth = 440;
constexpr int kPanelHeight = 400;
// A lone pair of objectives gets the whole figure.
constexpr int kLoneWidth = 820;
constexpr int kLoneHeight = 560;
constexpr int kTop = 60;
constexpr int kColumns = 3;
constexpr int kAxisPixels = 11;
constexpr double kPad = 1.1;
const QColor kEvaluatedGrey(0x9a, 0x9a, 0x9a, 110);
const QColor kPopulationBlue(0x1f, 0x5f, 0xa8);
const QColor kFrontRed(0xd6, 0x27, 0x28);

QValueAxis* Axis(double hi, const QString& title) {
  auto* axis = new QValueAxis();
  axis->setRange(0, hi > 0 ? hi : 1);
  axis->applyNiceNumbers();
  axis->setTitleText(title);
  axis->setTitleFont(Font(kAxisPixels, true));
  axis->setLabelsFont(Font(kAxisPixels));
  return axis;
}

QScatterSeries* Dots(const std::vector<std::vector<double>>& points, size_t i, size_t j, const QColor& colour,
                     double size, const QString& name) {
  auto* dots = new QScatterSeries();
  dots->setName(name);
  dots->setColor(colour);
  dots->setBorderColor(Qt::transparent);
  dots->setMarkerSize(size);
  for (const auto& p : points) dots->append(p[i], p[j]);
  return dots;
}

}  // namespace

TStatus WriteFrontFigure(const QString& dir, const TFrontPicture& p) {
  const size_t m = static_cast<size_t>(p.objectives.size());
  std::vector<std::pair<size_t, size_t>> pairs;
  for (size_t i = 0; i < m; ++i) {
    for (size_t j = i + 1; j < m; ++j) pairs.emplace_back(i, j);
  }
  const int columns = std::min<int>(kColumns, static_cast<int>(pairs.size()));
  const int rows = (static_cast<int>(pairs.size()) + columns - 1) / columns;
  const bool lone = pairs.size() == 1;
  const int width = lone ? kLoneWidth : kPanelWidth;
  const int height = lone ? kLoneHeight : kPanelHeight;
  TFigure figure(std::max(columns * width, kLoneWidth), kTop + rows * height);
  figure.AddText(QStringLiteral("Pareto front after %1 generations: %2 of %3 individuals non-dominated")
                     .arg(p.generations)
                     .arg(p.front.size())
                     .arg(p.front.size() + p.population.size()),
                 {16, 10}, kTitlePixels, true);
  figure.AddText(QStringLiteral("each target measure's standardised distance; the axes span the last population "
                                "(earlier individuals beyond it are cut off)"),
                 {16, 34}, kAxisPixels + 2);
  // Each axis spans the last population, so that its front fills the panel.
  std::vector<double> top(m, 0.0);
  for (const auto* set : {&p.population, &p.front}) {
    for (const auto& point : *set) {
      for (size_t k = 0; k < m; ++k) top[k] = std::max(top[k], point[k] * kPad);
    }
  }
  for (size_t n = 0; n < pairs.size(); ++n) {
    const auto [i, j] = pairs[n];
    const auto column = static_cast<double>(static_cast<int>(n) % columns);
    const int rowIndex = static_cast<int>(n) / columns;
    const auto row = static_cast<double>(rowIndex);
    QChart* chart =
        figure.AddChart({column * width, kTop + row * height, static_cast<double>(width), static_cast<double>(height)});
    StyleChart(chart, QStringLiteral("%1 against %2")
                          .arg(p.objectives[static_cast<qsizetype>(j)], p.objectives[static_cast<qsizetype>(i)]));
    chart->legend()->setAlignment(Qt::AlignBottom);
    QValueAxis* x = Axis(top[i], p.objectives[static_cast<qsizetype>(i)]);
    QValueAxis* y = Axis(top[j], p.objectives[static_cast<qsizetype>(j)]);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    Attach(chart, Dots(p.evaluated, i, j, kEvaluatedGrey, 6, QStringLiteral("evaluated")), x, y);
    Attach(chart, Dots(p.population, i, j, kPopulationBlue, 9, QStringLiteral("last population")), x, y);
    // Two objectives: the front is a curve, joined in the order of the first.
    if (m == 2 && p.front.size() > 1) {
      std::vector<std::vector<double>> sorted = p.front;
      std::sort(sorted.begin(), sorted.end());
      auto* line = new QLineSeries();
      for (const auto& point : sorted) line->append(point[0], point[1]);
      line->setPen(QPen(kFrontRed, 2));
      Attach(chart, line, x, y);
      HideFromLegend(chart, line);
    }
    Attach(chart, Dots(p.front, i, j, kFrontRed, 12, QStringLiteral("front")), x, y);
  }
  return figure.Save(QDir(dir).filePath(QLatin1String(kFrontName) + QStringLiteral(".png")),
                     QDir(dir).filePath(QLatin1String(kFrontName) + QStringLiteral(".svg")));
}
