#include "Summary.h"

#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <map>
#include <set>

#include "Figures.h"
#include "RunData.h"
#include "Statistics.h"

namespace {

constexpr int kDecimals = 4;
// Columns of series.csv whose last value (and window mean) summary.csv holds.
constexpr TSeriesColumn kFinalColumns[] = {
    TSeriesColumn::kAvgAngle,    TSeriesColumn::kAvgWiggle,   TSeriesColumn::kMeanAngle,  TSeriesColumn::kSdAngle,
    TSeriesColumn::kMeanWiggle,  TSeriesColumn::kSdWiggle,    TSeriesColumn::kTripsTotal, TSeriesColumn::kBirthsTotal,
    TSeriesColumn::kHeadingHome, TSeriesColumn::kVisibleCells};
// The measures compared across the runs of a group.
constexpr std::array kMeasures{TSeriesColumn::kAvgAngle, TSeriesColumn::kAvgWiggle, TSeriesColumn::kTrips};

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
// A cell as CSV holds it: one with a comma, a quote or a line end (a run
// folder may be named so) is quoted, its quotes doubled, so it reads back as
// one cell.
QString CsvCell(const QString& cell) {
  static const QRegularExpression special(QStringLiteral("[,\"\r\n]"));
  if (!cell.contains(special)) return cell;
  QString quoted = cell;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A table written line by line (a sweep's samples need not fit in memory
// twice) into a file that appears whole or not at all.
class TCsvFile {
 public:
  explicit TCsvFile(const QString& path) : file_(path) {}
  TStatus Open() { return file_.open(QIODevice::WriteOnly) ? Success() : CannotWrite(); }
  TStatus Add(const QStringList& cells) {
    QStringList quoted;
    quoted.reserve(cells.size());
    for (const QString& cell : cells) quoted << CsvCell(cell);
    const QByteArray bytes = (quoted.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8();
    return file_.write(bytes) == bytes.size() ? Success() : CannotWrite();
  }
  // Puts the file in place; a file that is not committed is not made. The
  // buffered tail is written first and checked: a commit alone would put a
  // file cut short by a full disk in place as if it were whole.
  TStatus Commit() { return file_.flush() && file_.commit() ? Success() : CannotWrite(); }

 private:
  TError CannotWrite() const {
    return Failed(QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()));
  }

  QSaveFile file_;
};

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

// The sweep as groups: runs that share every setting but the seed.
struct TSweep {
  std::vector<TRunData> runs;
  std::vector<size_t> varied;                                  // settings that differ between runs
  std::map<std::vector<int32_t>, std::vector<size_t>> groups;  // varied values -> runs, in value order
  QStringList groupOf;                                         // per run: its group, as SummaryGroups names it
};

TSweep Group(std::vector<TRunData> runs) {
  TSweep sweep;
  sweep.runs = std::move(runs);
  std::vector<TSettingValues> settings;
  for (const TRunData& run : sweep.runs) settings.push_back(run.record.spec.settings);
  sweep.varied = VariedSettings(settings);
  sweep.groupOf = SummaryGroups(settings);
  for (size_t r = 0; r < sweep.runs.size(); ++r) {
    std::vector<int32_t> key;
    for (size_t i : sweep.varied) key.push_back(settings[r][i]);
    sweep.groups[key].push_back(r);
  }
  return sweep;
}

// summary.csv: a row per run with its last values and, after them, the
// means over the window.
TStatus SummaryTable(const TSweep& sweep, int32_t window, TCsvFile& csv) {
  QStringList header{QStringLiteral("folder")};
  header << SettingColumns() << QStringLiteral("seed") << QStringLiteral("start_step")
         << QStringLiteral("steps_requested") << QStringLiteral("steps_done") << QStringLiteral("ended")
         << QStringLiteral("samples");
  for (TSeriesColumn column : kFinalColumns) header << QStringLiteral("final_") + Name(column);
  header << QStringLiteral("window");
  for (TSeriesColumn column : kFinalColumns) header << QStringLiteral("window_") + Name(column);
  if (TStatus added = csv.Add(header); !added) return added;
  for (const TRunData& run : sweep.runs) {
    const TRunRecord& r = run.record;
    QStringList row{run.folder};
    row << SettingCells(r.spec.settings) << QString::number(r.spec.seed) << QString::number(r.startStep)
        << QString::number(r.spec.steps) << QString::number(r.stepsRun) << r.ended << QString::number(r.samples);
    for (TSeriesColumn column : kFinalColumns) {
      const qsizetype at = run.series.Column(column);
      row << (at >= 0 && !run.series.rows.empty() ? run.series.rows.back()[at] : QString());
    }
    row << QString::number(std::max(window, 1));
    for (TSeriesColumn column : kFinalColumns) {
      row << Optional(WindowMean(run.series, run.series.Column(column), std::max(window, 1)));
    }
    if (TStatus added = csv.Add(row); !added) return added;
  }
  return Success();
}

// samples.csv: every sample of every run with the run's settings, in long
// format. Columns are those of every series, in order of first appearance.
TStatus SamplesTable(const TSweep& sweep, TCsvFile& csv) {
  QStringList columns;
  for (const TRunData& run : sweep.runs) {
    for (const QString& column : run.series.header) {
      if (!columns.contains(column)) columns << column;
    }
  }
  QStringList header{QStringLiteral("folder"), QStringLiteral("group")};
  header << SettingColumns() << QStringLiteral("seed") << QStringLiteral("start_step") << QStringLiteral("parent")
         << columns;
  if (TStatus added = csv.Add(header); !added) return added;
  for (size_t i = 0; i < sweep.runs.size(); ++i) {
    const TRunData& run = sweep.runs[i];
    QStringList front{run.folder, sweep.groupOf[i]};
    front << SettingCells(run.record.spec.settings) << QString::number(run.record.spec.seed)
          << QString::number(run.record.startStep) << run.record.spec.fromSha256;
    std::vector<qsizetype> at;
    for (const QString& column : columns) at.push_back(run.series.Column(column));
    for (const QStringList& row : run.series.rows) {
      QStringList cells = front;
      for (qsizetype a : at) cells << (a >= 0 ? row[a] : QString());
      if (TStatus added = csv.Add(cells); !added) return added;
    }
  }
  return Success();
}

// Per group and sample step, the values of a measure across the runs.
using TStepValues = std::map<int32_t, std::array<std::vector<double>, kMeasures.size()>>;

TStepValues ValuesByStep(const TSweep& sweep, const std::vector<size_t>& members) {
  TStepValues byStep;
  for (size_t r : members) {
    const TSeries& series = sweep.runs[r].series;
    const qsizetype step = series.Column(TSeriesColumn::kStep);
    for (size_t row = 0; row < series.rows.size(); ++row) {
      const auto at = series.Number(row, step);
      if (!at) continue;
      auto& values = byStep[static_cast<int32_t>(*at)];
      for (size_t m = 0; m < kMeasures.size(); ++m) {
        if (const auto v = series.Number(row, series.Column(kMeasures[m]))) values[m].push_back(*v);
      }
    }
  }
  return byStep;
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
    const QStringList front = QStringList{sweep.groupOf[members.front()]}
                              << SettingCells(sweep.runs[members.front()].record.spec.settings);
    for (const auto& [step, values] : ValuesByStep(sweep, members)) {
      QStringList row = front;
      row << QString::number(step) << QString::number(values[0].size());
      for (const auto& v : values) row << EstimateCells(Estimate(v));
      if (TStatus added = csv.Add(row); !added) return added;
    }
  }
  return Success();
}

// A run's final value of every measure: its last sample's, or the mean of
// its last `window` samples.
struct TBasis {
  const char* name;  // "last" or "window"
  int32_t window;    // samples averaged
};

std::vector<double> Finals(const TSweep& sweep, const std::vector<size_t>& members, TSeriesColumn measure,
                           const TBasis& basis) {
  std::vector<double> values;
  for (size_t r : members) {
    const TSeries& series = sweep.runs[r].series;
    if (const auto v = WindowMean(series, series.Column(measure), basis.window)) values.push_back(*v);
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
// final mean with its interval, and each difference of neighbouring values
// with Welch's interval.
TStatus CompareGroups(const TSweep& sweep, TSeriesColumn measure, const TBasis& basis, TCsvFile& csv, QString& text) {
  const TSettingSpec& spec = SettingSpecs()[sweep.varied.front()];
  const QString option = QLatin1String(spec.option);
  text += QStringLiteral("%1, %2:\n").arg(Name(measure), BasisText(basis));
  const QStringList front{QLatin1String(spec.key), Name(measure), QLatin1String(basis.name),
                          QString::number(basis.window)};
  std::optional<std::pair<QString, TEstimate>> previous;
  for (const auto& [key, members] : sweep.groups) {
    const QString value = FormatSettingValue(spec, key.front());
    const TEstimate e = Estimate(Finals(sweep, members, measure, basis));
    std::optional<double> df;
    if (e.n > 1) df = static_cast<double>(e.n - 1);
    if (TStatus added =
            csv.Add(QStringList(front) << QStringLiteral("group") << value << QString() << QString::number(e.n)
                                       << QString() << Optional(Mean(e)) << Optional(e.sd) << Optional(e.se)
                                       << Optional(df) << Optional(e.low) << Optional(e.high));
        !added) {
      return added;
    }
    text += QStringLiteral("  %1=%2: %3, n %4\n").arg(option, value, Interval(Mean(e), e.low, e.high)).arg(e.n);
    if (previous) {
      const TDifference d = Welch(previous->second, e);
      if (TStatus added = csv.Add(QStringList(front)
                                  << QStringLiteral("difference") << value << previous->first << QString::number(e.n)
                                  << QString::number(previous->second.n) << Optional(d.difference) << QString()
                                  << Optional(d.se) << Optional(d.df) << Optional(d.low) << Optional(d.high));
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
                               "estimate", "sd", "se", "df", "ci_low", "ci_high"});
      !added) {
    return added;
  }
  text = QStringLiteral("%1: group means and differences with 95 % intervals (Student's t; Welch for differences)\n")
             .arg(QLatin1String(SettingSpecs()[sweep.varied.front()].option));
  for (TSeriesColumn measure : kMeasures) {
    for (const TBasis& basis : bases) {
      if (TStatus compared = CompareGroups(sweep, measure, basis, csv, text); !compared) return compared;
    }
  }
  return Success();
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

// One group of the figure: its label, colour and dashes, its mean genes over
// time with their intervals, and its runs' final values.
TFigureGroup FigureGroup(const TSweep& sweep, const std::vector<int32_t>& key, const std::vector<size_t>& members,
                         const TBasis& basis, const std::map<int32_t, Qt::PenStyle>& styles) {
  const auto specs = SettingSpecs();
  TFigureGroup group;
  group.label = GroupLabel(sweep.varied, sweep.runs[members.front()].record.spec.settings, false);
  if (group.label.isEmpty()) group.label = QLatin1String(kAllRuns);
  // Runs that all share their settings take the scale's first colour.
  group.colour =
      key.empty() ? ValueColour(specs.front(), specs.front().min) : ValueColour(specs[sweep.varied[0]], key[0]);
  if (key.size() > 1) group.style = styles.at(key[1]);
  for (const auto& [step, values] : ValuesByStep(sweep, members)) {
    for (size_t g = 0; g < kGeneColumns.size(); ++g) {
      const TEstimate e = Estimate(values[kGeneMeasures[g]]);
      group.curves[g].push_back({static_cast<double>(step), e.mean, e.low.value_or(e.mean), e.high.value_or(e.mean)});
    }
  }
  for (size_t g = 0; g < kGeneColumns.size(); ++g) {
    group.finals[g] = Finals(sweep, members, kGeneColumns[g], basis);
    group.finalEstimates[g] = Estimate(group.finals[g]);
  }
  return group;
}

// With one varied setting, the differences of neighbouring values, per gene.
void AddNeighbourDifferences(TSummaryFigure& figure, size_t variedSettings) {
  if (variedSettings != 1 || figure.groups.size() < 2) return;
  for (size_t g = 0; g < kGeneColumns.size(); ++g) {
    QStringList notes;
    for (size_t i = 1; i < figure.groups.size(); ++i) {
      const TDifference d = Welch(figure.groups[i - 1].finalEstimates[g], figure.groups[i].finalEstimates[g]);
      notes << QStringLiteral("%1 − %2: %3")
                   .arg(figure.groups[i].label, figure.groups[i - 1].label, Interval(d.difference, d.low, d.high));
    }
    figure.notes[g] = QStringLiteral("difference (95 % CI, Welch) ") + notes.join(QStringLiteral("; "));
  }
}

// The histories the runs continue, each once, up to its branch point.
void AddParentHistories(TSummaryFigure& figure, const TSweep& sweep, const TSettingValues& defaults) {
  std::set<QString> drawn;
  for (const TRunData& run : sweep.runs) {
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

TSummaryFigure FigureData(const TSweep& sweep, const TBasis& basis, const TSettingValues& defaults) {
  TSummaryFigure figure;
  QStringList names;
  for (size_t i : sweep.varied) names << QLatin1String(SettingSpecs()[i].option);
  figure.varied = names.isEmpty() ? QLatin1String(kAllRuns) : names.join(QStringLiteral(", "));
  figure.finalBasis = BasisText(basis);
  const std::map<int32_t, Qt::PenStyle> styles = SecondSettingStyles(sweep);
  for (const auto& [key, members] : sweep.groups)
    figure.groups.push_back(FigureGroup(sweep, key, members, basis, styles));
  AddNeighbourDifferences(figure, sweep.varied.size());
  AddParentHistories(figure, sweep, defaults);
  figure.title = FigureTitle(sweep, figure.varied);
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

QStringList SummaryGroups(const std::vector<TSettingValues>& runs) {
  const std::vector<size_t> varied = VariedSettings(runs);
  QStringList groups;
  for (const TSettingValues& run : runs) groups << GroupLabel(varied, run, true);
  return groups;
}

TResult<TSummaryReport> Summarize(const QString& dir, const TSettingValues& defaults, int32_t window) {
  TResult<std::vector<TRunData>> runs = ReadSweep(dir, defaults);
  if (!runs) return runs.Error();
  const TSweep sweep = Group(std::move(*runs));
  const QDir folder(dir);
  const auto write = [&](const char* name, const auto& fill) {
    TCsvFile csv(folder.filePath(QLatin1String(name)));
    if (TStatus opened = csv.Open(); !opened) return opened;
    if (TStatus filled = fill(csv); !filled) return filled;
    return csv.Commit();
  };
  if (TStatus e = write(kSummaryCsvName, [&](TCsvFile& csv) { return SummaryTable(sweep, window, csv); }); !e)
    return e.Error();
  if (TStatus e = write(kSamplesCsvName, [&](TCsvFile& csv) { return SamplesTable(sweep, csv); }); !e) return e.Error();
  if (TStatus e = write(kGroupsCsvName, [&](TCsvFile& csv) { return GroupsTable(sweep, csv); }); !e) return e.Error();
  std::vector<TBasis> bases{{"last", 1}};
  if (window > 0) bases.push_back({"window", window});
  TSummaryReport report{{}, NoComparisonNote(sweep)};
  const QString comparison = folder.filePath(QLatin1String(kComparisonCsvName));
  if (sweep.varied.size() == 1) {
    if (TStatus e =
            write(kComparisonCsvName, [&](TCsvFile& csv) { return Compare(sweep, bases, csv, report.comparison); });
        !e)
      return e.Error();
  } else if (QFile::exists(comparison) && !QFile::remove(comparison)) {
    // A comparison left from an earlier summary would no longer be true.
    return Failed(QStringLiteral("cannot remove the stale %1").arg(comparison));
  }
  if (TStatus saved =
          BuildSummaryFigure(FigureData(sweep, bases.back(), defaults))
              ->Save(folder.filePath(QLatin1String(kSummaryPngName)), folder.filePath(QLatin1String(kSummarySvgName)));
      !saved) {
    return saved.Error();
  }
  return report;
}
