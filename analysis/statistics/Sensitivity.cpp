#include "Sensitivity.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "LeastSquares.h"
#include "Statistics.h"

std::vector<std::optional<std::pair<double, double>>> PercentileBootstrap(size_t n, size_t statistics,
                                                                          const TBootstrapStatistics& compute,
                                                                          uint64_t seed, int resamples) {
  std::vector<std::optional<std::pair<double, double>>> out(statistics);
  if (n == 0 || statistics == 0 || resamples <= 0) return out;
  std::mt19937_64 random(seed);
  std::vector<size_t> draw(n);
  std::vector<double> values(statistics);
  std::vector<std::vector<double>> kept(statistics);
  for (auto& k : kept) k.reserve(static_cast<size_t>(resamples));
  for (int r = 0; r < resamples; ++r) {
    for (size_t& j : draw) j = static_cast<size_t>(random() % n);
    if (!compute(draw, values)) continue;
    for (size_t s = 0; s < statistics; ++s) kept[s].push_back(values[s]);
  }
  for (size_t s = 0; s < statistics; ++s) {
    if (kept[s].size() < 2) continue;
    std::sort(kept[s].begin(), kept[s].end());
    out[s].emplace(PercentileOfSorted(kept[s], (1 - kConfidence) / 2),
                   PercentileOfSorted(kept[s], (1 + kConfidence) / 2));
  }
  return out;
}

std::optional<TSobolIndex> SobolIndex(std::span<const double> a, std::span<const double> b, std::span<const double> ab,
                                      std::span<const size_t> use, double noise) {
  if (use.empty()) return std::nullopt;
  const double n = static_cast<double>(use.size());
  double mean = 0;
  for (size_t j : use) mean += a[j] + b[j];
  mean /= 2 * n;
  double variance = 0, first = 0, total = 0;
  for (size_t j : use) {
    variance += (a[j] - mean) * (a[j] - mean) + (b[j] - mean) * (b[j] - mean);
    first += (b[j] - mean) * (ab[j] - a[j]);
    total += (a[j] - ab[j]) * (a[j] - ab[j]);
  }
  variance = variance / (2 * n) - noise;
  // A variance at rounding level of the values' size is none.
  if (!(variance > 1e-12 * std::max(mean * mean, 1e-300))) return std::nullopt;
  return TSobolIndex{first / n / variance, (total / (2 * n) - noise) / variance};
}

TMorrisMoments MorrisMoments(std::span<const double> effects) {
  TMorrisMoments m;
  if (effects.empty()) return m;
  const double n = static_cast<double>(effects.size());
  for (double v : effects) {
    m.mu += v;
    m.muStar += std::abs(v);
  }
  m.mu /= n;
  m.muStar /= n;
  if (effects.size() >= 2) {
    double squares = 0;
    for (double v : effects) squares += (v - m.mu) * (v - m.mu);
    m.sigma = std::sqrt(squares / (n - 1));
  }
  return m;
}

double MorrisNoiseFloor(double noise, double delta) {
  return std::sqrt(2 * std::max(noise, 0.0)) / delta * std::sqrt(2 / std::numbers::pi);
}
