#include "BoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

QString CannotRead(const QString& path, int error) {
  return QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

}  // namespace

TResult<TBoundedFile> TBoundedFile::Open(const QString& path, qint64 limit) {
  // Non-blocking, so that a FIFO does not wait for a writer before it is
  // seen for what it is.
  const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return Refused(CannotRead(path, errno));
  struct stat st {};
  if (::fstat(file, &st) != 0) {
    const int error = errno;
    ::close(file);
    return Refused(CannotRead(path, error));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(file);
    return Refused(QStringLiteral("refused to read %1: it is not a regular file").arg(path));
  }
  if (st.st_size > limit) {
    ::close(file);
    return Refused(QStringLiteral("refused to read %1: it holds %2 bytes, more than the %3 such a file may")
                       .arg(path)
                       .arg(st.st_size)
                       .arg(limit));
  }
  // Reads from here on wait for the disk as usual.
  ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
  return TBoundedFile(path, file, st.st_size);
}

TBoundedFile::~TBoundedFile() {
  if (file_ >= 0) ::close(file_);
}

TResult<QByteArray> TBoundedFile::Read(qint64 count) {
  if (count < 0 || count > size_ - read_) {
    return Refused(QStringLiteral("refused to read %1: it is cut short").arg(path_));
  }
  QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
  qint64 done = 0;
  while (done < count) {
    const ssize_t got = ::read(file_, bytes.data() + done, static_cast<size_t>(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Refused(CannotRead(path_, errno));
    if (got == 0) return Refused(QStringLiteral("refused to read %1: it is cut short").arg(path_));
    done += got;
  }
  read_ += count;
  return bytes;
}

TResult<QByteArray> TBoundedFile::ReadRest() {
  TResult<QByteArray> rest = Read(size_ - read_);
  if (!rest) return rest;
  char extra = 0;
  ssize_t got = 0;
  do {
    got = ::read(file_, &extra, 1);
  } while (got < 0 && errno == EINTR);
  if (got != 0) {
    return Refused(QStringLiteral("refused to read %1: it is larger than it was when opened").arg(path_));
  }
  return rest;
}

TResult<QByteArray> ReadBounded(const QString& path, qint64 limit) {
  TResult<TBoundedFile> file = TBoundedFile::Open(path, limit);
  if (!file) return file.Error();
  return file->ReadRest();
}

TResult<QByteArray> ReadStandardInput(qint64 limit) {
  QByteArray text;
  char block[1 << 16];
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failed(CannotRead(QStringLiteral("standard input"), errno));
    if (got == 0) return text;
    if (text.size() + got > limit) {
      return Refused(
          QStringLiteral("refused to read standard input: it holds more than the %1 bytes it may").arg(limit));
    }
    text.append(block, got);
  }
}
