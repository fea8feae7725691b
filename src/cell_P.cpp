#include "cell_P.h"

#include <algorithm>

#include "Canvas.h"

namespace {
constexpr int32_t kMaxGray = 255;
constexpr TColor kGrayStep = 0x010101;
}  // namespace

void TCell::Paint(TCanvas& canvas, int32_t chemical, int32_t visibilityThreshold) {
  const int32_t shown = chemical > visibilityThreshold ? chemical : 0;
  grayLevel = static_cast<uint8_t>(std::clamp(kMaxGray - shown, 0, kMaxGray));
  Redraw(canvas);
  drawnChemical = chemical;
}

void TCell::Redraw(TCanvas& canvas) const {
  TColor color = static_cast<TColor>(grayLevel) * kGrayStep;
  if (isHome) {
    color = clRed;
  } else if (isTarget) {
    color = clGreen;
  }
  canvas.SetPenColor(color);
  canvas.SetBrushColor(color);
  canvas.Rectangle(PositionX - Size, PositionY - Size, PositionX + Size, PositionY + Size);
}
