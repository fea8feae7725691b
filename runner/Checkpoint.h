// Checkpoints: everything that decides the future of a world, written down
// so that the world can be continued exactly or branched with new rates.
//
// The file, all numbers little-endian:
//   magic "PWKCHKPT" (8 bytes), format version (u32), length of the program
//   version (u32) and its UTF-8 text, payload length (u64), the payload, and
//   the SHA-256 of every byte before it (32 bytes).
// The payload of format version 1 is laid out in Checkpoint.cpp (Encode) and
// in the README.
#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "CellForm.h"
#include "Settings.h"

inline constexpr uint32_t kCheckpointFormat = 1;
inline constexpr const char* kCheckpointName = "checkpoint.pwk";

struct TCheckpoint {
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
  std::vector<TCell> cells;  // row after row
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
QByteArray EncodeCheckpoint(TForm1& form, const TCheckpointRule& rule);
// Reads a whole file's bytes; nothing, and one line in `error`, for anything
// that is not a complete, intact checkpoint of this format.
std::optional<TCheckpoint> DecodeCheckpoint(const QByteArray& bytes, QString* error);
// The payload alone, as DecodeCheckpoint reads it after the checksum.
std::optional<TCheckpoint> DecodeCheckpointPayload(const QByteArray& payload, QString* error);

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

  // An error text (of this write or of the one before), or empty.
  QString Write(TForm1& form, const TCheckpointRule& rule);
  // Waits for the last write; its error text, or empty.
  QString Finish();

 private:
  QString path_;
  std::thread worker_;
  QString error_;  // written by the worker, read after joining it
};
std::optional<TCheckpoint> ReadCheckpoint(const QString& path, QString* error, QString* checksumHex = nullptr);
// The SHA-256 a checkpoint file ends with, in hex, unchecked (it names the
// file); empty when the file cannot be read.
QString StoredCheckpointChecksum(const QString& path);

// Builds the checkpoint's world in `form`: its settings, cells, agents,
// totals and step count, and the generator's state; the cell layer is
// redrawn from the cells. The seed rule is left to the caller. Returns an
// error text when the checkpoint does not fit the window's grid.
QString RestoreCheckpoint(TForm1& form, TCheckpoint&& checkpoint);
