// The arithmetic under the exploration's estimators: least squares, ranks,
// partial correlations and percentiles.
#pragma once

#include <optional>
#include <vector>

using TMatrix = std::vector<std::vector<double>>;

struct TFit {
  std::vector<double> beta;  // the coefficients, one per column of the model
  TMatrix inverse;           // (X'X)^-1: a coefficient's variance is the residual variance times its diagonal
  double rss = 0;            // the residual sum of squares
};

// The least squares fit of y on the columns of x (a row per observation);
// nothing when the columns are linearly dependent or the rows are fewer.
std::optional<TFit> LeastSquares(const TMatrix& x, const std::vector<double>& y);

// The ranks of the values, 1 for the smallest; tied values share their mean rank.
std::vector<double> Ranks(const std::vector<double>& values);

// The correlation of y with column `which` of `columns` once both are freed
// of a linear fit on the other columns (and a constant); nothing when either
// residual is constant.
std::optional<double> PartialCorrelation(const std::vector<std::vector<double>>& columns, size_t which,
                                         const std::vector<double>& y);

// The p-quantile of the values, interpolated between order statistics
// (the values need not be sorted); values must not be empty.
double PercentileOf(std::vector<double> values, double p);
// The same of values already sorted in ascending order.
double PercentileOfSorted(const std::vector<double>& sorted, double p);
