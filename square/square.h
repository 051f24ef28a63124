#pragma once
// The generator `square`: a flat square membrane of right isosceles
// triangles, fixed along its whole boundary and loaded by a uniform
// pressure. It reads five numbers from "square.txt" and writes the model
// file "input.txt" for the solvers, a drawing script "autocad.scr" with one
// 3D face per element and "ansys.txt", an ANSYS command file that sets up
// the same problem for comparison.
//
// Mesh. With n = ndiv and h = halfside / n the lattice points are the
// integer pairs (i, j), -n <= i, j <= n, at X = i*h, Y = j*h, Z = 0. A node
// stands at (i, j) exactly when i - j is even: the full rows j = -n, -n+2,
// ..., n hold n+1 nodes each (a lattice of spacing 2h that holds the whole
// boundary), the rows in between hold the n centres of its cells. Nodes are
// numbered row by row from j = -n upwards, by increasing i within a row.
// The two diagonals cut the square into four quarters, each cut into n*n
// right isosceles triangles whose hypotenuse (length 2h) is parallel to the
// quarter's side; vertex 1 of an element is its right-angle apex, vertices
// 2 and 3 the ends of the hypotenuse, counter-clockwise seen from +Z.

#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/text_reader.h"

namespace square {

// Node numbers at the lattice points; first index i (X), second j (Y), both
// -n..n; 0 where no node stands. Stored row by row (j outer), the order in
// which the nodes are numbered and written.
class Grid {
 public:
  Grid() = default;
  explicit Grid(std::int32_t n)
      : n_(n), side_(2 * static_cast<std::size_t>(n) + 1), cells_(side_ * side_, 0) {}

  std::int32_t n() const { return n_; }
  std::int32_t operator()(std::int32_t i, std::int32_t j) const { return cells_[index(i, j)]; }
  std::int32_t& operator()(std::int32_t i, std::int32_t j) { return cells_[index(i, j)]; }

 private:
  std::size_t index(std::int32_t i, std::int32_t j) const {
    assert(-n_ <= i && i <= n_ && -n_ <= j && j <= n_);
    return static_cast<std::size_t>(j + n_) * side_ + static_cast<std::size_t>(i + n_);
  }

  std::int32_t n_ = 0;
  std::size_t side_ = 0;
  std::vector<std::int32_t> cells_;  // (2n+1) x (2n+1)
};

// The generator state, filled once by initia and only read by the writers.
struct Generator {
  // Read from "square.txt".
  std::int32_t ndiv = 0;   // divisions of each side (n), at least 1
  double halfside = 0.0;   // half the side length (L); the square spans -L..L
  double young = 0.0;      // Young's modulus
  double poisson = 0.0;    // Poisson's ratio
  double pressure = 0.0;   // uniform pressure on every element

  // Derived from n and L.
  std::int32_t nnode = 0;   // 2(n^2 + n) + 1
  std::int32_t nelem = 0;   // 4n^2
  std::int32_t ndispl = 0;  // 12n: three fixed components per boundary node
  double step = 0.0;        // lattice spacing h = L / n

  // Solver control values written to "input.txt" (meaning as there); mntol
  // is also the force tolerance of "ansys.txt". Fixed, except maxminor.
  double lstol = 0.1;
  std::int32_t maxls = 20;
  double mntol = 0.001;
  double mnref = 0.0;
  std::int32_t maxminor = 0;  // 30 * nnode
  std::int32_t maxlist = 3;
  std::int32_t maxmajor = 20;

  Grid grid;
};

// The largest ndiv whose counts nnode, nelem, ndispl and maxminor all fit
// in 32 bits (maxminor = 30 * nnode is the one that limits).
std::int32_t largest_ndiv();

// Reads the parameters from "square.txt" (given open as `in`) and fills
// every field: three sections, each opened by a marker line; ndiv and
// halfside, then young and poisson, then pressure. FileError, EndError or
// DataError on a missing, short or malformed file; DataError naming the file
// and line for an ndiv below 1 or above largest_ndiv(), and for a halfside
// that is not a positive finite number.
Generator initia(platform::TextReader& in);

// Builds the node-number table for n >= 1 (two passes: full rows, then the
// interleaved rows between them).
Grid number_nodes(std::int32_t n);

// The three writers. Each creates its file (replacing any earlier one)
// completely or not at all; FileError when that is impossible.
void input(const Generator& g, const std::string& file_name = "input.txt");
void autocad(const Generator& g, const std::string& file_name = "autocad.scr");
void ansys(const Generator& g, const std::string& file_name = "ansys.txt");

// The program: reads "square.txt" and writes "input.txt", "autocad.scr" and
// "ansys.txt" in the current directory, in this order.
void run();

}  // namespace square
