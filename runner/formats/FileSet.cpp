#include "FileSet.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <memory>

#include "AtomicFile.h"

namespace {

// The staging folder and its folder of old files are the writer's alone.
constexpr mode_t kStagingMode = 0700;
constexpr const char* kOldFolder = "old";
// Tries at a free staging name before the folder is reported as unusable.
constexpr int kStagingTries = 16;

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The kind of what stands at `name` in `folder`, not followed: S_IFREG,
// S_IFDIR, ...; 0 when nothing does (or it cannot be told).
mode_t KindAt(int folder, const char* name) {
  struct stat st {};
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  return st.st_mode & S_IFMT;
}

struct TDirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Removes the regular files in the open folder `at` (and in its folder
// "old", then that folder): true when it is left empty. Links and anything
// else are left where they are.
bool EmptyStaging(int at, bool top) {
  const int copy = ::fcntl(at, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  const std::unique_ptr<DIR, TDirCloser> dir(::fdopendir(copy));
  if (!dir) {
    ::close(copy);
    return false;
  }
  bool empty = true;
  while (const dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    const mode_t kind = KindAt(at, name);
    if (kind == S_IFREG) {
      empty = ::unlinkat(at, name, 0) == 0 && empty;
    } else if (top && kind == S_IFDIR && std::strcmp(name, kOldFolder) == 0) {
      const int old = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const bool emptied = old >= 0 && EmptyStaging(old, false);
      if (old >= 0) ::close(old);
      empty = emptied && ::unlinkat(at, name, AT_REMOVEDIR) == 0 && empty;
    } else {
      empty = false;
    }
  }
  return empty;
}

// Removes the staging folder `name` in `folder` when it holds only what a
// staging folder holds.
void RemoveStaging(int folder, const char* name) {
  const int stage = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (stage < 0) return;
  const bool empty = EmptyStaging(stage, true);
  ::close(stage);
  if (empty) ::unlinkat(folder, name, AT_REMOVEDIR);
}

}  // namespace

TResult<TFileSet> TFileSet::Open(const QString& dir, const char* stem, std::vector<const char*> names) {
  const QDir at(dir);
  for (const char* name : names) {
    if (TStatus checked = CheckReplaceable(at.filePath(QLatin1String(name))); !checked) return checked.Error();
  }
  const int folder = ::open(QFile::encodeName(at.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Failed(QStringLiteral("cannot write in %1: %2").arg(dir, ErrorText(errno)));
  int error = 0;
  for (int attempt = 0; attempt < kStagingTries; ++attempt) {
    QByteArray staging =
        QByteArray(".") + stem + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
    if (::mkdirat(folder, staging.constData(), kStagingMode) != 0) {
      error = errno;
      if (error == EEXIST) continue;
      break;
    }
    const int stage = ::openat(folder, staging.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (stage < 0) {
      error = errno;
      ::unlinkat(folder, staging.constData(), AT_REMOVEDIR);
      break;
    }
    return TFileSet(dir, stem, std::move(names), folder, std::move(staging), stage);
  }
  ::close(folder);
  return Failed(QStringLiteral("cannot make a staging folder in %1: %2").arg(dir, ErrorText(error)));
}

TFileSet::TFileSet(TFileSet&& other) noexcept
    : dir_(std::move(other.dir_)),
      stem_(other.stem_),
      names_(std::move(other.names_)),
      folder_(std::exchange(other.folder_, -1)),
      staging_(std::move(other.staging_)),
      stage_(std::exchange(other.stage_, -1)),
      keep_(other.keep_),
      committed_(other.committed_) {}

TFileSet::~TFileSet() {
  if (stage_ >= 0) ::close(stage_);
  if (folder_ < 0) return;
  if (!keep_) RemoveStaging(folder_, staging_.constData());
  ::close(folder_);
}

QString TFileSet::Path(const char* name) const {
  return QDir(dir_).filePath(QFile::decodeName(staging_) + QLatin1Char('/') + QLatin1String(name));
}

TError TFileSet::CannotSwap(const char* what, const char* name, int error) const {
  return Failed(QStringLiteral("%1 in %2: %3; the folder holds its earlier files")
                    .arg(QString::fromLatin1(what).arg(QLatin1String(name)), dir_, ErrorText(error)));
}

bool TFileSet::Undo(const std::vector<QByteArray>& placed, const std::vector<QByteArray>& aside) {
  const int old = ::openat(stage_, kOldFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  bool restored = true;
  // A new file goes back to the staging folder (and away with it); an old
  // one back over whatever took its place.
  for (const QByteArray& name : placed) ::renameat(folder_, name.constData(), stage_, name.constData());
  for (const QByteArray& name : aside) {
    restored = old >= 0 && ::renameat(old, name.constData(), folder_, name.constData()) == 0 && restored;
  }
  if (old >= 0) ::close(old);
  ::fsync(folder_);
  keep_ = !restored;
  return restored;
}

TStatus TFileSet::Commit() {
  if (stage_ < 0 || committed_) return Failed(QStringLiteral("cannot write in %1: the set is closed").arg(dir_));
  const QDir at(dir_);
  for (const char* name : names_) {
    if (TStatus checked = CheckReplaceable(at.filePath(QLatin1String(name))); !checked) return checked;
  }
  // Every staged file is on the disk (TAtomicFile); their names follow.
  if (::fsync(stage_) != 0) return CannotSwap("cannot stage %1", staging_.constData(), errno);
  if (::mkdirat(stage_, kOldFolder, kStagingMode) != 0) return CannotSwap("cannot stage %1", kOldFolder, errno);
  const int old = ::openat(stage_, kOldFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (old < 0) return CannotSwap("cannot stage %1", kOldFolder, errno);
  std::vector<QByteArray> placed;
  std::vector<QByteArray> aside;
  TStatus swapped = Success();
  for (const char* name : names_) {
    if (KindAt(folder_, name) != 0) {
      if (::renameat(folder_, name, old, name) != 0) {
        swapped = CannotSwap("cannot move %1 aside", name, errno);
        break;
      }
      aside.emplace_back(name);
    }
    if (KindAt(stage_, name) == S_IFREG) {
      if (::renameat(stage_, name, folder_, name) != 0) {
        swapped = CannotSwap("cannot put %1 in place", name, errno);
        break;
      }
      placed.emplace_back(name);
    }
  }
  ::close(old);
  if (swapped && ::fsync(folder_) != 0) swapped = CannotSwap("cannot put %1 in place", staging_.constData(), errno);
  if (!swapped) {
    if (Undo(placed, aside)) return swapped;
    QString message = swapped.Error().message;
    message.replace(QStringLiteral("the folder holds its earlier files"),
                    QStringLiteral("earlier files that could not be put back are kept in %1/%2/%3")
                        .arg(dir_, QFile::decodeName(staging_), QLatin1String(kOldFolder)));
    return Failed(message);
  }
  committed_ = true;
  // What an interrupted swap of the same set left: its old files are older
  // than the set now in place.
  const int copy = ::fcntl(folder_, F_DUPFD_CLOEXEC, 0);
  if (const std::unique_ptr<DIR, TDirCloser> dir(copy < 0 ? nullptr : ::fdopendir(copy)); dir) {
    std::vector<QByteArray> stale;
    while (const dirent* entry = ::readdir(dir.get())) {
      const QByteArray name(entry->d_name);
      if (name != staging_ && AtomicTarget(QFile::decodeName(name)) == QLatin1String(stem_) &&
          KindAt(folder_, name.constData()) == S_IFDIR) {
        stale.push_back(name);
      }
    }
    for (const QByteArray& name : stale) RemoveStaging(folder_, name.constData());
  } else if (copy >= 0) {
    ::close(copy);
  }
  return Success();
}
