#pragma once
// A sparse symmetric positive definite factorization behind a small
// interface: the ordering and symbolic analysis once per pattern, a numeric
// factorization per matrix, then solves. The library behind it can be
// swapped; the one we ship is CHOLMOD (SuiteSparse) for the METIS ordering
// and the supernodal layout of the factor, and our own numeric
// factorization and solves on that layout (newton/supernodal.h), whose
// dense kernels run in the BLAS the system provides.

#include <memory>
#include <span>
#include <vector>

namespace platform {
class ThreadPool;
}

namespace solver {

class SparseCholesky {
 public:
  virtual ~SparseCholesky() = default;

  // The pattern of an n x n matrix: its upper triangle in compressed
  // columns (colptr: n + 1 entries, row: 0-based rows, ascending within a
  // column, the diagonal present). Chooses the ordering and the structure of
  // the factor; called once, before any factorize. The factorization reads
  // the pattern in place: colptr and row must outlive it, unchanged.
  virtual void analyse(int n, const std::vector<int>& colptr, const std::vector<int>& row) = 0;

  // The values of the matrix to factorize, one per entry of the pattern,
  // held by the factorization so that a large model needs no second copy:
  // fill them, then call factorize(). Empty before analyse.
  virtual std::span<double> values() = 0;

  // What a factorization found.
  enum class Status {
    success,                // the factor is there for solves
    not_positive_definite,  // numerically: no usable factor; the caller shifts the matrix and tries again
  };

  // Factorizes the matrix with the values above, on two of the pool's
  // threads where the elimination tree allows (use_threads), the same bits
  // as on one; the values are left as
  // they were. A matrix that is not positive definite is an answer, never
  // a failure: the second-order method meets them all the time. What is
  // thrown is a failure of the library itself (platform::LibraryError,
  // std::bad_alloc), which no caller can act on.
  virtual Status factorize() = 0;

  // The same with these values copied in first.
  Status factorize(const std::vector<double>& v);

  // x = A^-1 b with the last successful factorization (b and x: n entries,
  // may be the same vector), each sum in a fixed order: the same bits on
  // every instruction set and thread count. With a factor a solve has no other outcome;
  // a failure of the library is thrown as above.
  virtual void solve(const double* b, double* x) = 0;

  // Rounds the factor of the last successful factorization to single
  // precision, in place, for solves that serve as a preconditioner: a solve
  // streams the whole factor from memory, so it then reads half the bytes,
  // and its result is that of a factor whose every entry is perturbed by at
  // most half a unit in the last place of a float (2^-24 of itself, 6e-8:
  // still the factor of a positive definite matrix). Until the next
  // factorize, solve uses the rounded factor, summing in double precision in
  // a fixed order. Does nothing when the factor is not supernodal.
  virtual void round_to_single() = 0;

  // Factorizes, and solves with the supernodal factor as made or rounded
  // to single precision, split between two of the pool's threads where its
  // elimination tree allows (null: the calling thread alone); the bits of
  // a solve do not change. The pool must outlive the solves.
  virtual void use_threads(platform::ThreadPool* pool) = 0;

  // Entries stored for the factor, padding of its dense blocks included (0
  // before the first analysis).
  virtual double factor_entries() const = 0;
};

// The CHOLMOD factorization.
std::unique_ptr<SparseCholesky> make_sparse_cholesky();

}  // namespace solver
