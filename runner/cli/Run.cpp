#include "Run.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "CellForm.h"
#include "Checkpoint.h"
#include "FileNames.h"
#include "AtomicFile.h"
#include "Pictures.h"
#include "Progress.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "Watch.h"

namespace {

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

QString Name(const char* name) { return QLatin1String(name); }

}  // namespace

TStatus RunPlan(TForm1& form, TRunPlan plan, const TRunTarget& target) {
  if (plan.seedFromClock) plan.seed = SeedFromClock();
  const bool toFolder = !target.out.isEmpty();
  TRunFolder folder;
  if (toFolder) {
    if (TStatus open = folder.Open(target.out, target.force); !open) return open;
    if (plan.snapshotEvery > 0 && !QDir().mkpath(folder.Path(Name(kSnapshotsFolder))))
      return Failed(QStringLiteral("cannot make the snapshots folder"));
  } else if (plan.seedFromClock) {
    std::fprintf(stderr, "pathwick_run: seed %u\n", plan.seed);
  }

  TDataOut series(toFolder ? folder.Path(Name(kSeriesName)) : QString());
  std::unique_ptr<TDataOut> histograms;
  if (plan.histograms) histograms = std::make_unique<TDataOut>(folder.Path(Name(kHistogramsName)));
  series.Write(SeriesHeader());
  if (histograms) histograms->Write(HistogramHeader());

  int32_t samples = 0;
  TStatus pictures = Success();
  const int32_t firstStep = plan.from ? plan.from->step : 0;
  TProgress progress(!target.quiet, firstStep, firstStep + plan.steps);
  TRunObserver observer;
  observer.sample = [&](const TSample& s) {
    series.Write(SeriesRow(s));
    ++samples;
  };
  observer.histogram = [&](int32_t step, const TGeneHistogram& h) { histograms->Write(HistogramRows(step, h)); };
  const TRunSpec spec = plan;
  TWatch watch(spec, folder);
  if (toFolder) {
    if (TStatus opened = watch.Open(); !opened) return opened;
  }
  watch.Observe(observer);
  observer.picture = [&](int32_t step, const QImage& grid, bool last) {
    if (!pictures) return;
    const QImage picture = LabelledPicture(grid, step, spec.seed, spec.pictureScale);
    if (spec.snapshotEvery > 0 && step % spec.snapshotEvery == 0) {
      pictures = SavePng(picture, folder.Path(StepFileName(Name(kSnapshotsFolder), step, QStringLiteral("png"))));
    }
    if (pictures) pictures = watch.Picture(step, picture);
    if (last && spec.FinalPicture() && pictures) pictures = SavePng(picture, folder.Path(Name(kFinalPictureName)));
  };
  observer.progress = [&](int32_t step) { progress.Update(step); };
  TStatus checkpointed = Success();
  std::unique_ptr<TCheckpointWriter> checkpoints;
  if (plan.checkpointEvery > 0) checkpoints = std::make_unique<TCheckpointWriter>(folder.Path(Name(kCheckpointName)));
  observer.checkpoint = [&](const TForm1& world, const TCheckpointRule& rule) {
    if (checkpointed) checkpointed = checkpoints->Write(world, rule, watch.CheckpointPath(stepCount));
  };

  InstallStopSignals();
  QElapsedTimer wall;
  wall.start();
  TResult<TRunOutcome> outcome = RunExperiment(form, std::move(plan), observer);
  const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
  if (!outcome) return outcome.Error();
  if (!pictures) return pictures;
  if (checkpoints && checkpointed) checkpointed = checkpoints->Finish();
  if (!checkpointed) return checkpointed;
  if (TStatus closed = watch.Close(); !closed) return closed;
  if (!series.Close() || (histograms && !histograms->Close()))
    return Failed(QStringLiteral("the data could not be written completely"));
  if (!toFolder) return Success();

  TRunRecord record;
  record.spec = spec;
  record.startStep = outcome->firstStep;
  record.stepsRun = outcome->endStep - outcome->firstStep;
  record.samples = samples;
  record.wallSeconds = seconds;
  record.ended = Name(outcome->interrupted ? kEndedInterrupted : kEndedCompleted);
  watch.Describe(record);
  if (spec.plot) {
    if (!target.figures) return Failed(QStringLiteral("--plot: this program draws no figures"));
    if (TStatus figures = target.figures(folder.Path(QString()), record); !figures) return figures;
  }
  // Every file in the folder by now, whoever wrote it, is part of the record.
  TResult<QList<TFileEntry>> files = ListFiles(folder.Path(QString()));
  if (!files) return files.Error();
  record.files = *files;
  record.listsFiles = true;
  if (TStatus written = WriteRunRecord(folder.Path(Name(kRunRecordName)), record); !written) return written;
  return folder.Commit();
}

TStatus ShowPlan(TForm1& form, TRunPlan plan, bool stopAtSteps) {
  if (plan.seedFromClock) plan.seed = SeedFromClock();
  std::optional<TSeedRule> rule;
  const TRunSpec spec = plan;
  if (TStatus prepared = PrepareWorld(form, spec, std::move(plan.from), rule); !prepared) return prepared;
  const int64_t last = static_cast<int64_t>(stepCount) + spec.steps;
  if (stopAtSteps) {
    // Connected after the window's own step, so it sees the step's count.
    QObject::connect(form.Timer1, &QTimer::timeout, &form, [&form, last] {
      if (stepCount >= last) form.Timer1->stop();
    });
  }
  form.show();
  form.Timer1->start();
  QApplication::exec();
  return Success();
}
