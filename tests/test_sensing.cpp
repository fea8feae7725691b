// Sensing on a real world: the cone of candidate directions for a heading
// and an angle gene, the wrap of the torus, and the shares of the chemical.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "CellForm.h"
#include "agents_support.h"

using Step = std::pair<int32_t, int32_t>;
using Steps = std::vector<Step>;

namespace {

// Sectors 1..8 as (column step, row step).
const Steps kSector{{1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};

// The sector table by its rows: the largest rounded edge angle of each sector.
int32_t SectorByTable(int32_t edge) {
  const int32_t upper[8] = {45, 90, 135, 180, 225, 270, 315, 360};
  for (int32_t k = 0; k < 8; ++k) {
    if (edge <= upper[k]) return k + 1;
  }
  ADD_FAILURE() << "edge " << edge << " outside the sector table";
  return 8;
}

int32_t RoundedEdge(int32_t degrees) {
  double edge = degrees - 22.5;
  if (edge < 0) edge += 360;
  if (edge > 360) edge -= 360;
  EXPECT_GE(edge, -0.5);
  EXPECT_LE(edge, 360.5);
  return static_cast<int32_t>(std::nearbyint(edge));  // ties to even
}

Steps ExpectedCone(int32_t heading, int32_t gene) {
  const int32_t s1 = SectorByTable(RoundedEdge(heading - gene));
  const int32_t s2 = SectorByTable(RoundedEdge(heading + gene));
  Steps steps;
  for (int32_t k = s1;; k = k == 8 ? 1 : k + 1) {
    steps.push_back(kSector[k - 1]);
    if (k == s2) break;
  }
  return steps;
}

class Sensing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    form_ = agents_test::MakeWorld(10, 6).release();
    ASSERT_EQ(gridCols, 67);
    ASSERT_EQ(gridRows, 67);
  }
  static void TearDownTestSuite() {
    delete form_;
    form_ = nullptr;
  }

  TAgent& Agent() { return form_->agents[0]; }
  std::vector<double> Shares() { return {Agent().shares.begin(), Agent().shares.end()}; }
  TCell& Cell(int32_t column, int32_t row) { return form_->cells[column][row]; }
  int32_t& Chemical(int32_t column, int32_t row) { return form_->chemical[column][row]; }

  // Senses with agent 0 at (column, row) and returns its candidates.
  Steps SenseAt(int32_t heading, int32_t gene, int32_t column = 30, int32_t row = 20) {
    TAgent& a = Agent();
    a.heading = heading;
    a.angleGene = gene;
    a.cellX = column;
    a.cellY = row;
    form_->Sense(0);
    EXPECT_EQ(a.heading, heading) << "sensing leaves the heading alone";
    EXPECT_EQ(a.shares.size(), a.candidates.size());
    return Steps(a.candidates.begin(), a.candidates.end());
  }

  static TForm1* form_;
};

TForm1* Sensing::form_ = nullptr;

}  // namespace

TEST_F(Sensing, AngleGeneZeroSensesTheNeighbourNearestTheHeading) {
  struct Range {
    int32_t from, to;
    Step step;
  };
  for (const Range& r : {Range{-22, 22, {1, 0}}, Range{23, 67, {1, 1}}, Range{68, 113, {0, 1}},
                         Range{114, 157, {-1, 1}}, Range{158, 203, {-1, 0}}, Range{204, 247, {-1, -1}},
                         Range{248, 293, {0, -1}}, Range{294, 337, {1, -1}}, Range{338, 382, {1, 0}}}) {
    for (int32_t h = r.from; h <= r.to; ++h) EXPECT_EQ(SenseAt(h, 0), (Steps{r.step})) << "heading " << h;
  }
}

TEST_F(Sensing, DocumentedCones) {
  struct Case {
    int32_t heading, gene;
    Steps steps;
  };
  const std::vector<Case> cases{
      {0, 0, {{1, 0}}},
      {360, 0, {{1, 0}}},
      {0, 22, {{1, 0}}},
      {0, 23, {{1, -1}, {1, 0}, {1, 1}}},
      {90, 45, {{1, 1}, {0, 1}, {-1, 1}}},
      {0, 157, {{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}}},
      {0, 180, {{-1, 0}}},
      {90, 180, {{0, -1}}},
      {0, 225, {{-1, 1}, {-1, 0}, {-1, -1}}},
      {-30, 0, {{1, -1}}},
      {435, 0, {{0, 1}}},
      {22, 0, {{1, 0}}},
      {23, 0, {{1, 1}}},
      {113, 0, {{0, 1}}},
      {114, 0, {{-1, 1}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SenseAt(c.heading, c.gene), c.steps) << "heading " << c.heading << ", gene " << c.gene;
  }
  for (int32_t gene = 158; gene <= 202; ++gene) {
    EXPECT_EQ(SenseAt(0, gene), (Steps{{-1, 0}})) << "gene " << gene << ": only the cell behind";
  }
}

TEST_F(Sensing, NeighboursOverTheEdgeAreReadOnTheOppositeSide) {
  struct Case {
    int32_t heading, column, row;
    int32_t readColumn, readRow;
  };
  const int32_t last = gridCols - 1;
  const int32_t lastRow = gridRows - 1;
  for (const Case& c : {Case{180, 0, 12, last, 12}, Case{90, 40, lastRow, 40, 0}, Case{0, last, 7, 0, 7},
                        Case{270, 9, 0, 9, lastRow}, Case{225, 0, 0, last, lastRow}, Case{45, last, lastRow, 0, 0}}) {
    const int32_t before = Chemical(c.readColumn, c.readRow);
    Chemical(c.readColumn, c.readRow) = 321;
    EXPECT_EQ(SenseAt(c.heading, 0, c.column, c.row).size(), 1u);
    EXPECT_EQ(Agent().scent, 321) << "heading " << c.heading << " from " << c.column << "," << c.row;
    ASSERT_EQ(Agent().shares.size(), 1u);
    EXPECT_EQ(Agent().shares[0], 100.0);
    Chemical(c.readColumn, c.readRow) = before;
  }
}

TEST_F(Sensing, NoChemicalGivesScentZeroAndEveryShareZero) {
  const Steps cone{{1, 1}, {0, 1}, {-1, 1}};
  std::vector<int32_t> before;
  for (const Step& s : cone) {
    before.push_back(Chemical(30 + s.first, 20 + s.second));
    Chemical(30 + s.first, 20 + s.second) = 0;
  }
  EXPECT_EQ(SenseAt(90, 45), cone);
  EXPECT_EQ(Agent().scent, 0);
  EXPECT_EQ(Shares(), (std::vector<double>{0.0, 0.0, 0.0}));
  for (size_t i = 0; i < cone.size(); ++i) Chemical(30 + cone[i].first, 20 + cone[i].second) = before[i];
}

TEST_F(Sensing, SharesArePercentagesOfTheScent) {
  const Steps cone{{1, 1}, {0, 1}, {-1, 1}};
  const std::vector<int32_t> chemical{10, 30, 0};
  std::vector<int32_t> before;
  for (size_t i = 0; i < cone.size(); ++i) {
    int32_t& amount = Chemical(30 + cone[i].first, 20 + cone[i].second);
    before.push_back(amount);
    amount = chemical[i];
  }
  EXPECT_EQ(SenseAt(90, 45), cone);
  EXPECT_EQ(Agent().scent, 40);
  EXPECT_EQ(Shares(), (std::vector<double>{25.0, 75.0, 0.0}));

  // Thirds: each share is chemical / scent x 100, stored as a 64-bit real.
  for (size_t i = 0; i < cone.size(); ++i) Chemical(30 + cone[i].first, 20 + cone[i].second) = 7;
  SenseAt(90, 45);
  EXPECT_EQ(Agent().scent, 21);
  for (double share : Agent().shares) EXPECT_EQ(share, static_cast<double>(7.0L / 21 * 100));
  for (size_t i = 0; i < cone.size(); ++i) Chemical(30 + cone[i].first, 20 + cone[i].second) = before[i];
}

TEST_F(Sensing, EveryHeadingFromMinus83To488AndEveryGeneGivesAWalkOfDistinctSectors) {
  // From the last column of the first row, so both edges of the torus are
  // crossed; every cell carries a chemical of its own.
  const int32_t column = gridCols - 1;
  const int32_t row = 0;
  for (int32_t dr = -1; dr <= 1; ++dr) {
    for (int32_t dc = -1; dc <= 1; ++dc) {
      Chemical((column + dc + gridCols) % gridCols, (row + dr + gridRows) % gridRows) = 100 + 10 * dc + dr;
    }
  }
  int64_t calls = 0;
  for (int32_t heading = -83; heading <= 488; ++heading) {
    for (int32_t gene = 0; gene <= 255; ++gene) {
      const Steps steps = SenseAt(heading, gene, column, row);
      ++calls;
      ASSERT_GE(steps.size(), 1u);
      ASSERT_LE(steps.size(), 8u);
      ASSERT_EQ(std::set<Step>(steps.begin(), steps.end()).size(), steps.size())
          << "heading " << heading << ", gene " << gene;
      ASSERT_EQ(steps, ExpectedCone(heading, gene)) << "heading " << heading << ", gene " << gene;
      int32_t scent = 0;
      for (const Step& s : steps) scent += 100 + 10 * s.first + s.second;
      ASSERT_EQ(Agent().scent, scent) << "heading " << heading << ", gene " << gene;
      long double sum = 0;
      for (double share : Agent().shares) sum += share;
      ASSERT_NEAR(static_cast<double>(sum), 100.0, 1e-9);
    }
  }
  EXPECT_EQ(calls, 572 * 256);
}

TEST_F(Sensing, HeadingsNoMoveProducesStayWithinTheEightNeighbours) {
  // Far outside -83..488 a cone edge stays outside 0..360 after its single
  // correction; sensing must still read only the eight neighbours.
  for (int32_t heading : {-2000, -700, -361, 489, 800, 5000}) {
    for (int32_t gene : {0, 45, 255}) {
      const Steps steps = SenseAt(heading, gene);
      ASSERT_GE(steps.size(), 1u) << "heading " << heading;
      ASSERT_LE(steps.size(), 8u) << "heading " << heading;
      for (const Step& s : steps) {
        ASSERT_TRUE(std::abs(s.first) <= 1 && std::abs(s.second) <= 1 && (s.first != 0 || s.second != 0))
            << "heading " << heading << ", gene " << gene;
      }
    }
  }
}
