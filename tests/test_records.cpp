// Records that repeat their runs: the command line as parsed, job lists
// that write every varied setting and say when values are one world,
// run.json and --config repeating plain runs, continuations and branches
// byte for byte, --verify's three outcomes, summaries' groups, and a run
// folder that appears whole or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <set>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "CellForm.h"
#include "Checkpoint.h"
#include "Design.h"
#include "Experiment.h"
#include "Grid.h"
#include "Options.h"
#include "Pictures.h"
#include "Plan.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "Series.h"
#include "Summary.h"
#include "SweepFolder.h"
#include "agents_support.h"

namespace {

using runner_test::Finished;
using runner_test::ReadFile;
using runner_test::RunProgram;
using runner_test::WriteFile;

// --- The parser, in process ---

struct ParseCase {
  QStringList arguments;
  int status;                                             // kExitDone: parsed
  std::vector<std::pair<const char*, int32_t>> settings;  // given settings and their values
  const char* message;                                    // for a refusal: what it must mention
};

TEST(Parser, EveryFlagOnOffOrBareAndEveryModeTakesOnlyWhatItUses) {
  const ParseCase table[] = {
      {{"--diffuse"}, kExitDone, {{"diffuse", 1}}, ""},
      {{"--diffuse", "on"}, kExitDone, {{"diffuse", 1}}, ""},
      {{"--diffuse", "off"}, kExitDone, {{"diffuse", 0}}, ""},
      {{"--diffuse=off"}, kExitDone, {{"diffuse", 0}}, ""},
      {{"-diffuse", "off", "--steps", "5"}, kExitDone, {{"diffuse", 0}}, ""},
      {{"--knows-center"}, kExitDone, {{"knows-center", 1}}, ""},
      {{"--knows-center", "off"}, kExitDone, {{"knows-center", 0}}, ""},
      {{"--knows-center=on", "--diffuse", "--sniff", "roulette"},
       kExitDone,
       {{"knows-center", 1}, {"diffuse", 1}, {"sniff", 1}},
       ""},
      {{"--diffuse", "--knows-center", "off"}, kExitDone, {{"diffuse", 1}, {"knows-center", 0}}, ""},
      {{"--job", "--diffuse off --knows-center --evaporation-rate 0.35"},
       kExitDone,
       {{"diffuse", 0}, {"knows-center", 1}, {"evaporation-rate", 35}},
       ""},
      {{"--grid", "--vary", "diffuse=off,on", "--knows-center"}, kExitDone, {{"knows-center", 1}}, ""},
      {{"--diffuse", "maybe"}, kExitRefused, {}, "maybe"},
      {{"--knows-center=yes"}, kExitRefused, {}, "--knows-center takes on or off"},
      {{"--diffuse", "off", "--diffuse"}, kExitRefused, {}, "more than once"},
      {{"--show", "--out", "x"}, kExitRefused, {}, "--show does not take --out"},
      {{"--show", "--plot"}, kExitRefused, {}, "--show does not take --plot"},
      {{"--show", "--histograms"}, kExitRefused, {}, "--show does not take --histograms"},
      {{"--show", "--quiet"}, kExitRefused, {}, "--show does not take --quiet"},
      {{"--grid", "--out", "x"}, kExitRefused, {}, "--grid does not take --out"},
      {{"--grid", "--config", "r.json"}, kExitRefused, {}, "--grid does not take --config"},
      {{"--grid", "--quiet"}, kExitRefused, {}, "--grid does not take --quiet"},
      {{"--summarize", "d", "--steps", "5"}, kExitRefused, {}, "--summarize does not take --steps"},
      {{"--verify", "d", "--diffuse"}, kExitRefused, {}, "--verify does not take --diffuse"},
      {{"--seeds", "1-3"}, kExitRefused, {}, "give --grid too"},
      {{"--job", "--verify d"}, kExitRefused, {}, "--verify"},
      // Quoted input stays on the message's one line.
      {{"--s\nx"}, kExitRefused, {}, "unknown option 's\\nx'"},
      // Past a few, unknown options are counted, not all named.
      {{"--a", "--b", "--a", "--c", "--d", "--e", "--f"},
       kExitRefused,
       {},
       "unknown options: a, b, a, c, d and 2 more."},
      {{"--steps", "1\r\x1b"}, kExitRefused, {}, "not '1\\r\\x1b'"},
      // The study's measures and scales, checked before anything is read.
      {{"--summarize", "d", "--measure", "mean_chemical,floor_share", "--measure", "log1p(trip_rate)"},
       kExitDone,
       {},
       ""},
      {{"--summarize", "d", "--measure", "trip_rate", "--transform", "trip_rate=log1p", "--factor-coding",
        "categorical"},
       kExitDone,
       {},
       ""},
      {{"--summarize", "d", "--measure", "bogus"},
       kExitRefused,
       {},
       "no measure is called 'bogus'; the known ones are trip_rate, birth_rate, avg_angle"},
      {{"--summarize", "d", "--measure", "sqrt(trip_rate)"},
       kExitRefused,
       {},
       "no measure is called 'sqrt(trip_rate)'"},
      {{"--summarize", "d", "--measure", "step"}, kExitRefused, {}, "no measure is called 'step'"},
      {{"--summarize", "d", "--transform", "trip_rate=sqrt"}, kExitRefused, {}, "--transform takes NAME=FN"},
      {{"--summarize", "d", "--measure", "mean_chemical", "--transform", "trip_rate=log1p"},
       kExitRefused,
       {},
       "no measure trip_rate on its raw scale (it has mean_chemical)"},
      {{"--summarize", "d", "--factor-coding", "cubic"}, kExitRefused, {}, "auto, linear or categorical"},
      {{"--grid", "--measure", "trip_rate"}, kExitRefused, {}, "--grid does not take --measure"},
  };
  for (const ParseCase& c : table) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const TResult<TCommand> parsed = ParseCommandLine(c.arguments);
    if (c.status != kExitDone) {
      ASSERT_FALSE(parsed.Ok());
      EXPECT_EQ(parsed.Error().status, c.status);
      EXPECT_TRUE(parsed.Error().message.contains(QLatin1String(c.message))) << parsed.Error().message.toStdString();
      EXPECT_FALSE(parsed.Error().message.contains(QLatin1Char('\n')) ||
                   parsed.Error().message.contains(QLatin1Char('\r')))
          << parsed.Error().message.toStdString();
      continue;
    }
    ASSERT_TRUE(parsed.Ok()) << parsed.Error().message.toStdString();
    size_t given = 0;
    for (const auto& [name, value] : c.settings) {
      const std::optional<int32_t>& setting = parsed->run.settings[*FindSetting(QLatin1String(name))];
      ASSERT_TRUE(setting.has_value()) << name;
      EXPECT_EQ(*setting, value) << name;
      ++given;
    }
    size_t parsedCount = 0;
    for (const auto& setting : parsed->run.settings) parsedCount += setting.has_value() ? 1 : 0;
    EXPECT_EQ(parsedCount, given) << "no setting appears that was not given";
  }
}

// --vary's values: lists, LO:HI:STEP ranges counted in the setting's own
// units (a rate's hundredths, so no end drifts), and both mixed.
TEST(Parser, VaryRangesStepExactlyToTheirEndAndAreRefusedInOneLine) {
  const struct {
    const char* vary;
    std::vector<int32_t> values;  // empty: refused
    const char* message;          // for a refusal: what it must mention
  } table[] = {
      {"mark-strength=10:100:10", {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, ""},
      {"evaporation-rate=0.1:0.9:0.2", {10, 30, 50, 70, 90}, ""},
      {"evaporation-rate=0:1:0.1", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, ""},
      {"mark-strength=10:30:10,55", {10, 20, 30, 55}, ""},
      {"mutation-rate=0.05,0.1:0.2:0.05", {5, 10, 15, 20}, ""},
      {"mark-strength=10:95:10", {10, 20, 30, 40, 50, 60, 70, 80, 90}, ""},
      {"sniff-threshold=7:7:1", {7}, ""},
      {"mark-strength=10:20:500", {10}, ""},
      {"mark-strength=10:100:0", {}, "step is more than 0"},
      {"mark-strength=10:100:-5", {}, "step is more than 0"},
      {"evaporation-rate=0.1:0.9:0.005", {}, "step is more than 0"},
      {"mark-strength=30:10:10", {}, "HI is below its LO"},
      {"mark-strength=10:200:10", {}, "--vary mark-strength takes a whole number from 0 to 100, not '200'"},
      {"evaporation-rate=0.1:1.5:0.1", {}, "not '1.5'"},
      {"mark-strength=10:100", {}, "a range is LO:HI:STEP"},
      {"mark-strength=1:2:3:4", {}, "a range is LO:HI:STEP"},
      {"diffuse=0:1:1", {}, "--vary diffuse: a range is for numbers"},
      {"sniff=hill:roulette:1", {}, "--vary sniff: a range is for numbers"},
      {"agents=0:1000000:1", {}, "more values than a job list's 1000000 lines"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.vary);
    const TResult<TCommand> parsed = ParseCommandLine({"--grid", "--vary", QLatin1String(row.vary)});
    if (row.values.empty()) {
      ASSERT_FALSE(parsed.Ok());
      EXPECT_EQ(parsed.Error().status, kExitRefused);
      EXPECT_TRUE(parsed.Error().message.contains(QLatin1String(row.message))) << parsed.Error().message.toStdString();
      EXPECT_FALSE(parsed.Error().message.contains(QLatin1Char('\n')));
      continue;
    }
    ASSERT_TRUE(parsed.Ok()) << parsed.Error().message.toStdString();
    ASSERT_EQ(parsed->vary.size(), 1);
    EXPECT_EQ(std::vector<int32_t>(parsed->vary[0].values.begin(), parsed->vary[0].values.end()), row.values);
  }
}

// What --design takes, and what a run takes as a job line's design point:
// only a point its command makes. One command line a row, as a shell splits it.
TEST(Parser, DesignsTakeTheirOptionsAndARunOnlyAPointOfItsDesignsCommand) {
  const QString lhs =
      QStringLiteral(R"( --design-factors agents --design-command "--design lhs --samples 4 --range agents=1:9")");
  const struct {
    QString line;
    const char* message;  // empty: parsed
  } table[] = {
      {"--grid --design lhs --samples 4 --range agents=1:5 --vary sniff=hill,roulette",
       "--vary and --design do not mix"},
      {"--grid --samples 4", "--samples is for --design: give --design too"},
      {"--grid --design lhs --samples 4", "needs --samples N and a --range"},
      {"--grid --design grid --samples 4 --range sniff", "lhs, sobol or morris"},
      {"--grid --design morris --samples 4 --range sniff --levels 5", "--levels takes an even number"},
      {"--grid --design lhs --samples 4 --range sniff --levels 4", "--levels is for --design morris"},
      {"--grid --design sobol --samples 4 --range sniff --design-seed 3", "a Sobol sequence draws nothing"},
      {"--grid --design sobol --samples 333334 --range sniff --seeds 1", "more than 1000000 lines"},
      {"--grid --design sobol --samples 333333 --range sniff --seeds 1", ""},
      {"--grid --design lhs --samples 4 --range agents=20:10", "HI is above LO"},
      {"--grid --design lhs --samples 4 --range agents", "--range agents takes LO:HI"},
      {"--grid --design lhs --samples 4 --range mark-strength=0:200",
       "mark-strength takes a whole number from 0 to 100, not '200'"},
      {"--grid --design lhs --samples 4 --range agents=1:5 --range agents=2:6", "--range names agents twice"},
      {"--grid --design lhs --samples 4 --range agents=1:5 --agents 3", "--agents is both given and ranged"},
      {"--grid --design lhs --samples 4 --range evaporation_rate=0.1:0.2", "--range takes NAME=LO:HI"},
      {"--grid --design-point lhs,0,sample", "--grid does not take --design-point"},
      {"--design-point lhs,0,sample", "go together"},
      {"--design-point lhs,x,sample" + lhs, "--design-point takes KIND,POINT,ROLE"},
      {"--design-point grid,0,cell" + lhs, "kind is factorial, lhs, sobol or morris"},
      {"--design-point lhs,0,A" + lhs, "'A' is not a role of a lhs design of 1 factors"},
      {"--design-point sobol,0,AB2 --design-factors agents --design-command x", "not a role of a sobol design"},
      {"--design-point lhs,0,sample --design-factors agents,agents --design-command x",
       "names the factor agents twice"},
      {"--design-point lhs,0,sample --design-factors evaporation_rate --design-command x", "not 'evaporation_rate'"},
      {"--design-point lhs,0,sample --design-factors agents --design-command \"--steps 5\"",
       "takes the --grid options"},
      {"--design-point lhs,0,sample --design-factors agents --design-command \"--grid --design lhs --samples 4 --range "
       "agents=1:9\"",
       "takes the --grid options"},
      {"--design-point lhs,4,sample" + lhs, "is not a point of"},
      {"--design-point lhs,0,sample --design-factors sniff --design-command \"--design lhs --samples 4 --range "
       "agents=1:9\"",
       "is not a point of"},
      {"--design-point factorial,4,cell --design-factors sniff,diffuse --design-command \"--vary sniff=hill,roulette "
       "--vary diffuse=off,on\"",
       "is not a point of"},
      {"--design-point lhs,3,sample" + lhs, ""},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.line.toStdString());
    const TResult<TCommand> parsed = ParseCommandLine(QProcess::splitCommand(row.line));
    EXPECT_EQ(parsed.Ok(), !*row.message) << (parsed ? "" : parsed.Error().message.toStdString());
    if (!parsed)
      EXPECT_TRUE(parsed.Error().message.contains(QLatin1String(row.message))) << parsed.Error().message.toStdString();
  }
  // As a job line gives it, the point is the run's.
  const TResult<TCommand> job = ParseCommandLine({"--job", "--agents 5 --design-point lhs,3,sample" + lhs});
  ASSERT_TRUE(job.Ok()) << job.Error().message.toStdString();
  EXPECT_EQ(job->run.design,
            (TDesignPoint{"lhs", {"agents"}, 3, "sample", "--design lhs --samples 4 --range agents=1:9"}));
}

// --- Designed sweeps, built in process ---

// The job list of `grid` (after --grid, split as a shell splits it).
TResult<TJobList> GridOf(const QString& grid) {
  const TResult<TCommand> command = ParseCommandLine(QStringList{"--grid"} + QProcess::splitCommand(grid));
  if (!command) return command.Error();
  return BuildJobList(*command, TSettingValues{});
}

// A job list's lines read back as a run reads its job line.
std::vector<TCommand> ReadLines(const QStringList& lines) {
  std::vector<TCommand> read;
  for (const QString& line : lines) {
    const TResult<TCommand> parsed = ParseCommandLine({"--job", line});
    EXPECT_TRUE(parsed.Ok()) << line.toStdString() << ": " << parsed.Error().message.toStdString();
    if (parsed) read.push_back(*parsed);
  }
  return read;
}

TEST(Design, EachPointIsALinePerSeedWithinItsRangeOnTheControlsGridAndItsCommandRecreatesTheList) {
  const struct {
    const char* grid;
    const char* kind;
    qsizetype points;  // LHS N, Sobol N(k+2), Morris r(k+1), factorial cells
  } table[] = {
      {"--design lhs --samples 7 --range agents=10:300 --range evaporation-rate=0.05:0.95 --range sniff --steps 300 "
       "--diffuse",
       "lhs", 7},
      {"--design lhs --samples 3 --design-seed 9 --range cell-size=3:9", "lhs", 3},
      {"--design sobol --samples 5 --range mark-strength=0:100 --range mutation-rate=0:0.5 --range diffuse=off:on",
       "sobol", 25},
      {"--design morris --samples 4 --levels 6 --range sniff-threshold=10:90 --range knows-center --range "
       "visibility-threshold=0:50 --plot",
       "morris", 16},
      {"--design morris --samples 3 --range evaporation-rate=0:1", "morris", 6},
      {"--vary sniff=hill,roulette --vary agents=10:30:10 --steps 200", "factorial", 6},
  };
  for (const auto& row : table) {
    for (const QString seeds : {"", " --seeds 4-6"}) {
      SCOPED_TRACE(row.grid + seeds.toStdString());
      const TResult<TJobList> list = GridOf(row.grid + seeds);
      ASSERT_TRUE(list.Ok()) << list.Error().message.toStdString();
      const size_t perPoint = seeds.isEmpty() ? 1 : 3;
      ASSERT_EQ(list->lines.size(), row.points * static_cast<qsizetype>(perPoint));
      const TCommand grid =
          *ParseCommandLine(QStringList{"--grid"} + QProcess::splitCommand(QString::fromLatin1(row.grid)));
      QList<TFactorRange> ranges = grid.design.ranges;
      for (const TVary& vary : grid.vary) ranges << TFactorRange{vary.setting, vary.values.front(), vary.values.back()};
      const std::vector<TCommand> runs = ReadLines(list->lines);
      ASSERT_EQ(runs.size(), static_cast<size_t>(list->lines.size()));
      const TDesignPoint& first = *runs[0].run.design;
      for (size_t i = 0; i < runs.size(); ++i) {
        const TDesignPoint& design = *runs[i].run.design;
        EXPECT_EQ(design, (TDesignPoint{row.kind, first.factors, design.point, design.role, first.command}));
        if (!seeds.isEmpty()) EXPECT_EQ(runs[i].run.seed, 4 + i % 3) << "the seeds innermost";
        if (i % perPoint != 0) EXPECT_EQ(design, *runs[i - 1].run.design) << "a point's seeds share it";
        // Each factor holds a value of its range, read as its control reads it.
        for (const TFactorRange& range : ranges) {
          const std::optional<int32_t> value = runs[i].run.settings[range.setting];
          ASSERT_TRUE(value.has_value());
          EXPECT_TRUE(*value >= range.lo && *value <= range.hi) << *value;
        }
      }
      QStringList factors;
      for (const TFactorRange& range : ranges) factors << QLatin1String(SettingSpecs()[range.setting].option);
      EXPECT_EQ(first.factors, factors);
      // The recorded command, given to --grid with the seeds, prints the same list.
      const TResult<TJobList> again = GridOf(first.command + seeds);
      ASSERT_TRUE(again.Ok()) << again.Error().message.toStdString();
      EXPECT_EQ(again->lines, list->lines);
    }
  }
}

TEST(Design, LatinHypercubeTakesEachStratumOfEachFactorOnceAndItsSeedDecidesTheDraw) {
  // Ranges of 100 values: each of the 10 strata of the unit interval holds 10.
  const QString grid = "--design lhs --samples 10 --range agents=100:199 --range mark-strength=0:99 --design-seed ";
  std::set<QStringList> lists;
  for (const char* seed : {"1", "2", "77"}) {
    SCOPED_TRACE(seed);
    const TResult<TJobList> list = GridOf(grid + seed);
    ASSERT_TRUE(list.Ok()) << list.Error().message.toStdString();
    lists.insert(list->lines);
    for (const auto& [option, lo] : {std::pair{"agents", 100}, {"mark-strength", 0}}) {
      std::set<int32_t> strata;
      for (const TCommand& run : ReadLines(list->lines))
        strata.insert((*run.run.settings[*FindSetting(option)] - lo) / 10);
      EXPECT_EQ(strata, (std::set<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9})) << option;
    }
  }
  EXPECT_EQ(lists.size(), 3u) << "each seed draws its own hypercube";
  EXPECT_EQ(lists.count(GridOf(grid + "2")->lines), 1u) << "the same seed draws the same one";
}

TEST(Design, SaltelliRowsAreAThenBThenAWithColumnIFromB) {
  for (size_t k : {1, 3, 6}) {
    SCOPED_TRACE(k);
    const std::vector<TUnitPoint> points = SaltelliSobol(8, k);
    ASSERT_EQ(points.size(), 8 * (k + 2));
    // The sequence's first point (all zeros) is skipped: its second is all halves.
    for (double x : points[0].x) EXPECT_EQ(x, 0.5);
    for (size_t row = 0; row < 8; ++row) {
      const TUnitPoint& a = points[row * (k + 2)];
      const TUnitPoint& b = points[row * (k + 2) + 1];
      EXPECT_EQ(a.role + b.role, "AB");
      for (size_t i = 0; i < k; ++i) {
        const TUnitPoint& ab = points[row * (k + 2) + 2 + i];
        std::vector<double> expected = a.x;
        expected[i] = b.x[i];
        EXPECT_EQ(ab.x, expected);
        EXPECT_EQ(ab.role, QStringLiteral("AB%1").arg(i + 1));
        EXPECT_EQ(ab.index, static_cast<int32_t>(row));
      }
    }
  }
  // The same on the job lines, in the settings' values.
  const TResult<TJobList> list = GridOf(
      "--design sobol --samples 6 --range agents=0:1000 --range mark-strength=0:100 --range evaporation-rate=0:1");
  ASSERT_TRUE(list.Ok()) << list.Error().message.toStdString();
  const std::vector<TCommand> runs = ReadLines(list->lines);
  ASSERT_EQ(runs.size(), 6u * 5);
  const size_t factors[] = {*FindSetting("agents"), *FindSetting("mark-strength"), *FindSetting("evaporation-rate")};
  for (size_t row = 0; row < 6; ++row) {
    for (size_t i = 0; i < 3; ++i) {
      auto expected = runs[row * 5].run.settings;
      expected[factors[i]] = runs[row * 5 + 1].run.settings[factors[i]];
      EXPECT_EQ(runs[row * 5 + 2 + i].run.settings, expected) << "row " << row << " AB" << i + 1;
    }
  }
}

TEST(Design, MorrisStepsMoveOneFactorByDeltaOnTheGridAndEachFactorOnce) {
  for (int32_t levels : {2, 4, 6, 10}) {
    for (size_t k : {1, 3, 5}) {
      SCOPED_TRACE(testing::Message() << levels << " levels, " << k << " factors");
      const double delta = levels / (2.0 * (levels - 1));
      const std::vector<TUnitPoint> points = MorrisTrajectories(6, k, levels, 5);
      ASSERT_EQ(points.size(), 6 * (k + 1));
      for (size_t t = 0; t < 6; ++t) {
        std::vector<int> moved(k, 0);
        for (size_t j = 0; j <= k; ++j) {
          const TUnitPoint& p = points[t * (k + 1) + j];
          EXPECT_EQ(p.index, static_cast<int32_t>(t));
          EXPECT_EQ(p.role, QStringLiteral("T%1").arg(j));
          for (double x : p.x) {
            EXPECT_NEAR(x * (levels - 1), std::round(x * (levels - 1)), 1e-9) << "on the grid";
            EXPECT_TRUE(x >= 0 && x <= 1 + 1e-12) << x;
          }
          if (j == 0) continue;
          const TUnitPoint& before = points[t * (k + 1) + j - 1];
          for (size_t f = 0; f < k; ++f) {
            if (p.x[f] == before.x[f]) continue;
            ++moved[f];
            EXPECT_NEAR(std::abs(p.x[f] - before.x[f]), delta, 1e-12);
          }
          EXPECT_EQ(std::accumulate(moved.begin(), moved.end(), 0), static_cast<int>(j)) << "one factor a step";
        }
        EXPECT_EQ(moved, std::vector<int>(k, 1)) << "each factor moves once";
      }
    }
  }
  EXPECT_NE(MorrisTrajectories(4, 3, 4, 1)[0].x, MorrisTrajectories(4, 3, 4, 2)[0].x) << "the seed decides";
}

// The table of design kinds holds together: each kind's --grid command
// makes points whose roles its check takes and the run record accepts,
// another kind's check refuses some of them, its point count is its job
// list's length, and it has its words and its estimator.
TEST(Design, EveryKindsRolesCheckTakesItsOwnPointsAndRefusesAnotherKinds) {
  constexpr qint64 kSamples = 3;
  const QString ranges = "--range agents=100:200 --range sniff --range mark-strength=10:100";
  constexpr qint64 kFactors = 3;
  std::map<QString, std::vector<TDesignPoint>> points;
  QStringList names;
  // Two or more --vary make exactly one kind; every other kind draws its
  // points, says how many and what they are.
  EXPECT_EQ(std::ranges::count_if(DesignKinds(), [](const TDesignKind* k) { return k->cellsFromVary; }), 1);
  for (const TDesignKind* row : DesignKinds()) {
    const TDesignKind& kind = *row;
    SCOPED_TRACE(kind.name);
    if (!kind.cellsFromVary) {
      EXPECT_TRUE(kind.pointCount && kind.generate && *kind.words.draws) << "a kind --design draws";
    }
    names << QLatin1String(kind.name);
    EXPECT_EQ(FindDesignKind(QLatin1String(kind.name)), &kind);
    for (const char* words : {kind.words.analysis, kind.words.axis, kind.words.point})
      EXPECT_GT(std::strlen(words), 0u) << "every kind has its words";
    ASSERT_NE(kind.fitsRole, nullptr);
    ASSERT_NE(kind.estimate, nullptr);
    // The kind's own command, from what the table says it takes.
    QString grid = kind.cellsFromVary
                       ? QString("--vary agents=100,200 --vary sniff=hill,roulette --vary mark-strength=10,55,100")
                       : QString("--design %1 --samples %2 %3").arg(kind.name).arg(kSamples).arg(ranges);
    if (kind.takesLevels) grid += " --levels 4";
    if (kind.takesSeed) grid += " --design-seed 5";
    const TResult<TJobList> list = GridOf(grid);
    ASSERT_TRUE(list.Ok()) << list.Error().message.toStdString();
    const qint64 expected = kind.cellsFromVary ? 2 * 2 * 3 : kind.pointCount(kSamples, kFactors);
    EXPECT_EQ(list->lines.size(), expected);
    for (const TCommand& run : ReadLines(list->lines)) {
      ASSERT_TRUE(run.run.design.has_value());
      const TDesignPoint& design = *run.run.design;
      EXPECT_EQ(design.kind, QLatin1String(kind.name));
      EXPECT_TRUE(kind.fitsRole(design.role, kFactors)) << design.role.toStdString();
      EXPECT_TRUE(CheckDesignPoint(design).Ok()) << design.role.toStdString();
      points[design.kind].push_back(design);
    }
    if (kind.generate) {
      const std::vector<TUnitPoint> unit = kind.generate({.samples = 2, .factors = 2, .levels = 4, .seed = 1});
      EXPECT_EQ(static_cast<qint64>(unit.size()), kind.pointCount(2, 2));
      for (const TUnitPoint& p : unit) EXPECT_TRUE(kind.fitsRole(p.role, 2)) << p.role.toStdString();
    }
  }
  names.removeDuplicates();
  EXPECT_EQ(static_cast<size_t>(names.size()), DesignKinds().size()) << "every kind has its own name";
  // Another kind's points under this kind's name: the check refuses at least one.
  for (const TDesignKind* row : DesignKinds()) {
    const TDesignKind& kind = *row;
    for (const auto& [other, designs] : points) {
      if (other == QLatin1String(kind.name)) continue;
      SCOPED_TRACE(std::string(kind.name) + " given " + other.toStdString() + "'s points");
      bool refused = false;
      for (TDesignPoint design : designs) {
        design.kind = QLatin1String(kind.name);
        const bool fits = kind.fitsRole(design.role, kFactors);
        EXPECT_EQ(CheckDesignPoint(design).Ok(), fits) << design.role.toStdString();
        refused = refused || !fits;
      }
      EXPECT_TRUE(refused);
    }
  }
  // A name no kind has, and a role beyond the factors, are refused.
  EXPECT_EQ(FindDesignKind("centre"), nullptr);
  for (const auto& [kind, designs] : points) {
    TDesignPoint unknown = designs.front();
    unknown.kind = "centre";
    EXPECT_FALSE(CheckDesignPoint(unknown).Ok());
  }
  // A command made without the parser, of a kind --design cannot take, is refused rather than drawn.
  TResult<TCommand> made =
      ParseCommandLine(QStringList{"--grid"} + QProcess::splitCommand("--design lhs --samples 3 " + ranges));
  ASSERT_TRUE(made.Ok());
  for (const QString& kind : {QString("centre"), QString(QLatin1String(VaryDesignKind().name))}) {
    made->design.kind = kind;
    const TResult<TJobList> refused = BuildJobList(*made, TSettingValues{});
    ASSERT_FALSE(refused.Ok()) << kind.toStdString();
    EXPECT_TRUE(refused.Error().message.endsWith("not '" + kind + "'")) << refused.Error().message.toStdString();
  }
  for (const char* role : {"AB4", "T4", "AB0", "T01", "AB", "T"})
    EXPECT_FALSE(FindDesignKind("sobol")->fitsRole(role, kFactors) ||
                 FindDesignKind("morris")->fitsRole(role, kFactors))
        << role;
}

// A warning is one short line (a few of its members named), however large the design.
constexpr qsizetype kShortWarning = 1000;

TEST(Design, APointTakesItsCellsValueAndPointsMadeEqualAreWarnedOf) {
  const struct {
    int32_t lo, hi;
    double x;
    int32_t value;
  } snaps[] = {{0, 1, 0.0, 0},  {0, 1, 0.4999, 0},     {0, 1, 0.5, 1},      {0, 1, 1.0, 1},   {10, 30, 0.0, 10},
               {10, 30, 1, 30}, {5, 95, 0.999999, 95}, {0, 100, 0.0099, 0}, {0, 100, 0.01, 1}};
  for (const auto& s : snaps)
    EXPECT_EQ(SnapToControl({0, s.lo, s.hi}, s.x), s.value) << s.lo << ":" << s.hi << " " << s.x;
  const struct {
    const char* grid;
    qsizetype warnings;
    const char* contains;
  } table[] = {
      {"--design lhs --samples 5 --range agents=0:1000", 0, ""},
      // Four points of one two-valued factor: two pairs.
      {"--design lhs --samples 4 --range sniff", 2, "(sniff=hill) are one point once snapped"},
      // Three of them make at most 8 distinct points: counted, with examples.
      {"--design lhs --samples 40 --range sniff --range diffuse --range knows-center", 1,
       "8 sets of design points (40 points) are one point"},
      // Two trajectories over two values meet twice.
      {"--design morris --samples 2 --range mark-strength=4:5", 2, "trajectory 0 T"},
      // Thousands of points on three values: each set names a few and counts the rest.
      {"--design lhs --samples 4000 --range agents=100:102", 3, "point 8 sample and 1328 more (agents=101)"},
      {"--design lhs --samples 4000 --range agents=100:109 --range sniff", 1,
       "20 sets of design points (4000 points) are one point"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.grid);
    const TResult<TJobList> list = GridOf(row.grid);
    ASSERT_TRUE(list.Ok()) << list.Error().message.toStdString();
    const QString warned = list->equalPoints.join('\n');
    EXPECT_EQ(list->equalPoints.size(), row.warnings) << warned.toStdString();
    EXPECT_TRUE(warned.contains(QLatin1String(row.contains))) << warned.toStdString();
    for (const QString& warning : list->equalPoints + list->sameWorld)
      EXPECT_LT(warning.size(), kShortWarning) << "one short line: " << warning.left(kShortWarning).toStdString();
  }
  // Points of one world but different rates are told apart from equal points.
  const TResult<TJobList> rates = GridOf("--design lhs --samples 3 --range evaporation-rate=0.15:0.25");
  EXPECT_EQ(rates->sameWorld.size(), 1) << rates->sameWorld.join('\n').toStdString();
  EXPECT_TRUE(rates->equalPoints.isEmpty()) << rates->equalPoints.join('\n').toStdString();
  // The program prints them on standard error.
  const Finished f = RunProgram({"--grid", "--design", "lhs", "--samples", "4", "--range", "sniff"});
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.out.count('\n'), 4);
  EXPECT_EQ(f.err.count("pathwick_run: warning: design point"), 2) << f.err.toStdString();
}

// Which modes take which option, written out here from the help's promise:
// a mode refuses every option it would ignore.
struct ModeRow {
  const char* option;
  const char* value;  // nullptr: a flag
  bool run, show, grid, summarize, verify;
};

TEST(Parser, EachModeTakesExactlyItsOptionsWrittenWithOneDashOrTwo) {
  const ModeRow table[] = {
      {"steps", "5", true, true, true, false, false},
      {"seed", "3", true, true, true, false, false},
      {"out", "d", true, false, false, false, false},
      {"histograms", nullptr, true, false, true, false, false},
      {"plot", nullptr, true, false, true, false, false},
      {"snapshot-every", "100", true, false, true, false, false},
      {"picture-scale", "2", true, false, true, false, false},
      {"video", "v.mp4", true, false, true, false, false},
      {"video-every", "5", true, false, true, false, false},
      {"agents-every", "100", true, false, true, false, false},
      {"field-every", "100", true, false, true, false, false},
      {"births", nullptr, true, false, true, false, false},
      {"config", "r.json", true, true, false, false, false},
      {"checkpoint-every", "100", true, false, true, false, false},
      {"keep-checkpoints", nullptr, true, false, true, false, false},
      {"from", "c.pwk", true, true, true, false, false},
      {"quiet", nullptr, true, false, false, true, true},
      {"window", "3", false, false, false, true, false},
      {"repeat", "2", false, false, false, false, true},
      {"agents", "40", true, true, true, false, false},
      {"diffuse", nullptr, true, true, true, false, false},
  };
  const std::pair<QStringList, TCommandKind> modes[] = {
      {{}, TCommandKind::kRun},
      {{"show"}, TCommandKind::kShow},
      {{"grid"}, TCommandKind::kGrid},
      {{"summarize", "d"}, TCommandKind::kSummarize},
      {{"verify", "d"}, TCommandKind::kVerify},
  };
  for (const ModeRow& row : table) {
    const bool takes[] = {row.run, row.show, row.grid, row.summarize, row.verify};
    for (size_t m = 0; m < std::size(modes); ++m) {
      for (const char* dashes : {"--", "-"}) {
        QStringList arguments;
        if (!modes[m].first.isEmpty()) arguments << dashes + modes[m].first[0] << modes[m].first.mid(1);
        arguments << dashes + QString::fromLatin1(row.option);
        if (row.value) arguments << QLatin1String(row.value);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const TResult<TCommand> parsed = ParseCommandLine(arguments);
        if (!takes[m]) {
          ASSERT_FALSE(parsed.Ok());
          EXPECT_TRUE(parsed.Error().message.contains(QStringLiteral("does not take --") + row.option))
              << parsed.Error().message.toStdString();
          continue;
        }
        ASSERT_TRUE(parsed.Ok()) << parsed.Error().message.toStdString();
        EXPECT_EQ(parsed->kind, modes[m].second);
      }
    }
  }
}

TEST(Parser, OneDashReadsAsTwoInValuesFlagsJobLinesAndModes) {
  const TResult<TCommand> one =
      ParseCommandLine({"-steps", "7", "-seed=9", "-plot", "-out", "d", "-force", "-diffuse"});
  const TResult<TCommand> two =
      ParseCommandLine({"--steps=7", "--seed", "9", "--plot", "--out=d", "--force", "--diffuse", "on"});
  ASSERT_TRUE(one.Ok()) << one.Error().message.toStdString();
  ASSERT_TRUE(two.Ok()) << two.Error().message.toStdString();
  for (const TCommand* c : {&*one, &*two}) {
    EXPECT_EQ(c->run.steps, 7);
    EXPECT_EQ(c->run.seed, 9u);
    EXPECT_TRUE(c->run.plot);
    EXPECT_EQ(c->out, "d");
    EXPECT_TRUE(c->force);
    EXPECT_EQ(c->run.settings[*FindSetting("diffuse")], 1);
  }
  // A value that starts with a dash stays a value, and is refused as one.
  const TResult<TCommand> negative = ParseCommandLine({"-seed", "-5"});
  ASSERT_FALSE(negative.Ok());
  EXPECT_TRUE(negative.Error().message.contains("--seed takes a whole number from 0 to 4294967295, not '-5'"));
  ASSERT_TRUE(ParseCommandLine({"-show"}).Ok());
  EXPECT_EQ(ParseCommandLine({"-show"})->kind, TCommandKind::kShow);
  // Every option a job line may not hold is refused in either form.
  for (const char* word : {"-force", "--force", "-out=x", "--out x", "-show", "--grid", "-quiet", "-job=a",
                           "--summarize d", "-verify d"}) {
    SCOPED_TRACE(word);
    const TResult<TCommand> job = ParseCommandLine({"--job", QStringLiteral("--steps 5 ") + word});
    ASSERT_FALSE(job.Ok());
    EXPECT_TRUE(job.Error().message.startsWith("a job line may not hold --")) << job.Error().message.toStdString();
  }
}

TEST(Parser, HelpStatesEachDefaultAndRangeFromItsConstant) {
  const QString help = HelpText(TSettingValues{});
  const QStringList lines = help.split('\n');
  // The option's line and its continuations, joined.
  const auto entry = [&lines](const QString& option) {
    QString text;
    for (qsizetype i = 0; i < lines.size(); ++i) {
      if (!lines[i].trimmed().startsWith(option + ' ')) continue;
      text = lines[i].simplified();
      while (++i < lines.size() && lines[i].startsWith("       ") && !lines[i].trimmed().startsWith("-"))
        text += ' ' + lines[i].simplified();
      break;
    }
    return text;
  };
  EXPECT_TRUE(entry("--steps").contains(QStringLiteral("(default: %1)").arg(kDefaultSteps)))
      << entry("--steps").toStdString();
  EXPECT_TRUE(entry("--video-every").contains(QStringLiteral("(default: %1)").arg(kDefaultVideoEvery)));
  EXPECT_TRUE(entry("--picture-scale")
                  .contains(QStringLiteral("%1 to %2 (default: %3)")
                                .arg(kMinPictureScale)
                                .arg(kMaxPictureScale)
                                .arg(kDefaultPictureScale)))
      << entry("--picture-scale").toStdString();
  for (const char* option : {"--ended", "--seed-of", "--window", "--job", "--quiet"})
    EXPECT_FALSE(entry(option).isEmpty()) << option;
  // The paragraph on the modes says what the parser does.
  const QString modes = help.mid(help.indexOf("Each mode refuses")).section("\n\n", 0, 0).simplified();
  EXPECT_TRUE(modes.contains(
      "--summarize takes only --quiet, --window, --gzip-samples, --measure, --transform and --factor-coding"))
      << modes.toStdString();
  EXPECT_TRUE(modes.contains("--verify takes only --quiet and --repeat")) << modes.toStdString();
  EXPECT_TRUE(modes.contains("but --out, --force, --quiet and --job.")) << modes.toStdString();
  EXPECT_EQ(JobLineReserved().contains("--force"), true);
  EXPECT_FALSE(JobLineReserved().contains("--steps"));
}

// --help has one entry for each option of the table and each setting, in
// that order: an option that shares a name with another is dropped by the
// parser and would be missing here.
TEST(Parser, HelpListsEveryOptionOnceThenEverySetting) {
  QStringList expected;
  for (size_t i = 0; i <= static_cast<size_t>(kLastOption); ++i) expected << Dashed(static_cast<TOption>(i));
  for (const TSettingSpec& spec : SettingSpecs()) expected << Dashed(QLatin1String(spec.option));
  QStringList listed;
  for (const QString& line : HelpText(TSettingValues{}).split('\n')) {
    if (!line.startsWith("  -")) continue;  // an entry's first line; its continuations are indented further
    const QStringList words = line.simplified().split(' ');
    const auto name = std::find_if(words.begin(), words.end(), [](const QString& w) { return w.startsWith("--"); });
    if (name != words.end()) listed << *name;
  }
  EXPECT_EQ(listed.join(' ').toStdString(), expected.join(' ').toStdString());
  EXPECT_EQ(expected.removeDuplicates(), 0);
}

TEST(Parser, TheSweepsQueriesAnswerEachLineAndFolder) {
  const std::pair<const char*, const char*> seeds[] = {
      {"--steps 5 --seed 3", "3"},    {"-seed=4294967295", "4294967295"},     {"--steps 5", "clock"},
      {"--seed 4294967296", "clock"}, {"--seed x --sniff sideways", "clock"}, {"--vary \"--seed 8\"", "clock"},
  };
  for (const auto& [line, seed] : seeds) EXPECT_EQ(JobLineSeed(line), seed) << line;
  const TResult<TCommand> asked = ParseCommandLine({"--ended", "a", "-ended=b"});
  ASSERT_TRUE(asked.Ok()) << asked.Error().message.toStdString();
  EXPECT_EQ(asked->kind, TCommandKind::kEnded);
  EXPECT_EQ(asked->folders, QStringList({"a", "b"}));
  EXPECT_FALSE(ParseCommandLine({"--ended", "a", "--steps", "5"}).Ok());

  QTemporaryDir tmp;
  EXPECT_EQ(RecordedEnding(tmp.filePath("none")), kEndedNone);
  QDir().mkpath(tmp.filePath("damaged"));
  WriteFile(tmp.filePath("damaged/run.json"), "{\"ended\": \"completed\"");
  EXPECT_EQ(RecordedEnding(tmp.filePath("damaged")), kEndedNone) << "half a record is none";
  auto form = std::make_unique<TForm1>();
  for (const char* ended : {kEndedCompleted, kEndedInterrupted}) {
    TRunRecord record;
    record.spec.settings = ReadSettings(*form);
    record.spec.steps = 100;
    record.ended = QLatin1String(ended);
    QDir().mkpath(tmp.filePath(ended));
    ASSERT_TRUE(WriteRunRecord(QDir(tmp.filePath(ended)).filePath("run.json"), record).Ok());
    EXPECT_EQ(RecordedEnding(tmp.filePath(ended)), QLatin1String(ended));
  }
}

TEST(Parser, ThePlanRefusesFilesWithoutAFolderAndTheWindowWithoutADisplay) {
  const TSettingValues defaults{};
  for (auto set : {+[](TRunOptions& o) { o.histograms = true; }, +[](TRunOptions& o) { o.births = true; },
                   +[](TRunOptions& o) { o.plot = true; }, +[](TRunOptions& o) { o.checkpointEvery = 100; }}) {
    TRunOptions options;
    set(options);
    const TResult<TRunPlan> out = ResolvePlan(options, defaults, TPlanTarget::kStandardOutput);
    ASSERT_FALSE(out.Ok());
    EXPECT_TRUE(out.Error().message.contains("give --out DIR")) << out.Error().message.toStdString();
    EXPECT_TRUE(ResolvePlan(options, defaults, TPlanTarget::kFolder).Ok());
  }
  // The suite runs offscreen.
  const TResult<TRunPlan> window = ResolvePlan(TRunOptions{}, defaults, TPlanTarget::kWindow);
  ASSERT_FALSE(window.Ok());
  EXPECT_TRUE(window.Error().message.contains("--show needs a display"));
}

// --- The program: job lists, records, --config and --verify ---

using runner_test::Record;

// The files of a run folder but its record, with their hashes.
QList<TFileEntry> DataFiles(const QString& dir) {
  const TResult<QList<TFileEntry>> files = ListFiles(dir);
  EXPECT_TRUE(files.Ok());
  return files.Ok() ? *files : QList<TFileEntry>{};
}

class Records : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = std::make_unique<QTemporaryDir>();
    // A world saved with diffusion on: a job list from it must switch it off explicitly.
    ASSERT_EQ(RunProgram({"--seed", "3", "--steps", "700", "--agents", "60", "--cell-size", "8", "--diffuse",
                          "--checkpoint-every", "700", "--out", Base("base")})
                  .status,
              0);
  }
  static void TearDownTestSuite() { base_.reset(); }
  static QString Base(const QString& name) { return base_->filePath(name); }
  static QString Checkpoint() { return Base("base/checkpoint.pwk"); }

  // Runs `arguments` into `dir`; the run must succeed.
  static void Run(const QStringList& arguments, const QString& dir) {
    const Finished f = RunProgram(arguments + QStringList{"--out", dir});
    ASSERT_EQ(f.status, 0) << f.err.toStdString();
  }
  static QStringList GridLines(const QStringList& arguments, QString* warnings = nullptr) {
    const Finished f = RunProgram(QStringList{"--grid"} + arguments);
    EXPECT_EQ(f.status, 0) << f.err.toStdString();
    if (warnings) *warnings = f.err;
    return f.out.split('\n', Qt::SkipEmptyParts);
  }

  QTemporaryDir tmp;

 private:
  static inline std::unique_ptr<QTemporaryDir> base_;
};

struct RoundTrip {
  const char* name;
  QStringList grid;  // --grid options giving one job line; FROM is the base checkpoint
};

TEST_F(Records, GridLineRecordAndConfigRepeatPlainRunsContinuationsAndBranchesByteForByte) {
  const RoundTrip table[] = {
      {"plain",
       {"--seed", "8", "--steps", "600", "--agents", "80", "--evaporation-rate", "0.3", "--histograms", "--plot"}},
      {"continuation", {"--from", "FROM", "--steps", "500", "--checkpoint-every", "200"}},
      {"branch",
       {"--from", "FROM", "--steps", "500", "--evaporation-rate", "0.8", "--sniff", "roulette", "--diffuse", "off",
        "--seed", "9", "--snapshot-every", "250"}},
  };
  for (const RoundTrip& r : table) {
    SCOPED_TRACE(r.name);
    QStringList grid = r.grid;
    grid.replaceInStrings("FROM", Checkpoint());
    const QStringList lines = GridLines(grid);
    ASSERT_EQ(lines.size(), 1);
    const QString first = tmp.filePath(QStringLiteral("%1-job").arg(r.name));
    const QString again = tmp.filePath(QStringLiteral("%1-config").arg(r.name));
    Run({"--job", lines.front()}, first);
    Run({"--config", first + "/run.json"}, again);
    const QJsonObject record = Record(first);
    const QJsonObject repeated = Record(again);
    for (const char* key : {"settings", "effective", "seed", "from", "steps_done"})
      EXPECT_EQ(repeated.value(key), record.value(key)) << key;
    // Every file the run wrote is listed with its size and hash, and the repeat wrote the same.
    const QList<TFileEntry> files = DataFiles(first);
    EXPECT_GE(files.size(), 2);
    QList<TFileEntry> listed;
    for (const auto& f : record.value("files").toArray()) {
      const QJsonObject o = f.toObject();
      listed << TFileEntry{o["path"].toString(), o["size"].toInteger(), o["sha256"].toString()};
    }
    EXPECT_EQ(listed, files);
    EXPECT_EQ(DataFiles(again), files);
    const Finished verified = RunProgram({"--verify", first, "--quiet"});
    EXPECT_EQ(verified.status, 0) << verified.err.toStdString();
    EXPECT_TRUE(verified.err.isEmpty()) << verified.err.toStdString();
  }
  // A record that asks for files is refused without a folder, not run half.
  const Finished toStdout = RunProgram({"--config", tmp.filePath("plain-job/run.json")});
  EXPECT_EQ(toStdout.status, 2);
  EXPECT_TRUE(toStdout.err.contains("give --out DIR")) << toStdout.err.toStdString();
  EXPECT_TRUE(toStdout.out.isEmpty());
  // The branch's own rates were applied on repeating: they are not the checkpoint's.
  const QJsonObject branch = Record(tmp.filePath("branch-config"));
  const QJsonObject settings = branch.value("settings").toObject();
  EXPECT_EQ(settings.value("evaporation_rate").toDouble(), 0.8);
  EXPECT_EQ(settings.value("sniff").toString(), "roulette");
  EXPECT_FALSE(settings.value("diffuse").toBool());
  EXPECT_EQ(branch.value("effective").toObject().value("evaporation_amount").toDouble(), 8);
}

// A designed job line's run records its point, --config keeps it, and a
// line of two --vary records its cell.
TEST_F(Records, ARunOfADesignedLineRecordsItsPointAndItsRepeatKeepsIt) {
  const struct {
    const char* name;
    QStringList grid;
    const char* kind;
    qsizetype lines;
  } table[] = {
      {"morris",
       {"--design", "morris", "--samples", "1", "--range", "agents=20:60", "--range", "evaporation-rate=0.1:0.9"},
       "morris",
       3},
      {"factorial", {"--vary", "sniff=hill,roulette", "--vary", "agents=30,40"}, "factorial", 4},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    const QStringList lines = GridLines(row.grid + QStringList{"--steps", "200", "--seeds", "2"});
    ASSERT_EQ(lines.size(), row.lines);
    const QString first = tmp.filePath(QStringLiteral("%1-job").arg(row.name));
    const QString again = tmp.filePath(QStringLiteral("%1-config").arg(row.name));
    Run({"--job", lines[1]}, first);
    Run({"--config", first + "/run.json"}, again);
    const QJsonObject design = Record(first).value("design").toObject();
    EXPECT_EQ(design.value("kind").toString(), row.kind);
    EXPECT_EQ(design.value("point").toInt(), row.kind == QLatin1String("morris") ? 0 : 1);
    EXPECT_EQ(design.value("role").toString(), row.kind == QLatin1String("morris") ? "T1" : "cell");
    EXPECT_EQ(Record(again).value("design").toObject(), design);
    // Its command re-creates the list it came from.
    EXPECT_EQ(GridLines(QProcess::splitCommand(design.value("command").toString()) + QStringList{"--seeds", "2"}),
              lines);
    const TResult<TRunRecord> read = ReadRunRecord(first + "/run.json", TSettingValues{});
    ASSERT_TRUE(read.Ok()) << read.Error().message.toStdString();
    ASSERT_TRUE(read->spec.design.has_value());
    EXPECT_EQ(read->spec.design->factors.join(','), design.value("factors").toVariant().toStringList().join(','));
  }
  // A plain run records no design.
  EXPECT_FALSE(Record(Base("base")).contains("design"));
}

TEST_F(Records, VerifyExitsZeroWhenIdenticalOneNamingTheFirstFileThatDiffersTwoWithoutARun) {
  const QString run = tmp.filePath("run");
  Run({"--seed", "5", "--steps", "400", "--histograms"}, run);
  EXPECT_EQ(RunProgram({"--verify", run}).status, 0);
  // A data file changed after the run.
  ASSERT_TRUE(WriteFile(run + "/genes_hist.csv", "0,angle\n", QIODevice::Append));
  const Finished changed = RunProgram({"--verify", run});
  EXPECT_EQ(changed.status, 1);
  EXPECT_TRUE(changed.err.contains("genes_hist.csv differs")) << changed.err.toStdString();
  EXPECT_EQ(changed.err.count('\n'), 1);
  // A record whose run no longer gives its files: the seed changed in the record.
  const QString other = tmp.filePath("other");
  Run({"--seed", "5", "--steps", "400"}, other);
  QByteArray json = ReadFile(other + "/run.json");
  json.replace("\"seed\": 5,", "\"seed\": 6,");
  ASSERT_TRUE(WriteFile(other + "/run.json", json, QIODevice::WriteOnly | QIODevice::Truncate));
  const Finished repeated = RunProgram({"--verify", other});
  EXPECT_EQ(repeated.status, 1);
  EXPECT_TRUE(repeated.err.contains("series.csv differs when repeated")) << repeated.err.toStdString();
  // A record written before files, effective settings and the field's
  // series columns were recorded is held to the files its folder has, and
  // its series to the columns before the field's: the record without
  // series_columns, the series without its last two columns.
  const QString older = tmp.filePath("older");
  Run({"--seed", "5", "--steps", "300", "--plot"}, older);
  QJsonObject written = Record(older);
  EXPECT_EQ(written["series_columns"].toInt(), static_cast<int>(kSeriesColumns.size()));
  written.remove("files");
  written.remove("effective");
  written.remove("series_columns");
  ASSERT_TRUE(
      WriteFile(older + "/run.json", QJsonDocument(written).toJson(), QIODevice::WriteOnly | QIODevice::Truncate));
  QByteArray olderSeries;
  for (const QByteArray& line : ReadFile(older + "/series.csv").split('\n')) {
    if (!line.isEmpty()) olderSeries += line.split(',').mid(0, line.count(',') - 1).join(',') + '\n';
  }
  EXPECT_TRUE(olderSeries.startsWith(SeriesHeader(kSeriesColumnsBeforeField).toUtf8()));
  ASSERT_TRUE(WriteFile(older + "/series.csv", olderSeries, QIODevice::WriteOnly | QIODevice::Truncate));
  const Finished olderVerified = RunProgram({"--verify", older});
  EXPECT_EQ(olderVerified.status, 0) << olderVerified.err.toStdString();
  Run({"--config", older + "/run.json"}, tmp.filePath("older-again"));
  EXPECT_EQ(ReadFile(tmp.filePath("older-again/series.csv")), olderSeries);
  EXPECT_EQ(Record(tmp.filePath("older-again"))["series_columns"].toInt(), kSeriesColumnsBeforeField);
  // No run at all: no folder, or one whose folders hold no record.
  ASSERT_TRUE(QDir().mkpath(tmp.filePath("no-runs/notes")));
  for (const QString& dir : {tmp.filePath("none"), tmp.filePath("no-runs")}) {
    const Finished none = RunProgram({"--verify", dir});
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.err.contains("holds no run")) << none.err.toStdString();
  }
}

TEST_F(Records, AChangedOrMissingCheckpointIsRefusedNamingBothHashesUnlessFromOverridesIt) {
  const QString copy = tmp.filePath("ck.pwk");
  ASSERT_TRUE(QFile::copy(Checkpoint(), copy));
  Run({"--from", copy, "--steps", "300", "--evaporation-rate", "0.6"}, tmp.filePath("b1"));
  const QString recorded = Record(tmp.filePath("b1")).value("from").toObject().value("sha256").toString();
  // Another world in its place.
  const QString other = tmp.filePath("other");
  Run({"--seed", "4", "--steps", "300", "--agents", "60", "--cell-size", "8", "--checkpoint-every", "300"}, other);
  ASSERT_TRUE(QFile::remove(copy));
  ASSERT_TRUE(QFile::copy(other + "/checkpoint.pwk", copy));
  const Finished changed = RunProgram({"--config", tmp.filePath("b1/run.json"), "--out", tmp.filePath("b2")});
  EXPECT_EQ(changed.status, 2);
  EXPECT_TRUE(changed.err.contains(recorded)) << changed.err.toStdString();
  EXPECT_TRUE(changed.err.contains(DataFiles(other).front().sha256)) << changed.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(tmp.filePath("b2")));
  // Knowingly another checkpoint: the record's rates on that world.
  Run({"--config", tmp.filePath("b1/run.json"), "--from", copy}, tmp.filePath("b3"));
  EXPECT_EQ(Record(tmp.filePath("b3")).value("settings").toObject().value("evaporation_rate").toDouble(), 0.6);
  QFile::remove(copy);
  const Finished missing = RunProgram({"--config", tmp.filePath("b1/run.json"), "--out", tmp.filePath("b4")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.err.contains("missing") && missing.err.contains(recorded)) << missing.err.toStdString();
}

TEST_F(Records, JobListsFromACheckpointWriteFlagsBothWaysRefuseFixedSettingsAndNameOneWorld) {
  const QStringList lines = GridLines({"--from", Checkpoint(), "--vary", "diffuse=off,on", "--steps", "300"});
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith("--diffuse off")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith("--diffuse on")) << lines[1].toStdString();
  Run({"--job", lines[0]}, tmp.filePath("off"));
  Run({"--job", lines[1]}, tmp.filePath("on"));
  EXPECT_NE(ReadFile(tmp.filePath("off/series.csv")), ReadFile(tmp.filePath("on/series.csv")))
      << "diffusion off and on are two worlds";

  const Finished fixed = RunProgram({"--grid", "--from", Checkpoint(), "--vary", "agents=100,200"});
  EXPECT_EQ(fixed.status, 2);
  EXPECT_TRUE(fixed.err.contains("--vary agents")) << fixed.err.toStdString();
  EXPECT_TRUE(fixed.out.isEmpty());

  // 0.15, 0.2 and 0.25 all remove 2 per step: one warning for the three,
  // none for 0.3; under the checkpoint's diffusion they keep different fractions.
  // The same whether the rates are listed or given as a range.
  QString warnings;
  for (const char* rates : {"0.15,0.2,0.25,0.3", "0.15:0.3:0.05", "0.15:0.25:0.05,0.3"}) {
    SCOPED_TRACE(rates);
    const QStringList lines =
        GridLines({"--vary", QStringLiteral("evaporation-rate=") + rates, "--seeds", "1-2"}, &warnings);
    ASSERT_EQ(lines.size(), 8);
    EXPECT_TRUE(lines[7].endsWith("--evaporation-rate 0.3 --seed 2")) << lines[7].toStdString();
    EXPECT_EQ(warnings.count('\n'), 1) << warnings.toStdString();
    EXPECT_TRUE(
        warnings.contains("evaporation-rate=0.15, evaporation-rate=0.2, evaporation-rate=0.25 are one condition"))
        << warnings.toStdString();
    EXPECT_TRUE(warnings.contains("evaporation_amount 2")) << warnings.toStdString();
  }
  GridLines({"--from", Checkpoint(), "--vary", "evaporation-rate=0.15,0.2,0.25"}, &warnings);
  EXPECT_TRUE(warnings.isEmpty()) << warnings.toStdString();
  // Two groups of one world each when sniff is varied beside them.
  GridLines({"--vary", "sniff=hill,roulette", "--vary", "evaporation-rate=0.15,0.2"}, &warnings);
  EXPECT_EQ(warnings.count('\n'), 2) << warnings.toStdString();
  // Many such groups, of many rates each: counted on one line, a few named.
  GridLines({"--vary", "sniff=hill,roulette", "--vary", "evaporation-rate=0.1:0.5:0.01"}, &warnings);
  EXPECT_EQ(warnings.count('\n'), 1) << warnings.toStdString();
  EXPECT_TRUE(warnings.contains("10 sets of combinations are one condition each, e.g. ")) << warnings.toStdString();
  EXPECT_TRUE(warnings.contains("evaporation-rate=0.13 and 1 more are one condition")) << warnings.toStdString();
  EXPECT_LT(warnings.size(), kShortWarning) << warnings.toStdString();
}

TEST_F(Records, SummaryNamesGroupsByTheSettingsThatDifferAndRecordsEffectiveSettings) {
  const TSettingValues d{};
  const TResult<TSettingValues> unknown = WithChanges(d, {{"sniff", 1}, {"evaporation", 20}});
  ASSERT_FALSE(unknown.Ok());
  EXPECT_EQ(unknown.Error().status, kExitRefused);
  EXPECT_EQ(unknown.Error().message, "no setting is called 'evaporation'");
  const TSettingValues slow = agents_test::Changed(d, {{"evaporation-rate", 20}});
  const TSettingValues fast = agents_test::Changed(d, {{"evaporation_rate", 80}});
  const TSettingValues fastRoulette = agents_test::Changed(fast, {{"sniff", 1}});
  EXPECT_EQ(SummaryGroups({slow, fast, slow}),
            QStringList({"evaporation-rate=0.2", "evaporation-rate=0.8", "evaporation-rate=0.2"}));
  EXPECT_EQ(SummaryGroups({slow, fastRoulette}),
            QStringList({"sniff=hill evaporation-rate=0.2", "sniff=roulette evaporation-rate=0.8"}));
  EXPECT_EQ(SummaryGroups({fast, fast}), QStringList({"", ""}));

  const QString sweep = tmp.filePath("sweep");
  Run({"--seed", "1", "--steps", "300", "--evaporation-rate", "0.15"}, sweep + "/a");
  // A folder name with a comma and a quote stays one cell.
  Run({"--seed", "1", "--steps", "300", "--evaporation-rate", "0.25", "--diffuse"}, sweep + "/b,\"2\"");
  // Two settings vary: no comparison, and standard error says why.
  const Finished summarized = RunProgram({"--summarize", sweep});
  ASSERT_EQ(summarized.status, 0) << summarized.err.toStdString();
  EXPECT_TRUE(summarized.out.isEmpty()) << summarized.out.toStdString();
  EXPECT_EQ(summarized.err,
            "pathwick_run: note: no comparison printed: it is made only when exactly one setting varies, and 2 vary "
            "(evaporation-rate, diffuse); summary.csv, samples.csv and groups.csv hold every run\n"
            "pathwick_run: note: the varied settings do not form a factorial (2 of 4 combinations) and no design is "
            "recorded: no effects estimated\n");
  for (const char* table : {"summary.csv", "samples.csv", "groups.csv"})
    EXPECT_TRUE(QFile::exists(sweep + "/" + table)) << table;
  EXPECT_FALSE(QFile::exists(sweep + "/comparison.csv"));
  const QStringList rows = QString::fromUtf8(ReadFile(sweep + "/summary.csv")).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 3);
  const qsizetype column = rows[0].split(',').indexOf("evaporation_amount");
  ASSERT_GE(column, 0);
  EXPECT_EQ(rows[1].split(',')[column], "2");
  const QString quotedFolder = QStringLiteral("\"b,\"\"2\"\"\",");
  ASSERT_TRUE(rows[2].startsWith(quotedFolder)) << rows[2].toStdString();
  const QStringList rest = rows[2].mid(quotedFolder.size()).split(',');
  EXPECT_EQ(rest.size(), rows[0].split(',').size() - 1);
  EXPECT_EQ(rest[column - 1], "0.75");
  const Finished missing = RunProgram({"--summarize", tmp.filePath("nothing")});
  EXPECT_EQ(missing.status, 2) << missing.err.toStdString();
}

TEST(RunFolder, AppearsWholeOrNotAtAllAndAnOldRunStaysUntilTheNewOneIsInPlace) {
  QTemporaryDir tmp;
  const QString dir = tmp.filePath("run");
  const auto entries = [&] {
    return QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  };
  {
    TRunFolder folder;
    ASSERT_TRUE(folder.Open(dir, false).Ok());
    ASSERT_TRUE(WriteFile(folder.Path("run.json"), "old"));
    EXPECT_FALSE(QFileInfo::exists(dir)) << "nothing shows before the commit";
    ASSERT_TRUE(folder.Commit().Ok());
  }
  EXPECT_EQ(entries(), QStringList{"run"});
  {
    // Given up before its commit (a failed run): the old run is untouched, nothing is left beside it.
    TRunFolder folder;
    ASSERT_TRUE(folder.Open(dir, true).Ok());
    ASSERT_TRUE(WriteFile(folder.Path("run.json"), "new"));
    ASSERT_TRUE(WriteFile(folder.Path("series.csv"), "step\n"));
  }
  EXPECT_EQ(entries(), QStringList{"run"});
  EXPECT_EQ(ReadFile(dir + "/run.json"), "old");
  EXPECT_FALSE(QFileInfo::exists(dir + "/series.csv"));
  {
    TRunFolder folder;
    const TStatus refused = folder.Open(dir, false);
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Error().status, kExitRefused);
    ASSERT_TRUE(folder.Open(dir, true).Ok());
    ASSERT_TRUE(WriteFile(folder.Path("run.json"), "new"));
    ASSERT_TRUE(folder.Commit().Ok());
  }
  EXPECT_EQ(ReadFile(dir + "/run.json"), "new");
  EXPECT_EQ(entries(), QStringList{"run"}) << "the old run is gone once the new one is in place";
}

// A run's folder handed on before it is put in place (a batch puts it in
// place on a thread of its own): the files written inside it by the atomic
// writer are in place in it, flushed with the folder; what is moved from is
// nothing, and the folder goes with its last owner unless placed.
TEST(RunFolder, FilesInsideARunUnderWayGoWithTheFolderWhoeverOwnsItLast) {
  QTemporaryDir tmp;
  const QString dir = tmp.filePath("run");
  std::optional<TRunFolder> handed;
  {
    TRunFolder folder;
    ASSERT_TRUE(folder.Open(dir, false).Ok());
    EXPECT_TRUE(InsideRunUnderWay(folder.Path("series.csv")));
    EXPECT_FALSE(InsideRunUnderWay(dir + "/series.csv"));
    ASSERT_TRUE(SaveBytes("step\n", folder.Path("series.csv")).Ok());
    EXPECT_EQ(ReadFile(folder.Path("series.csv")), "step\n");
    handed.emplace(std::move(folder));
  }
  EXPECT_FALSE(QFileInfo::exists(dir));
  ASSERT_TRUE(handed->Sync().Ok());
  ASSERT_TRUE(handed->Place().Ok());
  ASSERT_TRUE(SyncParent(handed->Target()).Ok());
  EXPECT_EQ(ReadFile(dir + "/series.csv"), "step\n");
  EXPECT_FALSE(InsideRunUnderWay(dir + "/series.csv"));
  EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"run"});
  const QString other = tmp.filePath("other");
  {
    TRunFolder folder;
    ASSERT_TRUE(folder.Open(other, false).Ok());
    ASSERT_TRUE(SaveBytes("x", folder.Path("run.json")).Ok());
    handed.emplace(std::move(folder));
  }
  handed.reset();  // given up: nothing of it is left
  EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"run"});
}

// Which folders are a sweep's runs: one level down, visible, with a record.
TEST(SweepFolder, ItsRunsAreTheVisibleFoldersOneLevelDownThatHoldARecord) {
  QTemporaryDir tmp;
  const QDir root(tmp.path());
  for (const char* record : {"b/run.json", "a/run.json", ".hidden/run.json", "deeper/c/run.json", "run.json"}) {
    ASSERT_TRUE(root.mkpath(QFileInfo(root.filePath(record)).path()));
    ASSERT_TRUE(WriteFile(root.filePath(record), "{}"));
  }
  ASSERT_TRUE(root.mkpath("lost"));  // a run folder that lost its record
  EXPECT_EQ(SweepRunFolders(root.path()), (QStringList{"a", "b"}));
  EXPECT_EQ(SweepRunFolders(root.filePath("deeper")), QStringList{"c"});
  EXPECT_TRUE(SweepRunFolders(root.filePath("a")).isEmpty()) << "a run's own folder holds no runs";
  EXPECT_TRUE(SweepRunFolders(root.filePath("missing")).isEmpty());
}

struct TChangeCase {
  TSettingTexts changes;
  const char* refusal;  // nullptr: taken
};

class SettingChanges : public testing::TestWithParam<TChangeCase> {};

TEST_P(SettingChanges, AreCheckedAllBeforeAnyIsTakenWithTheCommandLinesWords) {
  const auto specs = SettingSpecs();
  TSettingValues values{};
  for (size_t i = 0; i < specs.size(); ++i) values[i] = specs[i].min;
  const TResult<TSettingValues> changed = ChangedBetweenSteps(values, GetParam().changes);
  if (GetParam().refusal == nullptr) {
    ASSERT_TRUE(changed.Ok()) << changed.Error().message.toStdString();
    for (const auto& [name, text] : GetParam().changes) {
      const size_t i = *FindSetting(name);
      EXPECT_EQ(FormatSettingValue(specs[i], (*changed)[i]), text);
    }
    return;
  }
  ASSERT_FALSE(changed.Ok());
  EXPECT_EQ(changed.Error().status, kExitRefused);
  EXPECT_EQ(changed.Error().message.toStdString(), GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SettingChanges,
    testing::Values(TChangeCase{{{"evaporation_rate", "0.8"}, {"sniff", "roulette"}, {"mark-strength", "70"}}, nullptr},
                    TChangeCase{{{"diffuse", "on"}}, nullptr},
                    TChangeCase{{{"agents", "10"}},
                                "--agents is fixed when the world is set up: it can be set only for a new world"},
                    TChangeCase{{{"knows_center", "on"}},
                                "--knows-center is fixed when the world is set up: it can be set only for a new world"},
                    TChangeCase{{{"mutation-rate", "0.5"}, {"mark_strength", "101"}},
                                "--mark-strength takes a whole number from 0 to 100, not '101'"},
                    TChangeCase{{{"evaporation-rate", "0.555"}},
                                "--evaporation-rate takes 0 to 1 in steps of 0.01, not '0.555'"},
                    TChangeCase{{{"speed", "3"}}, "no setting is called 'speed'"}));

TEST(Plan, AResolvedPlanRunsTwiceWithTheSameResult) {
  agents_test::MessageCollector messages;
  QTemporaryDir tmp;
  ASSERT_EQ(RunProgram({"--seed", "2", "--steps", "250", "--agents", "40", "--checkpoint-every", "250", "--out",
                        tmp.filePath("a")})
                .status,
            0);
  TRunOptions options;
  options.from = tmp.filePath("a/checkpoint.pwk");
  options.steps = 300;
  options.seed = 12;
  auto form = std::make_unique<TForm1>();
  const TResult<TRunPlan> plan = ResolvePlan(options, ReadSettings(*form), TPlanTarget::kFolder);
  ASSERT_TRUE(plan.Ok()) << plan.Error().message.toStdString();
  EXPECT_TRUE(plan->branchSeed);
  std::vector<std::vector<int64_t>> runs;
  for (int run = 0; run < 2; ++run) {
    std::vector<int64_t> seen;
    TRunObserver observer;
    observer.sample = [&](const TSample& s) {
      seen.insert(seen.end(), {s.step, s.avgAngle, s.tripsTotal, s.birthsTotal, s.visibleCells});
      return Success();
    };
    const TResult<TRunOutcome> outcome = RunExperiment(*form, *plan, observer);
    ASSERT_TRUE(outcome.Ok()) << outcome.Error().message.toStdString();
    EXPECT_EQ(outcome->endStep, 550);
    runs.push_back(seen);
  }
  EXPECT_EQ(runs[0].size(), 15u);  // samples at steps 300, 400, 500 of five values each
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_TRUE(messages.messages.empty());
}

// A record read from its bytes: one that lacks "ended" is written back
// without it and reads again; one whose "ended" is neither value, or that is
// not a record, is refused in one line naming it.
TEST(RecordText, ReadsBackAsWrittenAndRefusalsNameTheRecordInOneLine) {
  TSettingValues defaults{};
  for (size_t i = 0; i < kSettingCount; ++i) defaults[i] = SettingSpecs()[i].min;
  const QString name = QStringLiteral("dir/run.json");
  const QByteArray least = R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10})";
  const TResult<TRunRecord> noEnd = ParseRunRecord(least, name, defaults);
  ASSERT_TRUE(noEnd.Ok()) << noEnd.Error().message.toStdString();
  EXPECT_TRUE(noEnd->ended.isEmpty());
  const QJsonObject written = RecordToJson(*noEnd);
  EXPECT_FALSE(written.contains(QStringLiteral("ended")));
  const TResult<TRunRecord> again = ParseRunRecord(QJsonDocument(written).toJson(), name, defaults);
  ASSERT_TRUE(again.Ok()) << again.Error().message.toStdString();
  EXPECT_EQ(QJsonDocument(RecordToJson(*again)).toJson(), QJsonDocument(written).toJson());

  // A design point reads back as written; a record without one has none.
  EXPECT_FALSE(noEnd->spec.design.has_value());
  EXPECT_FALSE(written.contains(QStringLiteral("design")));
  TRunRecord designed = *noEnd;
  designed.spec.design = TDesignPoint{"sobol",
                                      {"agents", "sniff"},
                                      7,
                                      "AB2",
                                      "--design sobol --samples 8 --range agents=10:300 --range sniff=hill:roulette"};
  const QByteArray designedText = QJsonDocument(RecordToJson(designed)).toJson();
  const TResult<TRunRecord> designedAgain = ParseRunRecord(designedText, name, defaults);
  ASSERT_TRUE(designedAgain.Ok()) << designedAgain.Error().message.toStdString();
  EXPECT_EQ(designedAgain->spec.design, designed.spec.design);
  EXPECT_EQ(QJsonDocument(RecordToJson(*designedAgain)).toJson(), designedText);

  const struct {
    const char* text;
    const char* message;
  } refused[] = {
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "design": {"kind": "lhs", "factors": ["agents"],
          "point": 1, "role": "sample"}})",
       R"("design" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "design": {"kind": "lhs", "factors": ["agents"],
          "point": 1, "role": "A", "command": "--design lhs"}})",
       R"("design" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "design": {"kind": "lhs", "factors": [3],
          "point": 1, "role": "sample", "command": "--design lhs"}})",
       R"("design" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "design": {"kind": "lhs", "factors": ["agents"],
          "point": -1, "role": "sample", "command": "--design lhs"}})",
       R"("design" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "design": "lhs"})", R"("design" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "ended": ""})", R"("ended" must be)"},
      {R"({"program": "pathwick_run", "seed": 3, "steps_requested": 10, "ended": "completed\nx"})",
       R"("ended" must be)"},
      {R"({"program": "pathwick_run"})", R"("seed" must be)"},
      {R"({"program": "other", "seed": 3})", "is not a run record of pathwick_run"},
      {"{\"program\n", "is not a run record:"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.text);
    const TResult<TRunRecord> record = ParseRunRecord(c.text, name, defaults);
    ASSERT_FALSE(record.Ok());
    const QString& message = record.Error().message;
    EXPECT_TRUE(message.startsWith(name + QStringLiteral(": ")) || message.startsWith(name + QStringLiteral(" is ")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QLatin1String(c.message))) << message.toStdString();
    EXPECT_FALSE(message.contains(QLatin1Char('\n'))) << message.toStdString();
  }
}

TEST(ShowWithoutDisplay, IsRefusedInOneLine) {
  const Finished f = RunProgram({"--show", "--steps", "10"});
  EXPECT_EQ(f.status, 2);
  EXPECT_TRUE(f.err.contains("--show needs a display")) << f.err.toStdString();
  EXPECT_EQ(f.err.count('\n'), 1);
}

}  // namespace

// --- What stands where a file is to go, in every place that writes one ---

namespace {

enum class THostile { kLinkOutside, kLinkDevNull, kFifo, kFolder, kReadOnlyFile };

struct HostileRow {
  THostile kind;
  const char* what;     // as the refusal names it; empty: a regular file, which is replaced
  const char* planted;  // for the trace
};

const HostileRow kHostileRows[] = {
    {THostile::kLinkOutside, "a symbolic link", "a symbolic link to a file outside"},
    {THostile::kLinkDevNull, "a symbolic link", "a symbolic link to /dev/null"},
    {THostile::kFifo, "a FIFO", "a FIFO"},
    {THostile::kFolder, "a folder", "a folder"},
    {THostile::kReadOnlyFile, "", "a read-only file, a second link of the file outside"},
};

const QByteArray kOutsideBytes = "the user's own file, outside the folder\n";

// Plants `row` at `path`; `outside` is a file outside the folder.
void Plant(const HostileRow& row, const QString& path, const QString& outside) {
  QFile::remove(path);
  const QByteArray target = QFile::encodeName(path);
  switch (row.kind) {
    case THostile::kLinkOutside: ASSERT_TRUE(QFile::link(outside, path)); break;
    case THostile::kLinkDevNull: ASSERT_TRUE(QFile::link("/dev/null", path)); break;
    case THostile::kFifo: ASSERT_EQ(::mkfifo(target.constData(), 0644), 0); break;
    case THostile::kFolder: ASSERT_TRUE(QDir().mkpath(path)); break;
    case THostile::kReadOnlyFile:
      ASSERT_EQ(::link(QFile::encodeName(outside).constData(), target.constData()), 0);
      ASSERT_EQ(::chmod(target.constData(), 0444), 0);
      break;
  }
}

// After a write to `path` ended as `status` saying `message`: a planted
// thing that is not a regular file was refused with status 2 naming it, and
// still stands; a regular file was replaced by a new one. The file outside
// is unchanged either way.
void ExpectHostileOutcome(const HostileRow& row, const QString& path, const QString& outside, int status,
                          const QString& message) {
  EXPECT_EQ(ReadFile(outside), kOutsideBytes) << "the file outside is unchanged";
  struct stat st {};
  ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
  if (*row.what == '\0') {
    EXPECT_EQ(status, 0) << message.toStdString();
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_NE(ReadFile(path), kOutsideBytes) << "replaced by the new file";
    return;
  }
  EXPECT_EQ(status, kExitRefused);
  EXPECT_TRUE(message.contains(QStringLiteral("refused to write %1: it is %2").arg(path, row.what)))
      << message.toStdString();
  EXPECT_EQ(message.count('\n'), message.endsWith('\n') ? 1 : 0) << "one line";
  const bool stillPlanted = row.kind == THostile::kFifo     ? S_ISFIFO(st.st_mode)
                            : row.kind == THostile::kFolder ? S_ISDIR(st.st_mode)
                                                            : S_ISLNK(st.st_mode);
  EXPECT_TRUE(stillPlanted) << "what was planted is neither followed nor replaced";
}

// The last line a program wrote on standard error, or its standard output's
// when it said nothing there.
QString Said(const Finished& f) { return f.err.isEmpty() ? f.out : f.err; }

}  // namespace

TEST_F(Records, AHostileThingWhereAFileIsToGoIsRefusedNamingItOrARegularFileReplacedInEveryWriter) {
  const QString sweep = tmp.filePath("hostile");
  Run({"--seed", "1", "--steps", "200"}, sweep + "/a");
  Run({"--seed", "2", "--steps", "200"}, sweep + "/b");
  ASSERT_EQ(RunProgram({"--summarize", sweep}).status, 0);
  ASSERT_TRUE(QDir().mkpath(sweep + "/.sweep"));
  const QString outside = tmp.filePath("outside.txt");
  const QString plain = tmp.filePath("plain");
  ASSERT_TRUE(QDir().mkpath(plain));
  TResult<TCheckpointFile> saved = ReadCheckpoint(Checkpoint());
  ASSERT_TRUE(saved.Ok());
  const TCheckpointRule rule{saved->checkpoint.seed, saved->checkpoint.reseeds, saved->checkpoint.sampledTrips,
                             saved->checkpoint.sampledBirths};
  auto world = std::make_unique<TForm1>();
  ASSERT_TRUE(RestoreCheckpoint(*world, std::move(saved->checkpoint)).Ok());

  // Each place: where the file goes, and the write's status and message.
  struct Place {
    const char* name;
    QString path;
    std::function<std::pair<int, QString>()> write;
  };
  const auto status = [](const TStatus& s) {
    return s ? std::pair<int, QString>{0, QString()} : std::pair{s.Error().status, s.Error().message};
  };
  const auto program = [](const QStringList& arguments) {
    const Finished f = RunProgram(arguments);
    return std::pair{f.status, Said(f)};
  };
  const std::vector<Place> places = {
      {"the writer itself", plain + "/file.csv", [&] { return status(SaveBytes("new\n", plain + "/file.csv")); }},
      {"a table of the writer itself", plain + "/table.csv",
       [&] {
         TResult<TAtomicFile> file = TAtomicFile::Open(plain + "/table.csv");
         if (!file) return status(file.Error());
         if (TStatus written = file->Write(QByteArray("a,b\n")); !written) return status(written);
         return status(file->Commit());
       }},
      {"a checkpoint", plain + "/checkpoint.pwk",
       [&] {
         TCheckpointWriter writer(plain + "/checkpoint.pwk");
         if (TStatus started = writer.Write(*world, rule, plain + "/checkpoint.pwk"); !started) return status(started);
         return status(writer.Finish());
       }},
      {"--summarize's summary.csv", sweep + "/summary.csv",
       [&] {
         return program({"--summarize", sweep});
       }},
      {"--summarize's summary.png", sweep + "/summary.png",
       [&] {
         return program({"--summarize", sweep});
       }},
      {"--verify's verify.txt", sweep + "/.sweep/verify.txt",
       [&] {
         return program({"--verify", sweep, "--quiet"});
       }},
  };
  for (const Place& place : places) {
    for (const HostileRow& row : kHostileRows) {
      SCOPED_TRACE(std::string(place.name) + ", " + row.planted);
      WriteFile(outside, kOutsideBytes);
      Plant(row, place.path, outside);
      const auto [exit, message] = place.write();
      ExpectHostileOutcome(row, place.path, outside, exit, message);
      if (row.kind == THostile::kFolder) ASSERT_TRUE(QDir(place.path).removeRecursively());
      QFile::remove(place.path);
    }
  }

  // A run's own files are made in a folder of its own and renamed into
  // place: a thing planted in the run it replaces (--force) goes with the
  // old run, unfollowed.
  for (const HostileRow& row : kHostileRows) {
    SCOPED_TRACE(std::string("--out's series.csv, ") + row.planted);
    WriteFile(outside, kOutsideBytes);
    const QString run = sweep + "/a";
    Plant(row, run + "/series.csv", outside);
    const Finished f = RunProgram({"--seed", "1", "--steps", "200", "--out", run, "--force"});
    EXPECT_EQ(f.status, 0) << f.err.toStdString();
    EXPECT_EQ(ReadFile(outside), kOutsideBytes) << "the file outside is unchanged";
    EXPECT_TRUE(QFileInfo(run + "/series.csv").isFile() && !QFileInfo(run + "/series.csv").isSymLink());
    EXPECT_TRUE(ReadFile(run + "/series.csv").startsWith("step,"));
  }

  // A link standing where a run's folder goes, to a run elsewhere or to
  // /dev/null, is refused before the run, --force or not, and stays.
  const QString elsewhere = tmp.filePath("elsewhere");
  Run({"--seed", "3", "--steps", "50"}, elsewhere);
  const QByteArray elsewhereRecord = ReadFile(elsewhere + "/run.json");
  for (const QString& target : {elsewhere, QStringLiteral("/dev/null")}) {
    SCOPED_TRACE(target.toStdString());
    const QString linked = sweep + "/linked";
    QFile::remove(linked);
    ASSERT_TRUE(QFile::link(target, linked));
    const Finished f = RunProgram({"--seed", "1", "--steps", "50", "--out", linked, "--force"});
    EXPECT_EQ(f.status, kExitRefused);
    EXPECT_TRUE(f.err.contains("refused to write " + linked + ": it is a symbolic link")) << f.err.toStdString();
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
    EXPECT_EQ(ReadFile(elsewhere + "/run.json"), elsewhereRecord);
  }
}

// The bounded reader takes a regular file of at most its limit, whole, and
// refuses anything else before it reads a byte; a file that grows while it
// is read, or reads short of what it asked, is refused too.
TEST(BoundedFile, ReadsARegularFileWithinItsLimitAndRefusesTheRest) {
  QTemporaryDir tmp;
  const QString file = tmp.filePath("ten");
  ASSERT_TRUE(runner_test::WriteFile(file, "0123456789"));
  const QString fifo = tmp.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
  ASSERT_TRUE(QFile::link(file, tmp.filePath("link")));
  const struct {
    const char* name;
    QString path;
    qint64 limit;
    const char* refusal;  // empty: read whole
  } cases[] = {
      {"within its limit", file, 11, ""},
      {"at its limit", file, 10, ""},
      {"a link to a regular file", tmp.filePath("link"), 10, ""},
      {"one byte over", file, 9, "it holds 10 bytes, more than the 9"},
      {"a FIFO", fifo, 10, "it is not a regular file"},
      {"a folder", tmp.path(), 10, "it is not a regular file"},
      {"a device", "/dev/zero", 10, "it is not a regular file"},
      {"missing", tmp.filePath("none"), 10, "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TResult<QByteArray> read = ReadBounded(c.path, c.limit);
    if (!*c.refusal) {
      ASSERT_TRUE(read.Ok()) << read.Error().message.toStdString();
      EXPECT_EQ(*read, "0123456789");
      continue;
    }
    ASSERT_FALSE(read.Ok());
    EXPECT_EQ(read.Error().status, kExitRefused);
    EXPECT_TRUE(read.Error().message.contains(QLatin1String(c.refusal))) << read.Error().message.toStdString();
    EXPECT_TRUE(read.Error().message.contains(c.path)) << read.Error().message.toStdString();
  }
  // Asked for more than the file holds, and grown after it was opened.
  TResult<TBoundedFile> opened = TBoundedFile::Open(file, 100);
  ASSERT_TRUE(opened.Ok());
  EXPECT_EQ(opened->Size(), 10);
  ASSERT_TRUE(opened->Read(4).Ok());
  EXPECT_TRUE(opened->Read(7).Error().message.contains("cut short"));
  TResult<TBoundedFile> growing = TBoundedFile::Open(file, 100);
  ASSERT_TRUE(growing.Ok());
  QFile more(file);
  ASSERT_TRUE(more.open(QIODevice::Append));
  ASSERT_EQ(more.write("ab"), 2);
  more.close();
  EXPECT_TRUE(growing->ReadRest().Error().message.contains("larger than it was when opened"));
}
