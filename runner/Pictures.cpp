#include "Pictures.h"

#include <QBuffer>
#include <QSaveFile>

TStatus SaveBytes(const QByteArray& bytes, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    return Failed(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
  }
  return Success();
}

TStatus SavePng(const QImage& image, const QString& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, "PNG")) return Failed(QStringLiteral("cannot encode %1").arg(path));
  return SaveBytes(bytes, path);
}
