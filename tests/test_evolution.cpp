// Evolution: parents drawn by their share of the colony's trips, one-point
// crossover of their chromas, the mutation of one character, and the order
// of the draws of one reproduction.
#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollBar>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Calcer.h"
#include "CellForm.h"
#include "agents_support.h"

using agents_test::Advance;
using agents_test::DrawFrom;
using agents_test::MakeWorld;
using agents_test::NextSeed;
using agents_test::RandomizeCounter;
using agents_test::RandomizeQueue;
using agents_test::RealFrom;
using agents_test::SeedGivingDraw;
using agents_test::SeedGivingDraws;

namespace {

std::string Chroma(int angle, int wiggle) { return ByteToBits(angle) + ByteToBits(wiggle); }

// Gives the member at position k of colony 0 the genes k and k + 100 and a
// matching chroma, so a child tells which members were its parents.
void MarkColonyZero(TForm1& form) {
  const auto& members = form.colonyMembers[0];
  for (size_t k = 0; k < members.size(); ++k) {
    TAgent& a = form.agents[members[k]];
    a.angleGene = static_cast<int32_t>(k);
    a.wiggleGene = static_cast<int32_t>(k) + 100;
    a.setChroma();
    a.tripCount = 0;
  }
}

// Position in a colony whose members all have the share 5.0, for a draw.
int PositionForDraw(int draw, int members) {
  const int pos = draw <= 5 ? 0 : (draw - 1) / 5;
  return std::min(pos, members - 1);
}

struct Child {
  int first;   // position of the first parent
  int second;  // position of the second parent
};

// Reproduces agent 0 (position 0 of colony 0) with the parent draws d1 and
// d2 and the cut 8, and reads the parents back from the child's genes.
Child ReproduceWithDraws(TForm1& form, int d1, int d2) {
  MarkColonyZero(form);
  RandomizeQueue randomize;
  randomize.seeds = {SeedGivingDraw(100, d1), SeedGivingDraw(100, d2), SeedGivingDraw(16, 7)};
  form.Reproduce(form.agents[0]);
  EXPECT_EQ(randomize.calls, 3);
  const TAgent& child = form.agents[0];
  return {child.angleGene, child.wiggleGene - 100};
}

}  // namespace

// ---------------------------------------------------------------------------
// Parent shares

TEST(ParentShares, NoTripsGiveEveryMemberFivePercent) {
  struct Case {
    int agents, members;
  };
  for (const Case& c : {Case{200, 20}, Case{100, 10}, Case{300, 30}}) {
    auto form = MakeWorld(c.agents, 6);
    form->SB_mutate->setValue(0);
    ASSERT_EQ(static_cast<int>(form->colonyMembers[0].size()), c.members);
    std::set<int> drawn;
    for (int draw = 0; draw < 100; ++draw) {
      const Child child = ReproduceWithDraws(*form, draw, 99 - draw);
      EXPECT_EQ(child.first, PositionForDraw(draw, c.members)) << c.members << " members, draw " << draw;
      EXPECT_EQ(child.second, PositionForDraw(99 - draw, c.members)) << c.members << " members, draw " << 99 - draw;
      drawn.insert(child.first);
    }
    if (c.members == 20) {
      EXPECT_EQ(drawn.size(), 20u) << "with 20 members every member can be drawn";
      EXPECT_EQ(ReproduceWithDraws(*form, 95, 96).first, 18);
      EXPECT_EQ(ReproduceWithDraws(*form, 96, 5).first, 19) << "the last member for draws 96..99 only";
      EXPECT_EQ(ReproduceWithDraws(*form, 5, 6).first, 0);
      EXPECT_EQ(ReproduceWithDraws(*form, 6, 5).first, 1);
    }
    if (c.members == 10) {
      EXPECT_EQ(drawn.size(), 10u);
      for (int draw = 46; draw < 100; ++draw) {
        EXPECT_EQ(ReproduceWithDraws(*form, draw, 0).first, 9) << "draw " << draw << " goes to the last member";
      }
    }
    if (c.members == 30) {
      EXPECT_EQ(drawn.size(), 20u);
      EXPECT_LT(*drawn.rbegin(), 20) << "members 21..30 are never drawn";
    }
  }
}

TEST(ParentShares, TripsSetTheSharesAndTheExhaustedAgentCountsToo) {
  auto form = MakeWorld(200, 6);
  form->SB_mutate->setValue(0);
  const auto& members = form->colonyMembers[0];
  struct Case {
    std::vector<std::pair<int, int>> trips;  // (position, trips)
    std::vector<std::pair<int, int>> draws;  // (last draw of a range, position)
  };
  const std::vector<Case> cases{
      // One member with trips takes every draw but 0, which always stays with the first.
      {{{3, 5}}, {{0, 0}, {99, 3}}},
      // Shares 25 and 75.
      {{{2, 1}, {7, 3}}, {{0, 0}, {25, 2}, {99, 7}}},
      // The exhausted agent itself (position 0) has half of the trips.
      {{{0, 2}, {5, 2}}, {{50, 0}, {99, 5}}},
  };
  for (const Case& c : cases) {
    int from = 0;
    for (const auto& [last, position] : c.draws) {
      for (int draw = from; draw <= last; ++draw) {
        MarkColonyZero(*form);
        for (const auto& [p, t] : c.trips) form->agents[members[p]].tripCount = t;
        RandomizeQueue randomize;
        randomize.seeds = {SeedGivingDraw(100, draw), SeedGivingDraw(100, draw), SeedGivingDraw(16, 7)};
        form->Reproduce(form->agents[0]);
        EXPECT_EQ(form->agents[0].angleGene, position) << "draw " << draw;
        EXPECT_EQ(form->agents[0].wiggleGene, position + 100) << "draw " << draw;
      }
      from = last + 1;
    }
  }
  // Other members keep their counts when one is replaced.
  MarkColonyZero(*form);
  form->agents[members[4]].tripCount = 9;
  form->agents[0].tripCount = 3;
  RandomizeCounter counter(1u);
  form->Reproduce(form->agents[0]);
  EXPECT_EQ(form->agents[members[4]].tripCount, 9);
  EXPECT_EQ(form->agents[0].tripCount, 0);
}

TEST(ParentShares, BirthsInTheMovementPassSeeTripsChangedBetweenPasses) {
  auto form = MakeWorld(20, 6);
  form->SB_mutate->setValue(0);
  const auto& members = form->colonyMembers[0];
  ASSERT_EQ(members, (std::vector<int32_t>{0, 10}));
  // Each pass: agent 0 runs out of energy and is born again from the
  // parents of draws 50 and 50, cut 8; the child's genes name the parent.
  const auto passWithTrips = [&](int32_t tripsOfFirst, int32_t tripsOfSecond) {
    MarkColonyZero(*form);
    form->agents[members[0]].tripCount = tripsOfFirst;
    form->agents[members[1]].tripCount = tripsOfSecond;
    form->agents[0].energy = 0;
    RandomizeQueue randomize;
    randomize.seeds = {SeedGivingDraw(100, 50), SeedGivingDraw(100, 50), SeedGivingDraw(16, 7)};
    form->MoveAgents();
    EXPECT_EQ(randomize.calls, 3);
    return static_cast<int>(form->agents[0].angleGene);
  };
  EXPECT_EQ(passWithTrips(0, 3), 1) << "all trips are the second member's";
  EXPECT_EQ(passWithTrips(2, 0), 0) << "all trips are now the first member's";
  EXPECT_EQ(passWithTrips(0, 0), 1) << "no trips: shares of 5 each, draw 50 goes to the last member";
  EXPECT_EQ(form->births, 3);
}

// ---------------------------------------------------------------------------
// Crossover

class CrossoverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = MakeWorld(30, 6);
    MarkColonyZero(*form_);
  }
  TAgent& Member(int position) { return form_->agents[form_->colonyMembers[0][position]]; }
  // Crossover of the members at positions 1 and 2 into the agent at position 0.
  TAgent& Cross(int cut, int first = 1, int second = 2) {
    RandomizeQueue randomize;
    const uint32_t seed = SeedGivingDraw(16, cut - 1);
    randomize.seeds = {seed};
    form_->Crossover(Member(0), {first, second}, 0);
    EXPECT_EQ(randomize.calls, 1);
    EXPECT_EQ(RandSeed, NextSeed(seed)) << "one reseed, one draw";
    return Member(0);
  }
  std::unique_ptr<TForm1> form_;
};

// Parents' genes (angle, wiggle), the cut and the child's genes.
struct CrossCase {
  const char* name;
  int32_t angle1, wiggle1, angle2, wiggle2;
  int cut;
  int32_t angle, wiggle;
};

class CrossoverGenes : public CrossoverTest, public ::testing::WithParamInterface<CrossCase> {};

TEST_P(CrossoverGenes, TheChildDecodesItsGenesFromTheJoinedChroma) {
  const CrossCase& c = GetParam();
  Member(1).chroma = Chroma(c.angle1, c.wiggle1);
  Member(2).chroma = Chroma(c.angle2, c.wiggle2);
  const TAgent& child = Cross(c.cut);
  EXPECT_EQ(child.chroma, Chroma(c.angle, c.wiggle));
  EXPECT_EQ(child.angleGene, c.angle);
  EXPECT_EQ(child.wiggleGene, c.wiggle);
}

INSTANTIATE_TEST_SUITE_P(Evolution, CrossoverGenes,
                         ::testing::Values(CrossCase{"cut8_angleOfOneWiggleOfTwo", 170, 15, 85, 240, 8, 170, 240},
                                           CrossCase{"highBitOf128_lowBitsOf127_give255", 128, 3, 127, 77, 1, 255, 77},
                                           CrossCase{"cut16_copiesParentOne", 201, 19, 0, 0, 16, 201, 19}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrossoverTest, EveryCutTakesThatManyCharactersFromParentOne) {
  const std::string p1 = "1111000011001010";
  const std::string p2 = "0000111100110101";
  for (int cut = 1; cut <= 16; ++cut) {
    Member(1).chroma = p1;
    Member(2).chroma = p2;
    const TAgent& child = Cross(cut);
    const std::string expected = p1.substr(0, cut) + p2.substr(cut);
    EXPECT_EQ(child.chroma, expected) << "cut " << cut;
    EXPECT_EQ(child.angleGene, BitsToInt(expected.substr(0, 8))) << "cut " << cut;
    EXPECT_EQ(child.wiggleGene, BitsToInt(expected.substr(8))) << "cut " << cut;
  }
}

TEST_F(CrossoverTest, ResetsEnergyTripsAndSearchingAndKeepsEverythingElse) {
  agents_test::PutAgent(*form_, form_->colonyMembers[0][0], 11, 12, 433, false);
  TAgent& a = Member(0);
  a.energy = -12;
  a.tripCount = 7;
  a.centerX = 34;
  a.centerY = 34;
  a.knowsCenter = 1;
  a.stepX = -1;
  a.stepY = 1;
  a.scent = 99;
  a.candidates = {{1, 1}, {0, 1}};
  a.shares.AssignAmounts({40, 60});
  const auto kept = [](const TAgent& x) {
    return std::tuple(x.heading, x.cellX, x.cellY, x.posX, x.posY, x.homeX, x.homeY, x.centerX, x.centerY, x.colony,
                      x.knowsCenter, x.radius, x.stepX, x.stepY, x.scent, x.candidates, x.shares);
  };
  const auto before = kept(a);
  Cross(5);
  EXPECT_EQ(a.energy, 100000);
  EXPECT_EQ(a.tripCount, 0);
  EXPECT_TRUE(a.searching);
  EXPECT_TRUE(kept(a) == before) << "crossover changes only energy, trips, searching and the genes";
}

TEST_F(CrossoverTest, TheAgentMayBeItsOwnParent) {
  Member(0).chroma = Chroma(255, 0);
  Member(1).chroma = Chroma(0, 255);
  TAgent& child = Cross(4, 0, 1);  // parent 1 is the agent being overwritten
  EXPECT_EQ(child.chroma, "1111000011111111");
  Member(0).chroma = Chroma(255, 0);
  TAgent& again = Cross(12, 1, 0);  // parent 2 is the agent being overwritten
  EXPECT_EQ(again.chroma, "0000000011110000");
}

// ---------------------------------------------------------------------------
// Mutation

class MutationTest : public ::testing::Test {
 protected:
  void SetUp() override { form_ = MakeWorld(10, 6); }
  TAgent& Agent() {
    TAgent& a = form_->agents[0];
    a.angleGene = 5;
    a.wiggleGene = 200;
    a.chroma = Chroma(5, 200);
    return a;
  }
  std::unique_ptr<TForm1> form_;
};

TEST_F(MutationTest, RateZeroNeverMutates) {
  form_->SB_mutate->setValue(0);
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    TAgent& a = Agent();
    const uint32_t start = seed * 1431655765u;
    RandSeed = start;
    form_->Mutate(a);
    ASSERT_EQ(a.chroma, Chroma(5, 200)) << "seed " << start;
    ASSERT_EQ(RandSeed, NextSeed(start)) << "the test draw is still made";
  }
  // The largest real draw, just below 1, does not mutate at rate 0 either.
  TAgent& a = Agent();
  RandSeed = (0xFFFFFFFFu - 1u) * agents_test::InverseMultiplier();
  form_->Mutate(a);
  EXPECT_EQ(a.chroma, Chroma(5, 200));
}

TEST_F(MutationTest, RateOneAlwaysFlipsOneOfTheFirstFifteenCharactersAndLeavesTheGenes) {
  form_->SB_mutate->setValue(100);
  std::set<int> positions;
  for (uint32_t seed = 0; seed < 3000; ++seed) {
    TAgent& a = Agent();
    const uint32_t start = seed * 2654435761u;
    RandSeed = start;
    form_->Mutate(a);
    const std::string before = Chroma(5, 200);
    int differing = 0;
    int position = 0;
    for (int k = 0; k < 16; ++k) {
      if (a.chroma[k] != before[k]) {
        ++differing;
        position = k + 1;
      }
    }
    ASSERT_EQ(differing, 1) << "seed " << start;
    ASSERT_NE(position, 16) << "the last character never mutates";
    ASSERT_EQ(position, DrawFrom(Advance(start, 2), 15) + 1) << "seed " << start;
    ASSERT_EQ(a.chroma.size(), 16u);
    ASSERT_EQ(a.angleGene, 5);
    ASSERT_EQ(a.wiggleGene, 200);
    ASSERT_EQ(RandSeed, Advance(start, 2));
    positions.insert(position);
  }
  EXPECT_EQ(positions.size(), 15u) << "every one of positions 1..15 occurs";
  EXPECT_EQ(*positions.begin(), 1);
  EXPECT_EQ(*positions.rbegin(), 15);
}

TEST_F(MutationTest, FlippingCharacterThreeChangesTheChromaButNotTheAngleGene) {
  form_->SB_mutate->setValue(100);
  TAgent& a = Agent();
  RandSeed = SeedGivingDraws({{1, 0}, {15, 2}});  // any real draw, then position 3
  form_->Mutate(a);
  EXPECT_EQ(a.chroma, "0010010111001000");
  EXPECT_EQ(a.angleGene, 5);
  EXPECT_EQ(a.wiggleGene, 200);
  // A later child decodes the flipped character.
  RandomizeQueue randomize;
  randomize.seeds = {SeedGivingDraw(16, 15)};  // cut 16: a copy of parent 1
  form_->SB_mutate->setValue(0);
  form_->Crossover(form_->agents[1], {0, 0}, 0);
  EXPECT_EQ(form_->agents[1].angleGene, 37);
}

TEST_F(MutationTest, TheRateComesFromTheScrollBarAndTheRealDrawDecides) {
  form_->SB_mutate->setValue(50);
  int mutated = 0;
  for (uint32_t seed = 0; seed < 400; ++seed) {
    TAgent& a = Agent();
    const uint32_t start = seed * 2246822519u;
    RandSeed = start;
    form_->Mutate(a);
    const bool expected = RealFrom(NextSeed(start)) < 0.5L;
    ASSERT_EQ(a.chroma != Chroma(5, 200), expected) << "seed " << start;
    ASSERT_EQ(RandSeed, Advance(start, expected ? 2 : 1));
    mutated += expected;
  }
  EXPECT_GT(mutated, 100);
  EXPECT_LT(mutated, 300);
  // The label is not read: a caption that says 0 does not stop mutation.
  form_->SB_mutate->setValue(100);
  form_->Lbl_mutate->setText(QStringLiteral("0 %"));
  TAgent& a = Agent();
  RandSeed = 12345u;
  form_->Mutate(a);
  EXPECT_NE(a.chroma, Chroma(5, 200));
}

// ---------------------------------------------------------------------------
// One reproduction, draw by draw

TEST(Reproduction, DrawsComeInTheDocumentedOrder) {
  auto form = MakeWorld(200, 6);
  form->SB_mutate->setValue(50);
  const auto& members = form->colonyMembers[0];
  int mutations = 0;
  for (uint32_t start = 5000; start < 5000 + 3 * 40; start += 3) {
    MarkColonyZero(*form);
    for (size_t k = 0; k < members.size(); ++k) form->agents[members[k]].chroma = Chroma(k * 12, 255 - k * 11);
    std::vector<std::string> chromas;
    for (int32_t m : members) chromas.push_back(form->agents[m].chroma);

    // Worked by hand from the three seeds start, start + 1, start + 2.
    const int d1 = DrawFrom(NextSeed(start), 100);
    const int d2 = DrawFrom(NextSeed(start + 1), 100);
    uint32_t seed = NextSeed(start + 2);
    const int cut = DrawFrom(seed, 16) + 1;
    seed = NextSeed(seed);
    const bool mutate = RealFrom(seed) < 0.5L;
    std::string expected =
        chromas[PositionForDraw(d1, 20)].substr(0, cut) + chromas[PositionForDraw(d2, 20)].substr(cut);
    const int expectedAngle = BitsToInt(expected.substr(0, 8));
    const int expectedWiggle = BitsToInt(expected.substr(8));
    if (mutate) {
      seed = NextSeed(seed);
      char& c = expected[DrawFrom(seed, 15)];
      c = c == '0' ? '1' : '0';
      ++mutations;
    }

    RandomizeCounter counter(start);
    TAgent& agent = form->agents[members[7]];
    agent.energy = 0;
    form->Reproduce(agent);
    EXPECT_EQ(counter.next, start + 3) << "three reseeds: two parent picks and the cut";
    EXPECT_EQ(agent.chroma, expected) << "seeds from " << start;
    EXPECT_EQ(agent.angleGene, expectedAngle);
    EXPECT_EQ(agent.wiggleGene, expectedWiggle);
    EXPECT_EQ(agent.energy, 100000);
    EXPECT_EQ(RandSeed, seed) << "no draw beyond the mutation's";
  }
  EXPECT_GT(mutations, 0);
  EXPECT_LT(mutations, 40);
}
