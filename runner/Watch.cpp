#include "Watch.h"

#include <QDir>

#include "Checkpoint.h"
#include "Pictures.h"

namespace {

TStatus FromText(const QString& error) { return error.isEmpty() ? Success() : TStatus(Failed(error)); }

}  // namespace

TStatus ResolveWatch(const TRunOptions& options, TRunPlan& plan) {
  plan.keepCheckpoints = plan.keepCheckpoints || options.keepCheckpoints;
  plan.births = plan.births || options.births;
  if (options.pictureScale) plan.pictureScale = *options.pictureScale;
  if (!options.video.isEmpty()) plan.video = options.video;
  if (options.videoEvery) plan.videoEvery = *options.videoEvery;
  if (options.agentsEvery) plan.agentsEvery = *options.agentsEvery;

  if (options.videoEvery && plan.video.isEmpty()) {
    return Refused(QStringLiteral("--video-every is for --video: give --video FILE too"));
  }
  if (!plan.video.isEmpty()) {
    if (plan.video.contains(QLatin1Char('/')) || plan.video.startsWith(QLatin1Char('.'))) {
      return Refused(QStringLiteral("--video takes a file name for the run's folder, such as video.mp4, not '%1'")
                         .arg(plan.video));
    }
    if (QString refusal = TVideo::Refusal(plan.video); !refusal.isEmpty()) return Refused(refusal);
    if (plan.videoEvery > plan.steps) {
      return Refused(QStringLiteral("--video-every %1 is more than --steps %2: the video would have no frame")
                         .arg(plan.videoEvery)
                         .arg(plan.steps));
    }
  }
  if (options.pictureScale && !plan.Pictures()) {
    return Refused(QStringLiteral("--picture-scale magnifies pictures: give --plot, --snapshot-every or --video too"));
  }
  if (plan.agentsEvery % TForm1::kSampleInterval != 0) {
    return Refused(QStringLiteral("--agents-every takes a multiple of %1, the steps between samples, not '%2'")
                       .arg(TForm1::kSampleInterval)
                       .arg(plan.agentsEvery));
  }
  if (plan.keepCheckpoints && plan.checkpointEvery == 0) {
    return Refused(QStringLiteral("--keep-checkpoints keeps the checkpoints of --checkpoint-every K: give it too"));
  }
  return Success();
}

TWatch::TWatch(const TRunSpec& spec, const TRunFolder& folder) : spec_(spec), folder_(folder) {}

TStatus TWatch::Open() {
  if (spec_.keepCheckpoints && !QDir().mkpath(folder_.Path(QLatin1String(kKeptCheckpointFolder)))) {
    return Failed(QStringLiteral("cannot make the checkpoints folder"));
  }
  if (spec_.agentsEvery > 0) agentTable_ = std::make_unique<TAgentTable>(folder_.Path(QLatin1String(kAgentTableName)));
  if (spec_.births) lineage_ = std::make_unique<TLineage>(folder_.Path(QLatin1String(kLineageName)));
  if (!spec_.video.isEmpty()) video_ = std::make_unique<TVideo>(folder_.Path(spec_.video));
  return Success();
}

void TWatch::Observe(TRunObserver& observer) {
  if (agentTable_) observer.agents = [this](int32_t step, const TForm1& form) { agentTable_->Write(step, form); };
  if (lineage_) {
    observer.birth = [this](int32_t step, const TBirth& birth, const TForm1& form) {
      lineage_->Write(step, birth, form);
    };
  }
}

TStatus TWatch::Picture(int32_t step, const QImage& picture) {
  if (!video_ || step % spec_.videoEvery != 0) return Success();
  return FromText(video_->AddFrame(picture));
}

QString TWatch::CheckpointPath(int32_t step) {
  if (!spec_.keepCheckpoints) return folder_.Path(QLatin1String(kCheckpointName));
  // An interrupted run may end on a step whose checkpoint is already kept.
  if (kept_.empty() || kept_.back().step != step) {
    kept_.push_back({step, StepFileName(QLatin1String(kKeptCheckpointFolder), step, QStringLiteral("pwk"))});
  }
  return folder_.Path(kept_.back().file);
}

TStatus TWatch::Close() {
  QString first;
  for (const QString& error : {video_ ? video_->Close() : QString(), agentTable_ ? agentTable_->Close() : QString(),
                               lineage_ ? lineage_->Close() : QString()}) {
    if (first.isEmpty()) first = error;
  }
  return FromText(first);
}

void TWatch::Describe(TRunRecord& record) const {
  record.keptCheckpoints = kept_;
  record.videoFrames = video_ ? video_->Frames() : 0;
}
