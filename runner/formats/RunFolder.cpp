#include "RunFolder.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

#include "FileNames.h"

namespace {

QString Beside(const QString& dir, const char* kind) {
  const QFileInfo info(dir);
  return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1String(kind) + QStringLiteral("-XXXXXX");
}

}  // namespace

TStatus TRunFolder::Open(const QString& dir, bool force) {
  const QFileInfo info(dir);
  if (info.exists()) {
    if (!info.isDir()) return Refused(QStringLiteral("%1 exists and is not a folder").arg(dir));
    const QDir folder(dir);
    if (!folder.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
      if (!folder.exists(QLatin1String(kRunRecordName)))
        return Refused(QStringLiteral("%1 holds files that are not a run; choose another folder").arg(dir));
      if (!force) return Refused(QStringLiteral("%1 already holds a run; give --force to replace it").arg(dir));
    }
  }
  // Clean, so that "runs/a/" names the folder a and not a place inside it.
  dir_ = QDir::cleanPath(info.absoluteFilePath());
  const QString parent = QFileInfo(dir_).absolutePath();
  if (!QDir().mkpath(parent)) return Failed(QStringLiteral("cannot make the folder %1").arg(parent));
  temporary_ = std::make_unique<QTemporaryDir>(Beside(dir_, ".tmp"));
  if (!temporary_->isValid())
    return Failed(QStringLiteral("cannot make a folder beside %1: %2").arg(dir, temporary_->errorString()));
  return Success();
}

QString TRunFolder::Path(const QString& name) const { return temporary_->filePath(name); }

TStatus TRunFolder::Commit() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target = dir_.toStdString();
  const fs::path source = temporary_->path().toStdString();
  // An empty folder is replaced by the rename itself; a run is first moved
  // aside, so that the new run appears in one step and the old one goes after.
  std::unique_ptr<QTemporaryDir> old;
  if (fs::exists(target, error) && !fs::is_empty(target, error)) {
    old = std::make_unique<QTemporaryDir>(Beside(dir_, ".old"));
    if (!old->isValid())
      return Failed(QStringLiteral("cannot make a folder beside %1: %2").arg(dir_, old->errorString()));
    fs::rename(target, fs::path(old->path().toStdString()), error);
    if (error) {
      return Failed(
          QStringLiteral("cannot move the old run %1 aside: %2").arg(dir_, QString::fromStdString(error.message())));
    }
  }
  // The folder takes the permissions a folder made here would have.
  const mode_t mask = umask(0);
  umask(mask);
  fs::permissions(source, static_cast<fs::perms>(0777 & ~mask), error);
  fs::rename(source, target, error);
  if (error && old) {
    // The old run goes back where it was, and is kept aside if it cannot.
    old->setAutoRemove(false);
    std::error_code ignored;
    fs::rename(fs::path(old->path().toStdString()), target, ignored);
  }
  if (error) {
    return Failed(
        QStringLiteral("cannot put the run in place at %1: %2").arg(dir_, QString::fromStdString(error.message())));
  }
  temporary_->setAutoRemove(false);
  return Success();
}
