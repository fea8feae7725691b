// The entry of the Google Benchmark programs: an offscreen application, the
// generator in its program-start state, then the benchmarks asked for.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "CellForm.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SetGeneratorStartState();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
