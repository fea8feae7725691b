// Precision on request: the request's form, the intervals it names, the size
// of each next round (its estimate, its bounds, the cap) and the rounds'
// record. The rounds themselves, run by pathwick_sweep, are
// tests/sweep_precision.sh's.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Precision.h"

namespace {

TEST(Precision, RequestsOfTheFormAreTakenAndOthersRefused) {
  struct TCase {
    const char* text;
    const char* measure;  // nullptr: refused
    const char* quantity;
    double width;
  };
  for (const TCase& c :
       {TCase{"trip_rate:ST=0.1", "trip_rate", "ST", 0.1}, TCase{"mean_angle:S1=0.05", "mean_angle", "S1", 0.05},
        TCase{"log1p(trip_rate)=2", "log1p(trip_rate)", "", 2},
        TCase{"trip_rate:mu_star=1e1", "trip_rate", "mu_star", 10}, TCase{"trip_rate", nullptr, "", 0},
        TCase{"trip_rate=0", nullptr, "", 0}, TCase{"trip_rate=-1", nullptr, "", 0},
        TCase{"trip_rate=nan", nullptr, "", 0}, TCase{"trip_rate=inf", nullptr, "", 0},
        TCase{"trip_rate:S2=1", nullptr, "", 0}, TCase{"=1", nullptr, "", 0}, TCase{"trip_rate:ST:x=1", nullptr, "", 0},
        TCase{"trip_rate=1=2", nullptr, "", 0}}) {
    const TResult<TPrecisionTarget> t = ParsePrecisionTarget(QString::fromLatin1(c.text));
    ASSERT_EQ(t.Ok(), c.measure != nullptr) << c.text;
    if (!c.measure) {
      EXPECT_EQ(t.Error().status, kExitRefused) << c.text;
      continue;
    }
    EXPECT_EQ(t->measure, QLatin1String(c.measure));
    EXPECT_EQ(t->quantity, QLatin1String(c.quantity));
    EXPECT_DOUBLE_EQ(t->width, c.width);
  }
  const std::vector<TStudyMeasure> study{{QStringLiteral("trip_rate"), {}}};
  EXPECT_TRUE(CheckPrecisionTargets({*ParsePrecisionTarget(QStringLiteral("trip_rate=1"))}, study).Ok());
  EXPECT_FALSE(CheckPrecisionTargets({*ParsePrecisionTarget(QStringLiteral("floor_share=1"))}, study).Ok());
  EXPECT_FALSE(CheckPrecisionTargets({}, study).Ok());
}

TExploration Factorial(double width) {
  TExploration x;
  x.measures = {{QStringLiteral("trip_rate"), {}}, {QStringLiteral("mean_angle"), {}}};
  x.analysis = QStringLiteral("factorial");
  for (const char* term : {"a", "b"}) {
    TEffect e{
        QStringLiteral("trip_rate"), QLatin1String(term), QStringLiteral("effect"), 1, 1 - width / 2, 1 + width / 2};
    x.effects.push_back(e);
  }
  x.effects.push_back({QStringLiteral("trip_rate"), QStringLiteral("seed"), QStringLiteral("seed_share"), 0.5, 0, 1});
  return x;
}

TEST(Precision, NamedIntervalsAreTheTermsOfTheMeasureOrRefused) {
  const TExploration x = Factorial(2);
  const auto all = NamedIntervals(x, {*ParsePrecisionTarget(QStringLiteral("trip_rate=1"))});
  ASSERT_TRUE(all.Ok());
  ASSERT_EQ(all->size(), 2u);  // the seeds' share is not a term's
  EXPECT_DOUBLE_EQ((*all)[1].Width(), 2);
  const auto st = NamedIntervals(x, {*ParsePrecisionTarget(QStringLiteral("trip_rate:ST=1"))});
  ASSERT_FALSE(st.Ok());
  EXPECT_TRUE(st.Error().message.contains(QStringLiteral("it makes effect"))) << qPrintable(st.Error().message);
  // A measure without any interval yet (no variation beyond the seeds' noise): one interval not made.
  const std::vector<TPrecisionTarget> angle{*ParsePrecisionTarget(QStringLiteral("mean_angle:ST=1"))};
  const auto none = NamedIntervals(x, angle);
  ASSERT_TRUE(none.Ok());
  ASSERT_EQ(none->size(), 1u);
  EXPECT_FALSE((*none)[0].made);
  EXPECT_TRUE(std::isinf((*none)[0].Width()));
  // It asks for as many seeds as a round may add, and is recorded without numbers.
  const std::vector<TJobPoint> points{{QStringLiteral("--p 1"), {1, 2}}};
  const TRoundPlan plan = PlanRound(points, 2, *none, angle, x, 100);
  EXPECT_EQ(plan.seedsPerPoint, 2 * kMostRoundGrowth);
  EXPECT_TRUE(plan.line.contains(QStringLiteral("no interval of mean_angle ST is made yet"))) << qPrintable(plan.line);
  EXPECT_TRUE(RoundsTable({}, 0, 2, 2, 2, *none, angle).endsWith("mean_angle,,ST,,,,,1,no\n"));
}

// Four points of seeds 1 and 2, the widest interval `width` for a wanted 1.
TRoundPlan Plan(double width, qint64 maxRuns, const std::vector<TWarning>& warnings = {},
                std::vector<TJobPoint> points = {}) {
  if (points.empty()) {
    for (const char* p : {"--p 1", "--p 2", "--p 3", "--p 4"}) points.push_back({QLatin1String(p), {1, 2}});
  }
  qint64 runs = 0;
  for (const TJobPoint& p : points) runs += static_cast<qint64>(p.seeds.size());
  TExploration x = Factorial(width);
  x.warnings = warnings;
  const std::vector<TPrecisionTarget> targets{*ParsePrecisionTarget(QStringLiteral("trip_rate=1"))};
  return PlanRound(points, runs, *NamedIntervals(x, targets), targets, x, maxRuns);
}

TEST(Precision, TheNextRoundIsSizedByTheWidthWithinItsBounds) {
  EXPECT_EQ(Plan(1, 100).verdict, TPrecisionVerdict::kReached);
  EXPECT_TRUE(Plan(0.5, 100).lines.isEmpty());
  // 2 seeds · 1.5² = 4.5: 5 seeds a point, 3 more each, the new seeds after the largest.
  TRoundPlan p = Plan(1.5, 100);
  EXPECT_EQ(p.verdict, TPrecisionVerdict::kNextRound);
  EXPECT_EQ(p.seedsPerPoint, 5);
  ASSERT_EQ(p.lines.size(), 12);
  EXPECT_EQ(p.lines[0], QStringLiteral("--p 1 --seed 3"));
  EXPECT_EQ(p.lines[2], QStringLiteral("--p 1 --seed 5"));
  EXPECT_EQ(p.lines[11], QStringLiteral("--p 4 --seed 5"));
  // Just over the width: one more seed; far over it: at most four times as many.
  EXPECT_EQ(Plan(1.01, 100).seedsPerPoint, 3);
  EXPECT_EQ(Plan(10, 100).seedsPerPoint, 2 * kMostRoundGrowth);
  // The seeds' share warning of a named measure asks for more; another measure's does not count.
  const TWarning share{0, QStringLiteral("seed"), QStringLiteral("seed_share"), {}, {}, 7};
  EXPECT_EQ(Plan(1.01, 100, {share}).seedsPerPoint, 7);
  TWarning other = share;
  other.measure = 1;
  EXPECT_EQ(Plan(1.01, 100, {other}).seedsPerPoint, 3);
  // The cap: 8 runs so far and 8 more to 4 seeds fit in 17, 12 more to 5 do not.
  EXPECT_EQ(Plan(10, 17).seedsPerPoint, 4);
  EXPECT_EQ(Plan(10, 17).lines.size(), 8);
  const TRoundPlan capped = Plan(10, 11);
  EXPECT_EQ(capped.verdict, TPrecisionVerdict::kCapped);
  EXPECT_TRUE(capped.lines.isEmpty());
  EXPECT_TRUE(capped.line.contains(QStringLiteral("cap of 11 runs"))) << qPrintable(capped.line);
  // Points of unequal seeds come to the same count, with seeds none of them has.
  const TRoundPlan uneven = Plan(1.2, 100, {}, {{QStringLiteral("--p 1"), {1, 2, 3}}, {QStringLiteral("--p 2"), {9}}});
  EXPECT_EQ(uneven.seedsPerPoint, 2);  // 1 seed · 1.44, and at least one more
  EXPECT_EQ(uneven.lines, QStringList{QStringLiteral("--p 2 --seed 10")});
}

TEST(Precision, ARoundRecordedAgainReplacesItsRows) {
  const TExploration x = Factorial(2);
  const std::vector<TPrecisionTarget> targets{*ParsePrecisionTarget(QStringLiteral("trip_rate:effect=1"))};
  const std::vector<TNamedInterval> intervals = *NamedIntervals(x, targets);
  const QByteArray first = RoundsTable({}, 0, 8, 8, 2, intervals, targets);
  const QByteArray second = RoundsTable(first, 1, 8, 16, 4, intervals, targets);
  EXPECT_EQ(second.count('\n'), 5);  // the header, two intervals in each of two rounds
  EXPECT_TRUE(second.contains("1,8,16,4,trip_rate:effect=1,trip_rate,b,effect,1,0,2,2,1,no\n")) << second.data();
  EXPECT_EQ(RoundsTable(second, 1, 8, 16, 4, intervals, targets), second);
  EXPECT_EQ(RoundsTable(second, 0, 8, 8, 2, intervals, targets), first);
}

}  // namespace
