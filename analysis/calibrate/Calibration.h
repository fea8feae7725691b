// A calibration folder: the question (calibration.json), one folder per
// generation (gen-NNN: its candidates, its runs, the particles it kept), the
// tolerance and acceptance of each generation (generations.csv) and the
// posterior (posterior.csv). The method is ABC-SMC (Abc.h), or NSGA-II
// (Nsga.h), whose folder holds its populations and their Pareto front
// (pareto.csv) instead; what makes a candidate's summaries is given, so that
// the runs of the model and an analytic problem take the same path through
// the folder.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Abc.h"
#include "Result.h"

// One calibrated factor: a setting (by its option name) and its prior, in
// the setting's own units (hundredths for a rate). A run takes the nearest
// value within the range.
struct TCalibrationFactor {
  QString option;
  TPriorFactor prior;
  double unit = 1;  // the setting's units per the value the table shows (100 for a rate)
};

inline constexpr double kQuantile = 0.5;  // alpha: the share of the pooled particles kept
inline constexpr double kDefaultAcceptanceFloor = 0.05;
inline constexpr int32_t kDefaultSeedsPerParticle = 1;
inline constexpr int32_t kDefaultParticles = 50;
inline constexpr uint32_t kDefaultCalibrationSeed = 1;
inline constexpr int32_t kDefaultPopulation = 24;

enum class TCalibrationMethod { kAbcSmc, kNsga2 };
// The method's name as the command line and calibration.json write it.
const char* MethodName(TCalibrationMethod method);
std::optional<TCalibrationMethod> FindMethod(const QString& name);

struct TCalibrationSpec {
  TCalibrationMethod method = TCalibrationMethod::kAbcSmc;
  std::vector<TCalibrationFactor> factors;
  QStringList measures;        // the summaries' names, in order
  std::vector<double> target;  // their target values
  QString targetSource;        // how the target was given: "values" or the reference runs' folder
  QString model;               // what makes the summaries: the command's run options, or an analytic model's name
  int32_t steps = 0;
  int32_t window = 1;
  int32_t seedsPerParticle = kDefaultSeedsPerParticle;
  int32_t particles = kDefaultParticles;    // ABC-SMC
  int32_t population = kDefaultPopulation;  // NSGA-II: individuals per generation
  std::optional<int32_t> generations;       // NSGA-II: after the first population; none: as the budget allows
  qint64 budget = 0;                        // the runs it may make
  uint32_t seed = kDefaultCalibrationSeed;
  double acceptanceFloor = kDefaultAcceptanceFloor;
  // The factors' values that made the target, in the setting's units, when
  // known (reference runs that all share them).
  std::optional<std::vector<double>> truth;

  TPrior Prior() const;
  // The posterior predictive's runs, made after the last generation: one
  // run of each of `particles` draws from the posterior. The budget holds
  // them. NSGA-II makes none.
  int32_t PredictiveRuns() const { return method == TCalibrationMethod::kAbcSmc ? particles : 0; }
  // The candidates of a generation: ABC-SMC's 0 draws particles / alpha, the
  // rest `particles`; NSGA-II's are `population` each.
  int32_t Candidates(int32_t generation) const;
  // The value a run takes for a factor's coordinate, in the setting's units.
  int32_t RunValue(size_t factor, double coordinate) const;
};

// A candidate of a generation, as its runs need it.
struct TCandidate {
  std::vector<double> coordinates;
  std::vector<int32_t> values;  // each factor as its runs take it, in the setting's units
  std::vector<uint32_t> seeds;  // one per run
  double weight = 1;
};

// What a candidate's runs gave: each measure's mean over the runs (NaN when
// one lacks it), and their folders relative to the calibration folder.
struct TOutcome {
  std::vector<double> summary;
  QStringList folders;
};

// Makes the outcomes of a generation's candidates; `folder` is the
// generation's own folder, made and empty but for candidates.csv. Called
// again for the same generation after an interruption.
using TSimulate = std::function<TResult<std::vector<TOutcome>>(const QString& folder, int32_t generation,
                                                               const std::vector<TCandidate>& candidates)>;

struct TCalibrationEnd {
  int32_t generations = 0;
  qint64 runs = 0;  // the generations' and the posterior predictive's
  QString reason;   // why it stopped, in words
};

// Runs the calibration in `dir` (made if absent; a folder that holds
// anything but a calibration is refused, and so is one of another
// question), resuming after the last generation it finished. Each
// generation's files are whole or absent. `progress` is told of each
// generation in one line.
TResult<TCalibrationEnd> Calibrate(const QString& dir, const TCalibrationSpec& spec, const TSimulate& simulate,
                                   const std::function<void(const QString&)>& progress = {});

// The folder's question as calibration.json holds it.
TResult<TCalibrationSpec> ReadCalibrationSpec(const QString& dir);
bool IsCalibrationFolder(const QString& dir);
// The folders of the runs of every generation (gen-NNN/runs), in order, and
// of the posterior predictive.
QStringList CalibrationRunFolders(const QString& dir);

// The generation's folder name, gen-NNN.
QString GenerationName(int32_t generation);

inline constexpr const char* kCalibrationSpecName = "calibration.json";
inline constexpr const char* kPosteriorName = "posterior.csv";
inline constexpr const char* kParetoName = "pareto.csv";
inline constexpr const char* kGenerationsName = "generations.csv";
inline constexpr const char* kCandidatesName = "candidates.csv";
inline constexpr const char* kStateName = "state.json";
inline constexpr const char* kRunsFolderName = "runs";
inline constexpr const char* kPredictiveFolderName = "predictive";  // its runs and state, as a generation's
inline constexpr const char* kPredictiveTableName = "predictive.csv";
// The stream of the posterior predictive's draws and seeds, after every generation's.
inline constexpr int32_t kPredictiveStream = 1 << 30;
