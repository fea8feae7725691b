// Timings of one step and of each pass, on worlds with trails already formed.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "CellForm.h"
#include "Runtime.h"
#include "bench_support.h"

namespace {

constexpr int kWarmUpSteps = 2000;
// Large populations warm up for this many agent moves instead, so that a
// million agents take 20 steps rather than 2000.
constexpr int64_t kWarmUpMoves = 20000000;

int WarmUpSteps(int agentCount) {
  return agentCount > 0 ? static_cast<int>(std::min<int64_t>(kWarmUpSteps, kWarmUpMoves / agentCount)) : kWarmUpSteps;
}

using bench::MakeWorld;

void BM_DoStep(benchmark::State& state) {
  auto form = MakeWorld(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), kWarmUpSteps);
  for (auto _ : state) form->DoStep();
  state.counters["gridCols"] = gridCols;
}
BENCHMARK(BM_DoStep)
    ->ArgNames({"cellSize", "agents"})
    ->Args({6, 200})
    ->Args({1, 200})
    ->Args({1, 10000})
    ->Unit(benchmark::kMicrosecond);

// One step with neither the cells nor the agents drawn, as a run without a
// window would step.
void BM_HeadlessStep(benchmark::State& state) {
  const int agents = static_cast<int>(state.range(1));
  auto form = MakeWorld(static_cast<int>(state.range(0)), agents, WarmUpSteps(agents), true, true);
  for (auto _ : state) form->DoStep();
  state.counters["warmUpSteps"] = WarmUpSteps(agents);
}
BENCHMARK(BM_HeadlessStep)
    ->ArgNames({"cellSize", "agents"})
    ->Args({6, 200})
    ->Args({1, 10000})
    ->Args({1, 1000000})
    ->Unit(benchmark::kMicrosecond);

// A headless world at cell size 1 from its setup: the per-step time of the
// first steps, before anyone runs out of energy (every agent starts with the
// same energy, so the first generation is born within a few dozen steps of
// step 600 at the default settings), against the per-step time of the steps
// after them. Counters in milliseconds a step; ratio is later / preBirth.
void BM_Births(benchmark::State& state) {
  const int agents = static_cast<int>(state.range(0));
  const int preBirthSteps = static_cast<int>(state.range(1));
  const int laterSteps = static_cast<int>(state.range(2));
  using Clock = std::chrono::steady_clock;
  double preBirth = 0;
  double later = 0;
  int64_t births = 0;
  for (auto _ : state) {
    auto form = MakeWorld(1, agents, 0, true, true);
    const auto start = Clock::now();
    for (int i = 0; i < preBirthSteps; ++i) form->DoStep();
    const auto firstBirths = Clock::now();
    const int64_t bornBefore = form->births;
    for (int i = 0; i < laterSteps; ++i) form->DoStep();
    const auto end = Clock::now();
    preBirth = std::chrono::duration<double, std::milli>(firstBirths - start).count() / preBirthSteps;
    later = std::chrono::duration<double, std::milli>(end - firstBirths).count() / laterSteps;
    births = form->births - bornBefore;
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
  state.counters["preBirthMsPerStep"] = preBirth;
  state.counters["laterMsPerStep"] = later;
  state.counters["ratio"] = later / preBirth;
  state.counters["births"] = static_cast<double>(births);
}
BENCHMARK(BM_Births)
    ->ArgNames({"agents", "preBirth", "later"})
    ->Args({100000, 600, 1800})
    ->Args({1000000, 600, 2000})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

// Agent moves per second of the movement pass alone.
void BM_MoveAgents(benchmark::State& state) {
  const int agents = static_cast<int>(state.range(0));
  auto form = MakeWorld(1, agents, 200, true);
  for (auto _ : state) form->MoveAgents();
  state.SetItemsProcessed(state.iterations() * agents);
}
BENCHMARK(BM_MoveAgents)->ArgNames({"agents"})->Arg(100000)->Unit(benchmark::kMillisecond);

template <void (TForm1::*Pass)()>
void BM_Pass(benchmark::State& state) {
  auto form = MakeWorld(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), kWarmUpSteps);
  for (auto _ : state) {
    (form.get()->*Pass)();
    // Keep the world moving so redraws see the changes of a real step.
    state.PauseTiming();
    form->DoStep();
    state.ResumeTiming();
  }
}
BENCHMARK_TEMPLATE(BM_Pass, &TForm1::Evaporate)
    ->Name("Evaporate")
    ->Args({6, 200})
    ->Args({1, 200})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Pass, &TForm1::DrawCells)
    ->Name("DrawCells")
    ->Args({6, 200})
    ->Args({1, 200})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Pass, &TForm1::DrawAgents)
    ->Name("DrawAgents")
    ->Args({6, 200})
    ->Args({1, 10000})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Pass, &TForm1::MoveAgents)
    ->Name("MoveAgents")
    ->Args({6, 200})
    ->Args({1, 10000})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
