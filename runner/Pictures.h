// Files of pictures, written whole or not at all: the grid's snapshots, and
// the figures of the analysis.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Saves bytes, or a PNG, atomically; returns an error text or empty.
QString SaveBytes(const QByteArray& bytes, const QString& path);
QString SavePng(const QImage& image, const QString& path);
