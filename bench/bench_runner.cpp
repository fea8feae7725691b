// pathwick_run against the engine it drives: steps per second of the real
// program over a long run, next to a bare loop of headless steps (cells not
// redrawn, agents hidden) on the same world with the same seed, in the same
// run of this benchmark. Rounds alternate; medians are reported.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "CellForm.h"
#include "Experiment.h"
#include "runner_bench_support.h"

namespace {

constexpr int kRounds = 3;

struct World {
  const char* name;
  int cellSize;
  int agents;
  int steps;
};

// Headless steps per second of the window class, set up as the runner sets it up.
double EngineStepsPerSecond(const World& w) {
  auto form = runner_bench::HeadlessWorld(w.cellSize, w.agents, 1);
  QElapsedTimer clock;
  clock.start();
  for (int i = 1; i < w.steps; ++i) form->DoStep();
  return (w.steps - 1) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

// The program's own figure: steps over the wall time it records for the run.
double RunnerStepsPerSecond(const World& w) {
  QTemporaryDir tmp;
  QProcess process;
  process.start(QStringLiteral(PATHWICK_RUN),
                {"--seed", "1", "--quiet", "--cell-size", QString::number(w.cellSize), "--agents",
                 QString::number(w.agents), "--steps", QString::number(w.steps), "--out", tmp.filePath("r")});
  process.waitForFinished(-1);
  QFile record(tmp.filePath("r/run.json"));
  if (process.exitCode() != 0 || !record.open(QIODevice::ReadOnly)) return 0;
  return w.steps / QJsonDocument::fromJson(record.readAll()).object()["wall_time_seconds"].toDouble();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const World worlds[] = {{"default world (cell size 6, 200 agents)", 6, 200, 100000},
                          {"cell size 1, 10000 agents", 1, 10000, 3000}};
  for (const World& w : worlds) {
    std::vector<double> engine;
    std::vector<double> runner;
    for (int round = 0; round < kRounds; ++round) {
      engine.push_back(EngineStepsPerSecond(w));
      runner.push_back(RunnerStepsPerSecond(w));
    }
    const double e = runner_bench::Median(engine);
    const double r = runner_bench::Median(runner);
    std::printf("%-42s %d steps: pathwick_run %.0f steps/s, headless DoStep loop %.0f steps/s, ratio %.3f\n", w.name,
                w.steps, r, e, r / e);
  }
  return 0;
}
