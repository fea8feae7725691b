// The summary of a sweep: tables of every run, every sample and every group
// of runs, the comparison of the groups when one setting varies, and the
// summary figure.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Explore.h"
#include "FileNames.h"
#include "Result.h"
#include "RunRecord.h"
#include "SeriesMeasures.h"
#include "Settings.h"
#include "Tables.h"  // CsvCell

// What a summary has to say besides its files.
struct TSummaryReport {
  QString comparison;   // for standard output; empty when none is made
  QString note;         // one line for standard error, or empty: why no comparison is made
  QString effects;      // the exploration's table for standard output; empty without effects
  QString effectsNote;  // the exploration's line for standard error, or empty
  // The exploration's warnings, a line each for standard error: where the
  // design cannot answer, and what would.
  QStringList effectsWarnings;
  QString figureNote;  // why summary.png was left out, for standard error; empty when it was drawn
};

// Writes DIR/summary.csv, samples.csv (samples.csv.gz with `gzipSamples`),
// groups.csv, summary.png and summary.svg from the run folders in DIR
// (`defaults` fill settings a record lacks), comparison.csv when exactly one
// setting varies, and effects.csv with its figures when the runs' design
// calls for an analysis (and convergence.csv with its figure for Sobol and
// Morris designs). A run's final value is its last sample's, and with
// `window` > 0 also the mean of its last `window` samples. The runs are read
// one at a time: memory grows with the groups and their sample steps, not
// with the samples. Gives the comparison as text to print, or when several
// settings vary a note that says none is made; refuses a DIR without run
// folders.
// What a study asks of the summary: the measures it compares and explores
// (--measure, --transform) and how a factorial codes its factors (--factor-coding).
struct TStudyChoice {
  std::vector<TSeriesMeasure> measures = DefaultSeriesMeasures();
  TFactorCoding coding = TFactorCoding::kAuto;
};
TResult<TSummaryReport> Summarize(const QString& dir, const TSettingValues& defaults, int32_t window,
                                  bool gzipSamples = false, const TStudyChoice& study = {});

// The runs of DIR as the summary's exploration reads them, each with its
// measures over the last `window` samples (0: the last only), so that
// Explore() of them (with StudyOf(study)) is the analysis Summarize writes to effects.csv.
TResult<std::vector<TRunMeasures>> StudyMeasures(const QString& dir, const TSettingValues& defaults, int32_t window,
                                                 const std::vector<TSeriesMeasure>& study = DefaultSeriesMeasures());

// The study measures' names and words, as the exploration takes them.
std::vector<TStudyMeasure> StudyOf(const std::vector<TSeriesMeasure>& study);

// The group of each run: the settings that differ between the runs, as
// "name=value ...", in the order of the settings; empty when none differs.
QStringList SummaryGroups(const std::vector<TSettingValues>& runs);

// The columns samples.csv begins each row with (folder, group, the
// settings, seed, start step, parent, the design's kind, point and role),
// and their cells for the run in
// `folder` of `group`.
QStringList SampleFrontHeader();
QStringList SampleFront(const QString& folder, const QString& group, const TRunRecord& record);
