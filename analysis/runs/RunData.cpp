#include "RunData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

#include "BoundedFile.h"
#include "CheckpointFile.h"
#include "SweepFolder.h"

namespace {

// More than any series header holds: the first line is found within it.
constexpr qint64 kHeaderByteLimit = 64 * 1024;

TStatus ReadCsv(const QString& path, QStringList& header, std::vector<QStringList>& rows) {
  TResult<QByteArray> bytes = ReadBounded(path, kTableByteLimit);
  if (!bytes) return bytes.Error();
  QTextStream in(*bytes);
  header = in.readLine().split(QLatin1Char(','));
  for (qsizetype line = 2; !in.atEnd(); ++line) {
    QStringList row = in.readLine().split(QLatin1Char(','));
    if (row.size() != header.size()) {
      return Refused(QStringLiteral("%1: line %2 has %3 cells, the header %4")
                         .arg(path)
                         .arg(line)
                         .arg(row.size())
                         .arg(header.size()));
    }
    rows.push_back(std::move(row));
  }
  return Success();
}

// A series' first line, from a regular file within the tables' limit.
TResult<QByteArray> SeriesHead(const QString& path) {
  TResult<TBoundedFile> file = TBoundedFile::Open(path, kTableByteLimit);
  if (!file) return file.Error();
  TResult<QByteArray> head = file->Read(std::min(file->Size(), kHeaderByteLimit));
  if (!head) return head.Error();
  return head->left(head->indexOf('\n'));
}

}  // namespace

std::optional<double> TSeries::Number(size_t row, qsizetype column) const {
  if (column < 0 || row >= rows.size()) return std::nullopt;
  bool ok = false;
  const double value = rows[row][column].toDouble(&ok);
  return ok ? std::optional<double>(value) : std::nullopt;
}

TResult<TSeries> ReadSeries(const QString& path) {
  TSeries series;
  if (TStatus read = ReadCsv(path, series.header, series.rows); !read) return read.Error();
  for (const TSeriesColumnSpec& spec : kSeriesColumns) {
    if (spec.required && series.Column(spec.column) < 0) {
      return Refused(QStringLiteral("%1 is not a series of pathwick_run: it has no %2 column")
                         .arg(path, SeriesColumnName(spec.column)));
    }
  }
  return series;
}

TResult<TRunData> ReadRunFolder(const QString& dir, const TSettingValues& defaults) {
  const QDir folder(dir);
  TRunData run;
  run.path = folder.absolutePath();
  run.folder = QFileInfo(run.path).fileName();
  TResult<TRunRecord> record = ReadRunRecord(folder.filePath(QLatin1String(kRunRecordName)), defaults);
  if (!record) return record.Error();
  run.record = std::move(*record);
  TResult<TSeries> series = ReadSeries(folder.filePath(QLatin1String(kSeriesName)));
  if (!series) return series.Error();
  run.series = std::move(*series);
  return run;
}

TResult<std::vector<TRunData>> ReadSweep(const QString& dir, const TSettingValues& defaults) {
  const QDir folder(dir);
  if (!folder.exists()) return Refused(QStringLiteral("%1 is not a folder").arg(dir));
  std::vector<TRunData> runs;
  for (const QString& name : SweepRunFolders(dir)) {
    TResult<TRunData> run = ReadRunFolder(folder.filePath(name), defaults);
    if (!run) return run.Error();
    runs.push_back(std::move(*run));
  }
  if (runs.empty()) return Refused(QStringLiteral("%1 holds no run folders").arg(dir));
  return runs;
}

TResult<std::vector<TRunFolder>> ListSweep(const QString& dir, const TSettingValues& defaults) {
  const QDir folder(dir);
  if (!folder.exists()) return Refused(QStringLiteral("%1 is not a folder").arg(dir));
  std::vector<TRunFolder> runs;
  // The runs of a sweep share their series' header: equal headers share one
  // list, which keeps a sweep of 100,000 runs from holding 100,000 copies.
  QStringList lastHeader;
  for (const QString& name : SweepRunFolders(dir)) {
    const QDir runDir(folder.filePath(name));
    TRunFolder run;
    run.path = runDir.absolutePath();
    run.folder = name;
    TResult<TRunRecord> record = ReadRunRecord(runDir.filePath(QLatin1String(kRunRecordName)), defaults);
    if (!record) return record.Error();
    run.record = std::move(*record);
    const QString seriesPath = runDir.filePath(QLatin1String(kSeriesName));
    TResult<QByteArray> head = SeriesHead(seriesPath);
    if (!head) return head.Error();
    run.header = QString::fromUtf8(*head).trimmed().split(QLatin1Char(','));
    if (run.header == lastHeader) {
      run.header = lastHeader;
    } else {
      lastHeader = run.header;
    }
    runs.push_back(std::move(run));
  }
  if (runs.empty()) return Refused(QStringLiteral("%1 holds no run folders").arg(dir));
  return runs;
}

std::optional<TRunData> FindParent(const TRunRecord& record, const TSettingValues& defaults) {
  const TRunSpec& spec = record.spec;
  if (spec.fromPath.isEmpty() || spec.fromSha256.isEmpty()) return std::nullopt;
  const TResult<TCheckpointSeal> checkpoint = ReadCheckpointSeal(spec.fromPath);
  if (!checkpoint || !checkpoint->Is(spec.fromSha256)) return std::nullopt;
  TResult<TRunData> parent = ReadRunFolder(QFileInfo(spec.fromPath).absolutePath(), defaults);
  if (!parent) return std::nullopt;
  return std::move(*parent);
}

TResult<std::vector<THistogramSample>> ReadHistograms(const QString& path) {
  QStringList header;
  std::vector<QStringList> rows;
  if (TStatus read = ReadCsv(path, header, rows); !read) return read.Error();
  if (header.size() != 2 + kGeneValues || rows.size() % 2 != 0) {
    return Refused(QStringLiteral("%1 is not a histogram file of pathwick_run").arg(path));
  }
  std::vector<THistogramSample> samples;
  for (size_t r = 0; r < rows.size(); r += 2) {
    THistogramSample sample;
    bool ok = true;
    sample.step = rows[r][0].toInt(&ok);
    for (size_t gene = 0; gene < 2 && ok; ++gene) {
      const QStringList& row = rows[r + gene];
      ok = row[0] == rows[r][0] && row[1] == QLatin1String(gene == 0 ? "angle" : "wiggle");
      for (int32_t v = 0; v < kGeneValues && ok; ++v) sample.counts[gene][v] = row[2 + v].toLongLong(&ok);
    }
    if (!ok)
      return Refused(QStringLiteral("%1: the rows of line %2 are not a sample's two genes").arg(path).arg(r + 2));
    samples.push_back(sample);
  }
  return samples;
}
