// TCell: one square of the toroidal grid.
#pragma once

#include <cstdint>

class TCanvas;

class TCell {
 public:
  static constexpr int32_t kColonies = 10;
  // Chemical changes smaller than this since the last drawing are not redrawn.
  static constexpr int32_t kRedrawDelta = 5;

  TCell() = default;
  TCell(int32_t positionX, int32_t positionY, int32_t size, int32_t fillColor)
      : PositionX(positionX), PositionY(positionY), Size(size), FillColor(fillColor) {}

  // Draws the cell unless its chemical moved by less than kRedrawDelta since
  // its last drawing. Chemical at or below the threshold shows as none.
  void Draw(TCanvas& canvas, int32_t visibilityThreshold) {
    const int32_t delta = chemical - drawnChemical;
    if (delta < kRedrawDelta && delta > -kRedrawDelta) return;
    Paint(canvas, visibilityThreshold);
  }
  // Draw without the skip test.
  void Paint(TCanvas& canvas, int32_t visibilityThreshold);
  // Draws the cell in the colour of its last drawing (its stored gray level,
  // or its flag colour), changing nothing: a layer rebuilt from the cells.
  void Redraw(TCanvas& canvas) const;

  void SetPositionX(int32_t v) { PositionX = v; }
  void SetPositionY(int32_t v) { PositionY = v; }
  void SetSize(int32_t v) { Size = v; }
  void SetFillColor(int32_t v) { FillColor = v; }
  void SetState(int32_t v) { State = v; }

  // The fields the passes touch every step come first, so a pass over the
  // grid reads as few cache lines as possible.
  int32_t chemical = 0;       // amount of chemical; never below 1 once initialised
  int32_t drawnChemical = 0;  // chemical at the last drawing
  bool isHome = false;        // one of the ten home points, drawn red
  bool isTarget = false;      // in the 5 x 5 target area, drawn green unless home
  int32_t grayLevel = 0;      // gray level of the last drawing, 0..255
  int32_t PositionX = 0;      // pixel centre on the cell layer
  int32_t PositionY = 0;
  int32_t Size = 0;             // half the edge of the drawn square
  int32_t lastAgent = 0;        // index of the last agent that entered; written only
  int32_t State = 0;            // knowsCenter of the last agent that entered; written only
  int32_t FillColor = 0;        // 0 from creation on; nothing reads it
  int32_t minHomeDistance = 0;  // distance to the nearest home point
  // The distance to each home point is kept by the world (homeDistance).
};
