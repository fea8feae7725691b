// Checkpoints: everything that decides the future of a world, written down
// so that the world can be continued exactly or branched with new rates.
// The file around the payload is formats/CheckpointFile.h; the payload of
// format version 1 is laid out in Checkpoint.cpp (Encode) and in docs/formats.md.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "CellForm.h"
#include "CheckpointFile.h"
#include "Result.h"
#include "Settings.h"

// The scalars at the head of a checkpoint's payload.
struct TWorldHeader {
  TSettingValues settings{};
  uint32_t seed = 0;       // the seed rule in force
  uint64_t reseeds = 0;    // reseeds done under it
  uint32_t generator = 0;  // the generator's state
  int32_t step = 0;
  int64_t tripsTotal = 0;
  int64_t birthsTotal = 0;
  int64_t sampledTrips = 0;  // totals at the last sample, for the next interval
  int64_t sampledBirths = 0;
  int32_t cols = 0;
  int32_t rows = 0;
  THomePoints homes{};
};

struct TCheckpoint : TWorldHeader {
  std::vector<TCell> cells;       // row after row
  std::vector<int32_t> chemical;  // each cell's, in the same order
  std::array<std::vector<int32_t>, TForm1::kColonies> colonies;
  std::vector<TAgent> agents;
};

// What the world itself does not hold: the seed rule in force and the
// totals at the last sample.
struct TCheckpointRule {
  uint32_t seed = 0;
  uint64_t reseeds = 0;
  int64_t sampledTrips = 0;
  int64_t sampledBirths = 0;
};

// The world in `form` as it stands, as the bytes of a checkpoint file.
QByteArray EncodeCheckpoint(const TForm1& form, const TCheckpointRule& rule);
// Reads a whole file's bytes; refuses anything that is not a complete,
// intact checkpoint of this format.
TResult<TCheckpoint> DecodeCheckpoint(const QByteArray& bytes);
// The payload alone, as DecodeCheckpoint reads it after the checksum.
TResult<TCheckpoint> DecodeCheckpointPayload(const QByteArray& payload);

// Writes the checkpoints of a run to one path. The bytes go to a temporary
// file beside it at once; a worker thread then flushes them to the disk and
// renames the file into place, while the run goes on. The file at the path
// is always a whole checkpoint, the newer or the older, even across a crash
// of the machine. One write is under way at a time; the next waits for it.
class TCheckpointWriter {
 public:
  explicit TCheckpointWriter(QString path);
  ~TCheckpointWriter();
  TCheckpointWriter(const TCheckpointWriter&) = delete;
  TCheckpointWriter& operator=(const TCheckpointWriter&) = delete;

  // Fails with the error of this write or of the one before.
  TStatus Write(const TForm1& form, const TCheckpointRule& rule) { return Write(form, rule, path_); }
  // The same, to a path of its own (a checkpoint that is kept).
  TStatus Write(const TForm1& form, const TCheckpointRule& rule, const QString& path);
  // Waits for the last write; fails with its error.
  TStatus Finish();

 private:
  QString path_;
  std::thread worker_;
  TStatus saved_ = Success();  // the last write's, set by the worker, read after joining it
};

// A checkpoint read from its file, with the file's seal (how records name it).
struct TCheckpointFile : TCheckpointSeal {
  TCheckpoint checkpoint;
};
// Refuses a file that cannot be read or is no intact checkpoint.
TResult<TCheckpointFile> ReadCheckpoint(const QString& path);

// Builds the checkpoint's world in `form`: its settings, cells, agents,
// totals and step count, and the generator's state; the cell layer is
// redrawn from the cells. The seed rule is left to the caller. Fails when
// the checkpoint does not fit the window's grid.
TStatus RestoreCheckpoint(TForm1& form, TCheckpoint&& checkpoint);
