// TAgent on its own: chroma, steering (ChangeHeading and its three methods),
// the step of every heading, and the drawing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "Canvas.h"
#include "Runtime.h"
#include "agenten.h"
#include "agents_support.h"

using agents_test::Advance;
using agents_test::SeedGivingDraw;
using agents_test::SeedGivingDraws;
using Step = std::pair<int32_t, int32_t>;
using Steps = std::vector<Step>;

namespace {

constexpr int32_t kRoulette = 1;
constexpr int32_t kHill = 2;
constexpr int32_t kNoSniff = 0;

// The step of a heading 0..359, as the heading table lists it.
Step TableStep(int32_t h) {
  if (h < 30 || h >= 330) return {1, 0};
  if (h < 60) return {1, 1};
  if (h < 120) return {0, 1};
  if (h < 150) return {-1, 1};
  if (h < 210) return {-1, 0};
  if (h < 240) return {-1, -1};
  if (h < 300) return {0, -1};
  return {1, -1};
}

// Headings above 359 repeat the table; a negative heading is the mirror
// image of its magnitude (the cosine keeps its sign, the sine changes it).
Step ExpectedStep(int32_t h) {
  if (h >= 0) return TableStep(h % 360);
  const Step s = TableStep((-h) % 360);
  return {s.first, -s.second};
}

Step StepOf(const TAgent& a) { return {a.stepX, a.stepY}; }

TAgent SearchingAgent() {
  TAgent a;
  a.searching = true;
  a.cellX = 20;
  a.cellY = 20;
  a.homeX = 5;
  a.homeY = 5;
  a.centerX = 34;
  a.centerY = 34;
  return a;
}

// An agent on its way home (5, 5 unless given) from the cell (column, row).
TAgent ReturningAgent(int32_t column, int32_t row, int32_t homeX = 5, int32_t homeY = 5) {
  TAgent a = SearchingAgent();
  a.searching = false;
  a.cellX = column;
  a.cellY = row;
  a.homeX = homeX;
  a.homeY = homeY;
  return a;
}

// The candidates, the chemical sensed on each (their shares are amount /
// sum x 100) and the scent, which the steering reads apart from the shares.
void SetSensing(TAgent& a, std::vector<Step> candidates, std::vector<int32_t> amounts, int32_t scent) {
  a.candidates.assign(candidates.begin(), candidates.end());
  a.shares.AssignAmounts(amounts.begin(), amounts.end());
  a.scent = scent;
}

}  // namespace

// ---------------------------------------------------------------------------
// Chroma

TEST(AgentChroma, AngleBitsThenWiggleBits) {
  struct Case {
    int32_t angle, wiggle;
    const char* chroma;
  };
  for (const Case& c :
       {Case{5, 200, "0000010111001000"}, Case{0, 0, "0000000000000000"}, Case{255, 255, "1111111111111111"},
        Case{128, 1, "1000000000000001"}, Case{179, 90, "1011001101011010"}}) {
    TAgent a;
    a.angleGene = c.angle;
    a.wiggleGene = c.wiggle;
    a.setChroma();
    EXPECT_EQ(a.chroma, c.chroma) << c.angle << "/" << c.wiggle;
  }
}

TEST(AgentChroma, HoldsExactlySixteenCharactersInPlace) {
  TAgent a;
  EXPECT_EQ(a.chroma, "0000000000000000") << "the chroma of genes 0 and 0";
  a.chroma = std::string("1010101010101010");
  const std::string text = a.chroma;
  EXPECT_EQ(text, "1010101010101010");
  for (const char* bad : {"", "101010101010101", "10101010101010101"}) {
    EXPECT_THROW(a.chroma = std::string_view(bad), std::length_error) << "'" << bad << "'";
    EXPECT_EQ(a.chroma, text) << "a rejected text leaves the chroma as it was";
  }
  for (const char* bad : {"101010101010101x", "2010101010101010", "1010101 10101010"}) {
    EXPECT_THROW(a.chroma = std::string_view(bad), std::invalid_argument) << "'" << bad << "'";
    EXPECT_EQ(a.chroma, text) << "a rejected text leaves the chroma as it was";
  }
  for (size_t i = 0; i < text.size(); ++i) {
    TChroma flipped = a.chroma;
    flipped.Flip(i);
    std::string expected = text;
    expected[i] = expected[i] == '0' ? '1' : '0';
    EXPECT_EQ(std::string(flipped), expected) << "position " << i;
    EXPECT_EQ(std::string(flipped.begin(), flipped.end()), expected) << "position " << i;
  }
}

TEST(AgentSensingLists, HoldEightInPlaceAndRefuseANinthOrAStepBeyondANeighbour) {
  const std::vector<Step> all{{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
  TAgent a;
  for (const Step& s : all) a.candidates.push_back({static_cast<int8_t>(s.first), static_cast<int8_t>(s.second)});
  EXPECT_EQ(a.candidates.size(), 8u);
  EXPECT_EQ(Steps(a.candidates.begin(), a.candidates.end()), all) << "every step reads back as it was put";
  EXPECT_THROW(a.candidates.push_back({1, 1}), std::length_error);
  EXPECT_THROW(a.shares.AssignAmounts(std::vector<int32_t>(9, 1).begin(), std::vector<int32_t>(9, 1).end()),
               std::length_error);
  EXPECT_EQ(a.candidates.size(), 8u) << "a refused element changes nothing";
  a.candidates.clear();
  EXPECT_TRUE(a.candidates.empty());
  for (const Step& beyond : {Step{2, 0}, Step{0, -2}, Step{7, -7}}) {
    EXPECT_THROW(a.candidates.push_back({static_cast<int8_t>(beyond.first), static_cast<int8_t>(beyond.second)}),
                 std::out_of_range);
  }
  EXPECT_TRUE(a.candidates.empty()) << "a step beyond a neighbour is not kept";
}

TEST(AgentSensingLists, SharesAreTheAmountsPercentagesOfTheirSum) {
  TAgent a;
  a.shares.AssignAmounts({1, 7});
  EXPECT_EQ(std::vector<double>(a.shares.begin(), a.shares.end()), (std::vector<double>{12.5, 87.5}));
  a.shares.AssignAmounts({7, 7, 7});
  for (double share : a.shares) EXPECT_EQ(share, static_cast<double>(7.0L / 21 * 100));
  // The largest amounts a cone can hold: eight cells at the saturation of
  // the chemical, their sum still a 32-bit integer.
  const int32_t most = INT32_MAX / 8;
  a.shares.AssignAmounts({most, most, most, most, most, most, most, 1});
  EXPECT_EQ(a.shares.Total(), int64_t{7} * most + 1);
  EXPECT_EQ(a.shares[7], static_cast<double>(1.0L / (7.0L * most + 1) * 100));
  for (const std::vector<int32_t>& none : {std::vector<int32_t>{0, 0}, {5, -5}, {-3, 1}}) {
    a.shares.AssignAmounts(none.begin(), none.end());
    EXPECT_EQ(std::vector<double>(a.shares.begin(), a.shares.end()), std::vector<double>(none.size(), 0.0))
        << "a sum not above 0 gives every share 0";
  }
}

TEST(AgentSensingLists, WritingTheListsLeavesTheFieldsPackedBehindThemAlone) {
  // The step, flag, colony and radius bytes sit where the two lists would
  // otherwise pad; a million agents then take 80 MB.
  EXPECT_LE(sizeof(TAgent), 80u);
  TAgent a;
  a.stepX = -1;
  a.stepY = 1;
  a.knowsCenter = 1;
  a.colony = 9;
  a.radius = TAgent::kDrawRadius;
  a.searching = true;
  a.cellX = -2;
  a.chroma = std::string_view("1111000011110000");
  TAgent other;
  other.shares.AssignAmounts({1, 7});
  other.candidates = {{1, 1}, {0, 1}};
  for (int round = 0; round < 3; ++round) {
    if (round == 0) a.shares = other.shares, a.candidates = other.candidates;
    if (round == 1) {
      a.shares.AssignAmounts({-1, 2, 3, 4, 5, 6, 7, INT32_MAX});
      a.candidates = {{-1, -1}, {-1, -1}, {-1, -1}, {-1, -1}, {1, 1}, {1, 1}, {1, 1}, {1, 1}};
    }
    if (round == 2) a.shares.AssignAmounts({33, 33, 34}), a.candidates = {{0, -1}, {0, -1}, {0, -1}};
    EXPECT_EQ(std::tuple(a.stepX, a.stepY, a.knowsCenter, a.colony, a.radius, a.searching, a.cellX),
              std::tuple(-1, 1, 1, 9, TAgent::kDrawRadius, true, -2))
        << "round " << round;
    EXPECT_EQ(a.chroma, "1111000011110000") << "round " << round;
  }
  EXPECT_EQ(a.shares.size(), 3u);
  EXPECT_EQ(a.shares[2], 34.0);
  EXPECT_EQ(a.candidates[2], (std::pair<int8_t, int8_t>{0, -1}));
}

// ---------------------------------------------------------------------------
// ChangeHeading

TEST(AgentChangeHeading, ReturningOnHomeTurnsRoundCountsTripAndWalksFromTheReverse) {
  // Heading 90 reversed is 270; the random walk then turns by
  // Random(angleGene + 1) = 30 with the sign drawn by Random(2).
  struct Case {
    int32_t sign;
    int32_t heading;
    Step step;
  };
  for (const Case& c : {Case{1, 300, {1, -1}}, Case{0, 240, {0, -1}}}) {
    TAgent a = ReturningAgent(5, 5);  // at home
    a.heading = 90;
    a.tripCount = 3;
    SetSensing(a, {{0, -1}}, {0}, 0);
    const uint32_t seed = SeedGivingDraws({{41, 30}, {2, c.sign}});
    RandSeed = seed;
    a.ChangeHeading(40, 77, kHill, 15);
    EXPECT_TRUE(a.searching);
    EXPECT_EQ(a.tripCount, 4);
    EXPECT_EQ(a.heading, c.heading);
    EXPECT_EQ(StepOf(a), c.step);
    EXPECT_EQ(RandSeed, Advance(seed, 2)) << "a random walk takes exactly two draws";
  }
}

TEST(AgentChangeHeading, ReturningAtColumnZeroHeadsAcrossTheGridToAHomeInTheLastColumn) {
  TAgent a = ReturningAgent(0, 12, 66, 12);
  a.heading = 200;
  SetSensing(a, {{-1, 0}}, {0}, 0);
  const uint32_t seed = 987654u;
  RandSeed = seed;
  a.ChangeHeading(0, 0, kHill, 15);  // random walk with no turn
  EXPECT_EQ(a.heading, 0);
  EXPECT_EQ(StepOf(a), Step(1, 0));
  EXPECT_FALSE(a.searching);
  EXPECT_EQ(a.tripCount, 0);
  EXPECT_EQ(RandSeed, Advance(seed, 2)) << "both draws are made even with range 0";
}

TEST(AgentChangeHeading, DirectionsHomeAndToTheCentreUsePlainIndexDifferences) {
  struct Case {
    bool searching;
    int32_t knowsCenter;
    int32_t cellX, cellY;
    int32_t heading;  // after ChangeHeading with mode 0 and scent above the threshold
  };
  // Home (5, 5), centre (34, 34).
  for (const Case& c : {
           Case{false, 0, 8, 9, 233},   // atan2(-4, -3) = -126.87 -> -127 -> 233
           Case{false, 1, 5, 30, 270},  // straight up
           Case{false, 0, 60, 5, 180},  // no wrap-around: the long way
           Case{true, 1, 30, 40, 304},  // atan2(-6, 4) = -56.31 -> -56 -> 304
           Case{true, 1, 34, 0, 90},    // straight down
           Case{true, 1, 34, 34, 0},    // on the centre: atan2(0, 0) = 0
           Case{true, 0, 34, 34, 123},  // not told the centre: heading kept
       }) {
    TAgent a = SearchingAgent();
    a.searching = c.searching;
    a.knowsCenter = c.knowsCenter;
    a.cellX = c.cellX;
    a.cellY = c.cellY;
    a.heading = 123;
    a.stepX = -1;
    a.stepY = 1;
    SetSensing(a, {{1, 0}}, {100}, 50);
    const uint32_t seed = 4242u;
    RandSeed = seed;
    a.ChangeHeading(90, 90, kNoSniff, 15);
    EXPECT_EQ(a.heading, c.heading) << c.cellX << "," << c.cellY;
    EXPECT_EQ(StepOf(a), Step(-1, 1)) << "mode 0 above the threshold keeps the previous step";
    EXPECT_EQ(RandSeed, seed) << "no draw without a random walk or chemical choice";
  }
}

TEST(AgentChangeHeading, KnowsCenterOnTheCentreCellGivesHeadingZeroBeforeTheSniffDecision) {
  TAgent a = SearchingAgent();
  a.knowsCenter = 1;
  a.cellX = a.centerX;
  a.cellY = a.centerY;
  a.heading = 250;
  SetSensing(a, {{0, 1}}, {0}, 0);
  RandSeed = SeedGivingDraws({{1, 0}, {2, 1}});
  a.ChangeHeading(0, 0, kHill, 15);  // random walk from 0, turn 0
  EXPECT_EQ(a.heading, 0);
  EXPECT_EQ(StepOf(a), Step(1, 0));
}

TEST(AgentChangeHeading, ScentEqualToTheThresholdWalksRandomlyOneMoreChoosesByChemical) {
  for (int32_t mode : {kRoulette, kHill}) {
    for (int32_t threshold : {0, 15, 100}) {
      TAgent walk = SearchingAgent();
      walk.heading = 0;
      SetSensing(walk, {{0, 1}}, {100}, threshold);
      RandSeed = 1u;
      walk.ChangeHeading(0, 0, mode, threshold);
      EXPECT_EQ(walk.heading, 0);
      EXPECT_EQ(StepOf(walk), Step(1, 0)) << "mode " << mode << ", threshold " << threshold;

      TAgent sniff = SearchingAgent();
      sniff.heading = 0;
      SetSensing(sniff, {{0, 1}}, {100}, threshold + 1);
      RandSeed = 1u;
      sniff.ChangeHeading(0, 0, mode, threshold);
      EXPECT_EQ(sniff.heading, 90);
      EXPECT_EQ(StepOf(sniff), Step(0, 1)) << "mode " << mode << ", threshold " << threshold;
    }
  }
}

TEST(AgentChangeHeading, ChemicalChoiceOverridesTheDirectionHomeAndReturningAgentsSniffToo) {
  TAgent a = ReturningAgent(20, 20);  // home (5, 5) lies up and to the left
  a.heading = 10;
  SetSensing(a, {{1, 0}, {1, 1}, {0, 1}}, {20, 30, 50}, 200);
  // Deviation Random(21) = 13 with sign 1.
  const uint32_t seed = SeedGivingDraws({{21, 13}, {2, 1}});
  RandSeed = seed;
  a.ChangeHeading(5, 20, kHill, 15);
  EXPECT_EQ(a.heading, 90 + 13);
  EXPECT_EQ(StepOf(a), Step(0, 1));
  EXPECT_FALSE(a.searching);
  EXPECT_EQ(RandSeed, Advance(seed, 2));
}

TEST(AgentChangeHeading, HeadingsReachMinus75WhenTheWayHomeRoundsToMinus180) {
  // atan2(-1, -115) x 57.29... = -179.50... rounds to -180; a turn of -255
  // gives -435, normalised once to -75.
  TAgent a = ReturningAgent(116, 1, 1, 0);
  SetSensing(a, {{1, 0}}, {0}, 0);
  RandSeed = SeedGivingDraws({{256, 255}, {2, 0}});
  a.ChangeHeading(255, 0, kHill, 15);
  EXPECT_EQ(a.heading, -75);
  EXPECT_EQ(StepOf(a), Step(0, -1));  // the step of -435
}

TEST(AgentChangeHeading, HeadingsReach435AfterTheHomeTurnFrom360) {
  TAgent a = ReturningAgent(5, 5);  // at home
  a.heading = 360;
  SetSensing(a, {{1, 0}}, {0}, 0);
  RandSeed = SeedGivingDraws({{256, 255}, {2, 1}});
  a.ChangeHeading(255, 0, kRoulette, 15);
  EXPECT_EQ(a.heading, 435);                // 795 - 360
  EXPECT_EQ(StepOf(a), ExpectedStep(795));  // the step of the heading before normalising
  EXPECT_EQ(StepOf(a), Step(0, 1));
}

// ---------------------------------------------------------------------------
// Random-walk steps

TEST(AgentRandomWalk, DocumentedStepsAtTheBoundaries) {
  struct Case {
    int32_t heading;
    Step step;
  };
  for (const Case& c :
       {Case{30, {1, 1}},    Case{60, {0, 1}},    Case{0, {1, 0}},    Case{360, {1, 0}},  Case{-300, {1, 1}},
        Case{-30, {1, -1}},  Case{390, {1, 1}},   Case{420, {0, 1}},  Case{29, {1, 0}},   Case{59, {1, 1}},
        Case{119, {0, 1}},   Case{120, {-1, 1}},  Case{149, {-1, 1}}, Case{150, {-1, 0}}, Case{209, {-1, 0}},
        Case{210, {-1, -1}}, Case{239, {-1, -1}}, Case{240, {0, -1}}, Case{299, {0, -1}}, Case{300, {1, -1}},
        Case{329, {1, -1}},  Case{330, {1, 0}},   Case{359, {1, 0}},  Case{720, {1, 0}}}) {
    TAgent a;
    a.heading = c.heading;
    RandSeed = 77u;
    a.randomWalk(0);
    EXPECT_EQ(a.heading, c.heading) << "range 0 never turns";
    EXPECT_EQ(StepOf(a), c.step) << "heading " << c.heading;
  }
}

TEST(AgentRandomWalk, EveryHeadingFromMinus360To720FollowsTheTable) {
  for (int32_t h = -360; h <= 720; ++h) {
    TAgent a;
    a.heading = h;
    a.randomWalk(0);
    const double radians = static_cast<double>(h * 0.0174532925222222222L);
    const Step fromTrig{Round(cosl(radians)), Round(sinl(radians))};
    EXPECT_EQ(StepOf(a), ExpectedStep(h)) << "heading " << h;
    EXPECT_EQ(StepOf(a), fromTrig) << "heading " << h;
    EXPECT_NE(StepOf(a), Step(0, 0)) << "heading " << h;
    EXPECT_EQ(StepForHeading(h), StepOf(a)) << "heading " << h;
  }
}

TEST(AgentRandomWalk, TurnIsTheFirstDrawAndItsSignTheSecond) {
  for (int32_t range : {0, 1, 7, 180, 255}) {
    for (int32_t turn : {0, range / 2, range}) {
      for (int32_t sign : {0, 1}) {
        TAgent a;
        a.heading = 100;
        const uint32_t seed = SeedGivingDraws({{range + 1, turn}, {2, sign}});
        RandSeed = seed;
        a.randomWalk(range);
        const int32_t expected = 100 + (sign == 1 ? turn : -turn);
        EXPECT_EQ(a.heading, expected) << "range " << range << " turn " << turn << " sign " << sign;
        EXPECT_EQ(StepOf(a), ExpectedStep(expected));
        EXPECT_EQ(RandSeed, Advance(seed, 2));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Roulette wheel

TEST(AgentRouletteWheel, ShareZeroThenHundredDrawZeroPicksFirstOthersTheSecond) {
  for (int32_t draw = 0; draw < 100; ++draw) {
    TAgent a;
    a.heading = 300;
    SetSensing(a, {{1, 0}, {0, 1}}, {0, 100}, 100);
    const uint32_t seed = SeedGivingDraw(100, draw);
    RandSeed = seed;
    a.rouletteWheel(0);
    if (draw == 0) {
      EXPECT_EQ(a.heading, 0);
      EXPECT_EQ(StepOf(a), Step(1, 0));
    } else {
      EXPECT_EQ(a.heading, 90) << "draw " << draw;
      EXPECT_EQ(StepOf(a), Step(0, 1)) << "draw " << draw;
    }
    EXPECT_EQ(RandSeed, Advance(seed, 3)) << "Random(100), Random(1), Random(2)";
  }
}

TEST(AgentRouletteWheel, RunningSumEqualToTheDrawStopsTheScan) {
  // Shares 25, 75, 0: draws 0..25 take the first, 26..99 the second.
  for (int32_t draw = 0; draw < 100; ++draw) {
    TAgent a;
    SetSensing(a, {{1, 1}, {0, 1}, {-1, 1}}, {25, 75, 0}, 40);
    RandSeed = SeedGivingDraw(100, draw);
    a.rouletteWheel(0);
    const Step expected = draw <= 25 ? Step(1, 1) : Step(0, 1);
    EXPECT_EQ(StepOf(a), expected) << "draw " << draw;
    EXPECT_EQ(a.heading, draw <= 25 ? 45 : 90);
  }
}

TEST(AgentRouletteWheel, DeviationIsDrawnAfterTheChoice) {
  TAgent a;
  SetSensing(a, {{-1, -1}, {0, -1}}, {60, 40}, 10);
  const uint32_t seed = SeedGivingDraws({{100, 61}, {11, 7}, {2, 0}});
  RandSeed = seed;
  a.rouletteWheel(10);
  EXPECT_EQ(a.heading, -90 - 7);
  EXPECT_EQ(StepOf(a), Step(0, -1)) << "the step is the candidate itself, not the deviated heading";
}

TEST(AgentRouletteWheel, RoundedSharesReachEveryDrawAndSharesOfZeroTakeTheFirst) {
  // Thirds: each share is rounded, yet their running sum reaches every draw,
  // so draws 0..33 take the first, 34..66 the second, 67..99 the third.
  // Amounts whose sum is not above 0 give shares of 0, which no draw above
  // 0 reaches: those take the first candidate, as parent picks do.
  for (int32_t draw = 0; draw < 100; ++draw) {
    TAgent a;
    SetSensing(a, {{1, 0}, {0, 1}, {-1, 1}}, {1, 1, 1}, 3);
    RandSeed = SeedGivingDraw(100, draw);
    a.rouletteWheel(0);
    EXPECT_EQ(StepOf(a), draw <= 33 ? Step(1, 0) : draw <= 66 ? Step(0, 1) : Step(-1, 1)) << "draw " << draw;

    for (const std::vector<int32_t>& zero : {std::vector<int32_t>{0, 0, 0}, {2, -2, 0}}) {
      TAgent none;
      none.stepX = -1;
      none.stepY = -1;
      SetSensing(none, {{1, 0}, {0, 1}, {-1, 1}}, zero, 0);
      RandSeed = SeedGivingDraw(100, draw);
      none.rouletteWheel(0);
      EXPECT_EQ(StepOf(none), Step(1, 0)) << "draw " << draw;
      EXPECT_EQ(none.heading, 0);
    }
  }
}

// ---------------------------------------------------------------------------
// Hill climbing

TEST(AgentHillClimbing, FirstLargestShareWins) {
  struct Case {
    std::vector<int32_t> amounts;
    Step step;
  };
  const int32_t most = INT32_MAX / 8;
  const std::vector<Step> four{{1, -1}, {1, 0}, {1, 1}, {0, 1}};
  for (const Case& c : {Case{{30, 40, 30, 40}, {1, 0}}, Case{{0, 0, 0, 100}, {0, 1}}, Case{{25, 25, 25, 25}, {1, -1}},
                        Case{{10, 20, 30, 40}, {0, 1}}, Case{{0, 0, 0, 0}, {1, -1}}, Case{{-5, -1, -3, -2}, {1, -1}},
                        Case{{-5, -1, -3, 20}, {0, 1}}, Case{{0, 1, 0, 0}, {1, 0}},
                        Case{{most - 1, most, most, 1}, {1, 0}}, Case{{1, 2, most, most}, {1, 1}}}) {
    TAgent a;
    a.heading = 180;
    SetSensing(a, four, c.amounts, 100);
    const uint32_t seed = 5u;
    RandSeed = seed;
    a.hillClimbing(0);
    EXPECT_EQ(StepOf(a), c.step) << testing::PrintToString(c.amounts);
    EXPECT_EQ(a.heading, Round(atan2l(c.step.second, c.step.first) * kDegPerRad));
    EXPECT_EQ(RandSeed, Advance(seed, 2)) << "Random(1), Random(2), no draw for the choice";
  }
}

TEST(AgentHillClimbing, ChoosesAsTheScanOverTheSharesForAnyAmounts) {
  // The first share above 0 and above all before it, found over the 64-bit
  // shares themselves, against the choice, for amounts near one another and
  // far apart, of either sign.
  std::mt19937 generator(38);
  const std::vector<Step> eight{{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}};
  for (int round = 0; round < 20000; ++round) {
    const auto count = static_cast<size_t>(1 + generator() % 8);
    const int32_t base = round % 2 == 0 ? INT32_MAX / 8 - 3 : static_cast<int32_t>(generator() % 7);
    std::vector<int32_t> amounts;
    for (size_t i = 0; i < count; ++i) amounts.push_back(base - static_cast<int32_t>(generator() % 4));
    if (round % 5 == 0) amounts[generator() % count] = -static_cast<int32_t>(generator() % 9);
    TAgent a;
    SetSensing(a, {eight.begin(), eight.begin() + static_cast<std::ptrdiff_t>(count)}, amounts, 1);
    size_t expected = 0;
    double best = 0.0;
    for (size_t i = 0; i < count; ++i) {
      if (a.shares[i] > best) best = a.shares[i], expected = i;
    }
    RandSeed = 9u;
    a.hillClimbing(0);
    ASSERT_EQ(StepOf(a), eight[expected]) << testing::PrintToString(amounts);
  }
}

TEST(AgentHillClimbing, SingleCandidateAndTheLastOfEight) {
  const std::vector<Step> eight{{-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}};
  for (size_t best = 0; best < eight.size(); ++best) {
    std::vector<int32_t> amounts(eight.size(), 5);
    amounts[best] = 65;
    TAgent a;
    SetSensing(a, eight, amounts, 20);
    RandSeed = SeedGivingDraws({{31, 30}, {2, 1}});
    a.hillClimbing(30);
    EXPECT_EQ(StepOf(a), eight[best]);
    EXPECT_EQ(a.heading, Round(atan2l(eight[best].second, eight[best].first) * kDegPerRad) + 30);
  }
}

TEST(AgentChemicalChoice, WiggleZeroGivesAMultipleOf45AndStillDrawsTwice) {
  const std::vector<Step> all{{1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}};
  const std::vector<int32_t> headings{45, 90, 135, 180, 225, 270, 315, 0};
  for (size_t k = 0; k < all.size(); ++k) {
    for (int32_t mode : {kHill, kRoulette}) {
      TAgent a = SearchingAgent();
      a.heading = 17;
      SetSensing(a, {all[k]}, {100}, 60);
      const uint32_t seed = 31337u + static_cast<uint32_t>(k);
      RandSeed = seed;
      a.ChangeHeading(200, 0, mode, 15);
      EXPECT_EQ(a.heading, headings[k]) << "candidate " << k << " mode " << mode;
      EXPECT_EQ(a.heading % 45, 0);
      EXPECT_EQ(StepOf(a), all[k]);
      EXPECT_EQ(RandSeed, Advance(seed, mode == kHill ? 2 : 3));
    }
  }
}

// ---------------------------------------------------------------------------
// Drawing

namespace {

struct Surface {
  static constexpr int32_t kSize = 24;
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kSize * kSize, 0u);
  TCanvas canvas{pixels.data(), kSize, kSize, kSize, true};
};

TAgent AgentAt(int32_t x, int32_t y, int32_t heading) {
  TAgent a;
  a.posX = x;
  a.posY = y;
  a.radius = 2;
  a.heading = heading;
  return a;
}

}  // namespace

TEST(AgentDraw, RedDiscWithGrayOutlineAndGreenHeadingLineOfFourPixels) {
  Surface s;
  const int32_t x = 10;
  const int32_t y = 11;
  AgentAt(x, y, 0).Draw(s.canvas);
  // The disc lies in the box (x - 2, y - 2) .. (x + 2, y + 2), the last
  // corner just outside: a red middle inside a gray ring.
  EXPECT_EQ(s.canvas.Pixel(x - 1, y - 1), clRed);
  EXPECT_EQ(s.canvas.Pixel(x, y - 1), clRed);
  EXPECT_EQ(s.canvas.Pixel(x - 1, y), clRed);
  EXPECT_EQ(s.canvas.Pixel(x - 2, y - 1), clGray);
  EXPECT_EQ(s.canvas.Pixel(x - 2, y), clGray);
  EXPECT_EQ(s.canvas.Pixel(x - 1, y - 2), clGray);
  EXPECT_EQ(s.canvas.Pixel(x, y - 2), clGray);
  EXPECT_EQ(s.canvas.Pixel(x + 1, y - 1), clGray);
  EXPECT_EQ(s.canvas.Pixel(x - 1, y + 1), clGray);
  EXPECT_EQ(s.canvas.Pixel(x, y + 1), clGray);
  EXPECT_EQ(s.canvas.Pixel(x + 2, y - 1), clWhite);
  EXPECT_EQ(s.canvas.Pixel(x - 3, y), clWhite);
  EXPECT_EQ(s.canvas.Pixel(x, y + 2), clWhite);
  // Heading 0: the line runs from the centre 4 pixels to the right.
  for (int32_t k = 0; k < 4; ++k) EXPECT_EQ(s.canvas.Pixel(x + k, y), clGreen) << k;
  EXPECT_EQ(s.canvas.Pixel(x + 4, y), clWhite);
  // The canvas keeps the last pen and brush.
  EXPECT_EQ(s.canvas.PenColor(), clGreen);
  EXPECT_EQ(s.canvas.BrushColor(), clRed);
  EXPECT_EQ(s.canvas.PenWidth(), 1);
}

TEST(AgentDraw, HeadingLineFollowsTheStepTable) {
  for (int32_t heading : {0, 29, 30, 60, 90, 135, 150, 180, 210, 240, 270, 300, 330, 360, 435, -75, -30}) {
    Surface s;
    const int32_t x = 12;
    const int32_t y = 12;
    AgentAt(x, y, heading).Draw(s.canvas);
    const Step step = ExpectedStep(heading);
    int32_t green = 0;
    for (int32_t py = 0; py < Surface::kSize; ++py) {
      for (int32_t px = 0; px < Surface::kSize; ++px) green += s.canvas.Pixel(px, py) == clGreen;
    }
    EXPECT_EQ(green, 4) << "heading " << heading;
    for (int32_t k = 0; k < 4; ++k) {
      EXPECT_EQ(s.canvas.Pixel(x + k * step.first, y + k * step.second), clGreen) << "heading " << heading;
    }
    EXPECT_NE(s.canvas.Pixel(x + 4 * step.first, y + 4 * step.second), clGreen) << "heading " << heading;
  }
}
