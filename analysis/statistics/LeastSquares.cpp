#include "LeastSquares.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// A pivot this small against its column's size means the column is a
// combination of the ones before it.
constexpr double kSingular = 1e-10;

}  // namespace

std::optional<TFit> LeastSquares(const TMatrix& x, const std::vector<double>& y) {
  const size_t n = x.size();
  if (n == 0 || y.size() != n) return std::nullopt;
  const size_t p = x.front().size();
  if (p == 0 || n < p) return std::nullopt;
  // The normal equations, X'X b = X'y, by Cholesky; then X'X's inverse.
  TMatrix a(p, std::vector<double>(p, 0.0));
  std::vector<double> xy(p, 0.0);
  for (size_t r = 0; r < n; ++r) {
    for (size_t i = 0; i < p; ++i) {
      xy[i] += x[r][i] * y[r];
      for (size_t j = 0; j <= i; ++j) a[i][j] += x[r][i] * x[r][j];
    }
  }
  TMatrix l(p, std::vector<double>(p, 0.0));
  for (size_t i = 0; i < p; ++i) {
    for (size_t j = 0; j <= i; ++j) {
      double sum = a[i][j];
      for (size_t k = 0; k < j; ++k) sum -= l[i][k] * l[j][k];
      if (i == j) {
        if (!(sum > kSingular * std::max(a[i][i], 1e-300))) return std::nullopt;
        l[i][i] = std::sqrt(sum);
      } else {
        l[i][j] = sum / l[j][j];
      }
    }
  }
  // L^-1 column by column, then (X'X)^-1 = L^-T L^-1.
  TMatrix li(p, std::vector<double>(p, 0.0));
  for (size_t c = 0; c < p; ++c) {
    for (size_t i = c; i < p; ++i) {
      double sum = i == c ? 1.0 : 0.0;
      for (size_t k = c; k < i; ++k) sum -= l[i][k] * li[k][c];
      li[i][c] = sum / l[i][i];
    }
  }
  TFit fit;
  fit.inverse.assign(p, std::vector<double>(p, 0.0));
  for (size_t i = 0; i < p; ++i) {
    for (size_t j = 0; j < p; ++j) {
      double sum = 0;
      for (size_t k = std::max(i, j); k < p; ++k) sum += li[k][i] * li[k][j];
      fit.inverse[i][j] = sum;
    }
  }
  fit.beta.assign(p, 0.0);
  for (size_t i = 0; i < p; ++i) {
    for (size_t j = 0; j < p; ++j) fit.beta[i] += fit.inverse[i][j] * xy[j];
  }
  for (size_t r = 0; r < n; ++r) {
    double e = y[r];
    for (size_t i = 0; i < p; ++i) e -= x[r][i] * fit.beta[i];
    fit.rss += e * e;
  }
  return fit;
}

std::vector<double> Ranks(const std::vector<double>& values) {
  std::vector<size_t> order(values.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return values[a] < values[b]; });
  std::vector<double> ranks(values.size());
  for (size_t i = 0; i < order.size();) {
    size_t j = i;
    while (j + 1 < order.size() && values[order[j + 1]] == values[order[i]]) ++j;
    const double mean = (static_cast<double>(i) + static_cast<double>(j)) / 2.0 + 1.0;
    for (size_t t = i; t <= j; ++t) ranks[order[t]] = mean;
    i = j + 1;
  }
  return ranks;
}

namespace {

// y less its least squares fit on a constant and the columns but `skip`.
std::optional<std::vector<double>> Residuals(const std::vector<std::vector<double>>& columns, size_t skip,
                                             const std::vector<double>& y) {
  TMatrix x(y.size());
  for (size_t r = 0; r < y.size(); ++r) {
    x[r].push_back(1.0);
    for (size_t c = 0; c < columns.size(); ++c) {
      if (c != skip) x[r].push_back(columns[c][r]);
    }
  }
  const std::optional<TFit> fit = LeastSquares(x, y);
  if (!fit) return std::nullopt;
  std::vector<double> e(y);
  for (size_t r = 0; r < y.size(); ++r) {
    for (size_t i = 0; i < x[r].size(); ++i) e[r] -= x[r][i] * fit->beta[i];
  }
  return e;
}

}  // namespace

std::optional<double> PartialCorrelation(const std::vector<std::vector<double>>& columns, size_t which,
                                         const std::vector<double>& y) {
  const auto ex = Residuals(columns, which, columns[which]);
  const auto ey = Residuals(columns, which, y);
  if (!ex || !ey) return std::nullopt;
  double xx = 0, yy = 0, xy = 0, scale = 0;
  for (size_t r = 0; r < y.size(); ++r) {
    xx += (*ex)[r] * (*ex)[r];
    yy += (*ey)[r] * (*ey)[r];
    xy += (*ex)[r] * (*ey)[r];
    scale += columns[which][r] * columns[which][r] + y[r] * y[r];
  }
  // Residuals at rounding level are a constant left over.
  const double tiny = 1e-20 * std::max(scale, 1.0);
  if (!(xx > tiny) || !(yy > tiny)) return std::nullopt;
  return std::clamp(xy / std::sqrt(xx * yy), -1.0, 1.0);
}

double PercentileOf(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return PercentileOfSorted(values, p);
}

double PercentileOfSorted(const std::vector<double>& sorted, double p) {
  const double at = std::clamp(p, 0.0, 1.0) * static_cast<double>(sorted.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(at));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (at - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}
