#include "newton/sparse_cholesky.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "energy/kernel_path.h"
#include "newton/cholmod_library.h"
#include "newton/supernodal.h"
#include "platform/failure.h"
#include "platform/thread_pool.h"

namespace solver {

namespace {

// The supernodal factor L (L L^T = P A P^T): each supernode's columns
// k1..k2-1 with their rows (the supernode's own columns first, then those
// below), stored column by column, its values in double precision or
// rounded to single. Its solves sum in double precision, each sum in a
// fixed order, so the vector lanes the processor offers change nothing but
// the speed.
template <class Value>
struct Layout {
  std::size_t nsuper = 0;
  const int* super = nullptr;  // first column of each supernode, then n
  const int* pi = nullptr;     // where each supernode's rows start in rows
  const int* px = nullptr;     // where each supernode's values start
  const int* rows = nullptr;
  const Value* values = nullptr;
};

// A term of the forward substitution kept for later: w[row] -= value.
struct Update {
  int row;
  double value;
};

// sum l[i] t[i], i < n, in eight interleaved partial sums added pairwise at
// the end: a fixed order that runs in vector lanes.
template <class Value>
inline double dot(const Value* l, const double* t, std::size_t n) {
  constexpr std::size_t kLanes = 8;
  double lane[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) lane[k] = lane[k] + static_cast<double>(l[i + k]) * t[i + k];
  }
  for (std::size_t k = 0; i < n; ++i, ++k) lane[k] = lane[k] + static_cast<double>(l[i]) * t[i];
  return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

// A run of supernodes for one substitution: s0..s1-1. The forward one
// keeps its updates of rows from defer_from on for later instead of
// subtracting them from w, in the order it makes them.
struct Run {
  std::size_t s0;
  std::size_t s1;
  int defer_from = std::numeric_limits<int>::max();
  std::vector<Update>* later = nullptr;
};

// L y = w over the run, y into w; t: room for the most rows of any
// supernode. Column by column, each in one pass: the block is read in the
// order it is stored.
template <class Value>
[[gnu::always_inline]] inline void forward(const Layout<Value>& L, double* w, double* t, Run run) {
  const std::size_t s0 = run.s0, s1 = run.s1;
  for (std::size_t s = s0; s < s1; ++s) {
    const std::size_t k1 = static_cast<std::size_t>(L.super[s]);
    const std::size_t ncol = static_cast<std::size_t>(L.super[s + 1]) - k1;
    const std::size_t nrow = static_cast<std::size_t>(L.pi[s + 1] - L.pi[s]);
    const std::size_t nbelow = nrow - ncol;
    const Value* block = L.values + L.px[s];
    double* y = w + k1;
    for (std::size_t i = 0; i < nbelow; ++i) t[i] = 0.0;
    for (std::size_t j = 0; j < ncol; ++j) {
      const Value* column = block + j * nrow;
      const double yj = y[j] / static_cast<double>(column[j]);
      y[j] = yj;
      for (std::size_t i = j + 1; i < ncol; ++i) y[i] = y[i] - static_cast<double>(column[i]) * yj;
      const Value* lower = column + ncol;
      for (std::size_t i = 0; i < nbelow; ++i) t[i] = t[i] + static_cast<double>(lower[i]) * yj;
    }
    const int* below = L.rows + L.pi[s] + ncol;
    for (std::size_t i = 0; i < nbelow; ++i) {
      if (below[i] >= run.defer_from) {
        run.later->push_back({below[i], t[i]});
      } else {
        w[below[i]] = w[below[i]] - t[i];
      }
    }
  }
}

// L^T z = w over the run, its last supernode first, z into w; u: room
// for the most rows of any supernode. The supernode's unknowns and those
// below it it needs are gathered into u, so that each column is one dot
// product over its stored rows.
template <class Value>
[[gnu::always_inline]] inline void backward(const Layout<Value>& L, double* w, double* u, Run run) {
  const std::size_t s0 = run.s0, s1 = run.s1;
  for (std::size_t s = s1; s-- > s0;) {
    const std::size_t k1 = static_cast<std::size_t>(L.super[s]);
    const std::size_t ncol = static_cast<std::size_t>(L.super[s + 1]) - k1;
    const std::size_t nrow = static_cast<std::size_t>(L.pi[s + 1] - L.pi[s]);
    const Value* block = L.values + L.px[s];
    const int* rows = L.rows + L.pi[s];
    for (std::size_t i = ncol; i < nrow; ++i) u[i] = w[rows[i]];
    double* z = w + k1;
    for (std::size_t j = ncol; j-- > 0;) {
      const Value* column = block + j * nrow;
      constexpr std::size_t kLine = 64 / sizeof(Value);
      if (j > 0) {
        for (std::size_t i = j; i < nrow; i += kLine) __builtin_prefetch(column - nrow + i);
      } else if (s > s0) {
        const std::size_t previous = static_cast<std::size_t>(L.pi[s] - L.pi[s - 1]);
        for (std::size_t i = 0; i < previous; i += kLine) __builtin_prefetch(block - previous + i);
      }
      u[j] = (z[j] - dot(column + j + 1, u + j + 1, nrow - j - 1)) / static_cast<double>(column[j]);
    }
    for (std::size_t j = 0; j < ncol; ++j) z[j] = u[j];
  }
}

// Both substitutions compiled for each instruction set, chosen by the
// energy evaluation's path (energy/kernel_path.h: the widest the processor
// offers, or the one VELORA_KERNEL names), so that tests can run each; the
// lanes change only the speed, not a bit of the result. Plain target
// attributes and function pointers, not resolver functions, which run
// before a sanitizer's runtime is ready.
template <class Value>
struct Substitutions {
  void (*forward)(const Layout<Value>&, double*, double*, Run);
  void (*backward)(const Layout<Value>&, double*, double*, Run);
};

template <class Value>
void forward_scalar(const Layout<Value>& L, double* w, double* t, Run run) {
  forward(L, w, t, run);
}
template <class Value>
void backward_scalar(const Layout<Value>& L, double* w, double* u, Run run) {
  backward(L, w, u, run);
}
#if defined(__x86_64__)
template <class Value>
[[gnu::target("avx2")]] void forward_avx2(const Layout<Value>& L, double* w, double* t, Run run) {
  forward(L, w, t, run);
}
template <class Value>
[[gnu::target("avx2")]] void backward_avx2(const Layout<Value>& L, double* w, double* u, Run run) {
  backward(L, w, u, run);
}
template <class Value>
[[gnu::target("avx512f")]] void forward_avx512(const Layout<Value>& L, double* w, double* t, Run run) {
  forward(L, w, t, run);
}
template <class Value>
[[gnu::target("avx512f")]] void backward_avx512(const Layout<Value>& L, double* w, double* u, Run run) {
  backward(L, w, u, run);
}
#endif

template <class Value>
Substitutions<Value> substitutions() {
#if defined(__x86_64__)
  switch (kernel::current_path()) {
    case kernel::Path::avx512:
      return {forward_avx512<Value>, backward_avx512<Value>};
    case kernel::Path::avx2:
      return {forward_avx2<Value>, backward_avx2<Value>};
    case kernel::Path::scalar:
    case kernel::Path::pairs:
      break;
  }
#endif
  return {forward_scalar<Value>, backward_scalar<Value>};
}

// The solves with a supernodal factor, on one thread or two. The
// supernodes are in postorder: a supernode's subtree of the elimination
// tree is a run of them ending at it. Below the first supernode of the
// tree with more than one child (the top: it and its ancestors, the last
// supernodes), its children's subtrees are cut into two runs, A then B, of
// about equal entries. A supernode's rows below its own columns are its
// ancestors', so A and B never touch each other's unknowns: the forward
// substitution runs A and B at once, B keeping its updates of the top's
// rows for after A (their order in the one-thread substitution), and then
// the top; the backward one runs the top, then A and B at once. Every
// unknown is thus computed by the same operations in the same order on
// one thread or two.
template <class Value>
class SupernodalSolve {
 public:
  SupernodalSolve(const SupernodalLayout& L, const int* perm, const TreeCut& cut, const Value* values)
      : n_(L.n), perm_(perm), w_(n_) {
    layout_.nsuper = L.nsuper;
    layout_.super = L.super;
    layout_.pi = L.pi;
    layout_.px = L.px;
    layout_.rows = L.rows;
    layout_.values = values;
    std::size_t most = 0;
    for (std::size_t s = 0; s < layout_.nsuper; ++s) {
      most = std::max(most, static_cast<std::size_t>(layout_.pi[s + 1] - layout_.pi[s]));
    }
    t_[0].resize(most);
    t_[1].resize(most);
    a_end_ = cut.a_end;
    b_end_ = cut.b_end;
    top_column_ = cut.top_column;
    std::size_t updates = 0;
    for (std::size_t s = a_end_; s < b_end_; ++s) {
      const int ncol = layout_.super[s + 1] - layout_.super[s];
      for (int k = layout_.pi[s] + ncol; k < layout_.pi[s + 1]; ++k) updates += layout_.rows[k] >= top_column_ ? 1 : 0;
    }
    later_.reserve(updates);
  }

  void solve(const double* b, double* x, platform::ThreadPool* pool) {
    double* w = w_.data();
    for (std::size_t k = 0; k < n_; ++k) w[k] = b[perm_[k]];
    const std::size_t nsuper = layout_.nsuper;
    if (pool == nullptr || pool->size() < 2 || a_end_ == 0) {
      kernels_.forward(layout_, w, t_[0].data(), {0, nsuper});
      kernels_.backward(layout_, w, t_[0].data(), {0, nsuper});
    } else {
      later_.clear();
      auto forward_parts = [this, w](std::size_t part) {
        if (part == 0) {
          kernels_.forward(layout_, w, t_[0].data(), {0, a_end_});
        } else {
          kernels_.forward(layout_, w, t_[1].data(), {a_end_, b_end_, top_column_, &later_});
        }
      };
      pool->run(2, forward_parts);
      for (const Update& u : later_) w[u.row] = w[u.row] - u.value;
      kernels_.forward(layout_, w, t_[0].data(), {b_end_, nsuper});
      kernels_.backward(layout_, w, t_[0].data(), {b_end_, nsuper});
      auto backward_parts = [this, w](std::size_t part) {
        if (part == 0) {
          kernels_.backward(layout_, w, t_[0].data(), {0, a_end_});
        } else {
          kernels_.backward(layout_, w, t_[1].data(), {a_end_, b_end_});
        }
      };
      pool->run(2, backward_parts);
    }
    for (std::size_t k = 0; k < n_; ++k) x[perm_[k]] = w[k];
  }

 private:
  std::size_t n_;
  const int* perm_;
  Layout<Value> layout_;
  Substitutions<Value> kernels_ = substitutions<Value>();
  std::size_t a_end_ = 0, b_end_ = 0;  // A: supernodes [0, a_end_), B: [a_end_, b_end_), the top: the rest
  int top_column_ = 0;                 // the top's first column
  std::vector<double> w_;
  std::vector<double> t_[2];   // room for one supernode's rows, per part
  std::vector<Update> later_;  // B's updates of the top's rows
};

// The factor's values rounded to single precision in place: float k takes
// bytes 4k.. of the storage, which belonged to double k / 2, read before (k
// ascending). The bytes are copied as bytes, so that the compiler keeps
// every read before the writes that overlap it.
const float* round_in_place(double* values, std::size_t count) {
  unsigned char* bytes = reinterpret_cast<unsigned char*>(values);
  for (std::size_t k = 0; k < count; ++k) {
    double v = 0.0;
    std::memcpy(&v, bytes + k * sizeof(double), sizeof v);
    const float rounded = static_cast<float>(v);
    std::memcpy(bytes + k * sizeof(float), &rounded, sizeof rounded);
  }
  return reinterpret_cast<const float*>(values);
}

class Cholmod final : public SparseCholesky {
 public:
  Cholmod() : api_(cholmod_library::api()) {
    api_.start(&common_);
    // The not-positive-definite outcome is an answer here, not an error to
    // print: the caller raises its shift and tries again.
    common_.print = 0;
    common_.error_handler = nullptr;
    common_.supernodal = CHOLMOD_SUPERNODAL;
    common_.nmethods = 1;
    common_.method[0].ordering = CHOLMOD_METIS;
    common_.postorder = 1;
    common_.quick_return_if_not_posdef = 1;
    // Supernodes merged with fewer explicit zeros than the library's
    // default (zrelax 0.8, 0.1, 0.05 below 4, 16, 48 columns), whose
    // factor stored 1.2 times its nonzeros: at a million elements this
    // cuts the factor by 12 million entries (97 MB) at the same time per
    // factorization; the dense blocks stay as large as the BLAS needs.
    common_.nrelax[0] = 4;
    common_.nrelax[1] = 8;
    common_.nrelax[2] = 32;
    common_.zrelax[0] = 0.2;
    common_.zrelax[1] = 0.02;
    common_.zrelax[2] = 0.01;
  }
  ~Cholmod() override {
    if (factor_ != nullptr) api_.free_factor(&factor_, &common_);
    if (matrix_ != nullptr) api_.free_sparse(&matrix_, &common_);
    api_.finish(&common_);
  }
  Cholmod(const Cholmod&) = delete;
  Cholmod& operator=(const Cholmod&) = delete;

  void analyse(int n, const std::vector<int>& colptr, const std::vector<int>& row) override {
    if (factor_ != nullptr) api_.free_factor(&factor_, &common_);
    if (matrix_ != nullptr) api_.free_sparse(&matrix_, &common_);
    const std::size_t size = static_cast<std::size_t>(n);
    matrix_ = api_.allocate_sparse(size, size, row.size(), 1, 1, 1, CHOLMOD_REAL, &common_);
    check("allocating the matrix");
    std::memcpy(matrix_->p, colptr.data(), colptr.size() * sizeof(int));
    if (!row.empty()) std::memcpy(matrix_->i, row.data(), row.size() * sizeof(int));
    std::fill_n(static_cast<double*>(matrix_->x), row.size(), 0.0);
    factor_ = api_.analyze(matrix_, &common_);
    check("ordering the matrix");
    n_ = n;
    numeric_.reset();
    values_.reset();
    if (factor_->is_super) {
      layout_.n = factor_->n;
      layout_.nsuper = factor_->nsuper;
      layout_.super = static_cast<const int*>(factor_->super);
      layout_.pi = static_cast<const int*>(factor_->pi);
      layout_.px = static_cast<const int*>(factor_->px);
      layout_.rows = static_cast<const int*>(factor_->s);
      numeric_ = std::make_unique<SupernodalFactorization>(layout_, api_.blas);
      cut_ = numeric_->cut();
      lay_out_lower(colptr, row);
      // The values live in entries_ from now on: the library's copy of the
      // matrix is not needed again.
      api_.free_sparse(&matrix_, &common_);
      api_.free_work(&common_);  // the analysis's workspace, which nothing else here uses
      entries_.assign(row.size(), 0.0);
    }
  }

  std::span<double> values() override {
    if (numeric_) return entries_;
    if (matrix_ == nullptr) return {};
    return {static_cast<double*>(matrix_->x), matrix_->nzmax};
  }

  Status factorize() override {
    if (matrix_ == nullptr && !numeric_) throw platform::RangeError("factorize called before analyse");
    single_.reset();  // the factorization rewrites every value of the factor
    exact_.reset();
    factored_ = false;
    if (!numeric_) {
      api_.factorize(matrix_, factor_, &common_);
      if (common_.status == CHOLMOD_NOT_POSDEF) return Status::not_positive_definite;
      check("factorizing the matrix");
      if (factor_->minor != factor_->n) return Status::not_positive_definite;
      factored_ = true;
      return Status::success;
    }
    if (!values_) values_.reset(new double[factor_->xsize]);
    matrix_view_.x = entries_.data();
    const std::size_t failed = numeric_->factorize(matrix_view_, values_.get(), pool_);
    if (failed < static_cast<std::size_t>(n_)) return Status::not_positive_definite;
    exact_ =
        std::make_unique<SupernodalSolve<double>>(layout_, static_cast<const int*>(factor_->Perm), cut_, values_.get());
    factored_ = true;
    return Status::success;
  }

  void solve(const double* b, double* x) override {
    if (single_) {
      single_->solve(b, x, pool_);
      return;
    }
    if (exact_) {
      exact_->solve(b, x, pool_);
      return;
    }
    cholmod_dense* rhs =
        api_.allocate_dense(static_cast<std::size_t>(n_), 1, static_cast<std::size_t>(n_), CHOLMOD_REAL, &common_);
    check("allocating a vector");
    std::memcpy(rhs->x, b, static_cast<std::size_t>(n_) * sizeof(double));
    cholmod_dense* sol = api_.solve(CHOLMOD_A, factor_, rhs, &common_);
    api_.free_dense(&rhs, &common_);
    check("solving");
    std::memcpy(x, sol->x, static_cast<std::size_t>(n_) * sizeof(double));
    api_.free_dense(&sol, &common_);
  }

  void round_to_single() override {
    if (single_ || !numeric_ || !factored_) return;
    exact_.reset();
    single_ = std::make_unique<SupernodalSolve<float>>(
        layout_, static_cast<const int*>(factor_->Perm), cut_, round_in_place(values_.get(), factor_->xsize));
  }

  void use_threads(platform::ThreadPool* pool) override { pool_ = pool; }

  double factor_entries() const override {
    return factor_ == nullptr ? 0.0 : static_cast<double>(factor_->is_super ? factor_->xsize : factor_->nzmax);
  }

 private:
  // How the factorization reads the matrix (PermutedMatrix): the ordering
  // and its inverse, and the entries of each column of the lower triangle
  // of P A P^T that come from a row of the matrix, the others being read
  // from its columns in place. The values stay in the pattern's order and
  // no permuted copy is made.
  void lay_out_lower(const std::vector<int>& colptr, const std::vector<int>& row) {
    const std::size_t n = static_cast<std::size_t>(n_);
    const int* perm = static_cast<const int*>(factor_->Perm);
    if (perm == nullptr) {  // the library keeps the natural order in Perm as well
      throw platform::LibraryError("the sparse factorization library gave no ordering");
    }
    inverse_.resize(n);
    for (std::size_t k = 0; k < n; ++k) inverse_[static_cast<std::size_t>(perm[k])] = static_cast<int>(k);
    // Entry (i, j), i < j, of the upper triangle is in column inverse[i] of
    // the permuted lower triangle, taken from the matrix's row i, when
    // inverse[i] < inverse[j].
    extra_p_.assign(n + 1, 0);
    std::size_t extra = 0;
    for (std::size_t j = 0; j < n; ++j) {
      for (int e = colptr[j]; e < colptr[j + 1]; ++e) {
        const int a = inverse_[static_cast<std::size_t>(row[static_cast<std::size_t>(e)])];
        if (a < inverse_[j]) {
          ++extra_p_[static_cast<std::size_t>(a) + 1];
          ++extra;
        }
      }
    }
    for (std::size_t k = 0; k < n; ++k) extra_p_[k + 1] += extra_p_[k];
    extra_row_.resize(extra);
    extra_source_.resize(extra);
    std::vector<int> next(extra_p_.begin(), extra_p_.end() - 1);
    for (std::size_t j = 0; j < n; ++j) {
      for (int e = colptr[j]; e < colptr[j + 1]; ++e) {
        const int a = inverse_[static_cast<std::size_t>(row[static_cast<std::size_t>(e)])];
        if (a >= inverse_[j]) continue;
        const std::size_t q = static_cast<std::size_t>(next[static_cast<std::size_t>(a)]++);
        extra_row_[q] = inverse_[j];
        extra_source_[q] = e;
      }
    }
    matrix_view_.colptr = colptr.data();
    matrix_view_.row = row.data();
    matrix_view_.perm = perm;
    matrix_view_.inverse = inverse_.data();
    matrix_view_.extra_p = extra_p_.data();
    matrix_view_.extra_row = extra_row_.data();
    matrix_view_.extra_source = extra_source_.data();
  }

  void check(const char* what) {
    if (common_.status == CHOLMOD_OUT_OF_MEMORY) throw std::bad_alloc();
    if (common_.status < CHOLMOD_OK) {
      throw platform::LibraryError(std::string("the sparse factorization library ") + cholmod_library::soname() +
                                   " (CHOLMOD) failed " + what + " (status " + std::to_string(common_.status) + ")");
    }
  }

  const cholmod_library::Api& api_;
  cholmod_common common_{};
  cholmod_sparse* matrix_ = nullptr;
  cholmod_factor* factor_ = nullptr;
  SupernodalLayout layout_;  // the supernodal factor's (when it is one)
  TreeCut cut_;              // its tree cut for two threads
  std::unique_ptr<SupernodalFactorization> numeric_;
  std::unique_ptr<double[]> values_;                               // its values
  std::vector<double> entries_;                                    // the matrix's values, on the pattern (supernodal)
  std::vector<int> inverse_, extra_p_, extra_row_, extra_source_;  // see lay_out_lower
  PermutedMatrix matrix_view_;                      // the pattern given to analyse, which outlives the factorization
  bool factored_ = false;                           // by the last factorize
  std::unique_ptr<SupernodalSolve<double>> exact_;  // the supernodal factor as factorized
  std::unique_ptr<SupernodalSolve<float>> single_;  // the factor's values rounded, once asked for
  platform::ThreadPool* pool_ = nullptr;
  int n_ = 0;
};

}  // namespace

SparseCholesky::Status SparseCholesky::factorize(const std::vector<double>& v) {
  const std::span<double> target = values();
  if (target.empty() || v.size() != target.size()) {
    throw platform::RangeError("factorize called with " + std::to_string(v.size()) +
                               " values before analyse or for another pattern");
  }
  std::copy(v.begin(), v.end(), target.begin());
  return factorize();
}

std::unique_ptr<SparseCholesky> make_sparse_cholesky() { return std::make_unique<Cholmod>(); }

}  // namespace solver
