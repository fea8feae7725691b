// --plan-sweep OUTDIR: what pathwick_sweep decides before its runs start.
// OUTDIR may hold only what a sweep makes (its run folders, .sweep/, the
// summary's files and what an interrupted run or summary left), and a run
// already there is kept only when its record is what its job line asks
// for. Nothing is written or removed here: the sweep acts on the answer.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "Result.h"
#include "RunSetup.h"
#include "SweepCheck.h"

// What becomes of one run of the list.
enum class TRunAction {
  kKeep,    // a completed run of this job line: neither made again nor touched
  kMake,    // no run yet (or an empty folder)
  kRemake,  // the sweep's own run that did not complete, or (asked for) one of another job line: removed, made again
};
const char* RunActionName(TRunAction action);

// Where a run's record and its job line disagree, one item each
// ("agents 20 in its record, 90 in its job line"); empty when they agree.
// A job line that takes its seed from the clock agrees with any seed.
QStringList RecordDifferences(const TRunSpec& recorded, const TRunSpec& asked);

// The entries of the folder `outdir` that no sweep of `runs` made, by name,
// sorted: all but .sweep, the runs' folders, what an interrupted run left
// beside them and, where .sweep is, the summary's files and what an
// interrupted summary left.
QStringList ForeignEntries(const QString& outdir, const QList<TSweepRun>& runs);

// What becomes of each run of `runs`, in their order. Refuses (status 2)
// an `outdir` that is no folder or holds entries of ForeignEntries, a run
// folder that holds files its run did not write, and a completed run whose
// record differs from its job line unless `redoChanged`.
TResult<QList<TRunAction>> PlanSweep(const QString& outdir, const QList<TSweepRun>& runs,
                                     const TSettingValues& defaults, bool redoChanged);
