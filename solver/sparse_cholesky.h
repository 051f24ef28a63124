#pragma once
// A sparse symmetric positive definite factorization behind a small
// interface: the ordering and symbolic analysis once per pattern, a numeric
// factorization per matrix, then solves. The library behind it can be
// swapped; the one we ship is CHOLMOD (SuiteSparse), supernodal, with a
// METIS ordering, whose dense kernels run in the BLAS the system provides.

#include <memory>
#include <vector>

namespace solver {

class SparseCholesky {
 public:
  virtual ~SparseCholesky() = default;

  // The pattern of an n x n matrix: its upper triangle in compressed
  // columns (colptr: n + 1 entries, row: 0-based rows, ascending within a
  // column, the diagonal present). Chooses the ordering and the structure of
  // the factor; called once, before any factorize.
  virtual void analyse(int n, const std::vector<int>& colptr, const std::vector<int>& row) = 0;

  // Factorizes the matrix with these values (one per entry of the pattern).
  // Returns false when the matrix is not positive definite (numerically),
  // leaving no usable factor.
  virtual bool factorize(const std::vector<double>& values) = 0;

  // x = A^-1 b with the last successful factorization (b and x: n entries,
  // may be the same vector).
  virtual void solve(const double* b, double* x) = 0;

  // Entries of the factor (0 before the first analysis).
  virtual double factor_entries() const = 0;
};

// The CHOLMOD factorization.
std::unique_ptr<SparseCholesky> make_sparse_cholesky();

}  // namespace solver
