// --check-sweep OUTDIR: what pathwick_sweep decides once its runs have
// ended. Every run of the job list either holds a completed record or is
// judged from GNU parallel's job log and its saved standard error (failed,
// interrupted, not started); the report counts them, names a few and lists
// every one in OUTDIR/.sweep/not-completed.txt. A Slurm sweep's check first
// merges the job logs of the submission's array tasks into one.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "Result.h"

// The sweep's own files, in OUTDIR/.sweep (runner/sweep/pathwick_sweep
// writes the rest of them).
inline constexpr const char* kSweepStateFolder = ".sweep";
inline constexpr const char* kSweepRunsName = "runs";        // every run: folder, line number, job line
inline constexpr const char* kSweepTasksName = "tasks";      // the runs still to make: folder, job line
inline constexpr const char* kSweepJobLogName = "joblog";    // GNU parallel's job log of the last start
inline constexpr const char* kSweepStderrFolder = "stderr";  // each run's standard error, NAME.err
inline constexpr const char* kNotCompletedName = "not-completed.txt";
inline constexpr const char* kSweepChunkRunsName = "chunk-runs";  // each run made in a chunk: chunk, run
// The name the sweep's messages start with.
inline constexpr const char* kSweepProgram = "pathwick_sweep";

// How a run of the sweep ended, as the report counts it, in the report's order.
enum class TSweepOutcome { kFailed, kInterrupted, kNotStarted, kCompleted };
inline constexpr size_t kUnfinishedKinds = 3;  // the outcomes before kCompleted

// One line of the job list.
struct TSweepRun {
  QString name;  // its folder in OUTDIR, run-LLLL-seed-S
  int32_t line = 0;
  QString jobLine;
};

// The runs of a list as .sweep/runs holds them, one a line: folder, line
// number, job line, separated by tabs; `source` names it in the refusal.
TResult<QList<TSweepRun>> ParseSweepRuns(const QByteArray& text, const QString& source);

// What GNU parallel's job log says of a run it started (its last entry).
struct TJobLogEntry {
  QString host;  // ":" for this machine
  QString exitValue;
  QString signal;
};

// How the runs were made, as the shell that ran GNU parallel saw it.
struct TSweepEnd {
  bool interrupted = false;  // the sweep was stopped (Ctrl-C, SIGTERM) before its runs ended
  int32_t parallelStatus = 0;
};

// What is known of one run once the sweep's runs have ended.
struct TRunFacts {
  QString ended;  // RecordedEnding of its folder
  std::optional<TJobLogEntry> logged;
  QString lastError;  // its own last word on standard error, if any
};

struct TRunVerdict {
  TSweepOutcome outcome = TSweepOutcome::kCompleted;
  QString why;  // empty for a completed run
};

// The outcome of one run and why, in the words of the report.
TRunVerdict JudgeRun(const TRunFacts& facts, const TSweepEnd& end);

// Whether running the sweep again may complete a run that did not: all but
// a run that failed, or one that GNU parallel never began of its own accord.
bool WorthRepeating(TSweepOutcome outcome, const TSweepEnd& end);

// The last entry of each run in a job log's text (GNU parallel's columns:
// Seq Host Starttime JobRuntime Send Receive Exitval Signal Command), Seq
// counting from 1 in `started`, the runs in the order they were given to
// parallel. Lines that name no run of `started` are passed over.
QHash<QString, TJobLogEntry> ReadJobLog(const QByteArray& text, const QStringList& started);

// The last line on a run's standard error that says something: the last
// from pathwick_run, else the last that is neither blank nor rsync's (which
// fails to return what a failed run never wrote). Empty for no such line.
// Given the lines one at a time, without their line ends.
class TLastError {
 public:
  void Add(const QByteArray& line);
  QString Text() const;

 private:
  QByteArray ours_;   // pathwick_run's
  QByteArray other_;  // any other that says something
};
// The same of a whole text.
QString LastError(const QByteArray& text);

// The check of every run, in job-list order.
struct TSweepCheck {
  int32_t total = 0;
  int32_t completed = 0;
  int32_t toRepeat = 0;
  std::array<int32_t, kUnfinishedKinds> counts{};
  QStringList unfinished;  // one line for each run that did not complete, in job-list order
  QStringList examples;    // the few of them the report names, failures first
};
inline constexpr qsizetype kExamplesShown = 3;

TSweepCheck CheckRuns(const QList<TSweepRun>& runs, const QList<TRunFacts>& facts, const TSweepEnd& end);

// The report's lines (without the program's name) on the runs that did not
// complete: their counts, the examples, and where the list of every one is
// (`listPath`), or that it could not be written there. None when every run
// completed.
QStringList ReportLines(const TSweepCheck& check, const QString& listPath, bool listWritten);

// The sweep's closing line, empty when every run completed, and its exit
// status: 0 only when every run completed and the summary is written.
struct TSweepClose {
  QString message;
  int status = kExitFailed;
};
TSweepClose CloseSweep(const TSweepCheck& check, const QString& outdir, bool summarized);

// What the job logs of a Slurm submission's tasks come to, merged.
struct TSlurmMerge {
  bool merged = false;  // false: the submission made no runs, and there is no job log
  QByteArray jobLog;    // in parallel's format, numbered as the submission's list, each run's node named
  // A task that made its runs in chunks (task-T.chunk-runs beside its job
  // log): every task's chunks, one run a line (CHUNK<tab>FOLDER), and the
  // job log of the chunks, numbered in that order, each chunk's node named.
  QByteArray chunkRuns;
  QByteArray chunkJobLog;
  TSweepEnd end;
  QStringList messages;  // what kept a task from running its runs
};
// `submission` holds tasks, chunk and, for each task T, task-T.node,
// task-T.ended, task-T.joblog, task-T.out and, when it made its runs in
// chunks, task-T.chunk-runs, as the array's tasks leave them.
TResult<TSlurmMerge> MergeSlurmLogs(const QString& submission);

// What the chunks of a sweep on this machine say of their runs: a chunk is
// one pathwick_run that makes several runs, one after another, and prints
// "FOLDER<tab>STATUS" as each ends, with "pathwick_run: FOLDER: why" on
// standard error for one that failed. `chunkRuns` is .sweep/chunk-runs (a
// chunk's name, a tab and one of its runs, a line each, in the order the
// chunks went to GNU parallel), `jobLog` parallel's job log of the chunks,
// and `output(chunk, errors)` a chunk's saved standard output (or error).
// A run its chunk told of is logged with its own status, on the chunk's
// machine; the run under way when a logged chunk ended (the first it did not
// tell of) with the chunk's entry and its last unclaimed word on standard
// error; the runs after it are not logged, as never started.
struct TChunkFacts {
  QHash<QString, TJobLogEntry> logged;
  QHash<QString, QString> lastError;
};
TChunkFacts ReadChunks(const QByteArray& chunkRuns, const QByteArray& jobLog,
                       const std::function<QByteArray(const QString& chunk, bool errors)>& output);

// The whole check of OUTDIR as the sweep leaves it: the runs of
// .sweep/runs, the job log, the saved standard errors, the runs' records.
// With a Slurm submission, its tasks' job logs are merged into .sweep/joblog
// first. Writes .sweep/not-completed.txt (or removes an old one when every
// run completed). Fails only when the sweep's own files cannot be read.
struct TSweepCheckResult {
  QStringList messages;  // the merge's, then the report's
  TSweepCheck check;
};
TResult<TSweepCheckResult> CheckSweep(const QString& outdir, const TSweepEnd& end, const QString& slurmSubmission);
