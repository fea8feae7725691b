// The module of pagmo2's NSGA-II (NsgaEngine.h).
#include <pagmo/algorithms/nsga2.hpp>
#include <pagmo/bfe.hpp>
#include <pagmo/population.hpp>
#include <pagmo/problem.hpp>
#include <pagmo/utils/multi_objective.hpp>
#include <stdexcept>

#include "NsgaEngine.h"

namespace {

// The calibration as pagmo's problem: the box of the priors' coordinates and
// one objective per measure. Its fitness is made only in batches, by a
// sweep; nsga2 asks for none one at a time when it has a batch evaluator.
struct TCalibrationProblem {
  std::vector<double> lo;
  std::vector<double> hi;
  size_t objectives = 2;
  pagmo::vector_double fitness(const pagmo::vector_double&) const {
    throw std::logic_error("a calibration's individuals are evaluated a generation at a time");
  }
  std::pair<pagmo::vector_double, pagmo::vector_double> get_bounds() const { return {lo, hi}; }
  pagmo::vector_double::size_type get_nobj() const { return objectives; }
};

// nsga2's batch fitness evaluator: the offspring of a generation at once.
struct TBatchEvaluator {
  const TNsgaBatch* batch = nullptr;
  pagmo::vector_double operator()(const pagmo::problem& problem, const pagmo::vector_double& dvs) const {
    const size_t k = problem.get_nx();
    std::vector<std::vector<double>> coordinates;
    for (size_t at = 0; at + k <= dvs.size(); at += k)
      coordinates.emplace_back(dvs.begin() + static_cast<std::ptrdiff_t>(at),
                               dvs.begin() + static_cast<std::ptrdiff_t>(at + k));
    return (*batch)(coordinates);
  }
};

void Evolve(const TNsgaGeneration& g, const TNsgaBatch& batch, std::vector<std::vector<double>>& x,
            std::vector<std::vector<double>>& f) {
  pagmo::population population(pagmo::problem(TCalibrationProblem{g.lo, g.hi, g.objectives}), 0u, g.seed);
  for (size_t n = 0; n < g.x.size(); ++n) population.push_back(g.x[n], g.f[n]);
  pagmo::nsga2 algorithm(1u, g.crossover, g.crossoverIndex, g.mutation, g.mutationIndex, g.seed);
  algorithm.set_bfe(pagmo::bfe(TBatchEvaluator{&batch}));
  population = algorithm.evolve(population);
  x = population.get_x();
  f = population.get_f();
}

std::vector<std::vector<size_t>> Fronts(const std::vector<std::vector<double>>& objectives) {
  return std::get<0>(pagmo::fast_non_dominated_sorting(objectives));
}

std::vector<double> Crowding(const std::vector<std::vector<double>>& front) { return pagmo::crowding_distance(front); }

constexpr TNsgaEngine kEngine{Evolve, Fronts, Crowding};

}  // namespace

extern "C" const TNsgaEngine* PathwickNsgaEngine() { return &kEngine; }
