#include "Watch.h"

#include <QDir>

#include "Checkpoint.h"

TWatch::TWatch(const TRunPlan& plan, const TRunFolder& folder) : plan_(plan), folder_(folder) {}

QString TWatch::Open() {
  if (plan_.keepCheckpoints && !QDir().mkpath(folder_.Path(QLatin1String(kKeptCheckpointFolder)))) {
    return QStringLiteral("cannot make the checkpoints folder");
  }
  if (plan_.agentsEvery > 0) agentTable_ = std::make_unique<TAgentTable>(folder_.Path(QLatin1String(kAgentTableName)));
  if (plan_.births) lineage_ = std::make_unique<TLineage>(folder_.Path(QLatin1String(kLineageName)));
  if (!plan_.video.isEmpty()) video_ = std::make_unique<TVideo>(folder_.Path(plan_.video));
  return {};
}

void TWatch::Observe(TRunObserver& observer) {
  if (agentTable_) observer.agents = [this](int32_t step, const TForm1& form) { agentTable_->Write(step, form); };
  if (lineage_) {
    observer.birth = [this](int32_t step, const TBirth& birth, const TForm1& form) {
      lineage_->Write(step, birth, form);
    };
  }
}

QString TWatch::Picture(int32_t step, const QImage& picture) {
  if (!video_ || step % plan_.videoEvery != 0) return {};
  return video_->AddFrame(picture);
}

QString TWatch::CheckpointPath(int32_t step) {
  if (!plan_.keepCheckpoints) return folder_.Path(QLatin1String(kCheckpointName));
  // An interrupted run may end on a step whose checkpoint is already kept.
  if (kept_.empty() || kept_.back().step != step) {
    kept_.push_back({step, StepFileName(QLatin1String(kKeptCheckpointFolder), step, QStringLiteral("pwk"))});
  }
  return folder_.Path(kept_.back().file);
}

QString TWatch::Close() {
  QString first;
  for (QString error : {video_ ? video_->Close() : QString(), agentTable_ ? agentTable_->Close() : QString(),
                        lineage_ ? lineage_->Close() : QString()}) {
    if (first.isEmpty()) first = error;
  }
  return first;
}

void TWatch::Describe(TRunRecord& record) const {
  record.keptCheckpoints = kept_;
  record.videoFrames = video_ ? video_->Frames() : 0;
}
