// Draws that are the same on every machine: the 64-bit Mersenne Twister's
// output is fixed by the standard, the library's distributions are not.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

class TDraws {
 public:
  explicit TDraws(uint32_t seed) : engine_(seed) {}
  // Uniform in 0..n-1, without the modulo's bias.
  uint64_t Below(uint64_t n) {
    const uint64_t limit = std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % n;
    uint64_t value = engine_();
    while (value >= limit) value = engine_();
    return value % n;
  }
  // Uniform in [0, 1), on a grid of 2^-53.
  double Unit() { return std::ldexp(static_cast<double>(engine_() >> 11), -53); }
  // A uniform permutation of 0..n-1 (Fisher and Yates).
  std::vector<size_t> Permutation(size_t n) {
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    for (size_t i = n; i > 1; --i) std::swap(order[i - 1], order[Below(i)]);
    return order;
  }

 private:
  std::mt19937_64 engine_;
};
