#include "SeedRule.h"

#include <chrono>

#include "Runtime.h"

TSeedRule::TSeedRule(uint32_t seed, uint64_t reseedsDone, TGeneratorStart start) : seed_(seed), reseeds_(reseedsDone) {
  if (start == TGeneratorStart::kSetToSeed) RandSeed = seed;
  SetRandomizeSource([this] { return ReseedValue(seed_, ++reseeds_); });
}

TSeedRule::~TSeedRule() { SetRandomizeSource({}); }

uint32_t SeedFromClock() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  return static_cast<uint32_t>(micros ^ (micros >> 32));
}
