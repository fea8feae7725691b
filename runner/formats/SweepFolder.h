// A sweep's folder: a folder of run folders, each a run of pathwick_run.
#pragma once

#include <QString>
#include <QStringList>

// The runs of a sweep's folder DIR, by name: its visible subfolders that
// hold a run.json, one level down. Empty when there are none (DIR is no
// folder, holds only other things, or is a single run's folder). Whatever
// reads a sweep (the summary, --verify, the Python module) finds its runs here.
QStringList SweepRunFolders(const QString& dir);
