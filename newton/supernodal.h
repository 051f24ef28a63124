#pragma once
// The supernodal factor's numeric work done here rather than in the
// library: the library orders the matrix and lays out the factor (which
// columns form each supernode, their rows, where their values go); the
// numeric factorization below fills the values, each supernode by the same
// dense operations in the same order whatever the thread count, so that
// its two threads give the bits of one.

#include <cstddef>
#include <limits>
#include <vector>

namespace platform {
class ThreadPool;
}

namespace solver {

// The symbolic layout of a supernodal factor L (L L^T = P A P^T): each
// supernode's columns k1..k2-1 with their rows (its own columns first,
// then those below, ascending), its values stored column by column.
struct SupernodalLayout {
  std::size_t n = 0;
  std::size_t nsuper = 0;
  const int* super = nullptr;  // first column of each supernode, then n
  const int* pi = nullptr;     // where each supernode's rows start in rows
  const int* px = nullptr;     // where each supernode's values start
  const int* rows = nullptr;
};

// The elimination tree cut for two threads. The supernodes are in
// postorder: a supernode's subtree is a run of them ending at it. Below the
// first supernode of the tree with more than one child (the top: it and
// its ancestors, the last supernodes), its children's subtrees are cut into
// two runs, A = [0, a_end) and B = [a_end, b_end), of about equal entries.
// A supernode's rows below its own columns are its ancestors', so A and B
// never touch each other's columns. a_end is 0 where the tree has no two
// such runs (or the supernodes are not in postorder).
struct TreeCut {
  std::size_t a_end = 0;
  std::size_t b_end = 0;
  int top_column = std::numeric_limits<int>::max();  // the top's first column
};
TreeCut cut_tree(const SupernodalLayout& L);

// The dense kernels, from the BLAS and LAPACK the library itself uses
// (Fortran calling convention).
struct DenseKernels {
  void (*potrf)(const char* uplo, const int* n, double* a, const int* lda, int* info);
  void (*trsm)(const char* side,
               const char* uplo,
               const char* trans,
               const char* diag,
               const int* m,
               const int* n,
               const double* alpha,
               const double* a,
               const int* lda,
               double* b,
               const int* ldb);
  void (*syrk)(const char* uplo,
               const char* trans,
               const int* n,
               const int* k,
               const double* alpha,
               const double* a,
               const int* lda,
               const double* beta,
               double* c,
               const int* ldc);
  void (*gemm)(const char* transa,
               const char* transb,
               const int* m,
               const int* n,
               const int* k,
               const double* alpha,
               const double* a,
               const int* lda,
               const double* b,
               const int* ldb,
               const double* beta,
               double* c,
               const int* ldc);
};

// A symmetric matrix as the factorization reads it: its upper triangle in
// compressed columns in its own numbering (colptr, row, x), the ordering
// (perm: the column of the matrix that column k of P A P^T is; inverse),
// and the entries that column k of the lower triangle of P A P^T takes
// from the matrix's row perm[k] rather than its column (the entries
// [extra_p[k], extra_p[k + 1]), with their rows of P A P^T and the entries
// of x they take). Column k's own entries are read from the matrix's
// column in place, so that only these need a map.
struct PermutedMatrix {
  const int* colptr = nullptr;
  const int* row = nullptr;
  const double* x = nullptr;
  const int* perm = nullptr;
  const int* inverse = nullptr;
  const int* extra_p = nullptr;
  const int* extra_row = nullptr;
  const int* extra_source = nullptr;
};

// The left-looking supernodal Cholesky factorization on a fixed layout.
// Supernode s is made from its columns of the matrix, less the products of
// every descendant whose rows reach its columns, taken in increasing order
// of descendant; then the dense Cholesky factorization of its diagonal
// block and the triangular solve of the rows below. A and B of the tree cut
// run at once on two threads, then the top; the largest updates and
// triangular solves of the top are cut into parts of fixed size that the
// two threads share. No part's operations depend on which thread runs it,
// so one thread and two give the same bits.
class SupernodalFactorization {
 public:
  SupernodalFactorization(const SupernodalLayout& L, DenseKernels blas);

  // Fills Lx (the layout's values, px[nsuper] of them) from the lower
  // triangle of P A P^T (every entry within the factor's pattern). Returns the first
  // column whose pivot is not positive (or not a number), n when L is the
  // factor.
  std::size_t factorize(const PermutedMatrix& a, double* Lx, platform::ThreadPool* pool);

  // The tree cut it runs on, which the solves share.
  const TreeCut& cut() const { return cut_; }

 private:
  // A descendant's rows that reach a supernode's columns: rows[pi[d] +
  // first .. pi[d] + last) of supernode d.
  struct Reach {
    int d;
    int first;
    int last;
  };
  struct Scratch {
    std::vector<int> map;  // row -> its place among the supernode's rows
    std::vector<double> c;
    std::vector<int> parts;  // first rows of a block's parts below its triangle
  };
  // Supernodes s0..s1-1; false at a pivot that is not positive (its column
  // in failed).
  bool run(std::size_t s0,
           std::size_t s1,
           const PermutedMatrix& a,
           double* Lx,
           Scratch& scratch,
           platform::ThreadPool* pool,
           std::size_t& failed);
  // The updates of supernode s from its descendants, its columns of the
  // matrix first (Ls zeroed and filled).
  void gather(std::size_t s, const PermutedMatrix& a, double* Lx, Scratch& scratch, platform::ThreadPool* pool);

  SupernodalLayout L_;
  DenseKernels blas_;
  TreeCut cut_;
  std::vector<int> reach_start_;  // nsuper + 1: supernode s's reaches at reach_[reach_start_[s] ..]
  std::vector<Reach> reach_;
  std::size_t most_c_[2] = {0, 0};  // the largest block of an update: of any supernode (one thread, A, the top), of B's
  Scratch scratch_[2];
};

}  // namespace solver
