// The seeds' share of a measure's variance: runs of one design point with
// different seeds are replicates, and a one-way random-effects analysis of
// variance over the points splits the runs' variance into the part between
// points (the factors) and the part between seeds at a fixed point (noise).
#pragma once

#include <cstddef>
#include <optional>
#include <span>

// The one-way random-effects ANOVA of values grouped by their point
// (Searle, Casella and McCulloch 1992, "Variance Components", §3.5-3.6):
// MSB and MSW the mean squares between and within points, n0 = (N − Σ n_i²/N)
// / (a − 1) the runs per point (their count when balanced), the seeds'
// variance σ²_w = MSW and the points' σ²_b = max(0, (MSB − MSW) / n0).
// The seeds' share σ²_w / (σ²_w + σ²_b) is one minus the intraclass
// correlation ICC(1) of Shrout and Fleiss (1979, Psychol. Bull. 86, 420-428),
// and its 95 % interval comes from theirs: with F = MSB / MSW,
// F_L = F / F_{0.975}(a − 1, N − a), F_U = F · F_{0.975}(N − a, a − 1) and
// ICC = (F − 1) / (F + n0 − 1) at each end.
struct TSeedShare {
  size_t points = 0;      // a: the groups with at least one value
  size_t runs = 0;        // N
  size_t replicated = 0;  // the points of two runs or more
  double perPoint = 0;    // n0
  // Present when some point has replicates and the values vary.
  std::optional<double> within;   // σ²_w: the variance between seeds at a fixed point
  std::optional<double> between;  // σ²_b: the variance of the points' true means
  std::optional<double> share;    // σ²_w / (σ²_w + σ²_b)
  std::optional<double> low;      // its 95 % interval, within 0 to 1
  std::optional<double> high;
  // The variance the seeds leave in a mean of the point's runs, averaged
  // over the points: σ²_w times the mean of 1 / n_i.
  std::optional<double> meanNoise;
};
// `point[i]` is the group of `values[i]`, any numbering; the spans have one
// length.
TSeedShare SeedShare(std::span<const double> values, std::span<const size_t> point);
