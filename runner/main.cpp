// pathwick_run: one world of the window program, run headless from the
// command line, with its samples and pictures written to a run folder.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "CellForm.h"
#include "Checkpoint.h"
#include "Experiment.h"
#include "Figures.h"
#include "Options.h"
#include "Pictures.h"
#include "Progress.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "SeedRule.h"
#include "Summary.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitMisuse = 2;

int Fail(int status, const QString& message) {
  std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(message));
  return status;
}

// Where the data rows go: a file in the run folder, or standard output.
class TDataOut {
 public:
  explicit TDataOut(const QString& path) : file_(path.isEmpty() ? nullptr : std::make_unique<QFile>(path)) {
    ok_ = file_ ? file_->open(QIODevice::WriteOnly) : true;
  }
  void Write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (file_) {
      ok_ = ok_ && file_->write(bytes) == bytes.size();
    } else {
      ok_ = ok_ && std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) ==
                       static_cast<size_t>(bytes.size());
    }
  }
  // Flushes and closes; false when anything was lost.
  bool Close() {
    if (file_) {
      ok_ = ok_ && file_->flush();
      file_->close();
    } else {
      ok_ = ok_ && std::fflush(stdout) == 0;
    }
    return ok_;
  }

 private:
  std::unique_ptr<QFile> file_;
  bool ok_ = true;
};

int Run(TForm1& form, const TCommand& command, const TSettingValues& defaults) {
  TRunPlan plan = command.plan;
  if (plan.seedFromClock) plan.seed = SeedFromClock();
  const bool toFolder = !command.out.isEmpty();
  TRunFolder folder;
  if (toFolder) {
    if (QString refusal = TRunFolder::Refusal(command.out, command.force); !refusal.isEmpty()) {
      return Fail(kExitMisuse, refusal);
    }
    if (QString error = folder.Open(command.out); !error.isEmpty()) return Fail(kExitFailed, error);
    if (plan.snapshotEvery > 0 && !QDir().mkpath(folder.Path(QStringLiteral("snapshots")))) {
      return Fail(kExitFailed, QStringLiteral("cannot make the snapshots folder"));
    }
  } else if (plan.seedFromClock) {
    std::fprintf(stderr, "pathwick_run: seed %u\n", plan.seed);
  }

  TDataOut series(toFolder ? folder.Path(QStringLiteral("series.csv")) : QString());
  std::unique_ptr<TDataOut> histograms;
  if (plan.histograms) histograms = std::make_unique<TDataOut>(folder.Path(QStringLiteral("genes_hist.csv")));
  series.Write(SeriesHeader());
  if (histograms) histograms->Write(HistogramHeader());

  int32_t samples = 0;
  QString pictureError;
  const int32_t firstStep = plan.from ? plan.from->step : 0;
  TProgress progress(!command.quiet, firstStep, firstStep + plan.steps);
  TRunObserver observer;
  observer.sample = [&](const TSample& s) {
    series.Write(SeriesRow(s));
    ++samples;
  };
  observer.histogram = [&](int32_t step, const TGeneHistogram& h) { histograms->Write(HistogramRows(step, h)); };
  observer.picture = [&](int32_t step, const QImage& grid, bool last) {
    if (!pictureError.isEmpty()) return;
    if (plan.snapshotEvery > 0 && step % plan.snapshotEvery == 0) {
      const QString name = QStringLiteral("snapshots/step-%1.png").arg(step, 7, 10, QLatin1Char('0'));
      pictureError = SavePng(grid, folder.Path(name));
    }
    if (last && pictureError.isEmpty()) pictureError = SavePng(grid, folder.Path(QStringLiteral("final.png")));
  };
  observer.progress = [&](int32_t step) { progress.Update(step); };
  QString checkpointError;
  std::unique_ptr<TCheckpointWriter> checkpoints;
  if (plan.checkpointEvery > 0)
    checkpoints = std::make_unique<TCheckpointWriter>(folder.Path(QLatin1String(kCheckpointName)));
  observer.checkpoint = [&](TForm1& world, const TCheckpointRule& rule) {
    if (checkpointError.isEmpty()) checkpointError = checkpoints->Write(world, rule);
  };

  InstallStopSignals();
  QElapsedTimer wall;
  wall.start();
  const TRunOutcome outcome = RunExperiment(form, plan, observer);
  const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
  if (!outcome.error.isEmpty()) return Fail(kExitFailed, QStringLiteral("the world failed: ") + outcome.error);
  if (!pictureError.isEmpty()) return Fail(kExitFailed, pictureError);
  if (checkpoints && checkpointError.isEmpty()) checkpointError = checkpoints->Finish();
  if (!checkpointError.isEmpty()) return Fail(kExitFailed, checkpointError);
  if (!series.Close() || (histograms && !histograms->Close())) {
    return Fail(kExitFailed, QStringLiteral("the data could not be written completely"));
  }
  if (!toFolder) return 0;

  TRunRecord record;
  record.plan = plan;
  record.startStep = outcome.firstStep;
  record.stepsDone = outcome.stepsDone - outcome.firstStep;
  record.samples = samples;
  record.wallSeconds = seconds;
  record.ended = QLatin1String(outcome.interrupted ? kEndedInterrupted : kEndedCompleted);
  if (QString error = WriteRunRecord(folder.Path(QLatin1String(kRunRecordName)), record); !error.isEmpty()) {
    return Fail(kExitFailed, error);
  }
  if (plan.plot) {
    const QString error = WriteRunFigures(folder.Path(QString()), QFileInfo(command.out).fileName(), defaults);
    if (!error.isEmpty()) return Fail(kExitFailed, error);
  }
  if (QString error = folder.Commit(); !error.isEmpty()) return Fail(kExitFailed, error);
  return 0;
}

// The same seeded world in the window, running until the window closes.
int Show(TForm1& form, const TRunPlan& given) {
  TRunPlan plan = given;
  if (plan.seedFromClock) plan.seed = SeedFromClock();
  std::optional<TSeedRule> rule;
  if (QString error = PrepareWorld(form, plan, rule); !error.isEmpty()) return Fail(kExitFailed, error);
  form.show();
  form.Timer1->start();
  return QApplication::exec();
}

// Quiet on success: the toolkit's notes on its environment (no runtime
// folder, offscreen fonts) are dropped; its errors still show.
void DropQtNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg) return;
  std::fprintf(stderr, "pathwick_run: %s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv) {
  bool show = false;
  for (int i = 1; i < argc; ++i) show = show || QByteArray(argv[i]) == "--show";
  if (!show) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropQtNotes);
  }
  SetGeneratorStartState();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pathwick"));
  QApplication::setApplicationVersion(QStringLiteral(PATHWICK_VERSION));

  // A new window holds the defaults; the run sets up its own world in it.
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  const TSettingValues defaults = ReadSettings(*form);
  const TParseResult parsed = ParseCommandLine(QApplication::arguments().mid(1), defaults);
  if (!parsed.error.isEmpty()) return Fail(kExitMisuse, parsed.error);
  const TCommand& command = parsed.command;
  switch (command.kind) {
    case TCommandKind::kHelp:
      std::fputs(qPrintable(HelpText(defaults)), stdout);
      return 0;
    case TCommandKind::kVersion:
      std::printf("pathwick_run %s\n", PATHWICK_VERSION);
      return 0;
    case TCommandKind::kGrid:
      for (const QString& line : command.jobLines) std::printf("%s\n", qPrintable(line));
      return 0;
    case TCommandKind::kSummarize:
    {
      QString report;
      if (QString error = Summarize(command.folder, defaults, command.window, &report); !error.isEmpty())
        return Fail(kExitFailed, error);
      std::fputs(qPrintable(report), stdout);
      return 0;
    }
    case TCommandKind::kShow:
      return Show(*form, command.plan);
    case TCommandKind::kRun:
      break;
  }
  return Run(*form, command, defaults);
}
