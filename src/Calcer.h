// Grid and number routines shared by the passes. No state of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The draw of a pick by share: reseeds the shared generator, then Random(100).
int32_t ShareDraw();
// Makes a ShareDraw and returns the first index whose running sum of shares
// (long double) reaches it, else the last index. An empty list gives 0.
int32_t PickByShare(const std::vector<double>& shares);

// Rounded Euclidean distance between two cells; no wrap-around.
int32_t GridDistance(int32_t col1, int32_t row1, int32_t col2, int32_t row2);

// GridDistance for any two cells of a grid of cols x rows, read from a table
// of one entry per offset (a distance depends on the offset alone), so that a
// world's setup works out each distance once rather than once per colony and
// cell.
class TGridDistances {
 public:
  TGridDistances(int32_t cols, int32_t rows);
  int32_t operator()(int32_t col1, int32_t row1, int32_t col2, int32_t row2) const {
    return table_[static_cast<size_t>(Offset(col1 - col2)) * rows_ + static_cast<size_t>(Offset(row1 - row2))];
  }

 private:
  static int32_t Offset(int32_t d) { return d < 0 ? -d : d; }
  size_t rows_;
  std::vector<int16_t> table_;
};

// The low 8 bits of value as "0"/"1", most significant first.
std::string ByteToBits(int32_t value);
// Binary value of a text of digits, last character least significant.
// Throws EConvertError for a character that is not a decimal digit.
int32_t BitsToInt(const std::string& text);

// One wrap per coordinate onto a torus of cols x rows.
inline void WrapGrid(int32_t& column, int32_t& row, int32_t cols, int32_t rows) {
  if (column < 0) {
    column += cols;
  } else if (column > cols - 1) {
    column -= cols;
  }
  if (row < 0) {
    row += rows;
  } else if (row > rows - 1) {
    row -= rows;
  }
}

constexpr int32_t kFullTurn = 360;

// One correction of +360 below 0, then one of -360 above 360.
inline void NormalizeAngle(int32_t& angle) {
  if (angle < 0) angle += kFullTurn;
  if (angle > kFullTurn) angle -= kFullTurn;
}

// The same for a real angle; the sums are formed in extended precision.
inline void NormalizeAngleF(double& angle) {
  if (!(angle >= 0)) angle = static_cast<double>(static_cast<long double>(angle) + kFullTurn);
  if (angle > kFullTurn) angle = static_cast<double>(static_cast<long double>(angle) - kFullTurn);
}
