// The measures a study reads from each run, over the summary's window, as
// the exploration sees them: a name (effects.csv's, the tables') and the
// words of the figures. Which measures a study takes is chosen at run time
// (--measure; SeriesMeasures.h reads them from a run's series); without a
// choice it takes the four below.
#pragma once

#include <QString>
#include <array>
#include <vector>

struct TStudyMeasure {
  QString name;   // as effects.csv names it: "trip_rate", "log1p(trip_rate)"
  QString words;  // a figure's panel title or axis
};

// The measures of a study that names none, in their order: the unrounded
// genes' window means, and trips and births per 100 steps.
struct TDefaultStudyMeasure {
  const char* name;
  const char* words;
};
inline constexpr std::array kDefaultStudyMeasures{
    TDefaultStudyMeasure{.name = "mean_angle", .words = "mean angle gene"},
    TDefaultStudyMeasure{.name = "mean_wiggle", .words = "mean wiggle gene"},
    TDefaultStudyMeasure{.name = "trip_rate", .words = "trips per 100 steps"},
    TDefaultStudyMeasure{.name = "birth_rate", .words = "births per 100 steps"},
};

inline std::vector<TStudyMeasure> DefaultStudyMeasures() {
  std::vector<TStudyMeasure> measures;
  for (const TDefaultStudyMeasure& m : kDefaultStudyMeasures)
    measures.push_back({QLatin1String(m.name), QLatin1String(m.words)});
  return measures;
}
