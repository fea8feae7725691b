// The seed rule that makes a run repeatable: the generator is set to the
// run's seed S just before its world is set up, and the k-th reseed after
// that (k = 1, 2, ...: every place where the window reads the clock) sets
// it to (S + k x 2654435761) mod 2^32.
#pragma once

#include <cstdint>

inline constexpr uint32_t kReseedStride = 2654435761u;

// The generator's state at the k-th reseed of a run with seed S.
constexpr uint32_t ReseedValue(uint32_t seed, uint64_t k) {
  return seed + static_cast<uint32_t>(k) * kReseedStride;  // unsigned: mod 2^32
}

// Whether a rule starts by setting the generator to its seed (a new world)
// or leaves it as it stands (a world continued from a checkpoint).
enum class TGeneratorStart { kSetToSeed, kKeep };

// While it lives, Randomize follows the rule; on destruction it reads the
// clock again. Only one may live at a time.
class TSeedRule {
 public:
  // Counts reseeds from `reseedsDone` on: the next one is reseedsDone + 1.
  explicit TSeedRule(uint32_t seed, uint64_t reseedsDone = 0, TGeneratorStart start = TGeneratorStart::kSetToSeed);
  ~TSeedRule();
  TSeedRule(const TSeedRule&) = delete;
  TSeedRule& operator=(const TSeedRule&) = delete;

  uint32_t Seed() const { return seed_; }
  uint64_t Reseeds() const { return reseeds_; }

 private:
  uint32_t seed_;
  uint64_t reseeds_;
};

// A seed for a run that was given none: from the clock, to be recorded.
uint32_t SeedFromClock();
