#include "Verify.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "AtomicFile.h"
#include "Experiment.h"
#include "FileNames.h"
#include "Plan.h"
#include "Run.h"
#include "RunRecord.h"
#include "SweepFolder.h"

namespace {

// A .sweep the list makes takes the permissions any folder made here would.
constexpr mode_t kStateMode = 0777;
// The longest line of series.csv read at once; a longer one counts as more.
constexpr qint64 kLineBound = 64 * 1024;

std::map<QString, TFileEntry> ByPath(const QList<TFileEntry>& files) {
  std::map<QString, TFileEntry> map;
  for (const TFileEntry& f : files) map.emplace(f.path, f);
  return map;
}

// The first file of `expected` that `found` does not hold as it is listed.
TStatus Compare(const QList<TFileEntry>& expected, const QList<TFileEntry>& found, const QString& where) {
  const auto byPath = ByPath(found);
  for (const TFileEntry& e : expected) {
    const auto f = byPath.find(e.path);
    if (f == byPath.end()) return Failed(QStringLiteral("%1 is missing %2").arg(where, e.path));
    if (f->second.size != e.size) {
      return Failed(QStringLiteral("%1 differs %2: %3 bytes, the record has %4")
                        .arg(e.path, where)
                        .arg(f->second.size)
                        .arg(e.size));
    }
    if (f->second.sha256 != e.sha256) {
      return Failed(QStringLiteral("%1 differs %2: SHA-256 %3, the record has %4")
                        .arg(e.path, where, f->second.sha256, e.sha256));
    }
  }
  return Success();
}

// The record's count of samples is that of the rows of series.csv (after its header).
TStatus SamplesAsRecorded(const QString& dir, const TRunRecord& record) {
  QFile series(QDir(dir).filePath(QLatin1String(kSeriesName)));
  if (!series.exists()) return Success();  // a missing file is named by the comparison
  if (!series.open(QIODevice::ReadOnly))
    return Failed(QStringLiteral("cannot read %1: %2").arg(series.fileName(), series.errorString()));
  qint64 rows = -1;
  while (!series.atEnd()) {
    series.readLine(kLineBound);
    ++rows;
  }
  if (rows == record.samples) return Success();
  return Failed(QStringLiteral("%1: the record has %2 samples, but %3 holds %4 rows")
                    .arg(QDir(dir).filePath(QLatin1String(kRunRecordName)))
                    .arg(record.samples)
                    .arg(QLatin1String(kSeriesName))
                    .arg(std::max<qint64>(rows, 0)));
}

// The record of the run in `dir`, once its files are as the record lists
// them; `expected` receives those files.
TResult<TRunRecord> CheckFiles(const QString& dir, const TSettingValues& defaults, QList<TFileEntry>& expected) {
  const QString recordPath = QDir(dir).filePath(QLatin1String(kRunRecordName));
  if (!QFileInfo(recordPath).isFile())
    return Refused(QStringLiteral("%1 holds no run: it has no %2").arg(dir, QLatin1String(kRunRecordName)));
  TResult<TRunRecord> record = ReadRunRecord(recordPath, defaults);
  if (!record) return record.Error();
  TResult<QList<TFileEntry>> present = ListFiles(dir);
  if (!present) return present.Error();
  // A record written before files were listed is held to the files its folder has.
  expected = record->listsFiles ? record->files : *present;
  if (TStatus same = Compare(expected, *present, QStringLiteral("in %1").arg(dir)); !same) return same.Error();
  if (const QStringList extra = UnlistedFiles(dir, *record); !extra.isEmpty()) {
    return Failed(QStringLiteral("%1 holds %2, which its record does not list").arg(dir, extra.front()));
  }
  if (TStatus counted = SamplesAsRecorded(dir, *record); !counted) return counted.Error();
  return record;
}

// Calls work(i) for every i below `count`, on as many threads as there are
// cores; each i once.
void ForEachAtOnce(qsizetype count, const std::function<void(qsizetype)>& work) {
  std::atomic<qsizetype> next{0};
  const auto worker = [&] {
    for (qsizetype i = next++; i < count; i = next++) work(i);
  };
  const qsizetype threads = std::min<qsizetype>(std::max(1, QThread::idealThreadCount()), count);
  std::vector<std::thread> pool;
  for (qsizetype t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
}

enum class TVerdict { kIntact, kRepeated, kDiffers, kNotRepeated };

struct TRunVerdict {
  TVerdict verdict = TVerdict::kIntact;
  QString why;  // what differs, or why it could not be repeated
};

QString VerdictLine(const QString& name, const TRunVerdict& v) {
  switch (v.verdict) {
    case TVerdict::kIntact: return name + QStringLiteral(": intact");
    case TVerdict::kRepeated: return name + QStringLiteral(": intact, repeated identically");
    case TVerdict::kDiffers: return name + QStringLiteral(": differs: ") + v.why;
    case TVerdict::kNotRepeated: return name + QStringLiteral(": intact, but its repeat failed: ") + v.why;
  }
  return name;
}

// The repeat of one run by pathwick_run --verify in a process of its own
// (the engine holds one world per process): its verdict from its status and
// the last line it wrote on standard error.
TRunVerdict RepeatInProcess(const QString& program, const QString& run) {
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(program, {Dashed(TOption::kVerify), run, Dashed(TOption::kQuiet)});
  if (!process.waitForStarted(-1)) return {TVerdict::kNotRepeated, QStringLiteral("cannot start ") + program};
  process.waitForFinished(-1);
  QString last;
  for (const QString& line : QString::fromLocal8Bit(process.readAllStandardError()).split(QLatin1Char('\n'))) {
    if (!line.trimmed().isEmpty()) last = line;
  }
  last.remove(QRegularExpression(QStringLiteral("^pathwick_run: ")));
  if (process.exitStatus() != QProcess::NormalExit)
    return {TVerdict::kNotRepeated,
            QStringLiteral("the repeat ended abnormally%1").arg(last.isEmpty() ? "" : ": " + last)};
  if (process.exitCode() == kExitDone) return {TVerdict::kRepeated, {}};
  if (process.exitCode() == kExitFailed && !StopRequested()) return {TVerdict::kDiffers, last};
  return {TVerdict::kNotRepeated, QStringLiteral("exit %1: %2").arg(process.exitCode()).arg(last)};
}

constexpr qsizetype kExamplesShown = 3;

}  // namespace

TStatus VerifyRun(TForm1& form, const QString& dir, const TSettingValues& defaults, bool quiet,
                  const TFigureWriter& figures, bool repeat) {
  QList<TFileEntry> expected;
  TResult<TRunRecord> record = CheckFiles(dir, defaults, expected);
  if (!record) return record.Error();
  if (!repeat) return Success();

  TRunOptions options;
  options.config = QDir(dir).filePath(QLatin1String(kRunRecordName));
  TResult<TRunPlan> plan = ResolvePlan(options, defaults, TPlanTarget::kFolder);
  if (!plan) return plan.Error();
  QTemporaryDir temporary;
  if (!temporary.isValid())
    return Failed(QStringLiteral("cannot make a temporary folder: %1").arg(temporary.errorString()));
  const QString again = temporary.filePath(QStringLiteral("run"));
  if (TStatus ran = RunPlan(form, std::move(*plan), {again, false, quiet, figures, {}}); !ran) return ran;
  if (StopRequested())
    return Failed(QStringLiteral("interrupted before the repeat was complete: nothing was compared"));
  TResult<QList<TFileEntry>> repeated = ListFiles(again);
  if (!repeated) return repeated.Error();
  if (TStatus same = Compare(expected, *repeated, QStringLiteral("when repeated")); !same) return same;
  if (record->listsFiles) {
    const auto listed = ByPath(expected);
    for (const TFileEntry& f : *repeated) {
      if (!listed.contains(f.path))
        return Failed(QStringLiteral("the repeated run also wrote %1, which the record does not list").arg(f.path));
    }
  }
  return Success();
}

QStringList SweepRuns(const QString& dir) {
  const QDir folder(dir);
  if (QFileInfo(folder.filePath(QLatin1String(kRunRecordName))).exists()) return {};
  // A sweep is what the summary reads as one; its folders that lost their
  // record are runs too, which fail their check.
  if (SweepRunFolders(dir).isEmpty()) return {};
  return folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList ChooseRepeated(const QStringList& runs, int32_t count) {
  if (count == kRepeatAll || count >= runs.size()) return runs;
  // Each name's own draw: the first bytes of its SHA-256.
  std::vector<std::pair<QByteArray, qsizetype>> draws;
  for (qsizetype i = 0; i < runs.size(); ++i)
    draws.emplace_back(QCryptographicHash::hash(runs[i].toUtf8(), QCryptographicHash::Sha256), i);
  std::sort(draws.begin(), draws.end());
  std::vector<qsizetype> chosen;
  for (int32_t k = 0; k < count; ++k) chosen.push_back(draws[static_cast<size_t>(k)].second);
  std::sort(chosen.begin(), chosen.end());
  QStringList picked;
  for (qsizetype i : chosen) picked << runs[i];
  return picked;
}

TStatus VerifySweep(const QString& dir, const TSettingValues& defaults, int32_t repeat, const QString& program) {
  const QString root = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
  const QStringList runs = SweepRuns(root);
  if (runs.isEmpty()) {
    return Refused(QStringLiteral("%1 holds no run: it has no %2, nor folders of runs that have one")
                       .arg(dir, QLatin1String(kRunRecordName)));
  }
  InstallStopSignals();
  // Every run's files against its record, the runs shared among the cores.
  std::vector<TRunVerdict> verdicts(static_cast<size_t>(runs.size()));
  ForEachAtOnce(runs.size(), [&](qsizetype i) {
    QList<TFileEntry> expected;
    const TResult<TRunRecord> record = CheckFiles(QDir(root).filePath(runs[i]), defaults, expected);
    if (!record) verdicts[static_cast<size_t>(i)] = {TVerdict::kDiffers, record.Error().message};
  });
  // The sample, each in a process of its own, of the runs whose files are intact.
  QHash<QString, size_t> indexOf;
  for (qsizetype i = 0; i < runs.size(); ++i) indexOf.insert(runs[i], static_cast<size_t>(i));
  QStringList toRepeat;
  for (const QString& name : ChooseRepeated(runs, repeat)) {
    if (verdicts[indexOf.value(name)].verdict == TVerdict::kIntact) toRepeat << name;
  }
  std::vector<TRunVerdict> repeats(static_cast<size_t>(toRepeat.size()));
  ForEachAtOnce(toRepeat.size(), [&](qsizetype i) {
    if (StopRequested()) {
      repeats[static_cast<size_t>(i)] = {TVerdict::kNotRepeated, QStringLiteral("interrupted before its repeat")};
      return;
    }
    repeats[static_cast<size_t>(i)] = RepeatInProcess(program, QDir(root).filePath(toRepeat[i]));
  });
  for (qsizetype i = 0; i < toRepeat.size(); ++i)
    verdicts[indexOf.value(toRepeat[i])] = repeats[static_cast<size_t>(i)];

  // The counts, a few runs that are not intact, and every run in a list.
  qsizetype counts[4] = {};
  QStringList lines;
  QStringList examples;
  qsizetype firstBad = -1;
  for (qsizetype i = 0; i < runs.size(); ++i) {
    const TRunVerdict& v = verdicts[static_cast<size_t>(i)];
    ++counts[static_cast<int>(v.verdict)];
    lines << VerdictLine(runs[i], v);
    if (v.verdict == TVerdict::kDiffers || v.verdict == TVerdict::kNotRepeated) {
      if (firstBad < 0) firstBad = i;
      if (examples.size() < kExamplesShown) examples << lines.back();
    }
  }
  const qsizetype differ = counts[static_cast<int>(TVerdict::kDiffers)];
  const qsizetype notRepeated = counts[static_cast<int>(TVerdict::kNotRepeated)];
  const qsizetype repeated = counts[static_cast<int>(TVerdict::kRepeated)];
  QString summary = QStringLiteral("verified %1: of %2 runs %3 intact (%4 of them repeated identically)")
                        .arg(root)
                        .arg(runs.size())
                        .arg(runs.size() - differ)
                        .arg(repeated);
  if (differ > 0) summary += QStringLiteral(", %1 differ").arg(differ);
  if (notRepeated > 0) summary += QStringLiteral(", %1 could not be repeated").arg(notRepeated);
  std::printf("%s\n", qPrintable(summary));
  for (const QString& example : examples) std::printf("%s\n", qPrintable(OneLine(example)));
  const QString listPath = root + QStringLiteral("/.sweep/verify.txt");
  QByteArray list;
  for (const QString& line : lines) list += OneLine(line).toUtf8() + '\n';
  // The list goes only into a .sweep that is a folder of its own: a link
  // there would take it out of DIR.
  const QString state = root + QStringLiteral("/.sweep");
  const QFileInfo stateInfo(state);
  TStatus saved = stateInfo.isSymLink() || (stateInfo.exists() && !stateInfo.isDir())
                      ? TStatus(Refused(QStringLiteral("refused to write %1: %2 is not a folder of its own, and is "
                                                       "never followed or replaced")
                                            .arg(listPath, state)))
                  : stateInfo.exists() || ::mkdir(QFile::encodeName(state).constData(), kStateMode) == 0
                      ? SaveBytes(list, listPath)
                      : TStatus(Failed(QStringLiteral("cannot make the folder %1: %2")
                                           .arg(state, QString::fromLocal8Bit(std::strerror(errno)))));
  if (saved) {
    std::printf("every run's outcome, one a line: %s\n", qPrintable(listPath));
  } else {
    std::printf("the list of every run's outcome could not be written: %s\n", qPrintable(saved.Error().message));
  }
  std::fflush(stdout);
  // Every run intact, but its list not written: not a success.
  if (firstBad < 0) return saved;
  const QString& name = runs[firstBad];
  return Failed(QStringLiteral("%1: %2 (%3 of %4 runs failed verification)")
                    .arg(name, verdicts[static_cast<size_t>(firstBad)].why)
                    .arg(differ + notRepeated)
                    .arg(runs.size()));
}
