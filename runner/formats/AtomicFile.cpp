#include "AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// The rename reaches the disk with its folder.
void SyncFolder(const QString& path) {
  const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
  const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

TStatus SaveBytes(const QByteArray& bytes, const QString& path) {
  // QSaveFile writes beside the path, flushes the file to the disk on
  // commit and only then renames it into place. Unbuffered, so that a short
  // write shows here: commit renames a file whose buffer it could not write
  // out in full, as if it were whole.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size() || !file.commit()) {
    return Failed(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
  }
  SyncFolder(path);
  return Success();
}

TStatus SavePng(const QImage& image, const QString& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Failed(QStringLiteral("cannot encode %1").arg(path));
  return SaveBytes(bytes, path);
}
