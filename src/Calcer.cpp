#include "Calcer.h"

#include <cmath>

#include "Runtime.h"

namespace {
constexpr int32_t kPercent = 100;
constexpr int32_t kBitsPerGene = 8;
}  // namespace

int32_t ShareDraw() {
  Randomize();
  return Random(kPercent);
}

int32_t PickByShare(const std::vector<double>& shares) {
  const long double draw = ShareDraw();
  if (shares.empty()) return 0;
  long double sum = 0;
  const size_t last = shares.size() - 1;
  for (size_t i = 0;; ++i) {
    sum += shares[i];
    if (sum >= draw || i == last) return static_cast<int32_t>(i);
  }
}

int32_t GridDistance(int32_t col1, int32_t row1, int32_t col2, int32_t row2) {
  const long double dc = static_cast<long double>(col1) - col2;
  const long double dr = static_cast<long double>(row1) - row2;
  const double root = static_cast<double>(sqrtl(dc * dc + dr * dr));
  return Round(root);
}

TGridDistances::TGridDistances(int32_t cols, int32_t rows)
    : rows_(static_cast<size_t>(rows)), table_(static_cast<size_t>(cols) * rows_) {
  size_t i = 0;
  for (int32_t dc = 0; dc < cols; ++dc) {
    for (int32_t dr = 0; dr < rows; ++dr) table_[i++] = static_cast<int16_t>(GridDistance(dc, dr, 0, 0));
  }
}

std::string ByteToBits(int32_t value) {
  std::string bits(kBitsPerGene, '0');
  for (int32_t n = kBitsPerGene - 1; n >= 0; --n) {
    if (value & (1 << n)) bits[kBitsPerGene - 1 - n] = '1';
  }
  return bits;
}

int32_t BitsToInt(const std::string& text) {
  // Unsigned arithmetic: texts longer than 31 characters (which no caller
  // passes) wrap instead of overflowing.
  uint32_t result = 0;
  const size_t len = text.size();
  for (size_t k = len; k >= 1; --k) {
    const char c = text[k - 1];
    if (c < '0' || c > '9') throw EConvertError(InvalidIntegerMessage(std::string(1, c)));
    const size_t power = len - k;
    const uint32_t weight = power < 32 ? (uint32_t{1} << power) : 0u;
    result += static_cast<uint32_t>(c - '0') * weight;
  }
  return static_cast<int32_t>(result);
}
