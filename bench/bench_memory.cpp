// Resident memory of a world, read from /proc/self/status after it is built
// and has stepped a little. Each run builds its world afresh in this process.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "CellForm.h"
#include "Runtime.h"

namespace {

constexpr int kSteps = 5;
constexpr double kBytesPerMB = 1e6;

// VmRSS in bytes, or 0 where /proc does not tell.
double ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kilobytes = 0;
      status >> kilobytes;
      return kilobytes * 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// Counters: rssMB, the whole process with the world; worldMB, what building
// the world added to a window holding an empty one; bytesPerAgent, worldMB
// spread over the agents; agentSize, sizeof(TAgent).
void BM_ResidentMemory(benchmark::State& state) {
  const int cellSizeSetting = static_cast<int>(state.range(0));
  const int agentCount = static_cast<int>(state.range(1));
  uint32_t clock = 1;
  SetRandomizeSource([clock]() mutable { return clock++ * 2654435761u; });
  double rss = 0;
  double world = 0;
  for (auto _ : state) {
    auto form = std::make_unique<TForm1>();
    form->Timer1->stop();
    form->Cb_cellUpdt->setChecked(true);
    form->CB_hideAgs->setChecked(true);
    form->Edit_size->setText(QString::number(cellSizeSetting));
    form->Edit_anzAg->setText("0");
    form->B_setupClick();
    // Heap an earlier repetition freed goes back to the system first, so it
    // is not counted as the empty window's.
    malloc_trim(0);
    const double empty = ResidentBytes();
    form->Edit_anzAg->setText(QString::number(agentCount));
    form->B_setupClick();
    for (int i = 0; i < kSteps; ++i) form->DoStep();
    rss = ResidentBytes();
    world = rss - empty;
  }
  state.counters["rssMB"] = rss / kBytesPerMB;
  state.counters["worldMB"] = world / kBytesPerMB;
  state.counters["bytesPerAgent"] = agentCount > 0 ? world / agentCount : 0;
  state.counters["agentSize"] = sizeof(TAgent);
  SetRandomizeSource({});
}
BENCHMARK(BM_ResidentMemory)
    ->ArgNames({"cellSize", "agents"})
    ->Args({1, 1000000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
