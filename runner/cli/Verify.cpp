#include "Verify.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <map>

#include "FileNames.h"
#include "Plan.h"
#include "Run.h"
#include "RunRecord.h"

namespace {

std::map<QString, TFileEntry> ByPath(const QList<TFileEntry>& files) {
  std::map<QString, TFileEntry> map;
  for (const TFileEntry& f : files) map.emplace(f.path, f);
  return map;
}

// The first file of `expected` that `found` does not hold as it is listed.
TStatus Compare(const QList<TFileEntry>& expected, const QList<TFileEntry>& found, const QString& where) {
  const auto byPath = ByPath(found);
  for (const TFileEntry& e : expected) {
    const auto f = byPath.find(e.path);
    if (f == byPath.end()) return Failed(QStringLiteral("%1 is missing %2").arg(where, e.path));
    if (f->second.sha256 != e.sha256) {
      return Failed(QStringLiteral("%1 differs %2: SHA-256 %3, the record has %4")
                        .arg(e.path, where, f->second.sha256, e.sha256));
    }
  }
  return Success();
}

}  // namespace

TStatus VerifyRun(TForm1& form, const QString& dir, const TSettingValues& defaults, bool quiet,
                  const TFigureWriter& figures) {
  const QString recordPath = QDir(dir).filePath(QLatin1String(kRunRecordName));
  if (!QFileInfo(recordPath).isFile())
    return Refused(QStringLiteral("%1 holds no run: it has no %2").arg(dir, QLatin1String(kRunRecordName)));
  TResult<TRunRecord> record = ReadRunRecord(recordPath, defaults);
  if (!record) return record.Error();
  TResult<QList<TFileEntry>> present = ListFiles(dir);
  if (!present) return present.Error();
  // A record written before files were listed is held to the files its folder has.
  const QList<TFileEntry> expected = record->listsFiles ? record->files : *present;
  if (TStatus same = Compare(expected, *present, QStringLiteral("in %1").arg(dir)); !same) return same;

  TRunOptions options;
  options.config = recordPath;
  TResult<TRunPlan> plan = ResolvePlan(options, defaults, TPlanTarget::kFolder);
  if (!plan) return plan.Error();
  QTemporaryDir temporary;
  if (!temporary.isValid())
    return Failed(QStringLiteral("cannot make a temporary folder: %1").arg(temporary.errorString()));
  const QString again = temporary.filePath(QStringLiteral("run"));
  if (TStatus ran = RunPlan(form, std::move(*plan), {again, false, quiet, figures}); !ran) return ran;
  if (StopRequested())
    return Failed(QStringLiteral("interrupted before the repeat was complete: nothing was compared"));
  TResult<QList<TFileEntry>> repeated = ListFiles(again);
  if (!repeated) return repeated.Error();
  if (TStatus same = Compare(expected, *repeated, QStringLiteral("when repeated")); !same) return same;
  if (record->listsFiles) {
    const auto listed = ByPath(expected);
    for (const TFileEntry& f : *repeated) {
      if (!listed.contains(f.path))
        return Failed(QStringLiteral("the repeated run also wrote %1, which the record does not list").arg(f.path));
    }
  }
  return Success();
}
