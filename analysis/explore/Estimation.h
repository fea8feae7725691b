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

// The number of a role "<prefix><n>" as a record may hold it (n from 0 to
// 999 without a leading zero); nothing for any other role.
std::optional<qsizetype> NumberedRole(const QString& role, const QString& prefix);

}  // namespace explore
