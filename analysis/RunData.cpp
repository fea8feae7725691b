#include "RunData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "Checkpoint.h"

namespace {

QString ReadCsv(const QString& path, QStringList& header, std::vector<QStringList>& rows) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
  }
  QTextStream in(&file);
  header = in.readLine().split(QLatin1Char(','));
  for (qsizetype line = 2; !in.atEnd(); ++line) {
    QStringList row = in.readLine().split(QLatin1Char(','));
    if (row.size() != header.size()) {
      return QStringLiteral("%1: line %2 has %3 cells, the header %4").arg(path).arg(line).arg(row.size()).arg(header.size());
    }
    rows.push_back(std::move(row));
  }
  return {};
}

}  // namespace

std::optional<double> TSeries::Number(size_t row, qsizetype column) const {
  if (column < 0 || row >= rows.size()) return std::nullopt;
  bool ok = false;
  const double value = rows[row][column].toDouble(&ok);
  return ok ? std::optional<double>(value) : std::nullopt;
}

QString ReadRunFolder(const QString& dir, const TSettingValues& defaults, TRunData& run) {
  const QDir folder(dir);
  run.path = folder.absolutePath();
  run.folder = QFileInfo(run.path).fileName();
  QString error;
  const auto record = ReadRunRecord(folder.filePath(QLatin1String(kRunRecordName)), defaults, &error);
  if (!record) return error;
  run.record = *record;
  const QString seriesPath = folder.filePath(QLatin1String(kSeriesName));
  if (error = ReadCsv(seriesPath, run.series.header, run.series.rows); !error.isEmpty()) return error;
  for (const char* needed : {"step", "avg_angle", "avg_wiggle"}) {
    if (run.series.Column(QLatin1String(needed)) < 0) {
      return QStringLiteral("%1 is not a series of pathwick_run: it has no %2 column").arg(seriesPath, needed);
    }
  }
  return {};
}

QString ReadSweep(const QString& dir, const TSettingValues& defaults, std::vector<TRunData>& runs) {
  const QDir folder(dir);
  if (!folder.exists()) return QStringLiteral("%1 is not a folder").arg(dir);
  for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    if (!QFile::exists(folder.filePath(name + QLatin1Char('/') + QLatin1String(kRunRecordName)))) continue;
    TRunData run;
    if (QString error = ReadRunFolder(folder.filePath(name), defaults, run); !error.isEmpty()) return error;
    runs.push_back(std::move(run));
  }
  if (runs.empty()) return QStringLiteral("%1 holds no run folders").arg(dir);
  return {};
}

std::optional<TRunData> FindParent(const TRunRecord& record, const TSettingValues& defaults) {
  const TRunPlan& plan = record.plan;
  if (plan.fromPath.isEmpty() || plan.fromChecksum.isEmpty()) return std::nullopt;
  if (StoredCheckpointChecksum(plan.fromPath) != plan.fromChecksum) return std::nullopt;
  TRunData parent;
  if (!ReadRunFolder(QFileInfo(plan.fromPath).absolutePath(), defaults, parent).isEmpty()) return std::nullopt;
  return parent;
}

QString ReadHistograms(const QString& path, std::vector<THistogramSample>& samples) {
  QStringList header;
  std::vector<QStringList> rows;
  if (QString error = ReadCsv(path, header, rows); !error.isEmpty()) return error;
  if (header.size() != 2 + kGeneValues || rows.size() % 2 != 0) {
    return QStringLiteral("%1 is not a histogram file of pathwick_run").arg(path);
  }
  for (size_t r = 0; r < rows.size(); r += 2) {
    THistogramSample sample;
    bool ok = true;
    sample.step = rows[r][0].toInt(&ok);
    for (size_t gene = 0; gene < 2 && ok; ++gene) {
      const QStringList& row = rows[r + gene];
      ok = row[0] == rows[r][0] && row[1] == QLatin1String(gene == 0 ? "angle" : "wiggle");
      for (int32_t v = 0; v < kGeneValues && ok; ++v) sample.counts[gene][v] = row[2 + v].toLongLong(&ok);
    }
    if (!ok) return QStringLiteral("%1: the rows of line %2 are not a sample's two genes").arg(path).arg(r + 2);
    samples.push_back(sample);
  }
  return {};
}
