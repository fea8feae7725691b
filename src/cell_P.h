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
      : PositionX(static_cast<int16_t>(positionX)),
        PositionY(static_cast<int16_t>(positionY)),
        Size(static_cast<int8_t>(size)),
        FillColor(static_cast<int8_t>(fillColor)) {}

  // Draws the cell, which holds `chemical` (the world keeps it in a grid of
  // its own, TForm1::chemical), unless that moved by less than kRedrawDelta
  // since its last drawing. Chemical at or below the threshold shows as none.
  void Draw(TCanvas& canvas, int32_t chemical, int32_t visibilityThreshold) {
    const int32_t delta = chemical - drawnChemical;
    if (delta < kRedrawDelta && delta > -kRedrawDelta) return;
    Paint(canvas, chemical, visibilityThreshold);
  }
  // Draw without the skip test.
  void Paint(TCanvas& canvas, int32_t chemical, int32_t visibilityThreshold);
  // Draws the cell in the colour of its last drawing (its stored gray level,
  // or its flag colour), changing nothing: a layer rebuilt from the cells.
  void Redraw(TCanvas& canvas) const;

  void SetPositionX(int32_t v) { PositionX = static_cast<int16_t>(v); }
  void SetPositionY(int32_t v) { PositionY = static_cast<int16_t>(v); }
  void SetSize(int32_t v) { Size = static_cast<int8_t>(v); }
  void SetFillColor(int32_t v) { FillColor = static_cast<int8_t>(v); }
  void SetState(int32_t v) { State = static_cast<int8_t>(v); }

  // The chemical, which every step evaporates and senses, is not here: the
  // world keeps it in a dense grid of its own (TForm1::chemical). Of the
  // rest, the fields the movement pass touches come first. Each field is as
  // wide as the values it holds, as the agent's are: pixels and home
  // distances (at most the panel's diagonal, or kNoHomeDistance = 10000) in
  // 16 bits; the gray level (0..255, 255 also before the first drawing), the
  // flags, the state, the half edge (at most 5) and the fill colour in 8. The
  // drawn chemical and the agent index (up to a million) keep 32 bits.
  int32_t drawnChemical = 0;  // chemical at the last drawing
  int32_t lastAgent = 0;      // index of the last agent that entered; written only
  bool isHome = false;        // one of the ten home points, drawn red
  bool isTarget = false;      // in the 5 x 5 target area, drawn green unless home
  int8_t State = 0;           // knowsCenter of the last agent that entered, 0 or 1; written only
  uint8_t grayLevel = 0;      // gray level of the last drawing, 0..255
  int16_t PositionX = 0;      // pixel centre on the cell layer
  int16_t PositionY = 0;
  int16_t minHomeDistance = 0;  // distance to the nearest home point
  int8_t Size = 0;              // half the edge of the drawn square
  int8_t FillColor = 0;         // 0 from creation on; nothing reads it
  // The distance to each home point is kept by the world (homeDistance).
};

// The step sweeps every cell's chemical (evaporation) and reads up to eight
// around every agent (sensing): 4 bytes a cell in the chemical's own grid.
// The rest of the cell, which a step without drawing touches only where an
// agent enters, takes 20 bytes with no padding.
static_assert(sizeof(TCell) == 20, "a cell packs its narrowed fields without gaps");
