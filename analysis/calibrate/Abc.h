// Approximate Bayesian computation by sequential Monte Carlo (ABC-SMC), in
// the population form that draws a whole generation at once, so that each
// generation is one sweep:
//
//   Lenormand, Jabot and Deffuant (2013), "Adaptive approximate Bayesian
//   computation for complex models", Computational Statistics 28, 2777-2796
//   (the adaptive population Monte Carlo, APMC, that OpenMOLE's ABC runs);
//   its kernel and weights are those of Beaumont, Cornuet, Marin and Robert
//   (2009), "Adaptive approximate Bayesian computation", Biometrika 96(4),
//   983-990; its tolerance follows the previous distances as in Del Moral,
//   Doucet and Jasra (2012), "An adaptive sequential Monte Carlo method for
//   approximate Bayesian computation", Statistics and Computing 22, 1009-1020.
//
// Generation 0 draws N / alpha particles from the prior and keeps the N
// nearest; eps_0 is the largest distance kept. Generation t draws N new
// particles: each is a kept particle chosen by its weight, moved by a Gaussian
// with twice the kept particles' weighted covariance (redrawn until it lies in
// the prior's support), and weighted pi(theta) / sum_j w_j K(theta | theta_j)
// (the kept weights normalised; the kernel density in full, so that weights
// of particles drawn in different generations compare).
// The acceptance rate is the share of new particles nearer than eps_{t-1};
// the N nearest of the kept and the new are kept, and eps_t is the largest
// distance among them (the alpha-quantile of the pooled distances).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// One factor's prior: uniform on [lo, hi], or log-uniform (uniform in log x,
// 0 < lo).
struct TPriorFactor {
  double lo = 0;
  double hi = 1;
  bool log = false;
};

// The prior of independent factors. A particle's coordinates are x itself
// for a uniform factor and log x for a log-uniform one, so that the kernel
// moves a log-uniform factor by ratios.
struct TPrior {
  std::vector<TPriorFactor> factors;
  // The density of the coordinates, 0 outside the support.
  double Density(std::span<const double> coordinates) const;
  // The factor's value at a coordinate, and back.
  double Value(size_t factor, double coordinate) const;
  double Coordinate(size_t factor, double value) const;
};

// The generator of every draw of a calibration: SplitMix64 (Steele, Lea and
// Flood 2014), a 64-bit state, so that its stream is the same on every
// machine and compiler.
class TAbcRandom {
 public:
  explicit TAbcRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  double Uniform();  // in [0, 1), 53 bits
  double Normal();   // Box-Muller, one of each pair
 private:
  uint64_t state_;
};

// The stream of one generation of a calibration seeded `seed`: each
// generation's draws are its own, so a resumed calibration draws the same.
uint64_t GenerationStream(uint64_t seed, int32_t generation);
// A run's seed: of the k-th seed of candidate `candidate` of `generation`.
uint32_t RunSeed(uint64_t seed, int32_t generation, int32_t candidate, int32_t k);

struct TParticle {
  std::vector<double> coordinates;
  double distance = 0;
  double weight = 1;
  int32_t generation = 0;  // the generation that drew it
  int32_t candidate = 0;   // its place among that generation's candidates
};

// The candidates of generation 0: `count` draws from the prior.
std::vector<std::vector<double>> DrawFromPrior(const TPrior& prior, size_t count, TAbcRandom& random);

// The weighted covariance of the kept particles' coordinates (weights
// normalised, divided by 1 - sum w^2 as the unbiased weighted form), times
// two: Beaumont et al.'s kernel.
std::vector<double> KernelCovariance(std::span<const TParticle> kept);

// The candidates of a later generation and their importance weights.
struct TProposal {
  std::vector<std::vector<double>> coordinates;
  std::vector<double> weights;
};
// `count` candidates moved from the kept particles; refuses (empty) when a
// draw stays outside the prior after kMaxRedraws tries.
TProposal Propose(const TPrior& prior, std::span<const TParticle> kept, size_t count, TAbcRandom& random);
inline constexpr int kMaxRedraws = 10000;

// Each measure's spread over the first generation: the median absolute
// deviation times 1.4826 (the normal's sd), the sd where that is 0, and 1
// where both are; a missing summary (NaN) is left out.
std::vector<double> Scales(std::span<const std::vector<double>> summaries);

// The Euclidean distance between standardised summaries; infinite when a
// summary is missing (NaN).
double Distance(std::span<const double> summary, std::span<const double> target, std::span<const double> scales);

// One generation's outcome: the particles kept, the tolerance and the
// acceptance rate (1 for generation 0).
struct TAbcStep {
  std::vector<TParticle> kept;
  double tolerance = 0;
  double acceptance = 1;
};
// Keeps the `particles` nearest of `previous` and `drawn`; the acceptance
// rate counts the drawn nearer than `previousTolerance` (none for
// generation 0, which passes no previous particles).
TAbcStep KeepNearest(std::vector<TParticle> previous, std::vector<TParticle> drawn, size_t particles,
                     double previousTolerance);

// The weighted mean and sd of one coordinate of the kept particles.
struct TWeightedMoments {
  double mean = 0;
  double sd = 0;
};
TWeightedMoments Moments(std::span<const TParticle> kept, size_t coordinate);
