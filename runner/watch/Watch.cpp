#include "Watch.h"

#include <QDir>

#include "Checkpoint.h"

namespace {

TStatus FromText(const QString& error) { return error.isEmpty() ? Success() : TStatus(Failed(error)); }

}  // namespace

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
