#include "agenten.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "Calcer.h"
#include "Canvas.h"
#include "Runtime.h"

namespace {

constexpr int32_t kHalfTurn = 180;
constexpr int32_t kGeneBits = 8;
constexpr int32_t kPercent = 100;

int32_t DirectionTo(int32_t dx, int32_t dy) {
  return Round(atan2l(static_cast<long double>(dy), static_cast<long double>(dx)) * kDegPerRad);
}

// DirectionTo of every offset up to kDirectionReach cells in each axis, each
// computed by DirectionTo itself the first time it is asked for. A grid has
// at most a few hundred cells a side, so the offsets to home and centre fit.
// Entries hold the direction plus kDirectionBias, so that 0, the value of
// untouched static storage, means not yet computed and costs no memory.
constexpr int32_t kDirectionReach = 512;
constexpr int32_t kDirectionSide = 2 * kDirectionReach + 1;
constexpr int32_t kDirectionBias = kHalfTurn + 1;  // directions lie in -180..180
struct TDirectionCache {
  int16_t biased[kDirectionSide * kDirectionSide];

  int32_t operator()(int32_t dx, int32_t dy) {
    if (dx < -kDirectionReach || dx > kDirectionReach || dy < -kDirectionReach || dy > kDirectionReach) {
      return DirectionTo(dx, dy);
    }
    int16_t& known = biased[(dy + kDirectionReach) * kDirectionSide + dx + kDirectionReach];
    if (known == 0) known = static_cast<int16_t>(DirectionTo(dx, dy) + kDirectionBias);
    return known - kDirectionBias;
  }
};
TDirectionCache directionCache;  // zero-initialised static storage

std::pair<int32_t, int32_t> ComputeStep(int32_t heading) {
  const double h = static_cast<double>(heading * kRadPerDeg);
  const long double radians = h;
  return {Round(cosl(radians)), Round(sinl(radians))};
}

// Steps of every whole-degree heading a move can produce, computed once by
// ComputeStep itself, so a lookup gives the same step bit for bit.
constexpr int32_t kStepTableMin = -TAgent::kTabledHeading;
constexpr int32_t kStepTableMax = TAgent::kTabledHeading;
struct TStepTable {
  std::array<std::pair<int8_t, int8_t>, kStepTableMax - kStepTableMin + 1> steps{};
  TStepTable() {
    for (int32_t h = kStepTableMin; h <= kStepTableMax; ++h) {
      const auto [dx, dy] = ComputeStep(h);
      steps[h - kStepTableMin] = {static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
    }
  }
};
const TStepTable kStepTable;

// Random(range + 1) degrees with a random sign; both draws are always made.
int32_t RandomTurn(int32_t range) {
  const int32_t turn = Random(range + 1);
  const int32_t sign = Random(2);
  return turn * (2 * sign - 1);
}

}  // namespace

std::pair<int32_t, int32_t> StepForHeading(int32_t heading) {
  if (heading < kStepTableMin || heading > kStepTableMax) return ComputeStep(heading);
  const auto [dx, dy] = kStepTable.steps[heading - kStepTableMin];
  return {dx, dy};
}

TChroma::TChroma(std::string_view text) {
  if (text.size() != kLength) {
    throw std::length_error("a chroma has " + std::to_string(kLength) + " characters, not " +
                            std::to_string(text.size()));
  }
  uint16_t bits = 0;
  for (char c : text) {
    if (c != '0' && c != '1') throw std::invalid_argument("a chroma holds only the characters 0 and 1");
    bits = static_cast<uint16_t>(bits << 1 | (c == '1' ? 1 : 0));
  }
  bits_ = bits;
}

TChroma::TText TChroma::text() const {
  TText text{};
  for (size_t i = 0; i < kLength; ++i) text.chars[i] = (*this)[i];
  return text;
}

std::ostream& operator<<(std::ostream& out, const TChroma& chroma) { return out << chroma.text().view(); }

void TAgent::setChroma() {
  // The 8 bits of each gene as ByteToBits spells them, most significant first.
  chroma = TChroma::FromBits(static_cast<uint16_t>(angleGene << kGeneBits | wiggleGene));
}

void TAgent::ChangeHeading(int32_t turnRange, int32_t deviationRange, int32_t sniffMode, int32_t sniffThreshold) {
  if (!searching) {
    if (cellX == homeX && cellY == homeY) {
      searching = true;
      ++tripCount;
      heading += kHalfTurn;
    } else {
      heading = directionCache(homeX - cellX, homeY - cellY);
    }
  } else if (knowsCenter == 1) {
    heading = directionCache(centerX - cellX, centerY - cellY);
  }

  if (scent <= sniffThreshold) {
    randomWalk(turnRange);
  } else if (sniffMode == smRoulette) {
    rouletteWheel(deviationRange);
  } else if (sniffMode == smHillClimbing) {
    hillClimbing(deviationRange);
  }
  int32_t normalized = heading;
  NormalizeAngle(normalized);
  heading = static_cast<int16_t>(normalized);
}

void TAgent::randomWalk(int32_t range) {
  heading += RandomTurn(range);
  const auto [dx, dy] = StepForHeading(heading);
  stepX = dx;
  stepY = dy;
}

void TAgent::rouletteWheel(int32_t range) {
  const int32_t draw = Random(kPercent);
  // The shares add up to 100 whenever scent is above 0, so the scan ends on a
  // candidate; the bound only guards against shares that never reach the draw.
  long double sum = 0;
  size_t chosen = 0;
  const size_t count = shares.size();
  const int64_t total = shares.Total();
  for (size_t i = 0; i < count; ++i) {
    sum += TSensedShares::ShareOf(shares.Amount(i), total);
    chosen = i;
    if (!(draw > sum)) break;
  }
  if (count > 0 && draw > sum) chosen = AnyShareAboveZero() ? count - 1 : 0;
  TakeCandidate(chosen, range);
}

void TAgent::hillClimbing(int32_t range) {
  // The first candidate whose share is above 0 and above every share before
  // it. All shares have the same total, and for a total above 0 a share grows
  // strictly with its amount (two amounts of at most 2^31 differ by more
  // than the roundings to a 64-bit real can close) and is above 0 exactly
  // when its amount is, so the amounts choose as the shares would; for a
  // total of 0 or less every share is 0 and the first candidate is taken.
  size_t chosen = 0;
  if (shares.Total() > 0) {
    int32_t best = 0;
    for (size_t i = 0; i < shares.size(); ++i) {
      if (shares.Amount(i) > best) {
        best = shares.Amount(i);
        chosen = i;
      }
    }
  }
  TakeCandidate(chosen, range);
}

bool TAgent::AnyShareAboveZero() const {
  if (shares.Total() <= 0) return false;
  for (size_t i = 0; i < shares.size(); ++i) {
    if (shares.Amount(i) > 0) return true;
  }
  return false;
}

void TAgent::TakeCandidate(size_t index, int32_t range) {
  if (index >= candidates.size()) {
    // No candidate at all: nothing to steer by, the step stays as it was.
    heading += RandomTurn(range);
    return;
  }
  const auto [dx, dy] = candidates[index];
  heading = directionCache(dx, dy);
  heading += RandomTurn(range);
  stepX = dx;
  stepY = dy;
}

void TAgent::Draw(TCanvas& canvas) const {
  canvas.SetPenWidth(1);
  canvas.SetPenColor(clGray);
  canvas.SetBrushColor(clRed);
  canvas.Ellipse(posX - radius, posY - radius, posX + radius, posY + radius);
  canvas.SetPenColor(clGreen);
  canvas.MoveTo(posX, posY);
  const auto [dx, dy] = StepForHeading(heading);
  canvas.LineTo(posX + kHeadingLineLength * dx, posY + kHeadingLineLength * dy);
}
