#include "RunFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "AtomicFile.h"
#include "FileNames.h"

namespace {

// The temporary folders of the runs being written in this process (a batch
// writes one at a time, and hands it on to be put in place).
std::mutex underWayLock;
QStringList underWay;

void Register(const QString& temporary) {
  const std::lock_guard<std::mutex> hold(underWayLock);
  underWay << temporary;
}

void Unregister(const QString& temporary) {
  const std::lock_guard<std::mutex> hold(underWayLock);
  underWay.removeOne(temporary);
}

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// fsync of every regular file and folder under the open folder `folder`,
// itself last; links are never followed. The first error, or 0.
int SyncTree(int folder) {
  DIR* entries = ::fdopendir(folder);
  if (entries == nullptr) {
    const int error = errno;
    ::close(folder);
    return error;
  }
  int error = 0;
  errno = 0;
  while (const dirent* entry = ::readdir(entries)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st {};
    if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      break;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (S_ISDIR(st.st_mode) ? O_DIRECTORY : 0);
    const int inner = ::openat(folder, entry->d_name, flags);
    if (inner < 0) {
      error = errno;
      break;
    }
    if (S_ISDIR(st.st_mode)) {
      error = SyncTree(inner);
    } else {
      error = ::fsync(inner) == 0 ? 0 : errno;
      ::close(inner);
    }
    if (error != 0) break;
  }
  if (error == 0 && ::fsync(folder) != 0) error = errno;
  ::closedir(entries);  // closes `folder` too
  return error;
}

QString Beside(const QString& dir, const char* kind) {
  const QFileInfo info(dir);
  return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1String(kind) + QStringLiteral("-XXXXXX");
}

}  // namespace

bool InsideRunUnderWay(const QString& path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  const std::lock_guard<std::mutex> hold(underWayLock);
  for (const QString& temporary : underWay) {
    if (clean.startsWith(temporary) && clean.size() > temporary.size() && clean[temporary.size()] == QLatin1Char('/'))
      return true;
  }
  return false;
}

TStatus SyncParent(const QString& dir) {
  const QString parent = QFileInfo(QDir::cleanPath(dir)).absolutePath();
  const int folder = ::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int error = folder < 0 ? errno : (::fsync(folder) == 0 ? 0 : errno);
  if (folder >= 0) ::close(folder);
  if (error == 0) return Success();
  return Failed(QStringLiteral("%1 is in place, but may not be on the disk: %2").arg(dir, ErrorText(error)));
}

TRunFolder::TRunFolder(TRunFolder&& other) noexcept
    : dir_(std::move(other.dir_)), temporary_(std::move(other.temporary_)) {}

TRunFolder& TRunFolder::operator=(TRunFolder&& other) noexcept {
  if (this != &other) {
    Release();
    dir_ = std::move(other.dir_);
    temporary_ = std::move(other.temporary_);
  }
  return *this;
}

TRunFolder::~TRunFolder() { Release(); }

void TRunFolder::Release() {
  if (temporary_) Unregister(QDir::cleanPath(temporary_->path()));
  temporary_.reset();
}

TStatus TRunFolder::Open(const QString& dir, bool force) {
  const QFileInfo info(dir);
  // A link standing where the run's folder goes is neither followed nor
  // replaced, whatever it points to (a run elsewhere, nothing at all).
  if (QFileInfo(QDir::cleanPath(info.absoluteFilePath())).isSymLink())
    return NeverFollowed(dir, QStringLiteral("a symbolic link"));
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
  Release();
  temporary_ = std::make_unique<QTemporaryDir>(Beside(dir_, ".tmp"));
  if (!temporary_->isValid())
    return Failed(QStringLiteral("cannot make a folder beside %1: %2").arg(dir, temporary_->errorString()));
  Register(QDir::cleanPath(temporary_->path()));
  return Success();
}

QString TRunFolder::Path(const QString& name) const { return temporary_->filePath(name); }

TStatus TRunFolder::Sync() const {
  const QByteArray path = QFile::encodeName(temporary_->path());
  const int folder = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const int error = folder < 0 ? errno : SyncTree(folder);
  if (error == 0) return Success();
  return Failed(QStringLiteral("cannot write the run %1 to the disk: %2").arg(dir_, ErrorText(error)));
}

TStatus TRunFolder::Commit() {
  if (TStatus synced = Sync(); !synced) return synced;
  if (TStatus placed = Place(); !placed) return placed;
  return SyncParent(dir_);
}

TStatus TRunFolder::Place() {
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
  Release();
  return Success();
}
