// The analysis of runs: the t quantile against printed tables, the tables of
// a sweep against statistics computed here from the run folders, the sweeps page's
// worked example, and the figures' files and series.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QAbstractSeries>
#include <QAreaSeries>
#include <QChart>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QLineSeries>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <numeric>
#include <random>
#include <set>

#include "DesignKind.h"
#include "Estimation.h"
#include "Explore.h"
#include "Figures.h"
#include "Replicates.h"
#include "RunData.h"
#include "Sample.h"
#include "Statistics.h"
#include "Summary.h"
#include "agents_support.h"

namespace {

using runner_test::RunProgram;

// --- Student's t ---

struct TTableValue {
  double p, df, t;  // from a printed table of the t distribution
};

TEST(StudentT, QuantilesMatchTheTables) {
  const TTableValue table[] = {{0.975, 1, 12.7062047},   {0.975, 2, 4.30265273},   {0.975, 4, 2.77644511},
                               {0.975, 9, 2.26215716},   {0.975, 19, 2.09302405},  {0.975, 30, 2.04227246},
                               {0.975, 100, 1.98397152}, {0.95, 3, 2.35336343},    {0.995, 4, 4.60409487},
                               {0.9995, 1, 636.619249},  {0.975, 1e7, 1.95996432}, {0.75, 5, 0.72668684}};
  for (const TTableValue& row : table) {
    SCOPED_TRACE(testing::Message() << "p " << row.p << " df " << row.df);
    EXPECT_NEAR(StudentTQuantile(row.p, row.df), row.t, 1e-6 * row.t);
    EXPECT_NEAR(StudentTQuantile(1 - row.p, row.df), -row.t, 1e-6 * row.t);
  }
  // Welch's degrees of freedom are not whole: t at such df, from the CDF
  // (the regularised incomplete beta) inverted at 30 digits with mpmath.
  const TTableValue fractional[] = {{0.975, 1.3, 7.50052932556},
                                    {0.975, 2.5, 3.574654842},
                                    {0.975, 5.999, 2.44701072733},
                                    {0.975, 17.6, 2.10434984294}};
  for (const TTableValue& row : fractional) {
    SCOPED_TRACE(testing::Message() << "df " << row.df);
    EXPECT_NEAR(StudentTQuantile(row.p, row.df), row.t, 1e-9 * row.t);
  }
  EXPECT_TRUE(std::isnan(StudentTQuantile(1.0, 5)));
  EXPECT_TRUE(std::isnan(StudentTQuantile(0.0, 5)));
  EXPECT_TRUE(std::isnan(StudentTQuantile(0.5, 0)));
  EXPECT_TRUE(std::isnan(StudentTQuantile(NAN, 5)));
}

TEST(StudentT, SmallGroupsHaveNoIntervalAndEmptyOnesNoDifference) {
  const std::vector<double> one{5.0};
  const std::vector<double> none;
  const std::vector<double> two{4.0, 6.0};
  const TEstimate single = Estimate(one);
  EXPECT_EQ(single.mean, 5.0);
  EXPECT_FALSE(single.sd || single.low || single.high);
  const TEstimate pair = Estimate(two);
  ASSERT_TRUE(pair.low && pair.high);
  EXPECT_NEAR(*pair.high - pair.mean, 12.7062047 * 1.0, 1e-6);  // sd sqrt(2), se 1, t(0.975, 1)
  const TDifference withOne = Welch(pair, single);
  EXPECT_EQ(withOne.difference, 0.0);
  EXPECT_FALSE(withOne.low || withOne.df);
  EXPECT_FALSE(Welch(pair, Estimate(none)).difference.has_value());
}

// --- A sweep written by hand: every value known ---

using TTable = std::vector<runner_test::TCsvRow>;

TTable ReadTable(const QString& path) {
  return runner_test::CsvRows(runner_test::ReadFile(path), nullptr, path.toUtf8().constData());
}

double Cell(const std::map<QString, QString>& row, const char* column) {
  const auto it = row.find(QLatin1String(column));
  EXPECT_NE(it, row.end()) << column;
  return it == row.end() ? NAN : it->second.toDouble();
}

// Runs of 2 evaporation rates x 3 seeds; a run's avg_angle at sample s is
// base + seed * s, its unrounded mean_angle a quarter above, its trips
// 10 * seed + s (trips_total their running sum). The last run of rate 0.8
// was interrupted after two samples.
constexpr int kSeeds = 3;
constexpr int kSamples = 4;
struct THandRun {
  int evaporation;
  int seed;
  int samples;
};
constexpr THandRun kHandRuns[] = {{20, 1, kSamples}, {20, 2, kSamples}, {20, 3, kSamples},
                                  {80, 1, kSamples}, {80, 2, kSamples}, {80, 3, 2}};

double Angle(const THandRun& r, int s) { return (r.evaporation == 20 ? 60 : 40) + r.seed * r.seed * s; }
double Trips(const THandRun& r, int s) { return 10 * r.seed + s; }
double MeanAngle(const THandRun& r, int s) { return Angle(r, s) + 0.25; }

// A run folder as pathwick_run writes it: run.json and series.csv holding
// `samples`, the run of `steps` steps at that evaporation rate (hundredths),
// with further settings and its design point when given.
void WriteRunOf(const QString& dir, const TSettingValues& settings, uint32_t seed, int32_t steps,
                const std::vector<TSample>& samples, const std::optional<TDesignPoint>& design) {
  ASSERT_TRUE(QDir().mkpath(dir));
  TRunRecord record;
  record.spec.settings = settings;
  record.spec.design = design;
  record.spec.seed = seed;
  record.spec.steps = steps;
  record.samples = static_cast<int32_t>(samples.size());
  record.stepsRun = samples.empty() ? 0 : samples.back().step + TForm1::kSampleInterval;
  record.ended = record.stepsRun == steps ? "completed" : "interrupted";
  // As WriteRunRecord writes it, without its wait for the disk: a fixture of
  // thousands of runs stays fast.
  ASSERT_TRUE(
      runner_test::WriteFile(dir + "/run.json", QJsonDocument(RecordToJson(record)).toJson(QJsonDocument::Indented)));
  QString series = SeriesHeader();
  for (const TSample& sample : samples) series += SeriesRow(sample);
  ASSERT_TRUE(runner_test::WriteFile(dir + "/series.csv", series.toUtf8()));
}
void WriteRun(const QString& dir, const TSettingValues& defaults, int evaporation, uint32_t seed, int32_t steps,
              const std::vector<TSample>& samples, const std::vector<std::pair<const char*, int32_t>>& settings = {},
              const std::optional<TDesignPoint>& design = std::nullopt) {
  TSettingValues values = defaults;
  values[*FindSetting("evaporation-rate")] = evaporation;
  for (const auto& [option, value] : settings) values[*FindSetting(option)] = value;
  WriteRunOf(dir, values, seed, steps, samples, design);
}

class HandSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    auto form = std::make_unique<TForm1>();
    defaults_ = ReadSettings(*form);
    for (const THandRun& r : kHandRuns) {
      std::vector<TSample> samples(r.samples);
      for (int s = 0; s < r.samples; ++s) {
        samples[s].step = s * 100;
        samples[s].avgAngle = static_cast<int32_t>(Angle(r, s));
        samples[s].avgWiggle = 70;
        samples[s].meanAngle = MeanAngle(r, s);
        samples[s].meanWiggle = 70;
        samples[s].trips = static_cast<int64_t>(Trips(r, s));
        samples[s].tripsTotal = (s > 0 ? samples[s - 1].tripsTotal : 0) + samples[s].trips;
      }
      const QString dir = tmp_.filePath(QStringLiteral("run-e%1-s%2").arg(r.evaporation).arg(r.seed));
      WriteRun(dir, defaults_, r.evaporation, static_cast<uint32_t>(r.seed), kSamples * 100, samples);
    }
  }
  QString Summarize(int32_t window) {
    TResult<TSummaryReport> report = ::Summarize(tmp_.path(), defaults_, window);
    EXPECT_TRUE(report.Ok()) << report.Error().message.toStdString();
    if (!report) return {};
    EXPECT_TRUE(report->note.isEmpty()) << "one setting varies: " << report->note.toStdString();
    return report->comparison;
  }
  QTemporaryDir tmp_;
  TSettingValues defaults_{};
};

// Mean, sd (n - 1) and the t interval, written out here, cut to what the
// values can be (a gene 0 to 255, a count not below zero).
struct TExpected {
  double mean, sd, low, high;
};
TExpected Expect(const std::vector<double>& v, double t, double lowest = 0, double highest = 255) {
  double sum = 0;
  for (double x : v) sum += x;
  const double mean = sum / v.size();
  double squares = 0;
  for (double x : v) squares += (x - mean) * (x - mean);
  const double sd = std::sqrt(squares / (v.size() - 1));
  return {mean, sd, std::max(mean - t * sd / std::sqrt(v.size()), lowest),
          std::min(mean + t * sd / std::sqrt(v.size()), highest)};
}
constexpr double kT2 = 4.30265273;   // t(0.975, 2 df), from the table
constexpr double kT1 = 12.7062047;   // t(0.975, 1 df)
constexpr double kTolerance = 1e-4;  // the tables hold four decimals

void ExpectRow(const std::map<QString, QString>& row, const char* prefix, const TExpected& e) {
  const std::string p(prefix);
  EXPECT_NEAR(Cell(row, (p + "mean").c_str()), e.mean, kTolerance);
  EXPECT_NEAR(Cell(row, (p + "sd").c_str()), e.sd, kTolerance);
  EXPECT_NEAR(Cell(row, (p + "ci_low").c_str()), e.low, kTolerance);
  EXPECT_NEAR(Cell(row, (p + "ci_high").c_str()), e.high, kTolerance);
}

TEST_F(HandSweep, GroupsHoldEachStepsMeanSdAndStudentInterval) {
  Summarize(0);
  const TTable groups = ReadTable(tmp_.filePath("groups.csv"));
  ASSERT_EQ(groups.size(), 2u * kSamples);
  for (const auto& row : groups) {
    const int evaporation = static_cast<int>(std::lround(Cell(row, "evaporation_rate") * 100));
    const int s = static_cast<int>(Cell(row, "step")) / 100;
    SCOPED_TRACE(testing::Message() << "rate " << evaporation << " sample " << s);
    EXPECT_EQ(row.at("group"), QStringLiteral("evaporation-rate=%1").arg(evaporation / 100.0));
    std::vector<double> angles, trips;
    for (const THandRun& r : kHandRuns) {
      if (r.evaporation != evaporation || s >= r.samples) continue;
      angles.push_back(Angle(r, s));
      trips.push_back(Trips(r, s));
    }
    ASSERT_EQ(Cell(row, "n"), angles.size());
    const double t = angles.size() == 3 ? kT2 : kT1;
    ExpectRow(row, "avg_angle_", Expect(angles, t));
    ExpectRow(row, "trips_", Expect(trips, t, 0, INFINITY));
    // The bands stay within what they can be: at the first samples the trips' t interval reaches below zero.
    EXPECT_GE(Cell(row, "trips_ci_low"), 0);
    EXPECT_NEAR(Cell(row, "avg_wiggle_mean"), 70, kTolerance);
    EXPECT_NEAR(Cell(row, "avg_wiggle_sd"), 0, kTolerance);
  }
}

TEST_F(HandSweep, ComparisonHoldsFinalMeansAndWelchDifferences) {
  const QString report = Summarize(2);
  const TTable comparison = ReadTable(tmp_.filePath("comparison.csv"));
  // 4 measures x 2 bases x (2 groups + 1 difference).
  ASSERT_EQ(comparison.size(), 24u);
  const auto find = [&](const char* measure, const char* basis, const char* kind) {
    for (const auto& row : comparison) {
      if (row.at("measure") == measure && row.at("basis") == basis && row.at("kind") == kind &&
          (QLatin1String(kind) == QLatin1String("difference") || row.at("value") == "0.2"))
        return row;
    }
    ADD_FAILURE() << measure << " " << basis << " " << kind;
    return std::map<QString, QString>{};
  };
  // Final values of the unrounded gene: the last sample, and the mean of the last two.
  const auto finals = [](int evaporation, int window) {
    std::vector<double> v;
    for (const THandRun& r : kHandRuns) {
      if (r.evaporation != evaporation) continue;
      double sum = 0;
      for (int s = r.samples - window; s < r.samples; ++s) sum += MeanAngle(r, s);
      v.push_back(sum / window);
    }
    return v;
  };
  for (const auto& [basis, window] : {std::pair{"last", 1}, std::pair{"window", 2}}) {
    SCOPED_TRACE(basis);
    const auto a = finals(20, window);
    const auto b = finals(80, window);
    const TExpected ea = Expect(a, kT2);
    const TExpected eb = Expect(b, kT2);
    const auto group = find("mean_angle", basis, "group");
    EXPECT_EQ(group.at("method"), "t");
    EXPECT_EQ(Cell(group, "window"), window);
    EXPECT_NEAR(Cell(group, "estimate"), ea.mean, kTolerance);
    EXPECT_NEAR(Cell(group, "ci_low"), ea.low, kTolerance);
    EXPECT_NEAR(Cell(group, "ci_high"), ea.high, kTolerance);
    // Welch: se and the Welch-Satterthwaite df written out; t for that df
    // from the library, which the table test above checks.
    const double va = ea.sd * ea.sd / 3;
    const double vb = eb.sd * eb.sd / 3;
    const double df = (va + vb) * (va + vb) / (va * va / 2 + vb * vb / 2);
    const double half = StudentTQuantile(0.975, df) * std::sqrt(va + vb);
    const auto difference = find("mean_angle", basis, "difference");
    EXPECT_EQ(difference.at("method"), "welch");
    EXPECT_EQ(difference.at("value"), "0.8");
    EXPECT_EQ(difference.at("versus"), "0.2");
    EXPECT_NEAR(Cell(difference, "estimate"), eb.mean - ea.mean, kTolerance);
    EXPECT_NEAR(Cell(difference, "df"), df, kTolerance);
    EXPECT_NEAR(Cell(difference, "ci_low"), eb.mean - ea.mean - half, kTolerance);
    EXPECT_NEAR(Cell(difference, "ci_high"), eb.mean - ea.mean + half, kTolerance);
    EXPECT_TRUE(report.contains(QStringLiteral("0.8 - 0.2: %1").arg(eb.mean - ea.mean, 0, 'f', 2)))
        << report.toStdString();
  }
  // The wiggle gene is equal in every run: a zero-width interval, not a division by zero.
  const auto wiggle = find("mean_wiggle", "last", "difference");
  EXPECT_NEAR(Cell(wiggle, "ci_low"), Cell(wiggle, "ci_high"), kTolerance);
  // Rate 0.2's trips per 100 steps: over the last sample interval 10 seed + 3,
  // over the window of two intervals 10 seed + 2.5, averaged over seeds 1 to 3.
  EXPECT_NEAR(Cell(find("trip_rate", "last", "group"), "estimate"), 23, kTolerance);
  EXPECT_NEAR(Cell(find("trip_rate", "window", "group"), "estimate"), 22.5, kTolerance);
}

TEST_F(HandSweep, SamplesJoinBackToTheRunFolders) {
  Summarize(0);
  const TTable samples = ReadTable(tmp_.filePath("samples.csv"));
  size_t expected = 0;
  for (const THandRun& r : kHandRuns) expected += r.samples;
  ASSERT_EQ(samples.size(), expected);
  const TResult<std::vector<TRunData>> runs = ReadSweep(tmp_.path(), defaults_);
  ASSERT_TRUE(runs.Ok());
  for (const auto& row : samples) {
    const auto run =
        std::find_if(runs->begin(), runs->end(), [&](const TRunData& r) { return r.folder == row.at("folder"); });
    ASSERT_NE(run, runs->end());
    const int s = static_cast<int>(Cell(row, "step")) / 100;
    ASSERT_LT(static_cast<size_t>(s), run->series.rows.size());
    for (qsizetype c = 0; c < run->series.header.size(); ++c)
      EXPECT_EQ(row.at(run->series.header[c]), run->series.rows[s][c]) << run->series.header[c].toStdString();
    EXPECT_EQ(Cell(row, "seed"), run->record.spec.seed);
    EXPECT_EQ(row.at("evaporation_rate"),
              FormatSettingValue(SettingSpecs()[*FindSetting("evaporation-rate")],
                                 run->record.spec.settings[*FindSetting("evaporation-rate")]));
    EXPECT_EQ(row.at("parent"), "");
  }
}

// The samples compressed on request read back as the plain table, and the
// form not asked for is not left beside it.
TEST_F(HandSweep, CompressedSamplesReadBackEqualToPlain) {
  Summarize(0);
  const QByteArray plain = runner_test::ReadFile(tmp_.filePath("samples.csv"));
  ASSERT_FALSE(plain.isEmpty());
  ASSERT_TRUE(::Summarize(tmp_.path(), defaults_, 0, true).Ok());
  QByteArray unpacked;
  gzFile file = gzopen(QFile::encodeName(tmp_.filePath("samples.csv.gz")).constData(), "rb");
  ASSERT_NE(file, nullptr);
  char block[1 << 14];
  for (int n; (n = gzread(file, block, sizeof block)) > 0;) unpacked.append(block, n);
  gzclose(file);
  EXPECT_EQ(unpacked, plain);
  EXPECT_FALSE(QFile::exists(tmp_.filePath("samples.csv")));
  EXPECT_FALSE(QFile::exists(tmp_.filePath("samples.csv.gz.part")));
  Summarize(0);
  EXPECT_FALSE(QFile::exists(tmp_.filePath("samples.csv.gz")));
}

TEST_F(HandSweep, ATableThatCannotBeWrittenFailsTheSummaryNamingIt) {
  for (const char* name : {"summary.csv", "samples.csv", "groups.csv", "comparison.csv"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(QDir(tmp_.path()).mkdir(name)) << "a folder in the table's place: refused, not replaced";
    const TResult<TSummaryReport> report = ::Summarize(tmp_.path(), defaults_, 0);
    ASSERT_FALSE(report.Ok());
    EXPECT_EQ(report.Error().status, kExitRefused);
    EXPECT_EQ(report.Error().message,
              "refused to write " + tmp_.filePath(name) + ": it is a folder, which is never followed or replaced");
    EXPECT_TRUE(QFileInfo(tmp_.filePath(name)).isDir());
    ASSERT_TRUE(QDir(tmp_.filePath(name)).removeRecursively());
  }
}

// The summary is swapped in as a set through a staging folder: none is left
// behind; one an interrupted swap left (its old files in "old/") is removed
// by the next summary, unless it holds what no swap puts there; and a link
// at a name the summary no longer makes is refused, not removed.
TEST_F(HandSweep, TheSummaryIsSwappedInAsASetAndLeavesNoStagingFolder) {
  const QDir dir(tmp_.path());
  const auto staging = [&] { return dir.entryList({".summary.*.part"}, QDir::AllEntries | QDir::Hidden); };
  Summarize(0);
  EXPECT_TRUE(staging().isEmpty()) << staging().join(' ').toStdString();
  const QByteArray table = runner_test::ReadFile(tmp_.filePath("summary.csv"));
  const struct {
    const char* plant;  // inside the leftover staging folder
    bool link;
    bool removed;
  } rows[] = {
      {"old/summary.csv", false, true},
      {"summary.png", false, true},
      {"notes/readme.txt", false, false},
      {"old/link", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.plant);
    const QString left = tmp_.filePath(".summary.5eed.part");
    const QString planted = left + "/" + row.plant;
    ASSERT_TRUE(QDir().mkpath(QFileInfo(planted).absolutePath()));
    if (row.link) {
      ASSERT_TRUE(QFile::link(tmp_.filePath("summary.csv"), planted));
    } else {
      ASSERT_TRUE(SaveBytes("left by a swap cut short\n", planted).Ok());
    }
    Summarize(0);
    EXPECT_EQ(QFileInfo::exists(left), !row.removed);
    EXPECT_EQ(runner_test::ReadFile(tmp_.filePath("summary.csv")), table) << "the link is never followed";
    ASSERT_TRUE(QDir(left).removeRecursively());
  }
  // samples.csv.gz is not made without --gzip-samples; a link in its place stays, and nothing is swapped.
  const QString other = tmp_.filePath("samples.csv.gz");
  ASSERT_TRUE(QFile::link(tmp_.filePath("summary.csv"), other));
  ASSERT_TRUE(QFile::remove(tmp_.filePath("groups.csv")));
  const TResult<TSummaryReport> report = ::Summarize(tmp_.path(), defaults_, 0);
  ASSERT_FALSE(report.Ok());
  EXPECT_EQ(report.Error().status, kExitRefused);
  EXPECT_EQ(report.Error().message,
            "refused to write " + other + ": it is a symbolic link, which is never followed or replaced");
  EXPECT_TRUE(QFileInfo(other).isSymLink());
  EXPECT_FALSE(QFile::exists(tmp_.filePath("groups.csv"))) << "nothing of the new set is put in place";
  EXPECT_TRUE(staging().isEmpty());
}

TEST_F(HandSweep, SummaryFigureHasABandAndMeanPerGroupAndADotPerRun) {
  Summarize(0);
  for (const char* name : {"summary.png", "summary.svg"})
    EXPECT_TRUE(QFileInfo(tmp_.filePath(name)).size() > 0) << name;
  const QImage png(tmp_.filePath("summary.png"));
  TSummaryFigure data;
  data.varied = "evaporation-rate";
  for (int g = 0; g < 2; ++g) {
    TFigureGroup group;
    group.label = g == 0 ? "0.2" : "0.8";
    group.colour = Qt::blue;
    for (size_t gene = 0; gene < kSummaryRows; ++gene) {
      group.curves[gene] = {{0, 50, 40, 60}, {100, 52, 41, 63}};
      group.finals[gene] = {50, 52, 61};
      group.finalEstimates[gene] = Estimate(group.finals[gene]);
    }
    data.groups.push_back(group);
  }
  const auto figure = BuildSummaryFigure(data);
  EXPECT_EQ(png.size(), figure->Size());
  QSvgRenderer svg(tmp_.filePath("summary.svg"));
  ASSERT_TRUE(svg.isValid());
  EXPECT_EQ(svg.viewBox().size(), figure->Size());
  ASSERT_EQ(figure->Charts().size(), 6u);  // per gene and for the trips: over the run, at the end
  for (size_t gene = 0; gene < kSummaryRows; ++gene) {
    QList<QAbstractSeries*> time = figure->Charts()[2 * gene]->series();
    QList<QAbstractSeries*> end = figure->Charts()[2 * gene + 1]->series();
    EXPECT_EQ(time.size(), 2 * 2);  // a band and a mean line per group
    EXPECT_EQ(
        std::count_if(time.begin(), time.end(), [](auto* s) { return s->type() == QAbstractSeries::SeriesTypeArea; }),
        2);
    // A dot series, the mean's bar, the interval and its two ends per group.
    EXPECT_EQ(end.size(), 2 * 5);
  }
}

// Past a few hundred runs a group's final values are a box with whiskers and
// its two extremes, not a dot a run, so the figure stays the same size.
TEST(SummaryFigure, AGroupOfManyRunsIsABoxWithItsExtremes) {
  TSummaryFigure data;
  TFigureGroup group;
  group.label = "all runs";
  group.colour = Qt::blue;
  for (size_t row = 0; row < kSummaryRows; ++row) {
    group.curves[row] = {{0, 50, 40, 60}, {100, 52, 41, 63}};
    for (int r = 0; r <= 1000; ++r) group.finals[row].push_back(r % 2 ? 1000 - r : r);  // 0..1000, shuffled
    group.finalEstimates[row] = Estimate(group.finals[row]);
  }
  data.groups.push_back(group);
  const auto figure = BuildSummaryFigure(data);
  const QList<QAbstractSeries*> end = figure->Charts()[1]->series();
  std::vector<QPointF> extremes;
  std::vector<std::vector<QPointF>> lines;
  for (QAbstractSeries* series : end) {
    auto* xy = qobject_cast<QXYSeries*>(series);
    const QList<QPointF> points = xy ? xy->points() : QList<QPointF>{};
    if (qobject_cast<QScatterSeries*>(series)) extremes = {points.begin(), points.end()};
    if (qobject_cast<QLineSeries*>(series)) lines.emplace_back(points.begin(), points.end());
    if (auto* box = qobject_cast<QAreaSeries*>(series)) {
      EXPECT_EQ(box->upperSeries()->points().front().y(), 750);
      EXPECT_EQ(box->lowerSeries()->points().front().y(), 250);
    }
  }
  EXPECT_EQ(extremes, (std::vector<QPointF>{{0, 0}, {0, 1000}}));
  // The median across the box, and the whiskers from its edges to 2.5 and 97.5 %.
  for (const std::vector<QPointF>& line :
       {std::vector<QPointF>{{-0.18, 500}, {0.18, 500}}, {{0, 750}, {0, 975}}, {{0, 250}, {0, 25}}}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line[0].y() << " to " << line[1].y();
  }
}

// The figure's title counts runs, groups and runs a group in words that fit
// the counts, and names no varied setting when none varies.
TEST(SummaryFigure, TitleCountsRunsAndGroupsInWordsThatFitThem) {
  const struct {
    std::vector<int> evaporations;  // one run each, seeds 1, 2, ...
    const char* title;
  } table[] = {
      {{20, 20, 20}, "Mean genes of 3 runs (seeds) sharing every setting"},
      {{20}, "Mean genes of 1 run (seed) sharing every setting"},
      {{20, 80}, "Mean genes of 2 runs by evaporation-rate: 2 groups, 1 run (seed) each"},
      {{20, 20, 80, 80}, "Mean genes of 4 runs by evaporation-rate: 2 groups, 2 runs (seeds) each"},
      {{20, 20, 80}, "Mean genes of 3 runs by evaporation-rate: 2 groups, 1 to 2 runs (seeds) each"},
      // More groups than lines that read apart: pooled by the setting, said so.
      {{10, 20, 30, 40, 50, 60, 70, 80, 90}, "Mean genes of 9 runs by evaporation-rate: 9 values, 1 run (seed) each"},
  };
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  const std::vector<TSample> samples{{.step = 0}, {.step = 100}};
  for (const auto& row : table) {
    SCOPED_TRACE(row.title);
    QTemporaryDir tmp;
    for (size_t r = 0; r < row.evaporations.size(); ++r) {
      WriteRun(tmp.filePath(QStringLiteral("run-%1").arg(r)), defaults, row.evaporations[r],
               static_cast<uint32_t>(r + 1), 200, samples);
    }
    ASSERT_TRUE(Summarize(tmp.path(), defaults, 0).Ok());
    const QString svg = QString::fromUtf8(runner_test::ReadFile(tmp.filePath("summary.svg")));
    EXPECT_TRUE(svg.contains(QStringLiteral(">%1<").arg(QLatin1String(row.title))))
        << svg.mid(svg.indexOf("Mean genes"), 100).toStdString();
  }
}

// --- The worked example of docs/sweeps.md ---

// The lines of the sweeps page's block that starts with `first`, up to its fence.
QStringList SweepsPageBlock(const QString& first) {
  const QString page = QString::fromUtf8(runner_test::ReadFile(QStringLiteral(PATHWICK_SOURCE_DIR "/docs/sweeps.md")));
  const qsizetype start = page.indexOf(QStringLiteral("```\n") + first);
  if (start < 0) return {};
  const qsizetype from = start + 4;
  return page.mid(from, page.indexOf(QStringLiteral("\n```"), from) - from).split('\n');
}

// The sweeps page's worked sweep, 2 evaporation rates x 10 seeds of 50000
// steps, held as the last 10 samples of each run's chart genes and trips (all
// that a summary with --window 10 compares): the summary prints the page's lines.
TEST(SweepsPageSweep, SummaryPrintsThePagesIntervals) {
  const char* fixture = PATHWICK_TEST_DATA "/evaporation-sweep-last10.csv";
  const auto rows = runner_test::CsvRows(runner_test::ReadFile(QLatin1String(fixture)), nullptr, fixture);
  ASSERT_EQ(rows.size(), 2u * 10 * 10);
  std::map<std::pair<int, uint32_t>, std::vector<TSample>> runs;
  for (const auto& row : rows) {
    TSample sample;
    sample.step = row.at("step").toInt();
    sample.avgAngle = row.at("avg_angle").toInt();
    sample.avgWiggle = row.at("avg_wiggle").toInt();
    sample.trips = row.at("trips").toLongLong();
    // The fixture holds the chart's rounded genes; here they stand for the
    // unrounded ones the comparison reads, and the trips add up to the total.
    sample.meanAngle = sample.avgAngle;
    sample.meanWiggle = sample.avgWiggle;
    const int evaporation = static_cast<int>(std::lround(row.at("evaporation_rate").toDouble() * 100));
    auto& series = runs[{evaporation, row.at("seed").toUInt()}];
    sample.tripsTotal = (series.empty() ? 0 : series.back().tripsTotal) + sample.trips;
    series.push_back(sample);
  }
  ASSERT_EQ(runs.size(), 20u);
  QTemporaryDir tmp;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  for (const auto& [key, samples] : runs) {
    const QString dir = tmp.filePath(QStringLiteral("run-e%1-seed-%2").arg(key.first).arg(key.second));
    WriteRun(dir, defaults, key.first, key.second, 50000, samples);
  }
  const TResult<TSummaryReport> summary = Summarize(tmp.path(), defaults, 10);
  ASSERT_TRUE(summary.Ok()) << summary.Error().message.toStdString();
  const QString* report = &summary->comparison;
  const QStringList page = SweepsPageBlock(QStringLiteral("evaporation-rate: group means"));
  ASSERT_GE(page.size(), 9) << "the example block of docs/sweeps.md is missing";
  const QStringList printed = report->split('\n');
  ASSERT_GE(printed.size(), page.size());
  for (qsizetype i = 0; i < page.size(); ++i) EXPECT_EQ(printed[i].toStdString(), page[i].toStdString());
  // The prose after the block quotes the wiggle gene's difference.
  EXPECT_TRUE(report->contains(QStringLiteral("0.8 - 0.2: 10.99 [-0.55, 22.53]"))) << report->toStdString();
}

// --- The study's measures of a run ---

// One run's series by hand: mean_angle 10, 20, 40, 80 and cumulative trips
// 0, 5, 15, 45 and births 0, 0, 2, 3 at steps 0 to 300. A window of K samples
// spans the K sample intervals before the last sample, or from the first
// sample when it reaches back that far.
TEST(StudyMeasures, WindowMeansAndRatesOfATinySeries) {
  const struct {
    int32_t window;
    int samples;  // the series' first samples the run holds
    const char* meanAngle;
    const char* tripRate;
    const char* birthRate;
  } table[] = {
      {1, 4, "80.0000", "30.0000", "1.0000"}, {2, 4, "60.0000", "20.0000", "1.5000"},
      {3, 4, "46.6667", "15.0000", "1.0000"}, {10, 4, "37.5000", "15.0000", "1.0000"},
      {2, 3, "30.0000", "7.5000", "1.0000"},  {1, 1, "10.0000", "", ""},
  };
  const double angles[] = {10, 20, 40, 80};
  const int64_t trips[] = {0, 5, 15, 45};
  const int64_t births[] = {0, 0, 2, 3};
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  for (const auto& row : table) {
    SCOPED_TRACE(testing::Message() << "window " << row.window << ", " << row.samples << " samples");
    QTemporaryDir tmp;
    std::vector<TSample> samples(row.samples);
    for (int s = 0; s < row.samples; ++s) {
      samples[s].step = 100 * s;
      samples[s].meanAngle = angles[s];
      samples[s].tripsTotal = trips[s];
      samples[s].birthsTotal = births[s];
    }
    WriteRun(tmp.filePath("run"), defaults, 50, 1, 400, samples);
    ASSERT_TRUE(Summarize(tmp.path(), defaults, row.window).Ok());
    const TTable summary = ReadTable(tmp.filePath("summary.csv"));
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0].at("window_mean_angle"), row.meanAngle);
    EXPECT_EQ(summary[0].at("trip_rate"), row.tripRate);
    EXPECT_EQ(summary[0].at("birth_rate"), row.birthRate);
  }
}

// An interval never leaves what the measure can be: where Student's t would,
// the bootstrap over the values takes its place, named, and it is the same
// on every call.
TEST(StudyMeasures, IntervalsStayWithinTheMeasuresRange) {
  const struct {
    const char* name;
    std::vector<double> values;
    TBounds bounds;
    const char* method;
  } table[] = {
      {"spread rates", {10, 12, 14, 11, 13}, {0.0, std::nullopt}, "t"},
      {"skewed rates", {0, 0, 0, 0, 0, 0, 0, 0, 0, 60}, {0.0, std::nullopt}, "bootstrap"},
      {"genes at the top", {255, 255, 255, 240}, {0.0, 255.0}, "bootstrap"},
      {"unbounded", {0, 0, 0, 60}, {}, "t"},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.name);
    const TEstimate e = BoundedEstimate(row.values, row.bounds);
    ASSERT_TRUE(e.low && e.high && e.method);
    EXPECT_STREQ(e.method, row.method);
    EXPECT_EQ(e.mean, Estimate(row.values).mean);
    EXPECT_LE(*e.low, e.mean);
    EXPECT_GE(*e.high, e.mean);
    if (row.bounds.lowest) EXPECT_GE(*e.low, *row.bounds.lowest);
    if (row.bounds.highest) EXPECT_LE(*e.high, *row.bounds.highest);
    if (std::string_view(row.method) == "t") {
      EXPECT_EQ(e.low, Estimate(row.values).low);
    } else {
      EXPECT_LT(*e.low, *e.high);
      const TEstimate again = BoundedEstimate(row.values, row.bounds);
      EXPECT_EQ(again.low, e.low);
      EXPECT_EQ(again.high, e.high);
    }
  }
}

TEST(ValueColours, FixedByValueAndOrdered) {
  const TSettingSpec& rate = SettingSpecs()[*FindSetting("evaporation-rate")];
  // Brighter for higher values: the relative luminance of the scale rises.
  const auto luminance = [](const QColor& c) {
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  double previous = -1;
  for (int v = 0; v <= 100; v += 10) {
    EXPECT_GT(luminance(ValueColour(rate, v)), previous) << v;
    previous = luminance(ValueColour(rate, v));
  }
  const TSettingSpec& agents = SettingSpecs()[*FindSetting("agents")];
  EXPECT_NE(ValueColour(agents, 100), ValueColour(agents, 200));
}

// --- The program: run folders, figures and the per-colony spread ---

TEST(AnalysisProgram, BranchFigureSpansItsStepsWithTheParentsHistory) {
  QTemporaryDir tmp;
  ASSERT_EQ(RunProgram({"--quiet", "--seed", "4", "--steps", "1200", "--checkpoint-every", "1200", "--histograms",
                        "--plot", "--out", tmp.filePath("base")})
                .status,
            0);
  ASSERT_EQ(RunProgram({"--quiet", "--from", tmp.filePath("base/checkpoint.pwk"), "--evaporation-rate", "0.8",
                        "--steps", "800", "--plot", "--out", tmp.filePath("branch")})
                .status,
            0);
  for (const char* png : {"base/genes.png", "base/genes_hist.png", "branch/genes.png"})
    EXPECT_FALSE(QImage(tmp.filePath(png)).isNull()) << png;
  for (const char* svg : {"base/genes.svg", "base/genes_hist.svg", "branch/genes.svg"})
    EXPECT_TRUE(runner_test::ReadFile(tmp.filePath(svg)).contains("<svg")) << svg;
  EXPECT_FALSE(QFile::exists(tmp.filePath("branch/genes_hist.png"))) << "no histograms were asked for";
  // The figures name no folder: repeated elsewhere, every byte is the same.
  for (const char* run : {"base", "branch"}) EXPECT_EQ(RunProgram({"--verify", tmp.filePath(run)}).status, 0) << run;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  const TResult<TRunData> read = ReadRunFolder(tmp.filePath("branch"), defaults);
  ASSERT_TRUE(read.Ok());
  const TRunData& branch = *read;
  const auto parent = FindParent(branch.record, defaults);
  ASSERT_TRUE(parent.has_value());
  EXPECT_EQ(parent->folder, "base");
  const auto withParent = BuildGeneFigure(branch, parent, defaults);
  EXPECT_EQ(QImage(tmp.filePath("branch/genes.png")).size(), withParent->Size());
  QChart* chart = withParent->Charts().front();
  EXPECT_EQ(chart->series().size(), 4);  // each gene before and after the branch
  auto* x = qobject_cast<QValueAxis*>(chart->axes(Qt::Horizontal).front());
  EXPECT_EQ(x->min(), 0);
  EXPECT_GE(x->max(), 1900);
  EXPECT_LT(x->max(), 2500);
  // Without the parent, the axis spans the branch's own steps.
  const auto alone = BuildGeneFigure(branch, std::nullopt, defaults);
  EXPECT_EQ(alone->Charts().front()->series().size(), 2);
  x = qobject_cast<QValueAxis*>(alone->Charts().front()->axes(Qt::Horizontal).front());
  EXPECT_GE(x->min(), 1000);
  EXPECT_LE(x->min(), 1200);
  EXPECT_GE(x->max(), 1900);
  EXPECT_LT(x->max(), 2100);
  // The histogram figure: two maps, one per gene.
  const TResult<std::vector<THistogramSample>> samples = ReadHistograms(tmp.filePath("base/genes_hist.csv"));
  ASSERT_TRUE(samples.Ok());
  EXPECT_EQ(samples->size(), 12u);  // steps 0 to 1100
  EXPECT_EQ(BuildHistogramFigure(4, *samples)->Charts().size(), 2u);
  // A parent rerun in place is another checkpoint: no longer this branch's parent.
  ASSERT_EQ(RunProgram({"--quiet", "--seed", "5", "--steps", "300", "--checkpoint-every", "300", "--force", "--out",
                        tmp.filePath("base")})
                .status,
            0);
  EXPECT_FALSE(FindParent(branch.record, defaults).has_value());
}

TEST(AnalysisProgram, SeriesHoldsEachColonysSpread) {
  auto form = agents_test::MakeWorld(200);
  for (int i = 0; i < 300; ++i) form->DoStep();
  const TSample s = TakeSample(*form, 0, 0, {});
  for (int32_t c = 0; c < TForm1::kColonies; ++c) {
    std::vector<double> angle, wiggle;
    for (const TAgent& a : form->agents) {
      if (a.colony != c) continue;
      angle.push_back(a.angleGene);
      wiggle.push_back(a.wiggleGene);
    }
    // The population standard deviation, as sd_angle is.
    const auto sd = [](const std::vector<double>& v) {
      double m = 0, q = 0;
      for (double x : v) m += x / v.size();
      for (double x : v) q += (x - m) * (x - m) / v.size();
      return std::sqrt(q);
    };
    EXPECT_NEAR(s.colonyAngleSd[c], sd(angle), 1e-9) << c;
    EXPECT_NEAR(s.colonyWiggleSd[c], sd(wiggle), 1e-9) << c;
  }
  const QStringList header = SeriesHeader().trimmed().split(',');
  const QStringList row = SeriesRow(s).trimmed().split(',');
  ASSERT_EQ(header.size(), row.size());
  EXPECT_EQ(header.indexOf("sd_angle_c0"), 13 + 20);  // after the existing columns
  EXPECT_EQ(header.indexOf("sd_wiggle_c9"), 13 + 40 - 1);
  EXPECT_EQ(header.mid(13 + 40), (QStringList{"mean_chemical", "floor_share"})) << "the field's, added after them";
  EXPECT_NEAR(row[header.indexOf("sd_wiggle_c9")].toDouble(), s.colonyWiggleSd[9], 1e-4);
}

TEST(AnalysisProgram, WindowBelongsToSummarize) {
  QTemporaryDir tmp;
  for (const QStringList& refused :
       {QStringList{"--window", "3", "--steps", "100"}, QStringList{"--verify", tmp.path(), "--window", "3"},
        QStringList{"--summarize", tmp.path(), "--window", "0"},
        QStringList{"--summarize", tmp.path(), "--window", "x"}}) {
    const auto finished = RunProgram(refused);
    EXPECT_EQ(finished.status, 2) << refused.join(' ').toStdString();
    EXPECT_TRUE(finished.err.contains("--window")) << finished.err.toStdString();
  }
}

// --- The columns of series.csv ---

// The columns a reference names in the first table after `marker`, in its
// order: a row's first cell lists `name`s separated by ", ", and `x_c0` …
// `x_c9` stands for the ten between.
QStringList DocumentedColumns(const QString& text, const QString& marker) {
  const QStringList lines = text.mid(text.indexOf(marker)).split('\n');
  static const QRegularExpression range(QStringLiteral("^`(\\w+?)(\\d+)` … `\\1(\\d+)`$"));
  static const QRegularExpression single(QStringLiteral("^`(\\w+)`$"));
  QStringList names;
  qsizetype at = 1;
  while (at < lines.size() && !lines[at].startsWith('|')) ++at;
  for (at += 2; at < lines.size() && lines[at].startsWith('|'); ++at) {
    const QString first = lines[at].section('|', 1, 1).trimmed();
    for (const QString& part : first.split(QStringLiteral(", "))) {
      if (const auto m = range.match(part); m.hasMatch()) {
        for (int i = m.captured(2).toInt(); i <= m.captured(3).toInt(); ++i) {
          names << m.captured(1) + QString::number(i);
        }
      } else if (const auto one = single.match(part); one.hasMatch()) {
        names << one.captured(1);
      } else {
        ADD_FAILURE() << "not a column name: " << part.toStdString();
      }
    }
  }
  return names;
}

struct TReference {
  const char* file;
  const char* marker;  // the text just before the series table
};

class SeriesReference : public ::testing::TestWithParam<TReference> {};

TEST_P(SeriesReference, ListsEveryColumnOnceInTheFilesOrder) {
  const QString path = QStringLiteral(PATHWICK_SOURCE_DIR "/") + QLatin1String(GetParam().file);
  const QString text = QString::fromUtf8(runner_test::ReadFile(path));
  ASSERT_TRUE(text.contains(QLatin1String(GetParam().marker))) << path.toStdString();
  const QStringList written = SeriesHeader().trimmed().split(',');
  EXPECT_EQ(DocumentedColumns(text, QLatin1String(GetParam().marker)).join(' ').toStdString(),
            written.join(' ').toStdString());
}

INSTANTIATE_TEST_SUITE_P(Docs, SeriesReference,
                         ::testing::Values(TReference{"docs/columns.md", "## series.csv"},
                                           TReference{"docs/experiments.md", "The columns of `series.csv`"}));

// Every column of a row carries its own value: each field of the sample
// differs, and each cell is read back under its column's name.
TEST(SeriesColumns, EachCellStandsUnderItsName) {
  TSample s;
  s.step = 1200;
  s.avgAngle = 11;
  s.avgWiggle = 12;
  s.meanAngle = 13.25;
  s.sdAngle = 14.25;
  s.meanWiggle = 15.25;
  s.sdWiggle = 16.25;
  s.trips = 17;
  s.tripsTotal = 18;
  s.births = 19;
  s.birthsTotal = 20;
  s.headingHome = 21;
  s.visibleCells = 22;
  s.meanChemical = 23.25;
  s.floorShare = 0.75;
  for (int32_t c = 0; c < TForm1::kColonies; ++c) {
    s.colonySize[c] = c == 3 ? 0 : 5;  // colony 3 has no agents
    s.colonyAngle[c] = 100 + c;
    s.colonyWiggle[c] = 200 + c;
    s.colonyAngleSd[c] = 300 + c;
    s.colonyWiggleSd[c] = 400 + c;
  }
  QStringList header;
  const auto rows = runner_test::CsvRows((SeriesHeader() + SeriesRow(s)).toUtf8(), &header, "series");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(header, SeriesColumnNames());
  EXPECT_EQ(header.removeDuplicates(), 0);
  const auto& row = rows.front();
  using C = TSeriesColumn;
  const std::map<TSeriesColumn, QString> expected{{C::kStep, "1200"},        {C::kAvgAngle, "11"},
                                                  {C::kAvgWiggle, "12"},     {C::kMeanAngle, "13.2500"},
                                                  {C::kSdAngle, "14.2500"},  {C::kMeanWiggle, "15.2500"},
                                                  {C::kSdWiggle, "16.2500"}, {C::kTrips, "17"},
                                                  {C::kTripsTotal, "18"},    {C::kBirths, "19"},
                                                  {C::kBirthsTotal, "20"},   {C::kHeadingHome, "21"},
                                                  {C::kVisibleCells, "22"},  {C::kMeanChemical, "23.2500"},
                                                  {C::kFloorShare, "0.7500"}};
  for (const auto& [column, cell] : expected) {
    EXPECT_EQ(row.at(SeriesColumnName(column)), cell) << cell.toStdString();
  }
  const std::pair<TSeriesColumn, int> perColony[] = {{TSeriesColumn::kColonyAngle, 100},
                                                     {TSeriesColumn::kColonyWiggle, 200},
                                                     {TSeriesColumn::kColonyAngleSd, 300},
                                                     {TSeriesColumn::kColonyWiggleSd, 400}};
  for (const auto& [column, base] : perColony) {
    for (int32_t c = 0; c < kSeriesColonies; ++c) {
      const QString name = SeriesColumnName(column, c);
      const QString cell = c == 3 ? QString() : QStringLiteral("%1.0000").arg(base + c);
      EXPECT_EQ(row.at(name), cell) << name.toStdString();
    }
  }
  EXPECT_EQ(expected.size() + std::size(perColony), kSeriesColumns.size());
}

// --- The exploration of a designed sweep ---

// Runs made from analytic functions of the settings: the measure mean_angle
// holds f, the other measures are absent.
struct TMadeRun {
  std::vector<std::pair<const char*, int32_t>> settings;
  uint32_t seed = 1;
  std::optional<TDesignPoint> design;
  double value = 0;
};

TRunMeasures Measures(const TMadeRun& made) {
  TRunMeasures run;
  for (const auto& [option, value] : made.settings) run.settings[*FindSetting(QLatin1String(option))] = value;
  run.seed = made.seed;
  run.design = made.design;
  run.values.assign(kDefaultStudyMeasures.size(), std::nullopt);
  run.values[0] = made.value;
  return run;
}

TDesignPoint Point(const char* kind, QStringList factors, int32_t point, QString role) {
  return {QLatin1String(kind), std::move(factors), point, std::move(role), QStringLiteral("--design test")};
}

const TEffect* Find(const TExploration& x, const QString& term, const QString& quantity) {
  for (const TEffect& e : x.effects) {
    if (e.term == term && e.quantity == quantity) return &e;
  }
  return nullptr;
}

// Nothing the exploration reports is NaN or infinite, and every interval holds its estimate.
void ExpectFiniteWithIntervalsAround(const TExploration& x) {
  for (const TEffect& e : x.effects) {
    SCOPED_TRACE(testing::Message() << e.term.toStdString() << " " << e.quantity.toStdString());
    EXPECT_TRUE(std::isfinite(e.estimate));
    EXPECT_EQ(e.low.has_value(), e.high.has_value());
    if (e.low) {
      EXPECT_TRUE(std::isfinite(*e.low) && std::isfinite(*e.high));
      EXPECT_LE(*e.low, e.estimate + 1e-9);
      EXPECT_GE(*e.high, e.estimate - 1e-9);
    }
    if (e.share) EXPECT_TRUE(*e.share >= 0 && *e.share <= 1);
  }
}

// A 2^3 factorial, three seeds as blocks: y = 10 + 3a - 2b + 0.5c + 1.5ab +
// the seed's block + noise, a, b, c coded -1/+1.
std::vector<TRunMeasures> BlockedFactorial(bool recordDesign) {
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 0.5);
  const std::array<double, 3> block{-4.0, 0.0, 6.0};
  const QStringList factors{"mutation-rate", "evaporation-rate", "diffuse"};
  std::vector<TRunMeasures> runs;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    for (int cell = 0; cell < 8; ++cell) {
      const double a = (cell & 1) ? 1 : -1, b = (cell & 2) ? 1 : -1, c = (cell & 4) ? 1 : -1;
      TMadeRun made{{{"mutation-rate", a > 0 ? 50 : 10}, {"evaporation-rate", b > 0 ? 80 : 20}, {"diffuse", c > 0}},
                    seed,
                    std::nullopt,
                    10 + 3 * a - 2 * b + 0.5 * c + 1.5 * a * b + block[seed - 1] + noise(random)};
      if (recordDesign) made.design = Point("factorial", factors, cell, QStringLiteral("cell"));
      runs.push_back(Measures(made));
    }
  }
  return runs;
}

TEST(Explore, FactorialEffectsMatchContrastsWithSeedBlocks) {
  for (const bool recorded : {true, false}) {
    SCOPED_TRACE(recorded ? "design recorded" : "no design");
    const std::vector<TRunMeasures> runs = BlockedFactorial(recorded);
    const TExploration x = Explore(runs);
    ASSERT_EQ(x.analysis, "factorial") << x.note.toStdString();
    ASSERT_EQ(std::ranges::count_if(x.effects, [](const TEffect& e) { return IsTermQuantity(e.quantity); }), 6);
    // Contrasts and the blocked residual computed here, term by term.
    const auto code = [](const TRunMeasures& r, size_t setting, int32_t high) {
      return r.settings[setting] == high ? 1.0 : -1.0;
    };
    const size_t m = *FindSetting("mutation-rate"), e = *FindSetting("evaporation-rate"), d = *FindSetting("diffuse");
    const std::vector<std::pair<QString, std::function<double(const TRunMeasures&)>>> terms{
        {"mutation-rate", [&](const TRunMeasures& r) { return code(r, m, 50); }},
        {"evaporation-rate", [&](const TRunMeasures& r) { return code(r, e, 80); }},
        {"diffuse", [&](const TRunMeasures& r) { return code(r, d, 1); }},
        {"mutation-rate:evaporation-rate", [&](const TRunMeasures& r) { return code(r, m, 50) * code(r, e, 80); }},
        {"mutation-rate:diffuse", [&](const TRunMeasures& r) { return code(r, m, 50) * code(r, d, 1); }},
        {"evaporation-rate:diffuse", [&](const TRunMeasures& r) { return code(r, e, 80) * code(r, d, 1); }}};
    const double n = static_cast<double>(runs.size());
    double grand = 0;
    std::map<uint32_t, double> seedMean;
    for (const TRunMeasures& r : runs) {
      grand += *r.values[0] / n;
      seedMean[r.seed] += *r.values[0] / 8.0;
    }
    std::vector<double> contrast;
    for (const auto& [name, x] : terms) {
      double high = 0, low = 0;
      for (const TRunMeasures& r : runs) (x(r) > 0 ? high : low) += *r.values[0] / (n / 2);
      contrast.push_back(high - low);
    }
    double rss = 0, total = 0;
    for (const TRunMeasures& r : runs) {
      double fitted = seedMean[r.seed];
      for (size_t t = 0; t < terms.size(); ++t) fitted += contrast[t] / 2 * terms[t].second(r);
      rss += (*r.values[0] - fitted) * (*r.values[0] - fitted);
      total += (*r.values[0] - grand) * (*r.values[0] - grand);
    }
    const double df = n - 1 - 2 - 6;
    const double half = StudentTQuantile(0.975, df) * 2 * std::sqrt(rss / df / n);
    for (size_t t = 0; t < terms.size(); ++t) {
      SCOPED_TRACE(terms[t].first.toStdString());
      const TEffect* effect = Find(x, terms[t].first, t < 3 ? "effect" : "interaction");
      ASSERT_NE(effect, nullptr);
      EXPECT_NEAR(effect->estimate, contrast[t], 1e-9);
      ASSERT_TRUE(effect->low && effect->high && effect->share);
      EXPECT_NEAR(*effect->low, contrast[t] - half, 1e-9);
      EXPECT_NEAR(*effect->high, contrast[t] + half, 1e-9);
      EXPECT_NEAR(*effect->share, n * contrast[t] * contrast[t] / 4 / total, 1e-9);
      EXPECT_TRUE(effect->method.contains(t < 3 ? "high minus low" : "half difference"));
      EXPECT_TRUE(effect->method.contains("seeds as blocks"));
    }
    // The generating coefficients, doubled, lie in their intervals.
    for (const auto& [term, truth] : std::vector<std::pair<QString, double>>{
             {"mutation-rate", 6}, {"evaporation-rate", -4}, {"mutation-rate:evaporation-rate", 3}}) {
      const TEffect* effect = Find(x, term, term.contains(':') ? "interaction" : "effect");
      EXPECT_TRUE(*effect->low < truth && truth < *effect->high) << term.toStdString();
    }
    // The table heads its columns and names the terms in words, the largest first.
    const QStringList lines = x.table.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 8);
    EXPECT_TRUE(lines[1].simplified().startsWith("term effect 95 % interval share")) << x.table.toStdString();
    EXPECT_TRUE(lines[2].contains("mutation rate")) << x.table.toStdString();
    EXPECT_TRUE(x.table.contains("mutation rate × evaporation rate"));
    EXPECT_TRUE(x.note.isEmpty()) << x.note.toStdString();
  }
}

TEST(Explore, FactorOfThreeLevelsIsFittedLinearlyOverItsRangeWhenAsked) {
  // y = 0.05 per hundredth of mutation rate + 2 per on of diffuse: over the
  // range 0..0.8 (80 hundredths) the effect is 4. Without asking, a factor
  // of three levels makes the factors categories.
  std::vector<TRunMeasures> runs;
  for (int32_t rate : {0, 40, 80}) {
    for (int32_t diffuse : {0, 1}) {
      for (uint32_t seed : {1u, 2u}) {
        runs.push_back(
            Measures({{{"mutation-rate", rate}, {"diffuse", diffuse}}, seed, {}, 0.05 * rate + 2 * diffuse}));
      }
    }
  }
  const TExploration categorical = Explore(runs);
  ASSERT_NE(Find(categorical, "mutation-rate", "F"), nullptr);
  EXPECT_EQ(Find(categorical, "mutation-rate", "effect"), nullptr);
  const TExploration x = Explore(runs, DefaultStudyMeasures(), TFactorCoding::kLinear);
  ASSERT_EQ(x.analysis, "factorial");
  EXPECT_EQ(Find(x, "mutation-rate", "F"), nullptr);
  const TEffect* rate = Find(x, "mutation-rate", "effect");
  ASSERT_NE(rate, nullptr);
  EXPECT_NEAR(rate->estimate, 4, 1e-9);
  EXPECT_TRUE(rate->method.contains("linear over the range"));
  EXPECT_NEAR(Find(x, "diffuse", "effect")->estimate, 2, 1e-9);
  EXPECT_NEAR(Find(x, "mutation-rate:diffuse", "interaction")->estimate, 0, 1e-9);
  ExpectFiniteWithIntervalsAround(x);
}

// A 3 x 4 factorial over three seeds, two runs short of balance: y holds
// main effects, one cell's interaction, a seed's shift and a fixed wobble.
// Factor a is mutation-rate at 10, 20, 30; b is evaporation-rate at 5, 10,
// 20, 40.
struct TAnovaRun {
  size_t a = 0, b = 0;
  uint32_t seed = 1;
  double y = 0;
};
std::vector<TAnovaRun> AnovaRuns() {
  constexpr std::array kA{0.0, 1.5, 0.5};
  constexpr std::array kB{0.0, -1.0, 2.0, 0.3};
  std::vector<TAnovaRun> runs;
  for (size_t i = 0; i < kA.size(); ++i) {
    for (size_t j = 0; j < kB.size(); ++j) {
      for (uint32_t s : {1u, 2u, 3u}) {
        if ((i == 0 && j == 0 && s == 3) || (i == 2 && j == 3 && s == 1)) continue;
        const double wobble = 0.7 * std::sin(1.7 * static_cast<double>(i) + 2.3 * static_cast<double>(j) + 3.1 * s);
        runs.push_back({i, j, s, kA[i] + kB[j] + (i == 2 && j == 1 ? 1.2 : 0) + 0.4 * s + wobble});
      }
    }
  }
  return runs;
}

// The residual sum of squares of y on the columns (a constant added), by
// Gauss-Jordan elimination of the normal equations with partial pivoting.
double IndependentRss(const std::vector<std::vector<double>>& columns, const std::vector<double>& y) {
  std::vector<std::vector<double>> x{std::vector<double>(y.size(), 1.0)};
  x.insert(x.end(), columns.begin(), columns.end());
  const size_t p = x.size();
  std::vector<std::vector<double>> a(p, std::vector<double>(p + 1, 0.0));
  for (size_t i = 0; i < p; ++i) {
    for (size_t j = 0; j < p; ++j) {
      for (size_t r = 0; r < y.size(); ++r) a[i][j] += x[i][r] * x[j][r];
    }
    for (size_t r = 0; r < y.size(); ++r) a[i][p] += x[i][r] * y[r];
  }
  for (size_t c = 0; c < p; ++c) {
    size_t pivot = c;
    for (size_t r = c + 1; r < p; ++r) {
      if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
    }
    std::swap(a[c], a[pivot]);
    for (size_t r = 0; r < p; ++r) {
      if (r == c) continue;
      const double f = a[r][c] / a[c][c];
      for (size_t k = c; k <= p; ++k) a[r][k] -= f * a[c][k];
    }
  }
  double rss = 0;
  for (size_t r = 0; r < y.size(); ++r) {
    double e = y[r];
    for (size_t i = 0; i < p; ++i) e -= x[i][r] * a[i][p] / a[i][i];
    rss += e * e;
  }
  return rss;
}

// The categorical ANOVA of a 3 x 4 factorial with seeds as blocks: each
// term's Type II sum of squares (as its share), F and p-value. The sums of
// squares are checked against a least-squares computation of the test's own
// with another coding (sum-to-zero, which leaves Type II sums of squares as
// they are) and another solver; F and p against statsmodels 0.13.5,
// anova_lm(ols("y ~ C(a) + C(b) + C(a):C(b) + C(seed)"), typ=2) of the same
// 34 runs, computed once with Python and written here.
TEST(Explore, CategoricalAnovaOfAThreeByFourFactorialHasTypeTwoSumsOfSquares) {
  const std::vector<TAnovaRun> made = AnovaRuns();
  constexpr std::array kRates{10, 20, 30};
  constexpr std::array kEvaporation{5, 10, 20, 40};
  std::vector<TRunMeasures> runs;
  for (const TAnovaRun& r : made) {
    runs.push_back(
        Measures({{{"mutation-rate", kRates[r.a]}, {"evaporation-rate", kEvaporation[r.b]}}, r.seed, {}, r.y}));
  }
  const TExploration x = Explore(runs);
  ASSERT_EQ(x.analysis, "factorial") << x.note.toStdString();
  // Sum-to-zero columns of a factor of `levels` levels at `level`.
  const auto coded = [](size_t level, size_t levels) {
    std::vector<double> c(levels - 1, 0.0);
    for (size_t k = 0; k + 1 < levels; ++k) c[k] = level == k ? 1.0 : level == levels - 1 ? -1.0 : 0.0;
    return c;
  };
  std::vector<double> y;
  std::vector<std::vector<double>> a(2), b(3), seed(2), ab(6);
  for (const TAnovaRun& r : made) {
    y.push_back(r.y);
    const auto ca = coded(r.a, 3), cb = coded(r.b, 4), cs = coded(r.seed - 1, 3);
    for (size_t k = 0; k < 2; ++k) a[k].push_back(ca[k]);
    for (size_t k = 0; k < 3; ++k) b[k].push_back(cb[k]);
    for (size_t k = 0; k < 2; ++k) seed[k].push_back(cs[k]);
    for (size_t i = 0; i < 2; ++i) {
      for (size_t j = 0; j < 3; ++j) ab[i * 3 + j].push_back(ca[i] * cb[j]);
    }
  }
  const auto model = [](std::initializer_list<const std::vector<std::vector<double>>*> terms) {
    std::vector<std::vector<double>> columns;
    for (const auto* t : terms) columns.insert(columns.end(), t->begin(), t->end());
    return columns;
  };
  const double full = IndependentRss(model({&a, &b, &ab, &seed}), y);
  const double mean = std::accumulate(y.begin(), y.end(), 0.0) / static_cast<double>(y.size());
  double total = 0;
  for (double v : y) total += (v - mean) * (v - mean);
  const struct {
    QString term;
    double ss;  // the test's own Type II sum of squares
    double f;   // statsmodels'
    double p;   // statsmodels'
  } expected[] = {
      {"mutation-rate", IndependentRss(model({&b, &seed}), y) - IndependentRss(model({&a, &b, &seed}), y),
       16.9269472673, 4.99032466906e-05},
      {"evaporation-rate", IndependentRss(model({&a, &seed}), y) - IndependentRss(model({&a, &b, &seed}), y),
       30.3446294372, 1.21650333043e-07},
      {"mutation-rate:evaporation-rate", IndependentRss(model({&a, &b, &seed}), y) - full, 1.55477981754,
       0.211915464649},
      {"seed", IndependentRss(model({&a, &b, &ab}), y) - full, 5.14767080605, 0.0157232173064},
  };
  // statsmodels' sums of squares of the same terms, as a check of the test's own.
  EXPECT_NEAR(expected[0].ss, 12.5162854162, 1e-8);
  EXPECT_NEAR(expected[3].ss, 3.80634003401, 1e-8);
  EXPECT_NEAR(full, 7.39429574544, 1e-8);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.term.toStdString());
    const TEffect* f = Find(x, e.term, "F");
    const TEffect* p = Find(x, e.term, "p");
    ASSERT_NE(f, nullptr);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(f->share.has_value());
    EXPECT_NEAR(*f->share, e.ss / total, 1e-9);
    EXPECT_NEAR(f->estimate, e.f, 1e-8 * e.f);
    EXPECT_NEAR(p->estimate, e.p, 1e-8 * e.p + 1e-12);
    EXPECT_TRUE(f->method.contains("categorical, type II sums of squares")) << f->method.toStdString();
    EXPECT_TRUE(f->method.contains("seeds as blocks; df"));
  }
  EXPECT_EQ(Find(x, "mutation-rate", "effect"), nullptr);  // no line is fitted to a factor of three levels
  EXPECT_TRUE(x.table.contains("mean_angle (factorial, factors as categories: ANOVA, type II sums of squares):"))
      << x.table.toStdString();
  EXPECT_TRUE(x.table.contains("<0.001"));
}

// A Latin hypercube of n points over three factors, 0..100 each.
std::vector<std::array<int32_t, 3>> LatinHypercube(int n, uint32_t seed) {
  std::mt19937 random(seed);
  std::array<std::vector<int32_t>, 3> columns;
  for (auto& column : columns) {
    for (int i = 0; i < n; ++i) column.push_back(i * 100 / (n - 1));
    std::shuffle(column.begin(), column.end(), random);
  }
  std::vector<std::array<int32_t, 3>> points;
  for (int i = 0; i < n; ++i) points.push_back({columns[0][i], columns[1][i], columns[2][i]});
  return points;
}

TEST(Explore, PartialRankCorrelationsOfALinearModel) {
  const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
  std::vector<TRunMeasures> runs;
  const auto points = LatinHypercube(60, 11);
  for (size_t i = 0; i < points.size(); ++i) {
    const auto [a, b, c] = points[i];
    // Two seeds a point, one above and one below: their mean is the model.
    for (uint32_t seed : {1u, 2u}) {
      runs.push_back(Measures({{{"mutation-rate", a}, {"evaporation-rate", b}, {"sniff-threshold", c}},
                               seed,
                               Point("lhs", factors, static_cast<int32_t>(i), "sample"),
                               3.0 * a - 2.0 * b + (seed == 1 ? 0.5 : -0.5)}));
    }
  }
  const TExploration x = Explore(runs);
  ASSERT_EQ(x.analysis, "lhs") << x.note.toStdString();
  const struct {
    const char* term;
    double low, high;
  } expected[] = {{"mutation-rate", 0.9, 1.0}, {"evaporation-rate", -1.0, -0.9}, {"sniff-threshold", -0.3, 0.3}};
  for (const auto& row : expected) {
    const TEffect* e = Find(x, row.term, "prcc");
    ASSERT_NE(e, nullptr) << row.term;
    EXPECT_TRUE(e->estimate >= row.low && e->estimate <= row.high) << row.term << " " << e->estimate;
    EXPECT_TRUE(e->method.startsWith("fisher-z; means of 2 runs a point")) << e->method.toStdString();
    ASSERT_TRUE(e->low && e->high);
  }
  // The unused factor's interval holds 0; Fisher's z with 60 - 3 - 2 degrees of freedom.
  const TEffect* unused = Find(x, "sniff-threshold", "prcc");
  EXPECT_TRUE(*unused->low < 0 && 0 < *unused->high);
  EXPECT_NEAR(std::atanh(*unused->high) - std::atanh(unused->estimate), 1.959963985 / std::sqrt(55.0), 1e-6);
  ExpectFiniteWithIntervalsAround(x);
}

// Ishigami's function (a = 7, b = 0.1) of three settings 0..100 mapped on -pi..pi.
double Ishigami(const TSettingValues& s, const std::array<size_t, 3>& at) {
  const auto x = [&](size_t i) { return -std::numbers::pi + 2 * std::numbers::pi * s[at[i]] / 100.0; };
  return std::sin(x(0)) + 7 * std::pow(std::sin(x(1)), 2) + 0.1 * std::pow(x(2), 4) * std::sin(x(0));
}

// The noise of made runs: `seeds` runs a point, each the function plus
// `offset` plus a normal of sd `sd` (fixed draws); sd 0 with two seeds adds
// +1 to the first and -1 to the second, so their mean is the function. With
// `sequence` the rows are the program's own Saltelli design, not random.
struct TNoise {
  uint32_t seeds = 2;
  double sd = 0;
  double offset = 0;
  bool sequence = false;
};

// A Saltelli design over `rows` rows of a random sequence: A, B and A_B^(i),
// each point run with the seeds of `noise`; `numbering` 0 gives the row's
// number to every role of a row, 1 numbers the points through the design
// row by row, 2 role by role.
std::vector<TRunMeasures> IshigamiRuns(int rows, int numbering, const TNoise& noise = {}) {
  const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
  std::array<size_t, 3> at{};
  for (size_t i = 0; i < 3; ++i) at[i] = *FindSetting(factors[static_cast<qsizetype>(i)]);
  std::mt19937_64 random(2010);
  std::mt19937_64 noiseDraws(2016);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int32_t> value(0, 100);
  std::vector<TRunMeasures> runs;
  int32_t serial = 0;
  const std::vector<TUnitPoint> design = noise.sequence ? SaltelliSobol(rows, 3) : std::vector<TUnitPoint>{};
  for (int j = 0; j < rows; ++j) {
    TSettingValues a{}, b{};
    for (size_t i = 0; i < 3; ++i) {
      a[at[i]] = noise.sequence ? static_cast<int32_t>(std::lround(100 * design[5 * j].x[i])) : value(random);
    }
    for (size_t i = 0; i < 3; ++i) {
      b[at[i]] = noise.sequence ? static_cast<int32_t>(std::lround(100 * design[5 * j + 1].x[i])) : value(random);
    }
    std::vector<std::pair<QString, TSettingValues>> points{{"A", a}, {"B", b}};
    for (size_t i = 0; i < 3; ++i) {
      TSettingValues ab = a;
      ab[at[i]] = b[at[i]];
      points.emplace_back(QStringLiteral("AB%1").arg(i + 1), ab);
    }
    for (const auto& [role, settings] : points) {
      const int32_t point = numbering == 0 ? j : numbering == 1 ? serial++ : (serial++ % 5) * rows + j;
      for (uint32_t seed = 1; seed <= noise.seeds; ++seed) {
        TRunMeasures run;
        run.settings = settings;
        run.seed = seed;
        run.design = Point("sobol", factors, point, role);
        const double added = noise.sd > 0 ? noise.sd * normal(noiseDraws) : (seed == 1 ? 1.0 : -1.0);
        run.values = {Ishigami(settings, at) + noise.offset + added};
        runs.push_back(run);
      }
    }
  }
  return runs;
}

TEST(Explore, SobolIndicesOfIshigamiFunction) {
  const std::array<double, 3> s1{0.314, 0.442, 0.0};
  const std::array<double, 3> st{0.558, 0.442, 0.244};
  const char* terms[] = {"mutation-rate", "evaporation-rate", "sniff-threshold"};
  for (int numbering : {0, 1, 2}) {
    SCOPED_TRACE(numbering);
    // One seed a point: the means are the function itself.
    const TExploration x = Explore(IshigamiRuns(4000, numbering, {.seeds = 1}));
    ASSERT_EQ(x.analysis, "sobol") << x.note.toStdString();
    EXPECT_TRUE(x.note.isEmpty()) << x.note.toStdString();
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(terms[i]);
      for (const auto& [quantity, truth] : {std::pair{"S1", s1[i]}, std::pair{"ST", st[i]}}) {
        const TEffect* e = Find(x, terms[i], quantity);
        ASSERT_NE(e, nullptr) << quantity;
        EXPECT_NEAR(e->estimate, truth, 0.05) << quantity;
        ASSERT_TRUE(e->low && e->high);
        EXPECT_TRUE(*e->low < truth + 0.02 && truth - 0.02 < *e->high) << quantity << " " << *e->low << " " << *e->high;
        EXPECT_LT(*e->high - *e->low, 0.2);
      }
    }
    ExpectFiniteWithIntervalsAround(x);
  }
}

// Morris trajectories over mutation rate, evaporation rate and sniff
// threshold on the levels 0, 30, 60, 90 (a step of 60), and the function
// 0.3 x mutation + 0.1 x evaporation^2 / 100 whose elementary effects over the
// range (90) are known.
std::vector<TRunMeasures> MorrisRuns(int trajectories) {
  const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
  std::mt19937 random(5);
  std::vector<TRunMeasures> runs;
  for (int t = 0; t < trajectories; ++t) {
    std::array<int32_t, 3> x{};
    for (int32_t& v : x) v = 30 * static_cast<int32_t>(random() % 4);
    std::array<size_t, 3> order{0, 1, 2};
    std::shuffle(order.begin(), order.end(), random);
    for (int k = 0; k <= 3; ++k) {
      if (k > 0) {
        int32_t& v = x[order[k - 1]];
        v = v + 60 <= 90 ? v + 60 : v - 60;
      }
      const double y = 0.3 * x[0] + 0.1 * x[1] * x[1] / 100.0;
      runs.push_back(Measures({{{"mutation-rate", x[0]}, {"evaporation-rate", x[1]}, {"sniff-threshold", x[2]}},
                               1,
                               Point("morris", factors, t, QStringLiteral("T%1").arg(k)),
                               y}));
    }
  }
  return runs;
}

TEST(Explore, MorrisEffectsOfAKnownGradient) {
  const std::vector<TRunMeasures> runs = MorrisRuns(20);
  const TExploration x = Explore(runs);
  ASSERT_EQ(x.analysis, "morris") << x.note.toStdString();
  // Mutation: 0.3 per hundredth, 27 over the range, everywhere.
  EXPECT_NEAR(Find(x, "mutation-rate", "mu_star")->estimate, 27, 1e-9);
  EXPECT_NEAR(Find(x, "mutation-rate", "mu")->estimate, 27, 1e-9);
  EXPECT_NEAR(Find(x, "mutation-rate", "sigma")->estimate, 0, 1e-9);
  EXPECT_NEAR(Find(x, "sniff-threshold", "mu_star")->estimate, 0, 1e-9);
  // Evaporation: a step from e to e + 60 changes y by 0.1 (120 e + 3600) / 100,
  // over the range 90 / 60 times that: its effects are all positive and differ.
  // That is 0.09 (e + e'), computed here from each trajectory's step.
  const size_t e = *FindSetting("evaporation-rate");
  std::vector<double> expected;
  for (size_t r = 0; r + 1 < runs.size(); ++r) {
    if (runs[r].design->point != runs[r + 1].design->point) continue;
    const int32_t from = runs[r].settings[e], to = runs[r + 1].settings[e];
    if (from != to) expected.push_back(0.09 * (from + to));
  }
  ASSERT_EQ(expected.size(), 20u);
  const TEstimate truth = Estimate(expected);
  EXPECT_NEAR(Find(x, "evaporation-rate", "mu")->estimate, truth.mean, 1e-9);
  EXPECT_NEAR(Find(x, "evaporation-rate", "mu_star")->estimate, truth.mean, 1e-9);
  EXPECT_NEAR(Find(x, "evaporation-rate", "sigma")->estimate, *truth.sd, 1e-9);
  EXPECT_GT(*truth.sd, 0);
  EXPECT_TRUE(x.note.isEmpty()) << x.note.toStdString();
}

// Designs with runs missing or broken: what can be analysed is, the note says
// what was left out, and nothing that is not a number reaches effects.csv.
template <class F>
std::vector<TRunMeasures> Without(std::vector<TRunMeasures> runs, F drop) {
  runs.erase(std::remove_if(runs.begin(), runs.end(), drop), runs.end());
  return runs;
}

TEST(Explore, IncompleteOrUnanalysableRunsGiveANoteNotACrash) {
  const auto role = [](const TRunMeasures& r, const char* name, int32_t point) {
    return r.design->role == QLatin1String(name) && r.design->point == point;
  };
  std::vector<TRunMeasures> oneVaried;
  for (int32_t rate : {10, 20, 30}) oneVaried.push_back(Measures({{{"mutation-rate", rate}}, 1, {}, rate * 1.0}));
  std::vector<TRunMeasures> twoByTwo;  // one seed: room for the main effects only
  for (int32_t cell : {0, 1, 2, 3})
    twoByTwo.push_back(Measures({{{"mutation-rate", cell % 2}, {"diffuse", cell / 2}}, 1, {}, 1.0 * cell}));
  std::vector<TRunMeasures> notAProduct;
  for (int32_t i : {0, 1, 2})
    notAProduct.push_back(Measures({{{"mutation-rate", i}, {"diffuse", i % 2}}, 1, {}, 1.0 * i}));
  std::vector<TRunMeasures> mismatched = IshigamiRuns(200, 0);
  for (TRunMeasures& r : mismatched) {
    if (role(r, "AB1", 7)) r.settings[*FindSetting("sniff-threshold")] += 1;
  }
  std::vector<TRunMeasures> twoFactorsAtOnce = MorrisRuns(10);
  for (TRunMeasures& r : twoFactorsAtOnce) {
    if (role(r, "T1", 4)) r.settings[*FindSetting("sniff-threshold")] ^= 1;
  }
  std::vector<TRunMeasures> foreignRole = MorrisRuns(10);
  for (TRunMeasures& r : foreignRole) {
    if (role(r, "T3", 6)) r.design->role = "X3";
  }
  std::vector<TRunMeasures> constant = IshigamiRuns(50, 0);
  for (TRunMeasures& r : constant) r.values[0] = 3.0;
  std::vector<TRunMeasures> fewSamples;
  for (int32_t i : {0, 1, 2})
    fewSamples.push_back(Measures({{{"mutation-rate", i}, {"diffuse", i % 2}},
                                   1,
                                   Point("lhs", {"mutation-rate", "diffuse"}, i, "sample"),
                                   1.0 * i}));
  // A hypercube whose job line of one point was edited to lie outside its range.
  std::vector<TRunMeasures> movedOut;
  const auto hypercube = LatinHypercube(30, 5);
  for (size_t i = 0; i < hypercube.size(); ++i) {
    const auto [a, b, c] = hypercube[i];
    TDesignPoint point =
        Point("lhs", {"mutation-rate", "evaporation-rate", "sniff-threshold"}, static_cast<int32_t>(i), "sample");
    point.command =
        "--grid --design lhs --samples 30 --range mutation-rate=0:1 --range=evaporation-rate=0:1 "
        "--range sniff-threshold=0:100";
    movedOut.push_back(Measures({{{"mutation-rate", a}, {"evaporation-rate", b}, {"sniff-threshold", i == 4 ? 150 : c}},
                                 1,
                                 point,
                                 1.0 * a - b}));
  }
  std::vector<TRunMeasures> unknownKind = fewSamples;
  for (TRunMeasures& r : unknownKind) r.design->kind = "fractional";
  const struct {
    const char* name;
    std::vector<TRunMeasures> runs;
    const char* analysis;
    const char* note;
  } cases[] = {
      {"no runs", {}, "", "no runs"},
      {"one varied setting", oneVaried, "", "one setting varies"},
      {"no design and not a product", notAProduct, "", "do not form a factorial"},
      {"2 x 2 of one seed", twoByTwo, "factorial", "main effects only"},
      {"2 x 2 without a cell", Without(twoByTwo, [](const TRunMeasures& r) { return *r.values[0] == 3.0; }), "",
       "do not form a factorial"},
      {"factorial without a cell",
       Without(BlockedFactorial(true), [](const TRunMeasures& r) { return r.design->point == 3; }), "factorial",
       "1 of the 8 cells"},
      {"sobol without an A_B run",
       Without(IshigamiRuns(200, 0), [&](const TRunMeasures& r) { return role(r, "AB2", 5); }), "sobol",
       "1 of the 200 rows"},
      {"sobol without a B run, numbered row by row",
       Without(IshigamiRuns(200, 1), [&](const TRunMeasures& r) { return role(r, "B", 11); }), "sobol",
       "1 of the 200 rows"},
      {"sobol without a B run, numbered role by role",
       Without(IshigamiRuns(200, 2), [&](const TRunMeasures& r) { return role(r, "B", 211); }), "sobol",
       "1 of the 200 rows"},
      {"sobol without the last A_B runs, numbered role by role",
       Without(IshigamiRuns(200, 2), [&](const TRunMeasures& r) { return r.design->point >= 995; }), "sobol",
       "5 of the 200 rows"},
      {"sobol with an A_B run not of its row", mismatched, "sobol", "1 A_B runs are not"},
      {"sobol of a constant measure", constant, "", "does not vary"},
      {"morris without a middle point",
       Without(MorrisRuns(10), [&](const TRunMeasures& r) { return role(r, "T2", 3); }), "morris",
       "2 of the trajectories' steps"},
      {"morris without its first point",
       Without(MorrisRuns(10), [&](const TRunMeasures& r) { return role(r, "T0", 3); }), "morris",
       "1 of the trajectories' steps"},
      {"morris step moving two factors", twoFactorsAtOnce, "morris", "left out"},
      {"morris point of an unknown role", foreignRole, "morris",
       "1 points of no trajectory role were left out; 1 of the trajectories' steps"},
      {"lhs of too few samples", fewSamples, "", "too few"},
      {"lhs with a point moved outside its range", movedOut, "lhs",
       "1 runs whose point lies outside its design's --range were left out"},
      {"a design of an unknown kind", unknownKind, "", "not one this program analyses"},
  };
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TExploration x = Explore(c.runs);
    EXPECT_EQ(x.analysis, QLatin1String(c.analysis));
    EXPECT_TRUE(x.note.contains(QLatin1String(c.note))) << x.note.toStdString();
    EXPECT_FALSE(x.note.contains('\n'));
    EXPECT_EQ(x.effects.empty(), x.analysis.isEmpty());
    EXPECT_EQ(x.table.isEmpty(), x.effects.empty());
    ExpectFiniteWithIntervalsAround(x);
    EXPECT_TRUE(WriteEffects(dir.filePath("effects.csv"), x.effects).Ok());
  }
}

TEST(Explore, EffectsFileHoldsEveryEstimateAndIsWrittenWholeOrNotAtAll) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("effects.csv");
  const TExploration x = Explore(BlockedFactorial(true));
  ASSERT_TRUE(WriteEffects(path, x.effects).Ok());
  const QByteArray written = runner_test::ReadFile(path);
  EXPECT_TRUE(written.startsWith("measure,term,quantity,estimate,low,high,share,method\n"));
  const TTable rows = ReadTable(path);
  ASSERT_EQ(rows.size(), x.effects.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const TEffect& e = x.effects[i];
    EXPECT_EQ(rows[i].at("measure"), e.measure);
    EXPECT_EQ(rows[i].at("term"), e.term);
    EXPECT_EQ(rows[i].at("quantity"), e.quantity);
    EXPECT_EQ(rows[i].at("method"), e.method);
    EXPECT_NEAR(Cell(rows[i], "estimate"), e.estimate, 1e-8 * std::abs(e.estimate));
    EXPECT_EQ(rows[i].at("low").isEmpty(), !e.low);
    if (e.low) EXPECT_NEAR(Cell(rows[i], "low"), *e.low, 1e-8 * std::abs(*e.low));
    EXPECT_NEAR(Cell(rows[i], "share"), *e.share, 1e-8);
  }
  // An effect that is not a number fails the file and leaves the old one whole.
  for (const auto& spoil : std::vector<std::function<void(TEffect&)>>{[](TEffect& e) { e.estimate = NAN; },
                                                                      [](TEffect& e) { e.high = INFINITY; },
                                                                      [](TEffect& e) { e.share = NAN; }}) {
    std::vector<TEffect> bad = x.effects;
    spoil(bad.back());
    const TStatus status = WriteEffects(path, bad);
    EXPECT_FALSE(status.Ok());
    EXPECT_EQ(runner_test::ReadFile(path), written);
  }
  const TStatus nowhere = WriteEffects(dir.filePath("missing/effects.csv"), x.effects);
  ASSERT_FALSE(nowhere.Ok());
  EXPECT_EQ(nowhere.Error().status, kExitFailed);
}
// A 2 x 2 factorial of evaporation rates 20 and 80 and mutation rates 1 and
// 5, seeds 1 and 2, written as run folders in `dir` that record their design
// point; each run's five samples (100 steps apart) are as `fill` makes them.
void WriteTwoByTwoFactorial(
    const QTemporaryDir& dir, const TSettingValues& defaults,
    const std::function<void(TSample&, int evaporation, int mutation, uint32_t seed, int s)>& fill) {
  const QStringList factors{"evaporation-rate", "mutation-rate"};
  int32_t point = 0;
  for (const int evaporation : {20, 80}) {
    for (const int mutation : {1, 5}) {
      for (const uint32_t seed : {1u, 2u}) {
        std::vector<TSample> samples(5);
        for (int s = 0; s < 5; ++s) {
          samples[s].step = 100 * s;
          fill(samples[s], evaporation, mutation, seed, s);
        }
        WriteRun(dir.filePath(QStringLiteral("run-%1-seed-%2").arg(point).arg(seed)), defaults, evaporation, seed, 500,
                 samples, {{"mutation-rate", mutation}}, Point("factorial", factors, point, "cell"));
      }
      ++point;
    }
  }
}

// A 2 x 2 factorial written as run folders, each recording its design
// point, whose mean_angle is 40 + 6 at the high evaporation rate + 2 at the
// high mutation rate, ±0.5 by seed, and whose trips grow by 10 + 4 at the
// high evaporation rate per 100 steps: the summary's effects.csv holds those
// effects, and its figure pools nothing at four groups.
TEST(StudyMeasures, FactorialRunFoldersGiveTheirEffects) {
  QTemporaryDir tmp;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  WriteTwoByTwoFactorial(tmp, defaults, [](TSample& sample, int evaporation, int mutation, uint32_t seed, int s) {
    sample.meanAngle = 40 + (evaporation == 80 ? 6 : 0) + (mutation == 5 ? 2 : 0) + (seed == 1 ? 0.5 : -0.5);
    sample.meanWiggle = 90;
    sample.tripsTotal = s * (evaporation == 80 ? 14 : 10);
  });
  const TResult<TSummaryReport> report = Summarize(tmp.path(), defaults, 3);
  ASSERT_TRUE(report.Ok()) << report.Error().message.toStdString();
  EXPECT_TRUE(report->effects.contains("mean_angle")) << report->effects.toStdString();
  const TTable effects = ReadTable(tmp.filePath("effects.csv"));
  const struct {
    const char* measure;
    const char* term;
    double estimate;
  } expected[] = {
      {"mean_angle", "evaporation-rate", 6},
      {"mean_angle", "mutation-rate", 2},
      {"mean_angle", "evaporation-rate:mutation-rate", 0},
      {"trip_rate", "evaporation-rate", 4},
      {"trip_rate", "mutation-rate", 0},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(testing::Message() << e.measure << " " << e.term);
    const auto row = std::find_if(effects.begin(), effects.end(), [&](const auto& r) {
      return r.at("measure") == e.measure && r.at("term") == e.term;
    });
    ASSERT_NE(row, effects.end());
    EXPECT_NEAR(Cell(*row, "estimate"), e.estimate, 1e-6);
  }
  const QString svg = QString::fromUtf8(runner_test::ReadFile(tmp.filePath("summary.svg")));
  EXPECT_TRUE(svg.contains(">Mean genes of 8 runs by mutation-rate, evaporation-rate: 4 groups, 2 runs (seeds) each<"));
  EXPECT_FALSE(svg.contains("too many lines"));
  // Without the high mutation rate one setting varies: the effects of the summary before are gone.
  for (const QString& run : QDir(tmp.path()).entryList({"run-1-*", "run-3-*"}, QDir::Dirs))
    ASSERT_TRUE(QDir(tmp.filePath(run)).removeRecursively());
  ASSERT_TRUE(Summarize(tmp.path(), defaults, 3).Ok());
  for (const char* stale : {"effects.csv", "effects.png", "effects.svg", "interactions.png", "interactions.svg"})
    EXPECT_FALSE(QFile::exists(tmp.filePath(stale))) << stale;
  EXPECT_TRUE(QFile::exists(tmp.filePath("comparison.csv")));
}

// The study's measures by name: their effects.csv names, words, bounds on
// their scale, and values on it; a name or transform unknown is refused.
TEST(StudyMeasures, MeasuresAreChosenByNameOnTheirScale) {
  const struct {
    QStringList names;
    QStringList transforms;
    QStringList chosen;                     // empty: refused
    const char* words;                      // the first measure's
    std::optional<double> lowest, highest;  // the first measure's bounds
    double raw;                             // a raw value of the first measure ...
    std::optional<double> scaled;           // ... on its scale
  } cases[] = {
      {{}, {}, {"mean_angle", "mean_wiggle", "trip_rate", "birth_rate"}, "mean angle gene", 0.0, 255.0, 3, 3},
      {{"mean_chemical", "floor_share"},
       {},
       {"mean_chemical", "floor_share"},
       "mean chemical over all cells",
       0.0,
       std::nullopt,
       2.5,
       2.5},
      {{"floor_share"},
       {"floor_share=logit"},
       {"logit(floor_share)"},
       "logit(share of cells at or below the "
       "evaporation floor; empty under diffusion)",
       std::nullopt,
       std::nullopt,
       0.25,
       std::log(1.0 / 3.0)},
      {{"floor_share"},
       {},
       {"floor_share"},
       "share of cells at or below the evaporation floor; empty under diffusion",
       0.0,
       1.0,
       0.25,
       0.25},
      {{"trip_rate,log1p(trip_rate)"},
       {},
       {"trip_rate", "log1p(trip_rate)"},
       "trips per 100 steps",
       0.0,
       std::nullopt,
       9,
       9},
      {{},
       {"trip_rate=log1p"},
       {"mean_angle", "mean_wiggle", "log1p(trip_rate)", "birth_rate"},
       "mean angle gene",
       0.0,
       255.0,
       3,
       3},
      {{"log(trip_rate)"},
       {},
       {"log(trip_rate)"},
       "log(trips per 100 steps)",
       std::nullopt,
       std::nullopt,
       0,
       std::nullopt},
      {{"log1p(angle_c3)", "angle_c3"},
       {},
       {"log1p(angle_c3)", "angle_c3"},
       "log(1 + mean angle gene within the colony "
       "(angle_c3))",
       0.0,
       std::log1p(255.0),
       255,
       std::log1p(255.0)},
      {{"mean_angle", "mean_angle"}, {}, {"mean_angle"}, "mean angle gene", 0.0, 255.0, 1, 1},
      {{"trip_rate", "log1p(trip_rate)"},
       {"trip_rate=log1p"},
       {"log1p(trip_rate)"},
       "log(1 + trips per 100 steps)",
       0.0,
       std::nullopt,
       0,
       0},
      {{"angle_c10"}, {}, {}, "", {}, {}, 0, {}},
      {{"trip_rate"}, {"trip_rate=exp"}, {}, "", {}, {}, 0, {}},
      {{"log1p(trip_rate)"}, {"trip_rate=log"}, {}, "", {}, {}, 0, {}},
      {{""}, {}, {}, "", {}, {}, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE((c.names.join(' ') + " / " + c.transforms.join(' ')).toStdString());
    const TResult<std::vector<TSeriesMeasure>> chosen = ChooseSeriesMeasures(c.names, c.transforms);
    if (c.chosen.isEmpty()) {
      ASSERT_FALSE(chosen.Ok());
      EXPECT_EQ(chosen.Error().status, kExitRefused);
      EXPECT_FALSE(chosen.Error().message.contains('\n'));
      continue;
    }
    ASSERT_TRUE(chosen.Ok()) << chosen.Error().message.toStdString();
    QStringList names;
    for (const TSeriesMeasure& m : *chosen) names << m.study.name;
    EXPECT_EQ(names, c.chosen);
    const TSeriesMeasure& first = chosen->front();
    EXPECT_EQ(first.study.words, QLatin1String(c.words));
    EXPECT_EQ(first.bounds.lowest, c.lowest);
    EXPECT_EQ(first.bounds.highest, c.highest);
    EXPECT_EQ(first.Scaled(c.raw).has_value(), c.scaled.has_value());
    if (c.scaled) EXPECT_NEAR(*first.Scaled(c.raw), *c.scaled, 1e-12);
  }
  // The refusal names what is known.
  const auto unknown = ChooseSeriesMeasures({"chemical"}, {});
  ASSERT_FALSE(unknown.Ok());
  for (const char* known : {"trip_rate", "birth_rate", "mean_chemical", "floor_share", "angle_c0 to angle_c9", "log1p"})
    EXPECT_TRUE(unknown.Error().message.contains(QLatin1String(known))) << known;
  EXPECT_FALSE(unknown.Error().message.contains("step,"));
}

// A 2 x 2 factorial of run folders studied on the chemical, the floor's
// share and the log of 1 + the trip rate: effects.csv names each on its
// scale with the effect its samples hold, and summary.csv holds each run's
// design point and role and every series column's window mean, from which
// the effects recompute.
TEST(StudyMeasures, ChosenMeasuresAreExploredOnTheirScaleAndSummaryCsvHoldsTheDesign) {
  QTemporaryDir tmp;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  WriteTwoByTwoFactorial(tmp, defaults, [](TSample& sample, int evaporation, int mutation, uint32_t seed, int s) {
    sample.meanAngle = 40;
    sample.meanChemical = 3 + (evaporation == 80 ? 1.5 : 0) + (seed == 1 ? 0.25 : -0.25);
    sample.floorShare = 0.2 + (mutation == 5 ? 0.1 : 0);
    sample.tripsTotal = s * (evaporation == 80 ? 14 : 10);
  });
  const auto measures = ChooseSeriesMeasures({"mean_chemical,floor_share"}, {});
  ASSERT_TRUE(measures.Ok());
  std::vector<TSeriesMeasure> study = *measures;
  study.push_back(ChooseSeriesMeasures({"trip_rate"}, {"trip_rate=log1p"})->front());
  const TResult<TSummaryReport> report = Summarize(tmp.path(), defaults, 3, false, {study, TFactorCoding::kAuto});
  ASSERT_TRUE(report.Ok()) << report.Error().message.toStdString();
  EXPECT_TRUE(report->effects.contains("log1p(trip_rate) (factorial, factors coded linearly):"))
      << report->effects.toStdString();
  const TTable effects = ReadTable(tmp.filePath("effects.csv"));
  const struct {
    const char* measure;
    const char* term;
    double estimate;
  } expected[] = {
      {"mean_chemical", "evaporation-rate", 1.5},
      {"mean_chemical", "mutation-rate", 0},
      {"floor_share", "mutation-rate", 0.1},
      {"log1p(trip_rate)", "evaporation-rate", std::log1p(14.0) - std::log1p(10.0)},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(testing::Message() << e.measure << " " << e.term);
    const auto row = std::find_if(effects.begin(), effects.end(), [&](const auto& r) {
      return r.at("measure") == e.measure && r.at("term") == e.term;
    });
    ASSERT_NE(row, effects.end());
    EXPECT_NEAR(Cell(*row, "estimate"), e.estimate, 1e-9);
  }
  for (const auto& row : effects) EXPECT_NE(row.at("measure"), "mean_angle");
  // summary.csv: the columns of before first, then the design and every column's window mean.
  const TTable summary = ReadTable(tmp.filePath("summary.csv"));
  ASSERT_EQ(summary.size(), 8u);
  const QStringList header =
      QString::fromUtf8(runner_test::ReadFile(tmp.filePath("summary.csv"))).section('\n', 0, 0).split(',');
  EXPECT_EQ(header.indexOf("birth_rate") + 1, header.indexOf("design_kind"));
  EXPECT_EQ(header.mid(header.indexOf("design_kind"), 3), QStringList({"design_kind", "design_point", "design_role"}));
  for (const QString& column : SeriesColumnNames().mid(1))
    EXPECT_TRUE(header.contains("window_" + column)) << column.toStdString();
  EXPECT_EQ(QStringList(header).removeDuplicates(), 0);
  // The chemical's effect from summary.csv alone: the high evaporation rate's mean less the low one's.
  std::map<QString, double> byPoint;
  double high = 0, low = 0;
  for (const auto& row : summary) {
    EXPECT_EQ(row.at("design_kind"), "factorial");
    EXPECT_EQ(row.at("design_role"), "cell");
    byPoint[row.at("design_point")] += 1;
    (row.at("evaporation_rate") == "0.8" ? high : low) += Cell(row, "window_mean_chemical") / 4;
  }
  EXPECT_EQ(byPoint.size(), 4u);
  EXPECT_NEAR(high - low, 1.5, 1e-4);
}

// Ten groups of two settings are too many lines: the figure pools the runs
// by the setting of the largest effect on mean_angle, and says so.
TEST(StudyMeasures, ManyGroupsArePooledByTheStrongestSetting) {
  QTemporaryDir tmp;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  for (const int evaporation : {20, 80}) {
    for (const int mutation : {1, 2, 3, 4, 5}) {
      std::vector<TSample> samples(3);
      for (int s = 0; s < 3; ++s) {
        samples[s].step = 100 * s;
        samples[s].meanAngle = 40 + 10 * mutation + (evaporation == 80 ? 1 : 0);
      }
      WriteRun(tmp.filePath(QStringLiteral("run-e%1-m%2").arg(evaporation).arg(mutation)), defaults, evaporation, 1,
               300, samples, {{"mutation-rate", mutation}});
    }
  }
  const TResult<TSummaryReport> report = Summarize(tmp.path(), defaults, 0);
  ASSERT_TRUE(report.Ok()) << report.Error().message.toStdString();
  const QString svg = QString::fromUtf8(runner_test::ReadFile(tmp.filePath("summary.svg")));
  EXPECT_TRUE(svg.contains(">Mean genes of 10 runs by mutation-rate: 5 values, 2 runs (seeds) each<"));
  EXPECT_TRUE(
      svg.contains("10 groups are too many lines to tell apart: each line pools the runs of one value of "
                   "mutation-rate (the largest share of the variance on mean_angle"));
}

// A drawn design gives every point values of its own: pooled by one setting
// its 14 points are still 14 lines, too many to read, so the summary figure
// is left out (and an earlier one removed) with a note that says so.
TEST(StudyMeasures, AFigureOfTooManyPooledLinesIsLeftOutWithANote) {
  QTemporaryDir tmp;
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  for (int i = 0; i < 14; ++i) {
    std::vector<TSample> samples(3);
    for (int s = 0; s < 3; ++s) {
      samples[s].step = 100 * s;
      samples[s].meanAngle = 40 + i;
    }
    WriteRun(tmp.filePath(QStringLiteral("run-%1").arg(i, 2, 10, QLatin1Char('0'))), defaults, 10 + 5 * i, 1, 300,
             samples, {{"mutation-rate", 1 + (i * 5) % 14}});
  }
  ASSERT_TRUE(runner_test::WriteFile(tmp.filePath("summary.png"), "an earlier figure"));
  const TResult<TSummaryReport> report = Summarize(tmp.path(), defaults, 0);
  ASSERT_TRUE(report.Ok()) << report.Error().message.toStdString();
  EXPECT_FALSE(QFile::exists(tmp.filePath("summary.png")));
  EXPECT_FALSE(QFile::exists(tmp.filePath("summary.svg")));
  EXPECT_TRUE(report->figureNote.startsWith("summary.png and summary.svg left out: even pooled by "))
      << report->figureNote.toStdString();
  EXPECT_TRUE(report->figureNote.contains("the 14 groups make 14 lines"));
  EXPECT_TRUE(QFile::exists(tmp.filePath("summary.csv")));
}

// The figures of every kind of design: a forest plot whose every term is
// labelled in words, whole (no label cut short), and interaction plots for
// factorials only; nothing drawn without effects.
TEST(Explore, FiguresLabelEveryTermInWordsAndDrawInteractionsOfFactorials) {
  std::vector<TRunMeasures> oneVaried;
  for (int32_t rate : {10, 20, 30}) oneVaried.push_back(Measures({{{"mutation-rate", rate}}, 1, {}, rate * 1.0}));
  std::vector<TRunMeasures> fourMeasures = BlockedFactorial(false);
  for (TRunMeasures& r : fourMeasures) {
    for (size_t m = 1; m < r.values.size(); ++m) r.values[m] = *r.values[0] * static_cast<double>(m) + r.seed;
  }
  const struct {
    const char* name;
    std::vector<TRunMeasures> runs;
    bool interactions;
  } cases[] = {{"factorial", fourMeasures, true},
               {"lhs", {}, false},
               {"sobol", IshigamiRuns(100, 0), false},
               {"morris", MorrisRuns(8), false},
               {"one varied setting", oneVaried, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TRunMeasures> runs = c.runs;
    if (QLatin1String(c.name) == QLatin1String("lhs")) {
      const auto points = LatinHypercube(20, 3);
      for (size_t i = 0; i < points.size(); ++i) {
        runs.push_back(Measures(
            {{{"mutation-rate", points[i][0]}, {"evaporation-rate", points[i][1]}, {"sniff-threshold", points[i][2]}},
             1,
             Point("lhs", {"mutation-rate", "evaporation-rate", "sniff-threshold"}, static_cast<int32_t>(i), "sample"),
             std::exp(points[i][0] / 30.0) - points[i][1]}));
      }
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TExploration x = Explore(runs);
    ASSERT_TRUE(WriteEffectFigures(dir.path(), x, runs).Ok());
    EXPECT_EQ(QFile::exists(dir.filePath("effects.png")), !x.effects.empty());
    EXPECT_EQ(QFile::exists(dir.filePath("interactions.png")), c.interactions);
    EXPECT_EQ(QFile::exists(dir.filePath("interactions.svg")), c.interactions);
    if (x.effects.empty()) continue;
    const QImage png(dir.filePath("effects.png"));
    ASSERT_FALSE(png.isNull());
    QSvgRenderer svg(dir.filePath("effects.svg"));
    EXPECT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBox().size(), png.size());
    const QString text = QString::fromUtf8(runner_test::ReadFile(dir.filePath("effects.svg")));
    const auto order = ExploreTermOrder(x);
    size_t panels = 0;
    for (const auto& terms : order) {
      panels += terms.empty() ? 0 : 1;
      for (size_t i : terms) {
        EXPECT_TRUE(text.contains(">" + ExploreTermWords(x.effects[i].term) + "</text>"))
            << ExploreTermWords(x.effects[i].term).toStdString();
      }
    }
    EXPECT_EQ(panels, QLatin1String(c.name) == QLatin1String("factorial") ? 4u : 1u);
    EXPECT_FALSE(text.contains("...") || text.contains(QChar(0x2026)));
    if (c.interactions) EXPECT_TRUE(QSvgRenderer(dir.filePath("interactions.svg")).isValid());
  }
}

// The measures are one table: each name once, with the words the effect
// figures title its panel with, and the analysis's title and axis are its
// design kind's words.
TEST(Explore, TheMeasuresTableGivesEachPanelItsWordsAndTheKindItsTitleAndAxis) {
  std::set<std::string> names, words;
  for (const TDefaultStudyMeasure& m : kDefaultStudyMeasures) {
    names.insert(m.name);
    words.insert(m.words);
  }
  EXPECT_EQ(names.size(), kDefaultStudyMeasures.size());
  EXPECT_EQ(words.size(), kDefaultStudyMeasures.size());
  std::vector<TRunMeasures> runs = BlockedFactorial(false);
  for (TRunMeasures& r : runs) {
    for (size_t m = 1; m < r.values.size(); ++m) r.values[m] = *r.values[0] * static_cast<double>(m) + r.seed;
  }
  const TExploration x = Explore(runs);
  ASSERT_EQ(x.analysis, "factorial");
  const TDesignKind* kind = FindDesignKind(x.analysis);
  ASSERT_NE(kind, nullptr);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(WriteEffectFigures(dir.path(), x, runs).Ok());
  const QString svg = QString::fromUtf8(runner_test::ReadFile(dir.filePath("effects.svg")));
  for (const TDefaultStudyMeasure& measure : kDefaultStudyMeasures) {
    EXPECT_TRUE(svg.contains(QStringLiteral(">%1</text>").arg(QLatin1String(measure.words)))) << measure.words;
    EXPECT_TRUE(
        x.table.contains(QStringLiteral("%1 (factorial, factors coded linearly):").arg(QLatin1String(measure.name))))
        << measure.name;
  }
  EXPECT_TRUE(
      svg.contains(QStringLiteral(">%1 of %2 runs</text>").arg(QLatin1String(kind->words.analysis)).arg(runs.size())));
  EXPECT_TRUE(svg.contains(QStringLiteral(">%1</text>").arg(QString(QLatin1String(kind->words.axis)).toHtmlEscaped())));
}
// A forest plot cuts each interval to its quantity's range and marks the
// cut: an interval that goes on beyond 0 or 1 ends in an arrowhead there,
// an estimate beyond it is drawn hollow at the range's end, and the axis
// spans the range, not the numbers beyond it. The table keeps them whole.
TEST(Explore, ForestPlotsKeepIntervalsWithinTheQuantitysRange) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    const char* quantity;
    double estimate, low, high;
    TDrawnEffect drawn;
  } cuts[] = {
      {"S1", -0.4, -1.2, 0.5, {.estimate = 0, .low = 0, .high = 0.5, .estimateCut = true, .lowCut = true}},
      {"ST", 0.8, 0.3, 1.6, {.estimate = 0.8, .low = 0.3, .high = 1, .highCut = true}},
      {"ST", 1.3, 1.1, 1.5, {.estimate = 1, .low = 1, .high = 1, .estimateCut = true, .lowCut = true, .highCut = true}},
      {"S1", 0.2, 0.1, 0.3, {.estimate = 0.2, .low = 0.1, .high = 0.3}},
      {"prcc", -0.9, -1, -0.7, {.estimate = -0.9, .low = -1, .high = -0.7}},
      {"mu_star", 3, -0.5, 7, {.estimate = 3, .low = 0, .high = 7, .lowCut = true}},
      {"mu", -30, -80, 20, {.estimate = -30, .low = -80, .high = 20}},
      {"effect", 1e6, -kInf, kInf, {.estimate = 1e6, .low = -kInf, .high = kInf}},
  };
  for (const auto& c : cuts) {
    SCOPED_TRACE(std::string(c.quantity) + " " + std::to_string(c.estimate));
    const TDrawnEffect d = DrawnEffect(QuantityRange(c.quantity), c.estimate, c.low, c.high);
    EXPECT_EQ(d.estimate, c.drawn.estimate);
    EXPECT_EQ(d.low, c.drawn.low);
    EXPECT_EQ(d.high, c.drawn.high);
    EXPECT_EQ(std::tuple(d.estimateCut, d.lowCut, d.highCut),
              std::tuple(c.drawn.estimateCut, c.drawn.lowCut, c.drawn.highCut));
  }
  const TDrawnEffect none = DrawnEffect(QuantityRange("S1"), 1.5, std::nullopt, std::nullopt);
  EXPECT_TRUE(none.estimateCut && !none.low && !none.lowCut && !none.highCut);

  // Through the figure: a Sobol exploration whose intervals go beyond 0 to 1, and one whose do not.
  using TIndex = std::tuple<const char*, const char*, double, double, double>;  // term, quantity, estimate, interval
  const std::vector<TIndex> within{{"mutation-rate", "S1", 0.1, 0.02, 0.3},
                                   {"mutation-rate", "ST", 0.6, 0.4, 0.9},
                                   {"sniff-threshold", "S1", 0.3, 0.1, 0.5},
                                   {"sniff-threshold", "ST", 0.5, 0.3, 0.7}};
  const std::vector<TIndex> beyond{{"mutation-rate", "S1", -0.4, -1.2, 0.5},
                                   {"mutation-rate", "ST", 0.8, 0.3, 1.6},
                                   {"sniff-threshold", "S1", 0.3, 0.1, 0.5},
                                   {"sniff-threshold", "ST", 0.5, 0.3, 0.7}};
  for (const auto& [indices, cut] : {std::pair{within, false}, std::pair{beyond, true}}) {
    SCOPED_TRACE(cut ? "beyond" : "within");
    TExploration x;
    x.measures = DefaultStudyMeasures();
    x.measures.resize(1);
    x.analysis = "sobol";
    for (const auto& [term, quantity, v, lo, hi] : indices)
      x.effects.push_back({"mean_angle", term, quantity, v, lo, hi, std::nullopt, "bootstrap"});
    x.table = EffectsTable(x);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(WriteEffectFigures(dir.path(), x, {}).Ok());
    const QString svg = QString::fromUtf8(runner_test::ReadFile(dir.filePath("effects.svg")));
    EXPECT_EQ(svg.contains(">arrowheads: intervals cut at 0 to 1; hollow: estimates beyond; whole in effects.csv<"),
              cut);
    EXPECT_FALSE(svg.contains("...") || svg.contains(QChar(0x2026)));
    // The axis's tick labels: none beyond the range's nice ends, though the intervals reach -1.2 and 1.6.
    std::vector<double> ticks;
    const QRegularExpression number(QStringLiteral(">(-?[0-9]+(\\.[0-9]+)?)</text>"));
    for (auto m = number.globalMatch(svg); m.hasNext();) ticks.push_back(m.next().captured(1).toDouble());
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_GE(*std::ranges::min_element(ticks), -0.25);
    EXPECT_LE(*std::ranges::max_element(ticks), 1.25);
    // The table keeps the whole numbers.
    for (const TEffect& e : x.effects)
      EXPECT_TRUE(x.table.contains(QStringLiteral("[%1, %2]").arg(*e.low, 0, 'g', 3).arg(*e.high, 0, 'g', 3)))
          << x.table.toStdString();
  }
}

// --- The seeds' share and the estimators on noisy functions, through run folders ---

// Made runs as run folders: the defaults with each run's factors, its seed
// and design point, and a series whose mean_angle is the made value; read
// back as the summary reads them.
TSettingValues WindowDefaults() {
  const auto form = std::make_unique<TForm1>();
  return ReadSettings(*form);
}

std::vector<TRunMeasures> ThroughRunFolders(const QString& dir, const std::vector<TRunMeasures>& made,
                                            const QStringList& factors) {
  const TSettingValues defaults = WindowDefaults();
  for (size_t i = 0; i < made.size(); ++i) {
    TSettingValues settings = defaults;
    for (const QString& f : factors) settings[*FindSetting(f)] = made[i].settings[*FindSetting(f)];
    std::vector<TSample> samples(2);
    for (int s = 0; s < 2; ++s) {
      samples[s].step = 100 * s;
      samples[s].meanAngle = *made[i].values[0];
    }
    WriteRunOf(QStringLiteral("%1/run-%2").arg(dir).arg(i, 5, 10, QLatin1Char('0')), settings, made[i].seed, 200,
               samples, made[i].design);
  }
  TResult<std::vector<TRunMeasures>> read = StudyMeasures(dir, defaults, 1);
  EXPECT_TRUE(read.Ok());
  return read ? *read : std::vector<TRunMeasures>{};
}

// The one-way ANOVA's components and Shrout and Fleiss' F interval against
// values computed apart with scipy.stats (f.ppf), to 1e-9.
TEST(Replicates, SeedShareMatchesAnAnovaComputedApart) {
  const struct {
    const char* name;
    std::vector<std::vector<double>> groups;
    double within, between, share, low, high, meanNoise;
  } cases[] = {
      {"balanced",
       {{1, 2, 3}, {4, 6, 5}, {2, 2, 5}, {8, 7, 9}},
       1.5,
       6.5,
       0.1875,
       0.014594391788775973,
       0.6543144451602854,
       0.5},
      {"unbalanced, a point of one run",
       {{1, 3}, {4, 6, 5, 7}, {2}, {8, 7, 9}},
       1.5,
       7.157142857142857,
       0.17326732673267328,
       0.012954716320787485,
       0.7355911598758872,
       0.78125},
      {"equal means: all noise", {{1, 2, 3}, {2, 3, 1}, {3, 1, 2}}, 1.0, 0, 1, 1, 1, 1.0 / 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> values;
    std::vector<size_t> point;
    for (size_t g = 0; g < c.groups.size(); ++g) {
      for (double v : c.groups[g]) {
        values.push_back(v);
        point.push_back(7 * g + 3);  // any numbering
      }
    }
    const TSeedShare share = SeedShare(values, point);
    ASSERT_TRUE(share.share && share.low && share.high && share.within && share.between && share.meanNoise);
    EXPECT_NEAR(*share.within, c.within, 1e-9);
    EXPECT_NEAR(*share.between, c.between, 1e-9);
    EXPECT_NEAR(*share.share, c.share, 1e-9);
    EXPECT_NEAR(*share.low, c.low, 1e-9);
    EXPECT_NEAR(*share.high, c.high, 1e-9);
    EXPECT_NEAR(*share.meanNoise, c.meanNoise, 1e-9);
  }
  // Without replicates the seeds cannot be told from the points.
  const std::vector<double> single{1, 2, 3};
  const std::vector<size_t> own{0, 1, 2};
  const TSeedShare none = SeedShare(single, own);
  EXPECT_EQ(none.replicated, 0u);
  EXPECT_FALSE(none.share || none.meanNoise);
}

const TEffect* FindOf(const TExploration& x, const char* measure, const QString& term, const QString& quantity) {
  for (const TEffect& e : x.effects) {
    if (e.measure == QLatin1String(measure) && e.term == term && e.quantity == quantity) return &e;
  }
  return nullptr;
}

bool Covers(const TEffect& e, double truth, double tolerance) {
  return e.low && e.high && *e.low - tolerance <= truth && truth <= *e.high + tolerance;
}

// Ishigami's function plus 1,000 plus normal noise, two seeds a point, on
// the program's Saltelli design. The program's indices (centred, the seeds'
// noise σ²/r taken out) equal those computed here from the point means, and
// hold the analytic ones within their intervals widened by 0.02 (as above);
// computed here without centring they miss by far more than that, and
// without the noise taken out every ST does too once the rows are many
// enough to tell (2,048; σ²/r = 8 of V = 13.8 adds about 0.1 to 0.2). The
// seeds' share σ² / (σ² + V) lies within its interval. The smaller design is
// read from run folders; the larger one, 20,480 runs, is analysed as read.
TEST(Explore, SobolOfANoisyOffsetIshigamiIsCentredAndCorrected) {
  const std::array<double, 3> s1{0.314, 0.442, 0.0};
  const std::array<double, 3> st{0.558, 0.442, 0.244};
  const double variance = 13.845;  // Ishigami's V at a = 7, b = 0.1
  const char* terms[] = {"mutation-rate", "evaporation-rate", "sniff-threshold"};
  const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
  const struct {
    int rows;
    double sd;
    bool folders;
    bool uncorrectedMisses;
  } cases[] = {{128, 2, true, false}, {2048, 4, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows << " rows, noise sd " << c.sd);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<TRunMeasures> made =
        IshigamiRuns(c.rows, 0, {.seeds = 2, .sd = c.sd, .offset = 1000, .sequence = true});
    const std::vector<TRunMeasures> runs = c.folders ? ThroughRunFolders(dir.path(), made, factors) : made;
    ASSERT_EQ(runs.size(), static_cast<size_t>(c.rows) * 5 * 2);
    const TExploration x = Explore(runs);
    ASSERT_EQ(x.analysis, "sobol") << x.note.toStdString();
    // The point means and the pooled within-point variance, computed here.
    std::map<std::pair<QString, int32_t>, double> means;
    double squares = 0;
    for (const TRunMeasures& r : runs) means[{r.design->role, r.design->point}] += *r.values[0] / 2;
    for (const TRunMeasures& r : runs) squares += std::pow(*r.values[0] - means[{r.design->role, r.design->point}], 2);
    const double noise = squares / static_cast<double>(means.size()) / 2;  // σ² (one df a point) over two runs
    const double n = c.rows;
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(terms[i]);
      double sum = 0, first = 0, raw = 0, total = 0, spread = 0;
      for (int j = 0; j < c.rows; ++j) sum += means[{"A", j}] + means[{"B", j}];
      const double centre = sum / (2 * n);
      for (int j = 0; j < c.rows; ++j) {
        const double a = means[{"A", j}], b = means[{"B", j}], ab = means[{QStringLiteral("AB%1").arg(i + 1), j}];
        first += (b - centre) * (ab - a);
        raw += b * (ab - a);
        total += (a - ab) * (a - ab);
        spread += (a - centre) * (a - centre) + (b - centre) * (b - centre);
      }
      const double v = spread / (2 * n);
      const TEffect* e1 = Find(x, terms[i], "S1");
      const TEffect* et = Find(x, terms[i], "ST");
      ASSERT_TRUE(e1 && et);
      EXPECT_NEAR(e1->estimate, first / n / (v - noise), 1e-6);
      EXPECT_NEAR(et->estimate, (total / (2 * n) - noise) / (v - noise), 1e-6);
      EXPECT_TRUE(Covers(*e1, s1[i], 0.02)) << e1->estimate << " [" << *e1->low << ", " << *e1->high << "]";
      EXPECT_TRUE(Covers(*et, st[i], 0.02)) << et->estimate << " [" << *et->low << ", " << *et->high << "]";
      EXPECT_TRUE(e1->method.contains("centred") && e1->method.contains("subtracted")) << e1->method.toStdString();
      // Uncentred, the offset's 1,000 multiplies the noise of f(A_B) - f(A).
      const double uncentred = raw / n / (v - noise);
      EXPECT_FALSE(Covers(*e1, uncentred, 0.02)) << uncentred;
      EXPECT_GT(std::abs(uncentred - s1[i]), 0.3) << uncentred;
      // Without the noise taken out, every ST gains about σ²/r (1 − ST) / V.
      const double uncorrected = total / (2 * n) / v;
      if (c.uncorrectedMisses) EXPECT_GT(uncorrected, *et->high + 0.02) << uncorrected;
    }
    const TEffect* seeds = Find(x, "seed", "seed_share");
    ASSERT_NE(seeds, nullptr);
    const double truth = c.sd * c.sd / (c.sd * c.sd + variance);
    EXPECT_TRUE(Covers(*seeds, truth, 0)) << seeds->estimate << " [" << *seeds->low << ", " << *seeds->high << "]";
    // The indices against the first rows: 8, 16, ..., all of them.
    const auto at = std::ranges::find_if(x.convergence, [&](const TConvergence& e) {
      return e.term == "sniff-threshold" && e.quantity == "ST" && e.rows == static_cast<size_t>(c.rows);
    });
    ASSERT_NE(at, x.convergence.end());
    EXPECT_DOUBLE_EQ(at->estimate, Find(x, "sniff-threshold", "ST")->estimate);
    const auto prefixes = static_cast<long>(std::log2(c.rows / 8)) + 1;
    EXPECT_EQ(std::ranges::count_if(x.convergence, [](const TConvergence& e) { return e.quantity == "S1"; }),
              3 * prefixes);
    ExpectFiniteWithIntervalsAround(x);
  }
}

// A linear model plus noise through run folders, for the factorial, Morris
// and the Latin hypercube: the effects, the noise floor and the seeds'
// share recovered within their intervals.
TEST(Explore, LinearModelsPlusNoiseGiveTheirEffectsAndTheSeedsShare) {
  std::mt19937_64 draws(9);
  std::normal_distribution<double> normal(0.0, 1.0);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  {
    SCOPED_TRACE("a 3 x 3 factorial of four seeds coded linearly, y = 1000 + 3a - 2b + N(0, 2²)");
    const QStringList factors{"mutation-rate", "evaporation-rate"};
    std::vector<TRunMeasures> made;
    int32_t cell = 0;
    for (int32_t a : {0, 50, 100}) {
      for (int32_t b : {0, 50, 100}) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
          made.push_back(Measures({{{"mutation-rate", a}, {"evaporation-rate", b}},
                                   seed,
                                   Point("factorial", factors, cell, "cell"),
                                   1000 + 3 * (a - 50) / 50.0 - 2 * (b - 50) / 50.0 + 2 * normal(draws)}));
        }
        ++cell;
      }
    }
    QDir(dir.path()).mkdir("factorial");
    const TExploration x = Explore(ThroughRunFolders(dir.filePath("factorial"), made, factors), DefaultStudyMeasures(),
                                   TFactorCoding::kLinear);
    ASSERT_EQ(x.analysis, "factorial") << x.note.toStdString();
    ASSERT_TRUE(Find(x, "mutation-rate", "effect") && Find(x, "evaporation-rate", "effect"));
    EXPECT_TRUE(Covers(*Find(x, "mutation-rate", "effect"), 6, 0));
    EXPECT_TRUE(Covers(*Find(x, "evaporation-rate", "effect"), -4, 0));
    // The cells' means 3i - 2j (i, j in -1, 0, 1) vary by 78 / 8 = 9.75 about their mean.
    const TEffect* seeds = Find(x, "seed", "seed_share");
    ASSERT_NE(seeds, nullptr);
    EXPECT_TRUE(Covers(*seeds, 4 / (4 + 9.75), 0)) << seeds->estimate;
    const TEffect* blocks = Find(x, "seed", "share");
    const TEffect* residual = Find(x, "residual", "share");
    ASSERT_TRUE(blocks && residual);
    double shares = *blocks->share + *residual->share;
    for (const TEffect& e : x.effects) shares += IsTermQuantity(e.quantity) ? e.share.value_or(0) : 0;
    EXPECT_NEAR(shares, 1, 1e-9);  // a balanced design: the sums of squares add up
    EXPECT_TRUE(x.table.contains("seeds' share of the variance")) << x.table.toStdString();
    EXPECT_TRUE(x.warningLines.isEmpty()) << x.warningLines.join('\n').toStdString();
  }
  {
    SCOPED_TRACE("Morris, 40 trajectories of three seeds, y = 0.3 mutation + N(0, 3²)");
    std::vector<TRunMeasures> made;
    for (const TRunMeasures& run : MorrisRuns(40)) {
      for (uint32_t seed = 1; seed <= 3; ++seed) {
        TRunMeasures noisy = run;
        noisy.seed = seed;
        noisy.values[0] = 0.3 * run.settings[*FindSetting("mutation-rate")] + 3 * normal(draws);
        made.push_back(noisy);
      }
    }
    QDir(dir.path()).mkdir("morris");
    const TExploration x = Explore(
        ThroughRunFolders(dir.filePath("morris"), made, {"mutation-rate", "evaporation-rate", "sniff-threshold"}));
    ASSERT_EQ(x.analysis, "morris") << x.note.toStdString();
    EXPECT_TRUE(Covers(*Find(x, "mutation-rate", "mu_star"), 27, 0));
    EXPECT_TRUE(Covers(*Find(x, "mutation-rate", "mu"), 27, 0));
    // The factor that does nothing: its mu* is noise alone, and the floor
    // computed from the replicates lies in its interval; its noise-free mu* (0) does not.
    const TEffect* idle = Find(x, "sniff-threshold", "mu_star");
    const TEffect* floor = Find(x, "sniff-threshold", "noise_floor");
    ASSERT_TRUE(idle && floor);
    // sqrt(2)·σ/Δ·sqrt(2/π) with σ = 3 / sqrt(3) per point mean and Δ = 60 / 90 of the range.
    EXPECT_NEAR(floor->estimate, std::sqrt(2.0) * std::sqrt(3.0) / (60.0 / 90) * std::sqrt(2 / std::numbers::pi),
                0.25 * floor->estimate);
    EXPECT_TRUE(Covers(*idle, floor->estimate, 0)) << idle->estimate << " floor " << floor->estimate;
    EXPECT_FALSE(Covers(*idle, 0, 0));
    EXPECT_TRUE(x.table.contains("noise_floor")) << x.table.toStdString();
    EXPECT_FALSE(x.convergence.empty());
    ExpectFiniteWithIntervalsAround(x);
  }
  {
    SCOPED_TRACE("a Latin hypercube of 40 points, three seeds, y = 3a - 2b + N(0, 60²)");
    const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
    std::vector<TRunMeasures> made;
    const auto points = LatinHypercube(40, 13);
    double mean = 0, squares = 0;
    for (const auto& [a, b, c] : points) mean += (3.0 * a - 2.0 * b) / 40;
    for (const auto& [a, b, c] : points) squares += std::pow(3.0 * a - 2.0 * b - mean, 2);
    for (size_t i = 0; i < points.size(); ++i) {
      const auto [a, b, c] = points[i];
      for (uint32_t seed = 1; seed <= 3; ++seed) {
        made.push_back(Measures({{{"mutation-rate", a}, {"evaporation-rate", b}, {"sniff-threshold", c}},
                                 seed,
                                 Point("lhs", factors, static_cast<int32_t>(i), "sample"),
                                 3.0 * a - 2.0 * b + 60 * normal(draws)}));
      }
    }
    QDir(dir.path()).mkdir("lhs");
    const TExploration x = Explore(ThroughRunFolders(dir.filePath("lhs"), made, factors));
    ASSERT_EQ(x.analysis, "lhs") << x.note.toStdString();
    EXPECT_GT(*Find(x, "mutation-rate", "prcc")->low, 0);
    EXPECT_LT(*Find(x, "evaporation-rate", "prcc")->high, 0);
    EXPECT_TRUE(Covers(*Find(x, "sniff-threshold", "prcc"), 0, 0));
    const TEffect* seeds = Find(x, "seed", "seed_share");
    ASSERT_NE(seeds, nullptr);
    EXPECT_TRUE(Covers(*seeds, 3600 / (3600 + squares / 39), 0)) << seeds->estimate;
  }
}

// A design of one seed a point with large noise is told it cannot answer,
// on standard error and in effects.csv; the same design with enough seeds
// is not; a 2 x 2 of one seed is told how many runs its interactions need.
TEST(Explore, WarningsSayWhenTheDesignCannotAnswerAndWhatWould) {
  const TSettingValues defaults = WindowDefaults();
  const QStringList factors{"mutation-rate", "evaporation-rate", "sniff-threshold"};
  const struct {
    const char* name;
    TNoise noise;
    bool warned;
  } cases[] = {{"one seed, noise sd 6", {.seeds = 1, .sd = 6}, true},
               {"four seeds, noise sd 6", {.seeds = 4, .sd = 6}, false},
               {"four seeds, noise sd 30", {.seeds = 4, .sd = 30}, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ThroughRunFolders(dir.path(), IshigamiRuns(16, 0, c.noise), factors);
    const TResult<TSummaryReport> report = Summarize(dir.path(), defaults, 1);
    ASSERT_TRUE(report.Ok()) << report.Error().message.toStdString();
    const TTable effects = ReadTable(dir.filePath("effects.csv"));
    const auto seedWarnings = std::ranges::count_if(
        effects, [](const auto& row) { return row.at("quantity") == "warning" && row.at("term") == "seed"; });
    const auto seedLines = std::ranges::count_if(report->effectsWarnings, [](const QString& line) {
      return line.startsWith("mean_angle: ") && (line.contains("one seed per") || line.contains("the seeds make"));
    });
    EXPECT_EQ(seedWarnings, c.warned ? 1 : 0);
    EXPECT_EQ(seedLines, c.warned ? 1 : 0) << report->effectsWarnings.join('\n').toStdString();
    for (const QString& line : report->effectsWarnings) EXPECT_FALSE(line.contains('\n'));
    if (c.noise.seeds == 1) {
      EXPECT_TRUE(report->effectsWarnings.join('\n').contains("--seeds 1-3"));
    } else if (c.warned) {
      // The seeds a point that would answer, from the replicates: more than the four run.
      const auto row = std::ranges::find_if(
          effects, [](const auto& r) { return r.at("quantity") == "warning" && r.at("term") == "seed"; });
      EXPECT_GT(Cell(*row, "estimate"), 4);
      EXPECT_TRUE(row->at("method").contains("seeds per point")) << row->at("method").toStdString();
    }
    EXPECT_TRUE(QFile::exists(dir.filePath("convergence.csv")));
    EXPECT_TRUE(QFile::exists(dir.filePath("convergence.png")));
    EXPECT_TRUE(QSvgRenderer(dir.filePath("convergence.svg")).isValid());
    // Every printed S1 and ST lies within 0 to 1 or carries a warning.
    for (const auto& row : effects) {
      if (row.at("quantity") != "S1" && row.at("quantity") != "ST") continue;
      const double v = Cell(row, "estimate");
      const bool warned = std::ranges::any_of(effects, [&](const auto& w) {
        return w.at("quantity") == "warning" && w.at("term") == row.at("term") &&
               w.at("method").startsWith(row.at("quantity"));
      });
      EXPECT_TRUE((v >= 0 && v <= 1) || warned) << row.at("term").toStdString() << " " << v;
    }
  }
  // The rows an interval wider than the range asks for grow as its width squared.
  TExploration x;
  TEffect wide;
  wide.term = "mutation-rate";
  wide.quantity = "S1";
  wide.estimate = 0.5;
  wide.low = -0.5;
  wide.high = 1.5;
  explore::CheckRange(wide, 0, 0, 1, 40, "rows", x);
  ASSERT_EQ(x.warnings.size(), 1u);
  EXPECT_DOUBLE_EQ(x.warnings[0].count, 161);  // 40 · 2² + 1
}

// A measure whose points differ no more than their seeds has no Sobol index,
// and its seeds' share stands in the table in the indices' place.
TEST(Explore, AMeasureOfSeedNoiseAloneGivesItsSeedsShareInPlaceOfIndices) {
  std::vector<TRunMeasures> runs = IshigamiRuns(16, 0, {.seeds = 2, .sd = 0.5});
  // The second measure: every point's mean the same, its two seeds 2 apart.
  for (TRunMeasures& r : runs) r.values.emplace_back(r.seed == 1 ? 5.0 : 3.0);
  std::vector<TStudyMeasure> measures = DefaultStudyMeasures();
  measures.resize(2);
  const TExploration x = Explore(runs, measures);
  ASSERT_EQ(x.analysis, "sobol");
  const auto rows = [&](const char* measure, const char* quantity) {
    return std::ranges::count_if(x.effects, [&](const TEffect& e) {
      return e.measure == QLatin1String(measure) && e.quantity == QLatin1String(quantity);
    });
  };
  EXPECT_EQ(rows("mean_angle", "ST"), 3);
  EXPECT_EQ(rows("mean_wiggle", "ST") + rows("mean_wiggle", "S1"), 0);
  ASSERT_EQ(rows("mean_wiggle", "seed_share"), 1);
  const auto share = std::ranges::find_if(
      x.effects, [](const TEffect& e) { return e.measure == "mean_wiggle" && e.quantity == "seed_share"; });
  EXPECT_DOUBLE_EQ(share->estimate, 1);
  EXPECT_TRUE(
      x.table.contains("mean_wiggle (sobol): no index, the points differ no more than the seeds' noise\n"
                       "  seeds' share of the variance: 100 %"))
      << x.table.toStdString();
  EXPECT_TRUE(x.note.contains("mean_wiggle: the measure does not vary beyond the seeds' noise"));
}
}  // namespace
