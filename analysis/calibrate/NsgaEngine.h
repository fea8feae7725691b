// pagmo2's NSGA-II behind a module of its own (libpathwick_nsga2.so), which
// pathwick_run loads only for a calibration by NSGA-II: pagmo2 and the
// libraries it brings take longer to load than the whole toolkit, and every
// process of every run would pay for them at its start. The interface holds
// only standard types, so that neither side needs the other's headers.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// One generation of nsga2: the box of the coordinates, the number of
// objectives, the seed, the operators' settings and the parents.
struct TNsgaGeneration {
  std::vector<double> lo;
  std::vector<double> hi;
  size_t objectives = 2;
  unsigned seed = 0;
  double crossover = 0;
  double crossoverIndex = 0;
  double mutation = 0;
  double mutationIndex = 0;
  std::vector<std::vector<double>> x;  // each parent's coordinates
  std::vector<std::vector<double>> f;  // and objectives
};

// The offspring's objectives, one after another, from their coordinates:
// the generation's sweep. What it throws passes through nsga2 to the caller.
using TNsgaBatch = std::function<std::vector<double>(const std::vector<std::vector<double>>& coordinates)>;

struct TNsgaEngine {
  // The population nsga2 leaves after one generation, as (x, f) in its
  // order, into x and f. pagmo2's own failures are std::exceptions.
  void (*evolve)(const TNsgaGeneration& generation, const TNsgaBatch& batch, std::vector<std::vector<double>>& x,
                 std::vector<std::vector<double>>& f);
  // The fronts of fast non-dominated sorting, the first the non-dominated.
  std::vector<std::vector<size_t>> (*fronts)(const std::vector<std::vector<double>>& objectives);
  // The crowding distance of each point of one front of two or more.
  std::vector<double> (*crowding)(const std::vector<std::vector<double>>& front);
};

// The module's one entry.
#define PATHWICK_NSGA_ENGINE "PathwickNsgaEngine"
extern "C" const TNsgaEngine* PathwickNsgaEngine();
