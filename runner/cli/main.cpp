// pathwick_run: one world of the window program, run headless from the
// command line, with its samples and pictures written to a run folder.
// The path of a command: ParseCommandLine (plain values, no files read),
// then ResolvePlan (the record and checkpoint read and checked), then the
// mode: RunPlan, ShowPlan, BuildJobList, Summarize, VerifyRun, RunBatch, Calibrate or,
// after a sweep, CheckSweep (and before it PlanSweep). The queries of pathwick_sweep (--ended, --seed-of) are
// answered before any window.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

#include "AtomicFile.h"
#include "Batch.h"
#include "BoundedFile.h"
#include "Calibration.h"
#include "CellForm.h"
#include "Figures.h"
#include "Grid.h"
#include "ModelRuns.h"
#include "Options.h"
#include "Plan.h"
#include "Precision.h"
#include "QtNotes.h"
#include "Run.h"
#include "RunRecord.h"
#include "StudyMeasures.h"
#include "Summary.h"
#include "SweepCheck.h"
#include "SweepPlan.h"
#include "Verify.h"

namespace {

int Exit(const TStatus& status) {
  if (status) return kExitDone;
  // An error without a message has been reported as it arose.
  if (!status.Error().message.isEmpty()) std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(status.Error().message));
  return status.Error().status;
}

bool IsQuery(TCommandKind kind) { return kind == TCommandKind::kEnded || kind == TCommandKind::kSeedOf; }

// The job lines asked about: as given, with those on standard input in
// the place of "-".
TResult<QStringList> AskedLines(const QStringList& given) {
  QStringList lines;
  for (const QString& line : given) {
    if (line != QLatin1String(kStandardInputName)) {
      lines << line;
      continue;
    }
    TResult<QByteArray> input = ReadStandardInput(kSweepFileByteLimit);
    if (!input) return input.Error();
    QList<QByteArray> read = input->split('\n');
    if (read.back().isEmpty()) read.removeLast();  // the last line's end
    for (const QByteArray& l : read) lines << QString::fromUtf8(l);
  }
  return lines;
}

// One line for each folder or job line asked about, in their order.
TStatus Answer(const TCommand& command) {
  const bool ended = command.kind == TCommandKind::kEnded;
  TResult<QStringList> asked = ended ? TResult<QStringList>(command.folders) : AskedLines(command.jobLines);
  if (!asked) return asked.Error();
  for (const QString& one : *asked) {
    const QString answer = ended ? RecordedEnding(one) : JobLineSeed(one);
    std::printf("%s\n", qPrintable(answer));
  }
  if (std::fflush(stdout) != 0) return Failed(QStringLiteral("cannot write the answers to standard output"));
  return Success();
}

// --summarize: the tables and figures, the notes on standard error and the
// comparison on standard output.
TStatus WriteSummary(const TCommand& command, const TSettingValues& defaults) {
  TResult<std::vector<TSeriesMeasure>> measures = ChooseSeriesMeasures(command.measures, command.transforms);
  if (!measures) return measures.Error();
  const TStudyChoice study{*measures, command.factorCoding};
  TResult<TSummaryReport> report = Summarize(command.folder, defaults, command.window, command.gzipSamples, study);
  if (!report) return report.Error();
  if (!report->note.isEmpty()) std::fprintf(stderr, "pathwick_run: note: %s\n", qPrintable(report->note));
  if (!report->effectsNote.isEmpty()) std::fprintf(stderr, "pathwick_run: note: %s\n", qPrintable(report->effectsNote));
  for (const QString& warning : report->effectsWarnings)
    std::fprintf(stderr, "pathwick_run: warning: %s\n", qPrintable(warning));
  if (!report->figureNote.isEmpty()) std::fprintf(stderr, "pathwick_run: note: %s\n", qPrintable(report->figureNote));
  std::fputs(qPrintable(report->comparison), stdout);
  std::fputs(qPrintable(report->effects), stdout);
  return Success();
}

// --check-sweep: the report on the runs, in pathwick_sweep's name, then the
// summary of those that completed, then the closing line. The exit status
// is the sweep's.
TStatus CheckSweepAndSummarize(const TCommand& command, const TSettingValues& defaults) {
  const TSweepEnd end{command.sweepInterrupted, command.parallelStatus};
  TResult<TSweepCheckResult> result = CheckSweep(command.folder, end, command.slurmSubmission);
  if (!result) return result.Error();
  for (const QString& line : result->messages) std::fprintf(stderr, "%s: %s\n", kSweepProgram, qPrintable(line));
  bool summarized = false;
  if (result->check.completed > 0) {
    // The summary says why on its own line when it cannot.
    const TStatus summary = WriteSummary(command, defaults);
    if (!summary) std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(summary.Error().message));
    summarized = summary.Ok();
    std::fflush(stdout);
  }
  const TSweepClose close = CloseSweep(result->check, command.folder, summarized);
  if (!close.message.isEmpty()) std::fprintf(stderr, "%s: %s\n", kSweepProgram, qPrintable(close.message));
  if (close.status == kExitDone) return Success();
  return TError{QString(), close.status};
}

// --plan-sweep: one word for each run of the list on standard input, or
// the refusal in pathwick_sweep's name. Job lines are read as the sweep
// runs them, from within OUTDIR.
TStatus PlanSweepRuns(const TCommand& command, const TSettingValues& defaults) {
  TResult<QByteArray> input = ReadStandardInput(kSweepFileByteLimit);
  if (!input) return input.Error();
  TResult<QList<TSweepRun>> runs = ParseSweepRuns(*input, QStringLiteral("standard input"));
  if (!runs) return runs.Error();
  const QString outdir = QFileInfo(command.folder).absoluteFilePath();
  if (QFileInfo(outdir).isDir()) QDir::setCurrent(outdir);
  TResult<QList<TRunAction>> actions = PlanSweep(outdir, *runs, defaults, command.redoChanged);
  if (!actions) {
    std::fprintf(stderr, "%s: %s\n", kSweepProgram, qPrintable(actions.Error().message));
    return TError{QString(), actions.Error().status};
  }
  for (const TRunAction action : *actions) std::printf("%s\n", RunActionName(action));
  if (std::fflush(stdout) != 0) return Failed(QStringLiteral("cannot write the answers to standard output"));
  return Success();
}

// --plan-precision: the step of pathwick_sweep --precision between two
// rounds. Standard input holds the job list of every round so far (round 0
// as given, each later one after its "# round N" line); the runs in DIR are
// that list's, every one completed. Prints the next round's lines, the mark
// first, or nothing when the rounds end; the one line that says why goes
// to standard error, as does, on a terminal, each round's.
TStatus PlanPrecisionRound(const TCommand& command, const TSettingValues& defaults) {
  std::vector<TPrecisionTarget> targets;
  for (const QString& given : command.precision) {
    TResult<TPrecisionTarget> target = ParsePrecisionTarget(given);
    if (!target) return target.Error();
    targets.push_back(*target);
  }
  TResult<std::vector<TSeriesMeasure>> measures = ChooseSeriesMeasures(command.measures, command.transforms);
  if (!measures) return measures.Error();
  if (TStatus ok = CheckPrecisionTargets(targets, StudyOf(*measures)); !ok) return ok;
  if (!command.maxRuns)
    return Refused(QStringLiteral("a precision sweep needs its cap on runs, %1 N").arg(Dashed(TOption::kMaxRuns)));
  TResult<QByteArray> input = ReadStandardInput(kSweepFileByteLimit);
  if (!input) return input.Error();
  int32_t round = 0;
  qint64 runs = 0;
  qint64 roundRuns = 0;
  std::vector<TJobPoint> points;
  std::map<QString, size_t> pointOf;
  qsizetype number = 0;
  for (QString line : QString::fromUtf8(*input).split(QLatin1Char('\n'))) {
    ++number;
    line = line.trimmed();
    if (line.startsWith(QLatin1String(kRoundMark))) {
      ++round;
      roundRuns = 0;
    }
    if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
    const QString seed = JobLineSeed(line);
    bool ok = false;
    const uint32_t value = seed.toUInt(&ok);
    if (!ok) {
      return Refused(QStringLiteral("line %1 of the job list gives no --seed, and a precision sweep adds seeds to "
                                    "points whose seeds it knows: %2")
                         .arg(number)
                         .arg(line));
    }
    const QString point = JobLineWithoutSeed(line);
    const auto [at, added] = pointOf.emplace(point, points.size());
    if (added) points.push_back({point, {}});
    points[at->second].seeds.push_back(value);
    ++runs;
    ++roundRuns;
  }
  if (runs == 0) return Refused(QStringLiteral("the job list on standard input holds no runs"));
  if (runs > *command.maxRuns) {
    return Refused(QStringLiteral("the job list holds %1 runs, more than %2 %3")
                       .arg(runs)
                       .arg(Dashed(TOption::kMaxRuns))
                       .arg(*command.maxRuns));
  }
  if (command.precisionCheck) return Success();
  TResult<std::vector<TRunMeasures>> study = StudyMeasures(command.folder, defaults, command.window, *measures);
  if (!study) return study.Error();
  const TExploration exploration = Analyse(*study, StudyOf(*measures), command.factorCoding);
  TResult<std::vector<TNamedInterval>> intervals = NamedIntervals(exploration, targets);
  if (!intervals) return intervals.Error();
  const TRoundPlan plan = PlanRound(points, runs, *intervals, targets, exploration, *command.maxRuns);
  const QString table =
      QDir(command.folder).filePath(QLatin1String(kSweepStateFolder) + QLatin1Char('/') + kRoundsTableName);
  QByteArray earlier;
  if (QFileInfo(table).isFile()) {
    TResult<QByteArray> read = ReadBounded(table, kSweepFileByteLimit);
    if (!read) return read.Error();
    earlier = *read;
  }
  size_t fewest = points.front().seeds.size();
  for (const TJobPoint& p : points) fewest = std::min(fewest, p.seeds.size());
  if (TStatus saved = SaveBytes(
          RoundsTable(earlier, round, roundRuns, runs, static_cast<int32_t>(fewest), *intervals, targets), table);
      !saved)
    return saved;
  if (plan.verdict != TPrecisionVerdict::kNextRound) {
    std::fprintf(stderr, "%s: precision: round %d: %s\n", kSweepProgram, round, qPrintable(plan.line));
    return Success();
  }
  if (isatty(fileno(stderr)))
    std::fprintf(stderr, "%s: precision: round %d adds %s\n", kSweepProgram, round + 1, qPrintable(plan.line));
  std::printf("%s%d: %s\n", kRoundMark, round + 1, qPrintable(plan.line));
  for (const QString& line : plan.lines) std::printf("%s\n", qPrintable(line));
  if (std::fflush(stdout) != 0) return Failed(QStringLiteral("cannot write the next round to standard output"));
  return Success();
}

// --calibrate's question from the command line, or from the folder when
// it is given alone (to resume).
TResult<TCalibrationSpec> CalibrationSpec(const TCommand& command, const TSettingValues& defaults) {
  if (command.design.ranges.isEmpty()) {
    if (!IsCalibrationFolder(command.folder)) {
      return Refused(QStringLiteral("%1 holds no calibration to resume: give its --range, --target and --budget")
                         .arg(command.folder));
    }
    TResult<TCalibrationSpec> stored = ReadCalibrationSpec(command.folder);
    if (!stored) return stored;
    const QString& asked = command.calibrate.method;
    const bool storedNsga2 = stored->method == TCalibrationMethod::kNsga2;
    if (!asked.isEmpty() && (asked == QLatin1String(kMethodNsga2)) != storedNsga2) {
      return Refused(QStringLiteral("%1 holds a calibration by --method %2, not %3")
                         .arg(command.folder, QLatin1String(storedNsga2 ? kMethodNsga2 : kMethodAbc), asked));
    }
    return stored;
  }
  const auto specs = SettingSpecs();
  const TCalibrateOptions& o = command.calibrate;
  TCalibrationSpec spec;
  for (const TFactorRange& range : command.design.ranges) {
    const TSettingSpec& setting = specs[range.setting];
    spec.factors.push_back({QLatin1String(setting.option),
                            {static_cast<double>(range.lo), static_cast<double>(range.hi), range.log},
                            setting.kind == TSettingKind::kHundredths ? 100.0 : 1.0});
  }
  QStringList known;
  for (const TDefaultStudyMeasure& m : kDefaultStudyMeasures) known << QLatin1String(m.name);
  QStringList measures;
  for (const QString& t : o.targets) {
    const QString name = t.section(QLatin1Char('='), 0, 0);
    if (!known.contains(name)) {
      return Refused(QStringLiteral("--target takes a measure of the runs (%1), not '%2'")
                         .arg(known.join(QStringLiteral(", ")), name));
    }
    if (measures.contains(name)) return Refused(QStringLiteral("--target names %1 twice").arg(name));
    measures << name;
    if (!o.targetRuns.isEmpty()) continue;
    bool ok = false;
    const double value = t.section(QLatin1Char('='), 1).toDouble(&ok);
    if (!ok || !std::isfinite(value))
      return Refused(QStringLiteral("--target %1 takes a number, not '%2'").arg(name, t));
    spec.target.push_back(value);
  }
  spec.window = std::max(command.window, 1);
  spec.targetSource = QStringLiteral("values");
  if (!o.targetRuns.isEmpty()) {
    if (measures.isEmpty()) measures = known;
    TResult<TReference> reference = ReferenceMeasures(o.targetRuns, measures, defaults, spec.window);
    if (!reference) return reference.Error();
    spec.target = std::move(reference->target);
    if (reference->settings) {
      std::vector<double> truth;
      for (const TFactorRange& range : command.design.ranges) truth.push_back((*reference->settings)[range.setting]);
      spec.truth = truth;
    }
    spec.targetSource = QFileInfo(o.targetRuns).absoluteFilePath();
  }
  spec.measures = measures;
  QStringList fixed;
  for (size_t i = 0; i < specs.size(); ++i) {
    if (command.run.settings[i])
      fixed << QStringLiteral("--%1 %2").arg(QLatin1String(specs[i].option),
                                             FormatSettingValue(specs[i], *command.run.settings[i]));
  }
  spec.model = fixed.join(QLatin1Char(' '));
  spec.steps = command.run.steps.value_or(kDefaultSteps);
  spec.seedsPerParticle = o.seedsPerParticle.value_or(kDefaultSeedsPerParticle);
  spec.particles = o.particles.value_or(kDefaultParticles);
  if (o.method == QLatin1String(kMethodNsga2)) {
    spec.method = TCalibrationMethod::kNsga2;
    spec.population = o.population.value_or(kDefaultPopulation);
    spec.generations = o.generations;
  }
  // NSGA-II bounded by its generations alone may make all of their runs.
  spec.budget = o.budget ? qint64{*o.budget} : qint64{*o.generations + 1} * spec.population * spec.seedsPerParticle;
  spec.seed = o.seed.value_or(kDefaultCalibrationSeed);
  return spec;
}

// The pathwick_sweep a calibration runs its generations with: $PATHWICK_SWEEP,
// the one beside this program, or the one on the PATH.
QString SweepProgram() {
  if (QString given = qEnvironmentVariable("PATHWICK_SWEEP"); !given.isEmpty()) return given;
  QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("pathwick_sweep"));
  if (QFileInfo(beside).isFile()) return beside;
  return QStandardPaths::findExecutable(QStringLiteral("pathwick_sweep"));
}

TStatus RunCalibration(const TCommand& command, const TSettingValues& defaults) {
  TResult<TCalibrationSpec> spec = CalibrationSpec(command, defaults);
  if (!spec) return spec.Error();
  TModelRuns model{SweepProgram(), {}, spec->model, defaults};
  if (model.sweep.isEmpty())
    return Refused(QStringLiteral("pathwick_sweep is not on the PATH (or set PATHWICK_SWEEP)"));
  if (command.calibrate.sweepJobs)
    model.sweepArgs << QStringLiteral("--jobs") << QString::number(*command.calibrate.sweepJobs);
  // The sweep runs this very program.
  qputenv("PATHWICK_RUN", QCoreApplication::applicationFilePath().toLocal8Bit());
  TResult<TCalibrationEnd> end =
      Calibrate(command.folder, *spec, ModelSimulator(*spec, model),
                [](const QString& line) { std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(line)); });
  if (!end) return end.Error();
  const bool nsga2 = spec->method == TCalibrationMethod::kNsga2;
  std::fprintf(stderr, "pathwick_run: calibrated in %d generations and %lld runs: %s; the %s is %s\n", end->generations,
               static_cast<long long>(end->runs), qPrintable(end->reason), nsga2 ? "Pareto front" : "posterior",
               qPrintable(QDir(command.folder).filePath(QLatin1String(nsga2 ? kParetoName : kPosteriorName))));
  return Success();
}

// --verify of a calibration: every generation's runs as a sweep's, each
// run's files checked and a few of each repeated.
TStatus VerifyCalibration(const TCommand& command, const TSettingValues& defaults) {
  const QStringList runs = CalibrationRunFolders(command.folder);
  if (runs.isEmpty()) return Refused(QStringLiteral("%1 is a calibration without runs").arg(command.folder));
  const int32_t repeat = command.repeat == kRepeatUnset ? kDefaultRepeats : command.repeat;
  TStatus worst = Success();
  for (const QString& dir : runs) {
    TStatus verified = VerifySweep(dir, defaults, repeat, QCoreApplication::applicationFilePath());
    if (!verified && worst) worst = verified;
  }
  return worst;
}

// `window` holds the defaults' window; a batch lets it go, as each of its
// runs makes its own and only one can exist at a time.
TStatus Perform(std::unique_ptr<TForm1>& window, const TCommand& command, const TSettingValues& defaults) {
  const TFigureWriter figures = [&defaults](const QString& dir, const TRunRecord& record) {
    return WriteRunFigures(dir, record, defaults);
  };
  TForm1& form = *window;
  switch (command.kind) {
    case TCommandKind::kHelp: std::fputs(qPrintable(HelpText(defaults)), stdout); return Success();
    case TCommandKind::kVersion: std::printf("pathwick_run %s\n", PATHWICK_VERSION); return Success();
    case TCommandKind::kGrid: {
      TResult<TJobList> jobs = BuildJobList(command, defaults);
      if (!jobs) return jobs.Error();
      for (const QString& warning : jobs->sameWorld + jobs->equalPoints)
        std::fprintf(stderr, "pathwick_run: warning: %s\n", qPrintable(warning));
      for (const QString& line : jobs->lines) std::printf("%s\n", qPrintable(line));
      return Success();
    }
    case TCommandKind::kSummarize: return WriteSummary(command, defaults);
    case TCommandKind::kCheckSweep: return CheckSweepAndSummarize(command, defaults);
    case TCommandKind::kPlanSweep: return PlanSweepRuns(command, defaults);
    case TCommandKind::kCalibrate: return RunCalibration(command, defaults);
    case TCommandKind::kPlanPrecision: return PlanPrecisionRound(command, defaults);
    case TCommandKind::kVerify:
      if (IsCalibrationFolder(command.folder)) return VerifyCalibration(command, defaults);
      // A folder of runs is verified run by run, each repeat in a process of its own.
      if (!SweepRuns(command.folder).isEmpty()) {
        return VerifySweep(command.folder, defaults, command.repeat == kRepeatUnset ? kDefaultRepeats : command.repeat,
                           QCoreApplication::applicationFilePath());
      }
      return VerifyRun(form, command.folder, defaults, command.quiet, figures, command.repeat != 0);
    case TCommandKind::kEnded:
    case TCommandKind::kSeedOf: return Answer(command);
    case TCommandKind::kBatch: window.reset(); return RunBatch(command, {NewRunWindow, defaults, figures});
    case TCommandKind::kShow:
    case TCommandKind::kRun: break;
  }
  const TPlanTarget target = command.kind == TCommandKind::kShow ? TPlanTarget::kWindow
                             : command.out.isEmpty()             ? TPlanTarget::kStandardOutput
                                                                 : TPlanTarget::kFolder;
  TResult<TRunPlan> plan = ResolvePlan(command.run, defaults, target);
  if (!plan) return plan.Error();
  if (target == TPlanTarget::kFolder) {
    if (TStatus outside = CheckParentsOutside(command.out, command.run, *plan); !outside) return outside;
  }
  if (command.kind == TCommandKind::kShow) {
    return ShowPlan(form, std::move(*plan), command.run.steps.has_value() || !command.run.config.isEmpty());
  }
  return RunPlan(form, std::move(*plan), {command.out, command.force, command.quiet, figures, {}});
}

}  // namespace

int main(int argc, char** argv) {
  // A file that would pass the size limit (ulimit -f) fails its write, which
  // the writer reports and undoes, rather than killing the program half-way
  // through a set of files.
  std::signal(SIGXFSZ, SIG_IGN);
  // Read once before the toolkit starts, which takes its own options out of
  // argv: a query needs no window, and --show (however it is written) a display.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const TResult<TCommand> early = ParseCommandLine(arguments);
  if (early && IsQuery(early->kind)) return Exit(Answer(*early));
  const bool show = early && early->kind == TCommandKind::kShow;
  // Runs are offscreen. --show opens a display, and falls back to offscreen
  // when none can be opened, so that it is refused in one line rather than
  // by the toolkit's abort.
  if (!show) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "xcb;wayland;offscreen");
  }
  DropQtNotes("pathwick_run");  // quiet on success: the toolkit's errors still show
  SetGeneratorStartState();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pathwick"));
  QApplication::setApplicationVersion(QStringLiteral(PATHWICK_VERSION));

  // A new window holds the defaults; the run sets up its own world in it.
  std::unique_ptr<TForm1> form = NewRunWindow();
  const TSettingValues defaults = ReadSettings(*form);
  TResult<TCommand> command = ParseCommandLine(QApplication::arguments().mid(1));
  if (!command) return Exit(command.Error());
  return Exit(Perform(form, *command, defaults));
}
