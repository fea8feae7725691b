// Field dynamics: initialisation, target area, evaporation, redraw,
// diffusion and painting with the mouse.
#include <algorithm>
#include <limits>

#include "Calcer.h"
#include "CellForm.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"

namespace {

constexpr int32_t kInitialChemical = 10;
constexpr int32_t kUnsetChemical = 1;
constexpr int32_t kInitialDrawnChemical = 100;
constexpr int32_t kUnsetGray = 255;
constexpr int32_t kNoHomeDistance = 10000;
// The cell's narrowed fields hold these sentinels as they are.
static_assert(kUnsetGray <= std::numeric_limits<decltype(TCell::grayLevel)>::max());
static_assert(kNoHomeDistance <= std::numeric_limits<decltype(TCell::minHomeDistance)>::max());
constexpr int32_t kTargetRadius = 2;  // the target area is 5 x 5 cells
constexpr int32_t kEvaporationScale = 10;
constexpr int32_t kEvaporationFloor = TForm1::kEvaporationFloor;
constexpr int32_t kNeighbours = 8;
constexpr int32_t kMinChemical = 1;
constexpr int32_t kPaintedChemical = 255;

// Evaporation never takes a cell to kEvaporationFloor or below. Whether a
// cell lies above the floor follows the trails and defeats prediction, so
// the new amount is chosen without a branch: over the dense chemical grid
// the compiler does that for several cells at once.
inline int32_t Evaporated(int32_t chemical, int32_t amount) {
  return amount + kEvaporationFloor < chemical ? chemical - amount : chemical;
}

}  // namespace

void TForm1::InitField(const THomePoints& homePoints) {
  Randomize();
  TCanvas& canvas = cellLayer->Canvas();
  const TGridDistances distance(gridCols, gridRows);
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      TCell& cell = cells[column][row];
      int32_t& amount = chemical[column][row];
      cell.grayLevel = kUnsetGray;
      amount = kUnsetChemical;
      cell.drawnChemical = kInitialDrawnChemical;
      cell.isHome = false;
      cell.isTarget = false;
      cell.minHomeDistance = kNoHomeDistance;
      for (int32_t k = 0; k < kColonies; ++k) {
        const int32_t d = distance(column, row, homePoints[k].first, homePoints[k].second);
        homeDistance[column][row][k] = static_cast<int16_t>(d);
        if (d < cell.minHomeDistance) {
          cell.minHomeDistance = static_cast<int16_t>(d);
          amount = kInitialChemical;
        }
      }
      cell.Draw(canvas, amount, 0);
    }
  }
  for (const auto& [column, row] : homePoints) {
    TCell& home = cells[column][row];
    home.isHome = true;
    home.Paint(canvas, chemical[column][row], 0);
  }
}

void TForm1::MarkTarget() {
  const int32_t centerColumn = RoundDiv(gridCols, 2);
  const int32_t centerRow = RoundDiv(gridRows, 2);
  for (int32_t dr = -kTargetRadius; dr <= kTargetRadius; ++dr) {
    for (int32_t dc = -kTargetRadius; dc <= kTargetRadius; ++dc) {
      cells[centerColumn + dc][centerRow + dr].isTarget = true;
      chemical[centerColumn + dc][centerRow + dr] = kInitialChemical;
    }
  }
}

int32_t TForm1::EvaporationAmountAt(long double rate) { return Round(rate * kEvaporationScale); }

double TForm1::DiffusionFactorAt(long double rate) { return static_cast<double>(1 - rate); }

int32_t TForm1::EvaporationAmount() const { return EvaporationAmountAt(EvaporationRate()); }

void TForm1::Evaporate() {
  const int32_t amount = EvaporationAmount();
  if (DiffuseChecked()) return;  // the diffusion's factor does the decay instead
  for (int32_t& amountHere : chemical) amountHere = Evaporated(amountHere, amount);
}

void TForm1::EvaporateAndDrawCells() {
  // Drawing a cell reads that cell alone, so evaporating and drawing each
  // cell before the next gives what the two passes give, in one sweep of
  // memory. A threshold that cannot be read fails the step where DrawCells
  // would: after the evaporation.
  const int32_t amount = EvaporationAmount();
  int32_t threshold = 0;
  try {
    threshold = VisibilityThreshold();
  } catch (...) {
    for (int32_t& amountHere : chemical) amountHere = Evaporated(amountHere, amount);
    throw;
  }
  TCanvas& canvas = cellLayer->Canvas();
  int32_t* amountHere = chemical.begin();
  for (TCell& cell : cells) {  // both grids lie row after row
    *amountHere = Evaporated(*amountHere, amount);
    cell.Draw(canvas, *amountHere++, threshold);
  }
}

void TForm1::DrawCells() {
  const int32_t threshold = VisibilityThreshold();
  if (CellUpdateOff()) return;
  TCanvas& canvas = cellLayer->Canvas();
  const int32_t* amount = chemical.begin();
  for (TCell& cell : cells) cell.Draw(canvas, *amount++, threshold);  // both grids lie row after row
}

void TForm1::Diffuse() {
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) NeighbourSum(column, row);
  }
  const double factor = DiffusionFactorAt(EvaporationRate());
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      int32_t& amount = chemical[column][row];
      amount = RoundDiv(diffusionBuffer[column][row], kNeighbours);
      amount = Round(amount * static_cast<long double>(factor));
      if (amount < kMinChemical) amount = kMinChemical;
    }
  }
}

void TForm1::NeighbourSum(int32_t column, int32_t row) {
  long double& sum = diffusionBuffer[column][row];
  sum = 0;
  for (int32_t dr = -1; dr <= 1; ++dr) {
    for (int32_t dc = -1; dc <= 1; ++dc) {
      int32_t c = column + dc;
      int32_t r = row + dr;
      WrapGrid(c, r, gridCols, gridRows);
      sum += chemical[c][r];
    }
  }
  sum -= chemical[column][row];
}

// ---------------------------------------------------------------------------
// Painting with the mouse

void TForm1::ZeichenPanelMouseDown(TMouseButton button, int32_t, int32_t) {
  if (button == TMouseButton::mbLeft) leftPainting = true;
  if (button == TMouseButton::mbRight) rightPainting = true;
}

void TForm1::ZeichenPanelMouseMove(int32_t x, int32_t y) {
  if (leftPainting || rightPainting) PaintCell(x, y);
}

void TForm1::ZeichenPanelMouseUp(TMouseButton, int32_t, int32_t) {
  leftPainting = false;
  rightPainting = false;
}

void TForm1::PaintCell(int32_t x, int32_t y) {
  if (!worldExists_) return;
  // Only positions on the panel that round to a cell of the grid paint: a
  // drag past the right or bottom edge, or off the panel, touches nothing.
  if (x < 0 || y < 0 || x >= ZeichenPanel->width() || y >= ZeichenPanel->height()) return;
  const int32_t column = RoundDiv(x, cellSize);
  const int32_t row = RoundDiv(y, cellSize);
  if (column < 0 || row < 0 || column >= gridCols || row >= gridRows) return;
  int32_t& amount = chemical[column][row];
  if (leftPainting) {
    amount = kPaintedChemical;
  } else if (rightPainting) {
    amount = kMinChemical;
    cells[column][row].Draw(cellLayer->Canvas(), amount, 0);
    ZeichenPanel->update();
  }
}
