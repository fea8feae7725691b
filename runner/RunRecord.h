// run.json: what a run was asked to do and what it did, enough to repeat it
// from the record alone.
#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

#include "Experiment.h"

// A checkpoint kept under its step's name: the step and the file's path in
// the run's folder.
struct TKeptCheckpoint {
  int32_t step = 0;
  QString file;
};

struct TRunRecord {
  TRunPlan plan;
  int32_t startStep = 0;  // the world's step count when the run began
  int32_t stepsDone = 0;  // steps this run did
  int32_t samples = 0;
  double wallSeconds = 0;
  QString ended;  // "completed" or "interrupted"
  std::vector<TKeptCheckpoint> keptCheckpoints;
  int32_t videoFrames = 0;
};

inline constexpr const char* kRunRecordName = "run.json";
inline constexpr const char* kEndedCompleted = "completed";
inline constexpr const char* kEndedInterrupted = "interrupted";
inline constexpr const char* kKeptCheckpointFolder = "checkpoints";

// "folder/step-NNNNNNN.ext": the name of a file taken after `step` steps.
QString StepFileName(const QString& folder, int32_t step, const QString& extension);

QJsonObject SettingsToJson(const TSettingValues& values);
// Reads the settings of a record; keys it lacks keep their value in `values`.
// Returns an error text, or an empty string when every key read well.
QString SettingsFromJson(const QJsonObject& object, TSettingValues& values);

QJsonObject RecordToJson(const TRunRecord& record);
// Writes the record atomically; returns an error text or an empty string.
QString WriteRunRecord(const QString& path, const TRunRecord& record);
// Reads the plan of a record written by WriteRunRecord; `plan` holds the
// defaults for keys the record lacks. Returns an error text or empty.
QString ReadRunPlan(const QString& path, TRunPlan& plan);
// Reads a whole record (for summaries).
std::optional<TRunRecord> ReadRunRecord(const QString& path, const TSettingValues& defaults, QString* error);
