#include "CalibrationFigures.h"

#include <QChart>
#include <QDir>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "ChartStyle.h"
#include "Figures.h"

namespace {

constexpr int kPanel = 300;
constexpr int kTop = 60;
constexpr int kAxisPixels = 11;
constexpr int kBins = 20;
const QColor kParticleBlue(0x1f, 0x5f, 0xa8);
const QColor kTruthRed(0xd6, 0x27, 0x28);
const QColor kTargetRed = kTruthRed;

QAbstractAxis* FactorAxis(const TPriorFactor& prior, const QString& title) {
  if (prior.log) {
    auto* axis = new QLogValueAxis();
    axis->setBase(10);
    axis->setRange(prior.lo, prior.hi);
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setTitleText(title + QStringLiteral(" (log)"));
    axis->setTitleFont(Font(kAxisPixels, true));
    axis->setLabelsFont(Font(kAxisPixels));
    return axis;
  }
  auto* axis = new QValueAxis();
  axis->setRange(prior.lo, prior.hi);
  axis->setTitleText(title);
  axis->setTitleFont(Font(kAxisPixels, true));
  axis->setLabelsFont(Font(kAxisPixels));
  return axis;
}

QValueAxis* ValueAxis(double lo, double hi, const QString& title) {
  auto* axis = new QValueAxis();
  axis->setRange(lo, hi > lo ? hi : lo + 1);
  axis->applyNiceNumbers();
  axis->setTitleText(title);
  axis->setTitleFont(Font(kAxisPixels, true));
  axis->setLabelsFont(Font(kAxisPixels));
  return axis;
}

QString Path(const QString& dir, const char* name, const char* extension) {
  return QDir(dir).filePath(QLatin1String(name) + QLatin1Char('.') + QLatin1String(extension));
}

// A histogram drawn as steps, from the edges of its bins.
QLineSeries* Steps(const std::vector<double>& density, double lo, double hi, bool log, const QColor& colour) {
  auto* line = new QLineSeries();
  const auto bins = static_cast<int>(density.size());
  const double a = log ? std::log(lo) : lo;
  const double b = log ? std::log(hi) : hi;
  auto edge = [&](int i) { return log ? std::exp(a + (b - a) * i / bins) : a + (b - a) * i / bins; };
  line->append(edge(0), 0);
  for (int i = 0; i < bins; ++i) {
    line->append(edge(i), density[static_cast<size_t>(i)]);
    line->append(edge(i + 1), density[static_cast<size_t>(i)]);
  }
  line->append(edge(bins), 0);
  line->setPen(QPen(colour, 2));
  return line;
}

QLineSeries* Vertical(double x, double lo, double hi, const QColor& colour) {
  auto* line = new QLineSeries();
  line->append(x, lo);
  line->append(x, hi);
  line->setPen(QPen(colour, 2, Qt::DashLine));
  return line;
}

void PairsFigure(const QString& dir, const TCalibrationPicture& p, TStatus& status) {
  const auto k = static_cast<int>(p.factors.size());
  TFigure figure(k * kPanel, kTop + k * kPanel);
  figure.AddText(QStringLiteral("Posterior of %1 particles, weighted").arg(p.values.size()), {16, 10}, kTitlePixels,
                 true);
  figure.AddText(p.truth ? QStringLiteral("the planted values in red") : QStringLiteral("the truth is not known"),
                 {16, 34}, kAxisPixels + 2);
  double wmax = 0;
  for (const double w : p.weights) wmax = std::max(wmax, w);
  for (int row = 0; row < k; ++row) {
    for (int column = 0; column < k; ++column) {
      QChart* chart = figure.AddChart(
          {static_cast<double>(column * kPanel), static_cast<double>(kTop + row * kPanel), kPanel, kPanel});
      StyleChart(chart, row == column ? p.factors[row] : QString());
      chart->legend()->setVisible(false);
      const auto c = static_cast<size_t>(column);
      const auto r = static_cast<size_t>(row);
      QAbstractAxis* x = FactorAxis(p.priors[c], p.factors[column]);
      chart->addAxis(x, Qt::AlignBottom);
      if (row == column) {
        std::vector<double> column_values;
        for (const auto& v : p.values) column_values.push_back(v[c]);
        const std::vector<double> density =
            WeightedHistogram(column_values, p.weights, p.priors[c].lo, p.priors[c].hi, p.priors[c].log, kBins);
        const double top = *std::max_element(density.begin(), density.end());
        QValueAxis* y = ValueAxis(0, top * 1.1, QStringLiteral("density"));
        chart->addAxis(y, Qt::AlignLeft);
        Attach(chart, Steps(density, p.priors[c].lo, p.priors[c].hi, p.priors[c].log, kParticleBlue), x, y);
        if (p.truth) Attach(chart, Vertical((*p.truth)[c], 0, top * 1.1, kTruthRed), x, y);
        continue;
      }
      QAbstractAxis* y = FactorAxis(p.priors[r], p.factors[row]);
      chart->addAxis(y, Qt::AlignLeft);
      // Five sizes of dot by weight, the heaviest largest.
      for (int size = 1; size <= 5; ++size) {
        auto* dots = new QScatterSeries();
        dots->setMarkerSize(3 + 2.5 * size);
        dots->setColor(QColor(kParticleBlue.red(), kParticleBlue.green(), kParticleBlue.blue(), 150));
        dots->setBorderColor(Qt::transparent);
        for (size_t i = 0; i < p.values.size(); ++i) {
          const int bucket = wmax > 0 ? 1 + std::min(4, static_cast<int>(5 * p.weights[i] / wmax)) : 3;
          if (bucket == size) dots->append(p.values[i][c], p.values[i][r]);
        }
        Attach(chart, dots, x, y);
      }
      if (p.truth) {
        auto* truth = new QScatterSeries();
        truth->setMarkerShape(QScatterSeries::MarkerShapeStar);
        truth->setMarkerSize(18);
        truth->setColor(kTruthRed);
        truth->setBorderColor(kTruthRed);
        truth->append((*p.truth)[c], (*p.truth)[r]);
        Attach(chart, truth, x, y);
      }
    }
  }
  status = figure.Save(Path(dir, kPairsName, "png"), Path(dir, kPairsName, "svg"));
}

void ScheduleFigure(const QString& dir, const TCalibrationPicture& p, TStatus& status) {
  TFigure figure(2 * 420, kTop + 340);
  figure.AddText(QStringLiteral("Tolerance and acceptance rate by generation"), {16, 10}, kTitlePixels, true);
  figure.AddText(QStringLiteral("the tolerance is the largest distance kept; the acceptance the share of new particles "
                                "within the one before"),
                 {16, 34}, kAxisPixels + 2);
  const std::vector<const std::vector<double>*> columns{&p.tolerances, &p.acceptances};
  const QStringList titles{QStringLiteral("tolerance"), QStringLiteral("acceptance rate")};
  for (int i = 0; i < 2; ++i) {
    QChart* chart = figure.AddChart({static_cast<double>(i * 420), static_cast<double>(kTop), 420, 340});
    StyleChart(chart, titles[i]);
    chart->legend()->setVisible(false);
    const std::vector<double>& v = *columns[static_cast<size_t>(i)];
    QValueAxis* x = ValueAxis(0, std::max<double>(1, static_cast<double>(v.size()) - 1), QStringLiteral("generation"));
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(0);
    x->setTickInterval(std::max(1.0, std::ceil(static_cast<double>(v.size()) / 10)));
    x->setLabelFormat(QStringLiteral("%d"));
    const double top = v.empty() ? 1 : *std::max_element(v.begin(), v.end());
    QValueAxis* y = ValueAxis(0, i == 1 ? 1 : top * 1.05, titles[i]);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto* line = new QLineSeries();
    auto* dots = new QScatterSeries();
    for (size_t g = 0; g < v.size(); ++g) {
      line->append(static_cast<double>(g), v[g]);
      dots->append(static_cast<double>(g), v[g]);
    }
    line->setPen(QPen(kParticleBlue, 2));
    dots->setColor(kParticleBlue);
    dots->setMarkerSize(8);
    Attach(chart, line, x, y);
    Attach(chart, dots, x, y);
  }
  status = figure.Save(Path(dir, kScheduleName, "png"), Path(dir, kScheduleName, "svg"));
}

void PredictiveFigure(const QString& dir, const TCalibrationPicture& p, TStatus& status) {
  const auto m = static_cast<int>(p.measures.size());
  TFigure figure(std::max(m * 380, 2 * 420), kTop + 320);
  figure.AddText(QStringLiteral("The target beside the posterior predictive: %1 new runs from the posterior")
                     .arg(p.predictive.size()),
                 {16, 10}, kTitlePixels, true);
  figure.AddText(QStringLiteral("each run's measure as a dot, the target as the red line"), {16, 34}, kAxisPixels + 2);
  for (int j = 0; j < m; ++j) {
    QChart* chart = figure.AddChart({static_cast<double>(j * 380), static_cast<double>(kTop), 380, 320});
    StyleChart(chart, p.measures[j]);
    chart->legend()->setVisible(false);
    const auto jj = static_cast<size_t>(j);
    double lo = p.target[jj], hi = p.target[jj];
    for (const auto& run : p.predictive) {
      if (std::isnan(run[jj])) continue;
      lo = std::min(lo, run[jj]);
      hi = std::max(hi, run[jj]);
    }
    const double pad = std::max(hi - lo, 1e-6) * 0.1;
    QValueAxis* x = ValueAxis(lo - pad, hi + pad, p.measures[j]);
    QValueAxis* y = ValueAxis(0, 1, QString());
    y->setVisible(false);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto* dots = new QScatterSeries();
    dots->setColor(QColor(kParticleBlue.red(), kParticleBlue.green(), kParticleBlue.blue(), 150));
    dots->setBorderColor(Qt::transparent);
    dots->setMarkerSize(10);
    // Spread up the panel by their order, so that equal values stay apart.
    for (size_t i = 0; i < p.predictive.size(); ++i) {
      if (!std::isnan(p.predictive[i][jj]))
        dots->append(p.predictive[i][jj], (static_cast<double>(i) + 0.5) / static_cast<double>(p.predictive.size()));
    }
    Attach(chart, dots, x, y);
    Attach(chart, Vertical(p.target[jj], 0, 1, kTargetRed), x, y);
  }
  status = figure.Save(Path(dir, kPredictiveName, "png"), Path(dir, kPredictiveName, "svg"));
}

}  // namespace

std::vector<double> WeightedHistogram(const std::vector<double>& values, const std::vector<double>& weights, double lo,
                                      double hi, bool log, int bins) {
  std::vector<double> density(static_cast<size_t>(bins), 0.0);
  const double a = log ? std::log(lo) : lo;
  const double b = log ? std::log(hi) : hi;
  double total = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const double x = log ? std::log(values[i]) : values[i];
    const auto bin =
        static_cast<size_t>(std::clamp(static_cast<int>(std::floor((x - a) / (b - a) * bins)), 0, bins - 1));
    density[bin] += weights[i];
    total += weights[i];
  }
  // Per unit of the axis the bins are equal in (x, or log x).
  const double width = (b - a) / bins;
  if (total > 0) {
    for (double& d : density) d /= total * width;
  }
  return density;
}

TStatus WriteCalibrationFigures(const QString& dir, const TCalibrationPicture& picture) {
  TStatus status = Success();
  PairsFigure(dir, picture, status);
  if (!status) return status;
  ScheduleFigure(dir, picture, status);
  if (!status) return status;
  if (!picture.predictive.empty()) PredictiveFigure(dir, picture, status);
  return status;
}
