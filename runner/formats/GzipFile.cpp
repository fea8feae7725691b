#include "GzipFile.h"

#include <zlib.h>

#include <QFile>

namespace {

// Fast compression: the tables of a large world are written while it waits.
constexpr const char* kGzipMode = "wb1";
constexpr unsigned kGzipBuffer = 1U << 20;

}  // namespace

TGzipFile::TGzipFile(const QString& path) : path_(path) {
  gzFile file = gzopen(QFile::encodeName(path).constData(), kGzipMode);
  if (file == nullptr) {
    error_ = QStringLiteral("cannot write %1").arg(path);
    return;
  }
  gzbuffer(file, kGzipBuffer);
  file_ = file;
}

TGzipFile::~TGzipFile() { Close(); }

void TGzipFile::Write(std::string_view text) {
  if (file_ == nullptr || !error_.isEmpty() || text.empty()) return;
  if (gzwrite(static_cast<gzFile>(file_), text.data(), static_cast<unsigned>(text.size())) !=
      static_cast<int>(text.size())) {
    error_ = QStringLiteral("cannot write %1").arg(path_);
  }
}

QString TGzipFile::Close() {
  if (file_ != nullptr) {
    if (gzclose(static_cast<gzFile>(file_)) != Z_OK && error_.isEmpty()) {
      error_ = QStringLiteral("cannot write %1").arg(path_);
    }
    file_ = nullptr;
  }
  return error_;
}
