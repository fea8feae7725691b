// The population: creation and placement into colonies, the cost and mark of
// a move, the movement pass with its wrap, turn at the target and
// replacement of exhausted agents, and the pass's use of memory.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QScrollBar>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "Calcer.h"
#include "CellForm.h"
#include "agents_support.h"

// Counts every allocation of this program, so a test can tell whether a pass
// allocates per agent.
namespace {
std::atomic<int64_t> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

using agents_test::Advance;
using agents_test::DrawFrom;
using agents_test::MakeWorld;
using agents_test::NextSeed;
using agents_test::PutAgent;
using agents_test::RandomizeQueue;

namespace {

std::string Caption(const QLabel* label) { return label->text().toStdString(); }

// Sets mark strength and visibility threshold through their scroll bars and
// checks that the captions, from which the passes read them, carry them.
void SetRates(TForm1& form, int strength, int visibility) {
  form.SB_strenght->setValue(strength);
  form.SB_visible->setValue(visibility);
  ASSERT_EQ(Caption(form.Lbl_strenght), std::to_string(strength));
  ASSERT_EQ(Caption(form.Lbl_visible), std::to_string(visibility));
}

// Every cell of columns c1..c2 and rows r1..r2 gets `chemical`.
void FillChemical(TForm1& form, int c1, int c2, int r1, int r2, int chemical) {
  for (int column = c1; column <= c2; ++column) {
    for (int row = r1; row <= r2; ++row) form.chemical[column][row] = chemical;
  }
}

// Every neighbour of (column, row) gets `chemical`.
void SetNeighbours(TForm1& form, int column, int row, int chemical) {
  for (int dr = -1; dr <= 1; ++dr) {
    for (int dc = -1; dc <= 1; ++dc) {
      if (dr == 0 && dc == 0) continue;
      int c = column + dc;
      int r = row + dr;
      WrapGrid(c, r, gridCols, gridRows);
      form.chemical[c][r] = chemical;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Placement

TEST(Placement, TwoHundredAgentsFormTenColoniesOfTwentyOnTheirHomes) {
  auto form = MakeWorld(200, 6);
  RandomizeQueue randomize;
  randomize.seeds = {1111u, 2222u};  // InitField, then PlaceAgents
  form->B_setupClick();
  ASSERT_EQ(randomize.calls, 2);
  ASSERT_EQ(form->agents.size(), 200u);
  EXPECT_EQ(cellSize, 6);
  EXPECT_EQ(halfCell, 3);
  for (int c = 0; c < 10; ++c) {
    std::vector<int32_t> expected;
    for (int i = c; i < 200; i += 10) expected.push_back(i);
    EXPECT_EQ(form->colonyMembers[c], expected) << "colony " << c;
  }
  // Three draws per agent after the reseed: heading, angle gene, wiggle gene.
  uint32_t seed = 2222u;
  for (int i = 0; i < 200; ++i) {
    const TAgent& a = form->agents[i];
    const TAgent& first = form->agents[i % 10];
    EXPECT_EQ(a.colony, i % 10);
    EXPECT_EQ(a.homeX, first.homeX);
    EXPECT_EQ(a.homeY, first.homeY);
    EXPECT_TRUE(form->cells[a.homeX][a.homeY].isHome);
    EXPECT_EQ(a.cellX, a.homeX);
    EXPECT_EQ(a.cellY, a.homeY);
    EXPECT_EQ(a.posX, a.cellX * 6 + 3);
    EXPECT_EQ(a.posY, a.cellY * 6 + 3);
    EXPECT_EQ(a.radius, 2);
    EXPECT_EQ(a.knowsCenter, 0);
    EXPECT_TRUE(a.searching);
    EXPECT_EQ(a.energy, 100000);
    EXPECT_EQ(a.tripCount, 0);
    seed = NextSeed(seed);
    EXPECT_EQ(a.heading, DrawFrom(seed, 360)) << "agent " << i;
    seed = NextSeed(seed);
    EXPECT_EQ(a.angleGene, DrawFrom(seed, 180)) << "agent " << i;
    seed = NextSeed(seed);
    EXPECT_EQ(a.wiggleGene, DrawFrom(seed, 180)) << "agent " << i;
    EXPECT_EQ(a.chroma, ByteToBits(a.angleGene) + ByteToBits(a.wiggleGene));
    EXPECT_EQ(a.centerX, 34);
    EXPECT_EQ(a.centerY, 34);
  }
  EXPECT_EQ(RandSeed, seed) << "no other draw after the agents'";
}

TEST(Placement, TwentyFiveAgentsGiveThreeMembersToColoniesZeroToFourAndTwoToTheRest) {
  auto form = MakeWorld(25, 6);
  ASSERT_EQ(form->agents.size(), 25u);
  for (int c = 0; c < 10; ++c) {
    const std::vector<int32_t> expected =
        c < 5 ? std::vector<int32_t>{c, c + 10, c + 20} : std::vector<int32_t>{c, c + 10};
    EXPECT_EQ(form->colonyMembers[c], expected) << "colony " << c;
  }
}

TEST(Placement, KnowsCenterFlagIsTakenAtSetup) {
  auto form = MakeWorld(30, 6);
  form->CB_mCent->setChecked(true);
  for (const TAgent& a : form->agents) EXPECT_EQ(a.knowsCenter, 0) << "only a new setup reads the box";
  form->B_setupClick();
  for (const TAgent& a : form->agents) EXPECT_EQ(a.knowsCenter, 1);
}

TEST(Placement, CentreIsHalfTheGridRoundedToEven) {
  struct Case {
    int size, cols, center;
  };
  for (const Case& c : {Case{6, 67, 34}, Case{4, 101, 50}, Case{1, 404, 202}, Case{10, 40, 20}}) {
    auto form = MakeWorld(10, c.size);
    ASSERT_EQ(gridCols, c.cols);
    ASSERT_EQ(gridRows, c.cols);
    for (const TAgent& a : form->agents) {
      EXPECT_EQ(a.centerX, c.center) << c.cols << " columns";
      EXPECT_EQ(a.centerY, c.center);
    }
    EXPECT_TRUE(form->cells[c.center][c.center].isTarget);
    EXPECT_TRUE(form->cells[c.center - 2][c.center + 2].isTarget);
    EXPECT_FALSE(form->cells[c.center + 3][c.center].isTarget);
  }
}

TEST(Placement, NoAgentsGiveEmptyColoniesAndAPassThatDoesNothing) {
  auto form = MakeWorld(0, 6);
  EXPECT_TRUE(form->agents.empty());
  for (const auto& members : form->colonyMembers) EXPECT_TRUE(members.empty());
  form->MoveAgents();
  form->DoStep();
  EXPECT_EQ(stepCount, 1);
}

// ---------------------------------------------------------------------------
// Cost and mark of a move

TEST(SpendEnergy, CostAndMarkByStateAndVisibility) {
  struct Case {
    int strength, visibility;
    bool searching;
    int entered;
    int cost, mark;
  };
  const std::vector<Case> cases{
      {50, 100, true, 99, 150, 0},   {50, 100, true, 100, 25, 0},     {50, 100, false, 99, 50, 50},
      {50, 100, false, 100, 25, 50}, {5, 100, true, 150, 2, 0},       {5, 100, false, 150, 2, 5},
      {5, 100, true, 20, 15, 0},     {0, 100, true, 1, 0, 0},         {0, 100, false, 1, 0, 0},
      {0, 100, false, 300, 0, 0},    {7, 100, true, 100, 4, 0},       {3, 100, false, 100, 2, 3},
      {1, 100, true, 100, 0, 0},     {1, 100, true, 99, 3, 0},        {100, 0, true, 1, 50, 0},
      {100, 500, true, 499, 300, 0}, {100, 500, false, 500, 50, 100}, {100, 500, false, 499, 100, 100},
  };
  auto form = MakeWorld(1, 6);
  for (const Case& c : cases) {
    SetRates(*form, c.strength, c.visibility);
    TAgent& a = form->agents[0];
    a.searching = c.searching;
    a.energy = 1000;
    int32_t& left = form->chemical[10][10];
    int32_t& entered = form->chemical[11][10];
    left = 40;
    entered = c.entered;
    form->SpendEnergy(a, entered, left);
    EXPECT_EQ(a.energy, 1000 - c.cost) << "strength " << c.strength << ", visibility " << c.visibility
                                       << (c.searching ? ", searching" : ", returning") << ", entered " << c.entered;
    EXPECT_EQ(left, 40 + c.mark);
    EXPECT_EQ(entered, c.entered) << "the cell entered is never marked";
    EXPECT_EQ(a.searching, c.searching);
  }
}

TEST(SpendEnergy, EnergyHasNoFloor) {
  auto form = MakeWorld(1, 6);
  SetRates(*form, 50, 100);
  TAgent& a = form->agents[0];
  a.searching = true;
  a.energy = 10;
  form->chemical[3][3] = 1;
  form->SpendEnergy(a, form->chemical[3][3], form->chemical[2][3]);
  EXPECT_EQ(a.energy, -140);
}

// ---------------------------------------------------------------------------
// The movement pass

class Movement : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = MakeWorld(1, 6);
    SetRates(*form_, 50, 100);
    ASSERT_EQ(Caption(form_->Lbl_sniff), "15");
    ASSERT_EQ(form_->SniffMode(), 2);
  }
  TAgent& Agent() { return form_->agents[0]; }
  TCell& Cell(int column, int row) { return form_->cells[column][row]; }
  int32_t& Chemical(int column, int row) { return form_->chemical[column][row]; }
  // A returning agent with `energy` at (20, 20), a 1 on every neighbour, 40
  // on its own cell, and genes 3, 4 that differ from those its chroma
  // decodes to (200, 100).
  TAgent& PutTiredAgent(int energy, int heading) {
    PutAgent(*form_, 0, 20, 20, heading, false);
    TAgent& a = Agent();
    a.energy = energy;
    a.tripCount = 5;
    a.chroma = ByteToBits(200) + ByteToBits(100);
    a.angleGene = 3;
    a.wiggleGene = 4;
    SetNeighbours(*form_, 20, 20, 1);
    Chemical(20, 20) = 40;
    return a;
  }
  std::unique_ptr<TForm1> form_;
};

TEST_F(Movement, ReturningAgentSteppingOverTheLastColumnEntersColumnZeroAndMarksTheOldColumn) {
  const int last = gridCols - 1;
  PutAgent(*form_, 0, last, 8, 0, false);
  Agent().knowsCenter = 1;
  Chemical(last, 8) = 40;
  Chemical(0, 8) = 500;      // the only candidate of heading 0: hill climbing takes it
  Cell(0, 8).lastAgent = 3;  // an earlier visitor
  Cell(0, 8).State = 0;
  form_->MoveAgents();
  EXPECT_EQ(Agent().cellX, 0);
  EXPECT_EQ(Agent().cellY, 8);
  EXPECT_EQ(Agent().posX, 0 * 6 + 3);
  EXPECT_EQ(Agent().posY, 8 * 6 + 3);
  EXPECT_EQ(Chemical(last, 8), 90) << "the mark lands on the cell left";
  EXPECT_EQ(Chemical(0, 8), 500);
  EXPECT_EQ(Agent().energy, 100000 - 25) << "onto a visible trail";
  EXPECT_FALSE(Agent().searching);
  EXPECT_EQ(Cell(0, 8).lastAgent, 0);
  EXPECT_EQ(Cell(0, 8).State, 1) << "the cell records the knows-centre flag of the visitor";
}

TEST_F(Movement, SearchingAgentsWrapOverEveryEdgeAndLayNoMark) {
  struct Case {
    int column, row, heading;
    int toColumn, toRow;
  };
  const int lastCol = gridCols - 1;
  const int lastRow = gridRows - 1;
  for (const Case& c : {Case{lastCol, 8, 0, 0, 8}, Case{0, 9, 180, lastCol, 9}, Case{12, lastRow, 90, 12, 0},
                        Case{13, 0, 270, 13, lastRow}, Case{lastCol, lastRow, 45, 0, 0}}) {
    PutAgent(*form_, 0, c.column, c.row, c.heading, true);
    SetNeighbours(*form_, c.column, c.row, 5);  // below the sniff threshold: a random walk with no turn
    Chemical(c.column, c.row) = 40;
    form_->MoveAgents();
    EXPECT_EQ(Agent().cellX, c.toColumn) << "from " << c.column << "," << c.row;
    EXPECT_EQ(Agent().cellY, c.toRow) << "from " << c.column << "," << c.row;
    EXPECT_EQ(Agent().posX, c.toColumn * 6 + 3);
    EXPECT_EQ(Agent().posY, c.toRow * 6 + 3);
    EXPECT_EQ(Chemical(c.column, c.row), 40);
    EXPECT_EQ(Agent().energy, 100000 - 150);
  }
}

TEST_F(Movement, SearchingAgentTurnsOnTheTargetAtTheSearchingRateWithoutAMark) {
  const int cx = Agent().centerX;
  const int cy = Agent().centerY;
  ASSERT_TRUE(Cell(cx - 2, cy).isTarget);
  ASSERT_FALSE(Cell(cx - 3, cy).isTarget);
  PutAgent(*form_, 0, cx - 3, cy, 0, true);
  Chemical(cx - 3, cy) = 40;
  Chemical(cx - 2, cy) = 500;
  form_->MoveAgents();
  EXPECT_EQ(Agent().cellX, cx - 2);
  EXPECT_FALSE(Agent().searching) << "entering the target turns the agent round";
  EXPECT_EQ(Agent().energy, 100000 - 25);
  EXPECT_EQ(Chemical(cx - 3, cy), 40);
  EXPECT_EQ(Agent().tripCount, 0);
}

TEST_F(Movement, ReturningAgentSteppingOntoATargetStaysReturning) {
  const int cx = Agent().centerX;
  const int cy = Agent().centerY;
  PutAgent(*form_, 0, cx - 3, cy, 0, false);
  Agent().tripCount = 4;
  Chemical(cx - 3, cy) = 40;
  // Above the sniff threshold, below the visibility threshold: hill climbing
  // takes the target cell, off the trail.
  Chemical(cx - 2, cy) = 60;
  form_->MoveAgents();
  EXPECT_EQ(Agent().cellX, cx - 2);
  EXPECT_EQ(Agent().cellY, cy);
  EXPECT_FALSE(Agent().searching);
  EXPECT_EQ(Agent().tripCount, 4);
  EXPECT_EQ(Agent().energy, 100000 - 50);
  EXPECT_EQ(Chemical(cx - 3, cy), 90);
}

TEST_F(Movement, ReturningAgentOnItsHomeCountsATripAndMovesAtTheSearchingRate) {
  PutAgent(*form_, 0, 20, 20, 90, false);
  Agent().homeX = 20;
  Agent().homeY = 20;
  Agent().angleGene = 0;
  SetNeighbours(*form_, 20, 20, 5);
  Chemical(20, 20) = 40;
  form_->MoveAgents();
  EXPECT_TRUE(Agent().searching);
  EXPECT_EQ(Agent().tripCount, 1);
  EXPECT_EQ(Agent().heading, 270);
  EXPECT_EQ(Agent().cellX, 20);
  EXPECT_EQ(Agent().cellY, 19);
  EXPECT_EQ(Agent().energy, 100000 - 150);
  EXPECT_EQ(Chemical(20, 20), 40) << "a searching move lays no mark";
}

TEST_F(Movement, ExhaustedAgentIsReplacedAndTheChildMovesInTheSamePass) {
  form_->SB_mutate->setValue(0);
  for (int energy : {0, -7}) {
    RandomizeQueue randomize;
    randomize.seeds = {100u, 200u, 300u};    // two parent picks, then the cut
    TAgent& a = PutTiredAgent(energy, 100);  // a child decodes its genes from the chroma
    form_->MoveAgents();
    EXPECT_EQ(randomize.calls, 3);
    EXPECT_EQ(a.angleGene, 200);
    EXPECT_EQ(a.wiggleGene, 100);
    EXPECT_EQ(a.chroma, ByteToBits(200) + ByteToBits(100)) << "its own only parent, no mutation";
    EXPECT_EQ(a.tripCount, 0);
    EXPECT_TRUE(a.searching);
    EXPECT_EQ(a.energy, 100000 - 150) << "the child pays its first move";
    EXPECT_EQ(Chemical(20, 20), 40) << "the child searches and lays no mark";
    // The draws after the cut (Random(16)) and the mutation test: the
    // child's random walk with its own angle gene, Random(201) and Random(2).
    uint32_t seed = Advance(300u, 2);
    seed = NextSeed(seed);
    const int turn = DrawFrom(seed, 201);
    seed = NextSeed(seed);
    const int sign = DrawFrom(seed, 2);
    int heading = 100 + (sign == 1 ? turn : -turn);
    const auto [dx, dy] = StepForHeading(heading);
    NormalizeAngle(heading);
    EXPECT_EQ(a.heading, heading);
    EXPECT_EQ(a.cellX, 20 + dx);
    EXPECT_EQ(a.cellY, 20 + dy);
    EXPECT_EQ(RandSeed, seed);
  }
}

TEST_F(Movement, AgentWithEnergyOneIsNotReplacedAndMoves) {
  RandomizeQueue randomize;  // no seeds: a reproduction would fail the test
  TAgent& a = PutTiredAgent(1, 0);
  form_->MoveAgents();
  EXPECT_EQ(randomize.calls, 0);
  EXPECT_EQ(a.angleGene, 3);
  EXPECT_EQ(a.wiggleGene, 4);
  EXPECT_EQ(a.tripCount, 5);
  EXPECT_FALSE(a.searching);
  EXPECT_EQ(a.energy, 1 - 50);
  EXPECT_EQ(Chemical(20, 20), 90);
}

TEST(MovementOrder, LaterAgentsSenseTheMarksOfEarlierOnesAndTheHighestVisitorIsRecorded) {
  auto form = MakeWorld(3, 6);
  SetRates(*form, 50, 100);
  // Agent 0 returns from (20, 20) to (21, 20) and marks (20, 20); agent 1,
  // behind it, senses that mark in the same pass.
  PutAgent(*form, 0, 20, 20, 0, false);
  PutAgent(*form, 1, 19, 20, 0, true);
  PutAgent(*form, 2, 19, 21, 0, true);
  FillChemical(*form, 17, 23, 18, 23, 1);
  form->chemical[21][20] = 500;
  form->MoveAgents();
  EXPECT_EQ(form->agents[0].cellX, 21);
  EXPECT_EQ(form->chemical[20][20], 51);
  EXPECT_EQ(form->agents[1].scent, 51) << "agent 1 sensed the mark agent 0 laid before it";
  EXPECT_EQ(form->agents[1].cellX, 20);
  EXPECT_EQ(form->agents[1].cellY, 20);
  EXPECT_EQ(form->agents[1].energy, 100000 - 150);

  // Two agents enter (30, 30) in one pass: the cell keeps the higher index.
  PutAgent(*form, 0, 29, 30, 0, true);
  PutAgent(*form, 1, 40, 40, 0, true);
  PutAgent(*form, 2, 31, 30, 180, true);
  FillChemical(*form, 28, 32, 29, 31, 1);
  form->cells[30][30].lastAgent = 7;
  form->cells[30][30].State = 1;
  form->MoveAgents();
  EXPECT_EQ(form->agents[0].cellX, 30);
  EXPECT_EQ(form->agents[2].cellX, 30);
  EXPECT_EQ(form->cells[30][30].lastAgent, 2);
  EXPECT_EQ(form->cells[30][30].State, 0);
}

// ---------------------------------------------------------------------------
// Memory

TEST(MovementMemory, ThePassAllocatesNothingPerAgent) {
  RandomizeQueue randomize;
  for (uint32_t s = 0; s < 100000; ++s) randomize.seeds.push_back(7000u + s);
  auto form = MakeWorld(200, 6);
  form->SB_strenght->setValue(100);
  // Force reproductions from the first pass on.
  for (size_t i = 0; i < form->agents.size(); ++i) form->agents[i].energy = static_cast<int32_t>(i % 7) * 300;
  form->MoveAgents();  // warm-up: the first reproduction sizes its parent list

  // An agent keeps its lists and chroma inside itself: nothing to free.
  static_assert(std::is_trivially_destructible_v<TAgent>);

  int64_t maxPerPass = 0;
  const int callsBefore = randomize.calls;
  for (int pass = 0; pass < 400; ++pass) {
    const int64_t start = gAllocations.load();
    form->MoveAgents();
    maxPerPass = std::max(maxPerPass, gAllocations.load() - start);
    // Keep reproduction going throughout.
    if (pass % 50 == 0) {
      for (size_t i = 0; i < form->agents.size(); i += 3) form->agents[i].energy = 0;
    }
  }
  EXPECT_GT(randomize.calls - callsBefore, 3 * 200) << "reproductions took place during the run";
  // Reading the rates from their captions may allocate a few times per pass,
  // but nothing grows with the 200 agents.
  EXPECT_LE(maxPerPass, 10);
  for (const TAgent& a : form->agents) EXPECT_LE(a.candidates.size(), 8u);
}
