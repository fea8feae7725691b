// The measures a study can take of a run's series, chosen by name at run
// time: any column's mean over the summary's window, or a cumulative
// column's growth per 100 steps over it (a rate), each on its own scale or
// on a transformed one. The summary reads them (analysis/Summary.cpp); the
// command line checks the names (--measure, --transform).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

#include "Result.h"
#include "Statistics.h"  // TBounds
#include "StudyMeasures.h"

// Rates are counted per this many steps.
inline constexpr double kRateSteps = 100;

enum class TMeasureKind : uint8_t { kWindowMean, kRate };

// A scale a measure is analysed on; a value the transform cannot take (the
// log of 0, the logit of 1) leaves the run out of that measure.
enum class TMeasureTransform : uint8_t { kNone, kLog, kLog1p, kLogit };

struct TSeriesMeasure {
  TStudyMeasure study;  // its name, "log1p(trip_rate)", and words, on its scale
  QString base;         // its name on the raw scale: a series column's, or a rate's
  TMeasureKind kind = TMeasureKind::kWindowMean;
  QString column;  // the column averaged, or the cumulative column a rate grows from
  TMeasureTransform transform = TMeasureTransform::kNone;
  TBounds bounds;  // the values it can take, on its scale
  // A raw value on the measure's scale; nothing outside the transform's domain.
  std::optional<double> Scaled(double raw) const;
};

// The four measures of a study that names none (kDefaultStudyMeasures).
std::vector<TSeriesMeasure> DefaultSeriesMeasures();

// The measures `names` choose (each "NAME" or "FN(NAME)", or a comma list of
// them; none: the default four), with `transforms` ("NAME=FN") applied to
// the named ones; refuses an unknown name or transform in one line that
// lists the known ones. A measure named twice counts once.
TResult<std::vector<TSeriesMeasure>> ChooseSeriesMeasures(const QStringList& names, const QStringList& transforms);

// The names --measure takes and the transforms --transform takes, in words.
QString KnownMeasureNames();
QString KnownTransformNames();
