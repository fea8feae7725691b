#include "CheckpointFile.h"

#include <QCryptographicHash>
#include <cstring>

#include "BoundedFile.h"

namespace {

constexpr char kMagic[8] = {'P', 'W', 'K', 'C', 'H', 'K', 'P', 'T'};
constexpr int kChecksumBytes = 32;  // SHA-256
constexpr uint32_t kMaxVersionLength = 256;

QByteArray Sha256(const char* data, qsizetype size) {
  return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Sha256);
}

}  // namespace

qsizetype BeginCheckpointFile(TByteWriter& w) {
  w.PutBytes(kMagic, sizeof kMagic);
  w.Put(kCheckpointFormat);
  const QByteArray version = QByteArrayLiteral(PATHWICK_VERSION);
  w.Put(static_cast<uint32_t>(version.size()));
  w.PutBytes(version.constData(), version.size());
  const qsizetype lengthAt = w.Used();
  w.Put(uint64_t{0});  // the payload's length, known at its end
  return lengthAt;
}

void EndCheckpointPayload(TByteWriter& w, qsizetype lengthAt) {
  const qsizetype payloadAt = lengthAt + static_cast<qsizetype>(sizeof(uint64_t));
  w.PutAt(lengthAt, static_cast<uint64_t>(w.Used() - payloadAt));
}

void SealCheckpointFile(QByteArray& file) { file.append(Sha256(file.constData(), file.size())); }

TResult<QByteArray> CheckpointPayload(const QByteArray& bytes) {
  if (bytes.size() < static_cast<qsizetype>(sizeof kMagic) ||
      std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0) {
    return Refused(QStringLiteral("not a checkpoint"));
  }
  TByteReader r(bytes.constData() + sizeof kMagic, bytes.size() - static_cast<qsizetype>(sizeof kMagic));
  uint32_t format = 0;
  uint32_t versionLength = 0;
  if (!r.Get(format)) return Refused(QStringLiteral("the checkpoint is cut short"));
  if (format != kCheckpointFormat) {
    return Refused(
        QStringLiteral("checkpoint format %1, but this program reads format %2").arg(format).arg(kCheckpointFormat));
  }
  if (!r.Get(versionLength) || versionLength > kMaxVersionLength)
    return Refused(QStringLiteral("the checkpoint is cut short or damaged"));
  QByteArray version(static_cast<qsizetype>(versionLength), '\0');
  uint64_t payloadLength = 0;
  if (!r.GetBytes(version.data(), version.size()) || !r.Get(payloadLength) ||
      payloadLength + kChecksumBytes != static_cast<uint64_t>(r.Left())) {
    return Refused(QStringLiteral("the checkpoint is cut short or has bytes beyond its end"));
  }
  const qsizetype checked = bytes.size() - kChecksumBytes;
  if (Sha256(bytes.constData(), checked) != bytes.right(kChecksumBytes)) {
    return Refused(QStringLiteral("the checkpoint is damaged: its checksum does not match"));
  }
  return bytes.mid(checked - static_cast<qsizetype>(payloadLength), static_cast<qsizetype>(payloadLength));
}

TCheckpointSeal SealOf(const QByteArray& file) {
  return {QString::fromLatin1(Sha256(file.constData(), file.size()).toHex()),
          QString::fromLatin1(file.right(kChecksumBytes).toHex())};
}

TResult<QByteArray> ReadCheckpointBytes(const QString& path) {
  TResult<TBoundedFile> file = TBoundedFile::Open(path, kCheckpointByteLimit);
  if (!file) return file.Error();
  const auto refused = [&path](const QString& why) { return Refused(QStringLiteral("%1: %2").arg(path, why)); };
  // The head, up to the program's version: magic, format and the version's length.
  constexpr qint64 kFixedHead = sizeof kMagic + 2 * sizeof(uint32_t);
  if (file->Size() < kFixedHead) return refused(QStringLiteral("not a checkpoint"));
  TResult<QByteArray> head = file->Read(kFixedHead);
  if (!head) return head.Error();
  if (std::memcmp(head->constData(), kMagic, sizeof kMagic) != 0) return refused(QStringLiteral("not a checkpoint"));
  TByteReader r(head->constData() + sizeof kMagic, kFixedHead - static_cast<qint64>(sizeof kMagic));
  uint32_t format = 0;
  uint32_t versionLength = 0;
  (void)r.Get(format);
  (void)r.Get(versionLength);
  if (format != kCheckpointFormat) {
    return refused(
        QStringLiteral("checkpoint format %1, but this program reads format %2").arg(format).arg(kCheckpointFormat));
  }
  if (versionLength > kMaxVersionLength) return refused(QStringLiteral("the checkpoint is cut short or damaged"));
  // The version and the payload's declared length, which with the checksum
  // must be the rest of the file: nothing more is read from one that differs.
  const qint64 lengthEnd = kFixedHead + versionLength + static_cast<qint64>(sizeof(uint64_t));
  if (file->Size() < lengthEnd) return refused(QStringLiteral("the checkpoint is cut short or damaged"));
  TResult<QByteArray> version = file->Read(lengthEnd - kFixedHead);
  if (!version) return version.Error();
  TByteReader lengthReader(version->constData() + versionLength, static_cast<qsizetype>(sizeof(uint64_t)));
  uint64_t payloadLength = 0;
  (void)lengthReader.Get(payloadLength);
  if (payloadLength + kChecksumBytes != static_cast<uint64_t>(file->Size() - lengthEnd)) {
    return refused(QStringLiteral("the checkpoint is cut short or has bytes beyond its end"));
  }
  TResult<QByteArray> rest = file->ReadRest();
  if (!rest) return rest.Error();
  return *head + *version + *rest;
}

TResult<TCheckpointSeal> ReadCheckpointSeal(const QString& path) {
  TResult<QByteArray> read = ReadCheckpointBytes(path);
  if (!read) return read.Error();
  const QByteArray& bytes = *read;
  if (TResult<QByteArray> payload = CheckpointPayload(bytes); !payload) {
    return Refused(QStringLiteral("%1: %2").arg(path, payload.Error().message));
  }
  return SealOf(bytes);
}
