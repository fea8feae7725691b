// TColonyTrips: the trip counts of one colony's members, kept so that a
// parent is picked by its share of the colony's trips in time that does not
// grow with the colony.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TColonyTrips {
 public:
  // Every member's share when nobody in the colony has made a trip.
  static constexpr double kEqualShare = 5.0;

  // A member's percentage of the colony's trips, as the parent draw weighs
  // it: extended precision quotient and product, stored as a 64-bit real.
  static double Share(int32_t trips, int64_t total) {
    return total > 0 ? static_cast<double>(static_cast<long double>(trips) / total * 100) : kEqualShare;
  }

  // members members, none with a trip.
  void Reset(size_t members);
  size_t size() const { return trips_.size(); }
  int32_t Trips(size_t member) const { return trips_[member]; }
  int64_t Total() const { return total_; }
  void Set(size_t member, int32_t trips);

  // The member that a scan over the shares in member order gives for draw
  // (0..99): the first whose running sum (long double) reaches the draw,
  // else the last. An empty colony gives 0.
  int32_t Pick(int32_t draw) const;
  // That scan itself, member by member.
  int32_t ScanPick(int32_t draw) const;

 private:
  // Members per block of the prefix tree; the crossing is found among the
  // blocks in log time, then within one block.
  static constexpr size_t kBlock = 32;

  void AddToBlock(size_t block, int64_t delta);

  std::vector<int32_t> trips_;
  std::vector<int64_t> blockTree_;  // Fenwick tree over the block totals, 1-based
  int64_t total_ = 0;
  size_t negatives_ = 0;  // members with fewer than 0 trips: the shares are then not monotone
};
