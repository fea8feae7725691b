// Pictures of the grid as a run writes them.
#pragma once

#include <QImage>
#include <cstdint>

// A picture of the grid as a run writes it: a strip below the grid with the
// step and seed, the whole magnified `scale` times, nearest neighbour, so
// that every cell stays sharp. Its sides are even, as video encoders need.
QImage LabelledPicture(const QImage& grid, int32_t step, uint32_t seed, int32_t scale);
