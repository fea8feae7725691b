#include "Figures.h"

#include <QApplication>
#include <QAreaSeries>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsSimpleTextItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <numeric>
#include <utility>

#include "AtomicFile.h"
#include "ChartStyle.h"
#include "LeastSquares.h"
#include "ModelShape.h"

namespace {

constexpr int kCaptionPixels = 13;
constexpr int kAxisPixels = 12;
constexpr double kBandAlpha = 0.22;
// An SVG's pixels are CSS pixels, as browsers and editors read them.
constexpr int kSvgDotsPerInch = 96;
constexpr double kMeanPenWidth = 2.5;
constexpr double kGeneMax = TModelShape::kGeneValues - 1;
// The summary's page: a title band, then per gene a row of two panels.
constexpr int kSummaryWidth = 1600;
constexpr int kSummaryRowHeight = 420;
constexpr int kSummaryTop = 70;
constexpr int kSummaryTimeWidth = 1050;
// The final panel spreads a group's runs this far either side of its place.
constexpr double kJitter = 0.18;
// A group of more runs than this shows their final values as a box (the
// middle half, the median, whiskers from 2.5 to 97.5 %, the two extremes as
// dots) instead of a dot a run: past a few hundred the dots only merge into
// a blot, and the figure's files would grow with every run.
constexpr size_t kMaxDots = 300;
constexpr double kWhiskerShare = 0.025;
constexpr int kRunWidth = 1100;
constexpr int kRunHeight = 560;
constexpr int kRunCaptionHeight = 60;
constexpr int kHistogramRowHeight = 380;
constexpr int kHistogramTop = 50;
constexpr int kHistogramTitlePixels = kTitlePixels - 2;
constexpr int32_t kGeneBin = 4;  // gene values a row of the heat map holds
constexpr int32_t kHeatRows = kGeneValues / kGeneBin;
// The colour key of the histogram figure, right of its charts: kKeySteps
// colours from the largest share (at the top) to the smallest, labelled.
constexpr double kKeyRoom = 120;   // the page's width right of the charts
constexpr double kKeyInset = 100;  // the key's left edge, from the page's right edge
constexpr double kKeyDrop = 60;    // the key's top, below the charts' top
constexpr int kKeySteps = 100;
constexpr double kKeyWidth = 20;
constexpr double kKeyStepHeight = 3;
constexpr double kKeyHeight = kKeyStepHeight * kKeySteps;
constexpr double kKeyLabelGap = 26;         // the labels' left edge, right of the key's
constexpr double kKeyTopLabelRise = 6;      // the largest share's label, above the key's top
constexpr double kKeyBottomLabelRise = 10;  // "few", above the key's bottom
constexpr double kKeyNoteOutdent = 4;       // the note under the key starts left of it
constexpr double kKeyNoteDrop = 14;         // and this far below it
constexpr QPointF kTitleAt(16, 14);
constexpr size_t kGenes = kGeneColumns.size();
// Gene colours of a run's figure, and the parent's history drawn lighter.
const QColor kAngleColour(0x1f, 0x5f, 0xa8);
const QColor kWiggleColour(0xd9, 0x5f, 0x0e);
constexpr int kLighter = 170;
const QColor kParentGrey(0xa0, 0xa0, 0xa0);
constexpr std::array<const char*, kGenes> kGeneTitles{"mean angle gene", "mean wiggle gene"};
constexpr std::array<const char*, kGenes> kGeneNames{"angle gene", "wiggle gene"};
// The summary's rows: what each shows, as its axis and titles name it.
constexpr std::array<const char*, kSummaryRows> kRowTitles{"mean angle gene", "mean wiggle gene",
                                                           "trips per 100 steps"};
// Characters a line of a panel's title holds before it is wrapped.
constexpr qsizetype kPanelTitleChars = 60;
// Lines of differences a final panel's title holds; more are left to the tables.
constexpr qsizetype kNoteLines = 3;

// Viridis at tenths, cut before its palest yellows so every colour reads
// on white.
constexpr std::array<QRgb, 11> kViridis{0x440154, 0x482475, 0x414487, 0x355f8d, 0x2a788e, 0x21918c,
                                        0x22a884, 0x44bf70, 0x7ad151, 0xbddf26, 0xfde725};
constexpr double kScaleEnd = 0.9;

QColor Viridis(double t) {
  t = std::clamp(t, 0.0, 1.0) * (kViridis.size() - 1);
  const size_t i = std::min(static_cast<size_t>(t), kViridis.size() - 2);
  const double f = t - static_cast<double>(i);
  const QColor a(kViridis[i]);
  const QColor b(kViridis[i + 1]);
  return QColor::fromRgbF(static_cast<float>(a.redF() + f * (b.redF() - a.redF())),
                          static_cast<float>(a.greenF() + f * (b.greenF() - a.greenF())),
                          static_cast<float>(a.blueF() + f * (b.blueF() - a.blueF())));
}

// The smallest of 1, 2, 5 x 10^k at or above v: an axis end on a round number.
double NiceCeiling(double v) {
  if (v <= 0) return 1.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(v)));
  for (double step : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    if (step * magnitude >= v) return step * magnitude;
  }
  return 10.0 * magnitude;
}

QValueAxis* AddValueAxis(QChart* chart, Qt::Alignment where, const QString& title, double min, double max) {
  auto* axis = new QValueAxis();
  axis->setRange(min, max);
  axis->setTitleText(title);
  axis->setTitleFont(Font(kAxisPixels, true));
  axis->setLabelsFont(Font(kAxisPixels));
  axis->setLabelFormat(QStringLiteral("%.0f"));
  chart->addAxis(axis, where);
  return axis;
}

QLineSeries* Line(const std::vector<QPointF>& points, const QPen& pen, const QString& name = {}) {
  auto* series = new QLineSeries();
  for (const QPointF& p : points) series->append(p);
  series->setPen(pen);
  series->setName(name);
  return series;
}

// The step range the curves of a row span.
std::pair<double, double> StepRange(const TSummaryFigure& s) {
  double first = std::numeric_limits<double>::max();
  double last = 0;
  for (const TFigureGroup& g : s.groups) {
    for (const auto& curve : g.curves) {
      if (curve.empty()) continue;
      first = std::min(first, curve.front().step);
      last = std::max(last, curve.back().step);
    }
  }
  for (const auto& parent : s.parents) {
    for (const auto& history : parent) {
      if (!history.empty()) first = std::min(first, history.front().x());
    }
  }
  if (first > last) first = 0;
  return {first, std::max(last, first + 1)};
}

double RowMaximum(const TSummaryFigure& s, size_t row) {
  double max = 1;
  for (const TFigureGroup& g : s.groups) {
    for (const TBandPoint& p : g.curves[row]) max = std::max(max, p.high);
    for (double v : g.finals[row]) max = std::max(max, v);
    if (g.finalEstimates[row].high) max = std::max(max, *g.finalEstimates[row].high);
  }
  if (row >= kGenes) return NiceCeiling(max * 1.05);
  for (const auto& parent : s.parents) {
    for (const QPointF& p : parent[row]) max = std::max(max, p.y());
  }
  return std::min(NiceCeiling(max * 1.05), kGeneMax + 1);
}

// Words joined into lines of at most `width` characters (a longer word has
// a line of its own), never cut.
QStringList Wrapped(const QStringList& words, qsizetype width, const QString& separator) {
  QStringList lines;
  QString line;
  for (const QString& word : words) {
    if (!line.isEmpty() && line.size() + separator.size() + word.size() > width) {
      lines << line;
      line.clear();
    }
    line += (line.isEmpty() ? QString() : separator) + word;
  }
  if (!line.isEmpty()) lines << line;
  return lines;
}

// A line's name in a legend: the group's values, with the settings' names
// when a setting varies.
QString LegendName(const TSummaryFigure& s, const TFigureGroup& g) {
  return g.label == s.varied ? g.label : QStringLiteral("%1 = %2").arg(s.varied, g.label);
}

void AddTimePanel(QChart* chart, const TSummaryFigure& s, size_t row, double yMax) {
  StyleChart(chart, QStringLiteral("%1 over the run: mean of the runs with its 95 % band").arg(kRowTitles[row]));
  const auto [first, last] = StepRange(s);
  QValueAxis* x = AddValueAxis(chart, Qt::AlignBottom, QStringLiteral("step"), first, last);
  x->applyNiceNumbers();
  QValueAxis* y = AddValueAxis(chart, Qt::AlignLeft, QLatin1String(kRowTitles[row]), 0, yMax);
  bool parentNamed = false;
  for (const auto& parent : s.parents) {
    if (row >= parent.size()) break;
    auto* series = Line(parent[row], QPen(kParentGrey, 1.5), QStringLiteral("the run they continue"));
    Attach(chart, series, x, y);
    if (parentNamed) HideFromLegend(chart, series);
    parentNamed = true;
  }
  for (const TFigureGroup& g : s.groups) {
    std::vector<QPointF> upper, lower, mean;
    for (const TBandPoint& p : g.curves[row]) {
      // A band reaches no further than the values can: no count below zero.
      upper.emplace_back(p.step, p.high);
      lower.emplace_back(p.step, std::max(p.low, 0.0));
      mean.emplace_back(p.step, p.mean);
    }
    QColor fill = g.colour;
    fill.setAlphaF(kBandAlpha);
    auto* band = new QAreaSeries(Line(upper, Qt::NoPen), Line(lower, Qt::NoPen));
    // An area series does not own its edges: they go with it.
    band->upperSeries()->setParent(band);
    band->lowerSeries()->setParent(band);
    band->setPen(Qt::NoPen);
    band->setBrush(fill);
    Attach(chart, band, x, y);
    HideFromLegend(chart, band);
    QPen pen(g.colour, kMeanPenWidth);
    pen.setStyle(g.style);
    Attach(chart, Line(mean, pen, LegendName(s, g)), x, y);
  }
  chart->legend()->setAlignment(Qt::AlignTop);
}

// Whether the group's final values of `row` show as a box, not as dots.
bool Boxed(const TFigureGroup& g, size_t row) { return g.finals[row].size() > kMaxDots; }

// The final panel's title: what it shows, then the differences of the
// groups, wrapped so that no line is cut.
QString FinalTitle(const TSummaryFigure& s, size_t row) {
  const bool boxes =
      std::any_of(s.groups.begin(), s.groups.end(), [row](const TFigureGroup& g) { return Boxed(g, row); });
  QStringList lines{QStringLiteral("%1 at the end, each run a dot").arg(QLatin1String(kRowTitles[row]))};
  if (boxes) {
    lines =
        QStringList{QStringLiteral("%1 at the end:").arg(QLatin1String(kRowTitles[row])),
                    QStringLiteral("box: the middle half of the runs; whiskers: 2.5 to 97.5 %; dots: the extremes")};
  }
  if (!s.notes[row].isEmpty()) {
    QStringList notes = Wrapped(s.notes[row], kPanelTitleChars, QStringLiteral("; "));
    if (notes.size() > kNoteLines) {
      notes = notes.mid(0, kNoteLines - 1);
      notes << QStringLiteral("(more differences in comparison.csv)");
    }
    lines << QStringLiteral("difference (95 % CI, Welch):") << notes;
  }
  return lines.join(QStringLiteral("<br>"));
}

// The box of a group's final values at `at`: the middle half filled, the
// median across it, whiskers from 2.5 to 97.5 %, and the smallest and the
// largest value put into `extremes`.
void AddBox(QChart* chart, std::vector<double> values, double at, const QColor& fill, QAbstractAxis* x,
            QAbstractAxis* y, QScatterSeries& extremes) {
  std::sort(values.begin(), values.end());
  const double q1 = PercentileOfSorted(values, 0.25);
  const double q3 = PercentileOfSorted(values, 0.75);
  auto* box = new QAreaSeries(Line({{at - kJitter, q3}, {at + kJitter, q3}}, Qt::NoPen),
                              Line({{at - kJitter, q1}, {at + kJitter, q1}}, Qt::NoPen));
  box->upperSeries()->setParent(box);
  box->lowerSeries()->setParent(box);
  box->setBrush(fill);
  box->setPen(QPen(fill.darker(), 1));
  Attach(chart, box, x, y);
  const double median = PercentileOfSorted(values, 0.5);
  Attach(chart, Line({{at - kJitter, median}, {at + kJitter, median}}, QPen(fill.darker(), 2)), x, y);
  for (const auto& [from, to] : {std::pair{q3, PercentileOfSorted(values, 1 - kWhiskerShare)},
                                 std::pair{q1, PercentileOfSorted(values, kWhiskerShare)}}) {
    Attach(chart, Line({{at, from}, {at, to}}, QPen(fill.darker(), 1.5)), x, y);
  }
  extremes.append(at, values.front());
  extremes.append(at, values.back());
}

void AddFinalPanel(QChart* chart, const TSummaryFigure& s, size_t row, double yMax) {
  StyleChart(chart, FinalTitle(s, row));
  auto* x = new QCategoryAxis();
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  x->setRange(-0.5, static_cast<double>(s.groups.size()) - 0.5);
  for (size_t i = 0; i < s.groups.size(); ++i) x->append(s.groups[i].label, static_cast<double>(i));
  x->setTitleText(
      Wrapped((s.varied + QStringLiteral(", ") + s.finalBasis).split(QLatin1Char(' ')), kPanelTitleChars, " ")
          .join(QStringLiteral("<br>")));
  x->setTitleFont(Font(kAxisPixels, true));
  x->setLabelsFont(Font(kAxisPixels));
  x->setGridLineVisible(false);
  chart->addAxis(x, Qt::AlignBottom);
  QValueAxis* y = AddValueAxis(chart, Qt::AlignLeft, QLatin1String(kRowTitles[row]), 0, yMax);
  for (size_t i = 0; i < s.groups.size(); ++i) {
    const TFigureGroup& g = s.groups[i];
    const double at = static_cast<double>(i);
    auto* dots = new QScatterSeries();
    const size_t n = g.finals[row].size();
    QColor fill = g.colour;
    fill.setAlphaF(0.6);
    if (Boxed(g, row)) {
      AddBox(chart, g.finals[row], at, fill, x, y, *dots);
    } else {
      for (size_t r = 0; r < n; ++r) {
        // Spread evenly across the group's place, so equal values stay apart.
        const double offset = n > 1 ? kJitter * (2.0 * static_cast<double>(r) / static_cast<double>(n - 1) - 1.0) : 0;
        dots->append(at + offset, g.finals[row][r]);
      }
    }
    dots->setBrush(fill);
    dots->setPen(QPen(g.colour, 1));
    dots->setMarkerSize(9);
    Attach(chart, dots, x, y);
    const TEstimate& e = g.finalEstimates[row];
    const QPen bar(Qt::black, 2.5);
    if (e.n == 0) continue;
    Attach(chart, Line({{at - 0.22, e.mean}, {at + 0.22, e.mean}}, bar), x, y);
    if (e.low && e.high) {
      Attach(chart, Line({{at, *e.low}, {at, *e.high}}, bar), x, y);
      for (double end : {*e.low, *e.high}) Attach(chart, Line({{at - 0.1, end}, {at + 0.1, end}}, bar), x, y);
    }
  }
  chart->legend()->setVisible(false);
}

QString NumberText(double value) { return QLocale::c().toString(value, 'f', 0); }

// --- The gene figure of a run ---

using TGeneLines = std::array<std::vector<QPointF>, kGenes>;

// The steps and the largest value the lines of the gene figure reach.
struct TGeneExtent {
  double first = 0;
  double last = 0;
  double yMax = 1;
};

TGeneExtent GeneExtent(std::initializer_list<TGeneLines> lineSets) {
  TGeneExtent e{std::numeric_limits<double>::max(), 0, 1};
  for (const auto& lines : lineSets) {
    for (const auto& line : lines) {
      for (const QPointF& p : line) {
        e.first = std::min(e.first, p.x());
        e.last = std::max(e.last, p.x());
        e.yMax = std::max(e.yMax, p.y());
      }
    }
  }
  if (e.first > e.last) e.first = e.last = 0;
  return e;
}

// The seed and what differs from a new window's settings, and the run
// continued, if any.
QString GeneCaption(const TRunData& run, const std::optional<TRunData>& parent, const TSettingValues& defaults) {
  const TRunSpec& spec = run.record.spec;
  QStringList differ;
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (spec.settings[i] == defaults[i]) continue;
    differ << QStringLiteral("%1 %2 (default %3)")
                  .arg(QLatin1String(specs[i].option), FormatSettingValue(specs[i], spec.settings[i]),
                       FormatSettingValue(specs[i], defaults[i]));
  }
  QString caption = QStringLiteral("seed %1; %2")
                        .arg(spec.seed)
                        .arg(differ.isEmpty() ? QStringLiteral("default settings") : differ.join(QStringLiteral(", ")));
  if (!spec.fromPath.isEmpty()) {
    caption +=
        QStringLiteral("\ncontinues %1 from step %2")
            .arg(parent ? QStringLiteral("run ") + parent->folder : spec.fromPath, NumberText(run.record.startStep));
    if (spec.branchSeed) caption += QStringLiteral(", reseeds from seed %1").arg(spec.seed);
  }
  return caption;
}

// --- The histogram figure ---

// The steps the heat maps span: each sample's column reaches to the next sample.
struct TStepSpan {
  double first = 0;
  double end = 0;
};

TStepSpan HistogramSpan(const std::vector<THistogramSample>& samples) {
  const double first = samples.empty() ? 0 : samples.front().step;
  const double spacing = samples.size() > 1 ? (samples.back().step - first) / static_cast<double>(samples.size() - 1)
                                            : static_cast<double>(TModelShape::kSampleInterval);
  return {first, (samples.empty() ? first : samples.back().step) + spacing};
}

// A sample's share of the agents in each row of a gene's heat map.
std::array<double, kHeatRows> BinnedShares(const THistogramSample& sample, size_t gene) {
  std::array<double, kHeatRows> shares{};
  const auto& counts = sample.counts[gene];
  const int64_t total = std::accumulate(counts.begin(), counts.end(), int64_t{0});
  for (int32_t v = 0; v < kGeneValues && total > 0; ++v)
    shares[v / kGeneBin] += static_cast<double>(counts[v]) / static_cast<double>(total);
  return shares;
}

double LargestShare(const std::vector<THistogramSample>& samples) {
  double top = 0;
  for (const THistogramSample& sample : samples) {
    for (size_t g = 0; g < kGenes; ++g) {
      for (double share : BinnedShares(sample, g)) top = std::max(top, share);
    }
  }
  return top;
}

// Every sample a column, every kGeneBin gene values a row (the highest at
// the top); the colour by the share of the agents on a square-root scale,
// so a thin spread still shows, darkest at the largest share, white at none.
QImage HeatMap(const std::vector<THistogramSample>& samples, size_t gene, double top) {
  QImage map(static_cast<int>(std::max<size_t>(samples.size(), 1)), kHeatRows, QImage::Format_RGB32);
  map.fill(Qt::white);
  for (size_t s = 0; s < samples.size(); ++s) {
    const auto shares = BinnedShares(samples[s], gene);
    for (int32_t row = 0; row < kHeatRows; ++row) {
      if (shares[row] > 0) {
        const QColor colour = Viridis(kScaleEnd * (1.0 - std::sqrt(shares[row] / top)));
        map.setPixelColor(static_cast<int>(s), kHeatRows - 1 - row, colour);
      }
    }
  }
  return map;
}

// A gene's chart and the invisible series that carries its axes and places its map.
struct THeatChart {
  QChart* chart = nullptr;
  QLineSeries* carrier = nullptr;
};

THeatChart AddHeatChart(TFigure& figure, size_t gene, const TStepSpan& span) {
  QChart* chart = figure.AddChart(
      {0, kHistogramTop + static_cast<double>(gene) * kHistogramRowHeight, kRunWidth - kKeyRoom, kHistogramRowHeight});
  StyleChart(chart, QLatin1String(kGeneNames[gene]));
  QValueAxis* x = AddValueAxis(chart, Qt::AlignBottom, QStringLiteral("step"), span.first, span.end);
  x->applyNiceNumbers();
  QValueAxis* y = AddValueAxis(chart, Qt::AlignLeft, QStringLiteral("%1 value").arg(kGeneNames[gene]), 0, kGeneValues);
  auto* carrier = Line({{span.first, 0}, {span.end, 0}}, Qt::NoPen);
  Attach(chart, carrier, x, y);
  chart->legend()->setVisible(false);
  return {chart, carrier};
}

// Stretches the map over the plot area of its laid out chart.
void PlaceHeatMap(TFigure& figure, const THeatChart& heat, const TStepSpan& span, const QImage& map) {
  const QRectF area(heat.chart->mapToPosition({span.first, static_cast<double>(kGeneValues)}, heat.carrier),
                    heat.chart->mapToPosition({span.end, 0}, heat.carrier));
  auto* item = figure.Scene().addPixmap(QPixmap::fromImage(map));
  item->setTransformationMode(Qt::FastTransformation);
  item->setPos(heat.chart->mapToScene(area.topLeft()));
  item->setTransform(QTransform::fromScale(area.width() / map.width(), area.height() / map.height()));
}

void AddColourKey(TFigure& figure, double top) {
  QImage key(1, kKeySteps, QImage::Format_RGB32);
  for (int i = 0; i < kKeySteps; ++i) key.setPixelColor(0, i, Viridis(kScaleEnd * i / (kKeySteps - 1.0)));
  auto* keyItem = figure.Scene().addPixmap(QPixmap::fromImage(key));
  const double keyLeft = kRunWidth - kKeyInset;
  const double keyTop = kHistogramTop + kKeyDrop;
  keyItem->setPos(keyLeft, keyTop);
  keyItem->setTransform(QTransform::fromScale(kKeyWidth, kKeyStepHeight));
  figure.AddText(QStringLiteral("%1 %").arg(top * 100, 0, 'f', 0), {keyLeft + kKeyLabelGap, keyTop - kKeyTopLabelRise},
                 kAxisPixels);
  figure.AddText(QStringLiteral("few"), {keyLeft + kKeyLabelGap, keyTop + kKeyHeight - kKeyBottomLabelRise},
                 kAxisPixels);
  figure.AddText(QStringLiteral("share of\nthe agents\nin %1 values\n(square\nroot scale)").arg(kGeneBin),
                 {keyLeft - kKeyNoteOutdent, keyTop + kKeyHeight + kKeyNoteDrop}, kAxisPixels);
}

}  // namespace

TFigure::TFigure(int width, int height)
    : size_(width, height),
      scene_(std::make_unique<QGraphicsScene>(0, 0, width, height)),
      view_(std::make_unique<QGraphicsView>(scene_.get())) {
  scene_->setBackgroundBrush(Qt::white);
  view_->setAttribute(Qt::WA_DontShowOnScreen);
  view_->setRenderHint(QPainter::Antialiasing, true);
  view_->resize(width, height);
}

TFigure::~TFigure() = default;

QChart* TFigure::AddChart(const QRectF& where) {
  auto* chart = new QChart();
  scene_->addItem(chart);
  chart->setGeometry(where);
  charts_.push_back(chart);
  return chart;
}

void TFigure::AddText(const QString& text, QPointF where, int pixelSize, bool bold) {
  QGraphicsSimpleTextItem* item = scene_->addSimpleText(text, Font(pixelSize, bold));
  item->setPos(where);
}

void TFigure::Layout() {
  view_->show();
  QApplication::sendPostedEvents();
  QApplication::processEvents();
}

TStatus TFigure::Save(const QString& pngPath, const QString& svgPath) {
  Layout();
  const QRectF page(QPointF(0, 0), QSizeF(size_));
  QImage image(size_, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    scene_->render(&painter, page, page);
  }
  if (TStatus saved = SavePng(image, pngPath); !saved) return saved;
  QByteArray svg;
  QBuffer buffer(&svg);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size_);
  generator.setResolution(kSvgDotsPerInch);
  generator.setViewBox(page);
  generator.setTitle(QFileInfo(svgPath).completeBaseName());
  {
    QPainter painter(&generator);
    scene_->render(&painter, page, page);
  }
  return SaveBytes(svg, svgPath);
}

std::array<std::vector<QPointF>, 2> GenePoints(const TSeries& series, std::optional<int32_t> last) {
  std::array<std::vector<QPointF>, 2> points;
  const qsizetype step = series.Column(TSeriesColumn::kStep);
  for (size_t r = 0; r < series.rows.size(); ++r) {
    const double at = series.Number(r, step).value_or(0);
    if (last && at > *last) break;
    for (size_t g = 0; g < kGeneColumns.size(); ++g) {
      if (const auto v = series.Number(r, series.Column(kGeneColumns[g]))) points[g].emplace_back(at, *v);
    }
  }
  return points;
}

QColor ValueColour(const TSettingSpec& spec, int32_t value) {
  double t = 0;
  switch (spec.kind) {
    case TSettingKind::kHundredths: t = value / 100.0; break;
    case TSettingKind::kFlag:
    case TSettingKind::kSniff: t = value != 0 ? 1.0 : 0.0; break;
    case TSettingKind::kWhole: {
      // Wide ranges (agents) on a logarithmic scale, so that common values differ.
      const double span = static_cast<double>(spec.max) - spec.min;
      const double from = static_cast<double>(value) - spec.min;
      t = span <= 1000 ? from / std::max(span, 1.0) : std::log1p(from) / std::log1p(span);
      break;
    }
  }
  return Viridis(t * kScaleEnd);
}

QColor RankColour(size_t rank, size_t count) {
  return Viridis(count > 1 ? kScaleEnd * static_cast<double>(rank) / static_cast<double>(count - 1) : 0.0);
}

std::unique_ptr<TFigure> BuildSummaryFigure(const TSummaryFigure& s) {
  auto figure =
      std::make_unique<TFigure>(kSummaryWidth, kSummaryTop + static_cast<int>(kSummaryRows) * kSummaryRowHeight);
  figure->AddText(s.title, kTitleAt, kTitlePixels, true);
  if (!s.subtitle.isEmpty()) figure->AddText(s.subtitle, kTitleAt + QPointF(0, kTitlePixels + 12), kCaptionPixels);
  for (size_t row = 0; row < kSummaryRows; ++row) {
    const double top = kSummaryTop + static_cast<double>(row) * kSummaryRowHeight;
    const double yMax = RowMaximum(s, row);
    AddTimePanel(figure->AddChart({0, top, kSummaryTimeWidth, kSummaryRowHeight}), s, row, yMax);
    AddFinalPanel(figure->AddChart({kSummaryTimeWidth, top, kSummaryWidth - kSummaryTimeWidth, kSummaryRowHeight}), s,
                  row, yMax);
  }
  return figure;
}

std::unique_ptr<TFigure> BuildGeneFigure(const TRunData& run, const std::optional<TRunData>& parent,
                                         const TSettingValues& defaults) {
  auto figure = std::make_unique<TFigure>(kRunWidth, kRunHeight);
  QChart* chart = figure->AddChart({0, 0, kRunWidth, kRunHeight - kRunCaptionHeight});
  StyleChart(chart, QStringLiteral("Mean genes of all agents"));
  const int32_t branchStep = run.record.startStep;
  const TGeneLines before = parent ? GenePoints(parent->series, branchStep) : TGeneLines{};
  const TGeneLines own = GenePoints(run.series);
  const TGeneExtent extent = GeneExtent({before, own});
  QValueAxis* x = AddValueAxis(chart, Qt::AlignBottom, QStringLiteral("step"), extent.first,
                               std::max(extent.last, extent.first + 1));
  x->applyNiceNumbers();
  QValueAxis* y = AddValueAxis(chart, Qt::AlignLeft, QStringLiteral("mean gene of all agents"), 0,
                               std::min(NiceCeiling(extent.yMax * 1.05), kGeneMax + 1));
  const std::array<QColor, kGenes> colours{kAngleColour, kWiggleColour};
  for (size_t g = 0; g < kGenes; ++g) {
    if (parent) {
      QPen pen(colours[g].lighter(kLighter), 2);
      Attach(chart,
             Line(before[g], pen, QStringLiteral("%1, run %2 before the branch").arg(kGeneNames[g], parent->folder)), x,
             y);
    }
    Attach(chart, Line(own[g], QPen(colours[g], 2), QLatin1String(kGeneNames[g])), x, y);
  }
  chart->legend()->setAlignment(Qt::AlignTop);
  figure->AddText(GeneCaption(run, parent, defaults), {16, kRunHeight - kRunCaptionHeight + 6.0}, kCaptionPixels);
  return figure;
}

std::unique_ptr<TFigure> BuildHistogramFigure(uint32_t seed, const std::vector<THistogramSample>& samples) {
  auto figure = std::make_unique<TFigure>(kRunWidth, kHistogramTop + 2 * kHistogramRowHeight);
  figure->AddText(
      QStringLiteral("Distribution of the genes over the run of seed %1: share of the agents by gene value").arg(seed),
      kTitleAt, kHistogramTitlePixels, true);
  const TStepSpan span = HistogramSpan(samples);
  const double top = LargestShare(samples);
  std::array<THeatChart, kGenes> charts{};
  for (size_t g = 0; g < kGenes; ++g) charts[g] = AddHeatChart(*figure, g, span);
  figure->Layout();  // the maps go where the charts' plot areas are laid out
  for (size_t g = 0; g < kGenes; ++g) PlaceHeatMap(*figure, charts[g], span, HeatMap(samples, g, top));
  AddColourKey(*figure, top);
  return figure;
}

TStatus WriteRunFigures(const QString& dir, const TRunRecord& record, const TSettingValues& defaults) {
  const QDir folder(dir);
  TRunData run;
  run.path = folder.absolutePath();
  run.record = record;
  TResult<TSeries> series = ReadSeries(folder.filePath(QLatin1String(kSeriesName)));
  if (!series) return series.Error();
  run.series = std::move(*series);
  const auto parent = FindParent(run.record, defaults);
  if (TStatus saved = BuildGeneFigure(run, parent, defaults)
                          ->Save(folder.filePath(QLatin1String(kGeneChartPngName)),
                                 folder.filePath(QLatin1String(kGeneChartSvgName)));
      !saved) {
    return saved;
  }
  const QString histograms = folder.filePath(QLatin1String(kHistogramsName));
  if (!QFile::exists(histograms)) return Success();
  TResult<std::vector<THistogramSample>> samples = ReadHistograms(histograms);
  if (!samples) return samples.Error();
  return BuildHistogramFigure(record.spec.seed, *samples)
      ->Save(folder.filePath(QLatin1String(kHistogramChartPngName)),
             folder.filePath(QLatin1String(kHistogramChartSvgName)));
}
