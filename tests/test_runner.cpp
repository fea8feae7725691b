// pathwick_run: its samples are the window's chart points under the seed
// rule, its files repeat byte for byte, it refuses bad command lines before
// writing anything, and an interrupted run keeps what it sampled.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
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
#include "RunRecord.h"
#include "Runtime.h"
#include "SweepCheck.h"
#include "SweepPlan.h"
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

// The captions of the settings' scroll bars.
QStringList Labels(const TForm1& form) {
  return {form.Lbl_mutate->text(), form.Lbl_strenght->text(), form.Lbl_evapo->text(), form.Lbl_sniff->text(),
          form.Lbl_visible->text()};
}

TEST_P(RunnerAgainstWindow, SamplesAreTheChartPointsAndTotalsCountEveryTripAndBirth) {
  const WindowCase& c = GetParam();
  agents_test::MessageCollector messages;
  // The window, set up by hand with the seed rule written out here.
  SetGeneratorStartState();
  auto window = std::make_unique<TForm1>();
  window->Timer1->stop();
  const QStringList firstLabels = Labels(*window);
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

  // The runner, on a window of its own as the runner makes it: no first
  // world, the labels of the settings as a full window shows them.
  auto form = std::make_unique<TForm1>(TForm1::TNoFirstWorld{});
  EXPECT_FALSE(form->WorldExists());
  EXPECT_EQ(Labels(*form), firstLabels);
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
      {{}, 4000, "series.csv"},
      {{"--histograms"}, 8000, "genes_hist.csv"},
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
      {"a file the record does not list",
       [](const QString& s) { return runner_test::WriteFile(s + "/run-3/notes.txt", "mine\n"); },
       {"--repeat", "0"},
       1,
       "run-3",
       "holds notes.txt, which its record does not list"},
      {"a link the record does not list",
       [](const QString& s) { return QFile::link(s + "/run-4/series.csv", s + "/run-4/also.csv"); },
       {"--repeat", "0"},
       1,
       "run-4",
       "holds also.csv, which its record does not list"},
      {"a record whose samples are not the series' rows",
       [](const QString& s) {
         QByteArray json = Read(s + "/run-1/run.json");
         const QByteArray edited = QByteArray(json).replace("\"samples\": 2,", "\"samples\": 5,");
         return edited != json &&
                runner_test::WriteFile(s + "/run-1/run.json", edited, QIODevice::WriteOnly | QIODevice::Truncate);
       },
       {"--repeat", "0"},
       1,
       "run-1",
       "the record has 5 samples, but series.csv holds 2 rows"},
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

// --- The check after a sweep's runs (--check-sweep) ---

// How one run is judged from its record, parallel's job log and how the
// sweep ended; and whether running the sweep again may complete it.
struct RunJudgement {
  const char* ended;
  std::optional<TJobLogEntry> logged;
  bool interrupted;
  int32_t parallelStatus;
  TSweepOutcome outcome;
  const char* why;
  bool worthRepeating;
};

TEST(SweepCheck, EachRunIsJudgedFromItsRecordTheJobLogAndTheSweepsEnd) {
  using O = TSweepOutcome;
  const RunJudgement table[] = {
      {"completed", TJobLogEntry{":", "0", "0"}, true, 0, O::kCompleted, "", false},
      {"interrupted", TJobLogEntry{":", "0", "0"}, false, 0, O::kInterrupted, "interrupted on this machine", true},
      {"interrupted", std::nullopt, false, 0, O::kInterrupted, "interrupted", true},
      {"none", std::nullopt, true, 0, O::kNotStarted, "not run: the sweep was interrupted", true},
      {"none", std::nullopt, false, 3, O::kNotStarted,
       "not run: GNU parallel stopped with status 3 (its message is above)", false},
      {"none", TJobLogEntry{":", "", ""}, false, 0, O::kNotStarted,
       "not run: GNU parallel stopped with status 0 (its message is above)", false},
      // A signal is an interruption only when the sweep was stopped; else the run failed by it.
      {"none", TJobLogEntry{"far", "0", "15"}, true, 0, O::kInterrupted, "stopped by signal 15 on far", true},
      {"none", TJobLogEntry{"far", "0", "15"}, false, 0, O::kFailed, "killed by signal 15 (SIGTERM) on far", false},
      {"none", TJobLogEntry{":", "143", "0"}, true, 0, O::kInterrupted, "stopped by signal 15 on this machine", true},
      {"none", TJobLogEntry{":", "143", "0"}, false, 0, O::kFailed, "killed by signal 15 (SIGTERM) on this machine",
       false},
      {"none", TJobLogEntry{":", "0", "11"}, false, 0, O::kFailed, "killed by signal 11 (SIGSEGV) on this machine",
       false},
      {"none", TJobLogEntry{":", "0", "6"}, false, 0, O::kFailed, "killed by signal 6 (SIGABRT) on this machine",
       false},
      {"none", TJobLogEntry{"node2", "137", "0"}, false, 0, O::kFailed, "killed by signal 9 (SIGKILL) on node2", false},
      {"none", TJobLogEntry{"far", "255", "0"}, true, 0, O::kInterrupted, "lost the connection to far", true},
      {"none", TJobLogEntry{":", "255", "0"}, false, 0, O::kFailed, "exit 255 on this machine", false},
      {"none", TJobLogEntry{"node1", "0", "0"}, false, 0, O::kFailed,
       "exit 0 on node1 but no completed run.json came back", false},
      {"none", TJobLogEntry{":", "2", "0"}, true, 0, O::kFailed, "exit 2 on this machine", false},
  };
  for (const RunJudgement& row : table) {
    const TSweepEnd end{row.interrupted, row.parallelStatus};
    const TRunVerdict verdict = JudgeRun({row.ended, row.logged, {}}, end);
    SCOPED_TRACE(row.why);
    EXPECT_EQ(verdict.outcome, row.outcome);
    EXPECT_EQ(verdict.why, QString::fromUtf8(row.why));
    EXPECT_EQ(WorthRepeating(verdict.outcome, end), row.worthRepeating);
  }
}

TEST(SweepCheck, TheJobLogGivesEachStartedRunItsLastEntryAndTheRunsLastWord) {
  const QStringList started{"run-a", "run-b", "run-c"};
  const QByteArray log =
      "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"
      "1\t:\t1.0\t0.5\t0\t0\t1\t0\tpathwick_run a\n"
      "2\tfar\t1.0\t0.5\t0\t0\t0\t9\tpathwick_run b\n"
      "0\t:\t1.0\t0.5\t0\t0\t7\t0\tnot a place\n"
      "4\t:\t1.0\t0.5\t0\t0\t7\t0\tbeyond the list\n"
      "x1\t:\t1.0\t0.5\t0\t0\t7\t0\tnot a number\n"
      "1\t\t:\t1.0\t0.5\t0\t0\t0\t0\tagain, resumed, a tab doubled\n"
      "3\t:\t1.0\t0.5\t0\t0\t2";  // not finished by parallel
  const QHash<QString, TJobLogEntry> entries = ReadJobLog(log, started);
  ASSERT_EQ(entries.size(), 2);
  EXPECT_EQ(entries["run-a"].host, ":");
  EXPECT_EQ(entries["run-a"].exitValue, "0") << "the last entry of a run counts";
  EXPECT_EQ(entries["run-b"].host, "far");
  EXPECT_EQ(entries["run-b"].signal, "9");

  const std::pair<const char*, const char*> errors[] = {
      {"", ""},
      {"\n  \n", ""},
      {"warning: a\npathwick_run: refused\nrsync: gone\n", "pathwick_run: refused"},
      {"pathwick_run: first\nother\npathwick_run: second\n\n", "pathwick_run: second"},
      {"plain\nrsync error: some files could not be transferred\nrsync: link_stat failed\n \t\n", "plain"},
      {"no line end", "no line end"},
  };
  for (const auto& [text, last] : errors) EXPECT_EQ(LastError(text), QString::fromUtf8(last)) << text;
}

// Chunks of runs, one process each: a run the chunk told of has its own
// status and its own word; the run under way when a logged chunk ended has
// the chunk's entry and last unclaimed word; the runs after it, and those of
// a chunk parallel never logged but did not tell of, have none.
TEST(SweepCheck, EachRunOfAChunkHasWhatItsChunkToldOrTheChunksEnd) {
  const QByteArray chunkRuns =
      "run-1\trun-1\n"
      "run-2\trun-2\nrun-2\trun-3\nrun-2\trun-4\nrun-2\trun-5\n"
      "run-6\trun-6\nrun-6\trun-7\n";
  const QByteArray log =
      "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"
      "1\t:\t1.0\t0.5\t0\t0\t2\t0\tpathwick_run --out /o/run-1 --job x\n"
      "2\t:\t1.0\t0.5\t0\t0\t0\t11\tpathwick_run --out /o/run-2 --job x --out /o/run-3 ...\n";
  const QHash<QString, QByteArray> outputs{
      {"run-1.err", "pathwick_run: --sniff takes hill or roulette, not 'sideways'\n"},
      {"run-2", "/o/run-2\t0\n/o/run-3\t2\n"},
      {"run-2.err", "pathwick_run: /o/run-3: --agents takes a whole number\nSegmentation fault\n"},
      {"run-6", "/o/run-6\t1\n"},
      {"run-6.err", "pathwick_run: ./run-6: the data could not be written completely\n"},  // another machine
  };
  const TChunkFacts facts = ReadChunks(chunkRuns, log, [&outputs](const QString& chunk, bool errors) {
    return outputs.value(chunk + (errors ? ".err" : ""));
  });
  struct TRow {
    const char* run;
    const char* exit;  // nullptr: no entry
    const char* signal;
    const char* lastError;
  };
  const TRow rows[] = {
      {"run-1", "2", "0", "pathwick_run: --sniff takes hill or roulette, not 'sideways'"},  // a chunk of one run
      {"run-2", "0", "0", ""},
      {"run-3", "2", "0", "pathwick_run: --agents takes a whole number"},
      {"run-4", "0", "11", "Segmentation fault"},  // under way when the chunk crashed
      {"run-5", nullptr, nullptr, ""},             // never started
      {"run-6", "1", "0", "pathwick_run: the data could not be written completely"},  // told, chunk not logged
      {"run-7", nullptr, nullptr, ""},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.run);
    ASSERT_EQ(facts.logged.contains(row.run), row.exit != nullptr);
    if (row.exit) {
      EXPECT_EQ(facts.logged[row.run].host, ":");
      EXPECT_EQ(facts.logged[row.run].exitValue, row.exit);
      EXPECT_EQ(facts.logged[row.run].signal, row.signal);
    }
    EXPECT_EQ(facts.lastError.value(row.run), QString::fromUtf8(row.lastError));
  }
}

// The report of many runs stays a few lines: the counts, three runs (failures
// first), the list; the closing line says what running again would complete.
TEST(SweepCheck, TheReportCountsNamesAFewFailuresFirstAndClosesAsTheSweepEnds) {
  QList<TSweepRun> runs;
  QList<TRunFacts> facts;
  for (int32_t i = 1; i <= 300; ++i) {
    runs << TSweepRun{QStringLiteral("run-%1").arg(i), i + 1, QStringLiteral("--seed %1").arg(i)};
    TRunFacts f{"none", std::nullopt, {}};
    if (i <= 5) f.ended = "completed";
    if (i == 6 || i == 7) f.ended = "interrupted";
    if (i >= 290) f.logged = TJobLogEntry{":", "2", "0"};
    if (i == 300) f.lastError = "pathwick_run: --sniff takes hill or roulette";
    facts << f;
  }
  const TSweepCheck check = CheckRuns(runs, facts, TSweepEnd{true, 0});
  EXPECT_EQ(check.total, 300);
  EXPECT_EQ(check.completed, 5);
  EXPECT_EQ(check.counts, (std::array<int32_t, kUnfinishedKinds>{11, 2, 282}));
  EXPECT_EQ(check.toRepeat, 284);
  ASSERT_EQ(check.unfinished.size(), 295);
  EXPECT_EQ(check.unfinished.back(),
            "run-300 (line 301: --seed 300) exit 2 on this machine: pathwick_run: --sniff takes hill or roulette");
  EXPECT_EQ(check.unfinished.front(), "run-6 (line 7: --seed 6) interrupted");
  const QStringList report = ReportLines(check, "/o/.sweep/not-completed.txt", true);
  EXPECT_EQ(report, QStringList({"of 300 runs 5 completed, 11 failed, 2 interrupted, 282 not started",
                                 "run-290 (line 291: --seed 290) exit 2 on this machine",
                                 "run-291 (line 292: --seed 291) exit 2 on this machine",
                                 "run-292 (line 293: --seed 292) exit 2 on this machine",
                                 "every run that did not complete, one a line: /o/.sweep/not-completed.txt"}));
  EXPECT_EQ(ReportLines(check, "/o/l", false).back(),
            "cannot write the list of the runs that did not complete to /o/l");

  // The closing line and status: partial or no summary; running again only
  // when it may complete something.
  const TSweepCheck whole{3, 3, 0, {}, {}, {}};
  const TSweepCheck stopped{3, 1, 2, {0, 1, 1}, {"a", "b"}, {}};
  const TSweepCheck refused{3, 0, 0, {2, 0, 1}, {"a", "b", "c"}, {}};
  const std::tuple<TSweepCheck, bool, const char*, int> closes[] = {
      {whole, true, "", 0},
      {whole, false, "", 1},
      {stopped, true,
       "2 of 3 runs did not complete; /o/summary.csv is partial: 1 runs completed (its column ended says how each "
       "ended); run the same command again to complete the 2 interrupted",
       1},
      {refused, false, "3 of 3 runs did not complete; no summary written", 1},
  };
  for (const auto& [c, summarized, message, status] : closes) {
    const TSweepClose close = CloseSweep(c, "/o", summarized);
    EXPECT_EQ(close.message, QString::fromUtf8(message));
    EXPECT_EQ(close.status, status) << message;
  }
  EXPECT_TRUE(ReportLines(whole, "/o/l", true).isEmpty());
}

// A sweep's folder as the sweep leaves it: the record of each run, the list
// of runs, the job log, the runs' standard errors. The list of the runs not
// completed is written, and removed once every run has completed.
TEST(SweepCheck, TheCheckOfAFolderReadsTheSweepsFilesAndWritesTheList) {
  QTemporaryDir tmp;
  const QString out = tmp.path();
  ASSERT_TRUE(QDir().mkpath(out + "/.sweep/stderr"));
  auto form = std::make_unique<TForm1>();
  const auto record = [&](const QString& name, const char* ended) {
    TRunRecord r;
    r.spec.settings = ReadSettings(*form);
    r.spec.steps = 100;
    r.ended = QLatin1String(ended);
    return QDir().mkpath(out + "/" + name) && WriteRunRecord(out + "/" + name + "/run.json", r).Ok();
  };
  ASSERT_TRUE(record("run-0001-seed-1", kEndedCompleted));
  ASSERT_TRUE(record("run-0003-seed-2", kEndedInterrupted));
  ASSERT_TRUE(runner_test::WriteFile(out + "/.sweep/runs",
                                     "run-0001-seed-1\t1\t--seed 1\n"
                                     "run-0003-seed-2\t3\t--seed 2\n"
                                     "run-0004-seed-clock\t4\t--sniff sideways\n"
                                     "run-0005-seed-5\t5\t--seed 5\n"));
  ASSERT_TRUE(runner_test::WriteFile(out + "/.sweep/tasks",
                                     "run-0003-seed-2\t--seed 2\nrun-0004-seed-clock\t--sniff sideways\n"
                                     "run-0005-seed-5\t--seed 5\n"));
  ASSERT_TRUE(runner_test::WriteFile(out + "/.sweep/joblog",
                                     "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n"
                                     "2\t:\t1\t1\t0\t0\t2\t0\tc\n1\t:\t1\t1\t0\t0\t0\t0\tc\n"));
  ASSERT_TRUE(runner_test::WriteFile(out + "/.sweep/stderr/run-0004-seed-clock.err",
                                     "pathwick_run: --sniff takes hill or roulette, not 'sideways'\n"));
  TResult<TSweepCheckResult> result = CheckSweep(out, TSweepEnd{false, 0}, {});
  ASSERT_TRUE(result.Ok()) << result.Error().message.toStdString();
  const QString list = out + "/.sweep/not-completed.txt";
  const QString failed = QStringLiteral(
      "run-0004-seed-clock (line 4: --sniff sideways) exit 2 on this machine: pathwick_run: --sniff takes hill or "
      "roulette, not 'sideways'");
  const QString notRun = QStringLiteral(
      "run-0005-seed-5 (line 5: --seed 5) not run: GNU parallel stopped with status 0 (its message is above)");
  EXPECT_EQ(result->messages, QStringList({"of 4 runs 1 completed, 1 failed, 1 interrupted, 1 not started", failed,
                                           "run-0003-seed-2 (line 3: --seed 2) interrupted on this machine", notRun,
                                           "every run that did not complete, one a line: " + list}));
  EXPECT_EQ(runner_test::ReadFile(list).count('\n'), 3);
  EXPECT_TRUE(runner_test::ReadFile(list).startsWith("run-0003-seed-2 (line 3: --seed 2) interrupted"));

  // Once every run has completed, the list of an earlier check goes.
  ASSERT_TRUE(runner_test::WriteFile(out + "/.sweep/runs", "run-0001-seed-1\t1\t--seed 1\n",
                                     QIODevice::WriteOnly | QIODevice::Truncate));
  result = CheckSweep(out, TSweepEnd{false, 0}, {});
  ASSERT_TRUE(result.Ok()) << result.Error().message.toStdString();
  EXPECT_TRUE(result->messages.isEmpty());
  EXPECT_EQ(result->check.completed, 1);
  EXPECT_FALSE(QFile::exists(list));
  // The sweep's own list of runs is needed: without it the check fails.
  QFile::remove(out + "/.sweep/runs");
  EXPECT_FALSE(CheckSweep(out, TSweepEnd{false, 0}, {}).Ok());
}

// The job logs of a Slurm submission's tasks, merged: numbered as the
// submission's list, each run's node named; a task that did not reach its
// end makes the sweep an interrupted one, one that could not run says why.
TEST(SweepCheck, TheTasksJobLogsOfASlurmSubmissionMergeIntoOne) {
  QTemporaryDir tmp;
  const QString sub = tmp.path();
  const auto write = [&sub](const QString& name, const QByteArray& text) {
    return runner_test::WriteFile(sub + "/" + name, text, QIODevice::WriteOnly | QIODevice::Truncate);
  };
  const QByteArray header = "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n";
  ASSERT_TRUE(write("tasks", "r1\tl\nr2\tl\nr3\tl\nr4\tl\nr5\tl\nr6\tl\nr7\tl\n"));
  ASSERT_TRUE(write("chunk", "2\n"));
  ASSERT_TRUE(write("task-0.node", "n0\n") && write("task-0.ended", "0\n"));
  ASSERT_TRUE(write("task-0.joblog", header + "1\t:\t5\t1\t0\t0\t0\t0\tc 1\n2\t:\t5\t1\t0\t0\t2\t0\tc 2\n"));
  ASSERT_TRUE(write("task-1.joblog", header + "1\t:\t5\t1\t0\t0\t0\t15\tc 3\n"));  // no node, no end
  ASSERT_TRUE(write("task-2.node", "n2\n") && write("task-2.ended", "no-parallel\n"));
  ASSERT_TRUE(write("task-3.node", "n3\n") && write("task-3.ended", "255\n"));
  ASSERT_TRUE(write("task-3.out", "parallel: Error: something\nparallel: the last word\n"));
  TResult<TSlurmMerge> merge = MergeSlurmLogs(sub);
  ASSERT_TRUE(merge.Ok()) << merge.Error().message.toStdString();
  EXPECT_TRUE(merge->merged);
  EXPECT_EQ(merge->jobLog,
            header + "1\tn0\t5\t1\t0\t0\t0\t0\tc 1\n2\tn0\t5\t1\t0\t0\t2\t0\tc 2\n3\ta node\t5\t1\t0\t0\t0\t15\tc 3\n");
  EXPECT_TRUE(merge->end.interrupted);
  EXPECT_EQ(merge->end.parallelStatus, 255);
  EXPECT_EQ(merge->messages, QStringList({"task 2 of the array could not run its runs: GNU parallel is missing on n2",
                                          "task 3 of the array on n3: parallel: the last word"}));
  // Every task at its end: no interruption.
  ASSERT_TRUE(write("task-1.ended", "0") && write("task-2.ended", "1") && write("task-3.ended", "0"));
  merge = MergeSlurmLogs(sub);
  ASSERT_TRUE(merge.Ok());
  EXPECT_FALSE(merge->end.interrupted);
  EXPECT_EQ(merge->end.parallelStatus, 0);
  EXPECT_TRUE(merge->messages.isEmpty());
  // A submission without runs has no job log; one whose chunk is lost cannot be merged.
  ASSERT_TRUE(write("chunk", "x"));
  EXPECT_FALSE(MergeSlurmLogs(sub).Ok());
  ASSERT_TRUE(write("tasks", ""));
  ASSERT_TRUE(MergeSlurmLogs(sub).Ok());
  EXPECT_FALSE(MergeSlurmLogs(sub)->merged);
}

// Tasks that made their runs in chunks: every task's chunks in one list, and
// their job logs numbered in its order (past the chunks of the tasks before),
// each chunk's node named; a task without chunks keeps the run-a-line log.
TEST(SweepCheck, TheChunksOfASlurmSubmissionsTasksMergeIntoOneList) {
  QTemporaryDir tmp;
  const QString sub = tmp.path();
  const auto write = [&sub](const QString& name, const QByteArray& text) {
    return runner_test::WriteFile(sub + "/" + name, text, QIODevice::WriteOnly | QIODevice::Truncate);
  };
  const QByteArray header = "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\n";
  ASSERT_TRUE(write("tasks", "r1\tl\nr2\tl\nr3\tl\nr4\tl\nr5\tl\nr6\tl\n"));
  ASSERT_TRUE(write("chunk", "3\n"));
  ASSERT_TRUE(write("task-0.node", "n0\n") && write("task-0.ended", "0\n"));
  ASSERT_TRUE(write("task-0.chunk-runs", "r1\tr1\nr2\tr2\nr2\tr3\n"));
  ASSERT_TRUE(write("task-0.joblog", header + "1\t:\t5\t1\t0\t0\t0\t0\tc r1\n2\t:\t5\t1\t0\t0\t1\t0\tc r2 r3\n"));
  ASSERT_TRUE(write("task-1.node", "n1\n") && write("task-1.ended", "0\n"));
  ASSERT_TRUE(write("task-1.chunk-runs", "r4\tr4\nr5\tr5\nr5\tr6\n"));
  ASSERT_TRUE(write("task-1.joblog", header + "2\t:\t5\t1\t0\t0\t0\t0\tc r5 r6\n1\t:\t5\t1\t0\t0\t0\t0\tc r4\n"));
  TResult<TSlurmMerge> merge = MergeSlurmLogs(sub);
  ASSERT_TRUE(merge.Ok()) << merge.Error().message.toStdString();
  EXPECT_EQ(merge->chunkRuns, "r1\tr1\nr2\tr2\nr2\tr3\nr4\tr4\nr5\tr5\nr5\tr6\n");
  EXPECT_EQ(merge->chunkJobLog, header +
                                    "1\tn0\t5\t1\t0\t0\t0\t0\tc r1\n2\tn0\t5\t1\t0\t0\t1\t0\tc r2 r3\n"
                                    "4\tn1\t5\t1\t0\t0\t0\t0\tc r5 r6\n3\tn1\t5\t1\t0\t0\t0\t0\tc r4\n");
  EXPECT_EQ(merge->jobLog, header);
  // Read as a sweep's chunks, each run's chunk has the node it ran on.
  const TChunkFacts facts = ReadChunks(merge->chunkRuns, merge->chunkJobLog, [](const QString& chunk, bool errors) {
    if (chunk == "r2" && !errors) return QByteArray("/o/r2\t0\n/o/r3\t2\n");
    if (chunk == "r2") return QByteArray("pathwick_run: /o/r3: --agents takes a whole number\n");
    return QByteArray();
  });
  EXPECT_EQ(facts.logged.value("r3").host, "n0");
  EXPECT_EQ(facts.logged.value("r3").exitValue, "2");
  EXPECT_EQ(facts.lastError.value("r3"), "pathwick_run: --agents takes a whole number");
  EXPECT_EQ(facts.logged.value("r5").host, "n1");
}

// Before its runs, a sweep keeps a completed run of its job line, makes the
// rest, and makes again what did not complete; it refuses a folder holding
// anything that is not its own, and a run whose record its job line no
// longer asks for unless told to make it again. The plan writes nothing.
TEST(SweepPlan, EachRunIsKeptMadeOrMadeAgainAndAFolderNotTheSweepsIsRefused) {
  auto form = std::make_unique<TForm1>();
  const TSettingValues defaults = ReadSettings(*form);
  struct Case {
    const char* name;
    std::function<bool(const QString& out)> setup;
    const char* jobLine;  // of run-0001-seed-1; run-0002-seed-2 is "--seed 2 --steps 100"
    bool redoChanged;
    const char* expected;  // the actions, or what the refusal says
  };
  const auto record = [&](const QString& folder, const char* ended, int32_t agents) {
    TRunRecord r;
    r.spec.settings = defaults;
    r.spec.settings[SettingIndex(TSetting::kAgents)] = agents;
    r.spec.seed = 1;
    r.spec.steps = 100;
    r.ended = QLatin1String(ended);
    r.files = {{QStringLiteral("series.csv"), 2, QStringLiteral("x")}};
    return QDir().mkpath(folder) && WriteRunRecord(folder + "/run.json", r).Ok() &&
           runner_test::WriteFile(folder + "/series.csv", "s\n");
  };
  const int32_t agents = defaults[SettingIndex(TSetting::kAgents)];
  const auto run1 = [&](const char* ended, int32_t n) {
    return [&, ended, n](const QString& out) { return record(out + "/run-0001-seed-1", ended, n); };
  };
  const auto plus = [](const std::function<bool(const QString&)>& first, const char* name) {
    return [first, name](const QString& out) {
      return first(out) && runner_test::WriteFile(out + "/" + QLatin1String(name), "mine\n");
    };
  };
  const QString changed = QStringLiteral("--seed 1 --steps 100 --agents %1").arg(agents + 1);
  const QByteArray changedLine = changed.toUtf8();
  const Case table[] = {
      {"new_folder", [](const QString&) { return true; }, "--seed 1 --steps 100", false, "make make"},
      {"completed_kept", run1(kEndedCompleted, agents), "--seed 1 --steps 100", false, "keep make"},
      {"interrupted_made_again", run1(kEndedInterrupted, agents), "--seed 1 --steps 100", false, "remake make"},
      {"empty_run_folder", [](const QString& out) { return QDir().mkpath(out + "/run-0002-seed-2"); },
       "--seed 1 --steps 100", false, "make make"},
      {"summary_and_leftovers",
       [&](const QString& out) {
         return plus(plus(plus(run1(kEndedCompleted, agents), "summary.csv"), ".effects.svg.1f3a9c.part"),
                     ".run-0002-seed-2.tmp-Zz9yX1")(out) &&
                QDir().mkpath(out + "/.sweep");
       },
       "--seed 1 --steps 100", false, "keep make"},
      {"a summary where no sweep was", plus(run1(kEndedCompleted, agents), "summary.csv"), "--seed 1 --steps 100",
       false, "holds OUT/summary.csv, which is no run"},
      {"a_users_file", plus(run1(kEndedCompleted, agents), "notes.txt"), "--seed 1 --steps 100", false,
       "holds OUT/notes.txt, which is no run of this job list nor a file of its sweep"},
      {"a_run_of_another_list",
       [&](const QString& out) { return record(out + "/run-0003-seed-1", kEndedCompleted, 1); }, "--seed 1 --steps 100",
       false, "holds OUT/run-0003-seed-1, which is no run"},
      {"a_summary_name_as_folder", [](const QString& out) { return QDir().mkpath(out + "/summary.csv"); },
       "--seed 1 --steps 100", false, "holds OUT/summary.csv, which is no run"},
      {"files_but_no_run",
       [](const QString& out) {
         return QDir().mkpath(out + "/run-0001-seed-1") && runner_test::WriteFile(out + "/run-0001-seed-1/a", "mine");
       },
       "--seed 1 --steps 100", false, "OUT/run-0001-seed-1 holds files that are not a run (OUT/run-0001-seed-1/a)"},
      {"a run cut off before its record",
       [](const QString& out) {
         return QDir().mkpath(out + "/run-0001-seed-1/snapshots") &&
                runner_test::WriteFile(out + "/run-0001-seed-1/series.csv", "s") &&
                runner_test::WriteFile(out + "/run-0001-seed-1/.final.png.a1B2c3", "p") &&
                runner_test::WriteFile(out + "/run-0001-seed-1/snapshots/step-0000100.png", "p");
       },
       "--seed 1 --steps 100", false, "remake make"},
      {"a link in a run cut off",
       [](const QString& out) {
         return QDir().mkpath(out + "/run-0001-seed-1") &&
                QFile::link(out + "/../elsewhere", out + "/run-0001-seed-1/series.csv");
       },
       "--seed 1 --steps 100", false, "holds files that are not a run (OUT/run-0001-seed-1/series.csv)"},
      {"interrupted with a temporary on its way",
       plus(run1(kEndedInterrupted, agents), "run-0001-seed-1/.series.csv.3b9e0c1d2a.part"), "--seed 1 --steps 100",
       false, "remake make"},
      {"changed_refused", run1(kEndedCompleted, agents), changedLine.constData(), false,
       "OUT/run-0001-seed-1 (line 1) was made otherwise than its job line asks: agents"},
      {"changed_made_again", run1(kEndedCompleted, agents), changedLine.constData(), true, "remake make"},
      {"changed_with_a_users_file", plus(run1(kEndedCompleted, agents), "run-0001-seed-1/notes.txt"),
       changedLine.constData(), true, "OUT/run-0001-seed-1 holds OUT/run-0001-seed-1/notes.txt, which its run did not"},
      {"interrupted_with_a_users_file", plus(run1(kEndedInterrupted, agents), "run-0001-seed-1/notes.txt"),
       "--seed 1 --steps 100", false, "which its run did not write"},
      {"job_line_now_refused", run1(kEndedCompleted, agents), "--seed 1 --sniff sideways", false,
       "its job line is refused: --sniff"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    QTemporaryDir tmp;
    const QString out = tmp.filePath("out");
    ASSERT_TRUE(c.setup(out));
    const auto listing = [&out] {
      QStringList all;
      QDirIterator it(out, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
      while (it.hasNext()) all << it.next() + ":" + QString::number(it.fileInfo().size());
      all.sort();
      return all;
    };
    const QStringList before = listing();
    const QList<TSweepRun> runs{{"run-0001-seed-1", 1, QString::fromUtf8(c.jobLine)},
                                {"run-0002-seed-2", 2, "--seed 2 --steps 100"}};
    const TResult<QList<TRunAction>> plan = PlanSweep(out, runs, defaults, c.redoChanged);
    const QString expected = QString::fromUtf8(c.expected).replace(QStringLiteral("OUT"), out);
    if (plan) {
      QStringList words;
      for (const TRunAction action : *plan) words << QLatin1String(RunActionName(action));
      EXPECT_EQ(words.join(' '), expected);
    } else {
      EXPECT_EQ(plan.Error().status, kExitRefused);
      EXPECT_TRUE(plan.Error().message.contains(expected)) << plan.Error().message.toStdString();
    }
    EXPECT_EQ(listing(), before) << "the plan changes nothing";
  }
  // A file where the folder should be is refused too.
  QTemporaryDir tmp;
  ASSERT_TRUE(runner_test::WriteFile(tmp.filePath("file"), "x"));
  const TResult<QList<TRunAction>> file = PlanSweep(tmp.filePath("file"), {}, defaults, false);
  ASSERT_FALSE(file.Ok());
  EXPECT_TRUE(file.Error().message.endsWith("exists and is not a folder"));
}

// The differences of a record and a job line, each named once; a job line
// without a seed agrees with any.
TEST(SweepPlan, TheDifferencesOfARecordAndItsJobLineNameEachOne) {
  auto form = std::make_unique<TForm1>();
  TRunSpec recorded;
  recorded.settings = ReadSettings(*form);
  recorded.seed = 1;
  recorded.steps = 100;
  const std::pair<std::function<void(TRunSpec&)>, QStringList> table[] = {
      {[](TRunSpec&) {}, {}},
      {[](TRunSpec& s) { s.seed = 2; }, {"seed 1 in its record, 2 in its job line"}},
      {[](TRunSpec& s) { s.seed = 2, s.seedFromClock = true; }, {}},
      {[](TRunSpec& s) { s.steps = 90; }, {"steps 100 in its record, 90 in its job line"}},
      {[](TRunSpec& s) { s.settings[SettingIndex(TSetting::kSniff)] = 1, s.fromSha256 = "abcdef0123456789"; },
       {"sniff hill in its record, roulette in its job line",
        "no checkpoint in its record, checkpoint abcdef012345 in "
        "its job line"}},
  };
  for (const auto& [change, expected] : table) {
    TRunSpec asked = recorded;
    change(asked);
    EXPECT_EQ(RecordDifferences(recorded, asked), expected);
  }
}

TEST(SweepCheck, TheCommandLineTakesTheSweepsEndAndTheSummarysOptions) {
  const TResult<TCommand> c = ParseCommandLine({"--check-sweep", "d", "--sweep-interrupted", "--parallel-status", "3",
                                                "--slurm-submission", "s", "--window", "2", "--gzip-samples"});
  ASSERT_TRUE(c.Ok()) << c.Error().message.toStdString();
  EXPECT_EQ(c->kind, TCommandKind::kCheckSweep);
  EXPECT_EQ(c->folder, "d");
  EXPECT_TRUE(c->sweepInterrupted);
  EXPECT_EQ(c->parallelStatus, 3);
  EXPECT_EQ(c->slurmSubmission, "s");
  EXPECT_EQ(c->window, 2);
  EXPECT_TRUE(c->gzipSamples);
  const std::pair<QStringList, const char*> refused[] = {
      {{"--check-sweep", "d", "--quiet"}, "--check-sweep does not take --quiet"},
      {{"--summarize", "d", "--sweep-interrupted"}, "--summarize does not take --sweep-interrupted"},
      {{"--parallel-status", "1"}, "a run does not take --parallel-status"},
      {{"--check-sweep", "d", "--parallel-status", "256"}, "--parallel-status takes a whole number from 0 to 255"},
      {{"--job", "--check-sweep d"}, "a job line may not hold --check-sweep"},
  };
  for (const auto& [arguments, message] : refused) {
    const TResult<TCommand> r = ParseCommandLine(arguments);
    ASSERT_FALSE(r.Ok()) << message;
    EXPECT_TRUE(r.Error().message.contains(QLatin1String(message))) << r.Error().message.toStdString();
  }
}

}  // namespace
