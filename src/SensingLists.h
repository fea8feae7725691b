// What an agent keeps of its last sensing: the neighbour steps of its cone
// (TStepList) and the chemical found on each (TSensedShares). Both live
// inside the agent, each packed to the values it can hold, and both are read
// element by element as lists of what they stand for: steps as (column, row)
// pairs, shares as 64-bit reals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <utility>

// A random-access iterator over a list whose elements are worked out from
// what it stores: dereferencing gives list[index] by value.
template <class List, class Value>
class TIndexIterator {
 public:
  using iterator_category = std::random_access_iterator_tag;
  using value_type = Value;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = Value;

  TIndexIterator() = default;
  TIndexIterator(const List* list, size_t index) : list_(list), index_(static_cast<difference_type>(index)) {}

  Value operator*() const { return (*list_)[static_cast<size_t>(index_)]; }
  Value operator[](difference_type n) const { return *(*this + n); }
  TIndexIterator& operator++() { return ++index_, *this; }
  TIndexIterator operator++(int) { return TIndexIterator(list_, static_cast<size_t>(index_++)); }
  TIndexIterator& operator--() { return --index_, *this; }
  TIndexIterator operator--(int) { return TIndexIterator(list_, static_cast<size_t>(index_--)); }
  TIndexIterator& operator+=(difference_type n) { return index_ += n, *this; }
  TIndexIterator& operator-=(difference_type n) { return index_ -= n, *this; }
  friend TIndexIterator operator+(TIndexIterator it, difference_type n) { return it += n; }
  friend TIndexIterator operator+(difference_type n, TIndexIterator it) { return it += n; }
  friend TIndexIterator operator-(TIndexIterator it, difference_type n) { return it -= n; }
  friend difference_type operator-(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ - b.index_; }
  friend bool operator==(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ == b.index_; }
  friend bool operator!=(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ != b.index_; }
  friend bool operator<(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ < b.index_; }
  friend bool operator>(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ > b.index_; }
  friend bool operator<=(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ <= b.index_; }
  friend bool operator>=(const TIndexIterator& a, const TIndexIterator& b) { return a.index_ >= b.index_; }

 private:
  const List* list_ = nullptr;
  difference_type index_ = 0;
};

// Most neighbour directions a sensing cone can hold: all eight.
constexpr size_t kMaxSensed = 8;

// Up to eight neighbour steps, each a column and a row step in -1..1, as a
// code of 4 bits: 3 x (column + 1) + (row + 1), the first step lowest.
class TStepList {
 public:
  using value_type = std::pair<int8_t, int8_t>;
  using const_iterator = TIndexIterator<TStepList, value_type>;
  using iterator = const_iterator;
  static constexpr int32_t kCodeBits = 4;

  TStepList() = default;
  TStepList(std::initializer_list<value_type> steps) { assign(steps.begin(), steps.end()); }

  static constexpr size_t capacity() { return kMaxSensed; }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  value_type operator[](size_t i) const {
    const int32_t code = static_cast<int32_t>(codes_ >> (kCodeBits * i)) & kCodeMask;
    return {static_cast<int8_t>(code / 3 - 1), static_cast<int8_t>(code % 3 - 1)};
  }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

  void clear() { codes_ = 0, count_ = 0; }
  // Throws std::length_error when the list is full and std::out_of_range
  // for a step beyond a neighbour; either leaves the list as it was.
  void push_back(value_type step) {
    if (count_ == kMaxSensed) throw std::length_error("a cone holds at most eight neighbour steps");
    codes_ |= Code(step.first, step.second) << (kCodeBits * count_);
    ++count_;
  }
  // The steps of [first, last), each converted to value_type.
  template <class Iterator>
  void assign(Iterator first, Iterator last) {
    TStepList list;
    for (; first != last; ++first) list.push_back(static_cast<value_type>(*first));
    *this = list;
  }
  // The whole list at once: `count` codes as Code gives them, the first in
  // the lowest bits, as sensing takes them from its table of cones.
  void SetCodes(uint32_t codes, size_t count) {
    codes_ = codes;
    count_ = static_cast<uint8_t>(count);
  }
  static uint32_t Code(int32_t column, int32_t row) {
    if (column < -1 || column > 1 || row < -1 || row > 1) {
      throw std::out_of_range("a neighbour step lies in -1..1 in either direction");
    }
    return static_cast<uint32_t>(3 * (column + 1) + row + 1);
  }

  friend bool operator==(const TStepList& a, const TStepList& b) {
    return a.count_ == b.count_ && a.codes_ == b.codes_;
  }

 private:
  static constexpr int32_t kCodeMask = (1 << kCodeBits) - 1;
  static_assert(kMaxSensed * kCodeBits <= 32, "every code fits the word");

  uint32_t codes_ = 0;  // bits past the count's codes stay 0
  uint8_t count_ = 0;
};

// The chemical sensed on each neighbour step of the cone, in the order of
// the steps, read as each step's share of the scent in percent: amount /
// total x 100 in extended precision, stored as a 64-bit real, where the
// total is the sum of the amounts; every share is 0 when that total is not
// above 0. Keeping the amounts (4 bytes each) instead of the shares (8)
// keeps them exactly: a share is the same function of the same integers
// whenever it is read.
class TSensedShares {
 public:
  using value_type = double;
  using const_iterator = TIndexIterator<TSensedShares, double>;
  using iterator = const_iterator;

  static constexpr size_t capacity() { return kMaxSensed; }
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  double operator[](size_t i) const { return ShareOf(amounts_[i], Total()); }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, count_}; }

  int32_t Amount(size_t i) const { return amounts_[i]; }
  int64_t Total() const {
    int64_t total = 0;
    for (size_t i = 0; i < count_; ++i) total += amounts_[i];
    return total;
  }
  // A share as sensing states it, for an amount of the given total.
  static double ShareOf(int32_t amount, int64_t total) {
    if (total <= 0) return 0.0;
    return static_cast<double>(static_cast<long double>(amount) / static_cast<long double>(total) * 100);
  }

  void clear() { count_ = 0; }
  // The amounts of [first, last); throws std::length_error, leaving the
  // list as it was, for more than capacity() of them.
  template <class Iterator>
  void AssignAmounts(Iterator first, Iterator last) {
    std::array<int32_t, kMaxSensed> amounts{};
    size_t count = 0;
    for (; first != last; ++first) {
      if (count == kMaxSensed) throw std::length_error("a cone holds at most eight sensed amounts");
      amounts[count++] = static_cast<int32_t>(*first);
    }
    amounts_ = amounts;
    count_ = static_cast<uint8_t>(count);
  }
  void AssignAmounts(std::initializer_list<int32_t> amounts) { AssignAmounts(amounts.begin(), amounts.end()); }
  // Makes the list `count` long (at most capacity(), which the caller
  // ensures) and gives its amounts to be written in place.
  int32_t* Refill(size_t count) {
    count_ = static_cast<uint8_t>(count);
    return amounts_.data();
  }

  friend bool operator==(const TSensedShares& a, const TSensedShares& b) {
    if (a.count_ != b.count_) return false;
    for (size_t i = 0; i < a.count_; ++i) {
      if (a.amounts_[i] != b.amounts_[i]) return false;
    }
    return true;
  }

 private:
  std::array<int32_t, kMaxSensed> amounts_{};
  uint8_t count_ = 0;
};
