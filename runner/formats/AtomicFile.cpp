#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>

#include "RunFolder.h"

namespace {

// A new file's permissions before the user's umask, as any program's.
constexpr mode_t kFileMode = 0666;
// Written bytes are held up to this many before they go to the file.
constexpr qsizetype kBufferBytes = 16 * 1024;
// Tries at a free temporary name before the folder is reported as unusable.
constexpr int kTemporaryTries = 16;

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// What stands at a path that is not a regular file, as a message names it.
QString KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("a symbolic link");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  if (S_ISDIR(mode)) return QStringLiteral("a folder");
  return QStringLiteral("not a regular file");
}

// lstat of `name` in the open folder: nothing, or a regular file, is fine.
TStatus CheckAt(int folder, const QByteArray& name, const QString& path) {
  struct stat st {};
  if (::fstatat(folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Success();
    return Failed(QStringLiteral("cannot write %1: %2").arg(path, ErrorText(errno)));
  }
  if (S_ISREG(st.st_mode)) return Success();
  return NeverFollowed(path, KindOf(st.st_mode));
}

// Every byte, or the error that stopped it (0 when none).
int WriteAll(int file, const char* data, qsizetype size) {
  while (size > 0) {
    const ssize_t written = ::write(file, data, static_cast<size_t>(size));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : ENOSPC;
    data += written;
    size -= written;
  }
  return 0;
}

QByteArray TemporaryName(const QByteArray& name) {
  return '.' + name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + ".part";
}

}  // namespace

QString AtomicTarget(const QString& name) {
  static const QRegularExpression temporary(QStringLiteral("^\\.(.+)\\.[0-9a-f]{1,16}\\.part$"));
  const QRegularExpressionMatch m = temporary.match(name);
  return m.hasMatch() ? m.captured(1) : QString();
}

TError NeverFollowed(const QString& path, const QString& what) {
  return Refused(QStringLiteral("refused to write %1: it is %2, which is never followed or replaced").arg(path, what));
}

TStatus CheckReplaceable(const QString& path) {
  const QFileInfo info(path);
  const QByteArray folderName = QFile::encodeName(info.absolutePath());
  const int folder = ::open(folderName.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Failed(QStringLiteral("cannot write %1: %2").arg(path, ErrorText(errno)));
  TStatus checked = CheckAt(folder, QFile::encodeName(info.fileName()), path);
  ::close(folder);
  return checked;
}

TResult<TAtomicFile> TAtomicFile::Open(const QString& path) {
  const QFileInfo info(path);
  const QByteArray name = QFile::encodeName(info.fileName());
  if (name.isEmpty()) return Refused(QStringLiteral("cannot write %1: it names no file").arg(path));
  const int folder = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return Failed(QStringLiteral("cannot write %1: %2").arg(path, ErrorText(errno)));
  if (TStatus checked = CheckAt(folder, name, path); !checked) {
    ::close(folder);
    return checked.Error();
  }
  for (int attempt = 0; attempt < kTemporaryTries; ++attempt) {
    QByteArray temporary = TemporaryName(name);
    const int file =
        ::openat(folder, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    if (file >= 0) return TAtomicFile(path, folder, name, std::move(temporary), file, InsideRunUnderWay(path));
    if (errno != EEXIST) break;
  }
  const int error = errno;
  ::close(folder);
  return Failed(QStringLiteral("cannot write %1: %2").arg(path, ErrorText(error)));
}

TAtomicFile::TAtomicFile(TAtomicFile&& other) noexcept
    : path_(std::move(other.path_)),
      folder_(std::exchange(other.folder_, -1)),
      name_(std::move(other.name_)),
      temporary_(std::move(other.temporary_)),
      file_(std::exchange(other.file_, -1)),
      committed_(std::exchange(other.committed_, true)),
      flushedLater_(other.flushedLater_) {}

TAtomicFile::~TAtomicFile() {
  if (file_ >= 0) ::close(file_);
  if (folder_ < 0) return;
  if (!committed_) ::unlinkat(folder_, temporary_.constData(), 0);
  ::close(folder_);
}

TError TAtomicFile::CannotWrite(int error) const {
  return Failed(QStringLiteral("cannot write %1: %2").arg(path_, ErrorText(error)));
}

QString TAtomicFile::TemporaryPath() const {
  return QFileInfo(path_).absoluteDir().filePath(QFile::decodeName(temporary_));
}

TStatus TAtomicFile::Write(const char* data, qsizetype size) {
  if (file_ < 0) return Failed(QStringLiteral("cannot write %1: the file is closed").arg(path_));
  if (buffer_.size() + size <= kBufferBytes) {
    buffer_.append(data, size);
    return Success();
  }
  if (TStatus drained = Drain(); !drained) return drained;
  if (size <= kBufferBytes) {
    buffer_.append(data, size);
    return Success();
  }
  const int error = WriteAll(file_, data, size);
  return error == 0 ? Success() : TStatus(CannotWrite(error));
}

TStatus TAtomicFile::Drain() {
  const QByteArray held = std::exchange(buffer_, QByteArray());
  const char* data = held.constData();
  const qsizetype size = held.size();
  const int error = WriteAll(file_, data, size);
  return error == 0 ? Success() : TStatus(CannotWrite(error));
}

TStatus TAtomicFile::Commit() {
  if (committed_ || file_ < 0) return Failed(QStringLiteral("cannot write %1: the file is closed").arg(path_));
  if (TStatus drained = Drain(); !drained) return drained;
  // What stands at the temporary name must still be the file made here: a
  // program that wrote it by name (ffmpeg) could have been given another.
  struct stat made {};
  struct stat standing {};
  if (::fstat(file_, &made) != 0) return CannotWrite(errno);
  if (::fstatat(folder_, temporary_.constData(), &standing, AT_SYMLINK_NOFOLLOW) != 0) return CannotWrite(errno);
  if (!S_ISREG(standing.st_mode) || standing.st_ino != made.st_ino || standing.st_dev != made.st_dev) {
    return Refused(QStringLiteral("refused to write %1: its temporary file was replaced").arg(path_));
  }
  if (flushedLater_) return PlaceFlushedLater();
  if (::fsync(file_) != 0) return CannotWrite(errno);
  const int closed = ::close(std::exchange(file_, -1));
  if (closed != 0) return CannotWrite(errno);
  if (TStatus checked = CheckAt(folder_, name_, path_); !checked) return checked;
  // The old file keeps a second name until the rename is on the disk, so
  // that it can be put back when the folder cannot be flushed. Where the
  // folder allows no such link, the old file is not kept.
  const QByteArray kept = TemporaryName(name_);
  const bool keeping = ::linkat(folder_, name_.constData(), folder_, kept.constData(), 0) == 0;
  const bool existed = keeping || errno != ENOENT;
  if (::renameat(folder_, temporary_.constData(), folder_, name_.constData()) != 0) {
    const int error = errno;
    if (keeping) ::unlinkat(folder_, kept.constData(), 0);
    return CannotWrite(error);
  }
  // The rename reaches the disk with its folder.
  if (::fsync(folder_) != 0) {
    const int error = errno;
    if (keeping && ::renameat(folder_, kept.constData(), folder_, name_.constData()) == 0) {
      committed_ = true;  // the new file is gone, under the old one's name
      return CannotWrite(error);
    }
    committed_ = true;
    // A file that was not there before goes again.
    if (!existed && ::unlinkat(folder_, name_.constData(), 0) == 0) return CannotWrite(error);
    return Failed(QStringLiteral("cannot write %1: %2 (the new file is in place, but may not be on the disk)")
                      .arg(path_, ErrorText(error)));
  }
  committed_ = true;
  if (keeping) ::unlinkat(folder_, kept.constData(), 0);
  return Success();
}

TStatus TAtomicFile::PlaceFlushedLater() {
  // Started on its way to the disk now, so that the folder's flush later
  // finds it written and commits the whole folder at once.
  static_cast<void>(::sync_file_range(file_, 0, 0, SYNC_FILE_RANGE_WRITE));
  const int closed = ::close(std::exchange(file_, -1));
  if (closed != 0) return CannotWrite(errno);
  if (TStatus checked = CheckAt(folder_, name_, path_); !checked) return checked;
  if (::renameat(folder_, temporary_.constData(), folder_, name_.constData()) != 0) return CannotWrite(errno);
  committed_ = true;
  return Success();
}

TStatus SaveBytes(const QByteArray& bytes, const QString& path) {
  TResult<TAtomicFile> file = TAtomicFile::Open(path);
  if (!file) return file.Error();
  if (TStatus written = file->Write(bytes); !written) return written;
  return file->Commit();
}

TStatus SavePng(const QImage& image, const QString& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Failed(QStringLiteral("cannot encode %1").arg(path));
  return SaveBytes(bytes, path);
}
