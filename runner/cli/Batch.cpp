#include "Batch.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "BoundedFile.h"
#include "CellForm.h"
#include "Plan.h"
#include "RunFolder.h"

namespace {

constexpr const char* kStandardInput = "-";
constexpr qsizetype kLinesNamed = 10;  // the summary names at most this many lines of each kind
constexpr qsizetype kFolderNameLimit = 255;

bool Skipped(const QString& line) {
  const QString text = line.trimmed();
  return text.isEmpty() || text.startsWith(QLatin1Char('#'));
}

// A folder of the batch's DIR: a plain name, neither hidden nor an option.
bool PlainFolderName(const QString& name) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9._+-]*$"));
  return name.size() <= kFolderNameLimit && plain.match(name).hasMatch();
}

// The job list: a regular file within the sweep's limit, or all of standard
// input up to the same limit.
TResult<QByteArray> ReadJobList(const QString& file) {
  if (file != QLatin1String(kStandardInput)) return ReadBounded(file, kSweepFileByteLimit);
  QFile input;
  if (!input.open(stdin, QIODevice::ReadOnly))
    return Refused(QStringLiteral("cannot read the job list on standard input"));
  QByteArray text = input.read(kSweepFileByteLimit + 1);
  if (text.size() > kSweepFileByteLimit) {
    return Refused(QStringLiteral("the job list on standard input holds more than the %1 bytes a job list may")
                       .arg(kSweepFileByteLimit));
  }
  return text;
}

// "line 4", "lines 3, 7 and 9", "lines 1, 2, ... and 5 more".
QString Lines(const QList<TBatchOutcome>& outcomes) {
  QStringList named;
  for (const TBatchOutcome& o : outcomes.mid(0, kLinesNamed))
    named << (o.run.line > 0 ? QString::number(o.run.line) : o.run.folder);
  QString text =
      (outcomes.size() == 1 ? QStringLiteral("line ") : QStringLiteral("lines ")) + named.join(QStringLiteral(", "));
  if (outcomes.size() > kLinesNamed) text += QStringLiteral(" and %1 more").arg(outcomes.size() - kLinesNamed);
  return text;
}

// One run as it would run alone: parsed and resolved from its job line into
// its folder, then run in a window of its own.
TStatus RunLine(const TBatchLine& run, const QString& folder, const TCommand& batch, const TBatchContext& context,
                const TFolderTaker& takeFolder) {
  QStringList arguments{Dashed(TOption::kOut), folder, Dashed(TOption::kJob), run.jobLine};
  if (batch.force) arguments << Dashed(TOption::kForce);
  TResult<TCommand> command = ParseCommandLine(arguments);
  if (!command) return command.Error();
  TResult<TRunPlan> plan = ResolvePlan(command->run, context.defaults, TPlanTarget::kFolder);
  if (!plan) return plan.Error();
  if (TStatus outside = CheckParentsOutside(folder, command->run, *plan); !outside) return outside;
  // Every run starts from the state a fresh program starts from.
  SetGeneratorStartState();
  std::unique_ptr<TForm1> window = context.newWindow();
  TStatus ran = RunPlan(*window, std::move(*plan), {folder, batch.force, batch.quiet, context.figures, takeFolder});
  window.reset();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return ran;
}

}  // namespace

TResult<QList<TBatchLine>> ParseBatchLines(const QByteArray& text, const QString& source) {
  QList<TBatchLine> runs;
  QHash<QString, int32_t> lineOf;
  QList<QByteArray> lines = text.split('\n');
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString line = QString::fromUtf8(lines[i]);
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    if (Skipped(line)) continue;
    TBatchLine run;
    run.line = static_cast<int32_t>(i + 1);
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    const QString first = tab < 0 ? QString() : line.left(tab);
    if (tab >= 0 && !first.startsWith(QLatin1Char('-')) && !first.trimmed().isEmpty()) {
      if (!PlainFolderName(first)) {
        return Refused(QStringLiteral("%1, line %2: '%3' is no folder name (letters, digits, and . _ + - after the "
                                      "first)")
                           .arg(source)
                           .arg(run.line)
                           .arg(first));
      }
      run.folder = first;
      run.jobLine = line.mid(tab + 1);
    } else {
      run.jobLine = line;
      run.folder = QStringLiteral("run-%1-seed-%2").arg(run.line, 4, 10, QLatin1Char('0')).arg(JobLineSeed(line));
    }
    run.jobLine.replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (const auto other = lineOf.constFind(run.folder); other != lineOf.cend()) {
      return Refused(
          QStringLiteral("%1: lines %2 and %3 both run into %4").arg(source).arg(*other).arg(run.line).arg(run.folder));
    }
    lineOf.insert(run.folder, run.line);
    runs << run;
  }
  if (runs.isEmpty()) return Refused(QStringLiteral("%1 holds no runs").arg(source));
  return runs;
}

QString BatchSummary(const QList<TBatchOutcome>& outcomes) {
  QList<TBatchOutcome> failed;
  QList<TBatchOutcome> notStarted;
  for (const TBatchOutcome& o : outcomes) {
    if (!o.started) {
      notStarted << o;
    } else if (o.status != kExitDone) {
      failed << o;
    }
  }
  if (failed.isEmpty() && notStarted.isEmpty()) return {};
  QStringList parts;
  if (!failed.isEmpty()) parts << QStringLiteral("%1 failed (%2)").arg(failed.size()).arg(Lines(failed));
  if (!notStarted.isEmpty()) {
    parts << QStringLiteral("%1 not started, as the batch was stopped (%2)")
                 .arg(notStarted.size())
                 .arg(Lines(notStarted));
  }
  return QStringLiteral("of %1 runs %2 completed; %3")
      .arg(outcomes.size())
      .arg(outcomes.size() - failed.size() - notStarted.size())
      .arg(parts.join(QStringLiteral("; ")));
}

TBatchOutcome RunBatchLine(const TBatchLine& run, const QString& dir, const TCommand& batch,
                           const TBatchContext& context, const TFolderTaker& takeFolder) {
  TBatchOutcome outcome;
  outcome.run = run;
  if (StopRequested()) return outcome;
  outcome.started = true;
  TStatus ran = Success();
  try {
    ran = RunLine(run, QDir(dir).filePath(run.folder), batch, context, takeFolder);
  } catch (const std::exception& e) {
    ran = Failed(QStringLiteral("the run stopped on an error: %1").arg(QString::fromLocal8Bit(e.what())));
  }
  if (!ran) {
    outcome.status = ran.Error().status;
    outcome.message = ran.Error().message;
  }
  return outcome;
}

namespace {

// The runs of a batch given as --out DIR --job LINE pairs, each folder as given.
TResult<QList<TBatchLine>> PairedLines(const TCommand& command) {
  QList<TBatchLine> runs;
  QHash<QString, qsizetype> given;
  for (qsizetype i = 0; i < command.folders.size(); ++i) {
    const QString folder = QFileInfo(command.folders[i]).absoluteFilePath();
    if (given.contains(folder)) return Refused(QStringLiteral("%1 is given twice").arg(command.folders[i]));
    given.insert(folder, i);
    runs << TBatchLine{command.folders[i], 0, command.jobLines[i]};
  }
  return runs;
}

// Tells how a run ended: why it failed on standard error, then
// "FOLDER<tab>STATUS" on standard output.
void Tell(const TBatchOutcome& outcome) {
  if (!outcome.started) return;
  if (outcome.status != kExitDone) {
    const QString where = outcome.run.line > 0 ? QStringLiteral(" (line %1)").arg(outcome.run.line) : QString();
    std::fprintf(stderr, "pathwick_run: %s%s: %s\n", qPrintable(outcome.run.folder), qPrintable(where),
                 qPrintable(outcome.message));
  }
  std::printf("%s\t%d\n", qPrintable(outcome.run.folder), outcome.status);
  std::fflush(stdout);
  std::fflush(stderr);
}

// Puts the folders of a batch's runs in place on a thread of its own while
// the next run goes on. It takes every run that has ended since it last
// looked, flushes their folders, renames them into place and tells each,
// in the batch's order, then flushes the folders that hold them, once for
// all: the disk's waits are paid once for several runs, and not by the
// runs' own time.
class TFolderCommitter {
 public:
  TFolderCommitter() : thread_([this] { Loop(); }) {}
  TFolderCommitter(const TFolderCommitter&) = delete;
  TFolderCommitter& operator=(const TFolderCommitter&) = delete;
  ~TFolderCommitter() { Finish(); }

  // A run that has ended, with the folder it handed over, if any.
  void Add(TBatchOutcome outcome, std::optional<TRunFolder> folder) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back({std::move(outcome), std::move(folder)});
    }
    added_.notify_one();
  }

  // Waits until every run added is told: their outcomes, in order.
  QList<TBatchOutcome> Finish() {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
    }
    added_.notify_one();
    if (thread_.joinable()) thread_.join();
    return told_;
  }

 private:
  struct TEnded {
    TBatchOutcome outcome;
    std::optional<TRunFolder> folder;
  };

  void Loop() {
    for (;;) {
      std::deque<TEnded> ended;
      {
        std::unique_lock<std::mutex> hold(lock_);
        added_.wait(hold, [this] { return closed_ || !queue_.empty(); });
        if (queue_.empty()) return;
        ended.swap(queue_);
      }
      for (TEnded& run : ended) {
        if (!run.folder) continue;
        if (TStatus synced = run.folder->Sync(); !synced) Fail(run, synced.Error());
      }
      QStringList placed;
      for (TEnded& run : ended) {
        if (run.folder) {
          if (TStatus put = run.folder->Place(); put) {
            placed << run.folder->Target();
          } else {
            Fail(run, put.Error());
          }
        }
        Tell(run.outcome);
        told_ << run.outcome;
      }
      QStringList parents;
      for (const QString& dir : placed) {
        const QString parent = QFileInfo(dir).absolutePath();
        if (parents.contains(parent)) continue;
        parents << parent;
        if (TStatus synced = SyncParent(dir); !synced)
          std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(synced.Error().message));
      }
    }
  }

  static void Fail(TEnded& run, const TError& error) {
    run.folder.reset();  // its temporary folder goes with it
    run.outcome.status = error.status;
    run.outcome.message = error.message;
  }

  std::mutex lock_;
  std::condition_variable added_;
  std::deque<TEnded> queue_;
  bool closed_ = false;
  QList<TBatchOutcome> told_;  // the committer's own until Finish
  std::thread thread_;
};

TStatus RunAll(const QList<TBatchLine>& runs, const QString& dir, const TCommand& command,
               const TBatchContext& context) {
  TFolderCommitter committer;
  for (const TBatchLine& run : runs) {
    std::optional<TRunFolder> handed;
    const TFolderTaker take = [&handed](TRunFolder&& folder) {
      handed.emplace(std::move(folder));
      return Success();
    };
    TBatchOutcome outcome = RunBatchLine(run, dir, command, context, take);
    committer.Add(std::move(outcome), std::move(handed));
  }
  const QString summary = BatchSummary(committer.Finish());
  if (summary.isEmpty()) return Success();
  return Failed(summary);
}

TStatus RunPairs(const TCommand& command, const TBatchContext& context) {
  TResult<QList<TBatchLine>> runs = PairedLines(command);
  if (!runs) return runs.Error();
  return RunAll(*runs, QString(), command, context);
}

}  // namespace

TStatus RunBatch(const TCommand& command, const TBatchContext& context) {
  if (command.jobsFile.isEmpty()) return RunPairs(command, context);
  if (command.out.isEmpty()) {
    return Refused(QStringLiteral("%1 writes a folder for each run: give %2 DIR")
                       .arg(Dashed(TOption::kJobs), Dashed(TOption::kOut)));
  }
  const QString source =
      command.jobsFile == QLatin1String(kStandardInput) ? QStringLiteral("standard input") : command.jobsFile;
  TResult<QByteArray> text = ReadJobList(command.jobsFile);
  if (!text) return text.Error();
  TResult<QList<TBatchLine>> runs = ParseBatchLines(*text, source);
  if (!runs) return runs.Error();
  const QFileInfo out(command.out);
  if (out.exists() && !out.isDir()) return Refused(QStringLiteral("%1 exists and is not a folder").arg(command.out));
  if (!out.exists() && !QDir().mkpath(command.out))
    return Failed(QStringLiteral("cannot make the folder %1").arg(command.out));

  return RunAll(*runs, command.out, command, context);
}
