#include "SweepCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstring>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "RunRecord.h"

namespace {

constexpr const char* kOutcomeNames[kUnfinishedKinds] = {"failed", "interrupted", "not started"};
constexpr const char* kThisMachine = "this machine";
constexpr const char* kSomeNode = "a node";  // a task that did not say where it ran
constexpr const char* kJobLogHeader = "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n";
// The columns of a job log that the check reads.
constexpr qsizetype kSeqColumn = 0;
constexpr qsizetype kHostColumn = 1;
constexpr qsizetype kExitColumn = 6;
constexpr qsizetype kSignalColumn = 7;
// A shell reports a child ended by signal N as the exit status 128 + N.
constexpr int32_t kSignalStatusBase = 128;
// ssh's exit status when the connection fails, above those of a signal.
constexpr int32_t kSshFailedStatus = 255;
// A task's status above this is GNU parallel's own failure, not its runs'.
constexpr int32_t kParallelOwnFailure = 100;
constexpr int32_t kParallelMissingStatus = 127;
// The most of a job line that the report shows.
constexpr qsizetype kReportedJobLine = 200;
// The end of a task's output that the check reads for its last line.
constexpr qint64 kTailBytes = 64 * 1024;

bool IsBlank(const QByteArray& line) {
  for (const char c : line) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') return false;
  }
  return true;
}

// A file's lines without their line ends; a last line without one too.
QList<QByteArray> Lines(const QByteArray& text) {
  QList<QByteArray> lines = text.split('\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// A small file of the sweep's, without its trailing line ends, as a shell
// reads it with $(cat FILE); empty when it cannot be read.
QByteArray ReadTrimmed(const QString& path) {
  TResult<TBoundedFile> file = TBoundedFile::Open(path, kSweepFileByteLimit);
  if (!file) return {};
  TResult<QByteArray> read = file->Read(std::min(file->Size(), kTailBytes));
  if (!read) return {};
  QByteArray text = *read;
  while (text.endsWith('\n')) text.chop(1);
  return text;
}

// The last line of a file (the last of its end), empty when it cannot be read.
QByteArray LastLine(const QString& path) {
  if (!TBoundedFile::Open(path, kSweepFileByteLimit)) return {};
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  if (file.size() > kTailBytes) file.seek(file.size() - kTailBytes);
  QByteArray tail = file.readAll();
  if (tail.endsWith('\n')) tail.chop(1);
  return tail.mid(tail.lastIndexOf('\n') + 1);
}

// A job log's place: decimal digits only.
std::optional<qlonglong> Digits(const QByteArray& text) {
  bool ok = !text.isEmpty();
  for (const char c : text) ok = ok && c >= '0' && c <= '9';
  const qlonglong value = ok ? text.toLongLong(&ok) : 0;
  return ok ? std::optional<qlonglong>(value) : std::nullopt;
}

std::optional<int32_t> WholeNumber(const QByteArray& text) {
  bool ok = false;
  const int32_t value = text.trimmed().toInt(&ok);
  return ok ? std::optional<int32_t>(value) : std::nullopt;
}

TResult<QByteArray> ReadWhole(const QString& path) { return ReadBounded(path, kSweepFileByteLimit); }

// The first column of each line of a tasks file: the runs in the order parallel was given them.
QStringList TaskNames(const QByteArray& tasks) {
  QStringList names;
  for (const QByteArray& line : Lines(tasks)) names << QString::fromUtf8(line.left(line.indexOf('\t')));
  return names;
}

// A job line as the report names it: whole when short, else its start and
// its length.
QString ShortJobLine(const QString& line) {
  if (line.size() <= kReportedJobLine) return line;
  return QStringLiteral("%1... (%2 characters)").arg(line.left(kReportedJobLine)).arg(line.size());
}

}  // namespace

TResult<QList<TSweepRun>> ParseSweepRuns(const QByteArray& text, const QString& source) {
  QList<TSweepRun> runs;
  for (const QByteArray& line : Lines(text)) {
    const QList<QByteArray> fields = line.split('\t');
    bool ok = fields.size() >= 3;
    const int32_t number = ok ? fields[1].toInt(&ok) : 0;
    if (!ok) {
      return Failed(QStringLiteral("%1 holds a line that is not folder, line number, job line: %2")
                        .arg(source, QString::fromUtf8(line)));
    }
    runs << TSweepRun{QString::fromUtf8(fields[0]), number,
                      QString::fromUtf8(line.mid(fields[0].size() + fields[1].size() + 2))};
  }
  return runs;
}

TRunVerdict JudgeRun(const TRunFacts& facts, const TSweepEnd& end) {
  if (facts.ended == QLatin1String(kEndedCompleted)) return {TSweepOutcome::kCompleted, {}};
  QString host = facts.logged ? facts.logged->host : QString();
  if (host == QLatin1String(":")) host = QLatin1String(kThisMachine);
  const QString status = facts.logged ? facts.logged->exitValue : QString();
  const QString signal = facts.logged && !facts.logged->signal.isEmpty() ? facts.logged->signal : QStringLiteral("0");
  bool numeric = false;
  const int32_t statusValue = status.toInt(&numeric);
  if (facts.ended == QLatin1String(kEndedInterrupted))
    return {TSweepOutcome::kInterrupted, host.isEmpty() ? QStringLiteral("interrupted") : "interrupted on " + host};
  if (status.isEmpty() && end.interrupted)
    return {TSweepOutcome::kNotStarted, QStringLiteral("not run: the sweep was interrupted")};
  if (status.isEmpty()) {
    return {
        TSweepOutcome::kNotStarted,
        QStringLiteral("not run: GNU parallel stopped with status %1 (its message is above)").arg(end.parallelStatus)};
  }
  // The signal that ended the run: parallel's own record of it, or the
  // exit status above 128 of the shell that started it (on another
  // machine). A run the sweep's stop reached before it could record itself
  // was interrupted; any other run that a signal ended (a crash, an abort,
  // a kill) failed, and says which signal.
  bool signalNumeric = false;
  int32_t signalValue = signal.toInt(&signalNumeric);
  if (signalValue == 0 && numeric && statusValue > kSignalStatusBase && statusValue < kSshFailedStatus) {
    signalValue = statusValue - kSignalStatusBase;
    signalNumeric = true;
  }
  if (signal != QLatin1String("0") || signalValue != 0) {
    const QString number = signalNumeric ? QString::number(signalValue) : signal;
    if (end.interrupted)
      return {TSweepOutcome::kInterrupted, QStringLiteral("stopped by signal %1 on %2").arg(number, host)};
    const char* abbreviation = signalNumeric ? sigabbrev_np(signalValue) : nullptr;
    const QString named = abbreviation ? QStringLiteral(" (SIG%1)").arg(QLatin1String(abbreviation)) : QString();
    return {TSweepOutcome::kFailed, QStringLiteral("killed by signal %1%2 on %3").arg(number, named, host)};
  }
  if (status == QString::number(kSshFailedStatus) && host != QLatin1String(kThisMachine))
    return {TSweepOutcome::kInterrupted, "lost the connection to " + host};
  if (status == QLatin1String("0"))
    return {TSweepOutcome::kFailed, QStringLiteral("exit 0 on %1 but no completed run.json came back").arg(host)};
  return {TSweepOutcome::kFailed, QStringLiteral("exit %1 on %2").arg(status, host)};
}

bool WorthRepeating(TSweepOutcome outcome, const TSweepEnd& end) {
  if (outcome == TSweepOutcome::kCompleted || outcome == TSweepOutcome::kFailed) return false;
  return outcome != TSweepOutcome::kNotStarted || end.interrupted;
}

QHash<QString, TJobLogEntry> ReadJobLog(const QByteArray& text, const QStringList& started) {
  QHash<QString, TJobLogEntry> entries;
  QList<QByteArray> lines = text.split('\n');
  lines.removeLast();  // what follows the last line end: empty, or a line parallel did not finish
  for (const QByteArray& line : lines) {
    // Columns as a shell reads them with IFS=tab: runs of tabs are one.
    QList<QByteArray> columns = line.split('\t');
    columns.removeAll(QByteArray());
    const auto column = [&columns](qsizetype i) {
      return i < columns.size() ? QString::fromUtf8(columns[i]) : QString();
    };
    const std::optional<qlonglong> place = Digits(columns.value(kSeqColumn));
    if (!place || *place < 1 || *place > started.size()) continue;
    entries.insert(started[*place - 1], {column(kHostColumn), column(kExitColumn), column(kSignalColumn)});
  }
  return entries;
}

void TLastError::Add(const QByteArray& line) {
  if (line.startsWith("pathwick_run: ")) ours_ = line;
  if (!line.startsWith("rsync: ") && !line.startsWith("rsync error: ") && !IsBlank(line)) other_ = line;
}

QString TLastError::Text() const { return QString::fromUtf8(ours_.isEmpty() ? other_ : ours_); }

QString LastError(const QByteArray& text) {
  TLastError last;
  for (const QByteArray& line : Lines(text)) last.Add(line);
  return last.Text();
}

TSweepCheck CheckRuns(const QList<TSweepRun>& runs, const QList<TRunFacts>& facts, const TSweepEnd& end) {
  TSweepCheck check;
  check.total = static_cast<int32_t>(runs.size());
  std::array<QStringList, kUnfinishedKinds> examples;
  for (qsizetype i = 0; i < runs.size(); ++i) {
    const TRunVerdict verdict = JudgeRun(facts[i], end);
    if (verdict.outcome == TSweepOutcome::kCompleted) {
      ++check.completed;
      continue;
    }
    const size_t kind = static_cast<size_t>(verdict.outcome);
    ++check.counts[kind];
    if (WorthRepeating(verdict.outcome, end)) ++check.toRepeat;
    // The list holds the whole job line; the report, one short line a run.
    const auto described = [&](const QString& jobLine) {
      QString line =
          QStringLiteral("%1 (line %2: %3) %4").arg(runs[i].name).arg(runs[i].line).arg(jobLine, verdict.why);
      if (!facts[i].lastError.isEmpty()) line += ": " + facts[i].lastError;
      return line;
    };
    if (examples[kind].size() < kExamplesShown) examples[kind] << described(ShortJobLine(runs[i].jobLine));
    check.unfinished << described(runs[i].jobLine);
  }
  for (const QStringList& kind : examples) check.examples += kind;
  check.examples = check.examples.mid(0, kExamplesShown);
  return check;
}

QStringList ReportLines(const TSweepCheck& check, const QString& listPath, bool listWritten) {
  if (check.unfinished.isEmpty()) return {};
  QString counts = QStringLiteral("of %1 runs %2 completed").arg(check.total).arg(check.completed);
  for (size_t kind = 0; kind < kUnfinishedKinds; ++kind) {
    if (check.counts[kind] > 0) counts += QStringLiteral(", %1 %2").arg(check.counts[kind]).arg(kOutcomeNames[kind]);
  }
  QStringList lines{counts};
  lines += check.examples;
  lines << (listWritten ? "every run that did not complete, one a line: " + listPath
                        : "cannot write the list of the runs that did not complete to " + listPath);
  return lines;
}

TSweepClose CloseSweep(const TSweepCheck& check, const QString& outdir, bool summarized) {
  const int32_t notCompleted = check.total - check.completed;
  if (notCompleted == 0) return {QString(), summarized ? kExitDone : kExitFailed};
  QString message = QStringLiteral("%1 of %2 runs did not complete").arg(notCompleted).arg(check.total);
  if (summarized) {
    message += QStringLiteral("; %1/summary.csv is partial: %2 runs completed (its column ended says how each ended)")
                   .arg(outdir)
                   .arg(check.completed);
  } else {
    message += QStringLiteral("; no summary written");
  }
  if (check.toRepeat > 0)
    message += QStringLiteral("; run the same command again to complete the %1 interrupted").arg(check.toRepeat);
  return {message, kExitFailed};
}

TResult<TSlurmMerge> MergeSlurmLogs(const QString& submission) {
  const QDir sub(submission);
  TSlurmMerge merge;
  const QFileInfo tasksFile(sub.filePath(QLatin1String(kSweepTasksName)));
  if (!tasksFile.exists() || tasksFile.size() == 0) return merge;
  TResult<QByteArray> tasks = ReadWhole(tasksFile.filePath());
  if (!tasks) return tasks.Error();
  const QByteArray chunkText = ReadTrimmed(sub.filePath(QStringLiteral("chunk")));
  const std::optional<int32_t> size = WholeNumber(chunkText);
  if (!size || *size < 1) {
    return Failed(QStringLiteral("the runs per task in %1 are no whole number from 1: '%2'")
                      .arg(sub.filePath(QStringLiteral("chunk")), QString::fromUtf8(chunkText)));
  }
  qsizetype runs = 0;
  for (const QByteArray& line : Lines(*tasks)) runs += line.isEmpty() ? 0 : 1;
  const qsizetype count = (runs + *size - 1) / *size;
  merge.merged = true;
  merge.jobLog = kJobLogHeader;
  merge.chunkJobLog = kJobLogHeader;
  qsizetype chunksBefore = 0;  // the chunks of the tasks before this one
  for (qsizetype t = 0; t < count; ++t) {
    const QString task = sub.filePath(QStringLiteral("task-%1").arg(t));
    const QByteArray node = ReadTrimmed(task + ".node");
    const QByteArray ended = ReadTrimmed(task + ".ended");
    const QString logPath = task + ".joblog";
    const QString chunkRunsPath = task + ".chunk-runs";
    const bool chunked = QFileInfo::exists(chunkRunsPath);
    qsizetype chunks = 0;
    if (chunked) {
      TResult<QByteArray> runsOf = ReadWhole(chunkRunsPath);
      if (!runsOf) return runsOf.Error();
      QByteArray last;
      for (const QByteArray& line : Lines(*runsOf)) {
        const QByteArray name = line.left(line.indexOf('\t'));
        if (name != last) ++chunks;
        last = name;
        merge.chunkRuns += line + '\n';
      }
    }
    if (QFileInfo::exists(logPath)) {
      TResult<QByteArray> log = ReadBounded(logPath, kSweepFileByteLimit);
      if (!log) return log.Error();
      const QList<QByteArray> lines = Lines(*log);
      for (qsizetype i = 1; i < lines.size(); ++i) {  // past parallel's header
        QList<QByteArray> columns = lines[i].split('\t');
        const std::optional<qlonglong> seq = Digits(columns[0]);
        if (!seq) continue;
        columns[0] = QByteArray::number(*seq + (chunked ? chunksBefore : t * *size));
        if (columns.size() > 1 && columns[1] == ":") columns[1] = node.isEmpty() ? QByteArray(kSomeNode) : node;
        (chunked ? merge.chunkJobLog : merge.jobLog) += columns.join('\t') + '\n';
      }
    }
    chunksBefore += chunks;
    const QString nodeName = QString::fromUtf8(node);
    if (ended.isEmpty() || ended == "stopped") {
      merge.end.interrupted = true;
    } else if (ended == "no-parallel") {
      merge.end.parallelStatus = kParallelMissingStatus;
      merge.messages << QStringLiteral("task %1 of the array could not run its runs: GNU parallel is missing on %2")
                            .arg(t)
                            .arg(nodeName);
    } else if (const std::optional<int32_t> status = WholeNumber(ended); status && *status > kParallelOwnFailure) {
      merge.end.parallelStatus = *status;
      merge.messages << QStringLiteral("task %1 of the array on %2: %3")
                            .arg(t)
                            .arg(nodeName, QString::fromUtf8(LastLine(task + ".out")));
    }
  }
  return merge;
}

TChunkFacts ReadChunks(const QByteArray& chunkRuns, const QByteArray& jobLog,
                       const std::function<QByteArray(const QString& chunk, bool errors)>& output) {
  QStringList chunks;
  QHash<QString, QStringList> members;
  for (const QByteArray& line : Lines(chunkRuns)) {
    const qsizetype tab = line.indexOf('\t');
    if (tab < 0) continue;
    const QString chunk = QString::fromUtf8(line.left(tab));
    if (!members.contains(chunk)) chunks << chunk;
    members[chunk] << QString::fromUtf8(line.mid(tab + 1));
  }
  const QHash<QString, TJobLogEntry> entries = ReadJobLog(jobLog, chunks);
  const auto folderName = [](const QByteArray& path) { return QString::fromUtf8(path.mid(path.lastIndexOf('/') + 1)); };
  TChunkFacts facts;
  for (const QString& chunk : chunks) {
    const std::optional<TJobLogEntry> entry =
        entries.contains(chunk) ? std::optional<TJobLogEntry>(entries.value(chunk)) : std::nullopt;
    const QString host = entry ? entry->host : QStringLiteral(":");  // a chunk runs on this machine
    QHash<QString, QString> status;
    for (const QByteArray& line : Lines(output(chunk, false))) {
      const qsizetype tab = line.lastIndexOf('\t');
      if (tab > 0) status.insert(folderName(line.left(tab)), QString::fromUtf8(line.mid(tab + 1)).trimmed());
    }
    // Each failed run's word is claimed by its folder; the rest is the chunk's.
    const QSet<QString> own(members[chunk].cbegin(), members[chunk].cend());
    QHash<QString, QString> claimed;
    TLastError unclaimed;
    for (const QByteArray& line : Lines(output(chunk, true))) {
      // "pathwick_run: FOLDER: why", FOLDER absolute (this machine) or
      // relative (a chunk on another machine), and free of ": ".
      const QByteArray ours = "pathwick_run";
      const qsizetype start = ours.size() + 2;
      const qsizetype end = line.startsWith(ours + ": ") ? line.indexOf(": ", start) : -1;
      if (end > 0 && own.contains(folderName(line.mid(start, end - start)))) {
        claimed.insert(folderName(line.mid(start, end - start)), QString::fromUtf8(ours + line.mid(end)));
      } else {
        unclaimed.Add(line);
      }
    }
    for (const QString& run : members[chunk]) {
      if (const auto told = status.constFind(run); told != status.cend()) {
        facts.logged.insert(run, {host, *told, QStringLiteral("0")});
        if (claimed.contains(run)) facts.lastError.insert(run, claimed.value(run));
        continue;
      }
      if (entry) {
        facts.logged.insert(run, *entry);
        facts.lastError.insert(run, unclaimed.Text());
      }
      break;
    }
  }
  return facts;
}

TResult<TSweepCheckResult> CheckSweep(const QString& outdir, const TSweepEnd& given, const QString& slurmSubmission) {
  const QString root = QDir::cleanPath(outdir);
  const QDir state(root + QLatin1Char('/') + QLatin1String(kSweepStateFolder));
  TSweepCheckResult result;
  TSweepEnd end = given;
  QString tasksPath = state.filePath(QLatin1String(kSweepTasksName));
  const QString jobLogPath = state.filePath(QLatin1String(kSweepJobLogName));
  if (!slurmSubmission.isEmpty()) {
    TResult<TSlurmMerge> merge = MergeSlurmLogs(slurmSubmission);
    if (!merge) return merge.Error();
    if (merge->merged) {
      // The chunks' log, when the tasks made their runs in chunks, in the
      // place of the chunks of a sweep on this machine.
      const bool chunks = !merge->chunkRuns.isEmpty();
      if (TStatus saved = SaveBytes(chunks ? merge->chunkJobLog : merge->jobLog, jobLogPath); !saved)
        return saved.Error();
      const QString chunkRunsPath = state.filePath(QLatin1String(kSweepChunkRunsName));
      if (chunks) {
        if (TStatus saved = SaveBytes(merge->chunkRuns, chunkRunsPath); !saved) return saved.Error();
      } else {
        QFile::remove(chunkRunsPath);
      }
    }
    end.interrupted = end.interrupted || merge->end.interrupted;
    if (merge->end.parallelStatus != 0) end.parallelStatus = merge->end.parallelStatus;
    result.messages = merge->messages;
    tasksPath = QDir(slurmSubmission).filePath(QLatin1String(kSweepTasksName));
  }

  const QString runsPath = state.filePath(QLatin1String(kSweepRunsName));
  TResult<QByteArray> runsText = ReadWhole(runsPath);
  if (!runsText) return runsText.Error();
  TResult<QList<TSweepRun>> parsed = ParseSweepRuns(*runsText, runsPath);
  if (!parsed) return parsed.Error();
  const QList<TSweepRun>& runs = *parsed;
  QStringList started;
  if (QFile::exists(tasksPath)) {
    TResult<QByteArray> tasks = ReadWhole(tasksPath);
    if (!tasks) return tasks.Error();
    started = TaskNames(*tasks);
  }
  QHash<QString, TJobLogEntry> logged;
  if (QFile::exists(jobLogPath)) {
    TResult<QByteArray> log = ReadWhole(jobLogPath);
    if (!log) return log.Error();
    logged = ReadJobLog(*log, started);
  }

  const QDir stderrFolder(state.filePath(QLatin1String(kSweepStderrFolder)));
  // A sweep on this machine, or the tasks of a Slurm array, made the runs in chunks.
  std::optional<TChunkFacts> chunked;
  const QString chunkRunsPath = state.filePath(QLatin1String(kSweepChunkRunsName));
  if (QFile::exists(chunkRunsPath)) {
    TResult<QByteArray> chunkRuns = ReadWhole(chunkRunsPath);
    if (!chunkRuns) return chunkRuns.Error();
    QByteArray log;
    if (QFile::exists(jobLogPath)) {
      TResult<QByteArray> read = ReadWhole(jobLogPath);
      if (!read) return read.Error();
      log = *read;
    }
    chunked = ReadChunks(*chunkRuns, log, [&stderrFolder](const QString& chunk, bool errors) {
      TResult<QByteArray> text =
          ReadWhole(stderrFolder.filePath(chunk + (errors ? QStringLiteral(".err") : QString())));
      return text ? *text : QByteArray();
    });
  }

  QList<TRunFacts> facts;
  for (const TSweepRun& run : runs) {
    TRunFacts f;
    f.ended = RecordedEnding(root + QLatin1Char('/') + run.name);
    if (f.ended != QLatin1String(kEndedCompleted) && chunked) {
      if (const auto entry = chunked->logged.constFind(run.name); entry != chunked->logged.cend()) f.logged = *entry;
      f.lastError = chunked->lastError.value(run.name);
    } else if (f.ended != QLatin1String(kEndedCompleted)) {
      if (const auto entry = logged.constFind(run.name); entry != logged.cend()) f.logged = *entry;
      // A run never started has no such file.
      const QString errorsPath = stderrFolder.filePath(run.name + ".err");
      QFile errors(errorsPath);
      if (TBoundedFile::Open(errorsPath, kSweepFileByteLimit) && errors.size() > 0 &&
          errors.open(QIODevice::ReadOnly)) {
        TLastError last;
        while (!errors.atEnd()) {
          QByteArray line = errors.readLine(kTailBytes);
          if (line.endsWith('\n')) line.chop(1);
          last.Add(line);
        }
        f.lastError = last.Text();
      }
    }
    facts << f;
  }
  result.check = CheckRuns(runs, facts, end);

  const QString listPath = state.filePath(QLatin1String(kNotCompletedName));
  QFile::remove(listPath);
  if (!result.check.unfinished.isEmpty()) {
    QByteArray list;
    for (const QString& line : result.check.unfinished) list += line.toUtf8() + '\n';
    const bool written = SaveBytes(list, listPath).Ok();
    result.messages += ReportLines(result.check, listPath, written);
  }
  return result;
}
