// The folder of a run appears complete or not at all: the run writes into a
// hidden temporary folder beside it and renames that into place at the end.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

class TRunFolder {
 public:
  // Why `dir` cannot take a run, or an empty string. A folder holding a run
  // is taken only with `force`; one holding anything else never is.
  static QString Refusal(const QString& dir, bool force);

  // Makes the temporary folder beside `dir`; returns an error text or empty.
  QString Open(const QString& dir);
  // A path inside the temporary folder.
  QString Path(const QString& name) const;
  // Puts the temporary folder in place of `dir` (replacing a run there
  // when forced); returns an error text or empty.
  QString Commit();

 private:
  QString dir_;
  std::unique_ptr<QTemporaryDir> temporary_;  // removed unless committed
};
