// The kinds of design a sweep can take, one table (kDesignKinds): what each
// kind asks of --grid, the points it makes in the unit cube, the roles its
// points play, the estimator its runs call for and the words its tables and
// figures use. Each kind lives in one file of this folder; the command line,
// the run record, the summary and the figures ask the table and never
// compare a kind's name.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Exploration.h"

// A point of a design in the unit cube, a coordinate in [0, 1] per factor,
// with its index and role as TDesignPoint records them.
struct TUnitPoint {
  std::vector<double> x;
  int32_t index = 0;
  QString role;
};

// What a generator draws from: --samples, the factors' count, --levels and
// --design-seed (their defaults filled in).
struct TDesignDraw {
  int32_t samples = 0;
  size_t factors = 0;
  int32_t levels = 0;
  uint32_t seed = 0;
};

// The runs of one design (a point run with several seeds has a run per
// seed) and its factors as setting indices, in the design's order.
using TEstimator = void (*)(const std::vector<const TRunMeasures*>& runs, const std::vector<size_t>& factors,
                            TExploration& out, QStringList& notes);

// What the tables and figures call a kind's analysis and its points.
struct TDesignWords {
  const char* analysis = "";  // the effects figure's title: "Sobol indices" of N runs
  const char* axis = "";      // the effects figure's axis
  const char* point = "";     // one of its points in a warning: "point", "trajectory"
  // What --design's help says it draws: "a Latin hypercube of --samples N
  // points"; empty for a kind --design does not take.
  const char* draws = "";
};

struct TDesignKind {
  const char* name = "";  // as --design, --design-point and run.json write it
  // Its points are the product of two or more --vary (the cells), not drawn
  // by --design: no generator, no --samples.
  bool cellsFromVary = false;
  bool takesLevels = false;   // --levels: the grid a generator steps on
  bool takesSeed = false;     // --design-seed: the generator draws at random
  const char* seedless = "";  // without takesSeed: why --design-seed is refused
  // Whether a point's role fits a design of `factors` factors.
  bool (*fitsRole)(const QString& role, qsizetype factors) = nullptr;
  // The points --samples N makes for k factors; none with cellsFromVary.
  qint64 (*pointCount)(qint64 samples, qint64 factors) = nullptr;
  std::vector<TUnitPoint> (*generate)(const TDesignDraw& draw) = nullptr;
  TEstimator estimate = nullptr;
  size_t minFactors = 1;              // the estimator needs at least these many
  bool dropsConstantFactors = false;  // a factor that does not vary in the runs is left out
  // The quantity its terms are ordered and drawn by; empty: every quantity.
  const char* mainQuantity = "";
  // The one column of the printed table that every quantity shares (a
  // factorial's effects and interactions), and so one place in a figure's
  // row; empty: a column for each.
  const char* sharedColumn = "";
  bool correlationAxis = false;  // its estimates are correlations: the figure's axis spans -1 to 1
  TDesignWords words;
};

// Every kind, in the order messages and --help list them.
std::span<const TDesignKind* const> DesignKinds();
// The kind of that name; nothing for a name no kind has.
const TDesignKind* FindDesignKind(const QString& name);
// The kind the product of two or more --vary makes.
const TDesignKind& VaryDesignKind();
// The kinds' names that satisfy `which`, in words: "lhs, sobol or morris" with `last` "or";
// with `draws`, each followed by what it draws: "lhs (a Latin hypercube of ...), ...".
QString DesignKindNames(bool (*which)(const TDesignKind&), const char* last, bool draws = false);
// The kinds --design takes: those that draw their points.
bool DrawsItsPoints(const TDesignKind& kind);

// The generators, as the kinds' files define them (tests call them directly).
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
