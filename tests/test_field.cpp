// Field dynamics on a real main window: initialisation, target area,
// evaporation, diffusion, the cell layer redraw and painting with the mouse.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Calcer.h"
#include "CellForm.h"
#include "Dialogs.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

constexpr TColor kGray245 = 0xF5F5F5;

TColor Gray(int32_t level) { return static_cast<TColor>(level) * 0x010101u; }

// A QImage pixel as $BBGGRR.
TColor ColorOf(QRgb rgb) {
  return static_cast<TColor>(qRed(rgb)) | (static_cast<TColor>(qGreen(rgb)) << 8) |
         (static_cast<TColor>(qBlue(rgb)) << 16);
}

class FieldTest : public agents_test::WindowFixture {
 protected:
  FieldTest() : WindowFixture(8675309u) {}
  void TearDown() override {
    EXPECT_TRUE(messages.empty()) << messages.front();
    WindowFixture::TearDown();
  }

  // A new world with the given cell size and number of agents.
  void World(int32_t size, int32_t count) {
    SetGeneratorStartState();  // home points independent of earlier tests
    form->Edit_size->setText(QString::number(size));
    form->Edit_anzAg->setText(QString::number(count));
    form->B_setupClick();
    ASSERT_TRUE(form->WorldExists());
  }

  TCell& Cell(int32_t column, int32_t row) { return form->cells[column][row]; }
  int32_t& Chemical(int32_t column, int32_t row) { return form->chemical[column][row]; }

  void Fill(int32_t value) {
    for (int32_t& amount : form->chemical) amount = value;
  }

  std::vector<int32_t> Chemicals() {
    std::vector<int32_t> out;
    for (int32_t amount : form->chemical) out.push_back(amount);
    return out;
  }

  int32_t MinChemical() {
    int32_t m = INT32_MAX;
    for (int32_t amount : form->chemical) m = std::min(m, amount);
    return m;
  }

  // Colour of the cell's centre pixel on the cell layer.
  TColor Shown(int32_t column, int32_t row) {
    return cellLayer->Canvas().Pixel(column * cellSize + halfCell, row * cellSize + halfCell);
  }

  // Moving a scroll bar rewrites its caption, which the passes read.
  void SetRate(int32_t position) {
    form->SB_evapo->setValue(position);
    ASSERT_EQ(form->Lbl_evapo->text().toStdString(), FloatToStr(static_cast<long double>(position) / 100));
  }
  void SetThreshold(int32_t position) {
    form->SB_visible->setValue(position);
    ASSERT_EQ(form->Lbl_visible->text().toStdString(), IntToStr(position));
  }

  void LeftPaint(int32_t x, int32_t y) {
    form->ZeichenPanelMouseDown(TMouseButton::mbLeft, x, y);
    form->ZeichenPanelMouseMove(x, y);
    form->ZeichenPanelMouseUp(TMouseButton::mbLeft, x, y);
  }
  void RightPaint(int32_t x, int32_t y) {
    form->ZeichenPanelMouseDown(TMouseButton::mbRight, x, y);
    form->ZeichenPanelMouseMove(x, y);
    form->ZeichenPanelMouseUp(TMouseButton::mbRight, x, y);
  }

  // The home points of the ten colonies, read from the agents of a populated world.
  std::vector<TGridPoint> Homes() {
    std::vector<TGridPoint> homes;
    for (int32_t k = 0; k < 10; ++k) homes.emplace_back(form->agents[k].homeX, form->agents[k].homeY);
    return homes;
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// After setup and after the first step

TEST_F(FieldTest, SetupGivesTenEverywhereGrayAndRedHomes) {
  const std::vector<TGridPoint> homes = Homes();
  const TCanvas& canvas = cellLayer->Canvas();
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& cell = Cell(column, row);
      ASSERT_EQ(Chemical(column, row), 10);
      ASSERT_EQ(cell.drawnChemical, 10);
      int32_t nearest = 10000;
      for (int32_t k = 0; k < 10; ++k) {
        const int32_t d = GridDistance(column, row, homes[k].first, homes[k].second);
        ASSERT_EQ(form->homeDistance[column][row][k], d);
        nearest = std::min(nearest, d);
      }
      ASSERT_EQ(cell.minHomeDistance, nearest);
      const bool home = std::find(homes.begin(), homes.end(), TGridPoint{column, row}) != homes.end();
      ASSERT_EQ(cell.isHome, home);
      // Every pixel of the 6 x 6 square; the target area is not green yet.
      for (int32_t y = row * 6; y < row * 6 + 6; ++y) {
        for (int32_t x = column * 6; x < column * 6 + 6; ++x) {
          ASSERT_EQ(canvas.Pixel(x, y), home ? clRed : kGray245) << column << "," << row;
        }
      }
    }
  }
  // The two pixel columns and rows beyond the 402-pixel grid stay white.
  for (int32_t i = 0; i < TForm1::kPanelEdge; ++i) {
    EXPECT_EQ(canvas.Pixel(402, i), clWhite);
    EXPECT_EQ(canvas.Pixel(i, 403), clWhite);
  }
}

TEST_F(FieldTest, FirstStepDrawsWhiteRedAndGreen) {
  const std::vector<TGridPoint> homes = Homes();
  form->B_oneStepClick();
  int32_t green = 0;
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& cell = Cell(column, row);
      ASSERT_EQ(Chemical(column, row), 5);  // no agent returns in the first step
      ASSERT_EQ(cell.drawnChemical, 5);
      const bool home = std::find(homes.begin(), homes.end(), TGridPoint{column, row}) != homes.end();
      const bool target = column >= 32 && column <= 36 && row >= 32 && row <= 36;
      ASSERT_EQ(cell.isTarget, target);
      const TColor expected = home ? clRed : (target ? clGreen : clWhite);
      for (int32_t y = row * 6; y < row * 6 + 6; ++y) {
        for (int32_t x = column * 6; x < column * 6 + 6; ++x) ASSERT_EQ(cellLayer->Canvas().Pixel(x, y), expected);
      }
      green += expected == clGreen;
    }
  }
  EXPECT_EQ(green, 25);
}

TEST_F(FieldTest, PanelComposesAgentsOverCells) {
  form->B_oneStepClick();
  const QImage panel = form->ZeichenPanel->grab().toImage();
  ASSERT_EQ(panel.width(), TForm1::kPanelEdge);
  ASSERT_EQ(panel.height(), TForm1::kPanelEdge);
  const QImage& cells = cellLayer->Image();
  const QImage& agentsImage = agentLayer->Image();
  int32_t agentPixels = 0;
  for (int32_t y = 0; y < TForm1::kPanelEdge; ++y) {
    for (int32_t x = 0; x < TForm1::kPanelEdge; ++x) {
      const QRgb agent = agentsImage.pixel(x, y);
      const bool transparent = qAlpha(agent) == 0;
      agentPixels += !transparent;
      const QRgb expected = transparent ? cells.pixel(x, y) : agent;
      ASSERT_EQ(ColorOf(panel.pixel(x, y)), ColorOf(expected)) << x << "," << y;
    }
  }
  EXPECT_GT(agentPixels, 0);
  // The target area and a plain cell as the screen shows them.
  EXPECT_EQ(panel.pixel(34 * 6 + 3, 34 * 6 + 3), qRgb(0, 128, 0));
  EXPECT_EQ(panel.pixel(cellLayer->Width() - 3, 1), qRgb(255, 255, 255));
}

TEST_F(FieldTest, HiddenAgentsLeaveThePanelShowingTheCellLayer) {
  form->CB_hideAgs->setChecked(true);
  form->B_oneStepClick();
  const QImage panel = form->ZeichenPanel->grab().toImage();
  const std::vector<TGridPoint> homes = Homes();
  for (const auto& [column, row] : homes) {
    EXPECT_EQ(panel.pixel(column * 6 + 3, row * 6 + 3), qRgb(255, 0, 0));
  }
  for (int32_t y = 0; y < TForm1::kPanelEdge; ++y) {
    for (int32_t x = 0; x < TForm1::kPanelEdge; ++x) {
      ASSERT_EQ(ColorOf(panel.pixel(x, y)), cellLayer->Canvas().Pixel(x, y)) << x << "," << y;
    }
  }
}

// ---------------------------------------------------------------------------
// Target area

TEST_F(FieldTest, TargetColumnsForCellSizesSixAndFive) {
  struct Case {
    int32_t size, first;
  };
  for (const Case& c : {Case{6, 32}, Case{5, 38}, Case{8, 23}, Case{3, 66}, Case{1, 200}}) {
    World(c.size, 0);
    int32_t count = 0;
    for (int32_t row = 0; row < gridRows; ++row) {
      for (int32_t column = 0; column < gridCols; ++column) {
        const bool inside = column >= c.first && column < c.first + 5 && row >= c.first && row < c.first + 5;
        EXPECT_EQ(Cell(column, row).isTarget, inside) << c.size << ": " << column << "," << row;
        if (inside) EXPECT_EQ(Chemical(column, row), 10);
        count += Cell(column, row).isTarget;
      }
    }
    EXPECT_EQ(count, 25) << c.size;
  }
}

// ---------------------------------------------------------------------------
// Evaporation

class EvaporationAmountTest : public FieldTest, public ::testing::WithParamInterface<std::pair<int32_t, int32_t>> {};

TEST_P(EvaporationAmountTest, AmountFromTheCaption) {
  const auto [position, amount] = GetParam();
  World(6, 0);
  SetRate(position);
  const std::string caption = form->Lbl_evapo->text().toStdString();
  EXPECT_EQ(caption, FloatToStr(static_cast<long double>(position) / 100));
  Fill(100);
  Chemical(0, 0) = amount + 2;
  Chemical(1, 0) = amount + 3;
  Chemical(2, 0) = 1;
  Chemical(3, 0) = 255;
  form->Evaporate();
  EXPECT_EQ(Chemical(0, 0), amount + 2) << caption;
  EXPECT_EQ(Chemical(1, 0), 3) << caption;
  EXPECT_EQ(Chemical(2, 0), 1) << caption;
  EXPECT_EQ(Chemical(3, 0), 255 - amount) << caption;
  EXPECT_EQ(Chemical(30, 40), 100 - amount) << caption;
}

INSTANTIATE_TEST_SUITE_P(Field, EvaporationAmountTest,
                         ::testing::Values(std::pair{0, 0}, std::pair{5, 0}, std::pair{10, 1}, std::pair{15, 2},
                                           std::pair{20, 2}, std::pair{25, 2}, std::pair{30, 3}, std::pair{35, 4},
                                           std::pair{40, 4}, std::pair{45, 4}, std::pair{50, 5}, std::pair{55, 6},
                                           std::pair{60, 6}, std::pair{65, 6}, std::pair{70, 7}, std::pair{75, 8},
                                           std::pair{80, 8}, std::pair{85, 8}, std::pair{90, 9}, std::pair{95, 10},
                                           std::pair{100, 10}));

TEST_F(FieldTest, EvaporationReadsTheCaptionNotTheScrollBar) {
  World(6, 0);
  form->Lbl_evapo->setText(QString::fromStdString(FloatToStr(35.0L / 100)));
  Fill(50);
  form->Evaporate();
  EXPECT_EQ(Chemical(5, 5), 46);
}

TEST_F(FieldTest, EvaporationWithAmountFive) {
  World(6, 0);
  Fill(5);
  Chemical(1, 1) = 8;
  Chemical(2, 2) = 7;
  Chemical(3, 3) = 255;
  form->Evaporate();
  EXPECT_EQ(Chemical(1, 1), 3);
  EXPECT_EQ(Chemical(2, 2), 7);
  EXPECT_EQ(Chemical(3, 3), 250);
  EXPECT_EQ(Chemical(4, 4), 5);
  for (int32_t expected = 245; expected >= 5; expected -= 5) {
    form->Evaporate();
    ASSERT_EQ(Chemical(3, 3), expected);
  }
  for (int32_t i = 0; i < 5; ++i) form->Evaporate();
  EXPECT_EQ(Chemical(3, 3), 5);
  EXPECT_EQ(Chemical(1, 1), 3);
  EXPECT_EQ(Chemical(2, 2), 7);
}

TEST_F(FieldTest, CheckedDiffusionStopsEvaporation) {
  World(6, 0);
  EXPECT_FALSE(form->CB_diffuse->isEnabled());
  EXPECT_FALSE(form->CB_diffuse->isChecked());
  form->CB_diffuse->setChecked(true);
  ASSERT_TRUE(form->CB_diffuse->isChecked());
  Fill(100);
  const std::vector<int32_t> before = Chemicals();
  form->Evaporate();
  EXPECT_EQ(Chemicals(), before);
}

// ---------------------------------------------------------------------------
// Diffusion

TEST_F(FieldTest, DiffusionOfOneStrongCellAtRateHalf) {
  World(6, 0);
  form->CB_diffuse->setChecked(true);
  Fill(10);
  Chemical(20, 30) = 255;
  form->B_oneStepClick();  // evaporation off, then the diffusion
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const int32_t dc = std::abs(column - 20);
      const int32_t dr = std::abs(row - 30);
      const bool neighbour = dc <= 1 && dr <= 1 && (dc + dr) > 0;
      ASSERT_EQ(Chemical(column, row), neighbour ? 20 : 5) << column << "," << row;
      ASSERT_EQ(form->diffusionBuffer[column][row], neighbour ? 325.0L : 80.0L) << column << "," << row;
    }
  }
  EXPECT_EQ(stepCount, 1);
}

TEST_F(FieldTest, DiffusionAtRateOneLeavesOne) {
  World(6, 0);
  form->CB_diffuse->setChecked(true);
  SetRate(100);
  std::mt19937 random(7);
  for (int32_t& amount : form->chemical) amount = 1 + static_cast<int32_t>(random() % 1000);
  form->Diffuse();
  for (int32_t amount : form->chemical) ASSERT_EQ(amount, 1);
}

TEST_F(FieldTest, DiffusionWrapsAroundTheCorner) {
  World(6, 0);
  Fill(10);
  Chemical(0, 0) = 255;
  form->Diffuse();
  const int32_t last = gridCols - 1;
  const std::vector<TGridPoint> lifted{{1, 0},    {0, 1},       {1, 1},    {last, 0},
                                       {0, last}, {last, last}, {last, 1}, {1, last}};
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const bool isLifted = std::find(lifted.begin(), lifted.end(), TGridPoint{column, row}) != lifted.end();
      ASSERT_EQ(Chemical(column, row), isLifted ? 20 : 5) << column << "," << row;
    }
  }
}

TEST_F(FieldTest, DiffusionFactorIsADouble) {
  World(6, 0);
  // 1 - 0.3 as a double lies below 0.7: 5 x factor rounds to 3, not to the even 4.
  SetRate(30);
  Fill(5);
  form->Diffuse();
  EXPECT_EQ(Chemical(10, 10), 3);
  // 1 - 0.1 as a double lies above 0.9: 5 x factor rounds up to 5.
  SetRate(10);
  Fill(5);
  form->Diffuse();
  EXPECT_EQ(Chemical(10, 10), 5);
  // Both roundings are ties to even: a mean of 20.5 becomes 20, times 0.5 gives 10.
  SetRate(50);
  Fill(20);
  Chemical(10, 11) = 24;  // the neighbours of (10, 10) sum to 164
  form->Diffuse();
  EXPECT_EQ(form->diffusionBuffer[10][10], 164.0L);
  EXPECT_EQ(Chemical(10, 10), 10);
}

TEST_F(FieldTest, DiffusionDoesNotRedraw) {
  World(6, 0);
  Fill(10);
  Chemical(20, 20) = 255;
  const QImage before = cellLayer->Image().copy();
  form->Diffuse();
  EXPECT_TRUE(cellLayer->Image() == before);
  form->DrawCells();
  EXPECT_EQ(Shown(5, 5), clWhite);  // 10 -> 5: drawn white under the threshold 100
}

TEST_F(FieldTest, ChemicalNeverBelowOne) {
  World(6, 0);
  std::mt19937 random(11);
  for (int32_t round = 0; round < 40; ++round) {
    SetRate(static_cast<int32_t>(random() % 101));
    form->CB_diffuse->setChecked(random() % 2 == 0);
    if (round % 10 == 0) {
      for (int32_t& amount : form->chemical) amount = 1 + static_cast<int32_t>(random() % (round % 20 == 0 ? 4 : 400));
    }
    form->Evaporate();
    ASSERT_GE(MinChemical(), 1) << round;
    form->Diffuse();
    ASSERT_GE(MinChemical(), 1) << round;
  }
}

TEST_F(FieldTest, ChemicalNeverBelowOneWhileAgentsRun) {
  World(6, 200);
  std::mt19937 random(5);
  for (int32_t step = 0; step < 120; ++step) {
    if (step % 20 == 0) {
      SetRate(static_cast<int32_t>(random() % 101));
      form->CB_diffuse->setChecked(step % 40 == 20);
    }
    form->B_oneStepClick();
    ASSERT_GE(MinChemical(), 1) << step;
  }
  EXPECT_EQ(stepCount, 120);
}

// ---------------------------------------------------------------------------
// Overflow

TEST_F(FieldTest, DepositsSaturate) {
  World(6, 0);
  TAgent agent;
  agent.searching = false;
  agent.energy = 100000;
  Chemical(3, 3) = TForm1::kMaxChemical - 10;
  form->SpendEnergy(agent, Chemical(4, 3), Chemical(3, 3));
  EXPECT_EQ(Chemical(3, 3), TForm1::kMaxChemical);
  form->SpendEnergy(agent, Chemical(4, 3), Chemical(3, 3));
  EXPECT_EQ(Chemical(3, 3), TForm1::kMaxChemical);
  Chemical(5, 5) = 100;
  form->SpendEnergy(agent, Chemical(6, 5), Chemical(5, 5));
  EXPECT_EQ(Chemical(5, 5), 150);
  // A saturated field diffuses, evaporates and draws without wrapping.
  Fill(TForm1::kMaxChemical);
  SetRate(0);
  form->Diffuse();
  EXPECT_EQ(MinChemical(), TForm1::kMaxChemical);
  SetRate(50);
  form->Evaporate();
  EXPECT_EQ(Chemical(7, 7), TForm1::kMaxChemical - 5);
  form->DrawCells();
  EXPECT_EQ(Shown(7, 7), clBlack);
}

// ---------------------------------------------------------------------------
// Painting

TEST_F(FieldTest, PaintPositionsRoundToCells) {
  World(6, 0);
  form->B_oneStepClick();  // every cell at 5
  struct Case {
    int32_t x, column;
  };
  for (const Case& c : {Case{3, 0}, Case{4, 1}, Case{9, 2}, Case{2, 0}, Case{15, 2}, Case{399, 66}, Case{0, 0}}) {
    Fill(5);
    LeftPaint(c.x, 60);
    const int32_t row = 10;
    for (int32_t column = 0; column < gridCols; ++column) {
      ASSERT_EQ(Chemical(column, row), column == c.column ? 255 : 5) << c.x;
    }
    Fill(5);
    LeftPaint(60, c.x);
    EXPECT_EQ(Chemical(10, c.column), 255) << c.x;
  }
}

TEST_F(FieldTest, PressAloneAndOtherButtonsPaintNothing) {
  World(6, 0);
  Fill(5);
  form->ZeichenPanelMouseDown(TMouseButton::mbLeft, 60, 60);
  EXPECT_TRUE(leftPainting);
  EXPECT_EQ(Chemical(10, 10), 5);
  form->ZeichenPanelMouseUp(TMouseButton::mbRight, 60, 60);  // any release ends both
  EXPECT_FALSE(leftPainting);
  form->ZeichenPanelMouseMove(60, 60);
  EXPECT_EQ(Chemical(10, 10), 5);
  form->ZeichenPanelMouseDown(TMouseButton::mbMiddle, 60, 60);
  EXPECT_FALSE(leftPainting);
  EXPECT_FALSE(rightPainting);
  form->ZeichenPanelMouseMove(60, 60);
  EXPECT_EQ(Chemical(10, 10), 5);
  // Both buttons held paint as the left one does.
  form->ZeichenPanelMouseDown(TMouseButton::mbRight, 60, 60);
  form->ZeichenPanelMouseDown(TMouseButton::mbLeft, 60, 60);
  form->ZeichenPanelMouseMove(60, 60);
  EXPECT_EQ(Chemical(10, 10), 255);
  form->ZeichenPanelMouseUp(TMouseButton::mbLeft, 60, 60);
  EXPECT_FALSE(rightPainting);
}

TEST_F(FieldTest, LeftPaintShowsAtTheNextRedraw) {
  World(6, 0);
  form->B_oneStepClick();
  LeftPaint(60, 60);
  EXPECT_EQ(Chemical(10, 10), 255);
  EXPECT_EQ(Shown(10, 10), clWhite);  // not drawn by the paint itself
  form->DrawCells();
  EXPECT_EQ(Shown(10, 10), clBlack);
  // With the threshold at 255 a painted cell shows as none.
  SetThreshold(255);
  LeftPaint(120, 60);
  form->DrawCells();
  EXPECT_EQ(Cell(20, 10).drawnChemical, 255);
  EXPECT_EQ(Shown(20, 10), clWhite);
  SetThreshold(254);
  LeftPaint(180, 60);
  form->DrawCells();
  EXPECT_EQ(Shown(30, 10), clBlack);
}

TEST_F(FieldTest, RightWipeOfASteadyCellChangesNothingOnScreen) {
  World(6, 0);
  form->B_oneStepClick();
  // A cell drawn at 5 with threshold 0 shows gray 250; wiping it to 1 is a
  // change of 4, so the cell keeps that gray.
  TCell& cell = Cell(10, 10);
  cell.drawnChemical = 100;
  cell.Draw(cellLayer->Canvas(), Chemical(10, 10), 0);
  ASSERT_EQ(Shown(10, 10), Gray(250));
  ASSERT_EQ(cell.drawnChemical, 5);
  const QImage before = cellLayer->Image().copy();
  RightPaint(60, 60);
  EXPECT_EQ(Chemical(10, 10), 1);
  EXPECT_EQ(cell.drawnChemical, 5);
  EXPECT_TRUE(cellLayer->Image() == before);
}

TEST_F(FieldTest, RightWipeOfAStrongCellDrawsGray254AtOnce) {
  World(6, 0);
  form->B_oneStepClick();
  LeftPaint(60, 60);
  form->DrawCells();
  ASSERT_EQ(Shown(10, 10), clBlack);
  RightPaint(60, 60);
  EXPECT_EQ(Chemical(10, 10), 1);
  EXPECT_EQ(Cell(10, 10).drawnChemical, 1);
  EXPECT_EQ(Shown(10, 10), Gray(254));
  const QImage panel = form->ZeichenPanel->grab().toImage();
  EXPECT_EQ(panel.pixel(63, 63), qRgb(254, 254, 254));
  for (int32_t i = 0; i < 3; ++i) form->B_oneStepClick();
  EXPECT_EQ(Chemical(10, 10), 1);
  EXPECT_EQ(Shown(10, 10), Gray(254));
}

TEST_F(FieldTest, DeactivatedCellUpdateKeepsThePicture) {
  World(6, 0);
  form->B_oneStepClick();
  LeftPaint(60, 60);
  LeftPaint(120, 120);
  form->DrawCells();
  form->Cb_cellUpdt->setChecked(true);
  const QImage before = cellLayer->Image().copy();
  LeftPaint(180, 180);
  for (int32_t i = 0; i < 3; ++i) form->B_oneStepClick();
  EXPECT_EQ(Chemical(10, 10), 240);
  EXPECT_EQ(Chemical(30, 30), 240);
  EXPECT_TRUE(cellLayer->Image() == before);
  // A wipe is drawn all the same, and only that cell changes.
  RightPaint(60, 60);
  EXPECT_EQ(Shown(10, 10), Gray(254));
  QImage expected = before.copy();
  for (int32_t y = 60; y < 66; ++y) {
    for (int32_t x = 60; x < 66; ++x) expected.setPixel(x, y, qRgb(254, 254, 254));
  }
  EXPECT_TRUE(cellLayer->Image() == expected);
  // Switched on again, the next redraw catches up.
  form->Cb_cellUpdt->setChecked(false);
  form->B_oneStepClick();
  EXPECT_EQ(Shown(30, 30), Gray(255 - 235));
}

TEST_F(FieldTest, PositionsOffTheGridTouchNoCell) {
  for (int32_t size : {6, 8, 3, 10}) {
    World(size, 0);
    Fill(5);
    const std::vector<int32_t> before = Chemicals();
    const std::vector<std::pair<int32_t, int32_t>> outside{
        {-1, 10},     {10, -1}, {-6, -6}, {-1000, 5}, {TForm1::kPanelEdge, 10}, {10, TForm1::kPanelEdge},
        {1000, 1000}, {-3, 400}};
    for (const auto& [x, y] : outside) {
      LeftPaint(x, y);
      RightPaint(x, y);
    }
    // Positions on the panel past the grid's last column.
    for (int32_t x = 0; x < TForm1::kPanelEdge; ++x) {
      if (RoundDiv(x, size) < gridCols) continue;
      LeftPaint(x, 10);
      LeftPaint(10, x);
      RightPaint(x, 10);
    }
    EXPECT_EQ(Chemicals(), before) << size;
  }
  World(6, 0);
  Fill(5);
  LeftPaint(400, 10);
  LeftPaint(10, 401);
  EXPECT_EQ(MinChemical(), 5);
  LeftPaint(399, 399);
  EXPECT_EQ(Chemical(66, 66), 255);
}

TEST_F(FieldTest, MouseDragOnThePanelPaintsBlack) {
  World(6, 0);
  form->B_oneStepClick();
  QTest::mousePress(form->ZeichenPanel, Qt::LeftButton, Qt::NoModifier, QPoint(60, 61));
  EXPECT_EQ(Chemical(10, 10), 5);  // the press paints nothing
  QTest::mouseMove(form->ZeichenPanel, QPoint(60, 61));
  QTest::mouseMove(form->ZeichenPanel, QPoint(66, 61));
  QTest::mouseMove(form->ZeichenPanel, QPoint(72, 61));
  QTest::mouseRelease(form->ZeichenPanel, Qt::LeftButton, Qt::NoModifier, QPoint(72, 61));
  EXPECT_FALSE(leftPainting);
  QTest::mouseMove(form->ZeichenPanel, QPoint(78, 61));  // after release: nothing
  for (int32_t column = 9; column <= 13; ++column) {
    EXPECT_EQ(Chemical(column, 10), column >= 10 && column <= 12 ? 255 : 5) << column;
  }
  form->DrawCells();
  const QImage panel = form->ZeichenPanel->grab().toImage();
  for (int32_t column = 10; column <= 12; ++column) {
    EXPECT_EQ(Shown(column, 10), clBlack);
    EXPECT_EQ(panel.pixel(column * 6 + 1, 61), qRgb(0, 0, 0)) << column;
  }
  EXPECT_EQ(panel.pixel(13 * 6 + 1, 61), qRgb(255, 255, 255));
  // A right drag wipes and draws at once.
  QTest::mousePress(form->ZeichenPanel, Qt::RightButton, Qt::NoModifier, QPoint(60, 61));
  QTest::mouseMove(form->ZeichenPanel, QPoint(66, 61));
  QTest::mouseRelease(form->ZeichenPanel, Qt::RightButton, Qt::NoModifier, QPoint(66, 61));
  EXPECT_EQ(Chemical(11, 10), 1);
  EXPECT_EQ(Shown(11, 10), Gray(254));
}

TEST_F(FieldTest, OddCellSizesDrawInGridOrder) {
  World(7, 0);  // halfCell 4: squares of 8 pixels on a pitch of 7
  SetThreshold(0);
  Fill(10);
  Chemical(10, 10) = 255;  // black
  Chemical(11, 10) = 60;   // gray 195, drawn after (10, 10) in the same row
  Chemical(10, 11) = 30;   // gray 225, drawn in the next row
  form->DrawCells();
  const TCanvas& canvas = cellLayer->Canvas();
  EXPECT_EQ(canvas.Pixel(76, 74), clBlack);
  EXPECT_EQ(canvas.Pixel(77, 74), Gray(195));  // the shared column belongs to the later square
  EXPECT_EQ(canvas.Pixel(74, 76), clBlack);
  EXPECT_EQ(canvas.Pixel(74, 77), Gray(225));  // the shared row as well
  World(5, 0);                                 // halfCell 2: squares of 4 pixels on a pitch of 5
  SetThreshold(0);
  Fill(255);
  form->DrawCells();
  EXPECT_EQ(cellLayer->Canvas().Pixel(50, 50), clBlack);
  EXPECT_EQ(cellLayer->Canvas().Pixel(54, 50), clWhite);  // the gap is never drawn
  EXPECT_EQ(cellLayer->Canvas().Pixel(50, 54), clWhite);
}
