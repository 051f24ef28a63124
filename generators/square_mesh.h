#pragma once
// The square membrane's mesh: the lattice, the node numbering, and the
// orders in which the generator writes elements and supports. The
// generator writes its files from these; the benchmarks build their
// in-memory models from them, so both meet the same mesh.
//
// With n = ndiv and h = halfside / n the lattice points are the integer
// pairs (i, j), -n <= i, j <= n, at X = i*h, Y = j*h, Z = 0. A node stands
// at (i, j) exactly when i - j is even: the full rows j = -n, -n+2, ..., n
// hold n+1 nodes each (a lattice of spacing 2h that holds the whole
// boundary), the rows in between hold the n centres of its cells. Nodes are
// numbered row by row from j = -n upwards, by increasing i within a row.
// The two diagonals cut the square into four quarters, each cut into n*n
// right isosceles triangles whose hypotenuse (length 2h) is parallel to the
// quarter's side; vertex 1 of an element is its right-angle apex, vertices
// 2 and 3 the ends of the hypotenuse, counter-clockwise seen from +Z.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace square {

// A lattice point: X = i*h, Y = j*h.
struct Point {
  std::int32_t i;
  std::int32_t j;
};

// Node numbers at the lattice points; first index i (X), second j (Y), both
// -n..n; 0 where no node stands. Stored row by row (j outer), the order in
// which the nodes are numbered and written.
class Grid {
 public:
  Grid() = default;
  explicit Grid(std::int32_t n) : n_(n), side_(2 * static_cast<std::size_t>(n) + 1), cells_(side_ * side_, 0) {}

  std::int32_t n() const { return n_; }
  std::int32_t operator()(std::int32_t i, std::int32_t j) const { return cells_[index(i, j)]; }
  std::int32_t& operator()(std::int32_t i, std::int32_t j) { return cells_[index(i, j)]; }
  std::int32_t operator()(Point p) const { return (*this)(p.i, p.j); }

 private:
  std::size_t index(std::int32_t i, std::int32_t j) const {
    assert(-n_ <= i && i <= n_ && -n_ <= j && j <= n_);
    return static_cast<std::size_t>(j + n_) * side_ + static_cast<std::size_t>(i + n_);
  }

  std::int32_t n_ = 0;
  std::size_t side_ = 0;
  std::vector<std::int32_t> cells_;  // (2n+1) x (2n+1)
};

// Builds the node-number table for n >= 1 (two passes: full rows, then the
// interleaved rows between them).
Grid number_nodes(std::int32_t n);

// Row-by-row scan of the lattice (j from -n, i from -n within a row): the
// points that hold a node come in increasing node number. emit(k, point).
template <class Emit>
void for_each_node(const Grid& grid, Emit&& emit) {
  const std::int32_t n = grid.n();
  for (std::int32_t j = -n; j <= n; ++j) {
    for (std::int32_t i = -n; i <= n; ++i) {
      const std::int32_t k = grid(i, j);
      if (k > 0) emit(k, Point{i, j});
    }
  }
}

// The elements in their numbering order: eight families, two per quarter of
// the square (left, right, bottom, top), first the triangles whose apex
// points towards the centre, then those whose apex points away from it. In
// each family the outer value a walks the strips from the centre outwards
// and the inner value b walks along a strip in steps of 2. emit(v1, v2, v3)
// gets the apex first, then the ends of the hypotenuse counter-clockwise.
template <class Emit>
void for_each_element(std::int32_t n, Emit&& emit) {
  using std::int32_t;
  // 1: left quarter, apex towards the centre; hypotenuse on column a-1.
  for (int32_t a = 0; a >= 1 - n; --a)
    for (int32_t b = a; b <= -a; b += 2) emit(Point{a, b}, Point{a - 1, b + 1}, Point{a - 1, b - 1});
  // 2: left quarter, apex away from the centre; hypotenuse on column a+1.
  for (int32_t a = -2; a >= -n; --a)
    for (int32_t b = a + 2; b <= -a - 2; b += 2) emit(Point{a, b}, Point{a + 1, b - 1}, Point{a + 1, b + 1});
  // 3: right quarter, apex towards the centre.
  for (int32_t a = 0; a <= n - 1; ++a)
    for (int32_t b = -a; b <= a; b += 2) emit(Point{a, b}, Point{a + 1, b - 1}, Point{a + 1, b + 1});
  // 4: right quarter, apex away from the centre.
  for (int32_t a = 2; a <= n; ++a)
    for (int32_t b = -a + 2; b <= a - 2; b += 2) emit(Point{a, b}, Point{a - 1, b + 1}, Point{a - 1, b - 1});
  // 5: bottom quarter, apex towards the centre; hypotenuse on row a-1.
  for (int32_t a = 0; a >= 1 - n; --a)
    for (int32_t b = a; b <= -a; b += 2) emit(Point{b, a}, Point{b - 1, a - 1}, Point{b + 1, a - 1});
  // 6: bottom quarter, apex away from the centre.
  for (int32_t a = -2; a >= -n; --a)
    for (int32_t b = a + 2; b <= -a - 2; b += 2) emit(Point{b, a}, Point{b + 1, a + 1}, Point{b - 1, a + 1});
  // 7: top quarter, apex towards the centre.
  for (int32_t a = 0; a <= n - 1; ++a)
    for (int32_t b = -a; b <= a; b += 2) emit(Point{b, a}, Point{b + 1, a + 1}, Point{b - 1, a + 1});
  // 8: top quarter, apex away from the centre.
  for (int32_t a = 2; a <= n; ++a)
    for (int32_t b = -a + 2; b <= a - 2; b += 2) emit(Point{b, a}, Point{b - 1, a - 1}, Point{b + 1, a - 1});
}

// The boundary nodes in their support order: the four corners, then the
// bottom and top side nodes pairwise from left to right, then the left and
// right side nodes pairwise from bottom to top (no side nodes when n = 1).
template <class Emit>
void for_each_support(std::int32_t n, Emit&& emit) {
  emit(Point{-n, -n});
  emit(Point{n, -n});
  emit(Point{-n, n});
  emit(Point{n, n});
  for (std::int32_t c = -n + 2; c <= n - 2; c += 2) {
    emit(Point{c, -n});
    emit(Point{c, n});
  }
  for (std::int32_t r = -n + 2; r <= n - 2; r += 2) {
    emit(Point{-n, r});
    emit(Point{n, r});
  }
}

}  // namespace square
