#include "Summary.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>
#include <vector>

#include "Pictures.h"
#include "RunRecord.h"

namespace {


// Columns of series.csv whose last value goes into the summary.
constexpr const char* kFinalColumns[] = {"avg_angle", "avg_wiggle",  "mean_angle",   "sd_angle",     "mean_wiggle",
                                         "sd_wiggle", "trips_total", "births_total", "heading_home", "visible_cells"};

struct TRun {
  QString folder;
  TRunRecord record;
  QStringList header;
  QStringList last;  // last row of series.csv, empty without samples
  std::vector<TChartPoint> points;
};

TStatus ReadSeries(const QString& path, TRun& run) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return Refused(QStringLiteral("cannot read %1").arg(path));
  QTextStream in(&file);
  run.header = in.readLine().split(QLatin1Char(','));
  const qsizetype step = run.header.indexOf(QStringLiteral("step"));
  const qsizetype angle = run.header.indexOf(QStringLiteral("avg_angle"));
  const qsizetype wiggle = run.header.indexOf(QStringLiteral("avg_wiggle"));
  if (step < 0 || angle < 0 || wiggle < 0) return Refused(QStringLiteral("%1 is not a series of pathwick_run").arg(path));
  while (!in.atEnd()) {
    const QStringList row = in.readLine().split(QLatin1Char(','));
    if (row.size() != run.header.size()) return Refused(QStringLiteral("%1 has a row of the wrong width").arg(path));
    run.points.push_back({row[step].toInt(), row[angle].toInt(), row[wiggle].toInt()});
    run.last = row;
  }
  return Success();
}

}  // namespace

QStringList SummaryGroups(const std::vector<TSettingValues>& runs) {
  const auto specs = SettingSpecs();
  std::vector<size_t> varied;
  for (size_t i = 0; i < specs.size(); ++i) {
    for (const TSettingValues& run : runs) {
      if (run[i] != runs.front()[i]) {
        varied.push_back(i);
        break;
      }
    }
  }
  QStringList groups;
  for (const TSettingValues& run : runs) {
    QStringList group;
    for (size_t i : varied)
      group << QLatin1String(specs[i].option) + QLatin1Char('=') + FormatSettingValue(specs[i], run[i]);
    groups << group.join(QLatin1Char(' '));
  }
  return groups;
}

TStatus Summarize(const QString& dir, const TSettingValues& defaults) {
  const QDir folder(dir);
  if (!folder.exists()) return Refused(QStringLiteral("%1 is not a folder").arg(dir));
  std::vector<TRun> runs;
  for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    const QString record = folder.filePath(name + QLatin1Char('/') + QLatin1String(kRunRecordName));
    if (!QFile::exists(record)) continue;
    TRun run;
    run.folder = name;
    TResult<TRunRecord> read = ReadRunRecord(record, defaults);
    if (!read) return read.Error();
    run.record = *read;
    if (TStatus series = ReadSeries(folder.filePath(name + QLatin1Char('/') + QLatin1String(kSeriesName)), run);
        !series) {
      return series;
    }
    runs.push_back(std::move(run));
  }
  if (runs.empty()) return Refused(QStringLiteral("%1 holds no run folders").arg(dir));

  // The settings that differ between runs name each run's group.
  std::vector<TSettingValues> settings;
  for (const TRun& run : runs) settings.push_back(run.record.spec.settings);
  const QStringList groups = SummaryGroups(settings);

  QStringList header{QStringLiteral("folder")};
  header << SettingColumns();
  header << QStringLiteral("seed") << QStringLiteral("start_step") << QStringLiteral("steps_requested")
         << QStringLiteral("steps_done") << QStringLiteral("ended") << QStringLiteral("samples");
  for (const char* column : kFinalColumns) header << QStringLiteral("final_") + QLatin1String(column);
  QString csv = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  std::vector<TSummaryRun> chartRuns;
  for (size_t k = 0; k < runs.size(); ++k) {
    const TRun& run = runs[k];
    const TRunRecord& r = run.record;
    QStringList row{run.folder};
    row << SettingCells(r.spec.settings);
    row << QString::number(r.spec.seed) << QString::number(r.startStep) << QString::number(r.spec.steps)
        << QString::number(r.stepsRun) << r.ended << QString::number(r.samples);
    for (const char* column : kFinalColumns) {
      const qsizetype at = run.header.indexOf(QLatin1String(column));
      row << (at >= 0 && at < run.last.size() ? run.last[at] : QString());
    }
    csv += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    chartRuns.push_back({groups[static_cast<qsizetype>(k)], run.points});
  }

  QSaveFile file(folder.filePath(QLatin1String(kSummaryCsvName)));
  if (!file.open(QIODevice::WriteOnly) || file.write(csv.toUtf8()) < 0 || !file.commit()) {
    return Failed(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
  }
  return WriteSummaryChart(folder.filePath(QLatin1String(kSummaryPngName)), chartRuns);
}
