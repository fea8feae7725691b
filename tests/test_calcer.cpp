// The grid and number routines of Calcer.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "Calcer.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

// The clock value that makes the next Random(100) after Randomize equal draw.
uint32_t SeedForDraw(int32_t draw) { return agents_test::SeedGivingDraw(100, draw); }

class PickByShareTest : public ::testing::Test {
 protected:
  void TearDown() override { SetRandomizeSource({}); }

  // PickByShare with the draw fixed to d.
  static int32_t PickWithDraw(const std::vector<double>& shares, int32_t d) {
    SetRandomizeSource([d] { return SeedForDraw(d); });
    return PickByShare(shares);
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// PickByShare

TEST_F(PickByShareTest, SeedHelperGivesEveryDraw) {
  for (int32_t d = 0; d < 100; ++d) {
    RandSeed = SeedForDraw(d);
    EXPECT_EQ(Random(100), d);
  }
}

TEST_F(PickByShareTest, ReseedsBeforeItsDraw) {
  // The draw depends on the source only, not on the generator's state before.
  RandSeed = 12345;
  const int32_t a = PickWithDraw({50, 50}, 51);
  RandSeed = 999;
  const int32_t b = PickWithDraw({50, 50}, 51);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  // Randomize and one draw: the generator ends one step after the source value.
  EXPECT_EQ(RandSeed, agents_test::NextSeed(SeedForDraw(51)));
}

TEST_F(PickByShareTest, SingleShareAlwaysZero) {
  for (int32_t d = 0; d < 100; ++d) {
    EXPECT_EQ(PickWithDraw({100}, d), 0) << d;
    EXPECT_EQ(PickWithDraw({0}, d), 0) << d;
    EXPECT_EQ(PickWithDraw({5}, d), 0) << d;
  }
}

TEST_F(PickByShareTest, HalfAndHalfSplitsAtFifty) {
  for (int32_t d = 0; d < 100; ++d) EXPECT_EQ(PickWithDraw({50, 50}, d), d <= 50 ? 0 : 1) << d;
}

TEST_F(PickByShareTest, RunningSumReachesTheDrawOrLastIndex) {
  for (int32_t d = 0; d < 100; ++d) {
    const int32_t expected = d <= 10 ? 0 : (d <= 30 ? 1 : 2);
    EXPECT_EQ(PickWithDraw({10, 20, 30}, d), expected) << d;
  }
}

TEST_F(PickByShareTest, FirstShareZeroStillTakesDrawZero) {
  EXPECT_EQ(PickWithDraw({0, 100}, 0), 0);
  EXPECT_EQ(PickWithDraw({0, 100}, 1), 1);
  EXPECT_EQ(PickWithDraw({0, 0, 100}, 0), 0);
  EXPECT_EQ(PickWithDraw({0, 0, 100}, 1), 2);
  // All shares zero: only the draw 0 is reached by the first index.
  EXPECT_EQ(PickWithDraw({0, 0, 0}, 0), 0);
  EXPECT_EQ(PickWithDraw({0, 0, 0}, 99), 2);
}

TEST_F(PickByShareTest, FractionalSharesOfTenEqualMembers) {
  // Ten members with equal shares of 5 (no trips made yet): the sum reaches
  // at most 50, so draws above it fall to the last member.
  const std::vector<double> shares(10, 5.0);
  EXPECT_EQ(PickWithDraw(shares, 0), 0);
  EXPECT_EQ(PickWithDraw(shares, 5), 0);
  EXPECT_EQ(PickWithDraw(shares, 6), 1);
  EXPECT_EQ(PickWithDraw(shares, 50), 9);
  EXPECT_EQ(PickWithDraw(shares, 99), 9);
  // Shares of 100/3: the running sum 33.33.. + 33.33.. is just below 66.67.
  const std::vector<double> thirds(3, 100.0 / 3);
  EXPECT_EQ(PickWithDraw(thirds, 33), 0);
  EXPECT_EQ(PickWithDraw(thirds, 34), 1);
  EXPECT_EQ(PickWithDraw(thirds, 66), 1);
  EXPECT_EQ(PickWithDraw(thirds, 67), 2);
}

TEST_F(PickByShareTest, EmptyListGivesZero) {
  for (int32_t d : {0, 50, 99}) EXPECT_EQ(PickWithDraw({}, d), 0);
}

// ---------------------------------------------------------------------------
// GridDistance

struct DistanceCase {
  int32_t col1, row1, col2, row2, expected;
};

class GridDistanceTest : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(GridDistanceTest, RoundedEuclideanWithoutWrap) {
  const DistanceCase& c = GetParam();
  EXPECT_EQ(GridDistance(c.col1, c.row1, c.col2, c.row2), c.expected);
  EXPECT_EQ(GridDistance(c.col2, c.row2, c.col1, c.row1), c.expected);  // symmetric
}

INSTANTIATE_TEST_SUITE_P(Calcer, GridDistanceTest,
                         ::testing::Values(DistanceCase{0, 0, 3, 4, 5}, DistanceCase{0, 0, 1, 1, 1},
                                           DistanceCase{0, 0, 2, 3, 4}, DistanceCase{0, 0, 5, 5, 7},
                                           DistanceCase{7, 9, 7, 9, 0}, DistanceCase{0, 0, 66, 0, 66},
                                           DistanceCase{0, 66, 0, 0, 66}, DistanceCase{10, 10, 7, 6, 5},
                                           DistanceCase{0, 0, 1, 2, 2},        // 2.236
                                           DistanceCase{0, 0, 2, 2, 3},        // 2.828
                                           DistanceCase{0, 0, 403, 403, 570},  // 569.93
                                           DistanceCase{-3, 0, 0, 4, 5}));

// The table gives GridDistance for every pair of cells: each cell of the grid
// against its corners and a middle cell, from either end.
TEST(Calcer, GridDistancesTableIsGridDistance) {
  for (const auto& [cols, rows] : {std::pair{1, 1}, std::pair{5, 3}, std::pair{3, 5}, std::pair{404, 403}}) {
    const TGridDistances table(cols, rows);
    const std::pair<int32_t, int32_t> anchors[] = {
        {0, 0}, {cols - 1, 0}, {0, rows - 1}, {cols - 1, rows - 1}, {cols / 2, rows / 3}};
    for (int32_t column = 0; column < cols; ++column) {
      for (int32_t row = 0; row < rows; ++row) {
        for (const auto& [c, r] : anchors) {
          ASSERT_EQ(table(column, row, c, r), GridDistance(column, row, c, r)) << cols << "x" << rows;
          ASSERT_EQ(table(c, r, column, row), GridDistance(c, r, column, row)) << cols << "x" << rows;
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// ByteToBits / BitsToInt

struct BitsCase {
  int32_t value;
  const char* bits;
};

class ByteToBitsTest : public ::testing::TestWithParam<BitsCase> {};

TEST_P(ByteToBitsTest, EightCharactersMostSignificantFirst) {
  EXPECT_EQ(ByteToBits(GetParam().value), GetParam().bits) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Calcer, ByteToBitsTest,
                         ::testing::Values(BitsCase{255, "11111111"}, BitsCase{0, "00000000"}, BitsCase{5, "00000101"},
                                           BitsCase{180, "10110100"}, BitsCase{256, "00000000"},
                                           BitsCase{300, "00101100"}, BitsCase{-1, "11111111"},
                                           BitsCase{128, "10000000"}, BitsCase{1, "00000001"},
                                           BitsCase{-256, "00000000"}, BitsCase{0x7FFFFFFF, "11111111"}));

struct ToIntCase {
  const char* text;
  int32_t expected;
};

class BitsToIntTest : public ::testing::TestWithParam<ToIntCase> {};

TEST_P(BitsToIntTest, LastCharacterHasWeightOne) { EXPECT_EQ(BitsToInt(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Calcer, BitsToIntTest,
                         ::testing::Values(ToIntCase{"10110100", 180}, ToIntCase{"00000101", 5}, ToIntCase{"1", 1},
                                           ToIntCase{"0", 0}, ToIntCase{"", 0}, ToIntCase{"10", 2},
                                           ToIntCase{"1111111111111111", 65535},
                                           ToIntCase{"1111111111111111111111111111111", 2147483647},
                                           // decimal digits other than 0/1 count with their value
                                           ToIntCase{"2", 2}, ToIntCase{"12", 4}, ToIntCase{"90", 18}));

TEST(Calcer, BitsToIntUndoesByteToBits) {
  for (int32_t v = 0; v <= 255; ++v) EXPECT_EQ(BitsToInt(ByteToBits(v)), v) << v;
}

TEST(Calcer, BitsToIntNamesTheLastBadCharacter) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"1a0b", "b"}, {"x", "x"}, {"a0110", "a"}, {"01 1", " "}, {"0-1", "-"}, {"1+", "+"}, {"ab", "b"}};
  for (const auto& [text, bad] : cases) {
    try {
      const int32_t value = BitsToInt(text);
      ADD_FAILURE() << "'" << text << "' converted to " << value;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + bad + "' is not a valid integer value") << text;
    }
  }
}

// ---------------------------------------------------------------------------
// WrapGrid

struct WrapCase {
  int32_t column, row, cols, rows, expectedColumn, expectedRow;
};

class WrapGridTest : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapGridTest, OneCorrectionPerCoordinate) {
  const WrapCase& c = GetParam();
  int32_t column = c.column;
  int32_t row = c.row;
  WrapGrid(column, row, c.cols, c.rows);
  EXPECT_EQ(column, c.expectedColumn);
  EXPECT_EQ(row, c.expectedRow);
}

INSTANTIATE_TEST_SUITE_P(Calcer, WrapGridTest,
                         ::testing::Values(WrapCase{-1, 5, 67, 67, 66, 5}, WrapCase{67, 5, 67, 67, 0, 5},
                                           WrapCase{66, 0, 67, 67, 66, 0}, WrapCase{0, 66, 67, 67, 0, 66},
                                           WrapCase{5, -1, 67, 67, 5, 66}, WrapCase{5, 67, 67, 67, 5, 0},
                                           WrapCase{-1, -1, 67, 67, 66, 66}, WrapCase{67, 67, 67, 67, 0, 0},
                                           WrapCase{-1, 50, 67, 50, 66, 0},  // rows wrap on their own size
                                           WrapCase{-67, 133, 67, 67, 0, 66}, WrapCase{-68, 134, 67, 67, -1, 67},
                                           WrapCase{404, -1, 404, 404, 0, 403}));

// ---------------------------------------------------------------------------
// NormalizeAngle / NormalizeAngleF

// Each case: an angle and what one call leaves of it (each correction once).
template <class T>
void ExpectEachCorrectionOnce(void (*normalize)(T&), std::initializer_list<std::pair<T, T>> cases) {
  for (const auto& [given, expected] : cases) {
    T angle = given;
    normalize(angle);
    EXPECT_EQ(angle, expected) << given;
  }
}

TEST(NormalizeAngle, EachCorrectionOnce) {
  ExpectEachCorrectionOnce<int32_t>(NormalizeAngle, {{-1, 359},
                                                     {-360, 0},
                                                     {360, 360},
                                                     {361, 1},
                                                     {720, 360},
                                                     {0, 0},
                                                     {-434, -74},
                                                     {795, 435},
                                                     {-435, -75},
                                                     {-361, -1},
                                                     {721, 361},
                                                     {180, 180},
                                                     {-180, 180}});
}

TEST(NormalizeAngleF, EachCorrectionOnce) {
  ExpectEachCorrectionOnce<double>(NormalizeAngleF, {{-0.5, 359.5},
                                                     {360.0, 360.0},
                                                     {360.5, 0.5},
                                                     {0.0, 0.0},
                                                     {-22.5, 337.5},
                                                     {-360.0, 0.0},
                                                     {720.0, 360.0},
                                                     {720.5, 360.5},
                                                     {-400.5, -40.5},
                                                     {382.5, 22.5},
                                                     {-1e-20, 360.0}});
}
