// The runtime layer: the shared generator, rounding and the text/number
// conversions, including every caption the window writes and reads back.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "CellForm.h"
#include "Runtime.h"
#include "agents_support.h"

namespace {

// The generator is process-wide: every test that touches it restores the
// clock source when it ends.
class GeneratorTest : public ::testing::Test {
 protected:
  void TearDown() override { SetRandomizeSource({}); }
};

// The decimal separator the captions are written with.
char Separator() {
  const std::lconv* conv = std::localeconv();
  return conv && conv->decimal_point && conv->decimal_point[0] ? conv->decimal_point[0] : '.';
}

}  // namespace

// ---------------------------------------------------------------------------
// Generator

TEST_F(GeneratorTest, StartStateLeavesKnownSeed) {
  RandSeed = 99;
  SetGeneratorStartState();
  EXPECT_EQ(RandSeed, 1251716356u);
}

TEST_F(GeneratorTest, RandomFollowsTheCongruentialSequence) {
  RandSeed = 1234;
  const std::vector<int32_t> expected{722, 842, 312, 2, 309, 115};
  for (int32_t value : expected) EXPECT_EQ(Random(1000), value);
  // seed := seed * 134775813 + 1 after the six draws
  EXPECT_EQ(RandSeed, 494481572u);
}

TEST_F(GeneratorTest, RandomTakesTheHighWordOfTheProduct) {
  RandSeed = 0;
  EXPECT_EQ(Random(100), 0);  // seed 1: 100 >> 32
  EXPECT_EQ(RandSeed, 1u);
  EXPECT_EQ(Random(255), 8);
  EXPECT_EQ(Random(360), 309);
  EXPECT_EQ(Random(std::numeric_limits<int32_t>::max()), 435039309);
  EXPECT_EQ(Random(1), 0);
  EXPECT_EQ(RandSeed, 1172187917u);
}

TEST_F(GeneratorTest, RandomStaysInRangeAtTheTopOfTheSeed) {
  // The seed that steps to 0xFFFFFFFF gives the largest draw, n - 1.
  const uint32_t inverse = agents_test::InverseMultiplier();
  for (int32_t n : {1, 2, 100, 255, 360, std::numeric_limits<int32_t>::max()}) {
    RandSeed = (0xFFFFFFFFu - 1u) * inverse;
    EXPECT_EQ(Random(n), n - 1) << n;
    EXPECT_EQ(RandSeed, 0xFFFFFFFFu);
  }
  RandSeed = (0xFFFFFFFFu - 1u) * inverse;
  const long double top = RandomReal();
  EXPECT_LT(top, 1.0L);
  EXPECT_EQ(top, 1.0L - 1.0L / 4294967296.0L);
}

TEST_F(GeneratorTest, RandomRealIsTheSteppedSeedTimesTwoToMinus32) {
  RandSeed = 1234;
  EXPECT_EQ(RandomReal(), 3104595995.0L / 4294967296.0L);
  EXPECT_EQ(RandSeed, 3104595995u);
  RandSeed = 0;
  EXPECT_EQ(RandomReal(), 1.0L / 4294967296.0L);
}

TEST_F(GeneratorTest, RandomizeReadsTheReplacedSource) {
  int calls = 0;
  SetRandomizeSource([&calls] {
    ++calls;
    return 4242u;
  });
  RandSeed = 1;
  Randomize();
  EXPECT_EQ(RandSeed, 4242u);
  EXPECT_EQ(calls, 1);
  // The same source makes the draws after it repeatable.
  const int32_t first = Random(1000000);
  Randomize();
  EXPECT_EQ(Random(1000000), first);
  // An empty function goes back to the clock; the old source is not called.
  SetRandomizeSource({});
  Randomize();
  EXPECT_EQ(calls, 2);
}

// ---------------------------------------------------------------------------
// Round: to nearest, ties to even

struct RoundCase {
  long double x;
  int32_t expected;
};

class RoundTest : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundTest, TiesGoToEven) {
  EXPECT_EQ(Round(GetParam().x), GetParam().expected) << static_cast<double>(GetParam().x);
}

// The quotient is taken in extended precision, then rounded ties to even.
TEST(RoundDivTest, RoundsTheExtendedQuotientTiesToEven) {
  EXPECT_EQ(RoundDiv(5, 2), 2);
  EXPECT_EQ(RoundDiv(7, 2), 4);
  EXPECT_EQ(RoundDiv(404, 6), 67);
  EXPECT_EQ(RoundDiv(404, 8), 50);
  EXPECT_EQ(RoundDiv(-9, 2), -4);
  EXPECT_EQ(RoundDiv(1.0L + 0x1p-60L, 2), 1) << "a double quotient would lose the bit that decides";
}

INSTANTIATE_TEST_SUITE_P(Runtime, RoundTest,
                         ::testing::Values(RoundCase{0.5L, 0}, RoundCase{1.5L, 2}, RoundCase{2.5L, 2},
                                           RoundCase{3.5L, 4}, RoundCase{33.5L, 34}, RoundCase{40.5L, 40},
                                           RoundCase{50.5L, 50}, RoundCase{66.5L, 66}, RoundCase{-0.5L, 0},
                                           RoundCase{-1.5L, -2}, RoundCase{-2.5L, -2}, RoundCase{-3.5L, -4},
                                           RoundCase{-179.5L, -180}, RoundCase{2.4999999L, 2}, RoundCase{2.5000001L, 3},
                                           RoundCase{-2.5000001L, -3}, RoundCase{0.49999999999999999L, 0},
                                           RoundCase{7.0L, 7}, RoundCase{-7.0L, -7}, RoundCase{0.0L, 0},
                                           RoundCase{2147483647.0L, 2147483647},
                                           RoundCase{-2147483648.0L, -2147483647 - 1}));

// ---------------------------------------------------------------------------
// StrToInt / IntToStr

struct IntCase {
  const char* text;
  int32_t expected;
};

class StrToIntValid : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToIntValid, Converts) { EXPECT_EQ(StrToInt(GetParam().text), GetParam().expected) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Runtime, StrToIntValid,
                         ::testing::Values(IntCase{"0", 0}, IntCase{"6", 6}, IntCase{"200", 200}, IntCase{"-42", -42},
                                           IntCase{"+7", 7}, IntCase{"-0", 0}, IntCase{"007", 7}, IntCase{"  12", 12},
                                           IntCase{"12  ", 12}, IntCase{" -3 ", -3}, IntCase{"\t5", 5},
                                           IntCase{"2147483647", 2147483647}, IntCase{"-2147483648", -2147483647 - 1},
                                           IntCase{"0000000000002147483647", 2147483647}));

class StrToIntInvalid : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToIntInvalid, ThrowsWithTheExactMessage) {
  const std::string text = GetParam();
  try {
    const int32_t value = StrToInt(text);
    ADD_FAILURE() << "'" << text << "' converted to " << value;
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(Runtime, StrToIntInvalid,
                         ::testing::Values("", " ", "-", "+", "abc", "1a", "a1", "1 2", "1.5", "1,5", "0x10", "--1",
                                           "+-1", "1e3", "2147483648", "-2147483649", "99999999999999999999",
                                           "-99999999999999999999", "4294967296", "\xC2\xBD"));

TEST(Runtime, IntToStrWritesDecimalDigits) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(15), "15");
  EXPECT_EQ(IntToStr(-1), "-1");
  EXPECT_EQ(IntToStr(2147483647), "2147483647");
  EXPECT_EQ(IntToStr(-2147483647 - 1), "-2147483648");
  for (int32_t v : {-100000, -1, 0, 1, 49800, 1000000}) EXPECT_EQ(StrToInt(IntToStr(v)), v);
}

// ---------------------------------------------------------------------------
// FloatToStr / StrToFloat

TEST(Runtime, FloatToStrUsesTheGeneralFormat) {
  const std::string sep(1, Separator());
  EXPECT_EQ(FloatToStr(1.0L / 100), "0" + sep + "01");
  EXPECT_EQ(FloatToStr(50.0L / 100), "0" + sep + "5");
  EXPECT_EQ(FloatToStr(15.0L), "15");
  EXPECT_EQ(FloatToStr(100.0L), "100");
  EXPECT_EQ(FloatToStr(100.0L / 100), "1");
  EXPECT_EQ(FloatToStr(0.0L), "0");
  EXPECT_EQ(FloatToStr(500.0L), "500");
  EXPECT_EQ(FloatToStr(-2.5L), "-2" + sep + "5");
}

TEST(Runtime, StrToFloatReadsExtendedPrecision) {
  const std::string sep(1, Separator());
  // Read into a 64-bit double first, 0.35 x 10 would give 3.4999... and 3.
  EXPECT_EQ(Round(StrToFloat("0" + sep + "35") * 10), 4);
  EXPECT_NE(Round(static_cast<long double>(0.35) * 10), 4) << "the double reading must differ";
}

// The evaporation amount Round(rate x 10) at every multiple of 0.05.
TEST(Runtime, EvaporationAmountsAtMultiplesOfFiveHundredths) {
  const std::vector<int32_t> expected{0, 0, 1, 2, 2, 2, 3, 4, 4, 4, 5, 6, 6, 6, 7, 8, 8, 8, 9, 10, 10};
  for (int k = 0; k <= 20; ++k) {
    const std::string caption = FloatToStr(static_cast<long double>(5 * k) / 100);
    EXPECT_EQ(Round(StrToFloat(caption) * 10), expected[k]) << caption;
  }
}

class StrToFloatInvalid : public ::testing::TestWithParam<const char*> {};

TEST_P(StrToFloatInvalid, Throws) {
  const std::string text = GetParam();
  try {
    const long double value = StrToFloat(text);
    ADD_FAILURE() << "'" << text << "' converted to " << static_cast<double>(value);
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid floating point value");
  }
}

INSTANTIATE_TEST_SUITE_P(Runtime, StrToFloatInvalid,
                         ::testing::Values("", " ", "abc", "0.01 %", "nan", "inf", "-inf", "0x1p3", "1e99999", "1..2",
                                           "5-", "e"));
