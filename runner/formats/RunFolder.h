// The folder of a run appears complete or not at all: the run writes into a
// hidden temporary folder beside it and renames that into place at the end.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "Result.h"

class TRunFolder {
 public:
  // Makes the temporary folder beside `dir`. Refuses a `dir` that holds a
  // run unless `force` is given, and one holding anything else always.
  TStatus Open(const QString& dir, bool force);
  // A path inside the temporary folder.
  QString Path(const QString& name) const;
  // Puts the temporary folder in place of `dir`, replacing a run there
  // (which is kept in place when the new one cannot be put there).
  TStatus Commit();

 private:
  QString dir_;
  std::unique_ptr<QTemporaryDir> temporary_;  // removed unless committed
};
