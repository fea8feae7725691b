// What the design kinds' estimators share: the runs that hold a measure, a
// point's runs over several seeds averaged into one value, the factors'
// ranges and codes, and the roles numbered by a factor or a step.
#pragma once

#include <QString>
#include <cmath>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "Exploration.h"
#include "Replicates.h"

namespace explore {

inline constexpr double kTinyVariance = 1e-300;

inline bool Finite(double v) { return std::isfinite(v); }

// A setting's option name, as effects.csv names a term.
QString Option(size_t setting);

// The runs that hold a finite value of measure `m` (a run's values may be
// fewer than the measures: the missing ones are absent).
std::vector<const TRunMeasures*> RunsWith(const std::vector<const TRunMeasures*>& runs, size_t m);

struct TRange {
  double min = 0;
  double max = 0;
  double Span() const { return max - min; }
};
TRange RangeOf(const std::vector<const TRunMeasures*>& runs, size_t setting);
// -1 at the lowest value of the range, +1 at the highest.
inline double Coded(double value, const TRange& r) { return (2.0 * value - r.max - r.min) / r.Span(); }

// An effect on the measure `m` of `out`'s measures.
TEffect MakeEffect(const TExploration& out, size_t m, QString term, QString quantity, double estimate);
// The name of `out`'s measure `m`, for a note.
inline const QString& MeasureName(const TExploration& out, size_t m) { return out.measures[m].name; }

// A design point: its runs over several seeds count once.
struct TPointValue {
  const TRunMeasures* run = nullptr;  // the first of the point's runs: its settings
  double value = 0;                   // the mean of its runs
};
using TPointMeans = std::map<std::pair<QString, int32_t>, TPointValue>;
// Per (role, point) the mean of the measure over the runs that hold it.
TPointMeans PointMeans(const std::vector<const TRunMeasures*>& runs, size_t m);

// The seeds' share of measure `m`: a run's point is its design's (role,
// point), or its settings when it records no design.
TSeedShare PointSeedShare(const std::vector<const TRunMeasures*>& runs, size_t m);

// The fewest seeds a point needs for the seeds' variance to be measured
// with some precision (two degrees of freedom a point).
inline constexpr int kFewestSeeds = 3;
// The share of the point means' variance the seeds may leave before the
// means are called mostly noise, and the share more seeds should bring it to.
inline constexpr double kNoisyMeans = 0.5;
inline constexpr double kQuietMeans = 0.2;

// The seeds' share as a row (term "seed", quantity "seed_share"), with the
// warnings when the runs cannot tell the seeds' noise from the factors'
// effects: no point has replicates, or the seeds still make most of the
// variance of the point means. `point` names a point: "point", "trajectory point".
void ReportSeedShare(size_t m, const TSeedShare& share, const char* point, TExploration& out);

// How an index of the point means treats the seeds' noise, for `method`.
QString NoiseWords(const TSeedShare& share, const char* correction);

// The count of rows (or seeds per point) that would bring an interval of
// `width`, made from `count` of them, to `wanted`, as an interval's width
// shrinks with 1/sqrt(count): count (width / wanted)².
inline double NarrowingCount(double count, double width, double wanted) {
  return count * (width / wanted) * (width / wanted);
}

// The warnings of an estimate whose true value lies in lo..hi, made from
// `rows` rows of the design: its interval is wider than the range, or it
// lies outside the range (beyond its interval, or within it). Each answers
// with the rows that would bring the interval's width, which shrinks as
// 1/sqrt(rows), below the range (or, for an estimate outside it, below a
// fifth of it).
void CheckRange(const TEffect& e, size_t m, double lo, double hi, size_t rows, const QString& rowsWord,
                TExploration& out);

// The warnings as rows of effects and as lines for standard error, one per
// measure and kind with the terms it concerns and the largest count.
void FinishWarnings(TExploration& out);

// The number of a role "<prefix><n>" as a record may hold it (n from 0 to
// 999 without a leading zero); nothing for any other role.
std::optional<qsizetype> NumberedRole(const QString& role, const QString& prefix);

}  // namespace explore
