// The figures of runs and sweeps, drawn with Qt Charts on a scene that is
// never shown on a screen, saved as PNG and as SVG.
#pragma once

#include <QColor>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPointF>
#include <QString>
#include <array>
#include <memory>
#include <vector>

#include "Result.h"
#include "RunData.h"
#include "SeriesColumns.h"
#include "Settings.h"
#include "Statistics.h"

class QChart;

// One figure: charts and captions at fixed places on a white page.
class TFigure {
 public:
  TFigure(int width, int height);
  ~TFigure();
  QChart* AddChart(const QRectF& where);
  void AddText(const QString& text, QPointF where, int pixelSize, bool bold = false);
  // Lays the charts out (their plot areas are known afterwards).
  void Layout();
  // Writes both files atomically.
  TStatus Save(const QString& pngPath, const QString& svgPath);
  const std::vector<QChart*>& Charts() const { return charts_; }
  QGraphicsScene& Scene() { return *scene_; }
  QSize Size() const { return size_; }

 private:
  QSize size_;
  std::unique_ptr<QGraphicsScene> scene_;
  std::unique_ptr<QGraphicsView> view_;  // lays the scene out, never on a screen
  std::vector<QChart*> charts_;          // owned by the scene
};

// The colour of a setting's value on the ordered scale of its whole range:
// the same value has the same colour in every figure.
QColor ValueColour(const TSettingSpec& spec, int32_t value);
// The colour of the `rank`-th of `count` values that occur, in their order:
// the values present spread over the whole scale, so each reads apart.
QColor RankColour(size_t rank, size_t count);

// --- The summary of a sweep ---

// The two genes the figures show, in their order: the chart's.
inline constexpr std::array kGeneColumns{TSeriesColumn::kAvgAngle, TSeriesColumn::kAvgWiggle};

struct TBandPoint {
  double step = 0;
  double mean = 0;
  double low = 0;  // the 95 % interval; the mean itself below two runs
  double high = 0;
};

// The summary figure's rows: the two genes, then the trips per 100 steps.
inline constexpr size_t kSummaryRows = kGeneColumns.size() + 1;

struct TFigureGroup {
  QString label;  // the group's varied values, "0.2" or "0.2, roulette"
  QColor colour;
  Qt::PenStyle style = Qt::SolidLine;
  std::array<std::vector<TBandPoint>, kSummaryRows> curves;  // per row, per sample step
  std::array<std::vector<double>, kSummaryRows> finals;      // per row, one value a run
  std::array<TEstimate, kSummaryRows> finalEstimates;
};

struct TSummaryFigure {
  QString title;
  QString subtitle;                             // a line under the title: how the lines group the runs
  QString varied;                               // the varied settings' names, the final panels' axis
  QString finalBasis;                           // what a run's final value is, for the axis title
  std::array<QStringList, kSummaryRows> notes;  // per row: the differences of the groups, if compared
  std::vector<TFigureGroup> groups;
  std::vector<std::array<std::vector<QPointF>, 2>> parents;  // histories the runs continue
};

// Per gene and for the trip rate a row: the group means over the steps with
// their bands, and the final values of every run by group with each group's
// mean and interval.
std::unique_ptr<TFigure> BuildSummaryFigure(const TSummaryFigure& summary);

// The chart's two genes of a series as points (step, value), per gene,
// up to step `last` when given.
std::array<std::vector<QPointF>, 2> GenePoints(const TSeries& series, std::optional<int32_t> last = std::nullopt);

// --- The figures of one run ---

// Gene means of the run (and of the run it continues, lighter, up to the
// branch point) with a caption naming the seed and the settings that differ
// from `defaults`.
std::unique_ptr<TFigure> BuildGeneFigure(const TRunData& run, const std::optional<TRunData>& parent,
                                         const TSettingValues& defaults);
// Per gene a heat map: share of the agents at each gene value (up) at each
// sample step (across); `seed` names the run.
std::unique_ptr<TFigure> BuildHistogramFigure(uint32_t seed, const std::vector<THistogramSample>& samples);

// The figures of the run in `dir` that `record` describes (its run.json
// may not be written yet): genes.png and genes.svg, and genes_hist.png and
// .svg when the run wrote histograms. They name no folder, so that a run
// repeated elsewhere draws the same bytes.
TStatus WriteRunFigures(const QString& dir, const TRunRecord& record, const TSettingValues& defaults);
