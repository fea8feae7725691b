// Agents: sensing, creation and placement, the movement pass, energy and
// marks, and evolution by reproduction.
#include <algorithm>
#include <array>

#include "Calcer.h"
#include "CellForm.h"
#include "RasterLayer.h"
#include "Runtime.h"

namespace {

constexpr double kSectorShift = 22.5;  // cone edges are moved back half a sector
constexpr int32_t kSectorWidth = 45;
constexpr int32_t kSectors = 8;
// Column and row step of sectors 1..8, at headings 45, 90, ..., 360.
constexpr std::array<std::pair<int8_t, int8_t>, kSectors> kSectorSteps{
    {{1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}}};

constexpr int32_t kPrefetchAhead = 4;  // agents whose cells are fetched ahead of their turn
constexpr int32_t kBirthEnergy = 100000;
constexpr int32_t kAgentRadius = TAgent::kDrawRadius;
constexpr int32_t kGeneRange = 180;
constexpr int32_t kSearchCostFactor = 3;  // off the trail a searching move costs 3 x mark strength
constexpr int32_t kChromaLength = TChroma::kLength;
constexpr int32_t kGeneBits = 8;
constexpr int32_t kMutablePositions = 15;  // the last chroma character never mutates

// Sector 1..8 of a rounded cone edge in 0..360. Edges outside that range
// arise only from headings no move produces; they are held to the nearest
// sector rather than read past the table.
int32_t SectorOf(int32_t edge) { return std::clamp((edge - 1) / kSectorWidth + 1, 1, kSectors); }

// Sector of the cone edge at the whole-degree angle x, moved back half a sector.
int32_t EdgeSector(int32_t x) {
  double edge = static_cast<double>(x) - kSectorShift;
  NormalizeAngleF(edge);
  return SectorOf(Round(edge));
}

// EdgeSector of every angle a heading in the step table's range plus or
// minus a gene can give, computed once by EdgeSector itself.
constexpr int32_t kEdgeTableMin = -TAgent::kTabledHeading - TAgent::kMaxGene;
constexpr int32_t kEdgeTableMax = TAgent::kTabledHeading + TAgent::kMaxGene;
struct TEdgeSectorTable {
  std::array<int8_t, kEdgeTableMax - kEdgeTableMin + 1> sectors{};
  TEdgeSectorTable() {
    for (int32_t x = kEdgeTableMin; x <= kEdgeTableMax; ++x)
      sectors[x - kEdgeTableMin] = static_cast<int8_t>(EdgeSector(x));
  }
  int32_t operator()(int32_t x) const {
    return x < kEdgeTableMin || x > kEdgeTableMax ? EdgeSector(x) : sectors[x - kEdgeTableMin];
  }
};
const TEdgeSectorTable kEdgeSector;

// The packed steps (TStepList's codes) of every cone: the `count` sectors
// from `first` round, at codes[first - 1][count - 1].
struct TConeCodes {
  std::array<std::array<uint32_t, kSectors>, kSectors> codes{};
  TConeCodes() {
    for (int32_t first = 1; first <= kSectors; ++first) {
      for (int32_t count = 1; count <= kSectors; ++count) {
        uint32_t packed = 0;
        for (int32_t i = 0; i < count; ++i) {
          const auto [dx, dy] = kSectorSteps[(first - 1 + i) % kSectors];
          packed |= TStepList::Code(dx, dy) << (TStepList::kCodeBits * i);
        }
        codes[first - 1][count - 1] = packed;
      }
    }
  }
};
const TConeCodes kConeCodes;

constexpr size_t kCacheLine = 64;
// A grid of at most this many bytes stays in the cache from one step to the
// next (the default world's is 197 KB).
constexpr size_t kCachedGridBytes = size_t{1} << 20;
// A grid that stays in the cache gains nothing from having its elements
// fetched ahead: the fetches would only cost their own time.
template <class T>
bool LargerThanCache(const Grid2D<T>& grid) {
  return static_cast<size_t>(grid.end() - grid.begin()) * sizeof(T) > kCachedGridBytes;
}

// An agent may span several cache lines; all of them are fetched.
void PrefetchAgent(const TAgent& agent) {
  const char* bytes = reinterpret_cast<const char*>(&agent);
  for (size_t offset = 0; offset < sizeof(TAgent); offset += kCacheLine) __builtin_prefetch(bytes + offset);
  __builtin_prefetch(bytes + sizeof(TAgent) - 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Sensing

void TForm1::Sense(int32_t index) {
  TAgent& agent = agents[index];
  const int32_t firstSector = kEdgeSector(agent.heading - agent.angleGene);
  const int32_t lastSector = kEdgeSector(agent.heading + agent.angleGene);
  // The cone runs from the first sector round to the last, at most all eight.
  const int32_t count = (lastSector - firstSector + kSectors) % kSectors + 1;
  agent.candidates.SetCodes(kConeCodes.codes[firstSector - 1][count - 1], static_cast<size_t>(count));

  int32_t* sensed = agent.shares.Refill(static_cast<size_t>(count));
  int32_t scent = 0;
  for (int32_t i = 0; i < count; ++i) {
    const auto [dx, dy] = kSectorSteps[(firstSector - 1 + i) % kSectors];
    int32_t column = agent.cellX + dx;
    int32_t row = agent.cellY + dy;
    WrapGrid(column, row, gridCols, gridRows);
    sensed[i] = chemical[column][row];
    scent += sensed[i];
  }
  agent.scent = scent;
}

// ---------------------------------------------------------------------------
// Population

void TForm1::CreateAgents() {
  const int32_t count = ReadAgentCount();
  if (count <= 0) return;
  agents.resize(static_cast<size_t>(count));
}

void TForm1::PlaceAgents(const THomePoints& homePoints) {
  Randomize();
  const int32_t knowsCenter = KnowsCenter() ? 1 : 0;
  TCanvas& canvas = agentLayer->Canvas();
  const int32_t count = static_cast<int32_t>(agents.size());
  for (int32_t i = 0; i < count; ++i) {
    TAgent& agent = agents[i];
    const int32_t c = i % kColonies;
    colonyMembers[c].push_back(i);
    agent.colony = c;
    agent.homeX = homePoints[c].first;
    agent.homeY = homePoints[c].second;
    agent.cellX = agent.homeX;
    agent.cellY = agent.homeY;
    agent.SetPosX(agent.cellX * cellSize + halfCell);
    agent.SetPosY(agent.cellY * cellSize + halfCell);
    agent.SetRadius(kAgentRadius);
    agent.knowsCenter = knowsCenter;
    agent.searching = true;
    agent.SetHeading(Random(kFullTurn));
    agent.centerX = RoundDiv(gridCols, 2);
    agent.centerY = RoundDiv(gridRows, 2);
    agent.Draw(canvas);
    agent.angleGene = Random(kGeneRange);
    agent.wiggleGene = Random(kGeneRange);
    agent.energy = kBirthEnergy;
    agent.tripCount = 0;
    agent.setChroma();
  }
  for (int32_t c = 0; c < kColonies; ++c) colonyTrips_[c].Reset(colonyMembers[c].size());
}

// ---------------------------------------------------------------------------
// Movement

void TForm1::MoveAgents() {
  const int32_t sniffThreshold = SniffThreshold();
  const int32_t sniffMode = SniffMode();
  // Neither value can change during the pass: it runs without returning to
  // the event loop, so reading the captions once is the same as once per move.
  const TMoveCosts costs{VisibilityThreshold(), MarkStrength()};
  // Anything may have changed the agents since the last pass: the colonies'
  // trips are checked afresh at this pass's first birth.
  struct TPass {
    TForm1& form;
    explicit TPass(TForm1& f) : form(f) { form.movingAgents_ = true, form.tripsChecked_ = false; }
    ~TPass() { form.movingAgents_ = false, form.tripsChecked_ = false; }
    TPass(const TPass&) = delete;
    TPass& operator=(const TPass&) = delete;
  } pass(*this);
  const int32_t count = static_cast<int32_t>(agents.size());
  const bool prefetch = LargerThanCache(chemical) || LargerThanCache(cells);
  for (int32_t i = 0; i < count; ++i) {
    if (i + 2 * kPrefetchAhead < count) PrefetchAgent(agents[i + 2 * kPrefetchAhead]);
    if (prefetch && i + kPrefetchAhead < count) PrefetchNeighbourhood(agents[i + kPrefetchAhead]);
    TAgent& agent = agents[i];
    if (agent.energy <= 0) {
      Reproduce(agent);
      NoteTrips(i);  // the child starts without trips
    }
    const int32_t angleGene = agent.angleGene;
    const int32_t wiggleGene = agent.wiggleGene;
    Sense(i);
    const bool homeward = !agent.searching;
    agent.ChangeHeading(angleGene, wiggleGene, sniffMode, sniffThreshold);
    if (homeward && agent.searching) {  // turned round at home
      ++tripsCompleted;
      NoteTrips(i);
    }
    int32_t column = agent.cellX + agent.stepX;
    int32_t row = agent.cellY + agent.stepY;
    WrapGrid(column, row, gridCols, gridRows);
    ChargeMove(agent, chemical[column][row], chemical[agent.cellX][agent.cellY], costs);
    TCell& entered = cells[column][row];
    agent.cellX = column;
    agent.cellY = row;
    agent.SetPosX(column * cellSize + halfCell);
    agent.SetPosY(row * cellSize + halfCell);
    entered.SetState(agent.knowsCenter);
    entered.lastAgent = i;
    if (entered.isTarget) agent.searching = false;
  }
}

void TForm1::PrefetchNeighbourhood(const TAgent& agent) {
  // An agent's cell does not change before its own turn, so the cells it
  // will sense and enter can be fetched into the cache while earlier agents
  // move. The chemical (sensed, and marked on the way home) and the cells
  // (the one entered is read and written) lie in grids of their own; both
  // are fetched once either is too large to stay in the cache, since the
  // larger one's fetches then evict the smaller one as well.
  const int32_t column = agent.cellX;
  const int32_t row = agent.cellY;
  const std::array<int32_t, 3> columns{column > 0 ? column - 1 : gridCols - 1, column,
                                       column < gridCols - 1 ? column + 1 : 0};
  const std::array<int32_t, 3> rows{row > 0 ? row - 1 : gridRows - 1, row, row < gridRows - 1 ? row + 1 : 0};
  for (const int32_t r : rows) {
    const ptrdiff_t rowStart = static_cast<ptrdiff_t>(r) * gridCols;
    const int32_t* chemicalRow = chemical.begin() + rowStart;
    const TCell* cellRow = cells.begin() + rowStart;
    for (const int32_t c : columns) {
      __builtin_prefetch(chemicalRow + c);
      __builtin_prefetch(cellRow + c, 1);  // written if entered
    }
  }
}

void TForm1::SpendEnergy(TAgent& agent, const int32_t& entered, int32_t& left) {
  const TMoveCosts costs{VisibilityThreshold(), MarkStrength()};
  ChargeMove(agent, entered, left, costs);
}

void TForm1::ChargeMove(TAgent& agent, const int32_t& entered, int32_t& left, const TMoveCosts& costs) {
  const int32_t s = costs.markStrength;
  if (agent.searching) {
    agent.energy -= entered < costs.visibilityThreshold ? kSearchCostFactor * s : RoundDiv(s, 2);
    return;
  }
  // Marks saturate instead of wrapping round.
  left = left > kMaxChemical - s ? kMaxChemical : left + s;
  agent.energy -= entered < costs.visibilityThreshold ? s : RoundDiv(s, 2);
}

// ---------------------------------------------------------------------------
// Evolution

void TForm1::Reproduce(TAgent& agent) {
  const int32_t c = agent.colony;
  ++births;
  if (!tripsChecked_) {
    CheckColonyTrips();
    tripsChecked_ = movingAgents_;
  }
  const TColonyTrips& trips = colonyTrips_[c];
  const int32_t first = trips.Pick(ShareDraw());
  const int32_t second = trips.Pick(ShareDraw());
  const int32_t cut = Crossover(agent, {first, second}, c);
  const int32_t mutated = Mutate(agent);
  if (onBirth) {
    const std::vector<int32_t>& members = colonyMembers[c];
    onBirth({static_cast<int32_t>(&agent - agents.data()), c, members[first], members[second], cut, mutated});
  }
}

void TForm1::CheckColonyTrips() {
  size_t longest = 0;
  for (int32_t c = 0; c < kColonies; ++c) {
    const size_t members = colonyMembers[c].size();
    if (colonyTrips_[c].size() != members) colonyTrips_[c].Reset(members);
    longest = std::max(longest, members);
  }
  // Member k of each colony, then member k + 1: list order for agents dealt
  // round the colonies.
  for (size_t k = 0; k < longest; ++k) {
    for (int32_t c = 0; c < kColonies; ++c) {
      const std::vector<int32_t>& members = colonyMembers[c];
      if (k < members.size()) colonyTrips_[c].Set(k, agents[members[k]].tripCount);
    }
  }
}

void TForm1::NoteTrips(int32_t index) {
  if (!tripsChecked_) return;
  const TAgent& agent = agents[index];
  const auto position = static_cast<size_t>(index / kColonies);
  if (agent.colony >= 0 && agent.colony < kColonies && position < colonyMembers[agent.colony].size() &&
      colonyMembers[agent.colony][position] == index) {
    colonyTrips_[agent.colony].Set(position, agent.tripCount);
  } else {
    tripsChecked_ = false;  // not where dealing puts it: the next birth checks again
  }
}

int32_t TForm1::Crossover(TAgent& agent, std::pair<int32_t, int32_t> parents, int32_t colony) {
  Randomize();
  const int32_t cut = Random(kChromaLength) + 1;
  const TChroma& first = agents[colonyMembers[colony][parents.first]].chroma;
  const TChroma& second = agents[colonyMembers[colony][parents.second]].chroma;
  // Both parents are read in full before the agent, which may be one of
  // them, is written: the child's first `cut` characters (the highest bits)
  // from the first, the rest from the second.
  const auto firstBits = static_cast<uint32_t>(first.Bits());
  const auto secondBits = static_cast<uint32_t>(second.Bits());
  const uint32_t fromFirst = ((1u << cut) - 1) << (kChromaLength - cut);
  const auto child = static_cast<uint16_t>((firstBits & fromFirst) | (secondBits & ~fromFirst));
  agent.tripCount = 0;
  agent.searching = true;
  agent.energy = kBirthEnergy;
  // The genes the child's two halves spell, as BitsToInt reads them.
  agent.angleGene = static_cast<uint8_t>(child >> kGeneBits);
  agent.wiggleGene = static_cast<uint8_t>(child & ((1u << kGeneBits) - 1));
  agent.chroma = TChroma::FromBits(child);
  return cut;
}

int32_t TForm1::Mutate(TAgent& agent) {
  const long double rate = MutationRate();
  const long double x = RandomReal();
  if (x >= rate) return kNoMutation;
  const int32_t pos = Random(kMutablePositions) + 1;
  agent.chroma.Flip(static_cast<size_t>(pos - 1));
  return pos - 1;
}
