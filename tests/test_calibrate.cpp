// Calibration: the ABC-SMC steps against direct computations, an analytic
// problem (a Gaussian mean with known variance) whose posterior is known,
// recovered through the calibration folder's own path with its summaries fed
// in place of runs, its resume; and a tiny calibration of the model
// through pathwick_run and pathwick_sweep, resumed (its lost generation
// replayed) and verified. NSGA-II: its ranking against a direct count of
// dominance, a two-objective quadratic whose Pareto set is known, fed in
// place of runs, its resume, and a tiny run of the model.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <map>
#include <numbers>

#include "Abc.h"
#include "Calibration.h"
#include "Nsga.h"
#include "agents_support.h"

namespace {

using runner_test::ReadFile;
using runner_test::RunProgram;

// --- the steps of the method ---

TEST(Abc, KernelIsTwiceTheWeightedCovariance) {
  // Weights 1, 3 (normalised 1/4, 3/4) at x = 0 and 4: mean 3, variance
  // 1/4*9 + 3/4*1 = 3, unbiased / (1 - (1/16 + 9/16)) = 8, twice: 16.
  const std::vector<TParticle> kept{{{0.0}, 0, 1, 0, 0}, {{4.0}, 0, 3, 0, 1}};
  const std::vector<double> c = KernelCovariance(kept);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_NEAR(c[0], 16.0, 1e-12);
}

TEST(Abc, WeightsArePriorOverTheKernelMixture) {
  // Two kept particles of equal weight: a candidate's weight is
  // pi(x) / (1/2 N(x; 0, v) + 1/2 N(x; 2, v)), v the kernel's variance.
  const TPrior prior{{{-100, 100, false}}};
  const std::vector<TParticle> kept{{{0.0}, 0, 1, 0, 0}, {{2.0}, 0, 1, 0, 1}};
  TAbcRandom random(7);
  const TProposal p = Propose(prior, kept, 2, random);
  ASSERT_EQ(p.coordinates.size(), 2u);
  const double variance = KernelCovariance(kept)[0];
  auto normal = [&](double x, double m) {
    return std::exp(-(x - m) * (x - m) / (2 * variance)) / std::sqrt(2 * std::numbers::pi * variance);
  };
  for (size_t i = 0; i < 2; ++i) {
    const double x = p.coordinates[i][0];
    EXPECT_NEAR(p.weights[i], (1.0 / 200) / (0.5 * normal(x, 0) + 0.5 * normal(x, 2)), 1e-9 * p.weights[i]);
  }
}

TEST(Abc, ScalesAreTheMadAndDistancesStandardised) {
  // 1, 2, 3, 4, 100: median 3, absolute deviations 2, 1, 0, 1, 97, MAD 1.
  // The second measure is constant in its MAD (0) and falls back to the sd.
  const std::vector<std::vector<double>> s{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {100, 7}};
  const std::vector<double> scales = Scales(s);
  EXPECT_NEAR(scales[0], 1.4826, 1e-12);
  EXPECT_NEAR(scales[1], std::sqrt(0.8), 1e-12);  // mean 5.4, squares 4*0.16 + 2.56 = 3.2, / 4
  const std::vector<double> target{0, 5};
  EXPECT_NEAR(Distance(std::vector<double>{1.4826 * 3, 5 + 4 * std::sqrt(0.8)}, target, scales), 5.0, 1e-12);
  EXPECT_TRUE(std::isinf(Distance(std::vector<double>{NAN, 5}, target, scales)));
}

TEST(Abc, KeepsTheNearestAndCountsTheAccepted) {
  std::vector<TParticle> previous{{{0}, 0.5, 1, 0, 0}, {{0}, 0.9, 1, 0, 1}};
  std::vector<TParticle> drawn{{{0}, 0.2, 1, 1, 0}, {{0}, 1.5, 1, 1, 1}, {{0}, 0.8, 1, 1, 2}, {{0}, 0.95, 1, 1, 3}};
  const TAbcStep step = KeepNearest(previous, drawn, 3, 0.9);
  ASSERT_EQ(step.kept.size(), 3u);
  EXPECT_EQ(step.kept[0].distance, 0.2);
  EXPECT_EQ(step.kept[2].distance, 0.8);
  EXPECT_EQ(step.tolerance, 0.8);
  EXPECT_EQ(step.acceptance, 0.5);  // 0.2 and 0.8 of the four lie within 0.9
}

TEST(Abc, LogUniformPriorIsUniformInTheLogarithm) {
  const TPrior prior{{{1, 100, true}}};
  EXPECT_NEAR(prior.Density(std::vector<double>{std::log(10.0)}), 1 / std::log(100.0), 1e-12);
  EXPECT_EQ(prior.Density(std::vector<double>{std::log(0.5)}), 0.0);
  TAbcRandom random(3);
  const auto drawn = DrawFromPrior(prior, 4000, random);
  int below10 = 0;
  for (const auto& d : drawn) below10 += prior.Value(0, d[0]) < 10 ? 1 : 0;
  EXPECT_NEAR(below10 / 4000.0, 0.5, 0.03);  // 10 is the geometric middle of 1..100
}

// --- the analytic problem ---

// A Gaussian mean with known variance: the summary of a candidate is the
// mean of n draws of N(theta, sigma^2) (sbibm's gaussian_linear, OpenMOLE's
// ABC example), its noise drawn from the candidate's own stream.
struct TGaussianCase {
  const char* name;
  std::vector<TPriorFactor> priors;
  std::vector<double> observed;  // the target: each factor's observed mean
  double sigma;                  // per draw
  int n;                         // draws per summary
  // How near the posterior's weighted mean and sd come to the exact ones,
  // in exact sds and as a share of the exact sd.
  double meanTolerance = 0.1;
  double sdTolerance = 0.15;
};

TSimulate GaussianModel(const TGaussianCase& c, const TPrior& prior, int* calls) {
  return [c, prior, calls](const QString&, int32_t generation, const std::vector<TCandidate>& candidates) {
    ++*calls;
    std::vector<TOutcome> outcomes;
    for (size_t i = 0; i < candidates.size(); ++i) {
      TAbcRandom noise(RunSeed(99, generation, static_cast<int32_t>(i), 0));
      TOutcome o;
      for (size_t f = 0; f < c.priors.size(); ++f) {
        o.summary.push_back(prior.Value(f, candidates[i].coordinates[f]) + c.sigma / std::sqrt(c.n) * noise.Normal());
      }
      outcomes.push_back(o);
    }
    return TResult<std::vector<TOutcome>>(outcomes);
  };
}

TCalibrationSpec GaussianSpec(const TGaussianCase& c, int32_t particles, qint64 budget) {
  TCalibrationSpec spec;
  for (size_t f = 0; f < c.priors.size(); ++f) {
    spec.factors.push_back({QStringLiteral("mu%1").arg(f), c.priors[f], 1});
    spec.measures << QStringLiteral("mean%1").arg(f);
  }
  spec.target = c.observed;
  spec.targetSource = QStringLiteral("values");
  spec.model = QString::fromLatin1(c.name);
  spec.particles = particles;
  spec.budget = budget;
  spec.seed = 11;
  return spec;
}

// The exact posterior's mean and sd of a factor by quadrature: its prior
// density (uniform, or 1/x for log-uniform) times the Gaussian likelihood
// of the observed mean, on a fine grid of the value.
std::pair<double, double> ExactMoments(const TPriorFactor& prior, double observed, double se) {
  const int cells = 200000;
  double z = 0, m1 = 0, m2 = 0;
  for (int i = 0; i < cells; ++i) {
    const double x = prior.lo + (prior.hi - prior.lo) * (i + 0.5) / cells;
    const double density = (prior.log ? 1 / x : 1.0) * std::exp(-0.5 * std::pow((observed - x) / se, 2));
    z += density;
    m1 += density * x;
    m2 += density * x * x;
  }
  const double mean = m1 / z;
  return {mean, std::sqrt(m2 / z - mean * mean)};
}

class GaussianMean : public testing::TestWithParam<TGaussianCase> {};

// Recovered within each case's tolerances. One mean: 0.1 posterior sd for
// the mean and 15 % for the sd; with 400 particles (an effective sample of
// about 200) the mean's Monte Carlo error is about 0.07 sd, and the final
// tolerance widens the sd by a few per cent. Two means in two dimensions,
// one log-uniform, end at a wider tolerance for the same floor, and their
// weights are less even: 0.25 sd and 25 %.
TEST_P(GaussianMean, RecoversTheKnownPosterior) {
  const TGaussianCase& c = GetParam();
  QTemporaryDir dir;
  TCalibrationSpec spec = GaussianSpec(c, 400, 40000);
  // Down to a 1 % acceptance rate (Lenormand et al.'s smaller choice), so
  // that the tolerance falls well below the posterior's spread.
  spec.acceptanceFloor = 0.01;
  int calls = 0;
  const TResult<TCalibrationEnd> end =
      Calibrate(dir.filePath(QStringLiteral("c")), spec, GaussianModel(c, spec.Prior(), &calls));
  ASSERT_TRUE(end) << qPrintable(end.Error().message);
  EXPECT_GE(end->generations, 4);
  EXPECT_LE(end->runs, spec.budget);
  // The posterior as posterior.csv holds it: values and normalised weights.
  const QStringList lines =
      QString::fromUtf8(ReadFile(dir.filePath(QStringLiteral("c/posterior.csv")))).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 401);
  const QStringList header = lines[0].split(',');
  const qsizetype weightAt = header.indexOf(QStringLiteral("weight"));
  for (size_t f = 0; f < c.priors.size(); ++f) {
    SCOPED_TRACE(testing::Message() << c.name << " factor " << f);
    const qsizetype at = header.indexOf(QStringLiteral("mu%1").arg(f));
    double total = 0, m1 = 0, m2 = 0;
    for (qsizetype r = 1; r < lines.size(); ++r) {
      const QStringList cells = lines[r].split(',');
      const double w = cells[weightAt].toDouble();
      const double x = cells[at].toDouble();
      total += w;
      m1 += w * x;
      m2 += w * x * x;
    }
    EXPECT_NEAR(total, 1.0, 1e-9);
    const double mean = m1 / total;
    const double sd = std::sqrt(m2 / total - mean * mean);
    const auto [exactMean, exactSd] = ExactMoments(c.priors[f], c.observed[f], c.sigma / std::sqrt(c.n));
    EXPECT_NEAR(mean, exactMean, c.meanTolerance * exactSd);
    EXPECT_NEAR(sd, exactSd, c.sdTolerance * exactSd);
    std::fprintf(stderr, "%s factor %zu: mean %.4f (exact %.4f), sd %.4f (exact %.4f)\n", c.name, f, mean, exactMean,
                 sd, exactSd);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Abc, GaussianMean,
    testing::Values(TGaussianCase{"one_mean", {{-5, 5, false}}, {1.3}, 1.0, 10},
                    TGaussianCase{
                        "two_means_one_log", {{-5, 5, false}, {0.1, 10, true}}, {-0.7, 0.6}, 0.5, 4, 0.25, 0.25}),
    [](const testing::TestParamInfo<TGaussianCase>& info) { return std::string(info.param.name); });

// An interrupted calibration resumes after its last finished generation,
// draws what it would have drawn, and ends as one never interrupted.
TEST(Calibration, ResumesWithoutRedoingAFinishedGeneration) {
  const TGaussianCase c{"resume", {{-5, 5, false}}, {1.3}, 1.0, 10, 0, 0};
  QTemporaryDir dir;
  const TCalibrationSpec spec = GaussianSpec(c, 20, 600);
  int calls = 0;
  ASSERT_TRUE(Calibrate(dir.filePath(QStringLiteral("whole")), spec, GaussianModel(c, spec.Prior(), &calls)));
  const int wholeCalls = calls;
  ASSERT_GE(wholeCalls, 4);

  // Stopped in its third generation, after the candidates were written.
  int first = 0;
  const TSimulate model = GaussianModel(c, spec.Prior(), &first);
  const TSimulate failing = [&](const QString& folder, int32_t g, const std::vector<TCandidate>& cs) {
    if (g == 2) return TResult<std::vector<TOutcome>>(Failed(QStringLiteral("interrupted")));
    return model(folder, g, cs);
  };
  const QString cut = dir.filePath(QStringLiteral("cut"));
  EXPECT_FALSE(Calibrate(cut, spec, failing));
  EXPECT_EQ(first, 2);
  EXPECT_FALSE(QFileInfo::exists(cut + QStringLiteral("/posterior.csv")));
  int second = 0;
  ASSERT_TRUE(Calibrate(cut, spec, GaussianModel(c, spec.Prior(), &second)));
  EXPECT_EQ(second, wholeCalls - 2);  // generations 0 and 1 were not made again
  for (const char* name : {"posterior.csv", "generations.csv", "gen-002/state.json", "gen-002/candidates.csv"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(cut + '/' + name), ReadFile(dir.filePath(QStringLiteral("whole/")) + name));
  }
  // Another question in the same folder is refused, and so is a folder of other files.
  TCalibrationSpec other = spec;
  other.seed = 12;
  const TResult<TCalibrationEnd> refused = Calibrate(cut, other, model);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.Error().status, kExitRefused);
  QDir(dir.path()).mkpath(QStringLiteral("busy/x"));
  EXPECT_FALSE(Calibrate(dir.filePath(QStringLiteral("busy")), spec, model));
  // A budget below the first generation is refused before anything is made.
  other.budget = 10;
  EXPECT_FALSE(Calibrate(dir.filePath(QStringLiteral("small")), other, model));
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("small"))));
}

// --- NSGA-II ---

TEST(Nsga2, RanksAsADirectCountOfDominance) {
  // Rank 0 is exactly the points no other point dominates (each objective
  // no worse, one better); rank r the same once ranks below r are taken out.
  TAbcRandom random(21);
  std::vector<std::vector<double>> points;
  for (int i = 0; i < 60; ++i) points.push_back({std::round(10 * random.Uniform()), std::round(10 * random.Uniform())});
  TResult<const TNsgaEngine*> engine = LoadNsgaEngine();
  ASSERT_TRUE(engine) << engine.Error().message.toStdString();
  const TRanking ranking = RankAndCrowd(**engine, points);
  auto dominates = [](const std::vector<double>& a, const std::vector<double>& b) {
    return a[0] <= b[0] && a[1] <= b[1] && (a[0] < b[0] || a[1] < b[1]);
  };
  std::vector<bool> left(points.size(), true);
  for (size_t r = 0; std::count(left.begin(), left.end(), true) > 0; ++r) {
    std::vector<size_t> front;
    for (size_t i = 0; i < points.size(); ++i) {
      if (!left[i]) continue;
      bool dominated = false;
      for (size_t j = 0; j < points.size(); ++j) dominated = dominated || (left[j] && dominates(points[j], points[i]));
      if (!dominated) front.push_back(i);
    }
    for (const size_t i : front) {
      EXPECT_EQ(ranking.rank[i], r) << "point " << i;
      left[i] = false;
    }
  }
  // A front's two ends are infinitely far from the rest of it.
  size_t at = 0;
  for (size_t i = 1; i < points.size(); ++i) {
    if (ranking.rank[i] == 0 && (ranking.rank[at] != 0 || points[i][0] < points[at][0])) at = i;
  }
  EXPECT_TRUE(std::isinf(ranking.crowding[at]));
  EXPECT_EQ(Objectives(std::vector<double>{NAN, 4}, std::vector<double>{1, 1}, std::vector<double>{1, 2}),
            (std::vector<double>{kMissingObjective, 1.5}));
}

// Two objectives in two factors: m1 = x^2 + y^2 and m2 = (x - 1)^2 + y^2,
// both with target 0. Their Pareto set is y = 0, 0 <= x <= 1, where
// sqrt(m1) + sqrt(m2) = 1; off it the sum exceeds 1 (the triangle
// inequality), so the sum less 1 is how far a point lies from the front.
TSimulate QuadraticModel(const TPrior& prior, int* calls) {
  return [prior, calls](const QString&, int32_t, const std::vector<TCandidate>& candidates) {
    ++*calls;
    std::vector<TOutcome> outcomes;
    for (const TCandidate& c : candidates) {
      const double x = prior.Value(0, c.coordinates[0]);
      const double y = prior.Value(1, c.coordinates[1]);
      outcomes.push_back({{x * x + y * y, (x - 1) * (x - 1) + y * y}, {}});
    }
    return TResult<std::vector<TOutcome>>(outcomes);
  };
}

TCalibrationSpec QuadraticSpec(int32_t population, int32_t generations) {
  TCalibrationSpec spec;
  spec.method = TCalibrationMethod::kNsga2;
  spec.factors = {{QStringLiteral("x"), {-1, 2, false}, 1}, {QStringLiteral("y"), {-1, 1, false}, 1}};
  spec.measures = QStringList{QStringLiteral("m1"), QStringLiteral("m2")};
  spec.target = {0, 0};
  spec.targetSource = QStringLiteral("values");
  spec.model = QStringLiteral("quadratic");
  spec.population = population;
  spec.generations = generations;
  spec.budget = qint64{generations + 1} * population;
  spec.seed = 17;
  return spec;
}

// pareto.csv's rows of rank 0, each as its cells by column name.
std::vector<std::map<QString, double>> FrontRows(const QString& path) {
  const QStringList lines = QString::fromUtf8(ReadFile(path)).split('\n', Qt::SkipEmptyParts);
  const QStringList header = lines.value(0).split(',');
  std::vector<std::map<QString, double>> rows;
  for (qsizetype r = 1; r < lines.size(); ++r) {
    const QStringList cells = lines[r].split(',');
    std::map<QString, double> row;
    for (qsizetype c = 0; c + 1 < header.size(); ++c) row[header[c]] = cells[c].toDouble();
    if (row[QStringLiteral("rank")] == 0) rows.push_back(row);
  }
  return rows;
}

// 40 individuals over 40 generations. The front's members lie within 0.05
// of the known front (sqrt(m1) + sqrt(m2) - 1; 0.023 at worst with these
// seeds, 0.39 over the first population's front), and it spans the Pareto
// set: from x below 0.1 to x above 0.9, with no gap wider than 0.15 of x.
TEST(Nsga2, FindsTheKnownFrontOfAQuadratic) {
  QTemporaryDir dir;
  const TCalibrationSpec spec = QuadraticSpec(40, 40);
  int calls = 0;
  const TResult<TCalibrationEnd> end =
      Calibrate(dir.filePath(QStringLiteral("q")), spec, QuadraticModel(spec.Prior(), &calls));
  ASSERT_TRUE(end) << qPrintable(end.Error().message);
  EXPECT_EQ(end->generations, 41);
  EXPECT_EQ(end->runs, 41 * 40);
  EXPECT_EQ(calls, 41);  // each generation one batch
  const auto first = [&] {
    // The first population's front, for the scale of the improvement.
    const QString gen0 = dir.filePath(QStringLiteral("q0"));
    int c0 = 0;
    EXPECT_TRUE(Calibrate(gen0, QuadraticSpec(40, 0), QuadraticModel(spec.Prior(), &c0)));
    return FrontRows(gen0 + QStringLiteral("/pareto.csv"));
  }();
  const auto front = FrontRows(dir.filePath(QStringLiteral("q/pareto.csv")));
  ASSERT_GE(front.size(), 20u);
  auto gap = [](const std::map<QString, double>& r) {
    return std::sqrt(r.at(QStringLiteral("m1"))) + std::sqrt(r.at(QStringLiteral("m2"))) - 1;
  };
  double worst = 0, firstWorst = 0;
  std::vector<double> xs;
  for (const auto& r : front) {
    worst = std::max(worst, gap(r));
    xs.push_back(r.at(QStringLiteral("x")));
  }
  for (const auto& r : first) firstWorst = std::max(firstWorst, gap(r));
  std::sort(xs.begin(), xs.end());
  double widest = 0;
  for (size_t i = 1; i < xs.size(); ++i) widest = std::max(widest, xs[i] - xs[i - 1]);
  std::fprintf(stderr, "front of %zu: worst distance %.5f (first population's %.4f), x %.3f..%.3f, widest gap %.3f\n",
               front.size(), worst, firstWorst, xs.front(), xs.back(), widest);
  EXPECT_LT(worst, 0.05);
  EXPECT_GT(firstWorst, 5 * worst);
  EXPECT_LT(xs.front(), 0.1);
  EXPECT_GT(xs.back(), 0.9);
  EXPECT_LT(widest, 0.15);
  EXPECT_FALSE(QImage(dir.filePath(QStringLiteral("q/front.png"))).isNull());
}

// Cut off in its third generation's batch, resumed: the same populations,
// the same front, and the finished generations not made again.
TEST(Nsga2, ResumesAsAnUninterruptedCalibration) {
  QTemporaryDir dir;
  const TCalibrationSpec spec = QuadraticSpec(8, 5);
  int calls = 0;
  ASSERT_TRUE(Calibrate(dir.filePath(QStringLiteral("whole")), spec, QuadraticModel(spec.Prior(), &calls)));
  ASSERT_EQ(calls, 6);
  int first = 0;
  const TSimulate model = QuadraticModel(spec.Prior(), &first);
  const TSimulate failing = [&](const QString& folder, int32_t g, const std::vector<TCandidate>& cs) {
    if (g == 2) return TResult<std::vector<TOutcome>>(Failed(QStringLiteral("interrupted")));
    return model(folder, g, cs);
  };
  const QString cut = dir.filePath(QStringLiteral("cut"));
  const TResult<TCalibrationEnd> stopped = Calibrate(cut, spec, failing);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.Error().message, QStringLiteral("interrupted"));
  EXPECT_EQ(first, 2);
  EXPECT_TRUE(QFileInfo::exists(cut + QStringLiteral("/gen-002/candidates.csv")));
  EXPECT_FALSE(QFileInfo::exists(cut + QStringLiteral("/gen-002/state.json")));
  EXPECT_FALSE(QFileInfo::exists(cut + QStringLiteral("/pareto.csv")));
  int second = 0;
  ASSERT_TRUE(Calibrate(cut, spec, QuadraticModel(spec.Prior(), &second)));
  EXPECT_EQ(second, 4);  // generations 2 to 5
  for (const char* name :
       {"pareto.csv", "generations.csv", "calibration.json", "gen-002/candidates.csv", "gen-005/state.json"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(cut + '/' + name), ReadFile(dir.filePath(QStringLiteral("whole/")) + name));
  }
  // Another seed draws other individuals, and is refused in the same folder.
  TCalibrationSpec other = spec;
  other.seed = 18;
  EXPECT_EQ(Calibrate(cut, other, model).Error().status, kExitRefused);
  const QString apart = dir.filePath(QStringLiteral("other"));
  ASSERT_TRUE(Calibrate(apart, other, model));
  EXPECT_NE(ReadFile(apart + QStringLiteral("/gen-001/candidates.csv")),
            ReadFile(cut + QStringLiteral("/gen-001/candidates.csv")));
  // What NSGA-II cannot take is refused before anything is made.
  for (auto [population, measures] : {std::pair{10, 2}, std::pair{4, 2}, std::pair{8, 1}}) {
    TCalibrationSpec bad = spec;
    bad.population = population;
    bad.measures = bad.measures.mid(0, measures);
    bad.target.resize(static_cast<size_t>(measures));
    const QString where = dir.filePath(QStringLiteral("bad"));
    EXPECT_EQ(Calibrate(where, bad, model).Error().status, kExitRefused) << population << " " << measures;
    EXPECT_FALSE(QFileInfo::exists(where));
  }
}

// --- a tiny calibration of the model ---

TEST(CalibrateCommand, RunsResumesAndVerifies) {
  QTemporaryDir dir;
  const QString a = dir.filePath(QStringLiteral("a"));
  const QStringList question{"--range",
                             "sniff-threshold=10:90",
                             "--range",
                             "mark-strength=5:100:log",
                             "--target",
                             "trip_rate=3",
                             "--target",
                             "mean_angle=40",
                             "--steps",
                             "300",
                             "--agents",
                             "30",
                             "--particles",
                             "3",
                             "--budget",
                             "9",
                             "--calibration-seed",
                             "5"};
  const auto made = RunProgram(QStringList{"--calibrate", a} + question);
  ASSERT_EQ(made.status, 0) << qPrintable(made.err);
  // 6 runs in generation 0; the 3 of the posterior predictive fill the
  // budget of 9, and leave no room for generation 1.
  const QStringList gens = QString::fromUtf8(ReadFile(a + "/generations.csv")).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(gens.size(), 2) << qPrintable(gens.join('\n'));
  EXPECT_TRUE(gens[1].startsWith(QStringLiteral("0,6,6,6,"))) << qPrintable(gens[1]);
  EXPECT_TRUE(made.err.contains(QStringLiteral("calibrated in 1 generations and 9 runs"))) << qPrintable(made.err);
  EXPECT_EQ(QString::fromUtf8(ReadFile(a + "/predictive.csv")).count('\n'), 4);
  for (const char* figure : {"pairs.png", "schedule.png", "predictive.png"}) {
    EXPECT_FALSE(QImage(a + '/' + figure).isNull()) << figure;
  }
  const QByteArray posterior = ReadFile(a + "/posterior.csv");
  const QStringList rows = QString::fromUtf8(posterior).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 4);
  EXPECT_TRUE(
      rows[0].startsWith(QStringLiteral("generation,particle,sniff-threshold,sniff-threshold_run,mark-strength,")));
  // Every particle names its run, and the run holds the values the table gives.
  for (qsizetype r = 1; r < rows.size(); ++r) {
    const QString folder = rows[r].split(',').back();
    const QByteArray record = ReadFile(a + '/' + folder + "/run.json");
    ASSERT_FALSE(record.isEmpty()) << qPrintable(folder);
    const double threshold = rows[r].split(',')[3].toDouble();
    EXPECT_TRUE(record.contains(QStringLiteral("\"sniff_threshold\": %1").arg(threshold).toUtf8()))
        << qPrintable(folder);
  }

  // Resumed from the folder alone after it was cut off before its
  // generation was kept: the generation is drawn again from the seed, the
  // same candidates, and its sweep keeps the runs it had made (pytest
  // replays a whole calibration in another folder).
  const QDateTime before =
      QFileInfo(QDir(a + "/gen-000/runs").entryInfoList({"run-0001-*"}).front().filePath() + "/run.json")
          .lastModified();
  ASSERT_TRUE(QFile::remove(a + "/gen-000/state.json"));
  QFile::remove(a + "/posterior.csv");
  const auto resumed = RunProgram(QStringList{"--calibrate", a});
  ASSERT_EQ(resumed.status, 0) << qPrintable(resumed.err);
  EXPECT_EQ(ReadFile(a + "/posterior.csv"), posterior);
  EXPECT_EQ(QFileInfo(QDir(a + "/gen-000/runs").entryInfoList({"run-0001-*"}).front().filePath() + "/run.json")
                .lastModified(),
            before);

  // Every run behind it verifies; a changed one is found.
  const auto verified = RunProgram({"--verify", a, "--repeat", "1"});
  EXPECT_EQ(verified.status, 0) << qPrintable(verified.err);
  const QString series = QDir(a + "/predictive/runs").entryInfoList({"run-*"}).front().filePath() + "/series.csv";
  QFile file(series);
  ASSERT_TRUE(file.open(QIODevice::Append));
  file.write("0\n");
  file.close();
  EXPECT_EQ(RunProgram({"--verify", a, "--repeat", "0"}).status, 1);

  // Refusals, each in one line with status 2.
  for (const QStringList& bad :
       {QStringList{"--calibrate", dir.filePath("c"), "--range", "sniff-threshold=0:1"},
        QStringList{"--calibrate", dir.filePath("c")},
        QStringList{"--calibrate", dir.filePath("c"), "--range", "sniff-threshold=10:90", "--target", "speed=3",
                    "--budget", "10"},
        QStringList{"--grid", "--design", "lhs", "--samples", "2", "--range", "mark-strength=5:100:log"},
        // Each method's own options are refused for the other.
        QStringList{"--calibrate", dir.filePath("c"), "--method", "nsga2", "--particles", "3"},
        QStringList{"--calibrate", dir.filePath("c"), "--population", "8"},
        QStringList{"--calibrate", dir.filePath("c"), "--method", "abc", "--generations", "2"},
        QStringList{"--calibrate", dir.filePath("c"), "--method", "nsga", "--budget", "10"},
        QStringList{"--calibrate", dir.filePath("c"), "--method", "nsga2", "--population", "10"},
        QStringList{"--calibrate", dir.filePath("c"), "--method", "nsga2", "--range", "sniff-threshold=10:90",
                    "--target", "trip_rate=3"},
        QStringList{"--calibrate", dir.filePath("c"), "--method", "nsga2", "--range", "sniff-threshold=10:90",
                    "--target", "trip_rate=3", "--generations", "2"},
        QStringList{"--calibrate", a, "--method", "nsga2"}}) {
    const auto r = RunProgram(bad);
    EXPECT_EQ(r.status, 2) << qPrintable(bad.join(' '));
    EXPECT_EQ(r.err.count('\n'), 1) << qPrintable(r.err);
  }
}

// NSGA-II through pathwick_run and pathwick_sweep: 8 individuals, one
// generation after the first, each a run that verifies.
TEST(CalibrateCommand, Nsga2RunsAndVerifies) {
  QTemporaryDir dir;
  const QString n = dir.filePath(QStringLiteral("n"));
  const auto made = RunProgram({"--calibrate",
                                n,
                                "--method",
                                "nsga2",
                                "--range",
                                "sniff-threshold=10:90",
                                "--range",
                                "mark-strength=5:100:log",
                                "--target",
                                "trip_rate=3",
                                "--target",
                                "mean_angle=40",
                                "--steps",
                                "200",
                                "--agents",
                                "30",
                                "--population",
                                "8",
                                "--generations",
                                "1",
                                "--calibration-seed",
                                "5"});
  ASSERT_EQ(made.status, 0) << qPrintable(made.err);
  EXPECT_TRUE(made.err.contains(QStringLiteral("calibrated in 2 generations and 16 runs"))) << qPrintable(made.err);
  EXPECT_FALSE(QImage(n + "/front.png").isNull());
  const QStringList rows = QString::fromUtf8(ReadFile(n + "/pareto.csv")).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(rows.size(), 9);
  const QStringList header = rows[0].split(',');
  EXPECT_EQ(header.mid(6, 4), (QStringList{"distance_trip_rate", "distance_mean_angle", "rank", "crowding"}));
  EXPECT_EQ(rows[1].split(',')[8], QStringLiteral("0"));  // the front first
  for (qsizetype r = 1; r < rows.size(); ++r) {
    const QStringList cells = rows[r].split(',');
    const QByteArray record = ReadFile(n + '/' + cells.back() + "/run.json");
    ASSERT_FALSE(record.isEmpty()) << qPrintable(cells.back());
    EXPECT_TRUE(record.contains(QStringLiteral("\"sniff_threshold\": %1").arg(cells[3]).toUtf8()));
  }
  EXPECT_EQ(QDir(n + "/gen-001/runs").entryList({"run-*"}).size(), 8);
  EXPECT_EQ(RunProgram({"--verify", n, "--repeat", "1"}).status, 0);

  // A program without NSGA-II's module beside it says so and makes nothing.
  const QString alone = dir.filePath(QStringLiteral("bin/pathwick_run"));
  ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("bin"))));
  ASSERT_TRUE(QFile::copy(QStringLiteral(PATHWICK_RUN), alone));
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("PATHWICK_SWEEP"),
                     QFileInfo(QStringLiteral(PATHWICK_RUN)).dir().filePath(QStringLiteral("pathwick_sweep")));
  process.setProcessEnvironment(environment);
  process.start(
      alone, {"--calibrate", dir.filePath(QStringLiteral("m")), "--method", "nsga2", "--range", "sniff-threshold=10:90",
              "--target", "trip_rate=3", "--target", "mean_angle=40", "--generations", "1"});
  ASSERT_TRUE(process.waitForFinished(60000));
  const runner_test::Finished lacking = runner_test::Collect(process);
  EXPECT_EQ(lacking.status, kExitFailed);
  EXPECT_TRUE(lacking.err.contains(QStringLiteral("NSGA-II cannot be loaded"))) << qPrintable(lacking.err);
  EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("m"))));
}

}  // namespace
