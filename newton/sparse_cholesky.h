#pragma once
// A sparse symmetric positive definite factorization behind a small
// interface: the ordering and symbolic analysis once per pattern, a numeric
// factorization per matrix, then solves. The library behind it can be
// swapped; the one we ship is CHOLMOD (SuiteSparse), supernodal, with a
// METIS ordering, whose dense kernels run in the BLAS the system provides.

#include <memory>
#include <span>
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

  // The values of the matrix to factorize, one per entry of the pattern,
  // held by the factorization so that a large model needs no second copy:
  // fill them, then call factorize(). Empty before analyse.
  virtual std::span<double> values() = 0;

  // Factorizes the matrix with the values above. Returns false when it is
  // not positive definite (numerically), leaving no usable factor; the
  // values are left as they were.
  virtual bool factorize() = 0;

  // The same with these values copied in first.
  bool factorize(const std::vector<double>& v);

  // x = A^-1 b with the last successful factorization (b and x: n entries,
  // may be the same vector).
  virtual void solve(const double* b, double* x) = 0;

  // Rounds the factor of the last successful factorization to single
  // precision, in place, for solves that serve as a preconditioner: a solve
  // streams the whole factor from memory, so it then takes about half the
  // time, and its result is that of a factor perturbed by about 6e-8 of each
  // entry (still the factor of a positive definite matrix). Until the next
  // factorize, solve uses the rounded factor, summing in double precision in
  // a fixed order. Does nothing when the factor is not supernodal.
  virtual void round_to_single() = 0;

  // Entries stored for the factor, padding of its dense blocks included (0
  // before the first analysis).
  virtual double factor_entries() const = 0;
};

// The CHOLMOD factorization.
std::unique_ptr<SparseCholesky> make_sparse_cholesky();

}  // namespace solver
