#include "RunRecord.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <cmath>
#include <limits>

#include "SeedRule.h"

namespace {

constexpr const char* kProgram = "pathwick_run";

QJsonValue SettingToJson(const TSettingSpec& spec, int32_t value) {
  switch (spec.kind) {
    case TSettingKind::kWhole:
      return value;
    case TSettingKind::kHundredths:
      return FormatSettingValue(spec, value).toDouble();
    case TSettingKind::kFlag:
      return value != 0;
    case TSettingKind::kSniff:
      return FormatSettingValue(spec, value);
  }
  return {};
}

// A whole number in min..max from a record, or nothing.
std::optional<int64_t> WholeFromJson(const QJsonValue& json, int64_t min, int64_t max) {
  if (!json.isDouble()) return std::nullopt;
  const double value = json.toDouble();
  if (value != std::floor(value) || value < static_cast<double>(min) || value > static_cast<double>(max)) {
    return std::nullopt;
  }
  return static_cast<int64_t>(value);
}

std::optional<int32_t> SettingFromJson(const TSettingSpec& spec, const QJsonValue& json) {
  switch (spec.kind) {
    case TSettingKind::kWhole:
      if (const auto value = WholeFromJson(json, spec.min, spec.max)) return static_cast<int32_t>(*value);
      return std::nullopt;
    case TSettingKind::kHundredths:
      // Read as the command line would read the number the record shows.
      if (!json.isDouble()) return std::nullopt;
      return ParseSettingValue(spec, QString::number(json.toDouble(), 'f', 6));
    case TSettingKind::kFlag:
      if (!json.isBool()) return std::nullopt;
      return json.toBool() ? 1 : 0;
    case TSettingKind::kSniff:
      if (!json.isString()) return std::nullopt;
      return ParseSettingValue(spec, json.toString());
  }
  return std::nullopt;
}

QString ReadJsonObject(const QString& path, QJsonObject& object) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    return QStringLiteral("%1 is not a run record: %2").arg(path, parseError.errorString());
  }
  if (!document.isObject() ||
      document.object().value(QStringLiteral("program")).toString() != QLatin1String(kProgram)) {
    return QStringLiteral("%1 is not a run record of %2").arg(path, QLatin1String(kProgram));
  }
  object = document.object();
  return {};
}

}  // namespace

QJsonObject SettingsToJson(const TSettingValues& values) {
  QJsonObject object;
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i)
    object.insert(QLatin1String(specs[i].key), SettingToJson(specs[i], values[i]));
  return object;
}

QString SettingsFromJson(const QJsonObject& object, TSettingValues& values) {
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    const QJsonValue json = object.value(QLatin1String(specs[i].key));
    if (json.isUndefined()) continue;
    const std::optional<int32_t> value = SettingFromJson(specs[i], json);
    if (!value) {
      return QStringLiteral("setting \"%1\" must be %2").arg(QLatin1String(specs[i].key), AcceptedValues(specs[i]));
    }
    values[i] = *value;
  }
  return {};
}

QJsonObject RecordToJson(const TRunRecord& record) {
  const TRunPlan& plan = record.plan;
  QJsonObject outputs;
  outputs.insert(QStringLiteral("histograms"), plan.histograms);
  outputs.insert(QStringLiteral("plot"), plan.plot);
  outputs.insert(QStringLiteral("snapshot_every"), plan.snapshotEvery);
  outputs.insert(QStringLiteral("checkpoint_every"), plan.checkpointEvery);
  QJsonObject object;
  object.insert(QStringLiteral("program"), QLatin1String(kProgram));
  object.insert(QStringLiteral("version"), QStringLiteral(PATHWICK_VERSION));
  object.insert(QStringLiteral("settings"), SettingsToJson(plan.settings));
  object.insert(QStringLiteral("seed"), static_cast<qint64>(plan.seed));
  object.insert(QStringLiteral("seed_from_clock"), plan.seedFromClock);
  object.insert(QStringLiteral("reseed_stride"), static_cast<qint64>(kReseedStride));
  object.insert(QStringLiteral("outputs"), outputs);
  if (!plan.fromPath.isEmpty()) {
    QJsonObject from;
    from.insert(QStringLiteral("path"), plan.fromPath);
    from.insert(QStringLiteral("step"), record.startStep);
    from.insert(QStringLiteral("sha256"), plan.fromChecksum);
    from.insert(QStringLiteral("branch_seed"), plan.branchSeed);
    object.insert(QStringLiteral("from"), from);
  }
  object.insert(QStringLiteral("start_step"), record.startStep);
  object.insert(QStringLiteral("steps_requested"), plan.steps);
  object.insert(QStringLiteral("steps_done"), record.stepsDone);
  object.insert(QStringLiteral("samples"), record.samples);
  object.insert(QStringLiteral("wall_time_seconds"), std::round(record.wallSeconds * 1000) / 1000);
  object.insert(QStringLiteral("ended"), record.ended);
  return object;
}

QString WriteRunRecord(const QString& path, const TRunRecord& record) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
  file.write(QJsonDocument(RecordToJson(record)).toJson(QJsonDocument::Indented));
  if (!file.commit()) return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
  return {};
}

namespace {

// The plan from a record already read from `path`.
QString PlanFromJson(const QString& path, const QJsonObject& object, TRunPlan& plan) {
  const auto bad = [&](const char* what) { return QStringLiteral("%1: %2").arg(path, QLatin1String(what)); };
  if (QString error = SettingsFromJson(object.value(QStringLiteral("settings")).toObject(), plan.settings);
      !error.isEmpty()) {
    return QStringLiteral("%1: %2").arg(path, error);
  }
  const auto seed = WholeFromJson(object.value(QStringLiteral("seed")), 0, std::numeric_limits<uint32_t>::max());
  if (!seed) return bad("\"seed\" must be a whole number from 0 to 4294967295");
  plan.seed = static_cast<uint32_t>(*seed);
  plan.seedFromClock = false;
  const auto steps =
      WholeFromJson(object.value(QStringLiteral("steps_requested")), 1, std::numeric_limits<int32_t>::max());
  if (!steps) return bad("\"steps_requested\" must be a whole number from 1 to 2147483647");
  plan.steps = static_cast<int32_t>(*steps);
  const QJsonObject outputs = object.value(QStringLiteral("outputs")).toObject();
  plan.histograms = outputs.value(QStringLiteral("histograms")).toBool(plan.histograms);
  plan.plot = outputs.value(QStringLiteral("plot")).toBool(plan.plot);
  const auto every =
      WholeFromJson(outputs.value(QStringLiteral("snapshot_every")), 0, std::numeric_limits<int32_t>::max());
  if (!outputs.value(QStringLiteral("snapshot_every")).isUndefined() && !every) {
    return bad("\"outputs.snapshot_every\" must be a whole number from 0");
  }
  if (every) plan.snapshotEvery = static_cast<int32_t>(*every);
  const auto checkpoints =
      WholeFromJson(outputs.value(QStringLiteral("checkpoint_every")), 0, std::numeric_limits<int32_t>::max());
  if (checkpoints) plan.checkpointEvery = static_cast<int32_t>(*checkpoints);
  const QJsonObject from = object.value(QStringLiteral("from")).toObject();
  if (!from.isEmpty()) {
    plan.fromPath = from.value(QStringLiteral("path")).toString();
    plan.branchSeed = from.value(QStringLiteral("branch_seed")).toBool();
    if (plan.fromPath.isEmpty()) return bad("\"from.path\" names no checkpoint");
  }
  return {};
}

}  // namespace

QString ReadRunPlan(const QString& path, TRunPlan& plan) {
  QJsonObject object;
  if (QString error = ReadJsonObject(path, object); !error.isEmpty()) return error;
  return PlanFromJson(path, object, plan);
}

std::optional<TRunRecord> ReadRunRecord(const QString& path, const TSettingValues& defaults, QString* error) {
  TRunRecord record;
  record.plan.settings = defaults;
  QJsonObject object;
  if (QString e = ReadJsonObject(path, object); !e.isEmpty() || !(e = PlanFromJson(path, object, record.plan)).isEmpty()) {
    *error = e;
    return std::nullopt;
  }
  record.plan.seedFromClock = object.value(QStringLiteral("seed_from_clock")).toBool();
  record.plan.fromChecksum = object.value(QStringLiteral("from")).toObject().value(QStringLiteral("sha256")).toString();
  record.startStep = object.value(QStringLiteral("start_step")).toInt();
  record.stepsDone = object.value(QStringLiteral("steps_done")).toInt();
  record.samples = object.value(QStringLiteral("samples")).toInt();
  record.wallSeconds = object.value(QStringLiteral("wall_time_seconds")).toDouble();
  record.ended = object.value(QStringLiteral("ended")).toString();
  return record;
}
