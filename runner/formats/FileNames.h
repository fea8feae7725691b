// The names of the files pathwick_run writes, each spelled once.
#pragma once

#include <QString>
#include <cstdint>

// In a run's folder.
inline constexpr const char* kRunRecordName = "run.json";
inline constexpr const char* kSeriesName = "series.csv";
inline constexpr const char* kHistogramsName = "genes_hist.csv";
inline constexpr const char* kGeneChartPngName = "genes.png";
inline constexpr const char* kGeneChartSvgName = "genes.svg";
inline constexpr const char* kHistogramChartPngName = "genes_hist.png";
inline constexpr const char* kHistogramChartSvgName = "genes_hist.svg";
inline constexpr const char* kFinalPictureName = "final.png";
inline constexpr const char* kSnapshotsFolder = "snapshots";
inline constexpr const char* kCheckpointName = "checkpoint.pwk";
inline constexpr const char* kKeptCheckpointFolder = "checkpoints";
inline constexpr const char* kAgentTableName = "agents.csv.gz";
inline constexpr const char* kLineageName = "births.csv.gz";
inline constexpr const char* kFieldTableName = "field.csv.gz";

// In a sweep's folder, beside its run folders.
inline constexpr const char* kSummaryCsvName = "summary.csv";
inline constexpr const char* kSummaryPngName = "summary.png";
inline constexpr const char* kSummarySvgName = "summary.svg";
inline constexpr const char* kSamplesCsvName = "samples.csv";
inline constexpr const char* kSamplesCsvGzName = "samples.csv.gz";
inline constexpr const char* kGroupsCsvName = "groups.csv";
inline constexpr const char* kComparisonCsvName = "comparison.csv";
inline constexpr const char* kEffectsCsvName = "effects.csv";
inline constexpr const char* kEffectsPngName = "effects.png";
inline constexpr const char* kEffectsSvgName = "effects.svg";
inline constexpr const char* kInteractionsPngName = "interactions.png";
inline constexpr const char* kInteractionsSvgName = "interactions.svg";
inline constexpr const char* kConvergenceCsvName = "convergence.csv";
inline constexpr const char* kConvergencePngName = "convergence.png";
inline constexpr const char* kConvergenceSvgName = "convergence.svg";
// Every file of the summary: the set that is replaced as a whole (TFileSet).
inline constexpr const char* kSummaryNames[] = {
    kSummaryCsvName,      kSummaryPngName,      kSummarySvgName,     kSamplesCsvName,     kSamplesCsvGzName,
    kGroupsCsvName,       kComparisonCsvName,   kEffectsCsvName,     kEffectsPngName,     kEffectsSvgName,
    kInteractionsPngName, kInteractionsSvgName, kConvergenceCsvName, kConvergencePngName, kConvergenceSvgName,
};
// The summary is made in ".summary.<hex>.part" in the sweep's folder (what
// AtomicTarget names "summary") and then swapped in.
inline constexpr const char* kSummaryStagingStem = "summary";

// "folder/step-NNNNNNN.ext": the name of a file taken after `step` steps.
inline QString StepFileName(const QString& folder, int32_t step, const QString& extension) {
  return QStringLiteral("%1/step-%2.%3").arg(folder).arg(step, 7, 10, QLatin1Char('0')).arg(extension);
}
