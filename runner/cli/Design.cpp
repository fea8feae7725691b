#include "Design.h"

#include <algorithm>
#include <cmath>

TDesignShape DesignShape(const TCommand& grid) {
  TDesignShape shape;
  const auto specs = SettingSpecs();
  const TDesignOptions& design = grid.design;
  if (!design.kind.isEmpty()) {
    shape.kind = design.kind;
    shape.design = FindDesignKind(design.kind);
    for (const TFactorRange& range : design.ranges) shape.factors << QLatin1String(specs[range.setting].option);
    shape.indices = design.samples;
    // --design takes only the kinds that draw their points (Options.cpp).
    if (shape.design && shape.design->pointCount)
      shape.points = shape.design->pointCount(design.samples, shape.factors.size());
  } else if (grid.vary.size() >= 2) {
    shape.design = &VaryDesignKind();
    shape.kind = QLatin1String(shape.design->name);
    shape.indices = 1;
    for (const TVary& vary : grid.vary) {
      shape.factors << QLatin1String(specs[vary.setting].option);
      // Counted no further than a job list can hold, so that it cannot overflow.
      shape.indices = std::min<qint64>(shape.indices * vary.values.size(), kMaxJobLines + 1);
    }
    shape.points = shape.indices;
  }
  return shape;
}

int32_t SnapToControl(const TFactorRange& range, double x) {
  const int64_t values = int64_t{range.hi} - range.lo + 1;
  const auto cell = static_cast<int64_t>(std::floor(x * static_cast<double>(values)));
  return static_cast<int32_t>(range.lo + std::clamp<int64_t>(cell, 0, values - 1));
}
