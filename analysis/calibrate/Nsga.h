// Multi-objective calibration by NSGA-II:
//
//   Deb, Pratap, Agarwal and Meyarivan (2002), "A fast and elitist
//   multiobjective genetic algorithm: NSGA-II", IEEE Transactions on
//   Evolutionary Computation 6(2), 182-197,
//
// as pagmo2's nsga2 runs it (simulated binary crossover, polynomial
// mutation, crowded tournament selection, the best N of parents and
// offspring by non-dominated rank and crowding distance), one generation per
// call, with a batch fitness evaluator that makes the whole offspring as one
// sweep. The objectives are each target measure's distance apart,
// |summary - target| / scale, the scale each measure's spread over the first
// population as ABC-SMC standardises (Scales in Abc.h).
//
// Generation 0 draws `population` individuals from the priors' box (in the
// coordinates of Abc.h: log x for a log-uniform factor); generation g >= 1
// is nsga2 seeded from the calibration seed and g, evolving the population
// gen-(g-1)/state.json keeps, so that a resumed calibration draws what an
// uninterrupted one does.
#pragma once

#include <QString>
#include <functional>
#include <span>
#include <vector>

#include "Calibration.h"
#include "NsgaEngine.h"

// pagmo's defaults for the crossover (probability and distribution index)
// and the mutation's distribution index; the mutation's probability per
// factor is 1 / factors, as Deb et al. ran it.
inline constexpr double kNsgaCrossover = 0.95;
inline constexpr double kNsgaCrossoverIndex = 10;
inline constexpr double kNsgaMutationIndex = 50;
inline double NsgaMutation(size_t factors) { return 1.0 / static_cast<double>(factors); }
// pagmo's nsga2 pairs its population in fours.
inline constexpr int32_t kMinPopulation = 8;
inline constexpr int32_t kPopulationMultiple = 4;
// The objective of an individual whose runs lack a target measure: far
// beyond any distance, finite so that the crowding distance stays a number.
inline constexpr double kMissingObjective = 1e12;

// Refuses what NSGA-II cannot take: fewer than two measures, a population
// that is not a multiple of 4 from kMinPopulation.
TStatus CheckNsgaSpec(const TCalibrationSpec& spec);

// Each measure's distance apart: kMissingObjective where the summary lacks it.
std::vector<double> Objectives(std::span<const double> summary, std::span<const double> target,
                               std::span<const double> scales);

// The non-dominated rank (0: the front) and crowding distance of each point.
struct TRanking {
  std::vector<size_t> rank;
  std::vector<double> crowding;
};
TRanking RankAndCrowd(const TNsgaEngine& engine, const std::vector<std::vector<double>>& objectives);

// pagmo2's NSGA-II from its module beside the program (NsgaEngine.h),
// loaded on the first call and kept to the program's end.
TResult<const TNsgaEngine*> LoadNsgaEngine();

// The NSGA-II calibration in `dir` (Calibrate() has checked the question and
// made the folder and its calibration.json): each generation's state, then
// pareto.csv, generations.csv and the front's figure.
TResult<TCalibrationEnd> CalibrateNsga2(const QString& dir, const TCalibrationSpec& spec, const TSimulate& simulate,
                                        const std::function<void(const QString&)>& progress);
