// Files of pictures, written whole or not at all: the grid's snapshots, and
// the figures of the analysis.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "Result.h"

inline constexpr int32_t kMinPictureScale = 1;
inline constexpr int32_t kMaxPictureScale = 8;

// A picture of the grid as a run writes it: a strip below the grid with the
// step and seed, the whole magnified `scale` times, nearest neighbour, so
// that every cell stays sharp. Its sides are even, as video encoders need.
QImage LabelledPicture(const QImage& grid, int32_t step, uint32_t seed, int32_t scale);

// Saves bytes, or a PNG, atomically.
TStatus SaveBytes(const QByteArray& bytes, const QString& path);
TStatus SavePng(const QImage& image, const QString& path);
