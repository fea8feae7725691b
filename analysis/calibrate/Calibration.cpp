#include "Calibration.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <limits>

#include "AtomicFile.h"
#include "BoundedFile.h"
#include "CalibrationFigures.h"
#include "CalibrationFolder.h"
#include "Nsga.h"
#include "Tables.h"

namespace calibration {

QString Number(double value) { return QString::number(value, 'g', 17); }
QString RunNumber(double value) { return QString::number(value, 'g', 12); }

QJsonArray Doubles(std::span<const double> values) {
  QJsonArray array;
  for (const double v : values) array.append(std::isfinite(v) ? QJsonValue(v) : QJsonValue());
  return array;
}

std::vector<double> ToDoubles(const QJsonArray& array) {
  std::vector<double> values;
  for (const auto& v : array) values.push_back(v.isDouble() ? v.toDouble() : std::numeric_limits<double>::quiet_NaN());
  return values;
}

QString ShownValue(const TCalibrationSpec& spec, size_t f, double coordinate) {
  return Number(spec.Prior().Value(f, coordinate) / spec.factors[f].unit);
}

QByteArray CandidatesTable(const TCalibrationSpec& spec, const std::vector<TCandidate>& candidates) {
  const bool weighted = spec.method == TCalibrationMethod::kAbcSmc;
  QStringList header{QStringLiteral("candidate")};
  for (const TCalibrationFactor& f : spec.factors) header << f.option << f.option + QStringLiteral("_run");
  if (weighted) header << QStringLiteral("weight");
  header << QStringLiteral("seeds");
  QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  for (size_t c = 0; c < candidates.size(); ++c) {
    QStringList row{QString::number(c)};
    for (size_t f = 0; f < spec.factors.size(); ++f) {
      row << ShownValue(spec, f, candidates[c].coordinates[f])
          << RunNumber(candidates[c].values[f] / spec.factors[f].unit);
    }
    QStringList seeds;
    for (const uint32_t s : candidates[c].seeds) seeds << QString::number(s);
    if (weighted) row << Number(candidates[c].weight);
    row << seeds.join(QLatin1Char(' '));
    text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return text.toUtf8();
}

TCandidate MakeCandidate(const TCalibrationSpec& spec, std::vector<double> coordinates, int32_t generation,
                         int32_t candidate, double weight) {
  TCandidate made{std::move(coordinates), {}, {}, weight};
  for (size_t f = 0; f < spec.factors.size(); ++f) made.values.push_back(spec.RunValue(f, made.coordinates[f]));
  for (int32_t k = 0; k < spec.seedsPerParticle; ++k)
    made.seeds.push_back(RunSeed(spec.seed, generation, candidate, k));
  return made;
}

TStatus MakeFolder(const QString& path) {
  const QFileInfo info(path);
  if (info.isSymLink() || (info.exists() && !info.isDir())) {
    return Refused(QStringLiteral("refused to use %1: it is not a folder (a link or a file)").arg(path));
  }
  if (!info.exists() && !QDir().mkdir(path)) return Failed(QStringLiteral("cannot make the folder %1").arg(path));
  return Success();
}

}  // namespace calibration

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

QJsonObject SpecJson(const TCalibrationSpec& spec) {
  QJsonArray factors;
  for (const TCalibrationFactor& f : spec.factors) {
    factors.append(QJsonObject{{QStringLiteral("setting"), f.option},
                               {QStringLiteral("lo"), f.prior.lo},
                               {QStringLiteral("hi"), f.prior.hi},
                               {QStringLiteral("log"), f.prior.log},
                               {QStringLiteral("unit"), f.unit}});
  }
  QJsonObject target;
  for (qsizetype m = 0; m < spec.measures.size(); ++m) target.insert(spec.measures[m], spec.target[m]);
  // What both methods record (a QJsonObject keeps its keys in order).
  QJsonObject json{{QStringLiteral("factors"), factors},
                   {QStringLiteral("measures"), QJsonArray::fromStringList(spec.measures)},
                   {QStringLiteral("target"), target},
                   {QStringLiteral("target_source"), spec.targetSource},
                   {QStringLiteral("model"), spec.model},
                   {QStringLiteral("steps"), spec.steps},
                   {QStringLiteral("window"), spec.window},
                   {QStringLiteral("budget"), static_cast<double>(spec.budget)},
                   {QStringLiteral("calibration_seed"), static_cast<double>(spec.seed)},
                   {QStringLiteral("truth"), spec.truth ? QJsonValue(Doubles(*spec.truth)) : QJsonValue()}};
  if (spec.method == TCalibrationMethod::kNsga2) {
    json.insert(QStringLiteral("method"), QLatin1String(MethodName(spec.method)));
    json.insert(QStringLiteral("seeds_per_individual"), spec.seedsPerParticle);
    json.insert(QStringLiteral("population"), spec.population);
    json.insert(QStringLiteral("generations"), spec.generations ? QJsonValue(*spec.generations) : QJsonValue());
    json.insert(QStringLiteral("crossover_probability"), kNsgaCrossover);
    json.insert(QStringLiteral("crossover_index"), kNsgaCrossoverIndex);
    json.insert(QStringLiteral("mutation_probability"), NsgaMutation(spec.factors.size()));
    json.insert(QStringLiteral("mutation_index"), kNsgaMutationIndex);
  } else {
    json.insert(QStringLiteral("method"), QStringLiteral("abc-smc"));
    json.insert(QStringLiteral("seeds_per_particle"), spec.seedsPerParticle);
    json.insert(QStringLiteral("particles"), spec.particles);
    json.insert(QStringLiteral("acceptance_floor"), spec.acceptanceFloor);
    json.insert(QStringLiteral("quantile"), kQuantile);
  }
  return json;
}

QByteArray SpecBytes(const TCalibrationSpec& spec) {
  return QJsonDocument(SpecJson(spec)).toJson(QJsonDocument::Indented);
}

// One generation as its state.json keeps it: what the next one and the
// tables are made from.
struct TGenerationState {
  int32_t generation = 0;
  double tolerance = 0;
  double acceptance = 1;
  qint64 runs = 0;  // made so far, this generation's included
  std::vector<double> scales;
  std::vector<TParticle> kept;
  std::vector<QStringList> keptFolders;  // per kept particle
  std::vector<std::vector<double>> keptSummaries;
};

QByteArray StateBytes(const TGenerationState& s) {
  QJsonArray particles;
  for (size_t i = 0; i < s.kept.size(); ++i) {
    const TParticle& p = s.kept[i];
    particles.append(QJsonObject{{QStringLiteral("generation"), p.generation},
                                 {QStringLiteral("candidate"), p.candidate},
                                 {QStringLiteral("coordinates"), Doubles(p.coordinates)},
                                 {QStringLiteral("distance"), p.distance},
                                 {QStringLiteral("weight"), p.weight},
                                 {QStringLiteral("summary"), Doubles(s.keptSummaries[i])},
                                 {QStringLiteral("runs"), QJsonArray::fromStringList(s.keptFolders[i])}});
  }
  const QJsonObject state{
      {QStringLiteral("generation"), s.generation},  {QStringLiteral("tolerance"), s.tolerance},
      {QStringLiteral("acceptance"), s.acceptance},  {QStringLiteral("runs"), static_cast<double>(s.runs)},
      {QStringLiteral("scales"), Doubles(s.scales)}, {QStringLiteral("particles"), particles}};
  return QJsonDocument(state).toJson(QJsonDocument::Indented);
}

TResult<TGenerationState> ReadState(const QString& path, const TCalibrationSpec& spec) {
  TResult<QByteArray> bytes = ReadBounded(path, kStateByteLimit);
  if (!bytes) return bytes.Error();
  const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
  TGenerationState s;
  s.generation = o.value(QStringLiteral("generation")).toInt(-1);
  s.tolerance = o.value(QStringLiteral("tolerance")).toDouble();
  s.acceptance = o.value(QStringLiteral("acceptance")).toDouble();
  s.runs = static_cast<qint64>(o.value(QStringLiteral("runs")).toDouble());
  s.scales = ToDoubles(o.value(QStringLiteral("scales")).toArray());
  for (const auto& v : o.value(QStringLiteral("particles")).toArray()) {
    const QJsonObject p = v.toObject();
    TParticle particle{ToDoubles(p.value(QStringLiteral("coordinates")).toArray()),
                       p.value(QStringLiteral("distance")).toDouble(), p.value(QStringLiteral("weight")).toDouble(),
                       p.value(QStringLiteral("generation")).toInt(), p.value(QStringLiteral("candidate")).toInt()};
    if (particle.coordinates.size() != spec.factors.size()) {
      return Refused(QStringLiteral("%1 is not a generation of this calibration: a particle has %2 coordinates")
                         .arg(path)
                         .arg(particle.coordinates.size()));
    }
    s.kept.push_back(std::move(particle));
    s.keptSummaries.push_back(ToDoubles(p.value(QStringLiteral("summary")).toArray()));
    QStringList folders;
    for (const auto& f : p.value(QStringLiteral("runs")).toArray()) folders << f.toString();
    s.keptFolders.push_back(folders);
  }
  if (s.kept.empty() || s.scales.size() != static_cast<size_t>(spec.measures.size()) ||
      s.kept.size() != static_cast<size_t>(spec.particles)) {
    return Refused(QStringLiteral("%1 is not a generation of this calibration").arg(path));
  }
  return s;
}

// posterior.csv: the kept particles of the last generation, nearest first.
QByteArray PosteriorTable(const TCalibrationSpec& spec, const TGenerationState& s) {
  QStringList header{QStringLiteral("generation"), QStringLiteral("particle")};
  for (const TCalibrationFactor& f : spec.factors) header << f.option << f.option + QStringLiteral("_run");
  header << QStringLiteral("distance") << QStringLiteral("weight");
  for (const QString& m : spec.measures) header << m;
  header << QStringLiteral("run_folders");
  QString text = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  double total = 0;
  for (const TParticle& p : s.kept) total += p.weight;
  for (size_t i = 0; i < s.kept.size(); ++i) {
    const TParticle& p = s.kept[i];
    QStringList row{QString::number(p.generation), QString::number(p.candidate)};
    for (size_t f = 0; f < spec.factors.size(); ++f)
      row << ShownValue(spec, f, p.coordinates[f])
          << RunNumber(spec.RunValue(f, p.coordinates[f]) / spec.factors[f].unit);
    row << Number(p.distance) << Number(p.weight / total);
    for (const double v : s.keptSummaries[i]) row << (std::isnan(v) ? QString() : Number(v));
    row << CsvCell(s.keptFolders[i].join(QLatin1Char(' ')));
    text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  return text.toUtf8();
}

QByteArray GenerationsTable(const std::vector<TGenerationState>& states, const TCalibrationSpec& spec) {
  QString text = QStringLiteral("generation,candidates,runs,total_runs,tolerance,acceptance\n");
  qint64 before = 0;
  for (const TGenerationState& s : states) {
    text += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                .arg(s.generation)
                .arg(spec.Candidates(s.generation))
                .arg(s.runs - before)
                .arg(s.runs)
                .arg(Number(s.tolerance), Number(s.acceptance));
    before = s.runs;
  }
  return text.toUtf8();
}

// The candidates of a generation, drawn from its own stream.
std::vector<TCandidate> DrawCandidates(const TCalibrationSpec& spec, int32_t generation,
                                       const TGenerationState* previous) {
  TAbcRandom random(GenerationStream(spec.seed, generation));
  const TPrior prior = spec.Prior();
  const auto count = static_cast<size_t>(spec.Candidates(generation));
  TProposal proposal;
  if (!previous) {
    proposal.coordinates = DrawFromPrior(prior, count, random);
    proposal.weights.assign(count, 1.0);
  } else {
    proposal = Propose(prior, previous->kept, count, random);
  }
  std::vector<TCandidate> candidates;
  for (size_t c = 0; c < proposal.coordinates.size(); ++c) {
    candidates.push_back(
        MakeCandidate(spec, proposal.coordinates[c], generation, static_cast<int32_t>(c), proposal.weights[c]));
  }
  return candidates;
}

TStatus CheckSpec(const TCalibrationSpec& spec) {
  if (spec.factors.empty()) return Refused(QStringLiteral("a calibration needs at least one factor with its range"));
  if (spec.measures.isEmpty() || static_cast<size_t>(spec.measures.size()) != spec.target.size())
    return Refused(QStringLiteral("a calibration needs a target: at least one measure and its value"));
  for (const TCalibrationFactor& f : spec.factors) {
    if (!(f.prior.hi > f.prior.lo) || (f.prior.log && !(f.prior.lo > 0)))
      return Refused(QStringLiteral("the range of %1 is empty, or a log range does not lie above 0").arg(f.option));
  }
  if (spec.method == TCalibrationMethod::kNsga2) {
    if (TStatus ok = CheckNsgaSpec(spec); !ok) return ok;
  } else if (spec.particles < 2) {
    return Refused(QStringLiteral("a calibration needs at least 2 particles"));
  }
  const qint64 first = qint64{spec.Candidates(0)} * spec.seedsPerParticle + spec.PredictiveRuns();
  if (spec.method == TCalibrationMethod::kNsga2 && spec.budget < first) {
    return Refused(
        QStringLiteral("a budget of %1 runs does not cover the first population, %2 runs").arg(spec.budget).arg(first));
  }
  if (spec.budget < first) {
    return Refused(QStringLiteral("a budget of %1 runs does not cover the first generation and the posterior "
                                  "predictive, %2 runs")
                       .arg(spec.budget)
                       .arg(first));
  }
  if (spec.truth && spec.truth->size() != spec.factors.size())
    return Refused(
        QStringLiteral("the truth names %1 values for %2 factors").arg(spec.truth->size()).arg(spec.factors.size()));
  return Success();
}

// The posterior predictive: one run of each of `particles` draws from the
// posterior (by weight, not moved), in DIR/predictive as a generation's
// runs; read back when it is already made.
TResult<std::vector<TOutcome>> Predictive(const QString& dir, const TCalibrationSpec& spec,
                                          const TGenerationState& last, const TSimulate& simulate) {
  const QString predictiveDir = QDir(dir).filePath(QLatin1String(kPredictiveFolderName));
  const QString statePath = QDir(predictiveDir).filePath(QLatin1String(kStateName));
  const QString tablePath = QDir(dir).filePath(QLatin1String(kPredictiveTableName));
  TAbcRandom random(GenerationStream(spec.seed, kPredictiveStream));
  std::vector<double> cumulative;
  double total = 0;
  for (const TParticle& p : last.kept) cumulative.push_back(total += p.weight);
  std::vector<TCandidate> candidates;
  for (int32_t c = 0; c < spec.PredictiveRuns(); ++c) {
    const double u = random.Uniform() * total;
    const auto from = std::min<size_t>(
        static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin()),
        last.kept.size() - 1);
    TCandidate candidate{last.kept[from].coordinates, {}, {RunSeed(spec.seed, kPredictiveStream, c, 0)}, 1};
    for (size_t f = 0; f < spec.factors.size(); ++f)
      candidate.values.push_back(spec.RunValue(f, candidate.coordinates[f]));
    candidates.push_back(std::move(candidate));
  }
  std::vector<TOutcome> outcomes;
  if (QFileInfo(statePath).isFile()) {
    TResult<QByteArray> bytes = ReadBounded(statePath, kStateByteLimit);
    if (!bytes) return bytes.Error();
    for (const auto& v : QJsonDocument::fromJson(*bytes).object().value(QStringLiteral("runs")).toArray()) {
      const QJsonObject o = v.toObject();
      QStringList folders;
      for (const auto& f : o.value(QStringLiteral("runs")).toArray()) folders << f.toString();
      outcomes.push_back({ToDoubles(o.value(QStringLiteral("summary")).toArray()), folders});
    }
    if (outcomes.size() != candidates.size())
      return Refused(QStringLiteral("%1 is not this calibration's posterior predictive").arg(statePath));
    return outcomes;
  }
  if (TStatus made = MakeFolder(predictiveDir); !made) return made.Error();
  if (TStatus saved =
          SaveBytes(CandidatesTable(spec, candidates), QDir(predictiveDir).filePath(QLatin1String(kCandidatesName)));
      !saved)
    return saved.Error();
  TResult<std::vector<TOutcome>> made = simulate(predictiveDir, kPredictiveStream, candidates);
  if (!made) return made.Error();
  if (made->size() != candidates.size()) return Failed(QStringLiteral("%1: outcomes missing").arg(predictiveDir));
  QJsonArray runs;
  QStringList header{QStringLiteral("run")};
  for (const TCalibrationFactor& f : spec.factors) header << f.option << f.option + QStringLiteral("_run");
  header << spec.measures << QStringLiteral("run_folders");
  QString table = header.join(QLatin1Char(',')) + QLatin1Char('\n');
  for (size_t c = 0; c < made->size(); ++c) {
    const TOutcome& o = (*made)[c];
    runs.append(QJsonObject{{QStringLiteral("summary"), Doubles(o.summary)},
                            {QStringLiteral("runs"), QJsonArray::fromStringList(o.folders)}});
    QStringList row{QString::number(c)};
    for (size_t f = 0; f < spec.factors.size(); ++f)
      row << ShownValue(spec, f, candidates[c].coordinates[f])
          << RunNumber(candidates[c].values[f] / spec.factors[f].unit);
    for (const double v : o.summary) row << (std::isnan(v) ? QString() : Number(v));
    row << CsvCell(o.folders.join(QLatin1Char(' ')));
    table += row.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  if (TStatus saved = SaveBytes(table.toUtf8(), tablePath); !saved) return saved.Error();
  if (TStatus saved = SaveBytes(QJsonDocument(QJsonObject{{QStringLiteral("runs"), runs}}).toJson(), statePath); !saved)
    return saved.Error();
  return made;
}

TStatus WriteFigures(const QString& dir, const TCalibrationSpec& spec, const std::vector<TGenerationState>& states,
                     const std::vector<TOutcome>& predictive) {
  TCalibrationPicture picture;
  const TPrior prior = spec.Prior();
  for (const TCalibrationFactor& f : spec.factors) {
    picture.factors << f.option;
    picture.priors.push_back({f.prior.lo / f.unit, f.prior.hi / f.unit, f.prior.log});
  }
  for (const TParticle& p : states.back().kept) {
    std::vector<double> values;
    for (size_t f = 0; f < spec.factors.size(); ++f)
      values.push_back(prior.Value(f, p.coordinates[f]) / spec.factors[f].unit);
    picture.values.push_back(std::move(values));
    picture.weights.push_back(p.weight);
  }
  if (spec.truth) {
    std::vector<double> truth;
    for (size_t f = 0; f < spec.factors.size(); ++f) truth.push_back((*spec.truth)[f] / spec.factors[f].unit);
    picture.truth = truth;
  }
  for (const TGenerationState& s : states) {
    picture.tolerances.push_back(s.tolerance);
    picture.acceptances.push_back(s.acceptance);
  }
  picture.measures = spec.measures;
  picture.target = spec.target;
  for (const TOutcome& o : predictive) picture.predictive.push_back(o.summary);
  return WriteCalibrationFigures(dir, picture);
}

}  // namespace

TPrior TCalibrationSpec::Prior() const {
  TPrior prior;
  for (const TCalibrationFactor& f : factors) prior.factors.push_back(f.prior);
  return prior;
}

const char* MethodName(TCalibrationMethod method) { return method == TCalibrationMethod::kNsga2 ? "nsga2" : "abc-smc"; }

std::optional<TCalibrationMethod> FindMethod(const QString& name) {
  for (const TCalibrationMethod m : {TCalibrationMethod::kAbcSmc, TCalibrationMethod::kNsga2}) {
    if (name == QLatin1String(MethodName(m))) return m;
  }
  return std::nullopt;
}

int32_t TCalibrationSpec::Candidates(int32_t generation) const {
  if (method == TCalibrationMethod::kNsga2) return population;
  return generation == 0 ? static_cast<int32_t>(std::ceil(particles / kQuantile)) : particles;
}

int32_t TCalibrationSpec::RunValue(size_t factor, double coordinate) const {
  const TPriorFactor& p = factors[factor].prior;
  const double value = Prior().Value(factor, coordinate);
  return static_cast<int32_t>(std::clamp(std::round(value), std::ceil(p.lo), std::floor(p.hi)));
}

QString GenerationName(int32_t generation) { return QStringLiteral("gen-%1").arg(generation, 3, 10, QLatin1Char('0')); }

bool IsCalibrationFolder(const QString& dir) {
  return QFileInfo(QDir(dir).filePath(QLatin1String(kCalibrationSpecName))).isFile();
}

QStringList CalibrationRunFolders(const QString& dir) {
  QStringList folders;
  for (int32_t g = 0;; ++g) {
    const QString runs = QDir(dir).filePath(GenerationName(g) + QLatin1Char('/') + QLatin1String(kRunsFolderName));
    if (!QFileInfo(runs).isDir()) break;
    folders << runs;
  }
  const QString predictive =
      QDir(dir).filePath(QLatin1String(kPredictiveFolderName) + QLatin1Char('/') + QLatin1String(kRunsFolderName));
  if (QFileInfo(predictive).isDir()) folders << predictive;
  return folders;
}

TResult<TCalibrationSpec> ReadCalibrationSpec(const QString& dir) {
  const QString path = QDir(dir).filePath(QLatin1String(kCalibrationSpecName));
  TResult<QByteArray> bytes = ReadBounded(path, kStateByteLimit);
  if (!bytes) return bytes.Error();
  const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
  const std::optional<TCalibrationMethod> method = FindMethod(o.value(QStringLiteral("method")).toString());
  if (!method) return Refused(QStringLiteral("%1 is not a calibration's record").arg(path));
  TCalibrationSpec spec;
  spec.method = *method;
  for (const auto& v : o.value(QStringLiteral("factors")).toArray()) {
    const QJsonObject f = v.toObject();
    spec.factors.push_back({f.value(QStringLiteral("setting")).toString(),
                            {f.value(QStringLiteral("lo")).toDouble(), f.value(QStringLiteral("hi")).toDouble(),
                             f.value(QStringLiteral("log")).toBool()},
                            f.value(QStringLiteral("unit")).toDouble(1)});
  }
  for (const auto& v : o.value(QStringLiteral("measures")).toArray()) spec.measures << v.toString();
  const QJsonObject target = o.value(QStringLiteral("target")).toObject();
  for (const QString& m : spec.measures) spec.target.push_back(target.value(m).toDouble());
  spec.targetSource = o.value(QStringLiteral("target_source")).toString();
  spec.model = o.value(QStringLiteral("model")).toString();
  spec.steps = o.value(QStringLiteral("steps")).toInt();
  spec.window = o.value(QStringLiteral("window")).toInt();
  if (spec.method == TCalibrationMethod::kNsga2) {
    spec.seedsPerParticle = o.value(QStringLiteral("seeds_per_individual")).toInt();
    spec.population = o.value(QStringLiteral("population")).toInt();
    if (o.value(QStringLiteral("generations")).isDouble())
      spec.generations = o.value(QStringLiteral("generations")).toInt();
  } else {
    spec.seedsPerParticle = o.value(QStringLiteral("seeds_per_particle")).toInt();
    spec.particles = o.value(QStringLiteral("particles")).toInt();
  }
  spec.budget = static_cast<qint64>(o.value(QStringLiteral("budget")).toDouble());
  spec.seed = static_cast<uint32_t>(o.value(QStringLiteral("calibration_seed")).toDouble());
  spec.acceptanceFloor = o.value(QStringLiteral("acceptance_floor")).toDouble();
  if (o.value(QStringLiteral("truth")).isArray()) spec.truth = ToDoubles(o.value(QStringLiteral("truth")).toArray());
  if (TStatus ok = CheckSpec(spec); !ok) return Refused(path + QStringLiteral(": ") + ok.Error().message);
  return spec;
}

TResult<TCalibrationEnd> Calibrate(const QString& dir, const TCalibrationSpec& spec, const TSimulate& simulate,
                                   const std::function<void(const QString&)>& progress) {
  if (TStatus ok = CheckSpec(spec); !ok) return ok.Error();
  // NSGA-II's module is loaded before anything is made: a program without it
  // leaves no folder behind.
  if (spec.method == TCalibrationMethod::kNsga2) {
    if (TResult<const TNsgaEngine*> engine = LoadNsgaEngine(); !engine) return engine.Error();
  }
  const QDir folder(dir);
  const QByteArray specBytes = SpecBytes(spec);
  const QString specPath = folder.filePath(QLatin1String(kCalibrationSpecName));
  if (QFileInfo(dir).exists() && !IsCalibrationFolder(dir) && QFileInfo(dir).isDir() &&
      !QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
    return Refused(QStringLiteral("%1 holds files but no calibration: give an empty or a new folder").arg(dir));
  }
  if (TStatus made = MakeFolder(dir); !made) return made.Error();
  if (IsCalibrationFolder(dir)) {
    TResult<QByteArray> stored = ReadBounded(specPath, kStateByteLimit);
    if (!stored) return stored.Error();
    if (*stored != specBytes) {
      return Refused(QStringLiteral("%1 holds a calibration of another question (%2 differs); give a new folder")
                         .arg(dir, QLatin1String(kCalibrationSpecName)));
    }
  } else if (TStatus saved = SaveBytes(specBytes, specPath); !saved) {
    return saved.Error();
  }
  if (spec.method == TCalibrationMethod::kNsga2) return CalibrateNsga2(dir, spec, simulate, progress);

  std::vector<TGenerationState> states;
  TCalibrationEnd end;
  for (int32_t g = 0;; ++g) {
    const TGenerationState* previous = states.empty() ? nullptr : &states.back();
    if (previous) {
      if (g > 1 && previous->acceptance < spec.acceptanceFloor) {
        end.reason =
            QStringLiteral("the acceptance rate %1 fell below %2").arg(previous->acceptance).arg(spec.acceptanceFloor);
        break;
      }
      if (previous->runs + qint64{spec.Candidates(g)} * spec.seedsPerParticle + spec.PredictiveRuns() > spec.budget) {
        end.reason = QStringLiteral("the next generation would pass the budget of %1 runs").arg(spec.budget);
        break;
      }
    }
    const QString genDir = folder.filePath(GenerationName(g));
    const QString statePath = QDir(genDir).filePath(QLatin1String(kStateName));
    if (QFileInfo(statePath).isFile()) {
      TResult<TGenerationState> state = ReadState(statePath, spec);
      if (!state) return state.Error();
      states.push_back(std::move(*state));
      continue;
    }
    if (TStatus made = MakeFolder(genDir); !made) return made.Error();
    const std::vector<TCandidate> candidates = DrawCandidates(spec, g, previous);
    if (candidates.empty()) {
      end.reason = QStringLiteral("the kernel's draws stayed outside the prior");
      break;
    }
    if (TStatus saved =
            SaveBytes(CandidatesTable(spec, candidates), QDir(genDir).filePath(QLatin1String(kCandidatesName)));
        !saved)
      return saved.Error();
    TResult<std::vector<TOutcome>> outcomes = simulate(genDir, g, candidates);
    if (!outcomes) return outcomes.Error();
    if (outcomes->size() != candidates.size())
      return Failed(
          QStringLiteral("%1: %2 outcomes for %3 candidates").arg(genDir).arg(outcomes->size()).arg(candidates.size()));

    TGenerationState state;
    state.generation = g;
    state.runs =
        (previous ? previous->runs : 0) + qint64{spec.seedsPerParticle} * static_cast<qint64>(candidates.size());
    if (previous) {
      state.scales = previous->scales;
    } else {
      std::vector<std::vector<double>> summaries;
      for (const TOutcome& o : *outcomes) summaries.push_back(o.summary);
      state.scales = Scales(summaries);
    }
    std::vector<TParticle> drawn;
    for (size_t c = 0; c < candidates.size(); ++c) {
      drawn.push_back({candidates[c].coordinates, Distance((*outcomes)[c].summary, spec.target, state.scales),
                       candidates[c].weight, g, static_cast<int32_t>(c)});
    }
    std::vector<TParticle> kept = previous ? previous->kept : std::vector<TParticle>{};
    TAbcStep step = KeepNearest(kept, drawn, static_cast<size_t>(spec.particles), previous ? previous->tolerance : 0);
    state.tolerance = step.tolerance;
    state.acceptance = step.acceptance;
    state.kept = std::move(step.kept);
    for (const TParticle& p : state.kept) {
      if (p.generation == g) {
        state.keptSummaries.push_back((*outcomes)[p.candidate].summary);
        state.keptFolders.push_back((*outcomes)[p.candidate].folders);
      } else {
        const auto at = std::find_if(previous->kept.begin(), previous->kept.end(), [&](const TParticle& q) {
          return q.generation == p.generation && q.candidate == p.candidate;
        });
        const auto i = static_cast<size_t>(at - previous->kept.begin());
        state.keptSummaries.push_back(previous->keptSummaries[i]);
        state.keptFolders.push_back(previous->keptFolders[i]);
      }
    }
    if (!std::isfinite(state.tolerance)) {
      return Failed(QStringLiteral("%1: fewer than %2 candidates gave every measure of the target")
                        .arg(genDir)
                        .arg(spec.particles));
    }
    // The generation counts as finished once its state is in place.
    if (TStatus saved = SaveBytes(StateBytes(state), statePath); !saved) return saved.Error();
    if (progress) {
      progress(QStringLiteral("generation %1: tolerance %2, acceptance %3, %4 runs so far")
                   .arg(g)
                   .arg(state.tolerance, 0, 'g', 4)
                   .arg(state.acceptance, 0, 'g', 3)
                   .arg(state.runs));
    }
    states.push_back(std::move(state));
  }
  if (TStatus saved = SaveBytes(GenerationsTable(states, spec), folder.filePath(QLatin1String(kGenerationsName)));
      !saved)
    return saved.Error();
  if (TStatus saved = SaveBytes(PosteriorTable(spec, states.back()), folder.filePath(QLatin1String(kPosteriorName)));
      !saved)
    return saved.Error();
  TResult<std::vector<TOutcome>> predictive = Predictive(dir, spec, states.back(), simulate);
  if (!predictive) return predictive.Error();
  if (TStatus drawn = WriteFigures(dir, spec, states, *predictive); !drawn) return drawn.Error();
  end.generations = static_cast<int32_t>(states.size());
  end.runs = states.back().runs + spec.PredictiveRuns();
  return end;
}
