#include "Plan.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <limits>
#include <utility>

#include "CellForm.h"
#include "RunRecord.h"
#include "Video.h"

namespace {

// The record of --config as a run's settings and outputs (TRunSpec); an
// interrupted run is repeated as far as it went, and is interrupted there
// again.
TResult<TRunSpec> RecordedSpec(const QString& path, const TSettingValues& defaults) {
  TResult<TRunRecord> record = ReadRunRecord(path, defaults);
  if (!record) return Refused(Dashed(TOption::kConfig) + QStringLiteral(": ") + record.Error().message);
  TRunSpec spec = record->spec;
  spec.seedFromClock = false;
  if (record->ended == QLatin1String(kEndedInterrupted)) spec.interruptedAfter = record->stepsRun;
  return spec;
}

// Reads the checkpoint the plan continues. With `recordRates` the plan's
// rates (a record's) stay; with `recorded` the file must be the very one
// the record was made from.
TStatus ReadFrom(TRunPlan& plan, bool recordRates, bool recorded) {
  const QString path = plan.fromPath;
  const QString expected = plan.fromSha256;
  if (recorded && !QFileInfo::exists(path)) {
    return Refused(QStringLiteral("%1: the checkpoint %2 (SHA-256 %3) is missing; give %4 FILE to use another")
                       .arg(Dashed(TOption::kConfig), path, expected, Dashed(TOption::kFrom)));
  }
  TResult<TCheckpointFile> file = ReadCheckpoint(path);
  if (!file) return Refused(Dashed(TOption::kFrom) + QStringLiteral(": ") + file.Error().message);
  if (recorded && !expected.isEmpty() && !file->Is(expected)) {
    return Refused(QStringLiteral("%1: the checkpoint %2 has SHA-256 %3, but the record names %4; give %5 FILE to use "
                                  "it anyway")
                       .arg(Dashed(TOption::kConfig), path, file->sha256, expected, Dashed(TOption::kFrom)));
  }
  TCheckpoint& checkpoint = file->checkpoint;
  // Settings fixed at setup are the checkpoint's; the rates are the
  // record's when there is one (a branch's), else the checkpoint's.
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (specs[i].fixedAtSetup || !recordRates) plan.settings[i] = checkpoint.settings[i];
  }
  if (!plan.branchSeed) plan.seed = checkpoint.seed;
  plan.seedFromClock = false;
  plan.fromPath = QFileInfo(path).absoluteFilePath();
  plan.fromSha256 = file->sha256;
  plan.from = std::move(checkpoint);
  return Success();
}

// The options that draw pictures: "--plot, --snapshot-every or --video", or
// with an empty `conjunction` "--plot, --snapshot-every, --video".
QString PictureOptions(const QString& conjunction) {
  const QString last = conjunction.isEmpty() ? QStringLiteral(", ") : QLatin1Char(' ') + conjunction + QLatin1Char(' ');
  return Dashed(TOption::kPlot) + QStringLiteral(", ") + Dashed(TOption::kSnapshotEvery) + last +
         Dashed(TOption::kVideo);
}

// Takes the watching options into `plan` and refuses what cannot be watched:
// a video without ffmpeg or of an unknown kind, options that would be ignored.
TStatus ResolveWatch(const TRunOptions& options, TRunPlan& plan) {
  plan.keepCheckpoints = plan.keepCheckpoints || options.keepCheckpoints;
  plan.births = plan.births || options.births;
  if (options.pictureScale) plan.pictureScale = *options.pictureScale;
  if (!options.video.isEmpty()) plan.video = options.video;
  if (options.videoEvery) plan.videoEvery = *options.videoEvery;
  if (options.agentsEvery) plan.agentsEvery = *options.agentsEvery;
  if (options.fieldEvery) plan.fieldEvery = *options.fieldEvery;

  if (options.videoEvery && plan.video.isEmpty()) {
    return Refused(
        QStringLiteral("%1 is for %2: give %2 FILE too").arg(Dashed(TOption::kVideoEvery), Dashed(TOption::kVideo)));
  }
  if (!plan.video.isEmpty()) {
    if (plan.video.contains(QLatin1Char('/')) || plan.video.startsWith(QLatin1Char('.'))) {
      return Refused(QStringLiteral("%1 takes a file name for the run's folder, such as video.mp4, not '%2'")
                         .arg(Dashed(TOption::kVideo), plan.video));
    }
    if (TStatus accepted = TVideo::Accepts(plan.video); !accepted) return accepted.Error();
    if (plan.videoEvery > plan.steps) {
      return Refused(QStringLiteral("%1 %2 is more than %3 %4: the video would have no frame")
                         .arg(Dashed(TOption::kVideoEvery), QString::number(plan.videoEvery), Dashed(TOption::kSteps),
                              QString::number(plan.steps)));
    }
  }
  if (options.pictureScale && !plan.Pictures()) {
    return Refused(QStringLiteral("%1 magnifies pictures: give %2 too")
                       .arg(Dashed(TOption::kPictureScale), PictureOptions(QStringLiteral("or"))));
  }
  for (const auto& [option, every] :
       {std::pair{TOption::kAgentsEvery, plan.agentsEvery}, {TOption::kFieldEvery, plan.fieldEvery}}) {
    if (every % TForm1::kSampleInterval != 0) {
      return Refused(QStringLiteral("%1 takes a multiple of %2, the steps between samples, not '%3'")
                         .arg(Dashed(option))
                         .arg(TForm1::kSampleInterval)
                         .arg(every));
    }
  }
  if (plan.keepCheckpoints && plan.checkpointEvery == 0) {
    return Refused(QStringLiteral("%1 keeps the checkpoints of %2 K: give it too")
                       .arg(Dashed(TOption::kKeepCheckpoints), Dashed(TOption::kCheckpointEvery)));
  }
  return Success();
}

// Refuses a plan that writes files, given on the command line or asked for
// by a record, when its series goes to standard output.
TStatus WritesNoFiles(const TRunPlan& plan) {
  const QString out = Dashed(TOption::kOut);
  const auto writesFiles = [&out](TOption option) {
    return Refused(QStringLiteral("%1 writes files: give %2 DIR").arg(Dashed(option), out));
  };
  if (plan.histograms) return writesFiles(TOption::kHistograms);
  if (plan.checkpointEvery > 0) return writesFiles(TOption::kCheckpointEvery);
  if (plan.Pictures()) {
    return Refused(QStringLiteral("pictures (%1) are written into the run's folder: give %2 DIR")
                       .arg(PictureOptions(QString()), out));
  }
  if (plan.agentsEvery > 0 || plan.births || plan.fieldEvery > 0) {
    const TOption option = plan.births            ? TOption::kBirths
                           : plan.agentsEvery > 0 ? TOption::kAgentsEvery
                                                  : TOption::kFieldEvery;
    return Refused(QStringLiteral("%1 writes a file: give %2 DIR").arg(Dashed(option), out));
  }
  if (plan.keepCheckpoints) return writesFiles(TOption::kKeepCheckpoints);
  return Success();
}

// The window opens only on a display; offscreen it would never show.
TStatus HasDisplay() {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    return Refused(QStringLiteral("%1 needs a display, and none could be opened (DISPLAY is '%2')")
                       .arg(Dashed(TOption::kShow), qEnvironmentVariable("DISPLAY")));
  }
  return Success();
}

// The world's step counter stops here (TForm1::DoStep).
constexpr int32_t kStepCountLimit = std::numeric_limits<int32_t>::max();

// The canonical path of `path` when it exists, else empty.
QString Canonical(const QString& path) { return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath(); }

}  // namespace

TStatus CheckParentsOutside(const QString& out, const TRunOptions& options, const TRunPlan& plan) {
  const QString folder = Canonical(out);
  if (folder.isEmpty()) return Success();  // a folder yet to be made holds nothing
  const std::pair<TOption, QString> parents[] = {{TOption::kConfig, options.config}, {TOption::kFrom, plan.fromPath}};
  for (const auto& [option, path] : parents) {
    const QString parent = Canonical(path);
    if (parent.isEmpty() || !(parent == folder || parent.startsWith(folder + QLatin1Char('/')))) continue;
    return Refused(QStringLiteral("%1 %2 is the folder that %3 reads %4 from; a run never writes over what it "
                                  "continues or repeats: give another %1")
                       .arg(Dashed(TOption::kOut), out, Dashed(option), path));
  }
  return Success();
}

TResult<TRunPlan> ResolvePlan(const TRunOptions& options, const TSettingValues& defaults, TPlanTarget target) {
  TRunPlan plan;
  plan.settings = defaults;
  plan.steps = kDefaultSteps;
  plan.seedFromClock = true;
  const bool configured = !options.config.isEmpty();
  if (configured) {
    TResult<TRunSpec> recorded = RecordedSpec(options.config, defaults);
    if (!recorded) return recorded.Error();
    static_cast<TRunSpec&>(plan) = *recorded;
  }
  if (!options.from.isEmpty()) {
    plan.fromPath = options.from;
    plan.fromSha256.clear();
  }
  if (!plan.fromPath.isEmpty()) {
    if (TStatus read = ReadFrom(plan, configured, configured && options.from.isEmpty()); !read) return read.Error();
  }

  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (!options.settings[i]) continue;
    const int32_t value = *options.settings[i];
    if (plan.from && specs[i].fixedAtSetup && value != plan.settings[i]) {
      return Refused(QStringLiteral("%1 is fixed when the world is set up: the checkpoint has %2, not %3")
                         .arg(Dashed(QLatin1String(specs[i].option)), FormatSettingValue(specs[i], plan.settings[i]),
                              FormatSettingValue(specs[i], value)));
    }
    plan.settings[i] = value;
  }
  if (options.steps) {
    plan.steps = *options.steps;
    plan.interruptedAfter.reset();
  }
  if (plan.from && static_cast<int64_t>(plan.from->step) + plan.steps > kStepCountLimit) {
    const int32_t left = kStepCountLimit - plan.from->step;
    const QString advice = left > 0 ? QStringLiteral("give %1 %2 or fewer").arg(Dashed(TOption::kSteps)).arg(left)
                                    : QStringLiteral("no step is left");
    return Refused(QStringLiteral("%1: the checkpoint is at step %2, and %3 steps more would pass the step counter's "
                                  "limit of %4; %5")
                       .arg(Dashed(TOption::kFrom))
                       .arg(plan.from->step)
                       .arg(plan.steps)
                       .arg(kStepCountLimit)
                       .arg(advice));
  }
  if (options.seed) {
    plan.seed = *options.seed;
    plan.seedFromClock = false;
    if (plan.from) plan.branchSeed = true;
  }
  if (options.design) plan.design = options.design;
  plan.histograms = plan.histograms || options.histograms;
  plan.plot = plan.plot || options.plot;
  if (options.snapshotEvery) plan.snapshotEvery = *options.snapshotEvery;
  if (options.checkpointEvery) plan.checkpointEvery = *options.checkpointEvery;
  if (TStatus watched = ResolveWatch(options, plan); !watched) return watched.Error();
  if (target == TPlanTarget::kStandardOutput) {
    if (TStatus files = WritesNoFiles(plan); !files) return files.Error();
  } else if (target == TPlanTarget::kWindow) {
    if (TStatus display = HasDisplay(); !display) return display.Error();
  }
  return plan;
}
