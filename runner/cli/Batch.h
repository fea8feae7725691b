// --jobs FILE --out DIR: the lines of a job list run one after another in
// one process, each into its own run folder, as each would run alone.
//
// What one run could leave to the next, and how each starts fresh:
// - the window, which holds the settings, the world, the charts and the
//   sample and birth hooks: every run gets a new TForm1, made as main makes
//   the first, after SetGeneratorStartState(), and destroyed (its deferred
//   deletions with it) before the next is made;
// - the globals of the engine (grid size, cell size, the step count, the
//   layers, the painting flags): set by the world's setup, and the layers
//   released with the window;
// - the generator and its reseeding rule: set to the start state before
//   every window, then by the run's own seed rule, which is undone when the
//   run ends;
// - a seed from the clock: taken anew for each run that gives none.
// Shared, as they cannot change a result: the toolkit (QApplication, its
// fonts and platform), the defaults read once from a fresh window, the
// direction cache and step table of the agents (memos of pure functions),
// and a stop (Ctrl-C, SIGTERM), which ends the run under way as it would
// alone and starts no other.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "Options.h"
#include "Result.h"
#include "Run.h"

class TForm1;

// One run of a batch: its folder's name inside the batch's DIR, its line
// number in the job list, and its job line.
struct TBatchLine {
  QString folder;
  int32_t line = 0;
  QString jobLine;
};

// The runs of a job list, in its order. Blank lines and lines starting with
// # are skipped; a line is a job line, whose folder is run-LLLL-seed-S (LLLL
// its line number, S its seed as --seed-of reads it, as pathwick_sweep names
// it), or a folder name, a tab and a job line (as pathwick_sweep's list of
// the runs still to make holds them). Refuses (status 2) a folder name that
// is no plain name, and two lines of one folder; `source` names the list.
TResult<QList<TBatchLine>> ParseBatchLines(const QByteArray& text, const QString& source);

// How one run of a batch ended.
struct TBatchOutcome {
  TBatchLine run;
  bool started = false;  // false: a stop came before it
  int status = kExitDone;
  QString message;  // why it failed, empty when it did not
};

// The closing line of a batch on standard error, empty when every run
// completed: how many failed or were not started, and their lines.
QString BatchSummary(const QList<TBatchOutcome>& outcomes);

// What a batch needs of the program around it: a new window for each run,
// the defaults, and the figures of --plot.
struct TBatchContext {
  std::function<std::unique_ptr<TForm1>()> newWindow;
  TSettingValues defaults{};
  TFigureWriter figures;
};

// Runs one line of a batch into its folder in `dir`, as it would run alone,
// in a window of its own; not started once a stop was asked for. The
// options of `batch` that reach the run: --force and --quiet. The run puts
// its folder in place itself, unless `takeFolder` takes it.
TBatchOutcome RunBatchLine(const TBatchLine& run, const QString& dir, const TCommand& batch,
                           const TBatchContext& context, const TFolderTaker& takeFolder = {});

// Runs the batch of `command` (kBatch): reads its job list (FILE, or
// standard input for "-"), makes the --out DIR when it is missing, and runs
// every line in order; or, without --jobs, the runs of its --out DIR --job
// LINE pairs (pathwick_sweep's chunks), each into the folder given. As each
// run's folder is in place it prints "FOLDER<tab>STATUS" on standard output
// (STATUS: the exit status the run alone would have) and, when it failed,
// "pathwick_run: FOLDER (line L): why" on standard error, in the order of
// the runs. A run's folder is flushed to the disk and put in place on a
// thread of its own while the next run goes on, several at once when they
// come faster than the disk takes them; a folder is told only once it is in
// place, so a run not yet told when the process dies is made again by
// whatever resumes the batch. Fails (status 1)
// when any run did not complete, after the summary; refuses (status 2)
// before any run what cannot be run at all.
TStatus RunBatch(const TCommand& command, const TBatchContext& context);
