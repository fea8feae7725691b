// Size of a checkpoint and the time to write and to read one, against the
// time of 100 headless steps of the same world, measured in the same run.
// Medians of a few rounds.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Experiment.h"
#include "runner_bench_support.h"

namespace {

struct World {
  const char* name;
  int cellSize;
  int agents;
  int warmUp;
  int rounds;
};

template <class F>
double Seconds(F&& f) {
  QElapsedTimer clock;
  clock.start();
  f();
  return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const World worlds[] = {{"default world (cell size 6, 200 agents)", 6, 200, 2000, 7},
                          {"1000000 agents at cell size 1", 1, 1000000, 10, 3}};
  QTemporaryDir tmp;
  const QString path = tmp.filePath("checkpoint.pwk");
  for (const World& w : worlds) {
    auto form = runner_bench::HeadlessWorld(w.cellSize, w.agents, w.warmUp);
    std::vector<double> write;
    std::vector<double> durable;
    std::vector<double> read;
    std::vector<double> steps;
    // As in a run: a checkpoint, then steps while the worker flushes it to
    // the disk. The run waits only for the bytes written (and for a flush
    // still under way when the next checkpoint is due).
    TCheckpointWriter writer(path);
    for (int round = 0; round < w.rounds; ++round) {
      write.push_back(Seconds([&] { (void)writer.Write(*form, {1, 0, 0, 0}); }));
      durable.push_back(Seconds([&] { (void)writer.Finish(); }) + write.back());
      read.push_back(Seconds([&] {
        const TResult<TCheckpointFile> checkpoint = ReadCheckpoint(path);
        if (!checkpoint) std::fprintf(stderr, "read failed: %s\n", qPrintable(checkpoint.Error().message));
      }));
      const int stepsTimed = w.agents > 100000 ? 3 : 100;
      steps.push_back(Seconds([&] {
                        for (int i = 0; i < stepsTimed; ++i) form->DoStep();
                      }) *
                      100 / stepsTimed);
    }
    std::printf(
        "%-40s checkpoint %.2f MB: write %.1f ms (on the disk after %.1f ms), read %.1f ms; "
        "100 headless steps %.1f ms\n",
        w.name, static_cast<double>(QFileInfo(path).size()) / 1e6, runner_bench::Median(write) * 1e3,
        runner_bench::Median(durable) * 1e3, runner_bench::Median(read) * 1e3, runner_bench::Median(steps) * 1e3);
  }
  return 0;
}
