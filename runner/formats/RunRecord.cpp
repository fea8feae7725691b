#include "RunRecord.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <limits>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "DesignKind.h"
#include "SeedRule.h"

namespace {

constexpr const char* kProgram = "pathwick_run";
constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();
constexpr int64_t kMaxUint32 = std::numeric_limits<uint32_t>::max();

QJsonValue SettingToJson(const TSettingSpec& spec, int32_t value) {
  switch (spec.kind) {
    case TSettingKind::kWhole: return value;
    case TSettingKind::kHundredths: return FormatSettingValue(spec, value).toDouble();
    case TSettingKind::kFlag: return value != 0;
    case TSettingKind::kSniff: return FormatSettingValue(spec, value);
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

// Reads a whole number into `field` when the record holds one in min..max.
template <class T>
bool ReadWhole(const QJsonValue& json, T& field, int64_t min, int64_t max) {
  const auto value = WholeFromJson(json, min, max);
  if (value) field = static_cast<T>(*value);
  return value.has_value();
}

bool ReadBool(const QJsonValue& json, bool& field) {
  if (json.isBool()) field = json.toBool();
  return json.isBool();
}

bool ReadText(const QJsonValue& json, QString& field) {
  if (json.isString()) field = json.toString();
  return json.isString();
}

QJsonValue DesignToJson(const std::optional<TDesignPoint>& design) {
  if (!design) return QJsonValue(QJsonValue::Undefined);
  return QJsonObject{{QStringLiteral("kind"), design->kind},
                     {QStringLiteral("factors"), QJsonArray::fromStringList(design->factors)},
                     {QStringLiteral("point"), design->point},
                     {QStringLiteral("role"), design->role},
                     {QStringLiteral("command"), design->command}};
}

bool DesignFromJson(const QJsonValue& json, TRunRecord& r) {
  if (!json.isObject()) return false;
  const QJsonObject o = json.toObject();
  TDesignPoint design;
  const QJsonValue factors = o.value(QStringLiteral("factors"));
  if (!factors.isArray() || !ReadText(o.value(QStringLiteral("kind")), design.kind) ||
      !ReadWhole(o.value(QStringLiteral("point")), design.point, 0, kMaxInt32) ||
      !ReadText(o.value(QStringLiteral("role")), design.role) ||
      !ReadText(o.value(QStringLiteral("command")), design.command)) {
    return false;
  }
  for (const auto& factor : factors.toArray()) {
    if (!factor.isString()) return false;
    design.factors << factor.toString();
  }
  if (!CheckDesignPoint(design)) return false;
  r.spec.design = design;
  return true;
}

QJsonArray FilesToJson(const QList<TFileEntry>& files) {
  QJsonArray array;
  for (const TFileEntry& f : files) {
    array.append(QJsonObject{
        {QStringLiteral("path"), f.path}, {QStringLiteral("size"), f.size}, {QStringLiteral("sha256"), f.sha256}});
  }
  return array;
}

bool FilesFromJson(const QJsonValue& json, TRunRecord& r) {
  if (!json.isArray()) return false;
  r.files.clear();
  for (const auto& entry : json.toArray()) {
    const QJsonObject o = entry.toObject();
    TFileEntry f;
    if (!ReadText(o.value(QStringLiteral("path")), f.path) || f.path.isEmpty() ||
        !ReadWhole(o.value(QStringLiteral("size")), f.size, 0, int64_t{1} << 52) ||
        !ReadText(o.value(QStringLiteral("sha256")), f.sha256)) {
      return false;
    }
    r.files << f;
  }
  r.listsFiles = true;
  return true;
}

// One key of run.json: where it sits ("outputs/plot" is "plot" inside
// "outputs"), how it is written, and how it is read back, with what it
// must hold. A field without `read` is written for the reader of the file
// and not read back; one whose `write` gives an undefined value is left out.
struct TRecordField {
  const char* path;
  QJsonValue (*write)(const TRunRecord& r);
  bool (*read)(const QJsonValue& json, TRunRecord& r);
  const char* expects;
  bool required;
};

QJsonValue Continued(const TRunRecord& r, const QJsonValue& value) {
  return r.spec.fromPath.isEmpty() ? QJsonValue(QJsonValue::Undefined) : value;
}

const TRecordField kRecordFields[] = {
    {"program", [](const TRunRecord&) { return QJsonValue(QLatin1String(kProgram)); }, nullptr, "", false},
    {"version", [](const TRunRecord&) { return QJsonValue(QStringLiteral(PATHWICK_VERSION)); }, nullptr, "", false},
    {"settings", [](const TRunRecord& r) { return QJsonValue(SettingsToJson(r.spec.settings)); },
     [](const QJsonValue& j, TRunRecord&) { return j.isObject(); },  // each setting is read below, with its own message
     "an object of settings", false},
    {"effective",
     [](const TRunRecord& r) {
       QJsonObject effective;
       const TEffectiveValues values = EffectiveSettings(r.spec.settings);
       for (size_t i = 0; i < kEffectiveCount; ++i) effective.insert(QLatin1String(EffectiveSpecs()[i].key), values[i]);
       return QJsonValue(effective);
     },
     nullptr, "", false},
    {"seed", [](const TRunRecord& r) { return QJsonValue(static_cast<qint64>(r.spec.seed)); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.seed, 0, kMaxUint32); },
     "a whole number from 0 to 4294967295", true},
    {"seed_from_clock", [](const TRunRecord& r) { return QJsonValue(r.spec.seedFromClock); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.seedFromClock); }, "true or false", false},
    {"reseed_stride", [](const TRunRecord&) { return QJsonValue(static_cast<qint64>(kReseedStride)); }, nullptr, "",
     false},
    {"outputs/histograms", [](const TRunRecord& r) { return QJsonValue(r.spec.histograms); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.histograms); }, "true or false", false},
    {"outputs/plot", [](const TRunRecord& r) { return QJsonValue(r.spec.plot); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.plot); }, "true or false", false},
    {"outputs/snapshot_every", [](const TRunRecord& r) { return QJsonValue(r.spec.snapshotEvery); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.snapshotEvery, 0, kMaxInt32); },
     "a whole number from 0", false},
    {"outputs/checkpoint_every", [](const TRunRecord& r) { return QJsonValue(r.spec.checkpointEvery); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.checkpointEvery, 0, kMaxInt32); },
     "a whole number from 0", false},
    {"outputs/keep_checkpoints", [](const TRunRecord& r) { return QJsonValue(r.spec.keepCheckpoints); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.keepCheckpoints); }, "true or false", false},
    {"outputs/picture_scale", [](const TRunRecord& r) { return QJsonValue(r.spec.pictureScale); },
     [](const QJsonValue& j, TRunRecord& r) {
       return ReadWhole(j, r.spec.pictureScale, kMinPictureScale, kMaxPictureScale);
     },
     "a whole number from 1 to 8", false},
    {"outputs/video", [](const TRunRecord& r) { return QJsonValue(r.spec.video); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadText(j, r.spec.video); }, "a file name or \"\"", false},
    {"outputs/video_every", [](const TRunRecord& r) { return QJsonValue(r.spec.videoEvery); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.videoEvery, 1, kMaxInt32); },
     "a whole number from 1", false},
    {"outputs/agents_every", [](const TRunRecord& r) { return QJsonValue(r.spec.agentsEvery); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.agentsEvery, 0, kMaxInt32); },
     "a whole number from 0", false},
    {"outputs/births", [](const TRunRecord& r) { return QJsonValue(r.spec.births); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.births); }, "true or false", false},
    // Only with --field-every: a record without it has no field table.
    {"outputs/field_every",
     [](const TRunRecord& r) {
       return r.spec.fieldEvery > 0 ? QJsonValue(r.spec.fieldEvery) : QJsonValue(QJsonValue::Undefined);
     },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.fieldEvery, 0, kMaxInt32); },
     "a whole number from 0", false},
    {"series_columns", [](const TRunRecord& r) { return QJsonValue(r.spec.seriesColumns); },
     [](const QJsonValue& j, TRunRecord& r) {
       return ReadWhole(j, r.spec.seriesColumns, kSeriesColumnsBeforeField, kAllSeriesColumns);
     },
     "a whole number of column specs this program writes", false},
    {"from/path", [](const TRunRecord& r) { return Continued(r, r.spec.fromPath); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadText(j, r.spec.fromPath) && !r.spec.fromPath.isEmpty(); },
     "the checkpoint's file", false},
    {"from/step", [](const TRunRecord& r) { return Continued(r, r.startStep); }, nullptr, "", false},
    {"from/sha256", [](const TRunRecord& r) { return Continued(r, r.spec.fromSha256); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadText(j, r.spec.fromSha256); }, "a SHA-256 in hex", false},
    {"from/branch_seed", [](const TRunRecord& r) { return Continued(r, r.spec.branchSeed); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadBool(j, r.spec.branchSeed); }, "true or false", false},
    {"start_step", [](const TRunRecord& r) { return QJsonValue(r.startStep); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.startStep, 0, kMaxInt32); },
     "a whole number from 0", false},
    {"steps_requested", [](const TRunRecord& r) { return QJsonValue(r.spec.steps); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.spec.steps, 1, kMaxInt32); },
     "a whole number from 1 to 2147483647", true},
    {"steps_done", [](const TRunRecord& r) { return QJsonValue(r.stepsRun); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.stepsRun, 0, kMaxInt32); }, "a whole number from 0",
     false},
    {"samples", [](const TRunRecord& r) { return QJsonValue(r.samples); },
     [](const QJsonValue& j, TRunRecord& r) { return ReadWhole(j, r.samples, 0, kMaxInt32); }, "a whole number from 0",
     false},
    {"wall_time_seconds", [](const TRunRecord& r) { return QJsonValue(std::round(r.wallSeconds * 1000) / 1000); },
     [](const QJsonValue& j, TRunRecord& r) {
       r.wallSeconds = j.toDouble();
       return j.isDouble();
     },
     "a number", false},
    {"ended",
     [](const TRunRecord& r) { return r.ended.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(r.ended); },
     [](const QJsonValue& j, TRunRecord& r) {
       return ReadText(j, r.ended) &&
              (r.ended == QLatin1String(kEndedCompleted) || r.ended == QLatin1String(kEndedInterrupted));
     },
     "\"completed\" or \"interrupted\"", false},
    {"video_frames",
     [](const TRunRecord& r) {
       return r.spec.video.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(r.videoFrames);
     },
     nullptr, "", false},
    {"checkpoints",
     [](const TRunRecord& r) {
       if (!r.spec.keepCheckpoints) return QJsonValue(QJsonValue::Undefined);
       QJsonArray kept;
       for (const TKeptCheckpoint& k : r.keptCheckpoints) {
         kept.append(QJsonObject{{QStringLiteral("step"), k.step}, {QStringLiteral("file"), k.file}});
       }
       return QJsonValue(kept);
     },
     nullptr, "", false},
    // Only for a run of a designed sweep.
    {"design", [](const TRunRecord& r) { return DesignToJson(r.spec.design); }, DesignFromJson,
     "the run's design point: kind, factors, point, role and command, as --grid writes them", false},
    {"files", [](const TRunRecord& r) { return QJsonValue(FilesToJson(r.files)); }, FilesFromJson,
     "a list of files, each with its path, size and sha256", false},
};

QJsonValue ValueAt(const QJsonObject& object, const char* path) {
  const QStringList parts = QString::fromLatin1(path).split(QLatin1Char('/'));
  QJsonValue value = object;
  for (const QString& part : parts) value = value.toObject().value(part);
  return value;
}

void PutAt(QJsonObject& object, const char* path, const QJsonValue& value) {
  const QStringList parts = QString::fromLatin1(path).split(QLatin1Char('/'));
  if (parts.size() == 1) {
    object.insert(parts.front(), value);
    return;
  }
  QJsonObject inner = object.value(parts.front()).toObject();
  inner.insert(parts.back(), value);
  object.insert(parts.front(), inner);
}

}  // namespace

QJsonObject SettingsToJson(const TSettingValues& values) {
  QJsonObject object;
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i)
    object.insert(QLatin1String(specs[i].key), SettingToJson(specs[i], values[i]));
  return object;
}

TStatus SettingsFromJson(const QJsonObject& object, TSettingValues& values) {
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    const QJsonValue json = object.value(QLatin1String(specs[i].key));
    if (json.isUndefined()) continue;
    const std::optional<int32_t> value = SettingFromJson(specs[i], json);
    if (!value) {
      return Refused(
          QStringLiteral("setting \"%1\" must be %2").arg(QLatin1String(specs[i].key), AcceptedValues(specs[i])));
    }
    values[i] = *value;
  }
  return Success();
}

QJsonObject RecordToJson(const TRunRecord& record) {
  QJsonObject object;
  for (const TRecordField& field : kRecordFields) {
    const QJsonValue value = field.write(record);
    if (!value.isUndefined()) PutAt(object, field.path, value);
  }
  return object;
}

TStatus WriteRunRecord(const QString& path, const TRunRecord& record) {
  return SaveBytes(QJsonDocument(RecordToJson(record)).toJson(QJsonDocument::Indented), path);
}

TResult<TRunRecord> ReadRunRecord(const QString& path, const TSettingValues& defaults) {
  TResult<QByteArray> bytes = ReadBounded(path, kRecordByteLimit);
  if (!bytes) return bytes.Error();
  return ParseRunRecord(*bytes, path, defaults);
}

TResult<TRunRecord> ParseRunRecord(const QByteArray& bytes, const QString& path, const TSettingValues& defaults) {
  QJsonParseError parseError{};
  const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
  if (parseError.error != QJsonParseError::NoError)
    return Refused(QStringLiteral("%1 is not a run record: %2").arg(path, parseError.errorString()));
  const QJsonObject object = document.object();
  if (!document.isObject() || object.value(QStringLiteral("program")).toString() != QLatin1String(kProgram))
    return Refused(QStringLiteral("%1 is not a run record of %2").arg(path, QLatin1String(kProgram)));
  TRunRecord record;
  record.spec.settings = defaults;
  record.spec.seriesColumns = kSeriesColumnsBeforeField;  // a record without the count
  for (const TRecordField& field : kRecordFields) {
    if (!field.read) continue;
    const QJsonValue json = ValueAt(object, field.path);
    if (json.isUndefined() && !field.required) continue;
    if (!field.read(json, record)) {
      return Refused(QStringLiteral("%1: \"%2\" must be %3")
                         .arg(path, QString::fromLatin1(field.path).replace(QLatin1Char('/'), QLatin1Char('.')),
                              QLatin1String(field.expects)));
    }
  }
  if (TStatus read = SettingsFromJson(object.value(QStringLiteral("settings")).toObject(), record.spec.settings); !read)
    return Refused(QStringLiteral("%1: %2").arg(path, read.Error().message));
  return record;
}

TStatus CheckDesignPoint(const TDesignPoint& design) {
  const TDesignKind* kind = FindDesignKind(design.kind);
  if (!kind) {
    return Refused(QStringLiteral("a design's kind is %1, not '%2'")
                       .arg(DesignKindNames([](const TDesignKind&) { return true; }, "or"), design.kind));
  }
  if (design.factors.isEmpty()) return Refused(QStringLiteral("a design has at least one factor"));
  for (qsizetype i = 0; i < design.factors.size(); ++i) {
    const QString& factor = design.factors[i];
    const std::optional<size_t> setting = FindSetting(factor);
    if (!setting || factor != QLatin1String(SettingSpecs()[*setting].option))
      return Refused(
          QStringLiteral("a design's factor is a setting's option, such as mark-strength, not '%1'").arg(factor));
    if (design.factors.indexOf(factor) != i)
      return Refused(QStringLiteral("a design names the factor %1 twice").arg(factor));
  }
  if (design.point < 0) return Refused(QStringLiteral("a design point's index is a whole number from 0"));
  // Each kind's roles; a role may count in the factors (sobol's AB<i>, morris' T<j>).
  const qsizetype k = design.factors.size();
  if (!kind->fitsRole(design.role, k)) {
    return Refused(
        QStringLiteral("'%1' is not a role of a %2 design of %3 factors").arg(design.role, design.kind).arg(k));
  }
  if (design.command.trimmed().isEmpty() || OneLine(design.command) != design.command)
    return Refused(QStringLiteral("a design's command is the --grid options of one line that make it"));
  return Success();
}

QString RecordedEnding(const QString& dir) {
  // The settings a record lacks do not bear on how it ended.
  const TResult<TRunRecord> record = ReadRunRecord(QDir(dir).filePath(QLatin1String(kRunRecordName)), {});
  return record ? record->ended : QLatin1String(kEndedNone);
}

TResult<QList<TFileEntry>> ListFiles(const QString& folder) {
  QList<TFileEntry> files;
  const QDir root(QFileInfo(folder).absoluteFilePath());
  QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString name = root.relativeFilePath(path);
    if (name == QLatin1String(kRunRecordName)) continue;
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
      return Failed(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    files << TFileEntry{name, file.size(), QString::fromLatin1(hash.result().toHex())};
  }
  std::sort(files.begin(), files.end(), [](const TFileEntry& a, const TFileEntry& b) { return a.path < b.path; });
  return files;
}

QStringList UnlistedFiles(const QString& folder, const TRunRecord& record) {
  QStringList unlisted;
  if (!record.listsFiles) return unlisted;
  QSet<QString> listed{QLatin1String(kRunRecordName)};
  for (const TFileEntry& entry : record.files) listed.insert(entry.path);
  const QDir root(QFileInfo(folder).absoluteFilePath());
  // Links are listed, never followed.
  QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QFileInfo info = it.fileInfo();
    if (info.isDir() && !info.isSymLink()) continue;
    const QString name = root.relativeFilePath(path);
    if (!(info.isFile() && !info.isSymLink() && listed.contains(name))) unlisted << name;
  }
  unlisted.sort();
  return unlisted;
}
