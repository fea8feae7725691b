#include "Watch.h"

#include <QDir>

#include "Checkpoint.h"

namespace {

// Opens the table at `path` into `into`; fails when it cannot be made.
template <class T>
TStatus OpenTable(const QString& path, std::unique_ptr<T>& into) {
  TResult<T> table = T::Open(path);
  if (!table) return table.Error();
  into = std::make_unique<T>(std::move(*table));
  return Success();
}

}  // namespace

TWatch::TWatch(const TRunSpec& spec, const TRunFolder& folder) : spec_(spec), folder_(folder) {}

TStatus TWatch::Open() {
  if (spec_.keepCheckpoints && !QDir().mkpath(folder_.Path(QLatin1String(kKeptCheckpointFolder)))) {
    return Failed(QStringLiteral("cannot make the checkpoints folder"));
  }
  if (spec_.agentsEvery > 0) {
    if (TStatus opened = OpenTable(folder_.Path(QLatin1String(kAgentTableName)), agentTable_); !opened) return opened;
  }
  if (spec_.fieldEvery > 0) {
    if (TStatus opened = OpenTable(folder_.Path(QLatin1String(kFieldTableName)), fieldTable_); !opened) return opened;
  }
  if (spec_.births) {
    if (TStatus opened = OpenTable(folder_.Path(QLatin1String(kLineageName)), lineage_); !opened) return opened;
  }
  if (!spec_.video.isEmpty()) video_ = std::make_unique<TVideo>(folder_.Path(spec_.video));
  return Success();
}

void TWatch::Observe(TRunObserver& observer) {
  if (agentTable_) {
    observer.agents = [this](int32_t step, const TForm1& form) {
      if (tables_) tables_ = agentTable_->Write(step, form);
    };
  }
  if (fieldTable_) {
    observer.field = [this](int32_t step, const TForm1& form) {
      if (tables_) tables_ = fieldTable_->Write(step, form);
    };
  }
  if (lineage_) {
    observer.birth = [this](int32_t step, const TBirth& birth, const TForm1& form) {
      if (tables_) tables_ = lineage_->Write(step, birth, form);
    };
  }
}

TStatus TWatch::Picture(int32_t step, const QImage& picture) {
  if (!video_ || step % spec_.videoEvery != 0) return Success();
  return video_->AddFrame(picture);
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
  TStatus first = video_ ? video_->Close() : Success();
  const auto keep = [&first](TStatus status) {
    if (first && !status) first = std::move(status);
  };
  keep(tables_);
  if (agentTable_) keep(agentTable_->Close());
  if (fieldTable_) keep(fieldTable_->Close());
  if (lineage_) keep(lineage_->Close());
  return first;
}

void TWatch::Describe(TRunRecord& record) const {
  record.keptCheckpoints = kept_;
  record.videoFrames = video_ ? video_->Frames() : 0;
}
