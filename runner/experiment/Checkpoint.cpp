#include "Checkpoint.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

#include "AtomicFile.h"
#include "Calcer.h"
#include "RasterLayer.h"
#include "Runtime.h"
#include "SeedRule.h"

namespace {

constexpr auto kChromaLength = static_cast<qsizetype>(TChroma::kLength);
constexpr int32_t kMaxGray = 255;
constexpr int32_t kLowestHeading = -83;  // sensing handles every heading in -83..488
constexpr int32_t kHighestHeading = 488;
constexpr uint8_t kHomeFlag = 1;
constexpr uint8_t kTargetFlag = 2;

bool InRange(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }

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
static_assert(HeaderBytes() == 180, "the header as docs/formats.md's layout table has it");

// A cell's stored fields: how many bytes each takes (4: i32, 1: u8), the
// values a world can hold there, and how it is read from and put into a
// cell. Writing, reading and restoring a cell all go through this list. The
// stored widths are the file's, whatever the cell's: putting a value into
// the cell tells whether the cell's field holds it exactly, so a value too
// wide for it is refused rather than cut. The world keeps a cell's chemical
// in a grid of its own; the file keeps it first among the cell's fields.
struct TCellField {
  int bytes;
  int32_t min;
  int32_t max;
  int32_t (*get)(const TCell& cell, int32_t chemical);
  bool (*set)(TCell& cell, int32_t& chemical, int32_t value);
};

template <auto Member>
constexpr TCellField CellField(int bytes, int32_t min, int32_t max) {
  using Field = std::remove_cvref_t<decltype(std::declval<TCell&>().*Member)>;
  return {bytes, min, max, [](const TCell& c, int32_t) { return static_cast<int32_t>(c.*Member); },
          [](TCell& c, int32_t&, int32_t value) {
            c.*Member = static_cast<Field>(value);
            return static_cast<int32_t>(c.*Member) == value;
          }};
}

constexpr int32_t kAny = INT32_MIN;  // with INT32_MAX: written by the engine, never used as an index
constexpr TCellField kCellFields[] = {
    {4, 1, TForm1::kMaxChemical, [](const TCell&, int32_t chemical) { return chemical; },
     [](TCell&, int32_t& chemical, int32_t value) {
       chemical = value;
       return true;
     }},
    CellField<&TCell::drawnChemical>(4, 0, TForm1::kMaxChemical),
    CellField<&TCell::grayLevel>(1, 0, kMaxGray),
    {1, 0, kHomeFlag | kTargetFlag,
     [](const TCell& c, int32_t) { return int32_t{(c.isHome ? kHomeFlag : 0) | (c.isTarget ? kTargetFlag : 0)}; },
     [](TCell& c, int32_t&, int32_t v) {
       c.isHome = (v & kHomeFlag) != 0;
       c.isTarget = (v & kTargetFlag) != 0;
       return true;
     }},
    CellField<&TCell::lastAgent>(4, kAny, INT32_MAX),
    CellField<&TCell::State>(4, kAny, INT32_MAX),
    CellField<&TCell::minHomeDistance>(4, kAny, INT32_MAX),
};

constexpr qsizetype CellBytes() {
  qsizetype bytes = 0;
  for (const TCellField& field : kCellFields) bytes += field.bytes;
  return bytes;
}
constexpr qsizetype kCellBytes = CellBytes();
static_assert(kCellBytes == 22, "a cell as docs/formats.md's layout table has it");

void EncodeCell(TByteWriter& w, const TCell& cell, int32_t chemical) {
  for (const TCellField& field : kCellFields) {
    if (field.bytes == 1) {
      w.Put(static_cast<uint8_t>(field.get(cell, chemical)));
    } else {
      w.Put(field.get(cell, chemical));
    }
  }
}

// Reads a cell's fields; false when one holds a value the world cannot
// hold. The caller has checked that the bytes are there.
bool DecodeCell(TByteReader& r, TCell& cell, int32_t& chemical) {
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
    sound = sound && InRange(value, field.min, field.max) && field.set(cell, chemical, value);
  }
  return sound;
}

// An agent's whole-number fields in the order they are stored, 32 bits each
// whatever their width in the agent; the searching flag, the chroma and the
// sensing lists follow them. Setting a field tells whether the agent's field
// holds the stored value exactly, so a value too wide for it is refused
// rather than cut.
struct TAgentField {
  int32_t (*get)(const TAgent& agent);
  bool (*set)(TAgent& agent, int32_t value);
};

template <auto Member>
constexpr TAgentField AgentField() {
  using Field = std::remove_cvref_t<decltype(std::declval<TAgent&>().*Member)>;
  return {[](const TAgent& a) { return static_cast<int32_t>(a.*Member); },
          [](TAgent& a, int32_t value) {
            a.*Member = static_cast<Field>(value);
            return static_cast<int32_t>(a.*Member) == value;
          }};
}

constexpr TAgentField kAgentWholeFields[] = {
    AgentField<&TAgent::angleGene>(), AgentField<&TAgent::wiggleGene>(), AgentField<&TAgent::energy>(),
    AgentField<&TAgent::tripCount>(), AgentField<&TAgent::colony>(),     AgentField<&TAgent::cellX>(),
    AgentField<&TAgent::cellY>(),     AgentField<&TAgent::homeX>(),      AgentField<&TAgent::homeY>(),
    AgentField<&TAgent::centerX>(),   AgentField<&TAgent::centerY>(),    AgentField<&TAgent::knowsCenter>(),
    AgentField<&TAgent::posX>(),      AgentField<&TAgent::posY>(),       AgentField<&TAgent::radius>(),
    AgentField<&TAgent::heading>(),   AgentField<&TAgent::stepX>(),      AgentField<&TAgent::stepY>(),
    AgentField<&TAgent::scent>()};
constexpr qsizetype kAgentFixedBytes =
    static_cast<qsizetype>(std::size(kAgentWholeFields) * sizeof(int32_t)) + 1 + kChromaLength;
static_assert(kAgentFixedBytes == 93, "19 x i32, the searching flag and the chroma, as docs/formats.md has them");
// The two list counts follow; each list holds at most kMaxCandidates entries.
constexpr qsizetype kLeastAgentBytes = kAgentFixedBytes + 2;
constexpr qsizetype kMostAgentBytes =
    kLeastAgentBytes + TAgent::kMaxCandidates * (2 * sizeof(int8_t)) + TAgent::kMaxCandidates * sizeof(double);

void EncodeAgent(TByteWriter& w, const TAgent& a) {
  for (const TAgentField& field : kAgentWholeFields) w.Put(field.get(a));
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

TError CutShort() { return Refused(QStringLiteral("the checkpoint's content is cut short")); }

// The shares of an agent as stored: 64-bit reals, at most kMaxCandidates.
struct TStoredShares {
  std::array<double, TAgent::kMaxCandidates> shares{};
  uint8_t count = 0;
};

// The candidates and shares an agent last sensed, each list after its count;
// false when they are cut short or a list is not one an agent can hold.
bool ReadSensingLists(TByteReader& r, TAgent& a, TStoredShares& stored) {
  uint8_t count = 0;
  if (!r.Get(count) || count > TAgent::kMaxCandidates) return false;
  a.candidates.clear();
  for (uint8_t i = 0; i < count; ++i) {
    int8_t dx = 0;
    int8_t dy = 0;
    if (!r.Get(dx) || !r.Get(dy) || !InRange(dx, -1, 1) || !InRange(dy, -1, 1)) return false;
    a.candidates.push_back({dx, dy});
  }
  if (!r.Get(stored.count) || stored.count > TAgent::kMaxCandidates) return false;
  for (uint8_t i = 0; i < stored.count; ++i) {
    if (!r.GetDouble(stored.shares[i])) return false;
  }
  return true;
}

bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// The agent keeps the chemical it sensed and reads each share from it and
// the scent, the amounts' sum. Puts into the agent the amounts that give
// exactly the stored shares with the agent's scent; false when there are
// none, as for shares that sensing cannot have produced.
bool PutShares(const TStoredShares& stored, TAgent& a) {
  std::array<int32_t, TAgent::kMaxCandidates> amounts{};
  int64_t total = 0;
  for (uint8_t i = 0; i < stored.count; ++i) {
    const double share = stored.shares[i];
    if (!(share >= 0 && share <= 100)) return false;  // NaN included
    // The nearest whole amount: the share is within a few parts in 2^52 of
    // amount / scent x 100, far nearer than half a unit of the amount.
    amounts[i] = a.scent > 0 ? static_cast<int32_t>(llroundl(share * static_cast<long double>(a.scent) / 100)) : 0;
    total += amounts[i];
  }
  if (stored.count > 0 && a.scent > 0 && total != a.scent) return false;
  a.shares.AssignAmounts(amounts.begin(), amounts.begin() + stored.count);
  for (uint8_t i = 0; i < stored.count; ++i) {
    if (!SameBits(a.shares[i], stored.shares[i])) return false;
  }
  return true;
}

using TWholeFields = std::array<int32_t, std::size(kAgentWholeFields)>;
using TStoredChroma = std::array<char, kChromaLength>;

// An agent's stored fields, its whole numbers as stored into `whole`, its
// chroma into `chroma` and its shares into `shares`; false when they are
// cut short or a sensing list is not one an agent can hold.
bool ReadAgentFields(TByteReader& r, TWholeFields& whole, TStoredChroma& chroma, TStoredShares& shares, TAgent& a) {
  for (int32_t& value : whole) {
    if (!r.Get(value)) return false;
  }
  uint8_t searching = 0;
  if (!r.Get(searching)) return false;
  a.searching = searching != 0;
  if (!r.GetBytes(chroma.data(), kChromaLength)) return false;
  return ReadSensingLists(r, a, shares);
}

// Puts the whole numbers into the agent; false when one does not fit its field.
bool PutWholeFields(const TWholeFields& whole, TAgent& a) {
  bool fits = true;
  for (size_t i = 0; i < whole.size(); ++i) fits = kAgentWholeFields[i].set(a, whole[i]) && fits;
  return fits;
}

// Puts the chroma into the agent; false unless it is all "0" and "1".
bool PutChroma(const TStoredChroma& chroma, TAgent& a) {
  if (!std::all_of(chroma.begin(), chroma.end(), [](char ch) { return ch == '0' || ch == '1'; })) return false;
  a.chroma = std::string_view(chroma.data(), chroma.size());
  return true;
}

// Whatever the engine indexes with points into the checkpoint's grid, and
// the agent is one the setup dealt to its index.
bool Holdable(const TAgent& a, size_t index, const TCheckpoint& c, int32_t cellSize) {
  const int32_t half = RoundDiv(cellSize, 2);
  const auto colony = static_cast<int32_t>(index % TForm1::kColonies);
  return a.colony == colony && InRange(a.cellX, 0, c.cols - 1) && InRange(a.cellY, 0, c.rows - 1) &&
         a.homeX == c.homes[colony].first && a.homeY == c.homes[colony].second &&
         InRange(a.angleGene, 0, TAgent::kMaxGene) && InRange(a.wiggleGene, 0, TAgent::kMaxGene) &&
         a.radius == TAgent::kDrawRadius && InRange(a.knowsCenter, 0, 1) &&
         InRange(a.heading, kLowestHeading, kHighestHeading) && InRange(a.stepX, -1, 1) && InRange(a.stepY, -1, 1) &&
         InRange(a.tripCount, 0, INT32_MAX) && a.posX == a.cellX * cellSize + half &&
         a.posY == a.cellY * cellSize + half && InRange(a.centerX, 0, c.cols) && InRange(a.centerY, 0, c.rows) &&
         InRange(a.scent, 0, INT32_MAX);
}

// Agent `index` of the checkpoint `c`, whose cells are `cellSize` pixels.
TStatus DecodeAgent(TByteReader& r, TAgent& a, size_t index, const TCheckpoint& c, int32_t cellSize) {
  TWholeFields whole{};
  TStoredChroma chroma{};
  TStoredShares shares;
  if (!ReadAgentFields(r, whole, chroma, shares, a)) return CutShort();
  if (!PutWholeFields(whole, a) || !PutChroma(chroma, a) || !Holdable(a, index, c, cellSize) || !PutShares(shares, a)) {
    return Refused(QStringLiteral("agent %1 is not one the world can hold").arg(index));
  }
  return Success();
}

// The file without its closing checksum: the header, then the payload.
QByteArray EncodeUnsealed(const TForm1& form, const TCheckpointRule& rule) {
  QByteArray file;
  TByteWriter w(file, 1024 + form.cells.Cols() * static_cast<qsizetype>(form.cells.Rows()) * kCellBytes +
                          static_cast<qsizetype>(form.agents.size()) * (kMostAgentBytes + 4));
  const qsizetype lengthAt = BeginCheckpointFile(w);
  const TWorldHeader header{
      ReadSettings(form), rule.seed,         rule.reseeds,       RandSeed, stepCount, form.tripsCompleted,
      form.births,        rule.sampledTrips, rule.sampledBirths, gridCols, gridRows,  form.homePoints};
  VisitHeader(header, [&w](const auto& field) { w.Put(field); });
  const int32_t* chemical = form.chemical.begin();
  for (const TCell& cell : form.cells) EncodeCell(w, cell, *chemical++);  // both grids lie row after row
  for (const auto& members : form.colonyMembers) {
    w.Put(static_cast<uint32_t>(members.size()));
    for (int32_t m : members) w.Put(m);
  }
  w.Put(static_cast<uint32_t>(form.agents.size()));
  for (const TAgent& agent : form.agents) EncodeAgent(w, agent);

  EndCheckpointPayload(w, lengthAt);
  w.Finish();
  return file;
}

// --- Reading a payload: its parts in turn, each checked as it is read ---

constexpr int32_t kMaxEdge = 4096;  // cells along a side of the largest grid a checkpoint holds

TStatus CheckSettings(const TWorldHeader& h) {
  const auto specs = SettingSpecs();
  for (size_t i = 0; i < specs.size(); ++i) {
    if (!InRange(h.settings[i], specs[i].min, specs[i].max)) {
      return Refused(QStringLiteral("the checkpoint's setting %1 is out of range").arg(QLatin1String(specs[i].key)));
    }
  }
  return Success();
}

TStatus CheckTotals(const TWorldHeader& h) {
  for (int64_t total : {h.tripsTotal, h.birthsTotal, h.sampledTrips, h.sampledBirths}) {
    if (total < 0) return Refused(QStringLiteral("the checkpoint's totals are negative"));
  }
  if (h.step < 0 || h.sampledTrips > h.tripsTotal || h.sampledBirths > h.birthsTotal) {
    return Refused(QStringLiteral("the checkpoint's step count or totals are inconsistent"));
  }
  return Success();
}

TStatus CheckGrid(const TWorldHeader& h) {
  if (!InRange(h.cols, 1, kMaxEdge) || !InRange(h.rows, 1, kMaxEdge)) {
    return Refused(QStringLiteral("the checkpoint's grid is %1 x %2 cells").arg(h.cols).arg(h.rows));
  }
  for (const auto& [column, row] : h.homes) {
    if (!InRange(column, 0, h.cols - 1) || !InRange(row, 0, h.rows - 1))
      return Refused(QStringLiteral("a home lies off the grid"));
  }
  return Success();
}

TStatus ReadHeader(TByteReader& r, TCheckpoint& c) {
  bool whole = true;
  VisitHeader(static_cast<TWorldHeader&>(c), [&](auto& field) { whole = whole && r.Get(field); });
  if (!whole) return CutShort();
  for (const auto check : {CheckSettings, CheckTotals, CheckGrid}) {
    if (TStatus checked = check(c); !checked) return checked;
  }
  return Success();
}

TStatus ReadCells(TByteReader& r, TCheckpoint& c) {
  const auto cellCount = static_cast<qsizetype>(c.cols) * c.rows;
  if (r.Left() < cellCount * kCellBytes) return CutShort();
  c.cells.resize(static_cast<size_t>(cellCount));
  c.chemical.resize(static_cast<size_t>(cellCount));
  for (size_t i = 0; i < c.cells.size(); ++i) {
    if (!DecodeCell(r, c.cells[i], c.chemical[i])) {
      return Refused(QStringLiteral("a cell holds values the world cannot hold"));
    }
  }
  return Success();
}

// The number of agents the checkpoint's setting asks for.
uint32_t AgentCount(const TWorldHeader& h) {
  return static_cast<uint32_t>(std::max(h.settings[SettingIndex(TSetting::kAgents)], 0));
}

TError NotAsDealt(int32_t colony) {
  return Refused(QStringLiteral("colony %1 does not hold the agents dealt to it").arg(colony));
}

// Colony k as the setup deals the agents: agent i in colony i mod 10.
TStatus ReadColony(TByteReader& r, int32_t k, uint32_t agentCount, std::vector<int32_t>& members) {
  uint32_t size = 0;
  if (!r.Get(size)) return CutShort();
  const uint32_t expected =
      agentCount > static_cast<uint32_t>(k) ? (agentCount - k + TForm1::kColonies - 1) / TForm1::kColonies : 0;
  if (size != expected) return NotAsDealt(k);
  members.resize(size);
  for (uint32_t i = 0; i < size; ++i) {
    if (!r.Get(members[i])) return CutShort();
    if (members[i] != static_cast<int32_t>(k + i * TForm1::kColonies)) return NotAsDealt(k);
  }
  return Success();
}

TStatus ReadColonies(TByteReader& r, TCheckpoint& c) {
  const uint32_t agentCount = AgentCount(c);
  for (int32_t k = 0; k < TForm1::kColonies; ++k) {
    if (TStatus read = ReadColony(r, k, agentCount, c.colonies[k]); !read) return read;
  }
  return Success();
}

TStatus ReadAgents(TByteReader& r, TCheckpoint& c) {
  const uint32_t expected = AgentCount(c);
  uint32_t agents = 0;
  if (!r.Get(agents)) return CutShort();
  if (agents != expected) {
    return Refused(QStringLiteral("the checkpoint holds %1 agents, its setting %2").arg(agents).arg(expected));
  }
  if (r.Left() < static_cast<qsizetype>(agents) * kLeastAgentBytes) return CutShort();
  c.agents.resize(agents);
  const int32_t cellSize = c.settings[SettingIndex(TSetting::kCellSize)];
  for (uint32_t i = 0; i < agents; ++i) {
    if (TStatus read = DecodeAgent(r, c.agents[i], i, c, cellSize); !read) return read;
  }
  return Success();
}

}  // namespace

QByteArray EncodeCheckpoint(const TForm1& form, const TCheckpointRule& rule) {
  QByteArray file = EncodeUnsealed(form, rule);
  SealCheckpointFile(file);
  return file;
}

TResult<TCheckpoint> DecodeCheckpoint(const QByteArray& bytes) {
  TResult<QByteArray> payload = CheckpointPayload(bytes);
  if (!payload) return payload.Error();
  return DecodeCheckpointPayload(*payload);
}

TResult<TCheckpoint> DecodeCheckpointPayload(const QByteArray& payload) {
  TCheckpoint c;
  TByteReader r(payload.constData(), payload.size());
  // The payload's parts in their order, each read and checked before the next.
  for (const auto part : {ReadHeader, ReadCells, ReadColonies, ReadAgents}) {
    if (TStatus read = part(r, c); !read) return read.Error();
  }
  if (r.Left() != 0) return Refused(QStringLiteral("the checkpoint's content has bytes beyond its end"));
  return c;
}

TCheckpointWriter::TCheckpointWriter(QString path) : path_(std::move(path)) {}

TCheckpointWriter::~TCheckpointWriter() { (void)Finish(); }  // a write still under way ends before the writer

TStatus TCheckpointWriter::Finish() {
  if (worker_.joinable()) worker_.join();
  return saved_;
}

TStatus TCheckpointWriter::Write(const TForm1& form, const TCheckpointRule& rule, const QString& path) {
  if (TStatus before = Finish(); !before) return before;
  // The run waits only for the bytes; the checksum, the file and its way to
  // the disk are the worker's.
  worker_ = std::thread([this, path, bytes = EncodeUnsealed(form, rule)]() mutable {
    SealCheckpointFile(bytes);
    saved_ = SaveBytes(bytes, path);
  });
  return Success();
}

TResult<TCheckpointFile> ReadCheckpoint(const QString& path) {
  TResult<QByteArray> read = ReadCheckpointBytes(path);
  if (!read) return read.Error();
  const QByteArray& bytes = *read;
  TResult<TCheckpoint> checkpoint = DecodeCheckpoint(bytes);
  if (!checkpoint) return Refused(QStringLiteral("%1: %2").arg(path, checkpoint.Error().message));
  return TCheckpointFile{SealOf(bytes), std::move(*checkpoint)};
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
  const TGridDistances distance(gridCols, gridRows);
  size_t i = 0;
  for (int32_t row = 0; row < gridRows; ++row) {
    for (int32_t column = 0; column < gridCols; ++column) {
      const TCell& saved = c.cells[i];
      const int32_t savedChemical = c.chemical[i++];
      TCell& cell = form.cells[column][row];
      int32_t& chemical = form.chemical[column][row];
      for (const TCellField& field : kCellFields) field.set(cell, chemical, field.get(saved, savedChemical));
      for (int32_t k = 0; k < TForm1::kColonies; ++k) {
        form.homeDistance[column][row][k] =
            static_cast<int16_t>(distance(column, row, c.homes[k].first, c.homes[k].second));
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
