#include "ColonyTrips.h"

#include <bit>

namespace {

// |running sum - exact percentage| over the first k members is at most
// 100 * 2^-52 for the rounded shares plus 2^-57 for each addition of a share
// above 0 (sums stay below 128); the tolerance doubles both.
constexpr long double kShareSlack = 128.0L * 0x1p-52L;
constexpr long double kAdditionSlack = 0x1p-56L;
constexpr int32_t kPercent = 100;
constexpr int32_t kLastDraw = kPercent - 1;

}  // namespace

void TColonyTrips::Reset(size_t members) {
  std::vector<int32_t>(members, 0).swap(trips_);
  std::vector<int64_t>((members + kBlock - 1) / kBlock + 1, 0).swap(blockTree_);
  total_ = 0;
  negatives_ = 0;
}

void TColonyTrips::Set(size_t member, int32_t trips) {
  const int32_t old = trips_[member];
  if (old == trips) return;
  trips_[member] = trips;
  const int64_t delta = static_cast<int64_t>(trips) - old;
  total_ += delta;
  negatives_ = negatives_ + (trips < 0 ? 1 : 0) - (old < 0 ? 1 : 0);
  AddToBlock(member / kBlock, delta);
}

void TColonyTrips::AddToBlock(size_t block, int64_t delta) {
  for (size_t i = block + 1; i < blockTree_.size(); i += i & (~i + 1)) blockTree_[i] += delta;
}

int32_t TColonyTrips::Pick(int32_t draw) const {
  const size_t count = trips_.size();
  // Negative counts make the running sum fall as well as rise, and draws
  // outside 0..99 may have no crossing: the scan decides those.
  if (negatives_ > 0 || draw < 0 || draw > kLastDraw) return ScanPick(draw);
  if (count == 0 || draw == 0) return 0;  // every share is at least 0
  const auto last = static_cast<int32_t>(count - 1);
  if (total_ == 0) {
    // Equal shares of 5: the running sums 5, 10, ... are exact.
    const int32_t position = (draw - 1) / static_cast<int32_t>(kEqualShare);
    return position < last ? position : last;
  }

  // Exactly, the running sum reaches the draw at the first member whose
  // trip prefix P has 100 P >= draw x total.
  const __int128 needed = static_cast<__int128>(draw) * total_;
  const auto least = static_cast<int64_t>((needed + kPercent - 1) / kPercent);
  const size_t blocks = blockTree_.size() - 1;
  size_t block = 0;
  int64_t prefix = 0;
  for (size_t step = std::bit_floor(blocks); step > 0; step >>= 1) {
    if (block + step <= blocks && prefix + blockTree_[block + step] < least) {
      block += step;
      prefix += blockTree_[block];
    }
  }
  size_t member = block * kBlock;
  for (; member < count; ++member) {
    prefix += trips_[member];
    if (prefix >= least) break;
  }
  if (member >= count) return ScanPick(draw);  // cannot happen while total_ holds the trips

  // The rounded running sum lies within the tolerance of the exact one and
  // never falls; where both neighbours of the crossing are further than
  // that from the draw, rounding cannot move it.
  const long double tolerance =
      (kShareSlack + static_cast<long double>(count) * kAdditionSlack) * static_cast<long double>(total_);
  const __int128 above = kPercent * static_cast<__int128>(prefix) - needed;
  const __int128 below = needed - kPercent * static_cast<__int128>(prefix - trips_[member]);
  if (static_cast<long double>(above) > tolerance && static_cast<long double>(below) > tolerance) {
    return static_cast<int32_t>(member);
  }
  return ScanPick(draw);
}

int32_t TColonyTrips::ScanPick(int32_t draw) const {
  if (trips_.empty()) return 0;
  const long double target = draw;
  const size_t last = trips_.size() - 1;
  // A share of exactly 0 leaves the sum as it is, so it cannot be where the
  // sum first reaches a draw above 0.
  const bool skipZeros = negatives_ == 0 && total_ > 0 && draw > 0;
  long double sum = 0;
  for (size_t member = 0; member < last; ++member) {
    const int32_t trips = trips_[member];
    if (skipZeros && trips == 0) continue;
    sum += Share(trips, total_);
    if (sum >= target) return static_cast<int32_t>(member);
  }
  return static_cast<int32_t>(last);
}
