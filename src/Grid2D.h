// A 2-D array indexed [column][row] whose elements lie row after row in
// memory, the order in which every pass visits the grid.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

template <class T>
class Grid2D {
  static_assert(std::is_trivially_destructible_v<T>, "the storage is released without running destructors");

 public:
  // One column's elements, a row's length apart; a ConstColumn only reads them.
  template <class Element>
  class TColumn {
   public:
    TColumn(Element* base, int32_t stride) : base_(base), stride_(stride) {}
    Element& operator[](int32_t row) const { return base_[static_cast<ptrdiff_t>(row) * stride_]; }

   private:
    Element* base_;
    int32_t stride_;
  };
  using Column = TColumn<T>;
  using ConstColumn = TColumn<const T>;

  // cols x rows default elements; 0 x 0 releases the storage.
  void Resize(int32_t cols, int32_t rows) {
    const size_t count = static_cast<size_t>(cols) * static_cast<size_t>(rows);
    std::unique_ptr<T[], TFree> fresh(count > 0 ? Allocate(count) : nullptr);
    if (count > 0) std::uninitialized_value_construct_n(fresh.get(), count);
    data_ = std::move(fresh);
    count_ = count;
    cols_ = cols;
    rows_ = rows;
  }
  void Clear() { Resize(0, 0); }

  // The one way to reach an element: grid[column][row].
  Column operator[](int32_t column) { return Column(data_.get() + column, cols_); }
  ConstColumn operator[](int32_t column) const { return ConstColumn(data_.get() + column, cols_); }

  int32_t Cols() const { return cols_; }
  int32_t Rows() const { return rows_; }
  bool Empty() const { return count_ == 0; }
  // Row-major storage: element (column, row) at row * Cols() + column.
  T* begin() { return data_.get(); }
  T* end() { return data_.get() + count_; }
  const T* begin() const { return data_.get(); }
  const T* end() const { return data_.get() + count_; }

 private:
  struct TFree {
    void operator()(T* p) const { std::free(p); }
  };

  // A grid of 2 MiB or more lies on huge-page boundaries and asks for huge
  // pages: the passes over every cell and the agents' scattered reads then
  // miss the address translation cache far less often.
  static constexpr size_t kHugePage = size_t{2} << 20;
  static T* Allocate(size_t count) {
    const size_t bytes = count * sizeof(T);
    const size_t alignment = bytes >= kHugePage ? kHugePage : alignof(std::max_align_t);
    static_assert(alignof(T) <= alignof(std::max_align_t));
    const size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void* raw = std::aligned_alloc(alignment, rounded);
    if (raw == nullptr) throw std::bad_alloc();
    // Only a hint: where huge pages are not to be had the grid works the same.
    if (alignment == kHugePage) madvise(raw, rounded, MADV_HUGEPAGE);
    return static_cast<T*>(raw);
  }

  std::unique_ptr<T[], TFree> data_;
  size_t count_ = 0;
  int32_t cols_ = 0;
  int32_t rows_ = 0;
};
