#include "ModelRuns.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cmath>
#include <limits>
#include <map>

#include "AtomicFile.h"
#include "StudyMeasures.h"
#include "Summary.h"

namespace {

std::optional<size_t> MeasureAt(const QString& name) {
  for (size_t m = 0; m < kDefaultStudyMeasures.size(); ++m) {
    if (name == QLatin1String(kDefaultStudyMeasures[m].name)) return m;
  }
  return std::nullopt;
}

// pathwick_sweep's name for the run of a job list's line (1-based).
QString SweepRunName(qsizetype line, uint32_t seed) {
  return QStringLiteral("run-%1-seed-%2").arg(line, 4, 10, QLatin1Char('0')).arg(seed);
}

}  // namespace

QString CandidateJobLine(const TCalibrationSpec& spec, const TModelRuns& model, const TCandidate& candidate, size_t k) {
  QStringList words;
  if (!model.fixed.isEmpty()) words << model.fixed;
  words << QStringLiteral("--steps %1 --seed %2").arg(spec.steps).arg(candidate.seeds[k]);
  for (size_t f = 0; f < spec.factors.size(); ++f) {
    const auto setting = FindSetting(spec.factors[f].option);
    words << QStringLiteral("--%1 %2").arg(spec.factors[f].option,
                                           FormatSettingValue(SettingSpecs()[*setting], candidate.values[f]));
  }
  return words.join(QLatin1Char(' '));
}

TSimulate ModelSimulator(const TCalibrationSpec& spec, const TModelRuns& model) {
  return [spec, model](const QString& folder, int32_t,
                       const std::vector<TCandidate>& candidates) -> TResult<std::vector<TOutcome>> {
    for (const TCalibrationFactor& f : spec.factors) {
      if (!FindSetting(f.option)) return Refused(QStringLiteral("%1 is not a setting").arg(f.option));
    }
    QString jobs;
    for (const TCandidate& c : candidates) {
      for (size_t k = 0; k < c.seeds.size(); ++k) jobs += CandidateJobLine(spec, model, c, k) + QLatin1Char('\n');
    }
    const QString jobsPath = QDir(folder).filePath(QStringLiteral("jobs.txt"));
    const QString runs = QDir(folder).filePath(QLatin1String(kRunsFolderName));
    if (TStatus saved = SaveBytes(jobs.toUtf8(), jobsPath); !saved) return saved.Error();
    QProcess sweep;
    sweep.setProcessChannelMode(QProcess::ForwardedChannels);
    sweep.start(QStringLiteral("bash"), QStringList{model.sweep, jobsPath, runs} << QStringLiteral("--window")
                                                                                 << QString::number(spec.window)
                                                                                 << model.sweepArgs);
    if (!sweep.waitForStarted(-1)) return Failed(QStringLiteral("cannot start %1").arg(model.sweep));
    sweep.waitForFinished(-1);
    if (sweep.exitStatus() != QProcess::NormalExit || sweep.exitCode() != 0) {
      return Failed(QStringLiteral("the sweep of %1 did not complete (pathwick_sweep status %2); run the same "
                                   "command again to make what is missing")
                        .arg(folder)
                        .arg(sweep.exitCode()));
    }
    TResult<std::vector<TRunMeasures>> measured = StudyMeasures(runs, model.defaults, spec.window);
    if (!measured) return measured.Error();
    std::map<QString, const TRunMeasures*> byFolder;
    for (const TRunMeasures& m : *measured) byFolder[m.folder] = &m;
    std::vector<size_t> at;
    for (const QString& name : spec.measures) at.push_back(*MeasureAt(name));
    const QString generation = QFileInfo(folder).fileName();
    std::vector<TOutcome> outcomes;
    qsizetype line = 0;
    for (const TCandidate& c : candidates) {
      TOutcome outcome{std::vector<double>(at.size(), 0.0), {}};
      for (size_t k = 0; k < c.seeds.size(); ++k) {
        const QString name = SweepRunName(++line, c.seeds[k]);
        const auto found = byFolder.find(name);
        if (found == byFolder.end()) return Failed(QStringLiteral("%1 has no run %2").arg(runs, name));
        outcome.folders << generation + QLatin1Char('/') + QLatin1String(kRunsFolderName) + QLatin1Char('/') + name;
        for (size_t j = 0; j < at.size(); ++j) {
          const auto& value = found->second->values[at[j]];
          outcome.summary[j] +=
              value ? *value / static_cast<double>(c.seeds.size()) : std::numeric_limits<double>::quiet_NaN();
        }
      }
      outcomes.push_back(std::move(outcome));
    }
    return outcomes;
  };
}

TResult<TReference> ReferenceMeasures(const QString& dir, const QStringList& measures, const TSettingValues& defaults,
                                      int32_t window) {
  TResult<std::vector<TRunMeasures>> measured = StudyMeasures(dir, defaults, window);
  if (!measured) return measured.Error();
  TReference reference;
  reference.settings = measured->front().settings;
  for (const TRunMeasures& run : *measured) {
    if (run.settings != *reference.settings) reference.settings.reset();
  }
  std::vector<double>& target = reference.target;
  for (const QString& name : measures) {
    const auto m = MeasureAt(name);
    if (!m) return Refused(QStringLiteral("%1 is not a measure of the runs").arg(name));
    double sum = 0;
    for (const TRunMeasures& run : *measured) {
      if (!run.values[*m]) return Refused(QStringLiteral("the reference run %1 has no %2").arg(run.folder, name));
      sum += *run.values[*m];
    }
    target.push_back(sum / static_cast<double>(measured->size()));
  }
  return reference;
}
