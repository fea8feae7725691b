#include "Summary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <map>
#include <set>

#include "Explore.h"
#include "Figures.h"
#include "FileSet.h"
#include "RunData.h"
#include "Statistics.h"

namespace {

constexpr int kDecimals = 4;
// Columns of series.csv whose last value (and window mean) summary.csv holds.
constexpr TSeriesColumn kFinalColumns[] = {
    TSeriesColumn::kAvgAngle,    TSeriesColumn::kAvgWiggle,   TSeriesColumn::kMeanAngle,  TSeriesColumn::kSdAngle,
    TSeriesColumn::kMeanWiggle,  TSeriesColumn::kSdWiggle,    TSeriesColumn::kTripsTotal, TSeriesColumn::kBirthsTotal,
    TSeriesColumn::kHeadingHome, TSeriesColumn::kVisibleCells};
// The measures of groups.csv's bands.
constexpr std::array kMeasures{TSeriesColumn::kAvgAngle, TSeriesColumn::kAvgWiggle, TSeriesColumn::kTrips};
// The rates summary.csv holds of every run, whatever the study's measures.
constexpr std::array kSummaryRates{TSeriesColumn::kTripsTotal, TSeriesColumn::kBirthsTotal};
constexpr const char* kSummaryRateNames[] = {"trip_rate", "birth_rate"};
static_assert(std::size(kSummaryRateNames) == kSummaryRates.size());
// The values the summary figure's rows can take: a gene's, and a rate's.
const TBounds kGeneBounds{0.0, static_cast<double>(kGeneValues - 1)};
const TBounds kRateBounds{0.0, std::nullopt};

// The place of `column` among the measures; kMeasures.size() when it is none.
constexpr size_t MeasureIndex(TSeriesColumn column) {
  size_t m = 0;
  while (m < kMeasures.size() && kMeasures[m] != column) ++m;
  return m;
}
// The figures' bands are those of the measures: each gene's measure, in the figures' order.
constexpr auto kGeneMeasures = [] {
  std::array<size_t, kGeneColumns.size()> at{};
  for (size_t g = 0; g < at.size(); ++g) at[g] = MeasureIndex(kGeneColumns[g]);
  return at;
}();
static_assert(std::ranges::all_of(kGeneMeasures, [](size_t m) { return m < kMeasures.size(); }),
              "every gene the figures show is one of the measures");

QString Name(TSeriesColumn column) { return SeriesColumnName(column); }
constexpr const char* kAllRuns = "all runs";

QString Number(double value) { return QString::number(value, 'f', kDecimals); }
QString Optional(const std::optional<double>& value) { return value ? Number(*value) : QString(); }
// A group's mean, absent when it has no values.
std::optional<double> Mean(const TEstimate& e) { return e.n > 0 ? std::optional<double>(e.mean) : std::nullopt; }

// The mean of a column over the last `window` rows that have a value.
std::optional<double> WindowMean(const TSeries& series, qsizetype column, int32_t window) {
  double sum = 0;
  int32_t n = 0;
  for (size_t r = series.rows.size(); r-- > 0 && n < window;) {
    if (const auto v = series.Number(r, column)) {
      sum += *v;
      ++n;
    }
  }
  return n > 0 ? std::optional<double>(sum / n) : std::nullopt;
}

// A cumulative column's growth per 100 steps over the last `window` samples:
// from the sample before them (the first sample, when the window reaches
// back to it) to the last, so that a window of K samples spans K sample
// intervals. Nothing without two samples that have the column.
std::optional<double> WindowRate(const TSeries& series, qsizetype at, int32_t window) {
  const qsizetype step = series.Column(TSeriesColumn::kStep);
  if (at < 0) return std::nullopt;
  std::optional<size_t> last;
  std::optional<size_t> base;
  int32_t spanned = 0;
  for (size_t r = series.rows.size(); r-- > 0 && spanned <= window;) {
    if (!series.Number(r, step) || !series.Number(r, at)) continue;
    if (!last) last = r;
    base = r;
    ++spanned;
  }
  if (!last || *base == *last) return std::nullopt;
  const double steps = *series.Number(*last, step) - *series.Number(*base, step);
  if (steps <= 0) return std::nullopt;
  return (*series.Number(*last, at) - *series.Number(*base, at)) * kRateSteps / steps;
}

// The settings that differ between runs, in the order of the settings.
std::vector<size_t> VariedSettings(const std::vector<TSettingValues>& runs) {
  std::vector<size_t> varied;
  for (size_t i = 0; i < kSettingCount; ++i) {
    for (const TSettingValues& run : runs) {
      if (run[i] != runs.front()[i]) {
        varied.push_back(i);
        break;
      }
    }
  }
  return varied;
}

// A run's values of the varied settings: "name=value ..." with their names,
// "value, ..." without.
QString GroupLabel(const std::vector<size_t>& varied, const TSettingValues& settings, bool withNames) {
  const auto specs = SettingSpecs();
  QStringList parts;
  for (size_t i : varied) {
    parts << (withNames ? QLatin1String(specs[i].option) + QLatin1Char('=') : QString()) +
                 FormatSettingValue(specs[i], settings[i]);
  }
  return parts.join(withNames ? QStringLiteral(" ") : QStringLiteral(", "));
}

// A run's final value of every measure: its last sample's, or the mean of
// its last `window` samples.
struct TBasis {
  const char* name;  // "last" or "window"
  int32_t window;    // samples averaged
};

// What is kept of a run once its series has been read, per basis (in the
// order of the bases): the study's measures, the chart's genes and the trip rate.
using TStudyValues = std::vector<std::optional<double>>;
struct TRunFinals {
  std::vector<TStudyValues> study;
  std::vector<std::array<std::optional<double>, kGeneColumns.size()>> genes;
  std::vector<std::optional<double>> tripRate;
};

// The bands of the tables and the figure at each sample step: the measures
// of groups.csv, then the trip rate since the sample before.
constexpr size_t kTripRateBand = kMeasures.size();
using TBands = std::array<TRunningEstimate, kMeasures.size() + 1>;
using TStepBands = std::map<int32_t, TBands>;

// The sweep as groups: runs that share every setting but the seed.
struct TSweep {
  std::vector<TRunFolder> runs;
  std::vector<size_t> varied;                                  // settings that differ between runs
  std::map<std::vector<int32_t>, std::vector<size_t>> groups;  // varied values -> runs, in value order
  QStringList groupOf;                                         // per run: its group, as SummaryGroups names it
  // Gathered as the runs' series are read, one at a time:
  std::vector<TRunFinals> finals;                           // per run
  std::map<std::vector<int32_t>, TStepBands> groupBands;    // per group
  std::vector<std::map<int32_t, TStepBands>> settingBands;  // per varied setting and value: its runs pooled
  std::vector<TRunMeasures> measures;                       // per run, as the exploration reads it
  std::vector<TSeriesMeasure> study;                        // the study's measures
};

TSweep Group(std::vector<TRunFolder> runs, std::vector<TSeriesMeasure> study) {
  TSweep sweep;
  sweep.runs = std::move(runs);
  sweep.study = std::move(study);
  std::vector<TSettingValues> settings;
  for (const TRunFolder& run : sweep.runs) settings.push_back(run.record.spec.settings);
  sweep.varied = VariedSettings(settings);
  sweep.groupOf = SummaryGroups(settings);
  for (size_t r = 0; r < sweep.runs.size(); ++r) {
    std::vector<int32_t> key;
    for (size_t i : sweep.varied) key.push_back(settings[r][i]);
    sweep.groups[key].push_back(r);
  }
  sweep.settingBands.resize(sweep.varied.size());
  return sweep;
}

// The columns of samples.csv after the run's own: every column of the series,
// in order of first appearance.
QStringList SampleColumns(const TSweep& sweep) {
  QStringList columns;
  for (const TRunFolder& run : sweep.runs) {
    for (const QString& column : run.header) {
      if (!columns.contains(column)) columns << column;
    }
  }
  return columns;
}

// A run's place in its sweep's design, as summary.csv and samples.csv hold
// it: the kind, the point's index and its role; empty cells without one.
QStringList DesignHeader() {
  return {QStringLiteral("design_kind"), QStringLiteral("design_point"), QStringLiteral("design_role")};
}
QStringList DesignCells(const std::optional<TDesignPoint>& design) {
  if (!design) return {QString(), QString(), QString()};
  return {design->kind, QString::number(design->point), design->role};
}

// The columns whose window mean summary.csv adds after the rates: every
// column of the series but the step and those of kFinalColumns, in the
// series' order, so that any measure of a study can be recomputed from it.
QStringList MoreWindowColumns() {
  QStringList columns = SeriesColumnNames();
  columns.removeAll(Name(TSeriesColumn::kStep));
  for (TSeriesColumn column : kFinalColumns) columns.removeAll(Name(column));
  return columns;
}

// summary.csv: a row per run with its last values and, after them, the
// means over the window, then the rates over the window, the run's place in
// its sweep's design (empty without one) and the window means of the other
// series columns.
QStringList SummaryHeader() {
  QStringList header{QStringLiteral("folder")};
  header << SettingColumns() << QStringLiteral("seed") << QStringLiteral("start_step")
         << QStringLiteral("steps_requested") << QStringLiteral("steps_done") << QStringLiteral("ended")
         << QStringLiteral("samples");
  for (TSeriesColumn column : kFinalColumns) header << QStringLiteral("final_") + Name(column);
  header << QStringLiteral("window");
  for (TSeriesColumn column : kFinalColumns) header << QStringLiteral("window_") + Name(column);
  for (const char* rate : kSummaryRateNames) header << QLatin1String(rate);
  header << DesignHeader();
  for (const QString& column : MoreWindowColumns()) header << QStringLiteral("window_") + column;
  return header;
}

QStringList SummaryRow(const TRunFolder& run, const TSeries& series, int32_t window) {
  const TRunRecord& r = run.record;
  QStringList row{run.folder};
  row << SettingCells(r.spec.settings) << QString::number(r.spec.seed) << QString::number(r.startStep)
      << QString::number(r.spec.steps) << QString::number(r.stepsRun) << r.ended << QString::number(r.samples);
  for (TSeriesColumn column : kFinalColumns) {
    const qsizetype at = series.Column(column);
    row << (at >= 0 && !series.rows.empty() ? series.rows.back()[at] : QString());
  }
  row << QString::number(std::max(window, 1));
  for (TSeriesColumn column : kFinalColumns) {
    row << Optional(WindowMean(series, series.Column(column), std::max(window, 1)));
  }
  for (TSeriesColumn total : kSummaryRates)
    row << Optional(WindowRate(series, series.Column(total), std::max(window, 1)));
  row << DesignCells(r.spec.design);
  for (const QString& column : MoreWindowColumns())
    row << Optional(WindowMean(series, series.Column(column), std::max(window, 1)));
  return row;
}

QStringList SamplesHeader(const QStringList& columns) { return SampleFrontHeader() << columns; }

// samples.csv's rows of one run, in long format.
TStatus AddSamples(const TSweep& sweep, size_t r, const TSeries& series, const QStringList& columns, TCsvFile& csv) {
  const TRunFolder& run = sweep.runs[r];
  const QStringList front = SampleFront(run.folder, sweep.groupOf[static_cast<qsizetype>(r)], run.record);
  std::vector<qsizetype> at;
  for (const QString& column : columns) at.push_back(series.Column(column));
  for (const QStringList& row : series.rows) {
    QStringList cells = front;
    for (qsizetype a : at) cells << (a >= 0 ? row[a] : QString());
    if (TStatus added = csv.Add(cells); !added) return added;
  }
  return Success();
}

// Adds a run's samples to the bands of each step.
void AddBands(const TSeries& series, const std::vector<TStepBands*>& into) {
  const qsizetype step = series.Column(TSeriesColumn::kStep);
  const qsizetype total = series.Column(TSeriesColumn::kTripsTotal);
  std::array<qsizetype, kMeasures.size()> columns{};
  for (size_t m = 0; m < kMeasures.size(); ++m) columns[m] = series.Column(kMeasures[m]);
  std::optional<std::pair<double, double>> before;  // the previous sample's step and trips_total
  for (size_t row = 0; row < series.rows.size(); ++row) {
    const auto at = series.Number(row, step);
    if (!at) continue;
    std::array<std::optional<double>, kMeasures.size() + 1> values;
    for (size_t m = 0; m < kMeasures.size(); ++m) values[m] = series.Number(row, columns[m]);
    if (const auto trips = series.Number(row, total)) {
      if (before && *at > before->first)
        values[kTripRateBand] = (*trips - before->second) * kRateSteps / (*at - before->first);
      before.emplace(*at, *trips);
    }
    for (TStepBands* bands : into) {
      TBands& band = (*bands)[static_cast<int32_t>(*at)];
      for (size_t m = 0; m < values.size(); ++m) {
        if (values[m]) band[m].Add(*values[m]);
      }
    }
  }
}

// A study measure of a run over `window` samples, on the measure's scale.
std::optional<double> StudyValue(const TSeries& series, const TSeriesMeasure& measure, int32_t window) {
  const std::optional<double> raw = measure.kind == TMeasureKind::kRate
                                        ? WindowRate(series, series.Column(measure.column), window)
                                        : WindowMean(series, series.Column(measure.column), window);
  return raw ? measure.Scaled(*raw) : std::nullopt;
}

// The study's measures of a run over `window` samples.
TStudyValues StudyValues(const TSeries& series, const std::vector<TSeriesMeasure>& study, int32_t window) {
  TStudyValues values;
  for (const TSeriesMeasure& measure : study) values.push_back(StudyValue(series, measure, window));
  return values;
}

// Reads the runs one at a time: each run's rows of summary.csv and
// samples.csv are written as it is read, and only its finals and its share
// of the bands are kept.
TStatus ReadRuns(TSweep& sweep, const std::vector<TBasis>& bases, int32_t window, TCsvFile& summary,
                 TCsvFile& samples) {
  const QStringList columns = SampleColumns(sweep);
  if (TStatus added = summary.Add(SummaryHeader()); !added) return added;
  if (TStatus added = samples.Add(SamplesHeader(columns)); !added) return added;
  std::vector<std::vector<int32_t>> keyOf(sweep.runs.size());
  for (const auto& [key, members] : sweep.groups) {
    for (size_t r : members) keyOf[r] = key;
  }
  sweep.finals.resize(sweep.runs.size());
  for (size_t r = 0; r < sweep.runs.size(); ++r) {
    const TRunFolder& run = sweep.runs[r];
    TResult<TSeries> read = ReadSeries(QDir(run.path).filePath(QLatin1String(kSeriesName)));
    if (!read) return read.Error();
    const TSeries& series = *read;
    TRunFinals& finals = sweep.finals[r];
    for (const TBasis& basis : bases) {
      finals.study.push_back(StudyValues(series, sweep.study, basis.window));
      finals.tripRate.push_back(WindowRate(series, series.Column(TSeriesColumn::kTripsTotal), basis.window));
      auto& genes = finals.genes.emplace_back();
      for (size_t g = 0; g < kGeneColumns.size(); ++g)
        genes[g] = WindowMean(series, series.Column(kGeneColumns[g]), basis.window);
    }
    if (TStatus added = summary.Add(SummaryRow(run, series, window)); !added) return added;
    if (TStatus added = AddSamples(sweep, r, series, columns, samples); !added) return added;
    std::vector<TStepBands*> into{&sweep.groupBands[keyOf[r]]};
    for (size_t p = 0; p < sweep.varied.size(); ++p) into.push_back(&sweep.settingBands[p][keyOf[r][p]]);
    AddBands(series, into);
    TRunMeasures& measures = sweep.measures.emplace_back();
    measures.folder = run.folder;
    measures.settings = run.record.spec.settings;
    measures.seed = run.record.spec.seed;
    measures.design = run.record.spec.design;
    measures.values = finals.study.back();
  }
  return Success();
}

// The values a band can take: a gene's, or a count's and a rate's (not below zero).
TBounds BandBounds(size_t band) {
  return band < kMeasures.size() && kMeasures[band] != TSeriesColumn::kTrips ? kGeneBounds : kRateBounds;
}

// A band's estimate with its interval cut to what the band can take: a t
// interval of a few runs near a bound would reach past it (counts below zero).
TEstimate Within(TEstimate e, const TBounds& bounds) {
  for (std::optional<double>* end : {&e.low, &e.high}) {
    if (!*end) continue;
    if (bounds.lowest) **end = std::max(**end, *bounds.lowest);
    if (bounds.highest) **end = std::min(**end, *bounds.highest);
  }
  return e;
}

QStringList EstimateCells(const TEstimate& e) {
  return {Optional(Mean(e)), Optional(e.sd), Optional(e.low), Optional(e.high)};
}

// groups.csv: per group and sample step, n and each measure's mean, sd and
// 95 % interval across the group's runs.
TStatus GroupsTable(const TSweep& sweep, TCsvFile& csv) {
  QStringList header{QStringLiteral("group")};
  header << SettingColumns() << QStringLiteral("step") << QStringLiteral("n");
  for (TSeriesColumn m : kMeasures) {
    for (const char* part : {"mean", "sd", "ci_low", "ci_high"}) {
      header << QStringLiteral("%1_%2").arg(Name(m), part);
    }
  }
  if (TStatus added = csv.Add(header); !added) return added;
  for (const auto& [key, members] : sweep.groups) {
    const QStringList front = QStringList{sweep.groupOf[static_cast<qsizetype>(members.front())]}
                              << SettingCells(sweep.runs[members.front()].record.spec.settings);
    for (const auto& [step, bands] : sweep.groupBands.at(key)) {
      QStringList row = front;
      row << QString::number(step) << QString::number(bands[0].Count());
      for (size_t m = 0; m < kMeasures.size(); ++m) row << EstimateCells(Within(bands[m].Estimate(), BandBounds(m)));
      if (TStatus added = csv.Add(row); !added) return added;
    }
  }
  return Success();
}

std::vector<double> Finals(const TSweep& sweep, const std::vector<size_t>& members, size_t measure, size_t basis) {
  std::vector<double> values;
  for (size_t r : members) {
    if (const auto& v = sweep.finals[r].study[basis][measure]) values.push_back(*v);
  }
  return values;
}

std::vector<double> TripRateFinals(const TSweep& sweep, const std::vector<size_t>& members, size_t basis) {
  std::vector<double> values;
  for (size_t r : members) {
    if (const auto& v = sweep.finals[r].tripRate[basis]) values.push_back(*v);
  }
  return values;
}

std::vector<double> GeneFinals(const TSweep& sweep, const std::vector<size_t>& members, size_t gene, size_t basis) {
  std::vector<double> values;
  for (size_t r : members) {
    if (const auto& v = sweep.finals[r].genes[basis][gene]) values.push_back(*v);
  }
  return values;
}

QString BasisText(const TBasis& basis) {
  return basis.window == 1 ? QStringLiteral("at the last sample")
                           : QStringLiteral("mean of the last %1 samples").arg(basis.window);
}

QString Interval(const std::optional<double>& value, const std::optional<double>& low,
                 const std::optional<double>& high) {
  if (!value) return QStringLiteral("no samples");
  if (!low || !high) return QStringLiteral("%1 (no interval)").arg(*value, 0, 'f', 2);
  return QStringLiteral("%1 [%2, %3]").arg(*value, 0, 'f', 2).arg(*low, 0, 'f', 2).arg(*high, 0, 'f', 2);
}

// One measure on one basis in comparison.csv and its text: each group's
// final mean with its interval (Student's t, or the bootstrap where t would
// leave what the measure can be), and each difference of neighbouring values
// with Welch's interval.
TStatus CompareGroups(const TSweep& sweep, size_t measure, const std::vector<TBasis>& bases, size_t b, TCsvFile& csv,
                      QString& text) {
  const TBasis& basis = bases[b];
  const TSettingSpec& spec = SettingSpecs()[sweep.varied.front()];
  const QString option = QLatin1String(spec.option);
  const QString& name = sweep.study[measure].study.name;
  text += QStringLiteral("%1, %2:\n").arg(name, BasisText(basis));
  const QStringList front{QLatin1String(spec.key), name, QLatin1String(basis.name), QString::number(basis.window)};
  std::optional<std::pair<QString, TEstimate>> previous;
  for (const auto& [key, members] : sweep.groups) {
    const QString value = FormatSettingValue(spec, key.front());
    const TEstimate e = BoundedEstimate(Finals(sweep, members, measure, b), sweep.study[measure].bounds);
    std::optional<double> df;
    if (e.n > 1 && e.method == std::string_view("t")) df = static_cast<double>(e.n - 1);
    const QString method = e.method ? QLatin1String(e.method) : QString();
    if (TStatus added =
            csv.Add(QStringList(front) << QStringLiteral("group") << value << QString() << QString::number(e.n)
                                       << QString() << Optional(Mean(e)) << Optional(e.sd) << Optional(e.se)
                                       << Optional(df) << Optional(e.low) << Optional(e.high) << method);
        !added) {
      return added;
    }
    text += QStringLiteral("  %1=%2: %3%4, n %5\n")
                .arg(option, value, Interval(Mean(e), e.low, e.high),
                     method == QLatin1String("bootstrap") ? QStringLiteral(" bootstrap") : QString())
                .arg(e.n);
    if (previous) {
      const TDifference d = Welch(previous->second, e);
      if (TStatus added = csv.Add(QStringList(front)
                                  << QStringLiteral("difference") << value << previous->first << QString::number(e.n)
                                  << QString::number(previous->second.n) << Optional(d.difference) << QString()
                                  << Optional(d.se) << Optional(d.df) << Optional(d.low) << Optional(d.high)
                                  << (d.low ? QStringLiteral("welch") : QString()));
          !added) {
        return added;
      }
      text += QStringLiteral("  %1 - %2: %3%4\n")
                  .arg(value, previous->first, Interval(d.difference, d.low, d.high),
                       d.df ? QStringLiteral(", Welch df %1").arg(*d.df, 0, 'f', 1) : QString());
    }
    previous.emplace(value, e);
  }
  return Success();
}

// comparison.csv and its text: every measure on every basis.
TStatus Compare(const TSweep& sweep, const std::vector<TBasis>& bases, TCsvFile& csv, QString& text) {
  if (TStatus added = csv.Add({"setting", "measure", "basis", "window", "kind", "value", "versus", "n", "versus_n",
                               "estimate", "sd", "se", "df", "ci_low", "ci_high", "method"});
      !added) {
    return added;
  }
  text = QStringLiteral(
             "%1: group means and differences with 95 % intervals (Student's t, or a bootstrap over the seeds where t "
             "would leave the measure's range; Welch for differences)\n")
             .arg(QLatin1String(SettingSpecs()[sweep.varied.front()].option));
  for (size_t measure = 0; measure < sweep.study.size(); ++measure) {
    for (size_t b = 0; b < bases.size(); ++b) {
      if (TStatus compared = CompareGroups(sweep, measure, bases, b, csv, text); !compared) return compared;
    }
  }
  return Success();
}

// --- The summary figure ---

// Lines a time panel can show apart; more groups are pooled by one setting.
constexpr size_t kReadableGroups = 8;
// Lines of pooled values past which the figure cannot be read (a drawn
// design gives every point values of its own): it is left out.
constexpr size_t kReadableValues = 12;

// The figure's row of a band: the chart's genes, then the trip rate.
constexpr size_t BandOfRow(size_t row) { return row < kGeneColumns.size() ? kGeneMeasures[row] : kTripRateBand; }

// One line of the figure: its mean genes and trip rate over time with their
// intervals, and its runs' final values.
TFigureGroup FigureGroup(const TSweep& sweep, const TStepBands& bands, const std::vector<size_t>& members, size_t b) {
  TFigureGroup group;
  for (const auto& [step, band] : bands) {
    for (size_t row = 0; row < kSummaryRows; ++row) {
      const TRunningEstimate& values = band[BandOfRow(row)];
      if (values.Count() == 0) continue;
      const TEstimate e = Within(values.Estimate(), BandBounds(BandOfRow(row)));
      group.curves[row].push_back({static_cast<double>(step), e.mean, e.low.value_or(e.mean), e.high.value_or(e.mean)});
    }
  }
  for (size_t row = 0; row < kSummaryRows; ++row) {
    const bool gene = row < kGeneColumns.size();
    group.finals[row] = gene ? GeneFinals(sweep, members, row, b) : TripRateFinals(sweep, members, b);
    group.finalEstimates[row] = BoundedEstimate(group.finals[row], gene ? kGeneBounds : kRateBounds);
  }
  return group;
}

// A second varied setting tells its values apart by the line's dashes.
std::map<int32_t, Qt::PenStyle> SecondSettingStyles(const TSweep& sweep) {
  std::map<int32_t, Qt::PenStyle> styles;
  if (sweep.varied.size() < 2) return styles;
  const std::array<Qt::PenStyle, 4> dashes{Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine};
  for (const auto& [key, members] : sweep.groups) styles.emplace(key[1], Qt::SolidLine);
  size_t next = 0;
  for (auto& [value, style] : styles) style = dashes[next++ % dashes.size()];
  return styles;
}

// The place of each value among those that occur, in value order.
std::map<int32_t, size_t> Ranks(const std::set<int32_t>& values) {
  std::map<int32_t, size_t> ranks;
  for (int32_t v : values) ranks.emplace(v, ranks.size());
  return ranks;
}

// With one varied setting, the differences of neighbouring values, per row.
void AddNeighbourDifferences(TSummaryFigure& figure, size_t variedSettings) {
  if (variedSettings != 1 || figure.groups.size() < 2) return;
  for (size_t row = 0; row < kSummaryRows; ++row) {
    QStringList notes;
    for (size_t i = 1; i < figure.groups.size(); ++i) {
      const TDifference d = Welch(figure.groups[i - 1].finalEstimates[row], figure.groups[i].finalEstimates[row]);
      notes << QStringLiteral("%1 − %2: %3")
                   .arg(figure.groups[i].label, figure.groups[i - 1].label, Interval(d.difference, d.low, d.high));
    }
    figure.notes[row] = notes;
  }
}

// The histories the runs continue, each once, up to its branch point.
void AddParentHistories(TSummaryFigure& figure, const TSweep& sweep, const TSettingValues& defaults) {
  std::set<QString> drawn;
  for (const TRunFolder& run : sweep.runs) {
    if (!drawn.insert(run.record.spec.fromSha256).second || run.record.spec.fromSha256.isEmpty()) continue;
    const auto parent = FindParent(run.record, defaults);
    if (!parent) continue;
    figure.parents.push_back(GenePoints(parent->series, run.record.startStep));
  }
}

// "1 run (seed)", "3 runs (seeds)".
QString Counted(size_t n, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// "2 runs (seeds) each", or "1 to 2 runs (seeds) each" when the lines differ.
QString PerLine(const std::vector<TFigureGroup>& groups, size_t runs) {
  size_t fewest = runs;
  size_t most = 0;
  for (const TFigureGroup& g : groups) {
    fewest = std::min(fewest, g.finals[0].size());
    most = std::max(most, g.finals[0].size());
  }
  return fewest == most ? Counted(most, "run (seed)", "runs (seeds)") + QStringLiteral(" each")
                        : QStringLiteral("%1 to %2 runs (seeds) each").arg(fewest).arg(most);
}

QString FigureTitle(const TSweep& sweep, const QString& varied) {
  if (sweep.varied.empty()) {
    return QStringLiteral("Mean genes of %1 sharing every setting")
        .arg(Counted(sweep.runs.size(), "run (seed)", "runs (seeds)"));
  }
  size_t fewest = sweep.runs.size();
  size_t most = 0;
  for (const auto& [key, members] : sweep.groups) {
    fewest = std::min(fewest, members.size());
    most = std::max(most, members.size());
  }
  const QString perGroup = fewest == most ? Counted(most, "run (seed)", "runs (seeds)")
                                          : QStringLiteral("%1 to %2 runs (seeds)").arg(fewest).arg(most);
  return QStringLiteral("Mean genes of %1 runs by %2: %3, %4 each")
      .arg(sweep.runs.size())
      .arg(varied, Counted(sweep.groups.size(), "group", "groups"), perGroup);
}

// The varied setting whose effect the exploration found strongest on the
// first study measure, as its place among the varied settings, and why it
// was chosen; the first varied setting without one.
std::pair<size_t, QString> StrongestSetting(const TSweep& sweep, const TExploration& exploration) {
  const auto specs = SettingSpecs();
  std::optional<size_t> best;
  const TEffect* strongest = nullptr;
  for (const TEffect& e : exploration.effects) {
    if (e.measure != exploration.measures.front().name || e.quantity == QLatin1String("interaction") ||
        e.quantity == QLatin1String("S1") || e.quantity == QLatin1String("mu") ||
        e.quantity == QLatin1String("sigma") || e.quantity == QLatin1String(kAnovaPValue)) {
      continue;
    }
    // With the factors as categories a term's size is its share.
    const auto size = [](const TEffect& f) {
      return f.quantity == QLatin1String(kAnovaStatistic) ? f.share.value_or(0) : std::abs(f.estimate);
    };
    for (size_t p = 0; p < sweep.varied.size(); ++p) {
      if (e.term != QLatin1String(specs[sweep.varied[p]].option)) continue;
      if (strongest == nullptr || size(e) > size(*strongest)) {
        strongest = &e;
        best = p;
      }
    }
  }
  if (!best) return {0, QStringLiteral("the first varied setting")};
  const QString quantity = strongest->quantity == QLatin1String(kAnovaStatistic)
                               ? QStringLiteral("share of the variance")
                               : strongest->quantity;
  return {*best, QStringLiteral("the largest %1 on %2 of the %3 analysis")
                     .arg(quantity, strongest->measure, exploration.analysis)};
}

// The summary figure's data; nothing when its lines could not be told
// apart, and then `leftOut` says so.
std::optional<TSummaryFigure> FigureData(const TSweep& sweep, const std::vector<TBasis>& bases,
                                         const TSettingValues& defaults, const TExploration& exploration,
                                         QString& leftOut) {
  const auto specs = SettingSpecs();
  const size_t b = bases.size() - 1;
  TSummaryFigure figure;
  figure.finalBasis = BasisText(bases[b]);
  if (sweep.groups.size() <= kReadableGroups) {
    QStringList names;
    for (size_t i : sweep.varied) names << QLatin1String(specs[i].option);
    figure.varied = names.isEmpty() ? QLatin1String(kAllRuns) : names.join(QStringLiteral(", "));
    const std::map<int32_t, Qt::PenStyle> styles = SecondSettingStyles(sweep);
    std::set<int32_t> firstValues;
    for (const auto& [key, members] : sweep.groups) firstValues.insert(key.empty() ? 0 : key[0]);
    const std::map<int32_t, size_t> ranks = Ranks(firstValues);
    for (const auto& [key, members] : sweep.groups) {
      TFigureGroup group = FigureGroup(sweep, sweep.groupBands.at(key), members, b);
      group.label = GroupLabel(sweep.varied, sweep.runs[members.front()].record.spec.settings, false);
      if (group.label.isEmpty()) group.label = QLatin1String(kAllRuns);
      group.colour = RankColour(ranks.at(key.empty() ? 0 : key[0]), ranks.size());
      if (key.size() > 1) group.style = styles.at(key[1]);
      figure.groups.push_back(std::move(group));
    }
    figure.title = FigureTitle(sweep, figure.varied);
  } else {
    const auto [p, why] = StrongestSetting(sweep, exploration);
    const TSettingSpec& spec = specs[sweep.varied[p]];
    figure.varied = QLatin1String(spec.option);
    std::map<int32_t, std::vector<size_t>> byValue;
    for (const auto& [key, members] : sweep.groups) {
      auto& runs = byValue[key[p]];
      runs.insert(runs.end(), members.begin(), members.end());
    }
    if (byValue.size() > kReadableValues) {
      leftOut = QStringLiteral(
                    "%1 and %2 left out: even pooled by %3 (%4) the %5 groups make %6 lines, too many to tell apart; "
                    "%7 holds every run")
                    .arg(QLatin1String(kSummaryPngName), QLatin1String(kSummarySvgName), figure.varied, why)
                    .arg(sweep.groups.size())
                    .arg(byValue.size())
                    .arg(QLatin1String(kSummaryCsvName));
      return std::nullopt;
    }
    std::set<int32_t> values;
    for (const auto& [value, members] : byValue) values.insert(value);
    const std::map<int32_t, size_t> ranks = Ranks(values);
    for (const auto& [value, members] : byValue) {
      TFigureGroup group = FigureGroup(sweep, sweep.settingBands[p].at(value), members, b);
      group.label = FormatSettingValue(spec, value);
      group.colour = RankColour(ranks.at(value), ranks.size());
      figure.groups.push_back(std::move(group));
    }
    figure.title =
        QStringLiteral("Mean genes of %1 runs by %2: %3, %4")
            .arg(sweep.runs.size())
            .arg(figure.varied, Counted(byValue.size(), "value", "values"), PerLine(figure.groups, sweep.runs.size()));
    // With one varied setting its values are the groups: nothing is pooled.
    if (sweep.varied.size() > 1)
      figure.subtitle =
          QStringLiteral(
              "%1 groups are too many lines to tell apart: each line pools the runs of one value of %2 "
              "(%3), over the values of the other %4")
              .arg(sweep.groups.size())
              .arg(figure.varied, why, Counted(sweep.varied.size() - 1, "varied setting", "varied settings"));
  }
  AddNeighbourDifferences(figure, sweep.varied.size());
  AddParentHistories(figure, sweep, defaults);
  return figure;
}

// Several settings vary: the comparison of one setting's groups would mix
// the others' effects, so none is made, and the note says so.
QString NoComparisonNote(const TSweep& sweep) {
  if (sweep.varied.size() < 2) return {};
  QStringList names;
  for (size_t i : sweep.varied) names << QLatin1String(SettingSpecs()[i].option);
  return QStringLiteral(
             "no comparison printed: it is made only when exactly one setting varies, and %1 vary (%2); "
             "%3, %4 and %5 hold every run")
      .arg(names.size())
      .arg(names.join(QStringLiteral(", ")), QLatin1String(kSummaryCsvName), QLatin1String(kSamplesCsvName),
           QLatin1String(kGroupsCsvName));
}

}  // namespace

TResult<std::vector<TRunMeasures>> StudyMeasures(const QString& dir, const TSettingValues& defaults, int32_t window,
                                                 const std::vector<TSeriesMeasure>& study) {
  TResult<std::vector<TRunFolder>> runs = ListSweep(dir, defaults);
  if (!runs) return runs.Error();
  std::vector<TRunMeasures> measures;
  for (const TRunFolder& run : *runs) {
    TResult<TSeries> read = ReadSeries(QDir(run.path).filePath(QLatin1String(kSeriesName)));
    if (!read) return read.Error();
    measures.push_back({run.folder, run.record.spec.settings, run.record.spec.seed, run.record.spec.design,
                        StudyValues(*read, study, std::max(window, 1))});
  }
  return measures;
}

std::vector<TStudyMeasure> StudyOf(const std::vector<TSeriesMeasure>& study) {
  std::vector<TStudyMeasure> measures;
  for (const TSeriesMeasure& m : study) measures.push_back(m.study);
  return measures;
}

QStringList SampleFrontHeader() {
  QStringList header{QStringLiteral("folder"), QStringLiteral("group")};
  return header << SettingColumns() << QStringLiteral("seed") << QStringLiteral("start_step")
                << QStringLiteral("parent") << DesignHeader();
}

QStringList SampleFront(const QString& folder, const QString& group, const TRunRecord& record) {
  QStringList front{folder, group};
  return front << SettingCells(record.spec.settings) << QString::number(record.spec.seed)
               << QString::number(record.startStep) << record.spec.fromSha256 << DesignCells(record.spec.design);
}

QStringList SummaryGroups(const std::vector<TSettingValues>& runs) {
  const std::vector<size_t> varied = VariedSettings(runs);
  QStringList groups;
  for (const TSettingValues& run : runs) groups << GroupLabel(varied, run, true);
  return groups;
}

TResult<TSummaryReport> Summarize(const QString& dir, const TSettingValues& defaults, int32_t window, bool gzipSamples,
                                  const TStudyChoice& study) {
  TResult<std::vector<TRunFolder>> runs = ListSweep(dir, defaults);
  if (!runs) return runs.Error();
  TSweep sweep = Group(std::move(*runs), study.measures);
  // Every table and figure is made in a staging folder and swapped in as a
  // set: the names this summary does not make (the other form of the
  // samples, a comparison or effects an earlier summary made) go in the
  // same swap, and a failure leaves the earlier set whole.
  TResult<TFileSet> set =
      TFileSet::Open(dir, kSummaryStagingStem, {std::begin(kSummaryNames), std::end(kSummaryNames)});
  if (!set) return set.Error();
  const auto path = [&set](const char* name) { return set->Path(name); };
  std::vector<TBasis> bases{{"last", 1}};
  if (window > 0) bases.push_back({"window", window});
  {
    TCsvFile summary(path(kSummaryCsvName));
    if (TStatus opened = summary.Open(); !opened) return opened.Error();
    TCsvFile samples(path(gzipSamples ? kSamplesCsvGzName : kSamplesCsvName), gzipSamples);
    if (TStatus opened = samples.Open(); !opened) return opened.Error();
    if (TStatus read = ReadRuns(sweep, bases, window, summary, samples); !read) return read.Error();
    if (TStatus committed = summary.Commit(); !committed) return committed.Error();
    if (TStatus committed = samples.Commit(); !committed) return committed.Error();
  }
  const auto write = [&](const char* name, const auto& fill) {
    TCsvFile csv(path(name));
    if (TStatus opened = csv.Open(); !opened) return opened;
    if (TStatus filled = fill(csv); !filled) return filled;
    return csv.Commit();
  };
  if (TStatus e = write(kGroupsCsvName, [&](TCsvFile& csv) { return GroupsTable(sweep, csv); }); !e) return e.Error();
  TSummaryReport report;
  report.note = NoComparisonNote(sweep);
  if (sweep.varied.size() == 1) {
    if (TStatus e =
            write(kComparisonCsvName, [&](TCsvFile& csv) { return Compare(sweep, bases, csv, report.comparison); });
        !e)
      return e.Error();
  }
  const TExploration exploration = Explore(sweep.measures, StudyOf(sweep.study), study.coding);
  report.effects = exploration.table;
  // The effects answer what a comparison of one setting could not.
  if (!exploration.analysis.isEmpty()) report.note.clear();
  // Runs that share every setting have nothing to explore, and need no note saying so.
  if (!sweep.varied.empty()) report.effectsNote = exploration.note;
  report.effectsWarnings = exploration.warningLines;
  if (!exploration.analysis.isEmpty()) {
    if (TStatus written = WriteEffects(path(kEffectsCsvName), exploration.effects); !written) return written.Error();
    if (TStatus drawn =
            WriteEffectFigures(QFileInfo(path(kEffectsCsvName)).absolutePath(), exploration, sweep.measures);
        !drawn)
      return drawn.Error();
    if (!exploration.convergence.empty()) {
      if (TStatus written = WriteConvergence(path(kConvergenceCsvName), exploration.convergence, exploration.rowsWord);
          !written)
        return written.Error();
    }
  }
  const std::optional<TSummaryFigure> figure = FigureData(sweep, bases, defaults, exploration, report.figureNote);
  // Without a figure the set's swap removes an earlier one, which would no longer be true.
  if (TStatus saved =
          figure ? BuildSummaryFigure(*figure)->Save(path(kSummaryPngName), path(kSummarySvgName)) : Success();
      !saved) {
    return saved.Error();
  }
  if (TStatus swapped = set->Commit(); !swapped) return swapped.Error();
  return report;
}
