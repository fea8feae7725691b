// pathwick_run: one world of the window program, run headless from the
// command line, with its samples and pictures written to a run folder.
// The path of a command: ParseCommandLine (plain values, no files read),
// then ResolvePlan (the record and checkpoint read and checked), then the
// mode: RunPlan, ShowPlan, BuildJobList, Summarize, VerifyRun or, after a
// sweep, CheckSweep (and before it PlanSweep). The queries of pathwick_sweep (--ended, --seed-of) are
// answered before any window.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "CellForm.h"
#include "Figures.h"
#include "Grid.h"
#include "Options.h"
#include "Plan.h"
#include "QtNotes.h"
#include "Run.h"
#include "RunRecord.h"
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

// One line for each folder or job line asked about, in their order.
TStatus Answer(const TCommand& command) {
  const bool ended = command.kind == TCommandKind::kEnded;
  for (const QString& asked : ended ? command.folders : command.jobLines) {
    const QString answer = ended ? RecordedEnding(asked) : JobLineSeed(asked);
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
  QFile input;
  if (!input.open(stdin, QIODevice::ReadOnly)) return Failed(QStringLiteral("cannot read the runs on standard input"));
  TResult<QList<TSweepRun>> runs = ParseSweepRuns(input.readAll(), QStringLiteral("standard input"));
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

TStatus Perform(TForm1& form, const TCommand& command, const TSettingValues& defaults) {
  const TFigureWriter figures = [&defaults](const QString& dir, const TRunRecord& record) {
    return WriteRunFigures(dir, record, defaults);
  };
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
    case TCommandKind::kVerify:
      // A folder of runs is verified run by run, each repeat in a process of its own.
      if (!SweepRuns(command.folder).isEmpty()) {
        return VerifySweep(command.folder, defaults, command.repeat == kRepeatUnset ? kDefaultRepeats : command.repeat,
                           QCoreApplication::applicationFilePath());
      }
      return VerifyRun(form, command.folder, defaults, command.quiet, figures, command.repeat != 0);
    case TCommandKind::kEnded:
    case TCommandKind::kSeedOf: return Answer(command);
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
  return RunPlan(form, std::move(*plan), {command.out, command.force, command.quiet, figures});
}

}  // namespace

int main(int argc, char** argv) {
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
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  const TSettingValues defaults = ReadSettings(*form);
  TResult<TCommand> command = ParseCommandLine(QApplication::arguments().mid(1));
  if (!command) return Exit(command.Error());
  return Exit(Perform(*form, *command, defaults));
}
