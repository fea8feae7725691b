#include "Nsga.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "CalibrationFolder.h"
#include "FrontFigure.h"
#include "Tables.h"

namespace {

using calibration::CandidatesTable;
using calibration::Doubles;
using calibration::kStateByteLimit;
using calibration::MakeCandidate;
using calibration::MakeFolder;
using calibration::Number;
using calibration::RunNumber;
using calibration::ShownValue;
using calibration::ToDoubles;

// An individual of a population: where it was drawn (the generation and its
// place among that generation's candidates), its objectives, its summary
// and its runs.
struct TIndividual {
  std::vector<double> coordinates;
  std::vector<double> objectives;
  std::vector<double> summary;
  QStringList folders;
  int32_t generation = 0;
  int32_t candidate = 0;
};

// A generation as its state.json keeps it: the population it leaves, and
// the objectives of every candidate it made (the front's figure draws them).
struct TNsgaState {
  int32_t generation = 0;
  qint64 runs = 0;  // made so far, this generation's included
  std::vector<double> scales;
  std::vector<TIndividual> population;
  std::vector<std::vector<double>> made;
};

QJsonObject IndividualJson(const TIndividual& i) {
  return QJsonObject{{QStringLiteral("generation"), i.generation},
                     {QStringLiteral("candidate"), i.candidate},
                     {QStringLiteral("coordinates"), Doubles(i.coordinates)},
                     {QStringLiteral("objectives"), Doubles(i.objectives)},
                     {QStringLiteral("summary"), Doubles(i.summary)},
                     {QStringLiteral("runs"), QJsonArray::fromStringList(i.folders)}};
}

QByteArray StateBytes(const TNsgaState& s) {
  QJsonArray population;
  for (const TIndividual& i : s.population) population.append(IndividualJson(i));
  QJsonArray made;
  for (const auto& o : s.made) made.append(Doubles(o));
  const QJsonObject state{{QStringLiteral("generation"), s.generation},
                          {QStringLiteral("runs"), static_cast<double>(s.runs)},
                          {QStringLiteral("scales"), Doubles(s.scales)},
                          {QStringLiteral("population"), population},
                          {QStringLiteral("candidates_objectives"), made}};
  return QJsonDocument(state).toJson(QJsonDocument::Indented);
}

TResult<TNsgaState> ReadState(const QString& path, const TCalibrationSpec& spec) {
  TResult<QByteArray> bytes = ReadBounded(path, kStateByteLimit);
  if (!bytes) return bytes.Error();
  const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
  TNsgaState s;
  s.generation = o.value(QStringLiteral("generation")).toInt(-1);
  s.runs = static_cast<qint64>(o.value(QStringLiteral("runs")).toDouble());
  s.scales = ToDoubles(o.value(QStringLiteral("scales")).toArray());
  const auto factors = spec.factors.size();
  const auto measures = static_cast<size_t>(spec.measures.size());
  const TError wrong = Refused(QStringLiteral("%1 is not a generation of this calibration").arg(path));
  for (const auto& v : o.value(QStringLiteral("population")).toArray()) {
    const QJsonObject p = v.toObject();
    TIndividual i;
    i.generation = p.value(QStringLiteral("generation")).toInt();
    i.candidate = p.value(QStringLiteral("candidate")).toInt();
    i.coordinates = ToDoubles(p.value(QStringLiteral("coordinates")).toArray());
    i.objectives = ToDoubles(p.value(QStringLiteral("objectives")).toArray());
    i.summary = ToDoubles(p.value(QStringLiteral("summary")).toArray());
    for (const auto& f : p.value(QStringLiteral("runs")).toArray()) i.folders << f.toString();
    const auto finite = [](double x) { return std::isfinite(x); };
    if (i.coordinates.size() != factors || i.objectives.size() != measures || i.summary.size() != measures ||
        !std::all_of(i.coordinates.begin(), i.coordinates.end(), finite) ||
        !std::all_of(i.objectives.begin(), i.objectives.end(), finite))
      return wrong;
    s.population.push_back(std::move(i));
  }
  for (const auto& v : o.value(QStringLiteral("candidates_objectives")).toArray())
    s.made.push_back(ToDoubles(v.toArray()));
  if (s.population.size() != static_cast<size_t>(spec.population) || s.scales.size() != measures) return wrong;
  return s;
}

// What a generation's batch made, and why it failed when it did.
struct TBatch {
  const TCalibrationSpec* spec = nullptr;
  const TSimulate* simulate = nullptr;
  QString folder;
  int32_t generation = 0;
  std::vector<double> scales;
  std::vector<TIndividual> made;
  std::optional<TError> error;
};

// Thrown through pagmo when the sweep fails; the batch holds the reason.
struct TBatchFailed {};

// The candidates of one generation: candidates.csv, one sweep, and their
// summaries read back, each as an individual.
TStatus Evaluate(TBatch& batch, const std::vector<std::vector<double>>& coordinates) {
  const TCalibrationSpec& spec = *batch.spec;
  std::vector<TCandidate> candidates;
  for (size_t c = 0; c < coordinates.size(); ++c)
    candidates.push_back(MakeCandidate(spec, coordinates[c], batch.generation, static_cast<int32_t>(c)));
  if (TStatus saved =
          SaveBytes(CandidatesTable(spec, candidates), QDir(batch.folder).filePath(QLatin1String(kCandidatesName)));
      !saved)
    return saved;
  TResult<std::vector<TOutcome>> outcomes = (*batch.simulate)(batch.folder, batch.generation, candidates);
  if (!outcomes) return outcomes.Error();
  if (outcomes->size() != candidates.size())
    return Failed(QStringLiteral("%1: %2 outcomes for %3 candidates")
                      .arg(batch.folder)
                      .arg(outcomes->size())
                      .arg(candidates.size()));
  if (batch.scales.empty()) {
    std::vector<std::vector<double>> summaries;
    for (const TOutcome& o : *outcomes) summaries.push_back(o.summary);
    batch.scales = Scales(summaries);
  }
  for (size_t c = 0; c < candidates.size(); ++c) {
    const TOutcome& o = (*outcomes)[c];
    batch.made.push_back({coordinates[c], Objectives(o.summary, spec.target, batch.scales), o.summary, o.folders,
                          batch.generation, static_cast<int32_t>(c)});
  }
  return Success();
}

// The box of the priors' coordinates.
void Box(const TCalibrationSpec& spec, TNsgaGeneration& g) {
  for (const TCalibrationFactor& f : spec.factors) {
    g.lo.push_back(f.prior.log ? std::log(f.prior.lo) : f.prior.lo);
    g.hi.push_back(f.prior.log ? std::log(f.prior.hi) : f.prior.hi);
  }
}

// The seed of generation g's nsga2, of the calibration's own streams.
unsigned NsgaSeed(const TCalibrationSpec& spec, int32_t generation) {
  return static_cast<unsigned>(GenerationStream(spec.seed, generation) >> 32);
}

// The population nsga2 leaves after generation g, each individual found
// again among the parents and the offspring by its coordinates and
// objectives (the first not yet taken: copies stay apart).
TResult<std::vector<TIndividual>> Evolve(const TNsgaEngine& engine, const TCalibrationSpec& spec,
                                         const TNsgaState& previous, TBatch& batch) {
  TNsgaGeneration g;
  Box(spec, g);
  g.objectives = static_cast<size_t>(spec.measures.size());
  g.seed = NsgaSeed(spec, batch.generation);
  g.crossover = kNsgaCrossover;
  g.crossoverIndex = kNsgaCrossoverIndex;
  g.mutation = NsgaMutation(spec.factors.size());
  g.mutationIndex = kNsgaMutationIndex;
  for (const TIndividual& i : previous.population) {
    g.x.push_back(i.coordinates);
    g.f.push_back(i.objectives);
  }
  // The offspring as one sweep.
  const TNsgaBatch sweep = [&batch](const std::vector<std::vector<double>>& coordinates) {
    if (TStatus ok = Evaluate(batch, coordinates); !ok) {
      batch.error = ok.Error();
      throw TBatchFailed{};
    }
    std::vector<double> fitness;
    for (const TIndividual& i : batch.made) fitness.insert(fitness.end(), i.objectives.begin(), i.objectives.end());
    return fitness;
  };
  std::vector<std::vector<double>> xs;
  std::vector<std::vector<double>> fs;
  try {
    engine.evolve(g, sweep, xs, fs);
  } catch (const TBatchFailed&) {
    return *batch.error;
  } catch (const std::exception& e) {
    return Failed(QStringLiteral("%1: NSGA-II failed: %2").arg(batch.folder, QString::fromUtf8(e.what())));
  }
  std::vector<const TIndividual*> pool;
  for (const TIndividual& i : previous.population) pool.push_back(&i);
  for (const TIndividual& i : batch.made) pool.push_back(&i);
  std::vector<bool> taken(pool.size(), false);
  std::vector<TIndividual> next;
  for (size_t n = 0; n < xs.size(); ++n) {
    const auto& x = xs[n];
    const auto& f = fs[n];
    size_t at = 0;
    while (at < pool.size() && (taken[at] || pool[at]->coordinates != x || pool[at]->objectives != f)) ++at;
    if (at == pool.size())
      return Failed(QStringLiteral("%1: NSGA-II kept an individual it was not given").arg(batch.folder));
    taken[at] = true;
    next.push_back(*pool[at]);
  }
  return next;
}

QString ObjectiveName(const QString& measure) { return QStringLiteral("distance_") + measure; }

// pareto.csv: the last population, the front (rank 0) first, each rank by
// crowding distance, widest first.
QByteArray ParetoTable(const TNsgaEngine& engine, const TCalibrationSpec& spec, const TNsgaState& last) {
  QStringList header{QStringLiteral("generation"), QStringLiteral("individual")};
  for (const TCalibrationFactor& f : spec.factors) header << f.option << f.option + QStringLiteral("_run");
  for (const QString& m : spec.measures) header << ObjectiveName(m);
  header << QStringLiteral("rank") << QStringLiteral("crowding");
  for (const QString& m : spec.measures) header << m;
  header << QStringLiteral("run_folders");
  QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  std::vector<std::vector<double>> objectives;
  for (const TIndividual& i : last.population) objectives.push_back(i.objectives);
  const TRanking ranking = RankAndCrowd(engine, objectives);
  std::vector<size_t> order(last.population.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    if (ranking.rank[a] != ranking.rank[b]) return ranking.rank[a] < ranking.rank[b];
    return ranking.crowding[a] > ranking.crowding[b];
  });
  for (const size_t n : order) {
    const TIndividual& i = last.population[n];
    QStringList row{QString::number(i.generation), QString::number(i.candidate)};
    for (size_t f = 0; f < spec.factors.size(); ++f)
      row << ShownValue(spec, f, i.coordinates[f])
          << RunNumber(spec.RunValue(f, i.coordinates[f]) / spec.factors[f].unit);
    for (size_t m = 0; m < i.objectives.size(); ++m)
      row << (std::isnan(i.summary[m]) ? QString() : Number(i.objectives[m]));
    row << QString::number(ranking.rank[n]) << Number(ranking.crowding[n]);
    for (const double v : i.summary) row << (std::isnan(v) ? QString() : Number(v));
    row << CsvCell(i.folders.join(QLatin1Char(' ')));
    text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return text.toUtf8();
}

// generations.csv: per generation its candidates and runs, the size of its
// population's front and each objective's least value in the population.
QByteArray GenerationsTable(const TNsgaEngine& engine, const TCalibrationSpec& spec,
                            const std::vector<TNsgaState>& states) {
  QStringList header{QStringLiteral("generation"), QStringLiteral("candidates"), QStringLiteral("runs"),
                     QStringLiteral("total_runs"), QStringLiteral("front")};
  for (const QString& m : spec.measures) header << QStringLiteral("least_") + ObjectiveName(m);
  QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  qint64 before = 0;
  for (const TNsgaState& s : states) {
    std::vector<std::vector<double>> objectives;
    for (const TIndividual& i : s.population) objectives.push_back(i.objectives);
    const TRanking ranking = RankAndCrowd(engine, objectives);
    QStringList row{QString::number(s.generation), QString::number(spec.Candidates(s.generation)),
                    QString::number(s.runs - before), QString::number(s.runs),
                    QString::number(std::count(ranking.rank.begin(), ranking.rank.end(), size_t{0}))};
    for (size_t m = 0; m < static_cast<size_t>(spec.measures.size()); ++m) {
      double least = std::numeric_limits<double>::infinity();
      for (const auto& o : objectives) least = std::min(least, o[m]);
      row << Number(least);
    }
    text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    before = s.runs;
  }
  return text.toUtf8();
}

TStatus DrawFront(const TNsgaEngine& engine, const QString& dir, const TCalibrationSpec& spec,
                  const std::vector<TNsgaState>& states) {
  TFrontPicture picture;
  for (const QString& m : spec.measures) picture.objectives << ObjectiveName(m);
  for (const TNsgaState& s : states) {
    for (const auto& o : s.made) {
      if (std::all_of(o.begin(), o.end(), [](double v) { return v < kMissingObjective; }))
        picture.evaluated.push_back(o);
    }
  }
  std::vector<std::vector<double>> last;
  for (const TIndividual& i : states.back().population) last.push_back(i.objectives);
  const TRanking ranking = RankAndCrowd(engine, last);
  for (size_t n = 0; n < last.size(); ++n) {
    if (!std::all_of(last[n].begin(), last[n].end(), [](double v) { return v < kMissingObjective; })) continue;
    (ranking.rank[n] == 0 ? picture.front : picture.population).push_back(last[n]);
  }
  picture.generations = static_cast<int32_t>(states.size());
  return WriteFrontFigure(dir, picture);
}

}  // namespace

TStatus CheckNsgaSpec(const TCalibrationSpec& spec) {
  if (spec.measures.size() < 2)
    return Refused(QStringLiteral("NSGA-II needs two or more target measures, each an objective of its own"));
  if (spec.population < kMinPopulation || spec.population % kPopulationMultiple != 0)
    return Refused(QStringLiteral("NSGA-II takes a population that is a multiple of %1 from %2, not %3")
                       .arg(kPopulationMultiple)
                       .arg(kMinPopulation)
                       .arg(spec.population));
  if (spec.generations && *spec.generations < 0) return Refused(QStringLiteral("NSGA-II takes 0 or more generations"));
  return Success();
}

std::vector<double> Objectives(std::span<const double> summary, std::span<const double> target,
                               std::span<const double> scales) {
  std::vector<double> objectives;
  for (size_t j = 0; j < target.size(); ++j) {
    objectives.push_back(std::isnan(summary[j])
                             ? kMissingObjective
                             : std::min(std::abs(summary[j] - target[j]) / scales[j], kMissingObjective));
  }
  return objectives;
}

TResult<const TNsgaEngine*> LoadNsgaEngine() {
  static QLibrary library;
  static const TNsgaEngine* engine = nullptr;
  if (engine != nullptr) return engine;
  library.setFileName(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(PATHWICK_NSGA_MODULE)));
  if (!library.load()) return Failed(QStringLiteral("NSGA-II cannot be loaded: %1").arg(library.errorString()));
  const auto entry = reinterpret_cast<const TNsgaEngine* (*)()>(library.resolve(PATHWICK_NSGA_ENGINE));
  if (entry == nullptr)
    return Failed(QStringLiteral("%1 holds no NSGA-II (%2)").arg(library.fileName(), library.errorString()));
  engine = entry();
  return engine;
}

TRanking RankAndCrowd(const TNsgaEngine& engine, const std::vector<std::vector<double>>& objectives) {
  TRanking ranking{std::vector<size_t>(objectives.size(), 0),
                   std::vector<double>(objectives.size(), std::numeric_limits<double>::infinity())};
  if (objectives.size() < 2) return ranking;
  const auto fronts = engine.fronts(objectives);
  for (size_t r = 0; r < fronts.size(); ++r) {
    for (const auto n : fronts[r]) ranking.rank[n] = r;
    if (fronts[r].size() < 2) continue;  // a lone point is as far from the others as can be
    std::vector<std::vector<double>> front;
    for (const auto n : fronts[r]) front.push_back(objectives[n]);
    const std::vector<double> crowding = engine.crowding(front);
    for (size_t k = 0; k < fronts[r].size(); ++k) ranking.crowding[fronts[r][k]] = crowding[k];
  }
  return ranking;
}

TResult<TCalibrationEnd> CalibrateNsga2(const QString& dir, const TCalibrationSpec& spec, const TSimulate& simulate,
                                        const std::function<void(const QString&)>& progress) {
  TResult<const TNsgaEngine*> loaded = LoadNsgaEngine();
  if (!loaded) return loaded.Error();
  const TNsgaEngine& engine = **loaded;
  const QDir folder(dir);
  std::vector<TNsgaState> states;
  TCalibrationEnd end;
  const qint64 generationRuns = qint64{spec.population} * spec.seedsPerParticle;
  for (int32_t g = 0;; ++g) {
    const TNsgaState* previous = states.empty() ? nullptr : &states.back();
    if (previous) {
      if (spec.generations && g > *spec.generations) {
        end.reason = QStringLiteral("the generations asked for (%1) are made").arg(*spec.generations);
        break;
      }
      if (previous->runs + generationRuns > spec.budget) {
        end.reason = QStringLiteral("the next generation would pass the budget of %1 runs").arg(spec.budget);
        break;
      }
    }
    const QString genDir = folder.filePath(GenerationName(g));
    const QString statePath = QDir(genDir).filePath(QLatin1String(kStateName));
    if (QFileInfo(statePath).isFile()) {
      TResult<TNsgaState> state = ReadState(statePath, spec);
      if (!state) return state.Error();
      states.push_back(std::move(*state));
      continue;
    }
    if (TStatus made = MakeFolder(genDir); !made) return made.Error();
    TBatch batch{&spec, &simulate, genDir, g, previous ? previous->scales : std::vector<double>{}, {}, {}};
    TNsgaState state;
    state.generation = g;
    if (!previous) {
      TAbcRandom random(GenerationStream(spec.seed, 0));
      if (TStatus ok = Evaluate(batch, DrawFromPrior(spec.Prior(), static_cast<size_t>(spec.population), random)); !ok)
        return ok.Error();
      state.population = batch.made;
    } else {
      TResult<std::vector<TIndividual>> next = Evolve(engine, spec, *previous, batch);
      if (!next) return next.Error();
      state.population = std::move(*next);
    }
    state.scales = batch.scales;
    state.runs = (previous ? previous->runs : 0) + generationRuns;
    for (const TIndividual& i : batch.made) state.made.push_back(i.objectives);
    // The generation counts as finished once its state is in place.
    if (TStatus saved = SaveBytes(StateBytes(state), statePath); !saved) return saved.Error();
    if (progress) {
      std::vector<std::vector<double>> objectives;
      for (const TIndividual& i : state.population) objectives.push_back(i.objectives);
      const TRanking ranking = RankAndCrowd(engine, objectives);
      progress(QStringLiteral("generation %1: %2 of %3 on the front, %4 runs so far")
                   .arg(g)
                   .arg(std::count(ranking.rank.begin(), ranking.rank.end(), size_t{0}))
                   .arg(state.population.size())
                   .arg(state.runs));
    }
    states.push_back(std::move(state));
  }
  if (TStatus saved =
          SaveBytes(GenerationsTable(engine, spec, states), folder.filePath(QLatin1String(kGenerationsName)));
      !saved)
    return saved.Error();
  if (TStatus saved = SaveBytes(ParetoTable(engine, spec, states.back()), folder.filePath(QLatin1String(kParetoName)));
      !saved)
    return saved.Error();
  if (TStatus drawn = DrawFront(engine, dir, spec, states); !drawn) return drawn.Error();
  end.generations = static_cast<int32_t>(states.size());
  end.runs = states.back().runs;
  return end;
}
