// The folder of a run appears complete or not at all: the run writes into a
// hidden temporary folder beside it and renames that into place at the end.
//
// Its files reach the disk once, all together, just before the rename: the
// atomic writer skips its own flushes for a file inside a run's temporary
// folder (it only starts writing it out), and Sync flushes every file and
// folder of the tree. Until the rename the folder is hidden, so a crash at
// any point leaves either no run or a whole one, and what the crash cut off
// is removed as any interrupted run's temporary folder is.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "Result.h"

class TRunFolder {
 public:
  TRunFolder() = default;
  TRunFolder(TRunFolder&& other) noexcept;
  TRunFolder& operator=(TRunFolder&& other) noexcept;
  TRunFolder(const TRunFolder&) = delete;
  TRunFolder& operator=(const TRunFolder&) = delete;
  ~TRunFolder();

  // Makes the temporary folder beside `dir`. Refuses a `dir` that holds a
  // run unless `force` is given, and one holding anything else always.
  TStatus Open(const QString& dir, bool force);
  // A path inside the temporary folder.
  QString Path(const QString& name) const;
  // The folder the run is put in place as.
  const QString& Target() const { return dir_; }
  // Flushes every file and folder of the temporary folder to the disk.
  TStatus Sync() const;
  // Puts the temporary folder in place of `dir`, replacing a run there
  // (which is kept in place when the new one cannot be put there). The
  // folder must have been synced; the rename reaches the disk with the
  // parent folder (SyncParent).
  TStatus Place();
  // Sync, Place and SyncParent: the run is in place and on the disk.
  TStatus Commit();

 private:
  void Release();

  QString dir_;
  std::unique_ptr<QTemporaryDir> temporary_;  // removed unless committed
};

// Flushes the folder that holds `dir` (after a rename in it) to the disk.
TStatus SyncParent(const QString& dir);

// Whether `path` lies inside the temporary folder of a run still being
// written, whose files Sync flushes all together.
bool InsideRunUnderWay(const QString& path);
