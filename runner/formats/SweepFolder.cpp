#include "SweepFolder.h"

#include <QDir>
#include <QFileInfo>

#include "FileNames.h"

QStringList SweepRunFolders(const QString& dir) {
  const QDir folder(dir);
  QStringList runs;
  for (const QString& name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    if (QFileInfo::exists(folder.filePath(name + QLatin1Char('/') + QLatin1String(kRunRecordName)))) runs << name;
  }
  return runs;
}
