// Shared helpers of the agent suites: generator arithmetic written out
// independently of the toolkit, seeds that give chosen draws, a queue of
// seeds for Randomize, and a main window with a world of a chosen size.
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CellForm.h"
#include "Dialogs.h"
#include "Runtime.h"

namespace agents_test {

constexpr uint32_t kMultiplier = 134775813u;

// One step of the process-wide generator.
inline uint32_t NextSeed(uint32_t seed) { return seed * kMultiplier + 1u; }
// Random(n) taken from an already stepped seed.
inline int32_t DrawFrom(uint32_t stepped, int32_t n) {
  return static_cast<int32_t>((static_cast<uint64_t>(stepped) * static_cast<uint32_t>(n)) >> 32);
}
// The real draw taken from an already stepped seed.
inline long double RealFrom(uint32_t stepped) { return static_cast<long double>(stepped) / 4294967296.0L; }

// Generator state after `steps` draws from `seed`.
inline uint32_t Advance(uint32_t seed, int steps) {
  for (int i = 0; i < steps; ++i) seed = NextSeed(seed);
  return seed;
}

inline uint32_t InverseMultiplier() {
  uint32_t x = kMultiplier;  // Newton's iteration for the inverse modulo 2^32
  for (int i = 0; i < 5; ++i) x *= 2u - kMultiplier * x;
  return x;
}

// A seed whose next draws are Random(n1) = v1, Random(n2) = v2, ... in turn.
inline uint32_t SeedGivingDraws(const std::vector<std::pair<int32_t, int32_t>>& draws) {
  const auto [n, v] = draws.front();
  // Every stepped seed in [lo, hi) gives v as its first draw.
  const uint64_t lo = ((static_cast<uint64_t>(v) << 32) + n - 1) / n;
  const uint64_t hi = ((static_cast<uint64_t>(v + 1) << 32) + n - 1) / n;
  for (uint64_t t = lo; t < hi; ++t) {
    uint32_t s = static_cast<uint32_t>(t);
    bool ok = true;
    for (size_t k = 1; k < draws.size() && ok; ++k) {
      s = NextSeed(s);
      ok = DrawFrom(s, draws[k].first) == draws[k].second;
    }
    if (ok) return (static_cast<uint32_t>(t) - 1u) * InverseMultiplier();
  }
  ADD_FAILURE() << "no seed gives these draws";
  return 0;
}

inline uint32_t SeedGivingDraw(int32_t n, int32_t v) { return SeedGivingDraws({{n, v}}); }

// Makes Randomize hand out the queued seeds in order and collects every
// message; restores the clock and the message box when it goes.
class RandomizeQueue {
 public:
  RandomizeQueue() {
    SetRandomizeSource([this] {
      ++calls;
      if (seeds.empty()) {
        ADD_FAILURE() << "Randomize called more often than seeds were queued";
        return 0u;
      }
      const uint32_t seed = seeds.front();
      seeds.pop_front();
      return seed;
    });
  }
  ~RandomizeQueue() { SetRandomizeSource({}); }
  RandomizeQueue(const RandomizeQueue&) = delete;
  RandomizeQueue& operator=(const RandomizeQueue&) = delete;

  std::deque<uint32_t> seeds;
  int calls = 0;
};

// Randomize hands out start, start + 1, start + 2, ...
class RandomizeCounter {
 public:
  explicit RandomizeCounter(uint32_t start) : next(start) {
    SetRandomizeSource([this] { return next++; });
  }
  ~RandomizeCounter() { SetRandomizeSource({}); }
  RandomizeCounter(const RandomizeCounter&) = delete;
  RandomizeCounter& operator=(const RandomizeCounter&) = delete;

  uint32_t next;
};

class MessageCollector {
 public:
  MessageCollector() {
    SetMessageSink([this](const std::string& text) { messages.push_back(text); });
  }
  ~MessageCollector() { SetMessageSink({}); }
  MessageCollector(const MessageCollector&) = delete;
  MessageCollector& operator=(const MessageCollector&) = delete;

  std::vector<std::string> messages;
};

// A stopped main window whose world was set up with `agentCount` agents and
// cells of `size` pixels (the first world, built by FormCreate, is replaced).
inline std::unique_ptr<TForm1> MakeWorld(int agentCount, int size = 6) {
  auto form = std::make_unique<TForm1>();
  form->Timer1->stop();
  form->Edit_anzAg->setText(QString::number(agentCount));
  form->Edit_size->setText(QString::number(size));
  form->B_setupClick();
  return form;
}

}  // namespace agents_test
