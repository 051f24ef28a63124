#pragma once
// Array types of the solvers.
//
// The formulas index vectors from 1 and node-and-axis tables as
// (1..number of nodes, 1..3), axis 1, 2, 3 standing for X, Y, Z. These types
// keep that indexing at their interface and store 0-based, contiguously:
// element i of a Vector lies at data()[i - 1], entry (k, a) of a Table3 at
// data()[3 * (k - 1) + (a - 1)]. Index ranges are fixed at creation and never
// change; a count of zero or less gives an empty array.
//
// operator() is unchecked in Release (assert in Debug): the hot loops use
// indices that set-up has already validated. at() checks and raises a
// RANGE_ERROR failure; use it wherever an index comes from a file.

#include <cassert>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace terms {

template <class T>
class Array1 {
 public:
  Array1() = default;
  explicit Array1(int n, T value = T{}) : data_(n > 0 ? static_cast<std::size_t>(n) : 0, value) {}

  int size() const { return static_cast<int>(data_.size()); }
  bool empty() const { return data_.empty(); }

  T& operator()(int i) {
    assert(i >= 1 && i <= size());
    return data_[static_cast<std::size_t>(i - 1)];
  }
  const T& operator()(int i) const {
    assert(i >= 1 && i <= size());
    return data_[static_cast<std::size_t>(i - 1)];
  }
  T& at(int i) {
    check(i);
    return data_[static_cast<std::size_t>(i - 1)];
  }
  const T& at(int i) const {
    check(i);
    return data_[static_cast<std::size_t>(i - 1)];
  }

  // Element 1 is data()[0].
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

 private:
  void check(int i) const {
    if (i < 1 || i > size()) {
      throw platform::RangeError("index " + std::to_string(i) + " is outside 1.." + std::to_string(size()));
    }
  }
  std::vector<T> data_;
};

using Vector = Array1<double>;

// A table of rows 1..n by axes 1..3, stored row by row.
template <class T>
class Table3 {
 public:
  Table3() = default;
  explicit Table3(int rows, T value = T{})
      : rows_(rows > 0 ? rows : 0), data_(static_cast<std::size_t>(rows_) * 3, value) {}

  int rows() const { return rows_; }
  bool empty() const { return data_.empty(); }

  T& operator()(int k, int a) {
    assert(k >= 1 && k <= rows_ && a >= 1 && a <= 3);
    return data_[static_cast<std::size_t>(k - 1) * 3 + static_cast<std::size_t>(a - 1)];
  }
  const T& operator()(int k, int a) const {
    assert(k >= 1 && k <= rows_ && a >= 1 && a <= 3);
    return data_[static_cast<std::size_t>(k - 1) * 3 + static_cast<std::size_t>(a - 1)];
  }
  T& at(int k, int a) {
    check(k, a);
    return (*this)(k, a);
  }
  const T& at(int k, int a) const {
    check(k, a);
    return (*this)(k, a);
  }

  // Entry (1, 1) is data()[0]; 3 * rows() entries in all.
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

 private:
  void check(int k, int a) const {
    if (k < 1 || k > rows_) {
      throw platform::RangeError("row " + std::to_string(k) + " is outside 1.." + std::to_string(rows_));
    }
    if (a < 1 || a > 3) {
      throw platform::RangeError("axis " + std::to_string(a) + " is outside 1..3");
    }
  }
  int rows_ = 0;
  std::vector<T> data_;
};

using RealTable = Table3<double>;
using IntTable = Table3<int>;

}  // namespace terms
