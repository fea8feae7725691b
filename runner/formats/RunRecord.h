// run.json: what a run was asked to do and what it did, enough to repeat it
// from the record alone, and every file it wrote with its SHA-256.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

#include "FileNames.h"
#include "Result.h"
#include "RunSetup.h"

// A file of a run's folder, by its path inside the folder.
struct TFileEntry {
  QString path;
  qint64 size = 0;
  QString sha256;
  bool operator==(const TFileEntry&) const = default;
};

// A checkpoint kept under its step's name: the step and the file's path in
// the run's folder.
struct TKeptCheckpoint {
  int32_t step = 0;
  QString file;
};

struct TRunRecord {
  TRunSpec spec;
  int32_t startStep = 0;  // the world's step count when the run began
  int32_t stepsRun = 0;   // steps this run did
  int32_t samples = 0;
  double wallSeconds = 0;
  QString ended;            // "completed" or "interrupted"
  QList<TFileEntry> files;  // every file of the folder but run.json; empty in records written before they were listed
  bool listsFiles = false;  // the record holds a "files" list (possibly empty)
  std::vector<TKeptCheckpoint> keptCheckpoints;  // with --keep-checkpoints
  int32_t videoFrames = 0;                       // with --video
};

inline constexpr const char* kEndedCompleted = "completed";
inline constexpr const char* kEndedInterrupted = "interrupted";
inline constexpr const char* kEndedNone = "none";  // no record that can be read

QJsonObject SettingsToJson(const TSettingValues& values);
// Reads the settings of a record; keys it lacks keep their value in `values`.
TStatus SettingsFromJson(const QJsonObject& object, TSettingValues& values);

QJsonObject RecordToJson(const TRunRecord& record);
// Writes the record atomically.
TStatus WriteRunRecord(const QString& path, const TRunRecord& record);
// Reads a record written by WriteRunRecord (or an earlier pathwick_run);
// `defaults` fill settings it lacks. Refuses anything else.
TResult<TRunRecord> ReadRunRecord(const QString& path, const TSettingValues& defaults);
// The same, from the record's bytes; `path` names it in refusals.
TResult<TRunRecord> ParseRunRecord(const QByteArray& bytes, const QString& path, const TSettingValues& defaults);

// How the run in the folder `dir` ended, from its record: kEndedCompleted,
// kEndedInterrupted, or kEndedNone when it holds no record that can be read.
QString RecordedEnding(const QString& dir);

// Refuses with one line a design point that no design of --grid writes: an
// unknown kind, a factor that is not a setting's option or is named twice, a
// role that is not the kind's (or names a factor the design lacks), no command.
TStatus CheckDesignPoint(const TDesignPoint& design);

// Every file under `folder` but run.json, by path, with size and SHA-256.
TResult<QList<TFileEntry>> ListFiles(const QString& folder);

// The entries under `folder` that its record does not list, by path inside
// the folder, sorted: files but run.json and those of `record.files`, and
// anything else that is neither a file nor a folder (a link, a FIFO).
// Empty for a record written before records listed their files.
QStringList UnlistedFiles(const QString& folder, const TRunRecord& record);
