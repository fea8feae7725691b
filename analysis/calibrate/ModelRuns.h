// The model's side of a calibration: a generation's candidates as a job
// list that pathwick_sweep runs (on this machine, its ssh hosts or Slurm),
// and the runs' measures read back as the summary reads them.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "Calibration.h"
#include "Settings.h"

struct TModelRuns {
  QString sweep;            // the pathwick_sweep to run each generation with
  QStringList sweepArgs;    // its options besides the job list and folder (--jobs N, --sshloginfile FILE)
  QString fixed;            // the options every job line holds besides the factors and the seed
  TSettingValues defaults;  // fill settings a record lacks
};

// The job line of a candidate's k-th run.
QString CandidateJobLine(const TCalibrationSpec& spec, const TModelRuns& model, const TCandidate& candidate, size_t k);

// Writes GEN/jobs.txt, runs pathwick_sweep GEN/jobs.txt GEN/runs and reads
// each run's measures over the calibration's window; a candidate's summary is the
// mean over its runs.
TSimulate ModelSimulator(const TCalibrationSpec& spec, const TModelRuns& model);

// The measures of the runs in `dir` (a folder of reference runs) averaged
// over its runs, and their settings when every run shares them (the truth
// a calibration of them should find); refuses a measure one of them lacks.
struct TReference {
  std::vector<double> target;
  std::optional<TSettingValues> settings;
};
TResult<TReference> ReferenceMeasures(const QString& dir, const QStringList& measures, const TSettingValues& defaults,
                                      int32_t window);
