// The one way a stored file is read: only a regular file, only up to a
// stated limit, its size known before a byte of it is read.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <utility>

#include "Result.h"

// The largest files of each kind that are read at all, named once.
inline constexpr qint64 kCheckpointByteLimit = qint64{1} << 30;   // a world of millions of cells
inline constexpr qint64 kRecordByteLimit = qint64{64} << 20;      // run.json, with its file list
inline constexpr qint64 kTableByteLimit = qint64{1} << 31;        // a series or a table, as text
inline constexpr qint64 kSweepFileByteLimit = qint64{256} << 20;  // a sweep's tasks, job list and job log

// A regular file opened for reading, of a size within its limit; anything
// else (a FIFO, a device, a folder, a larger file) is refused by Open, before
// anything is read, with one line naming it.
class TBoundedFile {
 public:
  static TResult<TBoundedFile> Open(const QString& path, qint64 limit);
  TBoundedFile(TBoundedFile&& other) noexcept
      : path_(std::move(other.path_)), file_(std::exchange(other.file_, -1)), size_(other.size_) {}
  TBoundedFile& operator=(TBoundedFile&&) = delete;
  TBoundedFile(const TBoundedFile&) = delete;
  TBoundedFile& operator=(const TBoundedFile&) = delete;
  ~TBoundedFile();

  // The file's size when it was opened.
  qint64 Size() const { return size_; }
  // Exactly `count` more bytes; refuses a file that ends before them.
  TResult<QByteArray> Read(qint64 count);
  // The rest of the file, which must end where its size said: a file that
  // grew while it was read is refused.
  TResult<QByteArray> ReadRest();

 private:
  TBoundedFile(QString path, int file, qint64 size) : path_(std::move(path)), file_(file), size_(size) {}

  QString path_;
  int file_ = -1;
  qint64 size_ = 0;
  qint64 read_ = 0;
};

// A whole regular file of at most `limit` bytes.
TResult<QByteArray> ReadBounded(const QString& path, qint64 limit);

// Standard input to its end, refused once it passes `limit` bytes (it may
// be a pipe, whose size is not known before).
TResult<QByteArray> ReadStandardInput(qint64 limit);
