// The figures of an exploration: a forest plot of the effects or indices,
// one panel per measure, and where the estimator made interactions the
// interaction plots of the strongest pairs.
#include "ExploreFigures.h"

#include <QCategoryAxis>
#include <QChart>
#include <QDir>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "ChartStyle.h"
#include "DesignKind.h"
#include "Figures.h"

namespace {

constexpr int kAxisPixels = 12;
constexpr int kTop = 60;
constexpr int kForestPanelWidth = 800;
constexpr int kRowPixels = 34;     // a term's row in a forest panel
constexpr int kPanelChrome = 150;  // a forest panel's title, axis and legend
constexpr int kMinForestPanel = 300;
constexpr int kPairPanelWidth = 540;
constexpr int kPairPanelHeight = 400;
constexpr size_t kStrongestPairs = 3;
constexpr double kMarkerSize = 10;
constexpr double kSpread = 0.36;  // the room a term's quantities share in its row
const QColor kZeroGrey(0x80, 0x80, 0x80);
// An arrowhead marking an interval's cut end: its length a share of the
// axis, its half height a share of a term's row.
constexpr double kArrowLength = 0.025;
constexpr double kArrowHalfHeight = 0.13;
// How far an axis goes on past the end of its quantities' range, as a share of its span.
constexpr double kRangeMargin = 0.04;

struct TQuantityStyle {
  const char* quantity;
  const char* words;
  QRgb colour;
};
constexpr std::array<TQuantityStyle, 10> kQuantities{
    {{"effect", "main effect", 0x1f5fa8},
     {"interaction", "interaction", 0xd95f0e},
     {"prcc", "partial rank correlation", 0x1f5fa8},
     {"S1", "first-order index S1", 0x1f5fa8},
     {"ST", "total index ST", 0xd95f0e},
     {"mu_star", "mu* (mean |effect|)", 0x1f5fa8},
     {"mu", "mu (mean effect)", 0x2a9d3a},
     {"sigma", "sigma (spread of the effects)", 0xd95f0e},
     {"noise_floor", "noise floor (|effect| of noise alone)", 0x808080},
     {kAnovaStatistic, "share of the variance", 0x1f5fa8}}};

size_t QuantityIndex(const QString& quantity) {
  for (size_t i = 0; i < kQuantities.size(); ++i) {
    if (quantity == QLatin1String(kQuantities[i].quantity)) return i;
  }
  return 0;
}

QLineSeries* Segment(QPointF from, QPointF to, const QPen& pen) {
  auto* line = new QLineSeries();
  line->append(from);
  line->append(to);
  line->setPen(pen);
  return line;
}

// The effects of one measure: its terms top to bottom, largest first.
struct TPanel {
  QString words;  // the measure's
  std::vector<QString> terms;
  std::vector<const TEffect*> effects;
  const TEffect* seedShare = nullptr;  // the seeds' share of the measure's variance, when measured
  size_t warnings = 0;
  // With the factors as categories (an ANOVA) each term's share is drawn,
  // and its label carries its p-value.
  bool categorical = false;
  std::map<QString, QString> pValues;  // per term: "p 0.005"
};

QString Percent(double share) { return QStringLiteral("%1 %").arg(100 * share, 0, 'f', 0); }

// A panel's title: the measure, the seeds' share and the warnings' count,
// and `cut` (what was drawn cut to its range) on a line of its own.
QString PanelTitle(const TPanel& panel, const QString& cut) {
  QString title = panel.words;
  QStringList under;
  if (panel.seedShare) {
    QString share = QStringLiteral("seeds' share of the variance %1").arg(Percent(panel.seedShare->estimate));
    if (panel.seedShare->low && panel.seedShare->high)
      share += QStringLiteral(" [%1, %2]").arg(Percent(*panel.seedShare->low), Percent(*panel.seedShare->high));
    under << share;
  }
  if (panel.warnings > 0)
    under << QStringLiteral("%1 (effects.csv)")
                 .arg(panel.warnings == 1 ? QStringLiteral("1 warning")
                                          : QStringLiteral("%1 warnings").arg(panel.warnings));
  if (!under.isEmpty()) title += QStringLiteral("<br>") + under.join(QStringLiteral("; "));
  return cut.isEmpty() ? title : title + QStringLiteral("<br>") + cut;
}

std::vector<TPanel> Panels(const TExploration& x) {
  std::vector<TPanel> panels;
  const auto order = ExploreTermOrder(x);
  for (size_t m = 0; m < order.size(); ++m) {
    if (order[m].empty()) continue;
    TPanel panel{x.measures[m].words, {}, {}};
    for (size_t i : order[m]) panel.terms.push_back(x.effects[i].term);
    for (const TEffect& e : x.effects) {
      if (e.measure != x.measures[m].name) continue;
      if (e.quantity == QLatin1String(kAnovaPValue)) {
        panel.pValues[e.term] =
            e.estimate < 0.001 ? QStringLiteral("p under 0.001") : QStringLiteral("p %1").arg(e.estimate, 0, 'f', 3);
        continue;
      }
      panel.categorical = panel.categorical || e.quantity == QLatin1String(kAnovaStatistic);
      if (IsTermQuantity(e.quantity))
        panel.effects.push_back(&e);
      else if (e.quantity == QLatin1String("seed_share"))
        panel.seedShare = &e;
      else if (e.quantity == QLatin1String("warning"))
        ++panel.warnings;
    }
    panels.push_back(std::move(panel));
  }
  return panels;
}

void AddForestPanel(QChart* chart, const TPanel& panel, const TDesignKind& design) {
  const auto rows = static_cast<double>(panel.terms.size());
  // Each term's row, from the top.
  std::map<QString, double> rowOf;
  for (size_t t = 0; t < panel.terms.size(); ++t) rowOf[panel.terms[t]] = rows - 1 - static_cast<double>(t);
  std::set<size_t> quantities;
  for (const TEffect* e : panel.effects) quantities.insert(QuantityIndex(e->quantity));
  // Quantities that share a column share a place in the row.
  const bool shared = quantities.size() > 1 && !*design.sharedColumn;
  // What a point stands at, as drawn: its estimate, or with the factors as
  // categories its term's share, each cut to its quantity's range.
  const auto drawn = [&](const TEffect* e) {
    if (panel.categorical)
      return DrawnEffect(QuantityRange(QStringLiteral("share")), e->share.value_or(0), std::nullopt, std::nullopt);
    return DrawnEffect(QuantityRange(e->quantity), e->estimate, e->low, e->high);
  };
  double low = 0, high = 0;
  // The ends of the ranges the drawn quantities lie in, and what was cut to them.
  double rangeLo = std::numeric_limits<double>::infinity(), rangeHi = -rangeLo;
  QStringList cutRanges;  // in words: "0 to 1"
  bool intervalCut = false, estimateCut = false;
  for (const TEffect* e : panel.effects) {
    const TDrawnEffect d = drawn(e);
    low = std::min({low, d.estimate, d.low.value_or(d.estimate)});
    high = std::max({high, d.estimate, d.high.value_or(d.estimate)});
    const TQuantityRange r = QuantityRange(e->quantity);
    rangeLo = std::min(rangeLo, r.lo);
    rangeHi = std::max(rangeHi, r.hi);
    if (d.lowCut || d.highCut || d.estimateCut) {
      const QString words = std::isfinite(r.hi) ? QStringLiteral("%1 to %2").arg(r.lo).arg(r.hi)
                                                : QStringLiteral("%1 and above").arg(r.lo);
      if (!cutRanges.contains(words)) cutRanges << words;
    }
    intervalCut = intervalCut || d.lowCut || d.highCut;
    estimateCut = estimateCut || d.estimateCut;
  }
  QStringList cut;
  if (intervalCut) cut << QStringLiteral("arrowheads: intervals cut at %1").arg(cutRanges.join(QStringLiteral(", ")));
  if (estimateCut) cut << QStringLiteral("hollow: estimates beyond");
  if (!cut.isEmpty()) cut << QStringLiteral("whole in effects.csv");
  StyleChart(chart, PanelTitle(panel, cut.join(QStringLiteral("; "))));
  chart->legend()->setAlignment(Qt::AlignBottom);
  const double pad = std::max(high - low, 1e-9) * 0.06;
  auto* x = new QValueAxis();
  if (panel.categorical) {
    x->setRange(0, std::min(1.0, high + pad));  // a share's scale
    x->applyNiceNumbers();
  } else if (design.correlationAxis) {
    x->setRange(-1, 1);  // a correlation's whole scale
  } else {
    x->setRange(low - pad, high + pad);
    x->applyNiceNumbers();
    // Nice numbers stop short of a bound's far side: the axis ends just
    // past the quantities' range, its ticks where the nice ones were.
    const double from = std::max(x->min(), rangeLo - kRangeMargin * (x->max() - x->min()));
    const double to = std::min(x->max(), rangeHi + kRangeMargin * (x->max() - x->min()));
    if (from != x->min() || to != x->max()) {
      const double step = (x->max() - x->min()) / (x->tickCount() - 1);
      x->setTickType(QValueAxis::TicksDynamic);
      x->setTickAnchor(0);
      x->setTickInterval(step);
      x->setRange(from, to);
    }
  }
  x->setTitleText(panel.categorical ? QStringLiteral("share of the variance (type II; factors as categories)")
                                    : QLatin1String(design.words.axis));
  x->setTitleFont(Font(kAxisPixels, true));
  x->setLabelsFont(Font(kAxisPixels));
  chart->addAxis(x, Qt::AlignBottom);
  auto* y = new QCategoryAxis();
  y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  y->setRange(-0.6, rows - 0.4);
  // A category axis takes its labels bottom up.
  for (auto term = panel.terms.rbegin(); term != panel.terms.rend(); ++term) {
    const auto p = panel.pValues.find(*term);
    y->append(ExploreTermWords(*term) + (p != panel.pValues.end() ? QStringLiteral(" (%1)").arg(p->second) : QString()),
              rowOf[*term]);
  }
  y->setLabelsFont(Font(kAxisPixels));
  y->setGridLineVisible(false);
  chart->addAxis(y, Qt::AlignLeft);
  Attach(chart, Segment({0, -0.6}, {0, rows - 0.4}, QPen(kZeroGrey, 1.5, Qt::DashLine)), x, y);
  HideFromLegend(chart, chart->series().back());
  // An arrowhead at a cut end of an interval, pointing where it goes on.
  const double headLength = kArrowLength * (x->max() - x->min());
  const auto arrowhead = [&](double tip, double at, double direction, const QColor& colour) {
    auto* head = new QLineSeries();
    head->append(tip - direction * headLength, at + kArrowHalfHeight);
    head->append(tip, at);
    head->append(tip - direction * headLength, at - kArrowHalfHeight);
    head->setPen(QPen(colour, 2.5));
    Attach(chart, head, x, y);
    HideFromLegend(chart, head);
  };
  size_t slot = 0;
  for (size_t q : quantities) {
    const double offset =
        shared ? kSpread * (static_cast<double>(slot++) / static_cast<double>(quantities.size() - 1) - 0.5) : 0.0;
    const QColor colour(kQuantities[q].colour);
    const auto markers = [&](const QString& name, const QColor& fill) {
      auto* dots = new QScatterSeries();
      dots->setName(name);
      dots->setMarkerSize(kMarkerSize);
      dots->setColor(fill);
      dots->setBorderColor(colour);
      return dots;
    };
    QScatterSeries* dots = markers(QLatin1String(kQuantities[q].words), colour);
    QScatterSeries* beyond = markers(QString(), Qt::white);  // the panel's title says what it means
    for (const TEffect* e : panel.effects) {
      if (QuantityIndex(e->quantity) != q) continue;
      const auto row = rowOf.find(e->term);
      if (row == rowOf.end()) continue;
      const double at = row->second - offset;  // the bottom row's second quantity sits below zero
      const TDrawnEffect d = drawn(e);
      (d.estimateCut ? beyond : dots)->append(d.estimate, at);
      if (d.low && d.high) {
        Attach(chart, Segment({*d.low, at}, {*d.high, at}, QPen(colour, 2.5)), x, y);
        HideFromLegend(chart, chart->series().back());
        // Each cut end points out of the range, the way the interval goes on.
        const double top = QuantityRange(e->quantity).hi;
        if (d.lowCut) arrowhead(*d.low, at, *d.low == top ? 1 : -1, colour);
        if (d.highCut) arrowhead(*d.high, at, *d.high == top ? 1 : -1, colour);
      }
    }
    Attach(chart, dots, x, y);
    // Drawn over the intervals, so that its white shows.
    if (beyond->count() > 0) {
      Attach(chart, beyond, x, y);
      HideFromLegend(chart, beyond);
    } else {
      delete beyond;
    }
  }
  chart->legend()->setVisible(quantities.size() > 1);
}

QString Path(const QString& dir, const char* name) { return QDir(dir).filePath(QLatin1String(name)); }

// --- Interaction plots ---

struct TPair {
  size_t measure = 0;  // its place among the exploration's measures
  QString words;       // the measure's
  size_t a = 0;        // setting indices
  size_t b = 0;
  double strength = 0;  // what the pairs are ordered by: |interaction|, or its share with the factors as categories
  QString said;         // the panel's words for it: "interaction 0.3", "interaction share 14 %, p 0.006"
};

// Per measure its strongest interactions, largest first.
std::vector<std::vector<TPair>> StrongestPairs(const TExploration& x) {
  std::vector<std::vector<TPair>> pairs(x.measures.size());
  for (const TEffect& e : x.effects) {
    const bool categorical = e.quantity == QLatin1String(kAnovaStatistic);
    if (e.quantity != QLatin1String("interaction") && !categorical) continue;
    const QStringList names = e.term.split(QLatin1Char(':'));
    const auto m = std::ranges::find(x.measures, e.measure, &TStudyMeasure::name);
    if (names.size() != 2 || m == x.measures.end()) continue;
    const auto a = FindSetting(names[0]);
    const auto b = FindSetting(names[1]);
    if (!a || !b) continue;
    const auto index = static_cast<size_t>(m - x.measures.begin());
    QString said = QStringLiteral("interaction %1").arg(e.estimate, 0, 'g', 3);
    if (categorical) {
      const auto p = std::ranges::find_if(x.effects, [&](const TEffect& f) {
        return f.measure == e.measure && f.term == e.term && f.quantity == QLatin1String(kAnovaPValue);
      });
      said = QStringLiteral("interaction share %1 %").arg(100 * e.share.value_or(0), 0, 'f', 1);
      if (p != x.effects.end()) said += QStringLiteral(", p %1").arg(p->estimate, 0, 'f', 3);
    }
    pairs[index].push_back({index, m->words, *a, *b, categorical ? e.share.value_or(0) : std::abs(e.estimate), said});
  }
  for (auto& list : pairs) {
    std::stable_sort(list.begin(), list.end(), [](const TPair& p, const TPair& q) { return p.strength > q.strength; });
    if (list.size() > kStrongestPairs) list.resize(kStrongestPairs);
  }
  return pairs;
}

void AddPairPanel(QChart* chart, const TPair& pair, const std::vector<TRunMeasures>& runs) {
  const auto specs = SettingSpecs();
  // The legend names the lines by their values alone: the title says whose they are.
  StyleChart(chart, QStringLiteral("%1 × %2<br>%3<br>a line per %2")
                        .arg(SettingCaption(specs[pair.a]), SettingCaption(specs[pair.b]), pair.said));
  chart->legend()->setAlignment(Qt::AlignBottom);
  // The mean of the measure at each pair of levels, over the other factors and the seeds.
  std::map<int32_t, std::map<int32_t, std::pair<double, int>>> means;  // b level, a level
  std::set<int32_t> aLevels;
  for (const TRunMeasures& run : runs) {
    if (pair.measure >= run.values.size()) continue;
    const auto& v = run.values[pair.measure];
    if (!v || !std::isfinite(*v)) continue;
    auto& cell = means[run.settings[pair.b]][run.settings[pair.a]];
    cell.first += *v;
    ++cell.second;
    aLevels.insert(run.settings[pair.a]);
  }
  auto* x = new QCategoryAxis();
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  std::map<int32_t, double> placeOf;
  for (int32_t level : aLevels) {
    const auto at = static_cast<double>(placeOf.size());
    placeOf[level] = at;
    x->append(FormatSettingValue(specs[pair.a], level), at);
  }
  x->setRange(-0.3, std::max(static_cast<double>(aLevels.size()) - 0.7, 0.3));
  x->setTitleText(SettingCaption(specs[pair.a]));
  x->setTitleFont(Font(kAxisPixels, true));
  x->setLabelsFont(Font(kAxisPixels));
  chart->addAxis(x, Qt::AlignBottom);
  double low = std::numeric_limits<double>::max(), high = std::numeric_limits<double>::lowest();
  for (const auto& [b, row] : means) {
    for (const auto& [a, cell] : row) {
      low = std::min(low, cell.first / cell.second);
      high = std::max(high, cell.first / cell.second);
    }
  }
  if (low > high) low = high = 0;
  const double pad = std::max(high - low, 1e-9) * 0.1;
  auto* y = new QValueAxis();
  y->setRange(low - pad, high + pad);
  y->applyNiceNumbers();
  y->setTitleText(pair.words);
  y->setTitleFont(Font(kAxisPixels, true));
  y->setLabelsFont(Font(kAxisPixels));
  chart->addAxis(y, Qt::AlignLeft);
  for (const auto& [b, row] : means) {
    const QColor colour = ValueColour(specs[pair.b], b);
    auto* line = new QLineSeries();
    line->setName(FormatSettingValue(specs[pair.b], b));
    line->setPen(QPen(colour, 2.5));
    line->setPointsVisible(true);
    for (const auto& [a, cell] : row) line->append(placeOf[a], cell.first / cell.second);
    Attach(chart, line, x, y);
  }
}

// --- Convergence ---

constexpr int kConvergencePanelWidth = 640;
constexpr int kConvergencePanelHeight = 380;

// One measure's main quantity against the rows used: a line per term, its
// intervals as bars, the rows on a log scale of base 2 (each prefix halves).
void AddConvergencePanel(QChart* chart, const TStudyMeasure& measureOf, const QString& quantity,
                         const std::vector<TConvergence>& rows, const QString& rowsWord, const TDesignKind& design) {
  const QString& measure = measureOf.name;
  StyleChart(chart, measureOf.words);
  chart->legend()->setAlignment(Qt::AlignBottom);
  std::vector<QString> terms;
  double low = 0, high = 0, fewest = std::numeric_limits<double>::max(), most = 0;
  for (const TConvergence& c : rows) {
    if (c.measure != measure || c.quantity != quantity) continue;
    if (std::find(terms.begin(), terms.end(), c.term) == terms.end()) terms.push_back(c.term);
    low = std::min({low, c.estimate, c.low.value_or(c.estimate)});
    high = std::max({high, c.estimate, c.high.value_or(c.estimate)});
    fewest = std::min(fewest, static_cast<double>(c.rows));
    most = std::max(most, static_cast<double>(c.rows));
  }
  if (terms.empty()) return;
  auto* x = new QLogValueAxis();
  x->setBase(2);
  x->setLabelFormat(QStringLiteral("%d"));
  x->setRange(fewest / 1.3, most * 1.3);
  x->setTitleText(QStringLiteral("%1 of the design used (its first)").arg(rowsWord));
  x->setTitleFont(Font(kAxisPixels, true));
  x->setLabelsFont(Font(kAxisPixels));
  chart->addAxis(x, Qt::AlignBottom);
  const double pad = std::max(high - low, 1e-9) * 0.06;
  auto* y = new QValueAxis();
  y->setRange(low - pad, high + pad);
  y->applyNiceNumbers();
  y->setTitleText(QStringLiteral("%1, 95 % interval").arg(quantity));
  y->setTitleFont(Font(kAxisPixels, true));
  y->setLabelsFont(Font(kAxisPixels));
  chart->addAxis(y, Qt::AlignLeft);
  if (design.correlationAxis || quantity == QLatin1String("S1") || quantity == QLatin1String("ST")) {
    for (const double bound : {0.0, 1.0}) {
      Attach(chart, Segment({fewest / 1.3, bound}, {most * 1.3, bound}, QPen(kZeroGrey, 1, Qt::DashLine)), x, y);
      HideFromLegend(chart, chart->series().back());
    }
  }
  for (size_t t = 0; t < terms.size(); ++t) {
    const QColor colour = RankColour(t, terms.size());
    auto* line = new QLineSeries();
    line->setName(ExploreTermWords(terms[t]));
    line->setPen(QPen(colour, 2.5));
    line->setPointsVisible(true);
    // Terms side by side at each count of rows, so that their bars do not overlap.
    const double nudge = std::pow(1.04, static_cast<double>(t) - (static_cast<double>(terms.size()) - 1) / 2);
    for (const TConvergence& c : rows) {
      if (c.measure != measure || c.quantity != quantity || c.term != terms[t]) continue;
      const double at = static_cast<double>(c.rows) * nudge;
      line->append(at, c.estimate);
      if (c.low && c.high) {
        Attach(chart, Segment({at, *c.low}, {at, *c.high}, QPen(colour, 1.5)), x, y);
        HideFromLegend(chart, chart->series().back());
      }
    }
    Attach(chart, line, x, y);
  }
}

TStatus WriteConvergenceFigure(const QString& dir, const TExploration& exploration, const TDesignKind& design) {
  const QString quantity = QLatin1String(design.mainQuantity);
  std::vector<const TStudyMeasure*> measures;
  for (const TStudyMeasure& measure : exploration.measures) {
    if (std::ranges::any_of(exploration.convergence,
                            [&](const TConvergence& c) { return c.quantity == quantity && c.measure == measure.name; }))
      measures.push_back(&measure);
  }
  if (measures.empty()) return Success();
  const int columns = measures.size() > 1 ? 2 : 1;
  const auto rows = static_cast<int>((measures.size() + 1) / static_cast<size_t>(columns));
  TFigure figure(columns * kConvergencePanelWidth, kTop + rows * kConvergencePanelHeight);
  figure.AddText(QStringLiteral("Convergence: %1 of each term against the %2 used").arg(quantity, exploration.rowsWord),
                 {16, 10}, kTitlePixels, true);
  figure.AddText(QStringLiteral("each point the design's first %1; bars the 95 % intervals; convergence.csv holds "
                                "every quantity")
                     .arg(exploration.rowsWord),
                 {16, 34}, kAxisPixels + 1);
  for (size_t i = 0; i < measures.size(); ++i) {
    const int column = static_cast<int>(i) % columns;
    const int row = static_cast<int>(i) / columns;
    AddConvergencePanel(figure.AddChart({static_cast<double>(column * kConvergencePanelWidth),
                                         static_cast<double>(kTop + row * kConvergencePanelHeight),
                                         kConvergencePanelWidth, kConvergencePanelHeight}),
                        *measures[i], quantity, exploration.convergence, exploration.rowsWord, design);
  }
  return figure.Save(Path(dir, kConvergencePngName), Path(dir, kConvergenceSvgName));
}

}  // namespace

TDrawnEffect DrawnEffect(const TQuantityRange& range, double estimate, std::optional<double> low,
                         std::optional<double> high) {
  TDrawnEffect d;
  d.estimate = std::clamp(estimate, range.lo, range.hi);
  d.estimateCut = d.estimate != estimate;
  if (low && high) {
    d.low = std::clamp(*low, range.lo, range.hi);
    d.high = std::clamp(*high, range.lo, range.hi);
    d.lowCut = *d.low != *low;
    d.highCut = *d.high != *high;
  }
  return d;
}

TStatus WriteEffectFigures(const QString& dir, const TExploration& exploration, const std::vector<TRunMeasures>& runs) {
  const std::vector<TPanel> panels = Panels(exploration);
  const TDesignKind* design = FindDesignKind(exploration.analysis);
  if (panels.empty() || !design) return Success();
  const int columns = panels.size() > 1 ? 2 : 1;
  const auto rows = static_cast<int>((panels.size() + static_cast<size_t>(columns) - 1) / static_cast<size_t>(columns));
  size_t terms = 0;
  for (const TPanel& p : panels) terms = std::max(terms, p.terms.size());
  const int panelHeight = std::max(kMinForestPanel, kPanelChrome + kRowPixels * static_cast<int>(terms));
  {
    TFigure figure(columns * kForestPanelWidth, kTop + rows * panelHeight);
    figure.AddText(QStringLiteral("%1 of %2 runs").arg(QLatin1String(design->words.analysis)).arg(runs.size()),
                   {16, 10}, kTitlePixels, true);
    figure.AddText(QStringLiteral("the largest first in each panel"), {16, 34}, kAxisPixels + 1);
    for (size_t i = 0; i < panels.size(); ++i) {
      const int column = static_cast<int>(i) % columns;
      const int row = static_cast<int>(i) / columns;  // panels fill the grid row by row
      AddForestPanel(figure.AddChart({static_cast<double>(column * kForestPanelWidth),
                                      static_cast<double>(kTop + row * panelHeight), kForestPanelWidth,
                                      static_cast<double>(panelHeight)}),
                     panels[i], *design);
    }
    if (TStatus saved = figure.Save(Path(dir, kEffectsPngName), Path(dir, kEffectsSvgName)); !saved) return saved;
  }
  if (TStatus drawn = WriteConvergenceFigure(dir, exploration, *design); !drawn) return drawn;
  // The interaction plots, when the estimator made interactions.
  const auto pairs = StrongestPairs(exploration);
  size_t width = 0, height = 0;
  for (const auto& list : pairs) {
    width = std::max(width, list.size());
    height += list.empty() ? 0 : 1;
  }
  if (width == 0) return Success();
  TFigure figure(static_cast<int>(width) * kPairPanelWidth, kTop + static_cast<int>(height) * kPairPanelHeight);
  figure.AddText(QStringLiteral("Interaction plots"), {16, 10}, kTitlePixels, true);
  figure.AddText(QStringLiteral("each measure's mean at the levels of one factor,\na line per level of the other; "
                                "parallel lines: no interaction"),
                 {16, 32}, kAxisPixels + 1);
  double top = kTop;
  for (const auto& list : pairs) {
    if (list.empty()) continue;
    for (size_t i = 0; i < list.size(); ++i)
      AddPairPanel(figure.AddChart({static_cast<double>(i) * kPairPanelWidth, top, kPairPanelWidth, kPairPanelHeight}),
                   list[i], runs);
    top += kPairPanelHeight;
  }
  return figure.Save(Path(dir, kInteractionsPngName), Path(dir, kInteractionsSvgName));
}
