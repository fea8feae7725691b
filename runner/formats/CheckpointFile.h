// The checkpoint file around its payload, all numbers little-endian:
//   magic "PWKCHKPT" (8 bytes), format version (u32), length of the program
//   version (u32) and its UTF-8 text, payload length (u64), the payload, and
//   the SHA-256 of every byte before it (32 bytes).
// The payload of format version 1 (a world) is laid out in
// experiment/Checkpoint.cpp and in docs/formats.md. Reading the file here needs
// no engine: the analysis names a run's checkpoint by its SHA-256.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

#include "ByteCodec.h"
#include "Result.h"

inline constexpr uint32_t kCheckpointFormat = 1;

// Writes the file's head into `w`; returns where the payload's length goes.
qsizetype BeginCheckpointFile(TByteWriter& w);
// Puts the length of the payload written since BeginCheckpointFile in place.
void EndCheckpointPayload(TByteWriter& w, qsizetype lengthAt);
// Closes a file with the SHA-256 of everything before it.
void SealCheckpointFile(QByteArray& file);

// The payload of a whole file's bytes; refuses anything that is not a
// complete, intact checkpoint file of this format.
TResult<QByteArray> CheckpointPayload(const QByteArray& file);

// How a checkpoint file is named in a record: the file's SHA-256 in hex, or
// (in records written before the whole file's SHA-256 was recorded) the
// checksum that closes it.
struct TCheckpointSeal {
  QString sha256;
  QString sealedSha256;
  bool Is(const QString& recorded) const { return recorded == sha256 || recorded == sealedSha256; }
};
// The seal of an intact file's bytes (CheckpointPayload has accepted them).
TCheckpointSeal SealOf(const QByteArray& file);
// A checkpoint file's bytes, read only from a regular file within
// kCheckpointByteLimit whose magic, format and declared length are checked
// before the rest is read.
TResult<QByteArray> ReadCheckpointBytes(const QString& path);
// Reads a file and checks that it is an intact checkpoint file.
TResult<TCheckpointSeal> ReadCheckpointSeal(const QString& path);
