#include "Abc.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

// The lower Cholesky factor of a symmetric k x k matrix (row-major), with a
// small ridge added until it is positive definite (a factor that the kept
// particles all share has no spread of its own).
std::vector<double> Cholesky(std::vector<double> a, size_t k) {
  double ridge = 0;
  for (size_t i = 0; i < k; ++i) ridge = std::max(ridge, std::abs(a[i * k + i]));
  ridge = ridge > 0 ? ridge * 1e-12 : 1e-12;
  for (int attempt = 0; attempt < 64; ++attempt, ridge *= 10) {
    std::vector<double> l(k * k, 0.0);
    bool ok = true;
    for (size_t i = 0; i < k && ok; ++i) {
      for (size_t j = 0; j <= i; ++j) {
        double sum = a[i * k + j] + (i == j && attempt > 0 ? ridge : 0);
        for (size_t m = 0; m < j; ++m) sum -= l[i * k + m] * l[j * k + m];
        if (i == j) {
          if (!(sum > 0)) {
            ok = false;
            break;
          }
          l[i * k + i] = std::sqrt(sum);
        } else {
          l[i * k + j] = sum / l[j * k + j];
        }
      }
    }
    if (ok) return l;
  }
  return std::vector<double>(k * k, 0.0);
}

// log N(x; mean, L L^T), in full: the weights of different generations,
// each with its own kernel, are compared.
double LogKernel(std::span<const double> x, std::span<const double> mean, const std::vector<double>& l, size_t k) {
  double quadratic = 0;
  double logDet = 0;
  for (size_t i = 0; i < k; ++i) logDet += std::log(l[i * k + i]);
  std::vector<double> z(k);
  for (size_t i = 0; i < k; ++i) {
    double sum = x[i] - mean[i];
    for (size_t m = 0; m < i; ++m) sum -= l[i * k + m] * z[m];
    z[i] = sum / l[i * k + i];
    quadratic += z[i] * z[i];
  }
  return -0.5 * quadratic - logDet - 0.5 * static_cast<double>(k) * std::log(2 * std::numbers::pi);
}

double Median(std::vector<double> values) {
  const size_t n = values.size();
  std::sort(values.begin(), values.end());
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

}  // namespace

double TPrior::Density(std::span<const double> coordinates) const {
  double density = 1;
  for (size_t f = 0; f < factors.size(); ++f) {
    const TPriorFactor& p = factors[f];
    const double lo = p.log ? std::log(p.lo) : p.lo;
    const double hi = p.log ? std::log(p.hi) : p.hi;
    if (!(coordinates[f] >= lo && coordinates[f] <= hi)) return 0;
    density /= hi - lo;
  }
  return density;
}

double TPrior::Value(size_t factor, double coordinate) const {
  return factors[factor].log ? std::exp(coordinate) : coordinate;
}

double TPrior::Coordinate(size_t factor, double value) const { return factors[factor].log ? std::log(value) : value; }

uint64_t TAbcRandom::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double TAbcRandom::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double TAbcRandom::Normal() {
  const double u = 1.0 - Uniform();  // in (0, 1]
  const double v = Uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

uint64_t GenerationStream(uint64_t seed, int32_t generation) {
  TAbcRandom mix(seed ^ (0xD1B54A32D192ED03ULL * (static_cast<uint64_t>(generation) + 1)));
  return mix.Next();
}

uint32_t RunSeed(uint64_t seed, int32_t generation, int32_t candidate, int32_t k) {
  TAbcRandom mix(GenerationStream(seed, generation) ^ (0xA24BAED4963EE407ULL * (static_cast<uint64_t>(candidate) + 1)) ^
                 (0x9FB21C651E98DF25ULL * (static_cast<uint64_t>(k) + 1)));
  return static_cast<uint32_t>(mix.Next() >> 32);
}

std::vector<std::vector<double>> DrawFromPrior(const TPrior& prior, size_t count, TAbcRandom& random) {
  std::vector<std::vector<double>> drawn(count, std::vector<double>(prior.factors.size()));
  for (auto& point : drawn) {
    for (size_t f = 0; f < prior.factors.size(); ++f) {
      const TPriorFactor& p = prior.factors[f];
      const double lo = p.log ? std::log(p.lo) : p.lo;
      const double hi = p.log ? std::log(p.hi) : p.hi;
      point[f] = lo + (hi - lo) * random.Uniform();
    }
  }
  return drawn;
}

std::vector<double> KernelCovariance(std::span<const TParticle> kept) {
  const size_t k = kept.empty() ? 0 : kept.front().coordinates.size();
  double total = 0;
  for (const TParticle& p : kept) total += p.weight;
  std::vector<double> mean(k, 0.0);
  double squares = 0;
  for (const TParticle& p : kept) {
    const double w = p.weight / total;
    squares += w * w;
    for (size_t i = 0; i < k; ++i) mean[i] += w * p.coordinates[i];
  }
  std::vector<double> covariance(k * k, 0.0);
  for (const TParticle& p : kept) {
    const double w = p.weight / total;
    for (size_t i = 0; i < k; ++i) {
      for (size_t j = 0; j < k; ++j)
        covariance[i * k + j] += w * (p.coordinates[i] - mean[i]) * (p.coordinates[j] - mean[j]);
    }
  }
  const double unbiased = squares < 1 ? 1 / (1 - squares) : 1;
  for (double& c : covariance) c *= 2 * unbiased;
  return covariance;
}

TProposal Propose(const TPrior& prior, std::span<const TParticle> kept, size_t count, TAbcRandom& random) {
  const size_t k = prior.factors.size();
  const std::vector<double> l = Cholesky(KernelCovariance(kept), k);
  std::vector<double> cumulative;
  double total = 0;
  for (const TParticle& p : kept) cumulative.push_back(total += p.weight);
  TProposal proposal;
  std::vector<double> z(k);
  for (size_t c = 0; c < count; ++c) {
    std::vector<double> x(k);
    int tries = 0;
    do {
      if (++tries > kMaxRedraws) return {};
      const double u = random.Uniform() * total;
      const size_t from = std::min<size_t>(
          std::upper_bound(cumulative.begin(), cumulative.end(), u) - cumulative.begin(), kept.size() - 1);
      for (double& v : z) v = random.Normal();
      for (size_t i = 0; i < k; ++i) {
        x[i] = kept[from].coordinates[i];
        for (size_t m = 0; m <= i; ++m) x[i] += l[i * k + m] * z[m];
      }
    } while (prior.Density(x) == 0);
    // pi(x) / sum_j w_j K(x | x_j): the prior over the density the
    // candidate was drawn from, so that the weights of every generation
    // (1 for those drawn from the prior) are on one footing.
    double mixture = 0;
    for (const TParticle& p : kept) mixture += p.weight / total * std::exp(LogKernel(x, p.coordinates, l, k));
    proposal.weights.push_back(mixture > 0 ? prior.Density(x) / mixture : 0);
    proposal.coordinates.push_back(std::move(x));
  }
  return proposal;
}

std::vector<double> Scales(std::span<const std::vector<double>> summaries) {
  const size_t m = summaries.empty() ? 0 : summaries.front().size();
  std::vector<double> scales(m, 1.0);
  for (size_t j = 0; j < m; ++j) {
    std::vector<double> values;
    for (const auto& s : summaries) {
      if (!std::isnan(s[j])) values.push_back(s[j]);
    }
    if (values.size() < 2) continue;
    const double median = Median(values);
    std::vector<double> deviations;
    for (const double v : values) deviations.push_back(std::abs(v - median));
    const double mad = 1.4826 * Median(deviations);
    if (mad > 0) {
      scales[j] = mad;
      continue;
    }
    double mean = 0;
    for (const double v : values) mean += v / static_cast<double>(values.size());
    double ss = 0;
    for (const double v : values) ss += (v - mean) * (v - mean);
    const double sd = std::sqrt(ss / static_cast<double>(values.size() - 1));
    if (sd > 0) scales[j] = sd;
  }
  return scales;
}

double Distance(std::span<const double> summary, std::span<const double> target, std::span<const double> scales) {
  double sum = 0;
  for (size_t j = 0; j < target.size(); ++j) {
    if (std::isnan(summary[j])) return std::numeric_limits<double>::infinity();
    const double d = (summary[j] - target[j]) / scales[j];
    sum += d * d;
  }
  return std::sqrt(sum);
}

TAbcStep KeepNearest(std::vector<TParticle> previous, std::vector<TParticle> drawn, size_t particles,
                     double previousTolerance) {
  TAbcStep step;
  if (!previous.empty() && !drawn.empty()) {
    const auto accepted =
        std::count_if(drawn.begin(), drawn.end(), [&](const TParticle& p) { return p.distance < previousTolerance; });
    step.acceptance = static_cast<double>(accepted) / static_cast<double>(drawn.size());
  }
  std::vector<TParticle> pool = std::move(previous);
  pool.insert(pool.end(), std::make_move_iterator(drawn.begin()), std::make_move_iterator(drawn.end()));
  // Ties are broken by the order of drawing, so that the same distances keep the same particles.
  std::stable_sort(pool.begin(), pool.end(), [](const TParticle& a, const TParticle& b) {
    if (a.distance != b.distance) return a.distance < b.distance;
    return a.generation != b.generation ? a.generation < b.generation : a.candidate < b.candidate;
  });
  pool.resize(std::min(pool.size(), particles));
  step.tolerance = pool.empty() ? 0 : pool.back().distance;
  step.kept = std::move(pool);
  return step;
}

TWeightedMoments Moments(std::span<const TParticle> kept, size_t coordinate) {
  double total = 0;
  double mean = 0;
  for (const TParticle& p : kept) {
    total += p.weight;
    mean += p.weight * p.coordinates[coordinate];
  }
  if (!(total > 0)) return {};
  mean /= total;
  double variance = 0;
  for (const TParticle& p : kept) variance += p.weight * std::pow(p.coordinates[coordinate] - mean, 2);
  return {mean, std::sqrt(variance / total)};
}
