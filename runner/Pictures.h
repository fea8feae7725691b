// Files of pictures, written whole or not at all: the grid's snapshots, and
// the figures of the analysis.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "Result.h"

// Saves bytes, or a PNG, atomically.
TStatus SaveBytes(const QByteArray& bytes, const QString& path);
TStatus SavePng(const QImage& image, const QString& path);
