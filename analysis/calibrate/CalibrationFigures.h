// The figures of a calibration: the posterior's pairs plot, the tolerance
// and acceptance of each generation, and the target beside the posterior
// predictive. Each as PNG and SVG in the calibration folder.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "Abc.h"
#include "Result.h"

struct TCalibrationPicture {
  QStringList factors;                      // option names
  std::vector<TPriorFactor> priors;         // in the units shown
  std::vector<std::vector<double>> values;  // per particle, each factor in the units shown
  std::vector<double> weights;
  std::optional<std::vector<double>> truth;  // the planted values, when known
  std::vector<double> tolerances;            // per generation
  std::vector<double> acceptances;
  QStringList measures;
  std::vector<double> target;
  std::vector<std::vector<double>> predictive;  // per predictive run, each measure (NaN: missing)
};

inline constexpr const char* kPairsName = "pairs";
inline constexpr const char* kScheduleName = "schedule";
inline constexpr const char* kPredictiveName = "predictive";

// Writes pairs.png/.svg, schedule.png/.svg and, with predictive runs,
// predictive.png/.svg into `dir`.
TStatus WriteCalibrationFigures(const QString& dir, const TCalibrationPicture& picture);

// A weighted histogram of `values` over [lo, hi] in `bins` bins (equal in
// log x when `log`), as densities that integrate to 1 over the range.
std::vector<double> WeightedHistogram(const std::vector<double>& values, const std::vector<double>& weights, double lo,
                                      double hi, bool log, int bins);
