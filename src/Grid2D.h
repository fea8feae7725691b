// A 2-D array indexed [column][row] whose elements lie row after row in
// memory, the order in which every pass visits the grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

template <class T>
class Grid2D {
 public:
  class Column {
   public:
    Column(T* base, int32_t stride) : base_(base), stride_(stride) {}
    T& operator[](int32_t row) const { return base_[static_cast<ptrdiff_t>(row) * stride_]; }

   private:
    T* base_;
    int32_t stride_;
  };

  // cols x rows default elements; 0 x 0 releases the storage.
  void Resize(int32_t cols, int32_t rows) {
    cols_ = cols;
    rows_ = rows;
    std::vector<T> fresh(static_cast<size_t>(cols) * static_cast<size_t>(rows));
    data_.swap(fresh);
  }
  void Clear() {
    std::vector<T>().swap(data_);
    cols_ = 0;
    rows_ = 0;
  }

  Column operator[](int32_t column) { return Column(data_.data() + column, cols_); }
  T& At(int32_t column, int32_t row) { return data_[static_cast<size_t>(row) * cols_ + column]; }
  const T& At(int32_t column, int32_t row) const { return data_[static_cast<size_t>(row) * cols_ + column]; }

  int32_t Cols() const { return cols_; }
  int32_t Rows() const { return rows_; }
  bool Empty() const { return data_.empty(); }
  // Row-major storage: element (column, row) at row * Cols() + column.
  T* begin() { return data_.data(); }
  T* end() { return data_.data() + data_.size(); }

 private:
  std::vector<T> data_;
  int32_t cols_ = 0;
  int32_t rows_ = 0;
};
