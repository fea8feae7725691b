// Designed sweeps of --grid: the points of a Latin hypercube, of Saltelli's
// Sobol design and of Morris' trajectories in the unit cube, and how a point
// becomes values that the settings' controls hold.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "Options.h"

// What a --grid command designs: the kind ("factorial" for two or more
// --vary, else --design's), the factors as option names in the design's
// order, and how many indices its points take (N samples, r trajectories, or
// the factorial's cells). An empty kind: no design.
struct TDesignShape {
  QString kind;
  QStringList factors;
  qint64 indices = 0;
  qint64 points = 0;  // the design's points: N, N(k+2), r(k+1) or the cells
};
TDesignShape DesignShape(const TCommand& grid);

// A point of a design in the unit cube, a coordinate in [0, 1] per factor,
// with its index and role as TDesignPoint records them.
struct TUnitPoint {
  std::vector<double> x;
  int32_t index = 0;
  QString role;
};

// N points, each factor's coordinates one in each of its N equal strata,
// the strata's order and the place in each drawn from `seed`.
std::vector<TUnitPoint> LatinHypercube(int32_t samples, size_t factors, uint32_t seed);
// Saltelli's design from the first N points of a 2k-dimensional Sobol
// sequence after its first (all zeros, skipped): A its first k columns, B its last k;
// for each row A, B, then A_B^(i) (A with column i from B) for i = 1..k.
std::vector<TUnitPoint> SaltelliSobol(int32_t samples, size_t factors);
// r trajectories of k+1 points on a p-level grid (p even): a random start,
// then each factor in a random order moves by p/(2(p-1)), up where it can,
// else down.
std::vector<TUnitPoint> MorrisTrajectories(int32_t trajectories, size_t factors, int32_t levels, uint32_t seed);

// A coordinate as a value the factor's control holds: [0, 1] is cut into as
// many equal cells as the range holds values (two for a two-valued setting),
// and x takes its cell's value; 1 takes the highest.
int32_t SnapToControl(const TFactorRange& range, double x);
