// A set of files in one folder that is replaced as a whole: a sweep's
// summary, whose tables and figures must all come from the same runs.
//
// The new files are written (each a TAtomicFile, so whole and on the disk)
// into a staging folder made inside the target folder, ".STEM.<hex>.part",
// the name AtomicTarget gives STEM for. Commit then, for every name of the
// set in turn, moves the old file aside into the staging folder's "old"
// folder and renames the new one into place (or, for a name this set no
// longer makes, only moves the old one aside). A failure on the way puts
// every name back as it was, so that the folder holds the old set whole;
// only then is the staging folder removed. A process killed in the middle
// of the renames can leave a mixed set, with the old files in the staging
// folder's "old": the next set written removes such folders.
#pragma once

#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

#include "Result.h"

class TFileSet {
 public:
  // Makes the staging folder ".STEM.<hex>.part" in the folder `dir`, for
  // the set of `names`. Refuses at once a name where something other than
  // a regular file stands in `dir` (CheckReplaceable), before anything is
  // made.
  static TResult<TFileSet> Open(const QString& dir, const char* stem, std::vector<const char*> names);
  TFileSet(TFileSet&& other) noexcept;
  TFileSet& operator=(TFileSet&&) = delete;
  TFileSet(const TFileSet&) = delete;
  TFileSet& operator=(const TFileSet&) = delete;
  // Removes the staging folder and what it holds, unless Commit kept old
  // files in it that it could not put back.
  ~TFileSet();

  // Where the set's file `name` is written before Commit.
  QString Path(const char* name) const;

  // Puts the staged files of the set in place and removes the set's files
  // that were not staged; then removes what an interrupted Commit of the
  // same stem left in the folder. Refuses, before anything moves, a name
  // where something other than a regular file now stands.
  TStatus Commit();

 private:
  TFileSet(QString dir, const char* stem, std::vector<const char*> names, int folder, QByteArray staging, int stage)
      : dir_(std::move(dir)),
        stem_(stem),
        names_(std::move(names)),
        folder_(folder),
        staging_(std::move(staging)),
        stage_(stage) {}
  // "`what` in DIR: the error; ...", `what` naming the file as %1.
  TError CannotSwap(const char* what, const char* name, int error) const;
  // Moves what was placed or set aside back; false when an old file could
  // not be put back (it stays in the staging folder's "old").
  bool Undo(const std::vector<QByteArray>& placed, const std::vector<QByteArray>& aside);

  QString dir_;
  const char* stem_;
  std::vector<const char*> names_;
  int folder_ = -1;     // the target folder
  QByteArray staging_;  // the staging folder's name in it
  int stage_ = -1;      // the staging folder
  bool keep_ = false;   // old files are left in the staging folder
  bool committed_ = false;
};
