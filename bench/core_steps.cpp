// Times headless steps of one world and prints a digest of it, built against
// whichever engine sources core_baseline/CMakeLists.txt is given: this
// repository's, or the engine as it was first written (core_vs_first.sh).
// Both engines step the same world, so equal digests show equal work.
//   core_steps CELL_SIZE AGENTS WARM_UP_STEPS TIMED_STEPS
// prints: cpu_us_a_step wall_us_a_step digest
#include <QApplication>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <memory>

#include "CellForm.h"
#include "Runtime.h"
#include "bench_support.h"

namespace {

double Seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A cell's chemical: in a grid of its own in this engine, inside the cell
// in the first (built as C++17, so chosen by overload, not by requires).
template <class Form>
auto ChemicalAt(Form& form, int column, int row, int) -> decltype(static_cast<int32_t>(form.chemical[column][row])) {
  return form.chemical[column][row];
}
template <class Form>
int32_t ChemicalAt(Form& form, int column, int row, long) {
  return form.cells[column][row].chemical;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: core_steps CELL_SIZE AGENTS WARM_UP_STEPS TIMED_STEPS\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int warmUp = std::atoi(argv[3]);
  const int steps = std::atoi(argv[4]);
  // The generator's start state first: the world's setup reseeds only
  // from the clock that MakeWorld fixes.
  SetGeneratorStartState();
  auto form = bench::MakeWorld(std::atoi(argv[1]), std::atoi(argv[2]), warmUp, true, true);
  const double cpu0 = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  for (int i = 0; i < steps; ++i) form->DoStep();
  const double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
  const double wall = Seconds(CLOCK_MONOTONIC) - wall0;
  bench::TDigest d;
  for (const TAgent& a : form->agents) {
    for (int64_t v :
         std::initializer_list<int64_t>{a.angleGene, a.wiggleGene, a.energy, a.tripCount, a.cellX, a.cellY}) {
      d.Add(static_cast<uint64_t>(v));
    }
  }
  for (int r = 0; r < gridRows; ++r) {
    for (int c = 0; c < gridCols; ++c) d.Add(static_cast<uint64_t>(ChemicalAt(*form, c, r, 0)));
  }
  d.Add(RandSeed);
  std::printf("%.3f %.3f %016llx\n", 1e6 * cpu / steps, 1e6 * wall / steps, static_cast<unsigned long long>(d.h));
  return 0;
}
