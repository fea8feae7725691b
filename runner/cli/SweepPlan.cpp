#include "SweepPlan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "AtomicFile.h"
#include "FileNames.h"
#include "Options.h"
#include "Plan.h"
#include "RunRecord.h"

namespace {

// Every file the summary writes beside the runs.
constexpr const char* kSummaryNames[] = {
    kSummaryCsvName,      kSummaryPngName,      kSummarySvgName,     kSamplesCsvName,     kSamplesCsvGzName,
    kGroupsCsvName,       kComparisonCsvName,   kEffectsCsvName,     kEffectsPngName,     kEffectsSvgName,
    kInteractionsPngName, kInteractionsSvgName, kConvergenceCsvName, kConvergencePngName, kConvergenceSvgName,
};

// What an interrupted run leaves beside its folder (TRunFolder's temporary
// and set-aside folders), and an interrupted summary beside a file (the
// temporary file of the atomic write).
bool LeftBehind(const QString& name, const QSet<QString>& own, bool swept) {
  static const QRegularExpression runLeft(QStringLiteral("^\\.(run-[^/]+)\\.(tmp|old)-[A-Za-z0-9]{6}$"));
  if (const QRegularExpressionMatch m = runLeft.match(name); m.hasMatch()) return own.contains(m.captured(1));
  const QString target = AtomicTarget(name);
  if (swept && !target.isEmpty()) {
    for (const char* summary : kSummaryNames) {
      if (target == QLatin1String(summary)) return true;
    }
  }
  return false;
}

// The files a run writes in its folder, by name; the video, snapshots and
// kept checkpoints by their place.
constexpr const char* kRunFileNames[] = {
    kRunRecordName,         kSeriesName,       kHistogramsName,
    kGeneChartPngName,      kGeneChartSvgName, kHistogramChartPngName,
    kHistogramChartSvgName, kFinalPictureName, kCheckpointName,
    kAgentTableName,        kLineageName,      kFieldTableName,
};
constexpr const char* kVideoExtension = ".mp4";

// The file a file on its way into place stands for: the atomic writer's
// temporary, or rsync's ".NAME.XXXXXX" from another machine; empty for
// any other name.
QString TemporaryTarget(const QString& name) {
  static const QRegularExpression rsync(QStringLiteral("^\\.(.+)\\.[A-Za-z0-9]{6}$"));
  if (QString target = AtomicTarget(name); !target.isEmpty()) return target;
  const QRegularExpressionMatch m = rsync.match(name);
  return m.hasMatch() ? m.captured(1) : QString();
}

// A file a run writes, by its path inside the run's folder.
bool RunFilePath(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString folder = slash < 0 ? QString() : path.left(slash);
  const QString name = path.mid(slash + 1);
  if (folder == QLatin1String(kSnapshotsFolder) || folder == QLatin1String(kKeptCheckpointFolder))
    return name.startsWith(QLatin1String("step-"));
  if (!folder.isEmpty()) return false;
  for (const char* file : kRunFileNames) {
    if (name == QLatin1String(file)) return true;
  }
  return name.endsWith(QLatin1String(kVideoExtension));
}

// The temporary of a file a run writes.
bool RunTemporaryPath(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString target = TemporaryTarget(path.mid(slash + 1));
  return !target.isEmpty() && RunFilePath(path.left(slash + 1) + target);
}

// The first entry under `folder` that no run writes (a plain file that is
// neither a run's file nor its temporary, or anything else), by path inside
// it; empty when there is none. Links are named, never followed.
QString FirstNotOfARun(const QString& folder) {
  const QDir root(folder);
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  QStringList foreign;
  while (it.hasNext()) {
    const QString path = root.relativeFilePath(it.next());
    const QFileInfo info = it.fileInfo();
    if (info.isDir() && !info.isSymLink()) continue;
    const bool plain = info.isFile() && !info.isSymLink();
    if (!plain || !(RunFilePath(path) || RunTemporaryPath(path))) foreign << path;
  }
  foreign.sort();
  return foreign.value(0);
}

bool IsSummaryName(const QString& name) {
  for (const char* summary : kSummaryNames) {
    if (name == QLatin1String(summary)) return true;
  }
  return false;
}

QString Refusal(const QString& what) {
  return QStringLiteral("%1; choose another folder, or move it out of the way").arg(what);
}

// The plan of a job line as the sweep runs it, into `folder`.
TResult<TRunPlan> JobLinePlan(const QString& folder, const QString& jobLine, const TSettingValues& defaults) {
  TResult<TCommand> command = ParseCommandLine({Dashed(TOption::kOut), folder, Dashed(TOption::kJob), jobLine});
  if (!command) return command.Error();
  return ResolvePlan(command->run, defaults, TPlanTarget::kFolder);
}

}  // namespace

const char* RunActionName(TRunAction action) {
  switch (action) {
    case TRunAction::kKeep: return "keep";
    case TRunAction::kMake: return "make";
    case TRunAction::kRemake: return "remake";
  }
  return "make";
}

QStringList RecordDifferences(const TRunSpec& recorded, const TRunSpec& asked) {
  QStringList differences;
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (recorded.settings[i] == asked.settings[i]) continue;
    differences << QStringLiteral("%1 %2 in its record, %3 in its job line")
                       .arg(QLatin1String(specs[i].option), FormatSettingValue(specs[i], recorded.settings[i]),
                            FormatSettingValue(specs[i], asked.settings[i]));
  }
  if (!asked.seedFromClock && recorded.seed != asked.seed)
    differences << QStringLiteral("seed %1 in its record, %2 in its job line").arg(recorded.seed).arg(asked.seed);
  if (recorded.steps != asked.steps)
    differences << QStringLiteral("steps %1 in its record, %2 in its job line").arg(recorded.steps).arg(asked.steps);
  if (recorded.fromSha256 != asked.fromSha256) {
    const auto named = [](const TRunSpec& spec) {
      return spec.fromSha256.isEmpty() ? QStringLiteral("no checkpoint") : "checkpoint " + spec.fromSha256.left(12);
    };
    differences << QStringLiteral("%1 in its record, %2 in its job line").arg(named(recorded), named(asked));
  }
  return differences;
}

QStringList ForeignEntries(const QString& outdir, const QList<TSweepRun>& runs) {
  QSet<QString> own;
  for (const TSweepRun& run : runs) own.insert(run.name);
  QStringList foreign;
  const QDir dir(outdir);
  // The summary's names are the sweep's only in a folder that a sweep has
  // held: elsewhere a summary.csv is someone else's.
  const QFileInfo state(dir.filePath(QLatin1String(kSweepStateFolder)));
  const bool swept = state.isDir() && !state.isSymLink();
  const QFileInfoList entries =
      dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& entry : entries) {
    const QString name = entry.fileName();
    const bool folder = entry.isDir() && !entry.isSymLink();
    if (folder && (name == QLatin1String(kSweepStateFolder) || own.contains(name))) continue;
    if (swept && !entry.isDir() && IsSummaryName(name)) continue;
    if (LeftBehind(name, own, swept)) continue;
    foreign << name;
  }
  return foreign;
}

TResult<QList<TRunAction>> PlanSweep(const QString& outdir, const QList<TSweepRun>& runs,
                                     const TSettingValues& defaults, bool redoChanged) {
  QList<TRunAction> actions;
  const QFileInfo info(outdir);
  if (!info.exists() && !info.isSymLink()) {
    for (qsizetype i = 0; i < runs.size(); ++i) actions << TRunAction::kMake;
    return actions;
  }
  if (!info.isDir()) return Refused(QStringLiteral("%1 exists and is not a folder").arg(outdir));
  if (const QStringList foreign = ForeignEntries(outdir, runs); !foreign.isEmpty()) {
    return Refused(Refusal(QStringLiteral("%1 holds %2, which is no run of this job list nor a file of its sweep")
                               .arg(outdir, QDir(outdir).filePath(foreign.front()))));
  }
  const QDir dir(outdir);
  for (const TSweepRun& run : runs) {
    const QString folder = dir.filePath(run.name);
    const QDir runDir(folder);
    if (!runDir.exists() || runDir.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
      actions << TRunAction::kMake;
      continue;
    }
    TResult<TRunRecord> record = ReadRunRecord(runDir.filePath(QLatin1String(kRunRecordName)), defaults);
    if (!record) {
      // What a run left before its record was written (or came back from
      // another machine) is made again; anything else is not the sweep's.
      if (const QString foreign = FirstNotOfARun(folder); !foreign.isEmpty()) {
        return Refused(
            Refusal(QStringLiteral("%1 holds files that are not a run (%2)").arg(folder, runDir.filePath(foreign))));
      }
      actions << TRunAction::kRemake;
      continue;
    }
    if (record->ended == QLatin1String(kEndedCompleted)) {
      TResult<TRunPlan> asked = JobLinePlan(folder, run.jobLine, defaults);
      const QStringList differences = asked ? RecordDifferences(record->spec, *asked)
                                            : QStringList{"its job line is refused: " + asked.Error().message};
      if (differences.isEmpty()) {
        actions << TRunAction::kKeep;
        continue;
      }
      if (!redoChanged) {
        return Refused(QStringLiteral("%1 (line %2) was made otherwise than its job line asks: %3; give --redo-changed "
                                      "to make such runs again")
                           .arg(folder)
                           .arg(run.line)
                           .arg(differences.join(QStringLiteral("; "))));
      }
    }
    // The run is removed to be made again: it must hold nothing but its own files.
    QStringList extra = UnlistedFiles(folder, *record);
    extra.removeIf(RunTemporaryPath);  // a file of the run on its way into place
    if (!extra.isEmpty()) {
      return Refused(Refusal(
          QStringLiteral("%1 holds %2, which its run did not write").arg(folder, runDir.filePath(extra.front()))));
    }
    actions << TRunAction::kRemake;
  }
  return actions;
}
