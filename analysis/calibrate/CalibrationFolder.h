// What the methods of a calibration share in its folder: how numbers are
// written, the candidates' table, the folders it makes. Each method's own
// files are its own (Calibration.cpp, Nsga.cpp).
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>
#include <span>
#include <vector>

#include "Calibration.h"

namespace calibration {

inline constexpr qint64 kStateByteLimit = qint64{256} << 20;

// A draw in full, so that a table read back gives the very value drawn.
QString Number(double value);
// A value a run takes: a whole number of the setting's units, shown in the command line's.
QString RunNumber(double value);
// Numbers as JSON, a value that is not finite as null, and back (null: NaN).
QJsonArray Doubles(std::span<const double> values);
std::vector<double> ToDoubles(const QJsonArray& array);

// The value a table shows for a factor's coordinate: in the units the
// command line takes (a rate as a fraction).
QString ShownValue(const TCalibrationSpec& spec, size_t f, double coordinate);

// candidates.csv of a generation: each factor as drawn and as its runs
// take it, the importance weight (ABC-SMC's alone) and the runs' seeds.
QByteArray CandidatesTable(const TCalibrationSpec& spec, const std::vector<TCandidate>& candidates);

// A candidate at `coordinates`: the values its runs take and their seeds,
// of its place among its generation's candidates.
TCandidate MakeCandidate(const TCalibrationSpec& spec, std::vector<double> coordinates, int32_t generation,
                         int32_t candidate, double weight = 1);

// Makes a folder, or takes the one there; refuses a link or a file.
TStatus MakeFolder(const QString& path);

}  // namespace calibration
