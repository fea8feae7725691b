// What watches a run beside its series: the agent table, the field table,
// the lineage, the video, and the names of the checkpoints it keeps.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "AgentTable.h"
#include "Experiment.h"
#include "FieldTable.h"
#include "Lineage.h"
#include "Result.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "Video.h"

class TWatch {
 public:
  TWatch(const TRunSpec& spec, const TRunFolder& folder);

  // Opens the files and folders the TRunSpec asks for; fails at once when
  // one cannot be made.
  TStatus Open();
  // Hooks the agent table, the field table and the lineage into the run.
  void Observe(TRunObserver& observer);
  // A labelled picture of the grid after `step`: a video frame when one is due.
  TStatus Picture(int32_t step, const QImage& picture);
  // Where the checkpoint after `step` goes: the one file, or a kept one of its own.
  QString CheckpointPath(int32_t step);
  // Ends every file; the first failure of any of them, also one met while
  // the tables were written during the run.
  TStatus Close();
  // What the record says of them: the kept checkpoints and the video's frames.
  void Describe(TRunRecord& record) const;

 private:
  const TRunSpec& spec_;
  const TRunFolder& folder_;
  std::unique_ptr<TAgentTable> agentTable_;
  std::unique_ptr<TFieldTable> fieldTable_;
  std::unique_ptr<TLineage> lineage_;
  std::unique_ptr<TVideo> video_;
  std::vector<TKeptCheckpoint> kept_;
  TStatus tables_ = Success();  // the first failure to write a row: no more rows are written
};
