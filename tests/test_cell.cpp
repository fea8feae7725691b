// TCell::Draw read back as pixels of a canvas over a local buffer, and the
// canvas's rectangle convention the cells rely on; the grid that holds them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Canvas.h"
#include "Grid2D.h"
#include "cell_P.h"

namespace {

constexpr uint32_t kUntouched = 0xFF123456u;  // a pixel nobody drew (opaque)
constexpr TColor kUntouchedColor = 0x563412;  // the same pixel as $BBGGRR

TColor Gray(int32_t level) { return static_cast<TColor>(level) * 0x010101u; }

class CellDrawTest : public ::testing::Test {
 protected:
  static constexpr int32_t kWidth = 64;
  static constexpr int32_t kHeight = 48;

  CellDrawTest() : pixels_(kWidth * kHeight, kUntouched), canvas_(pixels_.data(), kWidth, kHeight, kWidth, false) {}

  // A cell centred at (20, 16) with half edge 3, freshly initialised; its
  // chemical, which the world keeps beside it, is kFreshChemical.
  static constexpr int32_t kFreshChemical = 10;
  static TCell FreshCell() {
    TCell cell(20, 16, 3, 0);
    cell.drawnChemical = 100;
    cell.grayLevel = 255;
    return cell;
  }

  // Every pixel of the square x1..x2-1, y1..y2-1 has colour, and the ring
  // around it is untouched.
  void ExpectSquare(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TColor color) {
    for (int32_t y = y1 - 1; y <= y2; ++y) {
      for (int32_t x = x1 - 1; x <= x2; ++x) {
        const bool inside = x >= x1 && x < x2 && y >= y1 && y < y2;
        EXPECT_EQ(canvas_.Pixel(x, y), inside ? color : kUntouchedColor) << x << "," << y;
      }
    }
  }

  int32_t CountDrawn() const {
    int32_t n = 0;
    for (uint32_t p : pixels_) n += p != kUntouched;
    return n;
  }

  std::vector<uint32_t> pixels_;
  TCanvas canvas_;
};

}  // namespace

TEST_F(CellDrawTest, FreshCellIsGray245) {
  TCell cell = FreshCell();
  cell.Draw(canvas_, kFreshChemical, 0);
  ExpectSquare(17, 13, 23, 19, 0xF5F5F5);
  EXPECT_EQ(cell.drawnChemical, 10);
  EXPECT_EQ(cell.grayLevel, 245);
  // The canvas holds both colours afterwards.
  EXPECT_EQ(canvas_.PenColor(), 0xF5F5F5u);
  EXPECT_EQ(canvas_.BrushColor(), 0xF5F5F5u);
}

TEST_F(CellDrawTest, SkipsChangesBelowFive) {
  TCell cell = FreshCell();
  cell.drawnChemical = 10;
  for (int32_t chemical : {10, 14, 6, 11}) {
    cell.Draw(canvas_, chemical, 0);
    EXPECT_EQ(CountDrawn(), 0) << chemical;
    EXPECT_EQ(cell.drawnChemical, 10) << chemical;
  }
  cell.Draw(canvas_, 15, 0);
  ExpectSquare(17, 13, 23, 19, Gray(240));
  EXPECT_EQ(cell.drawnChemical, 15);
  // Downwards by exactly five is drawn as well.
  cell.Draw(canvas_, 10, 0);
  ExpectSquare(17, 13, 23, 19, Gray(245));
  EXPECT_EQ(cell.drawnChemical, 10);
}

TEST_F(CellDrawTest, SmallChangesAccumulateUntilDrawn) {
  TCell cell = FreshCell();
  cell.drawnChemical = 10;
  for (int32_t step = 1; step <= 4; ++step) {
    cell.Draw(canvas_, 10 + step, 0);
    EXPECT_EQ(CountDrawn(), 0);
  }
  cell.Draw(canvas_, 15, 0);
  EXPECT_EQ(cell.drawnChemical, 15);
  EXPECT_EQ(canvas_.Pixel(20, 16), Gray(240));
}

struct ShadeCase {
  int32_t chemical;
  int32_t threshold;
  TColor color;
  int32_t grayLevel;
};

class CellShadeTest : public CellDrawTest, public ::testing::WithParamInterface<ShadeCase> {};

TEST_P(CellShadeTest, ShownAmountAboveThresholdOnly) {
  const ShadeCase& c = GetParam();
  TCell cell = FreshCell();
  cell.drawnChemical = c.chemical + 50;
  cell.Draw(canvas_, c.chemical, c.threshold);
  ExpectSquare(17, 13, 23, 19, c.color);
  EXPECT_EQ(cell.grayLevel, c.grayLevel);
  EXPECT_EQ(cell.drawnChemical, c.chemical);
}

INSTANTIATE_TEST_SUITE_P(Cell, CellShadeTest,
                         ::testing::Values(ShadeCase{100, 100, 0xFFFFFF, 255}, ShadeCase{101, 100, 0x9A9A9A, 154},
                                           ShadeCase{255, 0, 0x000000, 0}, ShadeCase{255, 254, 0x000000, 0},
                                           ShadeCase{255, 255, 0xFFFFFF, 255}, ShadeCase{256, 100, 0x000000, 0},
                                           ShadeCase{100000, 100, 0x000000, 0}, ShadeCase{1, 0, 0xFEFEFE, 254},
                                           ShadeCase{5, 0, 0xFAFAFA, 250}, ShadeCase{5, 100, 0xFFFFFF, 255},
                                           ShadeCase{250, 100, 0x050505, 5}, ShadeCase{50, -1, 0xCDCDCD, 205}));

TEST_F(CellDrawTest, HomeIsRedTargetIsGreenHomeWins) {
  struct FlagCase {
    bool home, target;
    TColor color;
  };
  for (const FlagCase& c :
       {FlagCase{true, false, 0x0000FF}, FlagCase{false, true, 0x008000}, FlagCase{true, true, 0x0000FF}}) {
    for (int32_t chemical : {10, 255}) {
      TCell cell = FreshCell();
      cell.isHome = c.home;
      cell.isTarget = c.target;
      cell.Draw(canvas_, chemical, 0);
      ExpectSquare(17, 13, 23, 19, c.color);
      EXPECT_EQ(cell.drawnChemical, chemical);
    }
  }
  // The colour lands in the pixel as opaque red, ARGB 0xFFFF0000.
  EXPECT_EQ(pixels_[16 * kWidth + 20], 0xFFFF0000u);
}

TEST_F(CellDrawTest, SettingAFlagDoesNotRedrawByItself) {
  TCell cell = FreshCell();
  cell.Draw(canvas_, kFreshChemical, 0);
  cell.isTarget = true;
  cell.Draw(canvas_, 13, 0);
  EXPECT_EQ(canvas_.Pixel(20, 16), Gray(245));
  cell.Draw(canvas_, 5, 0);
  EXPECT_EQ(canvas_.Pixel(20, 16), 0x008000u);
}

TEST_F(CellDrawTest, PaintSkipsTheSkipTest) {
  TCell cell = FreshCell();
  cell.drawnChemical = 10;
  cell.isHome = true;
  cell.Paint(canvas_, kFreshChemical, 0);
  ExpectSquare(17, 13, 23, 19, 0x0000FF);
  EXPECT_EQ(cell.drawnChemical, 10);
}

TEST_F(CellDrawTest, SizeZeroDrawsNothing) {
  TCell cell(20, 16, 0, 0);
  cell.drawnChemical = 10;
  cell.Draw(canvas_, 255, 0);
  EXPECT_EQ(CountDrawn(), 0);
  EXPECT_EQ(cell.drawnChemical, 255);  // the drawing still counts as made
}

TEST_F(CellDrawTest, SquareIsTwiceSizeWideFromTheFirstCorner) {
  for (int32_t size : {1, 2, 4, 5}) {
    std::fill(pixels_.begin(), pixels_.end(), kUntouched);
    TCell cell(30, 20, size, 0);
    cell.drawnChemical = 0;
    cell.Draw(canvas_, 255, 0);
    ExpectSquare(30 - size, 20 - size, 30 + size, 20 + size, 0x000000);
    EXPECT_EQ(CountDrawn(), 4 * size * size) << size;
  }
}

TEST_F(CellDrawTest, CellsCutOffAtTheCanvasEdge) {
  TCell cell(kWidth - 1, kHeight - 1, 3, 0);
  cell.drawnChemical = 0;
  cell.Draw(canvas_, 255, 0);
  EXPECT_EQ(CountDrawn(), 16);  // x, y in 60..63 and 44..47
  EXPECT_EQ(canvas_.Pixel(kWidth - 1, kHeight - 1), 0x000000u);
  TCell corner(0, 0, 3, 0);
  corner.drawnChemical = 0;
  corner.Draw(canvas_, 255, 0);
  EXPECT_EQ(CountDrawn(), 25);
}

// ---------------------------------------------------------------------------
// Canvas rectangle convention

TEST_F(CellDrawTest, RectangleFirstCornerInsideSecondOutside) {
  canvas_.SetPenColor(clRed);
  canvas_.SetBrushColor(clGreen);
  canvas_.Rectangle(2, 3, 7, 9);
  for (int32_t y = 2; y <= 9; ++y) {
    for (int32_t x = 1; x <= 7; ++x) {
      TColor expected = kUntouchedColor;
      if (x >= 2 && x < 7 && y >= 3 && y < 9) {
        const bool outline = x == 2 || x == 6 || y == 3 || y == 8;
        expected = outline ? clRed : clGreen;
      }
      EXPECT_EQ(canvas_.Pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(CellDrawTest, RectangleCornersInAnyOrderAndEmpty) {
  canvas_.SetPenColor(clBlack);
  canvas_.SetBrushColor(clBlack);
  canvas_.Rectangle(7, 9, 2, 3);  // swapped corners: the same square
  ExpectSquare(2, 3, 7, 9, clBlack);
  std::fill(pixels_.begin(), pixels_.end(), kUntouched);
  canvas_.Rectangle(5, 5, 5, 9);
  canvas_.Rectangle(5, 5, 9, 5);
  canvas_.Rectangle(5, 5, 5, 5);
  EXPECT_EQ(CountDrawn(), 0);
}

TEST(Canvas, WhiteIsTransparentOnATransparentLayer) {
  std::vector<uint32_t> pixels(8 * 8, kUntouched);
  TCanvas canvas(pixels.data(), 8, 8, 8, true);
  canvas.SetPenColor(clWhite);
  canvas.SetBrushColor(clWhite);
  canvas.Rectangle(0, 0, 8, 8);
  for (uint32_t p : pixels) EXPECT_EQ(p >> 24, 0u);
  EXPECT_EQ(canvas.Pixel(3, 3), clWhite);
  canvas.SetBrushColor(clRed);
  canvas.SetPenColor(clRed);
  canvas.Rectangle(1, 1, 2, 2);
  EXPECT_EQ(pixels[1 * 8 + 1], 0xFFFF0000u);
  EXPECT_EQ(canvas.Pixel(1, 1), clRed);
}

// Clear leaves every pixel in its colour however much was drawn since the last
// one, also once the drawings outgrow the boxes it keeps track of.
TEST(Canvas, ClearRestoresEveryPixelAfterAnyDrawing) {
  std::vector<uint32_t> pixels(40 * 30, kUntouched);
  TCanvas canvas(pixels.data(), 40, 30, 40, true);
  canvas.SetPenColor(clGray);
  canvas.SetBrushColor(clRed);
  canvas.Clear(clRed);
  for (const TColor colour : {clWhite, clWhite, clWhite, clBlack, clBlack}) {
    for (int32_t shapes : {1, 5, 200}) {
      for (int32_t k = 0; k < shapes; ++k) {
        canvas.Ellipse(k % 37 - 2, k % 23, k % 37 + 4, k % 23 + 5);
        canvas.MoveTo(k % 40, 0);
        canvas.LineTo(39 - k % 40, 29);
      }
      canvas.Rectangle(-5, 10, 60, 12);
      canvas.Clear(colour);
      for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 40; ++x)
          ASSERT_EQ(canvas.Pixel(x, y), colour) << shapes << " shapes, " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(canvas.PenColor(), clGray) << "Clear changes no drawing colour";
  EXPECT_EQ(canvas.BrushColor(), clRed);
}

// ---------------------------------------------------------------------------
// Neighbouring squares of a grid row, drawn in grid order (left to right)

struct GridCase {
  int32_t cellSize;
  int32_t halfCell;
};

class CellRowTest : public CellDrawTest, public ::testing::WithParamInterface<GridCase> {};

TEST_P(CellRowTest, OddSizesOverlapOrLeaveAGap) {
  const int32_t s = GetParam().cellSize;
  const int32_t h = GetParam().halfCell;
  const TColor colours[] = {Gray(10), Gray(20), Gray(30)};
  for (int32_t column = 0; column < 3; ++column) {
    TCell cell(column * s + h, h, h, 0);
    cell.drawnChemical = 0;
    cell.Draw(canvas_, 255 - (10 + 10 * column), 0);  // gray 10, 20, 30
  }
  for (int32_t column = 0; column < 3; ++column) {
    // The square of column c covers c*s .. c*s + 2h - 1.
    const int32_t first = column * s;
    const int32_t last = column * s + 2 * h - 1;
    for (int32_t x = first; x <= last; ++x) {
      const bool coveredByNext = column < 2 && x >= (column + 1) * s;
      EXPECT_EQ(canvas_.Pixel(x, 0), coveredByNext ? colours[column + 1] : colours[column]) << s << ": " << x;
    }
    if (2 * h < s) EXPECT_EQ(canvas_.Pixel(first + 2 * h, 0), kUntouchedColor) << "gap at " << s;
  }
}

INSTANTIATE_TEST_SUITE_P(Cell, CellRowTest,
                         ::testing::Values(GridCase{2, 1}, GridCase{3, 2}, GridCase{4, 2}, GridCase{5, 2},
                                           GridCase{6, 3}, GridCase{7, 4}, GridCase{9, 4}, GridCase{10, 5}));

// ---------------------------------------------------------------------------
// The grid of cells: a small grid, and one past 2 MiB that lies on huge pages.

class GridTest : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(GridTest, FreshCellsRowAfterRowAndReleasedByClear) {
  const auto [cols, rows] = GetParam();
  Grid2D<TCell> grid;
  for (int round = 0; round < 2; ++round) {  // a second Resize starts afresh
    grid.Resize(cols, rows);
    ASSERT_EQ(grid.end() - grid.begin(), static_cast<ptrdiff_t>(cols) * rows);
    for (const TCell& cell : grid) ASSERT_EQ(cell.lastAgent, 0);
    grid[cols - 1][rows - 1].lastAgent = 7;
    grid[1][0].lastAgent = 5;
    EXPECT_EQ(grid.begin()[static_cast<ptrdiff_t>(rows - 1) * cols + cols - 1].lastAgent, 7);
    EXPECT_EQ(grid.begin()[1].lastAgent, 5);
  }
  grid.Clear();
  EXPECT_TRUE(grid.Empty());
  EXPECT_EQ(grid.begin(), grid.end());
}

INSTANTIATE_TEST_SUITE_P(SmallAndHugePage, GridTest, ::testing::Values(std::make_pair(3, 2), std::make_pair(404, 404)));
