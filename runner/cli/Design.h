// Designed sweeps of --grid: the shape of the design a command asks for, and
// how a point of the unit cube becomes values that the settings' controls hold.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "DesignKind.h"
#include "Options.h"

// What a --grid command designs: the kind (VaryDesignKind's for two or more
// --vary, else --design's), the factors as option names in the design's
// order, and how many indices its points take (N samples, r trajectories, or
// the factorial's cells). An empty kind: no design.
struct TDesignShape {
  QString kind;
  const TDesignKind* design = nullptr;  // the kind's entry; none for a name no kind has
  QStringList factors;
  qint64 indices = 0;
  qint64 points = 0;  // the design's points: N, N(k+2), r(k+1) or the cells
};
TDesignShape DesignShape(const TCommand& grid);

// The generators and TUnitPoint come from the design kinds (DesignKind.h).

// A coordinate as a value the factor's control holds: [0, 1] is cut into as
// many equal cells as the range holds values (two for a two-valued setting),
// and x takes its cell's value; 1 takes the highest.
int32_t SnapToControl(const TFactorRange& range, double x);
