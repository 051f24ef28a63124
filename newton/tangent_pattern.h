#pragma once
// The sparsity pattern of the tangent over the free unknowns, built once per
// model from the elements' slots: the upper triangle (row <= column) in
// compressed columns, rows sorted within each column, and for every element
// where each entry of the upper triangle of its 9 x 9 tangent goes.

#include <cstddef>
#include <vector>

#include "energy/evaluator.h"
#include "energy/tangent.h"
#include "model/analysis.h"

namespace solver {

struct TangentPattern {
  // Entries (i, j), i <= j, of an element's 9 x 9 tangent, row by row.
  static constexpr std::size_t kEntries = kTangentEntries;

  int n = 0;                  // order: the free unknowns
  std::vector<int> colptr;    // n + 1: column j's rows at row[colptr[j] .. colptr[j + 1])
  std::vector<int> row;       // 0-based row of each stored entry, ascending within a column
  std::vector<int> position;  // kEntries per element: index into row (and values), -1 for a prescribed component
};

// The pattern of a set-up model (after start) whose elements have these
// slots (EnergyEvaluator::slots()).
TangentPattern tangent_pattern(const analysis& a, const std::vector<ElementSlots>& slots);

// The same over unknowns 0..n-1 of any numbering: a slot of n or more is
// not an unknown.
TangentPattern tangent_pattern(int n, const std::vector<ElementSlots>& slots);

// The values of the shift matrix R on the pattern p: the stiffness of a
// uniform tension in every side, a weighted membrane Laplacian acting alike
// on X, Y and Z. Side k of an element adds w (I at its two vertices, -I
// between them) with w = area * (mean diagonal side stiffness) /
// length_k^2. Once some node is held along an axis, R is positive definite;
// a 1e-6 multiple of its diagonal is added so that it stays so on a model
// that nothing holds.
std::vector<double> shift_values(const analysis& a, const TangentPattern& p);

}  // namespace solver
