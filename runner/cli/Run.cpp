#include "Run.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "AtomicFile.h"
#include "CellForm.h"
#include "Checkpoint.h"
#include "FileNames.h"
#include "Options.h"
#include "Pictures.h"
#include "Progress.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "Watch.h"

namespace {

QString Name(const char* name) { return QLatin1String(name); }

TError DataLost() { return Failed(QStringLiteral("the data could not be written completely")); }

// Where the data rows go: a file in the run folder, or standard output.
class TDataOut {
 public:
  // The file at `path`, or standard output when `path` is empty.
  static TResult<TDataOut> Open(const QString& path) {
    TDataOut out;
    if (path.isEmpty()) return out;
    TResult<TAtomicFile> file = TAtomicFile::Open(path);
    if (!file) return file.Error();
    out.file_.emplace(std::move(*file));
    return out;
  }
  TStatus Write(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (file_) return file_->Write(bytes);
    const auto size = static_cast<size_t>(bytes.size());
    return std::fwrite(bytes.constData(), 1, size, stdout) == size ? Success() : TStatus(DataLost());
  }
  // Flushes and closes: the file appears whole under its name.
  TStatus Close() {
    if (file_) return file_->Commit();
    return std::fflush(stdout) == 0 ? Success() : TStatus(DataLost());
  }

 private:
  std::optional<TAtomicFile> file_;
};

// Everything a run writes while it goes: the series and the histograms, the
// pictures, the checkpoints, and what the watch keeps. Every write returns
// its status, and the run ends at the first that fails.
class TRunFiles {
 public:
  TRunFiles(const TRunSpec& spec, const TRunFolder& folder) : spec_(spec), folder_(folder), watch_(spec, folder) {}

  // Opens the data (in the folder, or the series on standard output when
  // there is none) with its headers, and the watch's files.
  TStatus Open(bool toFolder);
  // Hands the run's samples, pictures and checkpoints to the files.
  TRunObserver Observer();
  // Waits for the last checkpoint, then ends the watch's files and the data.
  TStatus Close();
  // What the record says of them: the samples, kept checkpoints and video frames.
  void Describe(TRunRecord& record) const;

 private:
  TStatus Sample(const TSample& s);
  TStatus Picture(int32_t step, const QImage& grid, bool last);
  TStatus Checkpoint(const TForm1& world, const TCheckpointRule& rule);

  const TRunSpec& spec_;
  const TRunFolder& folder_;
  TWatch watch_;
  std::optional<TDataOut> series_;
  std::optional<TDataOut> histograms_;
  std::unique_ptr<TCheckpointWriter> checkpoints_;
  int32_t samples_ = 0;
};

TStatus TRunFiles::Open(bool toFolder) {
  TResult<TDataOut> series = TDataOut::Open(toFolder ? folder_.Path(Name(kSeriesName)) : QString());
  if (!series) return series.Error();
  series_.emplace(std::move(*series));
  if (TStatus written = series_->Write(SeriesHeader(spec_.seriesColumns)); !written) return written;
  if (spec_.histograms) {
    TResult<TDataOut> histograms = TDataOut::Open(folder_.Path(Name(kHistogramsName)));
    if (!histograms) return histograms.Error();
    histograms_.emplace(std::move(*histograms));
    if (TStatus written = histograms_->Write(HistogramHeader()); !written) return written;
  }
  if (toFolder) {
    if (TStatus opened = watch_.Open(); !opened) return opened;
  }
  if (spec_.checkpointEvery > 0) {
    checkpoints_ = std::make_unique<TCheckpointWriter>(folder_.Path(Name(kCheckpointName)));
  }
  return Success();
}

TRunObserver TRunFiles::Observer() {
  TRunObserver observer;
  observer.sample = [this](const TSample& s) { return Sample(s); };
  if (histograms_) {
    observer.histogram = [this](int32_t step, const TGeneHistogram& h) {
      return histograms_->Write(HistogramRows(step, h));
    };
  }
  watch_.Observe(observer);
  observer.picture = [this](int32_t step, const QImage& grid, bool last) { return Picture(step, grid, last); };
  if (checkpoints_) {
    observer.checkpoint = [this](const TForm1& world, const TCheckpointRule& rule) { return Checkpoint(world, rule); };
  }
  return observer;
}

TStatus TRunFiles::Sample(const TSample& s) {
  ++samples_;
  return series_->Write(SeriesRow(s, spec_.seriesColumns));
}

TStatus TRunFiles::Picture(int32_t step, const QImage& grid, bool last) {
  const QImage picture = LabelledPicture(grid, step, spec_.seed, spec_.pictureScale);
  if (spec_.snapshotEvery > 0 && step % spec_.snapshotEvery == 0) {
    const QString snapshot = StepFileName(Name(kSnapshotsFolder), step, QStringLiteral("png"));
    if (TStatus saved = SavePng(picture, folder_.Path(snapshot)); !saved) return saved;
  }
  if (TStatus framed = watch_.Picture(step, picture); !framed) return framed;
  if (last && spec_.FinalPicture()) return SavePng(picture, folder_.Path(Name(kFinalPictureName)));
  return Success();
}

TStatus TRunFiles::Checkpoint(const TForm1& world, const TCheckpointRule& rule) {
  return checkpoints_->Write(world, rule, watch_.CheckpointPath(stepCount));
}

TStatus TRunFiles::Close() {
  if (checkpoints_) {
    if (TStatus finished = checkpoints_->Finish(); !finished) return finished;
  }
  if (TStatus closed = watch_.Close(); !closed) return closed;
  if (TStatus closed = series_->Close(); !closed) return closed;
  if (histograms_) return histograms_->Close();
  return Success();
}

void TRunFiles::Describe(TRunRecord& record) const {
  record.samples = samples_;
  watch_.Describe(record);
}

// The run's folder, hidden until the run is done, with the snapshots' folder.
// Without one the series goes to standard output, and a seed taken from the
// clock is told on standard error.
TStatus OpenFolder(TRunFolder& folder, const TRunSpec& spec, const TRunTarget& target) {
  if (target.out.isEmpty()) {
    if (spec.seedFromClock) std::fprintf(stderr, "pathwick_run: seed %u\n", spec.seed);
    return Success();
  }
  if (TStatus open = folder.Open(target.out, target.force); !open) return open;
  if (spec.snapshotEvery > 0 && !QDir().mkpath(folder.Path(Name(kSnapshotsFolder))))
    return Failed(QStringLiteral("cannot make the snapshots folder"));
  return Success();
}

struct TTimedOutcome : TRunOutcome {
  double wallSeconds = 0;
};

// Runs the plan on the wall clock, stopping at Ctrl-C or SIGTERM.
TResult<TTimedOutcome> RunTimed(TForm1& form, TRunPlan plan, const TRunObserver& observer) {
  InstallStopSignals();
  QElapsedTimer wall;
  wall.start();
  TResult<TRunOutcome> outcome = RunExperiment(form, std::move(plan), observer);
  if (!outcome) return outcome.Error();
  return TTimedOutcome{*outcome, static_cast<double>(wall.nsecsElapsed()) / 1e9};
}

TRunRecord RecordOf(const TRunSpec& spec, const TTimedOutcome& run, const TRunFiles& files) {
  TRunRecord record;
  record.spec = spec;
  record.startStep = run.firstStep;
  record.stepsRun = run.endStep - run.firstStep;
  record.wallSeconds = run.wallSeconds;
  record.ended = Name(run.interrupted ? kEndedInterrupted : kEndedCompleted);
  files.Describe(record);
  return record;
}

// Draws the figures the run asks for, lists every file in the folder in the
// record, writes it and puts the folder in place.
TStatus CommitRun(TRunFolder& folder, const TRunTarget& target, TRunRecord record) {
  if (record.spec.plot) {
    if (!target.figures) return Failed(Dashed(TOption::kPlot) + QStringLiteral(": this program draws no figures"));
    if (TStatus figures = target.figures(folder.Path(QString()), record); !figures) return figures;
  }
  // Every file in the folder by now, whoever wrote it, is part of the record.
  TResult<QList<TFileEntry>> files = ListFiles(folder.Path(QString()));
  if (!files) return files.Error();
  record.files = *files;
  record.listsFiles = true;
  if (TStatus written = WriteRunRecord(folder.Path(Name(kRunRecordName)), record); !written) return written;
  if (target.takeFolder) return target.takeFolder(std::move(folder));
  return folder.Commit();
}

}  // namespace

TStatus RunPlan(TForm1& form, TRunPlan plan, const TRunTarget& target) {
  if (plan.seedFromClock) plan.seed = SeedFromClock();
  const TRunSpec spec = plan;
  const bool toFolder = !target.out.isEmpty();
  TRunFolder folder;
  if (TStatus opened = OpenFolder(folder, spec, target); !opened) return opened;
  TRunFiles files(spec, folder);
  if (TStatus opened = files.Open(toFolder); !opened) return opened;
  const int32_t firstStep = plan.from ? plan.from->step : 0;
  TProgress progress(!target.quiet, firstStep, firstStep + plan.steps);
  TRunObserver observer = files.Observer();
  observer.progress = [&progress](int32_t step) { progress.Update(step); };
  TResult<TTimedOutcome> run = RunTimed(form, std::move(plan), observer);
  if (!run) return run.Error();
  if (TStatus closed = files.Close(); !closed) return closed;
  if (!toFolder) return Success();
  return CommitRun(folder, target, RecordOf(spec, *run, files));
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
