#include "Checkpoint.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "Calcer.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "SeedRule.h"

namespace {

constexpr char kMagic[8] = {'P', 'W', 'K', 'C', 'H', 'K', 'P', 'T'};
constexpr int kChecksumBytes = 32;  // SHA-256
constexpr auto kChromaLength = static_cast<qsizetype>(TChroma::kLength);
constexpr int32_t kMaxGray = 255;
constexpr int32_t kLowestHeading = -83;  // sensing handles every heading in -83..488
constexpr int32_t kHighestHeading = 488;
constexpr uint8_t kHomeFlag = 1;
constexpr uint8_t kTargetFlag = 2;

// Writes little-endian numbers one after another into a byte array that it
// grows as needed; Finish() cuts the array to what was written.
class TByteWriter {
 public:
  TByteWriter(QByteArray& bytes, qsizetype expected) : bytes_(bytes) {
    bytes_.resize(expected);
    data_ = bytes_.data();
  }
  template <class T>
  void Put(T value) {
    const T little = qToLittleEndian(value);
    PutBytes(reinterpret_cast<const char*>(&little), sizeof(T));
  }
  void PutDouble(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Put(bits);
  }
  void PutBytes(const char* data, qsizetype size) {
    if (used_ + size > bytes_.size()) {
      bytes_.resize(std::max(2 * bytes_.size(), used_ + size));
      data_ = bytes_.data();
    }
    std::memcpy(data_ + used_, data, static_cast<size_t>(size));
    used_ += size;
  }
  qsizetype Used() const { return used_; }
  // Overwrites earlier bytes, at `at`.
  template <class T>
  void PutAt(qsizetype at, T value) {
    const T little = qToLittleEndian(value);
    std::memcpy(data_ + at, &little, sizeof(T));
  }
  void Finish() { bytes_.resize(used_); }

 private:
  QByteArray& bytes_;
  char* data_ = nullptr;
  qsizetype used_ = 0;
};

// Reads little-endian numbers; every read fails once the bytes run out.
class TByteReader {
 public:
  TByteReader(const char* data, qsizetype size) : data_(data), left_(size) {}
  template <class T>
  bool Get(T& value) {
    if (left_ < static_cast<qsizetype>(sizeof(T))) return false;
    value = qFromLittleEndian<T>(data_);
    Skip(sizeof(T));
    return true;
  }
  bool GetDouble(double& value) {
    uint64_t bits = 0;
    if (!Get(bits)) return false;
    std::memcpy(&value, &bits, sizeof bits);
    return true;
  }
  bool GetBytes(char* out, qsizetype size) {
    if (size < 0 || left_ < size) return false;
    std::memcpy(out, data_, static_cast<size_t>(size));
    Skip(size);
    return true;
  }
  qsizetype Left() const { return left_; }

 private:
  void Skip(qsizetype n) {
    data_ += n;
    left_ -= n;
  }
  const char* data_;
  qsizetype left_;
};

bool InRange(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }

QByteArray Sha256(const char* data, qsizetype size) {
  return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Sha256);
}

// --- The payload's layout: one list per stored structure ---

// The header's fields in the order they are stored; every one is stored
// as its own type, so the list gives writing and reading alike.
template <class Header, class F>
constexpr void VisitHeader(Header& h, F&& f) {
  for (auto& setting : h.settings) f(setting);
  f(h.seed);
  f(h.reseeds);
  f(h.generator);
  f(h.step);
  f(h.tripsTotal);
  f(h.birthsTotal);
  f(h.sampledTrips);
  f(h.sampledBirths);
  f(h.cols);
  f(h.rows);
  for (auto& [column, row] : h.homes) {
    f(column);
    f(row);
  }
}

constexpr qsizetype HeaderBytes() {
  TWorldHeader header{};
  qsizetype bytes = 0;
  VisitHeader(header, [&](const auto& field) { bytes += static_cast<qsizetype>(sizeof field); });
  return bytes;
}
static_assert(HeaderBytes() == 180, "the header as the README's layout table has it");

// A cell's stored fields: how many bytes each takes (4: i32, 1: u8), the
// values a world can hold there, and how it is read from and put into a
// cell. Writing, reading and restoring a cell all go through this list.
struct TCellField {
  int bytes;
  int32_t min;
  int32_t max;
  int32_t (*get)(const TCell& cell);
  void (*set)(TCell& cell, int32_t value);
};

constexpr int32_t kAny = INT32_MIN;  // with INT32_MAX: written by the engine, never used as an index
constexpr TCellField kCellFields[] = {
    {4, 1, TForm1::kMaxChemical, [](const TCell& c) { return c.chemical; }, [](TCell& c, int32_t v) { c.chemical = v; }},
    {4, 0, TForm1::kMaxChemical, [](const TCell& c) { return c.drawnChemical; },
     [](TCell& c, int32_t v) { c.drawnChemical = v; }},
    {1, 0, kMaxGray, [](const TCell& c) { return c.grayLevel; }, [](TCell& c, int32_t v) { c.grayLevel = v; }},
    {1, 0, kHomeFlag | kTargetFlag,
     [](const TCell& c) { return int32_t{(c.isHome ? kHomeFlag : 0) | (c.isTarget ? kTargetFlag : 0)}; },
     [](TCell& c, int32_t v) {
       c.isHome = (v & kHomeFlag) != 0;
       c.isTarget = (v & kTargetFlag) != 0;
     }},
    {4, kAny, INT32_MAX, [](const TCell& c) { return c.lastAgent; }, [](TCell& c, int32_t v) { c.lastAgent = v; }},
    {4, kAny, INT32_MAX, [](const TCell& c) { return c.State; }, [](TCell& c, int32_t v) { c.State = v; }},
    {4, kAny, INT32_MAX, [](const TCell& c) { return c.minHomeDistance; },
     [](TCell& c, int32_t v) { c.minHomeDistance = v; }},
};

constexpr qsizetype CellBytes() {
  qsizetype bytes = 0;
  for (const TCellField& field : kCellFields) bytes += field.bytes;
  return bytes;
}
constexpr qsizetype kCellBytes = CellBytes();
static_assert(kCellBytes == 22, "a cell as the README's layout table has it");

void EncodeCell(TByteWriter& w, const TCell& cell) {
  for (const TCellField& field : kCellFields) {
    if (field.bytes == 1) {
      w.Put(static_cast<uint8_t>(field.get(cell)));
    } else {
      w.Put(field.get(cell));
    }
  }
}

// Reads a cell's fields; false when one holds a value the world cannot
// hold. The caller has checked that the bytes are there.
bool DecodeCell(TByteReader& r, TCell& cell) {
  bool sound = true;
  for (const TCellField& field : kCellFields) {
    int32_t value = 0;
    if (field.bytes == 1) {
      uint8_t byte = 0;
      r.Get(byte);
      value = byte;
    } else {
      r.Get(value);
    }
    sound = sound && InRange(value, field.min, field.max);
    field.set(cell, value);
  }
  return sound;
}

// An agent's whole-number fields in the order they are stored (i32 each);
// the searching flag, the chroma and the sensing lists follow them.
constexpr int32_t TAgent::*kAgentWholeFields[] = {
    &TAgent::angleGene, &TAgent::wiggleGene, &TAgent::energy,  &TAgent::tripCount, &TAgent::colony,
    &TAgent::cellX,     &TAgent::cellY,      &TAgent::homeX,   &TAgent::homeY,     &TAgent::centerX,
    &TAgent::centerY,   &TAgent::knowsCenter, &TAgent::posX,   &TAgent::posY,      &TAgent::radius,
    &TAgent::heading,   &TAgent::stepX,      &TAgent::stepY,   &TAgent::scent};
constexpr qsizetype kAgentFixedBytes =
    static_cast<qsizetype>(std::size(kAgentWholeFields) * sizeof(int32_t)) + 1 + kChromaLength;
static_assert(kAgentFixedBytes == 93, "19 x i32, the searching flag and the chroma, as the README has them");
// The two list counts follow; each list holds at most kMaxCandidates entries.
constexpr qsizetype kLeastAgentBytes = kAgentFixedBytes + 2;
constexpr qsizetype kMostAgentBytes =
    kLeastAgentBytes + TAgent::kMaxCandidates * (2 * sizeof(int8_t)) + TAgent::kMaxCandidates * sizeof(double);

void EncodeAgent(TByteWriter& w, const TAgent& a) {
  for (int32_t TAgent::*field : kAgentWholeFields) w.Put(a.*field);
  w.Put(static_cast<uint8_t>(a.searching ? 1 : 0));
  for (char c : a.chroma) w.Put(static_cast<uint8_t>(c));
  w.Put(static_cast<uint8_t>(a.candidates.size()));
  for (const auto& [dx, dy] : a.candidates) {
    w.Put(static_cast<int8_t>(dx));
    w.Put(static_cast<int8_t>(dy));
  }
  w.Put(static_cast<uint8_t>(a.shares.size()));
  for (double share : a.shares) w.PutDouble(share);
}

// One agent, checked against the grid it lives on: whatever the engine
// indexes with must point into the world.
bool DecodeAgent(TByteReader& r, TAgent& a, size_t index, const TCheckpoint& c, int32_t cellSize, QString* error) {
  for (int32_t TAgent::*field : kAgentWholeFields) {
    if (!r.Get(a.*field)) return false;
  }
  uint8_t searching = 0;
  if (!r.Get(searching)) return false;
  a.searching = searching != 0;
  char chroma[kChromaLength];
  if (!r.GetBytes(chroma, kChromaLength)) return false;
  a.chroma = std::string_view(chroma, kChromaLength);
  uint8_t count = 0;
  if (!r.Get(count) || count > TAgent::kMaxCandidates) return false;
  a.candidates.clear();
  for (uint8_t i = 0; i < count; ++i) {
    int8_t dx = 0;
    int8_t dy = 0;
    if (!r.Get(dx) || !r.Get(dy) || !InRange(dx, -1, 1) || !InRange(dy, -1, 1)) return false;
    a.candidates.push_back({dx, dy});
  }
  if (!r.Get(count) || count > TAgent::kMaxCandidates) return false;
  a.shares.clear();
  for (uint8_t i = 0; i < count; ++i) {
    double share = 0;
    if (!r.GetDouble(share)) return false;
    a.shares.push_back(share);
  }
  const int32_t half = RoundDiv(cellSize, 2);
  const auto colony = static_cast<int32_t>(index % TForm1::kColonies);
  bool sound = a.colony == colony && InRange(a.cellX, 0, c.cols - 1) && InRange(a.cellY, 0, c.rows - 1) &&
               a.homeX == c.homes[colony].first && a.homeY == c.homes[colony].second &&
               InRange(a.angleGene, 0, TAgent::kMaxGene) && InRange(a.wiggleGene, 0, TAgent::kMaxGene) &&
               a.radius == TAgent::kDrawRadius && InRange(a.knowsCenter, 0, 1) &&
               InRange(a.heading, kLowestHeading, kHighestHeading) && InRange(a.stepX, -1, 1) &&
               InRange(a.stepY, -1, 1) && InRange(a.tripCount, 0, INT32_MAX) && a.posX == a.cellX * cellSize + half &&
               a.posY == a.cellY * cellSize + half && InRange(a.centerX, 0, c.cols) && InRange(a.centerY, 0, c.rows) &&
               InRange(a.scent, 0, INT32_MAX);
  for (char ch : chroma) sound = sound && (ch == '0' || ch == '1');
  if (!sound) *error = QStringLiteral("agent %1 is not one the world can hold").arg(index);
  return sound;
}

// The file without its closing checksum: the header, then the payload.
QByteArray EncodeUnsealed(TForm1& form, const TCheckpointRule& rule) {
  QByteArray file;
  TByteWriter w(file, 1024 + form.cells.Cols() * static_cast<qsizetype>(form.cells.Rows()) * kCellBytes +
                      static_cast<qsizetype>(form.agents.size()) * (kMostAgentBytes + 4));
  w.PutBytes(kMagic, sizeof kMagic);
  w.Put(kCheckpointFormat);
  const QByteArray version = QByteArrayLiteral(PATHWICK_VERSION);
  w.Put(static_cast<uint32_t>(version.size()));
  w.PutBytes(version.constData(), version.size());
  const qsizetype lengthAt = w.Used();
  w.Put(uint64_t{0});  // the payload's length, known at its end
  const qsizetype payloadAt = w.Used();
  const TWorldHeader header{ReadSettings(form), rule.seed,          rule.reseeds,       RandSeed,
                            stepCount,          form.tripsCompleted, form.births,        rule.sampledTrips,
                            rule.sampledBirths, gridCols,            gridRows,           form.homePoints};
  VisitHeader(header, [&w](const auto& field) { w.Put(field); });
  for (const TCell& cell : form.cells) EncodeCell(w, cell);
  for (const auto& members : form.colonyMembers) {
    w.Put(static_cast<uint32_t>(members.size()));
    for (int32_t m : members) w.Put(m);
  }
  w.Put(static_cast<uint32_t>(form.agents.size()));
  for (const TAgent& agent : form.agents) EncodeAgent(w, agent);

  w.PutAt(lengthAt, static_cast<uint64_t>(w.Used() - payloadAt));
  w.Finish();
  return file;
}

// Closes a file with the SHA-256 of everything before it.
void Seal(QByteArray& file) { file.append(Sha256(file.constData(), file.size())); }

}  // namespace

QByteArray EncodeCheckpoint(TForm1& form, const TCheckpointRule& rule) {
  QByteArray file = EncodeUnsealed(form, rule);
  Seal(file);
  return file;
}

TResult<TCheckpoint> DecodeCheckpoint(const QByteArray& bytes) {
  const auto fail = [](const QString& why) { return Refused(why); };
  if (bytes.size() < static_cast<qsizetype>(sizeof kMagic) ||
      std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0) {
    return fail(QStringLiteral("not a checkpoint"));
  }
  TByteReader r(bytes.constData() + sizeof kMagic, bytes.size() - static_cast<qsizetype>(sizeof kMagic));
  uint32_t format = 0;
  uint32_t versionLength = 0;
  if (!r.Get(format)) return fail(QStringLiteral("the checkpoint is cut short"));
  if (format != kCheckpointFormat) {
    return fail(
        QStringLiteral("checkpoint format %1, but this program reads format %2").arg(format).arg(kCheckpointFormat));
  }
  if (!r.Get(versionLength) || versionLength > 256)
    return fail(QStringLiteral("the checkpoint is cut short or damaged"));
  QByteArray version(static_cast<qsizetype>(versionLength), '\0');
  uint64_t payloadLength = 0;
  if (!r.GetBytes(version.data(), version.size()) || !r.Get(payloadLength) ||
      payloadLength + kChecksumBytes != static_cast<uint64_t>(r.Left())) {
    return fail(QStringLiteral("the checkpoint is cut short or has bytes beyond its end"));
  }
  const qsizetype checked = bytes.size() - kChecksumBytes;
  if (Sha256(bytes.constData(), checked) != bytes.right(kChecksumBytes)) {
    return fail(QStringLiteral("the checkpoint is damaged: its checksum does not match"));
  }
  return DecodeCheckpointPayload(
      bytes.mid(checked - static_cast<qsizetype>(payloadLength), static_cast<qsizetype>(payloadLength)));
}

TResult<TCheckpoint> DecodeCheckpointPayload(const QByteArray& payload) {
  TCheckpoint c;
  TByteReader r(payload.constData(), payload.size());
  QString agentError;  // why an agent is not one the world can hold
  const auto fail = [&](const QString& why) { return Refused(agentError.isEmpty() ? why : agentError); };
  const QString cut = QStringLiteral("the checkpoint's content is cut short");
  bool whole = true;
  VisitHeader(static_cast<TWorldHeader&>(c), [&](auto& field) { whole = whole && r.Get(field); });
  if (!whole) return fail(cut);
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (!InRange(c.settings[i], specs[i].min, specs[i].max)) {
      return fail(QStringLiteral("the checkpoint's setting %1 is out of range").arg(QLatin1String(specs[i].key)));
    }
  }
  for (int64_t total : {c.tripsTotal, c.birthsTotal, c.sampledTrips, c.sampledBirths}) {
    if (total < 0) return fail(QStringLiteral("the checkpoint's totals are negative"));
  }
  if (c.step < 0 || c.sampledTrips > c.tripsTotal || c.sampledBirths > c.birthsTotal) {
    return fail(QStringLiteral("the checkpoint's step count or totals are inconsistent"));
  }
  constexpr int32_t kMaxEdge = 4096;
  if (!InRange(c.cols, 1, kMaxEdge) || !InRange(c.rows, 1, kMaxEdge)) {
    return fail(QStringLiteral("the checkpoint's grid is %1 x %2 cells").arg(c.cols).arg(c.rows));
  }
  for (const auto& [column, row] : c.homes) {
    if (!InRange(column, 0, c.cols - 1) || !InRange(row, 0, c.rows - 1))
      return fail(QStringLiteral("a home lies off the grid"));
  }
  const auto cellCount = static_cast<qsizetype>(c.cols) * c.rows;
  if (r.Left() < cellCount * kCellBytes) return fail(cut);
  c.cells.resize(static_cast<size_t>(cellCount));
  for (TCell& cell : c.cells) {
    if (!DecodeCell(r, cell)) {
      return fail(QStringLiteral("a cell holds values the world cannot hold"));
    }
  }
  const int32_t agentSetting = c.settings[*FindSetting(QStringLiteral("agents"))];
  const auto agentCount = static_cast<uint32_t>(std::max(agentSetting, 0));
  for (int32_t k = 0; k < TForm1::kColonies; ++k) {
    uint32_t size = 0;
    if (!r.Get(size)) return fail(cut);
    // The colonies are as the setup deals them: agent i in colony i mod 10.
    const uint32_t expected =
        agentCount > static_cast<uint32_t>(k) ? (agentCount - k + TForm1::kColonies - 1) / TForm1::kColonies : 0;
    if (size != expected) return fail(QStringLiteral("colony %1 does not hold the agents dealt to it").arg(k));
    c.colonies[k].resize(size);
    for (uint32_t i = 0; i < size; ++i) {
      if (!r.Get(c.colonies[k][i])) return fail(cut);
      if (c.colonies[k][i] != static_cast<int32_t>(k + i * TForm1::kColonies)) {
        return fail(QStringLiteral("colony %1 does not hold the agents dealt to it").arg(k));
      }
    }
  }
  uint32_t agents = 0;
  if (!r.Get(agents)) return fail(cut);
  if (agents != agentCount || r.Left() < static_cast<qsizetype>(agents) * kLeastAgentBytes) {
    return fail(agents != agentCount
                    ? QStringLiteral("the checkpoint holds %1 agents, its setting %2").arg(agents).arg(agentCount)
                    : cut);
  }
  c.agents.resize(agents);
  const int32_t cellSize = c.settings[*FindSetting(QStringLiteral("cell-size"))];
  for (uint32_t i = 0; i < agents; ++i) {
    if (!DecodeAgent(r, c.agents[i], i, c, cellSize, &agentError)) return fail(cut);
  }
  if (r.Left() != 0) return fail(QStringLiteral("the checkpoint's content has bytes beyond its end"));
  return c;
}

TCheckpointWriter::TCheckpointWriter(QString path) : path_(std::move(path)) {}

TCheckpointWriter::~TCheckpointWriter() { (void)Finish(); }  // a write still under way ends before the writer

TStatus TCheckpointWriter::Finish() {
  if (worker_.joinable()) worker_.join();
  if (!error_.isEmpty()) return Failed(error_);
  return Success();
}

TStatus TCheckpointWriter::Write(TForm1& form, const TCheckpointRule& rule) {
  if (TStatus before = Finish(); !before) return before;
  // The run waits only for the bytes; the checksum, the file and its way to
  // the disk are the worker's.
  worker_ = std::thread([this, bytes = EncodeUnsealed(form, rule)]() mutable {
    Seal(bytes);
    const QString temporary = path_ + QStringLiteral(".tmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
      error_ = QStringLiteral("cannot write %1: %2").arg(temporary, file.errorString());
      return;
    }
    const bool synced = ::fsync(file.handle()) == 0;
    file.close();
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(path_);
    if (!synced || std::rename(from.constData(), to.constData()) != 0) {
      error_ = QStringLiteral("cannot put the checkpoint in place at %1: %2")
                   .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
      return;
    }
    // The rename itself reaches the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  });
  return Success();
}

TResult<TCheckpointFile> ReadCheckpoint(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return Refused(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
  const QByteArray bytes = file.readAll();
  TResult<TCheckpoint> checkpoint = DecodeCheckpoint(bytes);
  if (!checkpoint) return Refused(QStringLiteral("%1: %2").arg(path, checkpoint.Error().message));
  return TCheckpointFile{std::move(*checkpoint), QString::fromLatin1(Sha256(bytes.constData(), bytes.size()).toHex()),
                         QString::fromLatin1(bytes.right(kChecksumBytes).toHex())};
}

TStatus RestoreCheckpoint(TForm1& form, TCheckpoint&& c) {
  {
    // A world of the checkpoint's size and population; everything it drew
    // at random is replaced below.
    TSeedRule scratch(0);
    SetUpWorld(form, c.settings);
  }
  if (!form.WorldExists() || gridCols != c.cols || gridRows != c.rows) {
    return Refused(QStringLiteral("the checkpoint's grid of %1 x %2 cells does not fit cell size %3")
        .arg(c.cols)
        .arg(c.rows)
        .arg(cellSize));
  }
  form.homePoints = c.homes;
  TCanvas& canvas = cellLayer->Canvas();
  size_t i = 0;
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& saved = c.cells[i++];
      TCell& cell = form.cells[column][row];
      for (const TCellField& field : kCellFields) field.set(cell, field.get(saved));
      for (int32_t k = 0; k < TForm1::kColonies; ++k) {
        form.homeDistance[column][row][k] = GridDistance(column, row, c.homes[k].first, c.homes[k].second);
      }
      cell.Redraw(canvas);
    }
  }
  form.colonyMembers = std::move(c.colonies);
  form.agents = std::move(c.agents);
  form.tripsCompleted = c.tripsTotal;
  form.births = c.birthsTotal;
  stepCount = c.step;
  RandSeed = c.generator;
  return Success();
}
