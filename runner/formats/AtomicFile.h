// The one way a file of a run or a summary is written: whole or not at all.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "Result.h"

// Writes `bytes` to a temporary file beside `path`, flushes it to the disk
// and renames it into place, so that the file at `path` is always a whole
// file, the new one or the old one, even across a crash of the machine.
TStatus SaveBytes(const QByteArray& bytes, const QString& path);
// The same for a PNG image.
TStatus SavePng(const QImage& image, const QString& path);
