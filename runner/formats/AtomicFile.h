// The one way a file of a run, a summary, a sweep or a checkpoint is written:
// whole or not at all, inside its own folder, never through a link.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <utility>

#include "Result.h"

// Refuses a path where anything but a regular file stands (a symbolic link,
// a FIFO, a device, a socket, a folder), naming it; nothing there is
// followed or replaced. A regular file or nothing at all is fine.
TStatus CheckReplaceable(const QString& path);

// The refusal of `what` (such as "a symbolic link") standing at `path`.
TError NeverFollowed(const QString& path, const QString& what);

// A file made as a temporary file in the target's own folder, created anew
// (never through a link, never over anything standing there) and renamed
// into place by Commit once it is whole and on the disk. Until then the
// file at the path is the old one, or none; a file that is not committed is
// removed with its writer.
class TAtomicFile {
 public:
  // Refuses at once a target that CheckReplaceable refuses, and a folder
  // where the temporary file cannot be made.
  static TResult<TAtomicFile> Open(const QString& path);
  TAtomicFile(TAtomicFile&& other) noexcept;
  TAtomicFile& operator=(TAtomicFile&&) = delete;
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;
  ~TAtomicFile();

  // Buffered: a failure may show only at a later Write or at Commit.
  TStatus Write(const char* data, qsizetype size);
  TStatus Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }
  // The temporary file's descriptor, for a writer of its own (gzip); it
  // stays the writer's, and Commit still flushes it to the disk.
  int Descriptor() const { return file_; }
  // The temporary file's path, for a program that writes the file itself
  // (ffmpeg); Commit checks that what stands there is still this file.
  QString TemporaryPath() const;
  const QString& Path() const { return path_; }
  // Flushes the file to the disk, checks the target again and renames the
  // file into place, then flushes the folder. Inside the temporary folder
  // of a run under way the file is only started on its way to the disk:
  // the run's folder flushes all its files at once before it is put in
  // place (TRunFolder::Sync), and no one sees the file before.
  TStatus Commit();

 private:
  TAtomicFile(QString path, int folder, QByteArray name, QByteArray temporary, int file, bool flushedLater)
      : path_(std::move(path)),
        folder_(folder),
        name_(std::move(name)),
        temporary_(std::move(temporary)),
        file_(file),
        flushedLater_(flushedLater) {}
  TError CannotWrite(int error) const;
  // Writes out what the buffer holds.
  TStatus Drain();
  // Commit inside a run under way: renamed into place, flushed with the folder.
  TStatus PlaceFlushedLater();

  QString path_;
  int folder_ = -1;       // the target's folder, opened once: every step is relative to it
  QByteArray name_;       // the target's name in it
  QByteArray temporary_;  // the temporary file's name in it
  int file_ = -1;
  QByteArray buffer_;
  bool committed_ = false;
  bool flushedLater_ = false;  // inside a run under way: its folder flushes the file
};

// Writes `bytes` as a TAtomicFile at `path`.
TStatus SaveBytes(const QByteArray& bytes, const QString& path);
// The same for a PNG image.
TStatus SavePng(const QImage& image, const QString& path);

// The file a temporary of the writer stands for: "series.csv" for
// ".series.csv.1f3a9c.part"; empty for any other name. A write cut off
// leaves such a temporary beside its target.
QString AtomicTarget(const QString& name);
