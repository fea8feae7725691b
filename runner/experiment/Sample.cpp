#include "Sample.h"

#include <algorithm>
#include <cmath>

#include "CellForm.h"

// The stored formats' picture of the model, checked against the engine.
static_assert(TModelShape::kColonies == TForm1::kColonies);
static_assert(TModelShape::kGeneValues == TAgent::kMaxGene + 1);
static_assert(TModelShape::kSampleInterval == TForm1::kSampleInterval);

namespace {

struct TMoments {
  long double sum = 0;
  long double squares = 0;
  void Add(int32_t v) {
    sum += v;
    squares += static_cast<long double>(v) * v;
  }
  double Mean(int64_t n) const { return n > 0 ? static_cast<double>(sum / n) : 0.0; }
  double Deviation(int64_t n) const {
    if (n <= 0) return 0.0;
    const long double mean = sum / n;
    const long double variance = squares / n - mean * mean;
    return variance > 0 ? static_cast<double>(std::sqrt(variance)) : 0.0;
  }
};

}  // namespace

TSample TakeSample(const TForm1& form, int32_t avgAngle, int32_t avgWiggle, const TSample& previous) {
  TSample s;
  s.step = stepCount;
  s.avgAngle = avgAngle;
  s.avgWiggle = avgWiggle;
  TMoments angle;
  TMoments wiggle;
  std::array<int64_t, TForm1::kColonies> colonyAngleSum{};
  std::array<int64_t, TForm1::kColonies> colonyWiggleSum{};
  std::array<TMoments, TForm1::kColonies> colonyAngle{};  // for the spread within each colony
  std::array<TMoments, TForm1::kColonies> colonyWiggle{};
  for (const TAgent& agent : form.agents) {
    angle.Add(agent.angleGene);
    wiggle.Add(agent.wiggleGene);
    if (!agent.searching) ++s.headingHome;
    colonyAngleSum[agent.colony] += agent.angleGene;
    colonyWiggleSum[agent.colony] += agent.wiggleGene;
    colonyAngle[agent.colony].Add(agent.angleGene);
    colonyWiggle[agent.colony].Add(agent.wiggleGene);
    ++s.colonySize[agent.colony];
  }
  const auto n = static_cast<int64_t>(form.agents.size());
  s.meanAngle = angle.Mean(n);
  s.sdAngle = angle.Deviation(n);
  s.meanWiggle = wiggle.Mean(n);
  s.sdWiggle = wiggle.Deviation(n);
  for (int32_t c = 0; c < TForm1::kColonies; ++c) {
    const int32_t size = s.colonySize[c];
    s.colonyAngle[c] = size > 0 ? static_cast<double>(colonyAngleSum[c]) / size : 0.0;
    s.colonyWiggle[c] = size > 0 ? static_cast<double>(colonyWiggleSum[c]) / size : 0.0;
    s.colonyAngleSd[c] = colonyAngle[c].Deviation(size);
    s.colonyWiggleSd[c] = colonyWiggle[c].Deviation(size);
  }
  s.tripsTotal = form.tripsCompleted;
  s.trips = form.tripsCompleted - previous.tripsTotal;
  s.birthsTotal = form.births;
  s.births = form.births - previous.birthsTotal;
  const int32_t threshold = form.VisibilityThreshold();
  // Cells at or below `lowest` are no longer lowered by evaporation; under
  // diffusion evaporation does not run, and there is no floor.
  const bool evaporates = !form.DiffuseChecked();
  const int32_t lowest =
      evaporates ? TForm1::EvaporationAmountAt(form.EvaporationRate()) + TForm1::kEvaporationFloor : 0;
  int64_t chemical = 0;
  int64_t atFloor = 0;
  for (const int32_t amount : form.chemical) {
    s.visibleCells += amount >= threshold ? 1 : 0;
    chemical += amount;
    atFloor += amount <= lowest ? 1 : 0;
  }
  const int64_t cells = form.chemical.end() - form.chemical.begin();
  if (cells > 0) {
    s.meanChemical = static_cast<double>(chemical) / static_cast<double>(cells);
    if (evaporates) s.floorShare = static_cast<double>(atFloor) / static_cast<double>(cells);
  }
  return s;
}

TGeneHistogram TakeHistogram(const TForm1& form) {
  TGeneHistogram histogram{};
  for (const TAgent& agent : form.agents) {
    // Genes have 8 bits; a value outside them would be a fault elsewhere,
    // counted at the nearest end rather than written out of bounds.
    ++histogram[0][std::clamp<int32_t>(agent.angleGene, 0, kGeneValues - 1)];
    ++histogram[1][std::clamp<int32_t>(agent.wiggleGene, 0, kGeneValues - 1)];
  }
  return histogram;
}
