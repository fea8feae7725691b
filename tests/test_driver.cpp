// The simulation driver on a real main window: geometry, the first world's
// home points, run/stop/step/setup transitions and refused setups.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Dialogs.h"
#include "Panel.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

class DriverTest : public agents_test::WindowFixture {
 protected:
  DriverTest() : WindowFixture(20240601u) {}

  // Sets the setup fields without raising their change handlers, then "new Setup".
  void Setup(const QString& size, const QString& count) {
    form->Edit_size->blockSignals(true);
    form->Edit_size->setText(size);
    form->Edit_size->blockSignals(false);
    form->Edit_anzAg->setText(count);
    form->B_setupClick();
  }

  std::string Steps() const { return form->lbl_Steps->text().toStdString(); }
};

// Everything of a world that a refused setup must leave alone.
struct WorldSnapshot {
  explicit WorldSnapshot(TForm1& form)
      : cellSizeValue(cellSize),
        cols(gridCols),
        rows(gridRows),
        steps(stepCount),
        timer(form.Timer1->isActive()),
        stepsCaption(form.lbl_Steps->text()),
        layer(cellLayer.get()),
        picture(cellLayer ? cellLayer->Image().copy() : QImage()),
        colonies(form.colonyMembers) {
    for (const TAgent& a : form.agents) {
      agents.push_back({a.cellX, a.cellY, a.heading, a.energy, a.colony, a.angleGene, a.wiggleGene, a.homeX, a.homeY});
      chromas.push_back(a.chroma);
    }
    const int32_t* amount = form.chemical.begin();
    for (TCell& c : form.cells) chemicals.push_back({*amount++, c.drawnChemical, c.isHome, c.isTarget});
  }

  bool operator==(const WorldSnapshot&) const = default;

  int32_t cellSizeValue, cols, rows, steps;
  bool timer;
  QString stepsCaption;
  const TRasterLayer* layer;
  QImage picture;
  std::array<std::vector<int32_t>, TForm1::kColonies> colonies;
  std::vector<std::array<int32_t, 9>> agents;
  std::vector<std::string> chromas;
  std::vector<std::array<int32_t, 4>> chemicals;
};

}  // namespace

// ---------------------------------------------------------------------------
// Geometry for every cell size

struct GeometryCase {
  int32_t cellSize;
  int32_t grid;
  int32_t half;
};

class GeometryTest : public DriverTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(GeometryTest, GridAndCellPositions) {
  const GeometryCase& g = GetParam();
  Setup(QString::number(g.cellSize), "10");
  ASSERT_TRUE(messages.empty());
  EXPECT_EQ(cellSize, g.cellSize);
  EXPECT_EQ(gridCols, g.grid);
  EXPECT_EQ(gridRows, g.grid);
  EXPECT_EQ(halfCell, g.half);
  // Cell positions, array and layer sizes, homes, target and agents.
  EXPECT_EQ(world_invariants::CheckWorld(*form), "");
  for (const long double share : form->diffusionBuffer) ASSERT_EQ(share, 0.0L);
}

INSTANTIATE_TEST_SUITE_P(Driver, GeometryTest,
                         ::testing::Values(GeometryCase{1, 404, 0}, GeometryCase{2, 202, 1}, GeometryCase{3, 135, 2},
                                           GeometryCase{4, 101, 2}, GeometryCase{5, 81, 2}, GeometryCase{6, 67, 3},
                                           GeometryCase{7, 58, 4}, GeometryCase{8, 50, 4}, GeometryCase{9, 45, 4},
                                           GeometryCase{10, 40, 5}));

// ---------------------------------------------------------------------------
// The first world after program start

TEST_F(DriverTest, FirstWorldHasTheFixedHomePoints) {
  const auto& homes = agents_test::kFirstHomes;
  ASSERT_EQ(gridCols, agents_test::kFirstGrid);
  int32_t homeCells = 0;
  for (TCell& cell : form->cells) homeCells += cell.isHome;
  EXPECT_EQ(homeCells, 10);
  for (const auto& [column, row] : homes) {
    EXPECT_TRUE(form->cells[column][row].isHome) << column << "," << row;
    // The whole 6 x 6 square is red on the cell layer.
    for (int32_t y = row * 6; y < row * 6 + 6; ++y) {
      for (int32_t x = column * 6; x < column * 6 + 6; ++x) {
        ASSERT_EQ(cellLayer->Canvas().Pixel(x, y), clRed) << column << "," << row << " at " << x << "," << y;
      }
    }
    // Right of and below the square the gray of the plain cells.
    EXPECT_NE(cellLayer->Canvas().Pixel(column * 6 + 6, row * 6 + 2), clRed);
  }
  // Colony k lives at home point k.
  ASSERT_EQ(form->agents.size(), 200u);
  for (size_t i = 0; i < form->agents.size(); ++i) {
    const TAgent& agent = form->agents[i];
    EXPECT_EQ(agent.colony, static_cast<int32_t>(i % 10));
    EXPECT_EQ(agent.homeX, homes[i % 10].first) << i;
    EXPECT_EQ(agent.homeY, homes[i % 10].second) << i;
  }
}

// ---------------------------------------------------------------------------
// Run, stop, one step, new setup

TEST_F(DriverTest, RunsFromCreationWithAOneMillisecondTimer) {
  EXPECT_TRUE(timerRanAtCreation);
  EXPECT_EQ(form->Timer1->interval(), 1);
  EXPECT_EQ(form->Timer1->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(Steps(), "lbl_Steps");
  EXPECT_EQ(stepCount, 0);
}

TEST_F(DriverTest, FirstWorldReadsTheDefaultSettings) {
  EXPECT_EQ(form->Edit_size->text(), "6");
  EXPECT_EQ(form->Edit_anzAg->text(), "200");
  EXPECT_EQ(cellSize, 6);
  EXPECT_EQ(form->agents.size(), 200u);
  EXPECT_EQ(form->Lbl_mutate->text(), "0.01 %");
  EXPECT_EQ(form->Lbl_strenght->text(), "50");
  EXPECT_EQ(form->Lbl_evapo->text(), "0.5");
  EXPECT_EQ(form->Lbl_sniff->text(), "15");
  EXPECT_EQ(form->Lbl_visible->text(), "100");
  EXPECT_FALSE(leftPainting);
  EXPECT_FALSE(rightPainting);
  EXPECT_TRUE(form->WorldExists());
}

TEST_F(DriverTest, StartStopTogglesAndTwiceReturns) {
  form->B_stopClick();
  EXPECT_TRUE(form->Timer1->isActive());
  form->B_stopClick();
  EXPECT_FALSE(form->Timer1->isActive());
  form->B_stopClick();
  form->B_stopClick();
  EXPECT_FALSE(form->Timer1->isActive());
  form->B_stopClick();
  form->B_stopClick();
  form->B_stopClick();
  EXPECT_TRUE(form->Timer1->isActive());
  form->Timer1->stop();
}

TEST_F(DriverTest, TicksStepWhileRunningAndNotWhileStopped) {
  form->B_stopClick();
  QElapsedTimer clock;
  clock.start();
  while (stepCount < 3 && clock.elapsed() < 3000) QTest::qWait(5);
  EXPECT_GE(stepCount, 3);
  form->B_stopClick();
  const int32_t stopped = stepCount;
  EXPECT_EQ(Steps(), IntToStr(stopped));
  QTest::qWait(30);
  EXPECT_EQ(stepCount, stopped);
}

TEST_F(DriverTest, OneStepWhileStoppedAdvancesByOne) {
  EXPECT_EQ(Steps(), "lbl_Steps");
  for (int32_t n = 1; n <= 3; ++n) {
    form->B_oneStepClick();
    EXPECT_EQ(stepCount, n);
    EXPECT_EQ(Steps(), IntToStr(n));
    EXPECT_FALSE(form->Timer1->isActive());
  }
  form->Timer1Timer();
  EXPECT_EQ(stepCount, 4);
}

TEST_F(DriverTest, OneStepWhileRunningAddsAStep) {
  form->Timer1->start();
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 1);
  EXPECT_TRUE(form->Timer1->isActive());
  form->Timer1->stop();
}

TEST_F(DriverTest, NewSetupKeepsTheTimerAndResetsTheCount) {
  for (bool running : {false, true}) {
    running ? form->Timer1->start() : form->Timer1->stop();
    form->B_oneStepClick();
    form->B_oneStepClick();
    const std::string shown = Steps();
    form->B_setupClick();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(form->Timer1->isActive(), running);
    EXPECT_EQ(stepCount, 0);
    EXPECT_EQ(Steps(), shown);  // the old count stays until the next step
    EXPECT_FALSE(leftPainting);
    EXPECT_FALSE(rightPainting);
    form->B_oneStepClick();
    EXPECT_EQ(Steps(), "1");
  }
  form->Timer1->stop();
}

TEST_F(DriverTest, NewSetupClearsThePaintingFlags) {
  leftPainting = true;
  rightPainting = true;
  form->B_setupClick();
  EXPECT_FALSE(leftPainting);
  EXPECT_FALSE(rightPainting);
}

// ---------------------------------------------------------------------------
// Refused setups leave the old world as it was

class RefusedSetupTest : public DriverTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedSetupTest, BadTextsAndTooManyAgents) {
  const bool running = GetParam();
  form->B_oneStepClick();
  form->B_oneStepClick();
  form->B_oneStepClick();
  running ? form->Timer1->start() : form->Timer1->stop();
  const WorldSnapshot before(*form);

  struct Refusal {
    QString size, count;
    std::string message;  // empty: any text
  };
  const std::vector<Refusal> refusals{
      {"6", "abc", "'abc' is not a valid integer value"},
      {"6", "", "'' is not a valid integer value"},
      {"6", "12.5", "'12.5' is not a valid integer value"},
      {"6", "99999999999", "'99999999999' is not a valid integer value"},
      {"x6", "200", "'x6' is not a valid integer value"},
      {"", "200", "'' is not a valid integer value"},
      {"6", "1000001", ""},
      {"6", "2147483647", ""},
      {"11", "200", ""},
      {"0", "200", ""},
      {"-3", "200", ""},
  };
  for (const Refusal& r : refusals) {
    messages.clear();
    Setup(r.size, r.count);
    ASSERT_EQ(messages.size(), 1u) << r.size.toStdString() << " / " << r.count.toStdString();
    if (!r.message.empty()) EXPECT_EQ(messages[0], r.message);
    EXPECT_FALSE(messages[0].empty());
    EXPECT_TRUE(WorldSnapshot(*form) == before) << r.size.toStdString() << " / " << r.count.toStdString();
    EXPECT_TRUE(form->WorldExists());
  }
  // The old world still steps.
  form->Timer1->stop();
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 4);
}

INSTANTIATE_TEST_SUITE_P(Driver, RefusedSetupTest, ::testing::Values(false, true));

TEST_F(DriverTest, TypingABadCellSizeReportsItOnce) {
  form->Edit_size->setText("6a");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "'6a' is not a valid integer value");
  form->Edit_size->setText("");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1], "'' is not a valid integer value");
}

TEST_F(DriverTest, BlanksAroundTheAgentCountAreAccepted) {
  Setup("6", " 12 ");
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(form->agents.size(), 12u);
}

// ---------------------------------------------------------------------------
// Agent counts

TEST_F(DriverTest, ZeroOrNegativeAgentsGiveAnEmptyWorldThatSteps) {
  for (const char* count : {"0", "-5"}) {
    Setup("6", count);
    EXPECT_TRUE(messages.empty()) << count;
    EXPECT_TRUE(form->agents.empty());
    EXPECT_EQ(form->colonyMembers.size(), 10u);
    for (const auto& members : form->colonyMembers) EXPECT_TRUE(members.empty());
    int32_t homes = 0;
    int32_t targets = 0;
    for (TCell& cell : form->cells) {
      homes += cell.isHome;
      targets += cell.isTarget;
    }
    EXPECT_GE(homes, 1);
    EXPECT_LE(homes, 10);
    EXPECT_EQ(targets, 25);
    for (int32_t n = 1; n <= 101; ++n) form->B_oneStepClick();
    EXPECT_EQ(stepCount, 101);
    EXPECT_EQ(Steps(), "101");
  }
}

TEST_F(DriverTest, FewerAgentsLeaveNoOldColonyMembers) {
  ASSERT_EQ(form->colonyMembers[0].size(), 20u);
  Setup("6", "15");
  ASSERT_EQ(form->agents.size(), 15u);
  for (int32_t c = 0; c < 10; ++c) {
    std::vector<int32_t> expected{c};
    if (c < 5) expected.push_back(c + 10);
    EXPECT_EQ(form->colonyMembers[c], expected) << c;
  }
  Setup("6", "3");
  for (int32_t c = 0; c < 10; ++c) {
    EXPECT_EQ(form->colonyMembers[c], c < 3 ? std::vector<int32_t>{c} : std::vector<int32_t>{}) << c;
  }
}

// ---------------------------------------------------------------------------
// No step without a world, inside a message box, or from a failed read

TEST_F(DriverTest, NoStepRunsOnATornDownWorld) {
  form->B_oneStepClick();
  form->ClearWorld();
  EXPECT_FALSE(form->WorldExists());
  EXPECT_EQ(cellLayer, nullptr);
  EXPECT_EQ(agentLayer, nullptr);
  EXPECT_TRUE(form->cells.Empty());
  EXPECT_TRUE(form->agents.empty());
  EXPECT_EQ(stepCount, 0);
  form->DoStep();
  form->B_oneStepClick();
  form->Timer1Timer();
  EXPECT_EQ(stepCount, 0);
  EXPECT_EQ(Steps(), "1");
  // Painting on the panel reaches nothing either.
  form->ZeichenPanelMouseDown(TMouseButton::mbLeft, 10, 10);
  form->ZeichenPanelMouseMove(10, 10);
  form->ZeichenPanelMouseUp(TMouseButton::mbLeft, 10, 10);
  EXPECT_TRUE(messages.empty());
  // A new setup brings the world back.
  form->SetupWorld();
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 1);
}

TEST_F(DriverTest, TimerTicksAfterTeardownRunNothing) {
  form->ClearWorld();
  form->Timer1->start();
  QTest::qWait(20);
  EXPECT_EQ(stepCount, 0);
  EXPECT_EQ(Steps(), "lbl_Steps");
  form->Timer1->stop();
}

TEST_F(DriverTest, NoStepWhileAMessageBoxIsOpen) {
  SetMessageSink({});  // a real modal box
  bool sawOpen = false;
  int32_t stepsInsideBox = -1;
  bool closed = false;
  std::function<void()> probe = [&] {
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* candidate = qobject_cast<QMessageBox*>(w); candidate && candidate->isVisible()) box = candidate;
    }
    if (!box) {
      QTimer::singleShot(5, probe);
      return;
    }
    sawOpen = MessageBoxOpen();
    form->DoStep();
    form->B_oneStepClick();
    form->Timer1Timer();
    stepsInsideBox = stepCount;
    closed = true;
    box->done(0);
  };
  QTimer::singleShot(0, probe);
  form->B_oneStepClick();
  ASSERT_EQ(stepCount, 1);
  ShowMessage("a step must wait");
  EXPECT_TRUE(closed);
  EXPECT_TRUE(sawOpen);
  EXPECT_EQ(stepsInsideBox, 1);
  EXPECT_FALSE(MessageBoxOpen());
  form->B_oneStepClick();
  EXPECT_EQ(stepCount, 2);
}

TEST_F(DriverTest, AFailedReadEndsTheStepAndIsReported) {
  form->B_oneStepClick();
  std::vector<int32_t> chemicals;
  for (int32_t amount : form->chemical) chemicals.push_back(amount);
  form->Lbl_evapo->setText("x");
  form->DoStep();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "'x' is not a valid floating point value");
  EXPECT_EQ(stepCount, 1);
  EXPECT_EQ(Steps(), "1");
  std::vector<int32_t> after;
  for (int32_t amount : form->chemical) after.push_back(amount);
  EXPECT_EQ(after, chemicals);
  // The caption restored, the next step runs.
  form->SB_evapoChange();
  form->DoStep();
  EXPECT_EQ(stepCount, 2);
  EXPECT_EQ(Steps(), "2");

  // A fault half-way through the step (after evaporation) that every tick
  // meets is reported once, and again once after clean steps in between;
  // the failed steps leave the world consistent.
  form->Lbl_strenght->setText("oops");
  for (int i = 0; i < 200; ++i) form->Timer1Timer();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1], InvalidIntegerMessage("oops"));
  EXPECT_EQ(stepCount, 2);
  EXPECT_EQ(Steps(), "2");
  form->SB_strenghtChange();
  for (int i = 0; i < 5; ++i) form->Timer1Timer();
  EXPECT_EQ(stepCount, 7);
  form->Lbl_strenght->setText("oops");
  for (int i = 0; i < 50; ++i) form->Timer1Timer();
  EXPECT_EQ(messages.size(), 3u);
  form->SB_strenghtChange();
  EXPECT_EQ(world_invariants::CheckWorld(*form), "");
}
