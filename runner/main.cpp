// pathwick_run: one world of the window program, run headless from the
// command line, with its samples and pictures written to a run folder.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "AgentTable.h"
#include "CellForm.h"
#include "Checkpoint.h"
#include "Lineage.h"
#include "Options.h"
#include "Pictures.h"
#include "Progress.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "SeedRule.h"
#include "Summary.h"
#include "Video.h"

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

int Run(TForm1& form, const TCommand& command) {
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
    if (plan.keepCheckpoints && !QDir().mkpath(folder.Path(QLatin1String(kKeptCheckpointFolder)))) {
      return Fail(kExitFailed, QStringLiteral("cannot make the checkpoints folder"));
    }
  } else if (plan.seedFromClock) {
    std::fprintf(stderr, "pathwick_run: seed %u\n", plan.seed);
  }

  TDataOut series(toFolder ? folder.Path(QStringLiteral("series.csv")) : QString());
  std::unique_ptr<TDataOut> histograms;
  if (plan.histograms) histograms = std::make_unique<TDataOut>(folder.Path(QStringLiteral("genes_hist.csv")));
  series.Write(SeriesHeader());
  if (histograms) histograms->Write(HistogramHeader());

  std::vector<TChartPoint> points;
  QString pictureError;
  const int32_t firstStep = plan.from ? plan.from->step : 0;
  TProgress progress(!command.quiet, firstStep, firstStep + plan.steps);
  TRunObserver observer;
  observer.sample = [&](const TSample& s) {
    series.Write(SeriesRow(s));
    points.push_back({s.step, s.avgAngle, s.avgWiggle});
  };
  observer.histogram = [&](int32_t step, const TGeneHistogram& h) { histograms->Write(HistogramRows(step, h)); };
  std::unique_ptr<TAgentTable> agentTable;
  if (plan.agentsEvery > 0) agentTable = std::make_unique<TAgentTable>(folder.Path(QLatin1String(kAgentTableName)));
  observer.agents = [&](int32_t step, const TForm1& world) { agentTable->Write(step, world); };
  std::unique_ptr<TLineage> lineage;
  if (plan.births) lineage = std::make_unique<TLineage>(folder.Path(QLatin1String(kLineageName)));
  observer.birth = [&](int32_t step, const TBirth& birth, const TForm1& world) { lineage->Write(step, birth, world); };
  std::unique_ptr<TVideo> video;
  if (!plan.video.isEmpty()) video = std::make_unique<TVideo>(folder.Path(plan.video));
  observer.picture = [&](int32_t step, const QImage& grid, bool last) {
    if (!pictureError.isEmpty()) return;
    const QImage picture = LabelledPicture(grid, step, plan.seed, plan.pictureScale);
    if (plan.snapshotEvery > 0 && step % plan.snapshotEvery == 0) {
      const QString name = StepFileName(QStringLiteral("snapshots"), step, QStringLiteral("png"));
      pictureError = SavePng(picture, folder.Path(name));
    }
    if (video && step % plan.videoEvery == 0 && pictureError.isEmpty()) pictureError = video->AddFrame(picture);
    if (last && plan.FinalPicture() && pictureError.isEmpty()) {
      pictureError = SavePng(picture, folder.Path(QStringLiteral("final.png")));
    }
  };
  observer.progress = [&](int32_t step) { progress.Update(step); };
  QString checkpointError;
  std::unique_ptr<TCheckpointWriter> checkpoints;
  if (plan.checkpointEvery > 0)
    checkpoints = std::make_unique<TCheckpointWriter>(folder.Path(QLatin1String(kCheckpointName)));
  std::vector<TKeptCheckpoint> kept;
  observer.checkpoint = [&](TForm1& world, const TCheckpointRule& rule) {
    if (!checkpointError.isEmpty()) return;
    if (!plan.keepCheckpoints) {
      checkpointError = checkpoints->Write(world, rule);
      return;
    }
    // An interrupted run may end on a step whose checkpoint is already kept.
    if (kept.empty() || kept.back().step != stepCount) {
      kept.push_back({stepCount, StepFileName(QLatin1String(kKeptCheckpointFolder), stepCount, QStringLiteral("pwk"))});
    }
    checkpointError = checkpoints->Write(world, rule, folder.Path(kept.back().file));
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
  if (video) {
    if (QString error = video->Close(); !error.isEmpty()) return Fail(kExitFailed, error);
  }
  if (agentTable) {
    if (QString error = agentTable->Close(); !error.isEmpty()) return Fail(kExitFailed, error);
  }
  if (lineage) {
    if (QString error = lineage->Close(); !error.isEmpty()) return Fail(kExitFailed, error);
  }
  if (!series.Close() || (histograms && !histograms->Close())) {
    return Fail(kExitFailed, QStringLiteral("the data could not be written completely"));
  }
  if (!toFolder) return 0;

  if (plan.plot) {
    const QString error =
        WriteGeneChart(folder.Path(QStringLiteral("genes.png")), folder.Path(QStringLiteral("genes.svg")), points);
    if (!error.isEmpty()) return Fail(kExitFailed, error);
  }
  TRunRecord record;
  record.plan = plan;
  record.startStep = outcome.firstStep;
  record.stepsDone = outcome.stepsDone - outcome.firstStep;
  record.samples = static_cast<int32_t>(points.size());
  record.wallSeconds = seconds;
  record.ended = QLatin1String(outcome.interrupted ? kEndedInterrupted : kEndedCompleted);
  record.keptCheckpoints = kept;
  if (video) record.videoFrames = video->Frames();
  if (QString error = WriteRunRecord(folder.Path(QLatin1String(kRunRecordName)), record); !error.isEmpty()) {
    return Fail(kExitFailed, error);
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
      if (QString error = Summarize(command.folder, defaults); !error.isEmpty()) return Fail(kExitFailed, error);
      return 0;
    case TCommandKind::kShow:
      return Show(*form, command.plan);
    case TCommandKind::kRun:
      break;
  }
  return Run(*form, command);
}
