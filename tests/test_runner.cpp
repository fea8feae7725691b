// pathwick_run: its samples are the window's chart points under the seed
// rule, its files repeat byte for byte, it refuses bad command lines before
// writing anything, and an interrupted run keeps what it sampled.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLineSeries>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <tuple>

#include "CellForm.h"
#include "Experiment.h"
#include "Runtime.h"
#include "Verify.h"
#include "agents_support.h"

namespace {

// What the run's steps produced, taken beside the run by watching the agents:
// a child is born at the turn of an agent that starts the step exhausted, and
// a trip is a trip count that grows.
struct TWatched {
  int64_t trips = 0;
  int64_t births = 0;
};

void StepWatched(TForm1& form, TWatched& watched) {
  std::vector<int32_t> tripsBefore;
  for (const TAgent& a : form.agents) {
    tripsBefore.push_back(a.energy <= 0 ? -1 : a.tripCount);
    watched.births += a.energy <= 0 ? 1 : 0;
  }
  form.DoStep();
  for (size_t i = 0; i < form.agents.size(); ++i) {
    if (tripsBefore[i] >= 0) watched.trips += form.agents[i].tripCount - tripsBefore[i];
  }
}

struct WindowCase {
  const char* name;
  int cellSize, agents, steps;
  bool roulette, knowsCenter, diffuse;
  int evaporation;
  uint32_t seed;
};

class RunnerAgainstWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(RunnerAgainstWindow, SamplesAreTheChartPointsAndTotalsCountEveryTripAndBirth) {
  const WindowCase& c = GetParam();
  agents_test::MessageCollector messages;
  // The window, set up by hand with the seed rule written out here.
  SetGeneratorStartState();
  auto window = std::make_unique<TForm1>();
  window->Timer1->stop();
  const TSettingValues settings = agents_test::Changed(ReadSettings(*window), {{"cell-size", c.cellSize},
                                                                               {"agents", c.agents},
                                                                               {"sniff", c.roulette},
                                                                               {"knows-center", c.knowsCenter},
                                                                               {"diffuse", c.diffuse},
                                                                               {"evaporation-rate", c.evaporation}});
  uint32_t k = 0;
  SetRandomizeSource([&] { return c.seed + ++k * 2654435761u; });
  RandSeed = c.seed;
  SetUpWorld(*window, settings);
  std::vector<TWatched> watchedAt;  // totals after each hundred steps
  TWatched watched;
  for (int i = 0; i < c.steps; ++i) {
    if (i % 100 == 0) watchedAt.push_back(watched);
    StepWatched(*window, watched);
  }
  SetRandomizeSource({});
  const std::vector<TAgent> windowAgents = window->agents;
  const QList<QPointF> angles = angleSeries->points();
  const QList<QPointF> wiggles = wiggleSeries->points();
  window.reset();

  // The runner, on a window of its own.
  auto form = std::make_unique<TForm1>();
  TRunPlan plan;
  plan.settings = settings;
  plan.seed = c.seed;
  plan.steps = c.steps;
  std::vector<TSample> samples;
  TRunObserver observer;
  observer.sample = [&](const TSample& s) {
    samples.push_back(s);
    return Success();
  };
  const TResult<TRunOutcome> outcome = RunExperiment(*form, plan, observer);

  ASSERT_TRUE(outcome.Ok()) << outcome.Error().message.toStdString();
  EXPECT_EQ(outcome->endStep, c.steps);
  EXPECT_FALSE(outcome->interrupted);
  ASSERT_EQ(samples.size(), static_cast<size_t>(angles.size()));
  ASSERT_EQ(samples.size(), static_cast<size_t>((c.steps + 99) / 100));
  for (size_t i = 0; i < samples.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(samples[i].step, static_cast<int32_t>(i) * 100);
    EXPECT_EQ(samples[i].step, angles[i].x());
    EXPECT_EQ(samples[i].avgAngle, angles[i].y());
    EXPECT_EQ(samples[i].avgWiggle, wiggles[i].y());
    EXPECT_EQ(samples[i].tripsTotal, watchedAt[i].trips);
    EXPECT_EQ(samples[i].birthsTotal, watchedAt[i].births);
    EXPECT_EQ(samples[i].trips, watchedAt[i].trips - (i > 0 ? watchedAt[i - 1].trips : 0));
  }
  EXPECT_GT(samples.back().tripsTotal, 0) << "the run is long enough for trips";
  EXPECT_GT(samples.back().birthsTotal, 0) << "and for births";
  ASSERT_EQ(form->agents.size(), windowAgents.size());
  for (size_t i = 0; i < windowAgents.size(); ++i) {
    EXPECT_EQ(form->agents[i].chroma, windowAgents[i].chroma);
    EXPECT_EQ(form->agents[i].cellX, windowAgents[i].cellX);
    EXPECT_EQ(form->agents[i].energy, windowAgents[i].energy);
  }
  EXPECT_TRUE(messages.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Worlds, RunnerAgainstWindow,
                         ::testing::Values(WindowCase{"default", 6, 200, 1500, false, false, false, 50, 7},
                                           WindowCase{"roulette_centre", 3, 400, 1200, true, true, false, 30, 99},
                                           WindowCase{"diffuse", 8, 150, 1100, false, false, true, 20, 4000000000u}),
                         [](const auto& info) { return std::string(info.param.name); });

// An observer that fails ends the run after the step it failed in, with the
// first failure, and leaves the world unhooked.
TEST(RunExperiment, EndsAfterTheStepOfTheFirstFailureOfAnObserver) {
  agents_test::MessageCollector messages;
  auto form = std::make_unique<TForm1>();
  TRunPlan plan;
  plan.settings = ReadSettings(*form);
  plan.seed = 5;
  plan.steps = 1000;
  plan.histograms = true;
  plan.snapshotEvery = 200;
  plan.checkpointEvery = 250;
  const auto from = [](int32_t step, int32_t failing, const char* what) {
    return step >= failing ? TStatus(Failed(QLatin1String(what))) : Success();
  };
  const auto sample = [&](const TSample& s) { return from(s.step, 300, "sample"); };
  const auto checkpoint = [&](const TForm1&, const TCheckpointRule&) { return from(stepCount, 250, "checkpoint"); };
  const std::tuple<const char*, TRunObserver, int32_t> table[] = {
      // The sample of step 300 is taken inside step 301, before the agents move.
      {"sample", {.sample = sample}, 301},
      {"histogram",
       {.histogram = [&](int32_t step, const TGeneHistogram&) { return from(step, 400, "histogram"); }},
       401},
      {"picture", {.picture = [&](int32_t step, const QImage&, bool) { return from(step, 600, "picture"); }}, 600},
      {"checkpoint", {.sample = sample, .checkpoint = checkpoint}, 250},
  };
  for (const auto& [name, observer, endsAt] : table) {
    SCOPED_TRACE(name);
    const TResult<TRunOutcome> outcome = RunExperiment(*form, plan, observer);
    ASSERT_FALSE(outcome.Ok());
    EXPECT_EQ(outcome.Error().message, QLatin1String(name));
    EXPECT_EQ(outcome.Error().status, kExitFailed);
    EXPECT_EQ(stepCount, endsAt);
    EXPECT_FALSE(form->onSample);
  }
  EXPECT_TRUE(messages.messages.empty());
}

// --- The program itself ---

using runner_test::Finished;
using runner_test::RunProgram;
const auto Read = runner_test::ReadFile;

using runner_test::Record;

TEST(RunnerProgram, SameSeedGivesIdenticalFilesAndTheRecordRepeatsTheRun) {
  QTemporaryDir tmp;
  const QStringList run{"--seed",      "11", "--steps", "1500",     "--agents",           "300",
                        "--cell-size", "4",  "--sniff", "roulette", "--evaporation-rate", "0.3",
                        "--histograms"};
  ASSERT_EQ(RunProgram(run + QStringList{"--out", tmp.filePath("a")}).status, 0);
  ASSERT_EQ(RunProgram(run + QStringList{"--out", tmp.filePath("b") + "/"}).status, 0) << "a folder written as b/";
  ASSERT_EQ(RunProgram({"--config", tmp.filePath("a/run.json"), "--out", tmp.filePath("c")}).status, 0);
  const Finished toStdout = RunProgram(run.mid(0, run.size() - 1));
  ASSERT_EQ(toStdout.status, 0);
  // A header, then 15 samples: one row each in the series, one per gene in the histograms.
  for (const auto& [file, lines] : {std::pair{"series.csv", 16}, std::pair{"genes_hist.csv", 31}}) {
    const QByteArray a = Read(tmp.filePath("a/") + file);
    EXPECT_EQ(a.count('\n'), lines) << file;
    EXPECT_EQ(a, Read(tmp.filePath("b/") + file)) << file;
    EXPECT_EQ(a, Read(tmp.filePath("c/") + file)) << file;
  }
  EXPECT_EQ(toStdout.out.toUtf8(), Read(tmp.filePath("a/series.csv")));
  EXPECT_TRUE(toStdout.err.isEmpty()) << "quiet on success: " << toStdout.err.toStdString();
  const QJsonObject record = Record(tmp.filePath("a"));
  EXPECT_EQ(record["seed"].toInteger(), 11);
  EXPECT_EQ(record["steps_done"].toInt(), 1500);
  EXPECT_EQ(record["ended"].toString(), "completed");
  EXPECT_EQ(record["settings"].toObject()["evaporation_rate"].toDouble(), 0.3);
  EXPECT_EQ(record["settings"].toObject()["sniff"].toString(), "roulette");
  EXPECT_EQ(Record(tmp.filePath("c"))["settings"], record["settings"]);
  // Another seed, other homes, another series.
  ASSERT_EQ(RunProgram({"--seed", "12", "--steps", "1500", "--agents", "300", "--cell-size", "4", "--sniff", "roulette",
                        "--evaporation-rate", "0.3", "--out", tmp.filePath("d")})
                .status,
            0);
  EXPECT_NE(Read(tmp.filePath("a/series.csv")), Read(tmp.filePath("d/series.csv")));
  // Nothing is left beside the run folders.
  EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({"a", "b", "c", "d"}));
}

struct Refused {
  QStringList arguments;  // OUT stands for the run folder
  const char* names;      // what the message must mention
};

TEST(RunnerProgram, RefusedCommandLinesExitWithStatus2AndWriteNothing) {
  const Refused table[] = {
      {{"--bogus", "--out", "OUT"}, "bogus"},
      {{"--agents", "many", "--out", "OUT"}, "--agents"},
      {{"--agents", "1000001", "--out", "OUT"}, "0 to 1000000"},
      {{"--cell-size", "0", "--out", "OUT"}, "--cell-size"},
      {{"--cell-size", "11", "--out", "OUT"}, "1 to 10"},
      {{"--sniff", "uphill", "--out", "OUT"}, "hill or roulette"},
      {{"--mutation-rate", "0.015", "--out", "OUT"}, "steps of 0.01"},
      {{"--evaporation-rate", "1.01", "--out", "OUT"}, "--evaporation-rate"},
      {{"--evaporation-rate", "-0.1", "--out", "OUT"}, "--evaporation-rate"},
      {{"--mark-strength", "101", "--out", "OUT"}, "--mark-strength"},
      {{"--sniff-threshold", "1e2", "--out", "OUT"}, "--sniff-threshold"},
      {{"--visibility-threshold", "501", "--out", "OUT"}, "0 to 500"},
      {{"--steps", "0", "--out", "OUT"}, "--steps"},
      {{"--seed", "4294967296", "--out", "OUT"}, "--seed"},
      {{"--steps", "10", "--steps", "20", "--out", "OUT"}, "more than once"},
      {{"--knows-center=yes", "--out", "OUT"}, "knows-center"},
      {{"--diffuse", "extra", "--out", "OUT"}, "extra"},
      {{"--plot"}, "--out"},
      {{"--config", "OUT/none.json", "--out", "OUT"}, "--config"},
      {{"--vary", "sniff=hill", "--out", "OUT"}, "--grid"},
      {{"--grid", "--vary", "speed=1,2"}, "--vary"},
      {{"--job", "--steps 5 --out elsewhere", "--out", "OUT"}, "--out"},
      {{"--picture-scale", "9", "--plot", "--out", "OUT"}, "1 to 8"},
      {{"--agents-every", "150", "--out", "OUT"}, "multiple of 100"},
      {{"--field-every", "250", "--out", "OUT"}, "--field-every takes a multiple of 100"},
      {{"--field-every", "100"}, "--field-every writes a file: give --out DIR"},
      {{"--births"}, "--out"},
      {{"--checkpoint-every", "100", "--keep-checkpoints"}, "--out"},
      {{"--keep-checkpoints", "--out", "OUT"}, "--checkpoint-every"},
      {{"--video", "v.avi", "--out", "OUT"}, ".mp4"},
      {{"--video", "sub/v.mp4", "--out", "OUT"}, "file name"},
      {{"--video-every", "5", "--out", "OUT"}, "--video"},
      {{"--video", "v.mp4", "--video-every", "50", "--steps", "20", "--out", "OUT"}, "no frame"},
  };
  for (const Refused& r : table) {
    SCOPED_TRACE(r.arguments.join(' ').toStdString());
    QTemporaryDir tmp;
    QStringList arguments = r.arguments;
    arguments.replaceInStrings("OUT", tmp.filePath("run"));
    const Finished f = RunProgram(arguments);
    EXPECT_EQ(f.status, 2);
    EXPECT_TRUE(f.err.startsWith("pathwick_run: ")) << f.err.toStdString();
    EXPECT_TRUE(f.err.contains(r.names)) << f.err.toStdString();
    EXPECT_EQ(f.err.count('\n'), 1) << "one line";
    EXPECT_TRUE(f.out.isEmpty());
    EXPECT_TRUE(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) << "wrote nothing";
  }
  // A folder that holds a run, or anything else, is left as it is.
  QTemporaryDir tmp;
  ASSERT_EQ(RunProgram({"--seed", "1", "--steps", "200", "--out", tmp.filePath("run")}).status, 0);
  const QByteArray before = Read(tmp.filePath("run/series.csv"));
  QDir().mkpath(tmp.filePath("other"));
  QFile(tmp.filePath("other/notes.txt")).open(QIODevice::WriteOnly);
  for (const QStringList& arguments : {QStringList{"--seed", "2", "--steps", "300", "--out", tmp.filePath("run")},
                                       QStringList{"--steps", "300", "--force", "--out", tmp.filePath("other")}}) {
    const Finished f = RunProgram(arguments);
    EXPECT_EQ(f.status, 2) << f.err.toStdString();
  }
  EXPECT_EQ(Read(tmp.filePath("run/series.csv")), before);
  EXPECT_EQ(QDir(tmp.filePath("other")).entryList(QDir::Files), QStringList{"notes.txt"});
  ASSERT_EQ(RunProgram({"--seed", "2", "--steps", "300", "--force", "--out", tmp.filePath("run")}).status, 0);
  EXPECT_EQ(Record(tmp.filePath("run"))["seed"].toInt(), 2) << "--force replaces the run";
}

// pathwick_run with its files limited to `bytes` each: a write beyond fails
// as on a full disk.
Finished RunWithFilesUpTo(rlim_t bytes, const QStringList& arguments) {
  QProcess process;
  process.setChildProcessModifier([bytes] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  process.start(QStringLiteral(PATHWICK_RUN), arguments);
  process.waitForFinished(120000);
  return runner_test::Collect(process);
}

struct Unwritable {
  QStringList arguments;
  rlim_t bytes;       // below the size of the one file that cannot be written
  const char* names;  // what the message must mention
};

TEST(RunnerProgram, AFileThatCannotBeWrittenFailsTheRunWithStatus1AndLeavesNothing) {
  // Each limit lets every file of its run through but one (series.csv of
  // 1000 steps is about 4.6 kB, a snapshot 5.9 kB, a checkpoint 125 kB, the field at two samples 22 kB).
  const Unwritable table[] = {
      {{}, 4000, "the data could not be written"},
      {{"--histograms"}, 8000, "the data could not be written"},
      {{"--snapshot-every", "1000"}, 5000, "step-0001000.png"},
      {{"--checkpoint-every", "500"}, 65536, "checkpoint.pwk"},
      {{"--plot"}, 20000, "genes.png"},
      {{"--agents-every", "500"}, 6000, "agents.csv.gz"},
      {{"--field-every", "500"}, 6000, "field.csv.gz"},
  };
  for (const Unwritable& u : table) {
    SCOPED_TRACE(u.arguments.join(' ').toStdString());
    QTemporaryDir tmp;
    const Finished f = RunWithFilesUpTo(
        u.bytes, QStringList{"--seed", "3", "--steps", "1000", "--quiet", "--out", tmp.filePath("run")} + u.arguments);
    EXPECT_EQ(f.status, 1);
    EXPECT_TRUE(f.err.startsWith("pathwick_run: ")) << f.err.toStdString();
    EXPECT_TRUE(f.err.contains(u.names)) << f.err.toStdString();
    EXPECT_EQ(f.err.count('\n'), 1) << "one line";
    EXPECT_TRUE(QDir(tmp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) << "left nothing";
  }
}

TEST(RunnerProgram, ASummaryTableThatCannotBeWrittenWhollyIsNotPutInPlace) {
  QTemporaryDir tmp;
  ASSERT_EQ(RunProgram({"--seed", "3", "--steps", "1000", "--out", tmp.filePath("s/a")}).status, 0);
  const qint64 whole = [&] {
    EXPECT_EQ(RunProgram({"--summarize", tmp.filePath("s")}).status, 0);
    const qint64 size = QFileInfo(tmp.filePath("s/samples.csv")).size();
    QFile::remove(tmp.filePath("s/samples.csv"));
    return size;
  }();
  ASSERT_GT(whole, 200);
  // The table's tail stays in the buffer until the file is put in place.
  const Finished f = RunWithFilesUpTo(static_cast<rlim_t>(whole - 100), {"--summarize", tmp.filePath("s")});
  EXPECT_EQ(f.status, 1) << f.err.toStdString();
  EXPECT_TRUE(f.err.contains("samples.csv")) << f.err.toStdString();
  EXPECT_FALSE(QFile::exists(tmp.filePath("s/samples.csv"))) << "a table cut short was put in place";
}

TEST(RunnerProgram, InterruptedRunKeepsItsSamplesAndACheckpointThatContinuesIt) {
  QTemporaryDir tmp;
  const QStringList run{"--seed", "21", "--agents", "50", "--plot"};
  const Finished interrupted = runner_test::RunInterrupted(
      run + QStringList{"--checkpoint-every", "1000000000", "--out", tmp.filePath("r")}, tmp.path(), 300);
  EXPECT_EQ(interrupted.status, 0) << interrupted.err.toStdString();
  const QJsonObject record = Record(tmp.filePath("r"));
  EXPECT_EQ(record["ended"].toString(), "interrupted");
  const int done = record["steps_done"].toInt();
  ASSERT_GT(done, 0);
  EXPECT_EQ(record["samples"].toInt(), (done + 99) / 100);
  EXPECT_TRUE(QFile::exists(tmp.filePath("r/final.png")));
  // Repeated from its record, it stops at the same step the same way: every file the same.
  const Finished verified = RunProgram({"--verify", tmp.filePath("r")});
  EXPECT_EQ(verified.status, 0) << verified.err.toStdString();
  // Its samples and its continuation are those of a run that never stopped.
  ASSERT_EQ(
      RunProgram({"--from", tmp.filePath("r/checkpoint.pwk"), "--steps", "300", "--out", tmp.filePath("c")}).status, 0);
  ASSERT_EQ(
      RunProgram(run + QStringList{"--steps", QString::number(done + 300), "--out", tmp.filePath("whole")}).status, 0);
  const QByteArray continued = Read(tmp.filePath("c/series.csv"));
  EXPECT_EQ(Read(tmp.filePath("r/series.csv")) + continued.mid(continued.indexOf('\n') + 1),
            Read(tmp.filePath("whole/series.csv")));
}

// The sample of a sweep's runs to repeat: the asked number, in the runs'
// order, the same each time, and a larger sample holds every smaller one.
TEST(VerifySweep, TheRepeatedSampleIsReproducibleAndGrowsByAddingRuns) {
  QStringList runs;
  for (int i = 1; i <= 200; ++i) runs << QStringLiteral("run-%1-seed-%2").arg(i, 4, 10, QLatin1Char('0')).arg(i);
  QStringList smaller;
  for (int32_t count : {0, 1, 3, 50, 199}) {
    const QStringList chosen = ChooseRepeated(runs, count);
    ASSERT_EQ(chosen.size(), count);
    EXPECT_EQ(chosen, ChooseRepeated(runs, count));
    qsizetype last = -1;
    for (const QString& name : chosen) {
      const qsizetype at = runs.indexOf(name);
      EXPECT_GT(at, last) << "in the runs' order, each once: " << name.toStdString();
      last = at;
    }
    for (const QString& name : smaller) EXPECT_TRUE(chosen.contains(name)) << count << " lacks " << name.toStdString();
    smaller = chosen;
  }
  EXPECT_EQ(ChooseRepeated(runs, kRepeatAll), runs);
  EXPECT_EQ(ChooseRepeated(runs, 500), runs);
  // Not simply the first runs by name.
  EXPECT_NE(ChooseRepeated(runs, 3), runs.mid(0, 3));
}

// --verify of a folder of runs: 0 when every run is intact, 1 naming the run
// and file once a byte changes (or a record is lost, or a record no longer
// repeats its files), 2 for a folder that holds no run.
struct SweepDamage {
  const char* name;
  std::function<bool(const QString& sweep)> damage;
  QStringList options;
  int status;
  const char* run;   // the run standard error names first, with
  const char* file;  // what it says of the file
};

TEST(VerifySweep, ChecksEveryRunsFilesAndRepeatsASample) {
  QTemporaryDir tmp;
  const QString pristine = tmp.filePath("pristine");
  for (int seed = 1; seed <= 4; ++seed) {
    ASSERT_EQ(RunProgram({"--seed", QString::number(seed), "--steps", "200", "--agents", "40", "--histograms",
                          "--quiet", "--out", QStringLiteral("%1/run-%2").arg(pristine).arg(seed)})
                  .status,
              0);
  }
  const auto flipByte = [](const QString& file) {
    QByteArray bytes = Read(file);
    if (bytes.size() < 10) return false;
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    return runner_test::WriteFile(file, bytes, QIODevice::WriteOnly | QIODevice::Truncate);
  };
  const SweepDamage table[] = {
      {"intact, two repeated", [](const QString&) { return true; }, {"--repeat", "2"}, 0, "", ""},
      {"intact, files only", [](const QString&) { return true; }, {"--repeat", "0"}, 0, "", ""},
      {"a byte of a series",
       [&](const QString& s) { return flipByte(s + "/run-3/series.csv"); },
       {},
       1,
       "run-3",
       "series.csv differs in"},
      {"a byte of a histogram, files only",
       [&](const QString& s) { return flipByte(s + "/run-2/genes_hist.csv"); },
       {"--repeat", "0"},
       1,
       "run-2",
       "genes_hist.csv differs in"},
      {"a file cut short",
       [](const QString& s) { return QFile::resize(s + "/run-4/series.csv", 10); },
       {},
       1,
       "run-4",
       "series.csv differs in"},
      {"a lost record",
       [](const QString& s) { return QFile::remove(s + "/run-1/run.json"); },
       {},
       1,
       "run-1",
       "has no run.json"},
      {"a record that no longer repeats its files",
       [](const QString& s) {
         QByteArray json = Read(s + "/run-2/run.json");
         const qsizetype before = json.size();
         json.replace("\"seed\": 2,", "\"seed\": 7,");
         return json.size() == before &&
                runner_test::WriteFile(s + "/run-2/run.json", json, QIODevice::WriteOnly | QIODevice::Truncate);
       },
       {"--repeat", "all"},
       1,
       "run-2",
       "differs when repeated"},
      {"no run at all",
       [](const QString& s) { return QDir(s).removeRecursively() && QDir().mkpath(s + "/notes"); },
       {},
       2,
       "",
       "holds no run"},
      {"a repeat count that is none",
       [](const QString&) { return true; },
       {"--repeat", "some"},
       2,
       "",
       "--repeat takes a whole number from 0 to 2147483647, or all, not 'some'"},
  };
  for (const SweepDamage& c : table) {
    SCOPED_TRACE(c.name);
    const QString sweep = tmp.filePath("case");
    QDir(sweep).removeRecursively();
    std::filesystem::copy(pristine.toStdString(), sweep.toStdString(), std::filesystem::copy_options::recursive);
    ASSERT_TRUE(c.damage(sweep));
    const Finished f = RunProgram(QStringList{"--verify", sweep} + c.options);
    EXPECT_EQ(f.status, c.status) << f.err.toStdString() << f.out.toStdString();
    if (c.status == 0) {
      EXPECT_TRUE(f.err.isEmpty()) << f.err.toStdString();
    } else {
      EXPECT_TRUE(f.err.startsWith(
          QStringLiteral("pathwick_run: %1").arg(*c.run ? QString::fromLatin1(c.run) + ": " : QString())))
          << f.err.toStdString();
      EXPECT_TRUE(f.err.contains(QLatin1String(c.file))) << f.err.toStdString();
    }
    if (c.status == 2) {
      EXPECT_FALSE(QFile::exists(sweep + "/.sweep/verify.txt")) << "a refused folder is left as it was";
      continue;
    }
    // The report is a few lines; the list has a line for every run, saying how it fared.
    EXPECT_LE(f.out.count('\n'), 5) << f.out.toStdString();
    const QStringList listed = QString::fromUtf8(Read(sweep + "/.sweep/verify.txt")).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(listed.size(), 4) << listed.join('\n').toStdString();
    const qsizetype repeated = listed.filter(QStringLiteral("repeated identically")).size();
    const qsizetype intact = listed.filter(QRegularExpression(QStringLiteral(": intact"))).size();
    EXPECT_TRUE(f.out.contains(
        QStringLiteral("of 4 runs %1 intact (%2 of them repeated identically)").arg(intact).arg(repeated)))
        << f.out.toStdString();
    if (c.status == 0) {
      EXPECT_EQ(intact, 4);
      EXPECT_EQ(repeated, c.options.back() == QLatin1String("0") ? 0 : 2);
    } else {
      EXPECT_EQ(f.err.count('\n'), 1) << "one line: " << f.err.toStdString();
      EXPECT_EQ(intact, 3);
    }
  }
}

}  // namespace
