// The figure of an NSGA-II calibration: each pair of objectives as a
// scatter, every individual evaluated in grey, the last population in blue
// and its non-dominated front in red, as front.png and front.svg.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "Result.h"

struct TFrontPicture {
  QStringList objectives;                       // their names, in order
  std::vector<std::vector<double>> evaluated;   // every candidate of every generation
  std::vector<std::vector<double>> population;  // the last population off its front
  std::vector<std::vector<double>> front;       // its non-dominated front
  int32_t generations = 0;
};

inline constexpr const char* kFrontName = "front";

TStatus WriteFrontFigure(const QString& dir, const TFrontPicture& picture);
