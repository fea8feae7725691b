// A list of at most N elements stored inside the object itself: no heap,
// no reallocation, and a copy is a plain copy of the bytes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>

template <class T, size_t N>
class TFixedList {
  static_assert(N <= UINT8_MAX, "the count is kept in one byte");

 public:
  using value_type = T;
  using size_type = size_t;
  using reference = T&;
  using const_reference = const T&;
  using iterator = T*;
  using const_iterator = const T*;

  TFixedList() = default;
  TFixedList(std::initializer_list<T> items) { assign(items.begin(), items.end()); }

  static constexpr size_t capacity() { return N; }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  T* data() { return items_.data(); }
  const T* data() const { return items_.data(); }
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T* begin() { return items_.data(); }
  T* end() { return items_.data() + count_; }
  const T* begin() const { return items_.data(); }
  const T* end() const { return items_.data() + count_; }

  void clear() { count_ = 0; }
  void push_back(const T& item) {
    if (count_ == N) throw std::length_error("a fixed list holds at most its capacity");
    items_[count_++] = item;
  }
  // n copies of value.
  void assign(size_t n, const T& value) {
    if (n > N) throw std::length_error("a fixed list holds at most its capacity");
    std::fill_n(items_.begin(), n, value);
    count_ = static_cast<uint8_t>(n);
  }
  // The elements of [first, last), each converted to T.
  template <class Iterator>
  void assign(Iterator first, Iterator last) {
    clear();
    for (; first != last; ++first) push_back(static_cast<T>(*first));
  }

  friend bool operator==(const TFixedList& a, const TFixedList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::array<T, N> items_{};
  uint8_t count_ = 0;
};
