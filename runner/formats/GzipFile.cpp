#include "GzipFile.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

namespace {

// Fast compression: the tables of a large world are written while it waits.
constexpr const char* kGzipMode = "wb1";
constexpr unsigned kGzipBuffer = 1U << 20;

QString CannotWrite(const QString& path) { return QStringLiteral("cannot write %1").arg(path); }

}  // namespace

TResult<TGzipFile> TGzipFile::Open(const QString& path) {
  TResult<TAtomicFile> target = TAtomicFile::Open(path);
  if (!target) return target.Error();
  // zlib closes the copy; the target keeps its own descriptor for the commit.
  const int copy = ::fcntl(target->Descriptor(), F_DUPFD_CLOEXEC, 0);
  gzFile file = copy < 0 ? nullptr : gzdopen(copy, kGzipMode);
  if (file == nullptr) {
    if (copy >= 0) ::close(copy);
    return Failed(CannotWrite(path));
  }
  gzbuffer(file, kGzipBuffer);
  return TGzipFile(std::move(*target), file);
}

TResult<TGzipFile> TGzipFile::OpenTable(const QString& path, std::string_view header) {
  TResult<TGzipFile> file = Open(path);
  if (!file) return file;
  if (TStatus written = file->Write(header); !written) return written.Error();
  return file;
}

TGzipFile::TGzipFile(TGzipFile&& other) noexcept
    : target_(std::move(other.target_)),
      file_(std::exchange(other.file_, nullptr)),
      status_(std::move(other.status_)) {}

TGzipFile::~TGzipFile() {
  if (file_ != nullptr) gzclose(static_cast<gzFile>(file_));
}

TStatus TGzipFile::Fail(int code) {
  // zlib's Z_ERRNO: the system's error is in errno.
  const int error = errno;
  if (status_) {
    QString message = CannotWrite(target_ ? target_->Path() : QString());
    if (code == Z_ERRNO && error != 0) message += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
    status_ = Failed(message);
  }
  return status_;
}

TStatus TGzipFile::Write(std::string_view text) {
  if (file_ == nullptr) return Fail();
  if (!status_ || text.empty()) return status_;
  const int written = gzwrite(static_cast<gzFile>(file_), text.data(), static_cast<unsigned>(text.size()));
  if (written == static_cast<int>(text.size())) return status_;
  int code = Z_OK;
  gzerror(static_cast<gzFile>(file_), &code);
  return Fail(code);
}

TStatus TGzipFile::Close() {
  if (file_ == nullptr) return status_;
  const int closed = gzclose(static_cast<gzFile>(std::exchange(file_, nullptr)));
  if (closed != Z_OK) return Fail(closed);
  if (status_) status_ = target_->Commit();
  return status_;
}
