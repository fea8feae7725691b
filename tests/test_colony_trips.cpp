// Parent picks from a colony's kept trip counts: every pick is the member
// that the running-sum scan over the shares (PickByShare) gives for the same
// draw, for colonies with ties, no trips, one member, huge counts, and for
// millions of draws over colonies changed at random.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Calcer.h"
#include "ColonyTrips.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

constexpr int kRandomRounds = 15000;  // of 100 draws each
constexpr int32_t kDraws = 100;

class ColonyTripsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (int32_t d = 0; d < kDraws; ++d) seeds_[d] = agents_test::SeedGivingDraw(kDraws, d);
  }
  void SetUp() override {
    SetRandomizeSource([this] { return seeds_[draw_]; });
  }
  void TearDown() override { SetRandomizeSource({}); }

  static TColonyTrips Colony(const std::vector<int32_t>& trips) {
    TColonyTrips colony;
    colony.Reset(trips.size());
    for (size_t k = 0; k < trips.size(); ++k) colony.Set(k, trips[k]);
    return colony;
  }

  // Compares the pick of every draw with the scan over the colony's shares;
  // returns the picks that differ, as text, and counts the draws compared.
  std::string Mismatches(const TColonyTrips& colony) {
    std::vector<double> shares;
    for (size_t k = 0; k < colony.size(); ++k) shares.push_back(TColonyTrips::Share(colony.Trips(k), colony.Total()));
    std::string out;
    for (draw_ = 0; draw_ < kDraws; ++draw_) {
      const int32_t expected = PickByShare(shares);
      const int32_t picked = colony.Pick(draw_);
      ++compared;
      if (picked != expected && out.size() < 400) {
        out += " draw " + std::to_string(draw_) + ": " + std::to_string(picked) + " not " + std::to_string(expected);
      }
    }
    return out;
  }

  int64_t compared = 0;

 private:
  static inline std::array<uint32_t, kDraws> seeds_{};
  int32_t draw_ = 0;
};

std::vector<int32_t> Repeated(size_t count, int32_t trips) { return std::vector<int32_t>(count, trips); }

}  // namespace

TEST_F(ColonyTripsTest, EveryDrawMatchesTheScanOnChosenColonies) {
  struct Case {
    const char* name;
    std::vector<int32_t> trips;
  };
  std::vector<int32_t> sparse = Repeated(5000, 0);  // trips few and far apart, totals of 100
  for (size_t k = 37; k < sparse.size(); k += 50) sparse[k] = 1;
  std::vector<int32_t> huge = Repeated(400, INT32_MAX);
  huge[3] = 1;
  huge[399] = 0;
  std::vector<int32_t> mixed;
  for (int32_t k = 0; k < 1000; ++k) mixed.push_back(k % 7 == 0 ? 0 : k % 3 + 1);
  const std::vector<Case> cases{
      {"empty colony", {}},
      {"one member without trips", {0}},
      {"one member with trips", {17}},
      {"one member with the most trips an agent holds", {INT32_MAX}},
      {"nobody has made a trip, 20 members", Repeated(20, 0)},
      {"nobody has made a trip, 7 members", Repeated(7, 0)},
      {"nobody has made a trip, 100,000 members", Repeated(100000, 0)},
      {"shares of 25", {1, 1, 1, 1}},
      {"shares of 20 with members between them without trips", {0, 2, 0, 0, 2, 2, 0, 2, 2, 0}},
      {"only the last member has trips", {0, 0, 0, 0, 5}},
      {"only the first member has trips", {5, 0, 0, 0, 0}},
      {"thirds: every draw meets a running sum exactly", Repeated(300, 1)},
      {"sevenths: every draw meets a running sum exactly", Repeated(700, 1)},
      {"sparse", sparse},
      {"huge counts", huge},
      {"all members at the largest count", Repeated(1000, INT32_MAX)},
      {"small counts with gaps", mixed},
      {"a negative count", {3, -1, 4, 0, 2}},
      {"counts that cancel out", {2, -2, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(Mismatches(Colony(c.trips)), "") << c.name;
}

TEST_F(ColonyTripsTest, DrawsOutsideThePercentageFollowTheScan) {
  const TColonyTrips colony = Colony({0, 4, 0, 0});
  // Draws only come from Random(100), but the pick answers any draw as the scan would.
  EXPECT_EQ(colony.Pick(-1), 0);
  EXPECT_EQ(colony.Pick(100), 1) << "the sum reaches 100 at the one member with trips";
  EXPECT_EQ(colony.Pick(101), 3) << "no crossing: the last member";
  EXPECT_EQ(colony.ScanPick(101), 3);
}

TEST_F(ColonyTripsTest, MillionsOfDrawsOverColoniesChangedAtRandom) {
  std::mt19937_64 random(20261208);
  TColonyTrips colony;
  int32_t ties = 0;
  for (int round = 0; round < kRandomRounds; ++round) {
    if (round % 500 == 0) {
      // A fresh colony now and then, of sizes from one member to thousands.
      const std::array<size_t, 6> sizes{1, 2, 10, 100, 300, 3000};
      colony.Reset(sizes[(round / 500) % sizes.size()] + random() % 7);
    }
    // A few members change at a time, as trips are counted and parents
    // replaced: small counts mostly, now and then a huge one, often 0.
    const size_t changes = 1 + random() % 4;
    for (size_t i = 0; i < changes; ++i) {
      const size_t member = random() % colony.size();
      const uint64_t kind = random() % 16;
      const int32_t trips = kind < 5    ? 0
                            : kind < 14 ? static_cast<int32_t>(random() % 4)
                            : kind < 15 ? static_cast<int32_t>(random() % 1000)
                                        : INT32_MAX - static_cast<int32_t>(random() % 3);
      colony.Set(member, trips);
    }
    if (colony.Total() > 0 && colony.Total() % 100 == 0) ++ties;
    const std::string mismatches = Mismatches(colony);
    ASSERT_EQ(mismatches, "") << "round " << round << ", " << colony.size() << " members, total " << colony.Total();
  }
  EXPECT_EQ(compared, int64_t{kRandomRounds} * kDraws);
  EXPECT_GT(ties, kRandomRounds / 200) << "totals where every draw can meet a running sum exactly";
}

TEST_F(ColonyTripsTest, TotalFollowsEveryChange) {
  TColonyTrips colony;
  colony.Reset(70);
  colony.Set(3, 5);
  colony.Set(69, INT32_MAX);
  colony.Set(3, 2);
  colony.Set(40, 0);
  EXPECT_EQ(colony.Total(), int64_t{INT32_MAX} + 2);
  EXPECT_EQ(colony.Pick(50), 69);
  EXPECT_EQ(colony.Pick(1), 69) << "2 trips of over two billion are not one percent";
  colony.Set(69, 0);
  EXPECT_EQ(colony.Pick(99), 3);
  colony.Reset(2);
  EXPECT_EQ(colony.Total(), 0);
  EXPECT_EQ(colony.Pick(99), 1);
}
