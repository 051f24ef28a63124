#include "newton/sparse_cholesky.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "energy/kernel_path.h"
#include "newton/cholmod_library.h"
#include "platform/failure.h"

namespace solver {

namespace {

// The supernodal factor L (L L^T = P A P^T) with its values rounded to
// single precision: each supernode's columns k1..k2-1 with their rows
// (the supernode's own columns first, then those below), stored column by
// column. Its solves sum in double precision, each sum in a fixed order, so
// the vector lanes the processor offers change nothing but the speed.
struct SingleLayout {
  std::size_t nsuper = 0;
  const int* super = nullptr;  // first column of each supernode, then n
  const int* pi = nullptr;     // where each supernode's rows start in rows
  const int* px = nullptr;     // where each supernode's values start
  const int* rows = nullptr;
  const float* values = nullptr;
};

// sum l[i] t[i], i < n, in eight interleaved partial sums added pairwise at
// the end: a fixed order that runs in vector lanes.
inline double dot(const float* l, const double* t, std::size_t n) {
  constexpr std::size_t kLanes = 8;
  double lane[kLanes] = {};
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t k = 0; k < kLanes; ++k) lane[k] = lane[k] + static_cast<double>(l[i + k]) * t[i + k];
  }
  for (std::size_t k = 0; i < n; ++i, ++k) lane[k] = lane[k] + static_cast<double>(l[i]) * t[i];
  return ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
}

// L y = w, y into w; t: room for the most rows of any supernode.
// Column by column, each in one pass: the block is read in the order it is
// stored.
[[gnu::always_inline]] inline void forward_single(const SingleLayout& L, double* w, double* t) {
  for (std::size_t s = 0; s < L.nsuper; ++s) {
    const std::size_t k1 = static_cast<std::size_t>(L.super[s]);
    const std::size_t ncol = static_cast<std::size_t>(L.super[s + 1]) - k1;
    const std::size_t nrow = static_cast<std::size_t>(L.pi[s + 1] - L.pi[s]);
    const std::size_t nbelow = nrow - ncol;
    const float* block = L.values + L.px[s];
    double* y = w + k1;
    for (std::size_t i = 0; i < nbelow; ++i) t[i] = 0.0;
    for (std::size_t j = 0; j < ncol; ++j) {
      const float* column = block + j * nrow;
      const double yj = y[j] / static_cast<double>(column[j]);
      y[j] = yj;
      for (std::size_t i = j + 1; i < ncol; ++i) y[i] = y[i] - static_cast<double>(column[i]) * yj;
      const float* lower = column + ncol;
      for (std::size_t i = 0; i < nbelow; ++i) t[i] = t[i] + static_cast<double>(lower[i]) * yj;
    }
    const int* below = L.rows + L.pi[s] + ncol;
    for (std::size_t i = 0; i < nbelow; ++i) w[below[i]] = w[below[i]] - t[i];
  }
}

// L^T z = w, z into w; u: room for the most rows of any supernode. The
// supernode's unknowns and those below it it needs are gathered into u, so
// that each column is one dot product over its stored rows.
[[gnu::always_inline]] inline void backward_single(const SingleLayout& L, double* w, double* u) {
  for (std::size_t s = L.nsuper; s-- > 0;) {
    const std::size_t k1 = static_cast<std::size_t>(L.super[s]);
    const std::size_t ncol = static_cast<std::size_t>(L.super[s + 1]) - k1;
    const std::size_t nrow = static_cast<std::size_t>(L.pi[s + 1] - L.pi[s]);
    const float* block = L.values + L.px[s];
    const int* rows = L.rows + L.pi[s];
    for (std::size_t i = ncol; i < nrow; ++i) u[i] = w[rows[i]];
    double* z = w + k1;
    for (std::size_t j = ncol; j-- > 0;) {
      const float* column = block + j * nrow;
      if (j > 0) {
        for (std::size_t i = j; i < nrow; i += 16) __builtin_prefetch(column - nrow + i);
      } else if (s > 0) {
        const std::size_t previous = static_cast<std::size_t>(L.pi[s] - L.pi[s - 1]);
        for (std::size_t i = 0; i < previous; i += 16) __builtin_prefetch(block - previous + i);
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
// attributes and a function pointer, not resolver functions, which run
// before a sanitizer's runtime is ready.
void solve_scalar(const SingleLayout& L, double* w, double* t) {
  forward_single(L, w, t);
  backward_single(L, w, t);
}
#if defined(__x86_64__)
[[gnu::target("avx2")]] void solve_avx2(const SingleLayout& L, double* w, double* t) {
  forward_single(L, w, t);
  backward_single(L, w, t);
}
[[gnu::target("avx512f")]] void solve_avx512(const SingleLayout& L, double* w, double* t) {
  forward_single(L, w, t);
  backward_single(L, w, t);
}
#endif

using SingleSolve = void (*)(const SingleLayout&, double*, double*);

SingleSolve single_solve() {
#if defined(__x86_64__)
  switch (kernel::current_path()) {
    case kernel::Path::avx512:
      return solve_avx512;
    case kernel::Path::avx2:
      return solve_avx2;
    case kernel::Path::scalar:
    case kernel::Path::pairs:
      break;
  }
#endif
  return solve_scalar;
}

class SingleFactor {
 public:
  // Rounds L's values in place: float k takes bytes 4k.. of the storage,
  // which belonged to double k / 2, read before (k ascending). The bytes
  // are copied as bytes, so that the compiler keeps every read before the
  // writes that overlap it.
  explicit SingleFactor(cholmod_factor& L)
      : n_(static_cast<std::size_t>(L.n)), perm_(static_cast<const int*>(L.Perm)), w_(n_) {
    unsigned char* bytes = static_cast<unsigned char*>(L.x);
    for (std::size_t k = 0; k < L.xsize; ++k) {
      double v = 0.0;
      std::memcpy(&v, bytes + k * sizeof(double), sizeof v);
      const float rounded = static_cast<float>(v);
      std::memcpy(bytes + k * sizeof(float), &rounded, sizeof rounded);
    }
    const float* to = static_cast<const float*>(L.x);
    layout_.nsuper = L.nsuper;
    layout_.super = static_cast<const int*>(L.super);
    layout_.pi = static_cast<const int*>(L.pi);
    layout_.px = static_cast<const int*>(L.px);
    layout_.rows = static_cast<const int*>(L.s);
    layout_.values = to;
    std::size_t most = 0;
    for (std::size_t s = 0; s < layout_.nsuper; ++s) {
      most = std::max(most, static_cast<std::size_t>(layout_.pi[s + 1] - layout_.pi[s]));
    }
    rows_.resize(most);
  }

  void solve(const double* b, double* x) {
    double* w = w_.data();
    for (std::size_t k = 0; k < n_; ++k) w[k] = b[perm_[k]];
    solve_(layout_, w, rows_.data());
    for (std::size_t k = 0; k < n_; ++k) x[perm_[k]] = w[k];
  }

 private:
  std::size_t n_;
  const int* perm_;
  SingleLayout layout_;
  SingleSolve solve_ = single_solve();
  std::vector<double> w_;
  std::vector<double> rows_;  // room for one supernode's rows
};

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
  }

  std::span<double> values() override {
    if (matrix_ == nullptr) return {};
    return {static_cast<double*>(matrix_->x), matrix_->nzmax};
  }

  Status factorize() override {
    if (matrix_ == nullptr) throw platform::RangeError("factorize called before analyse");
    single_.reset();  // the factorization rewrites every value of the factor
    api_.factorize(matrix_, factor_, &common_);
    if (common_.status == CHOLMOD_NOT_POSDEF) return Status::not_positive_definite;
    check("factorizing the matrix");
    return factor_->minor == factor_->n ? Status::success : Status::not_positive_definite;
  }

  void solve(const double* b, double* x) override {
    if (single_) {
      single_->solve(b, x);
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
    if (single_ || factor_ == nullptr || !factor_->is_super || factor_->minor != factor_->n) return;
    single_ = std::make_unique<SingleFactor>(*factor_);
  }

  double factor_entries() const override {
    return factor_ == nullptr ? 0.0 : static_cast<double>(factor_->is_super ? factor_->xsize : factor_->nzmax);
  }

 private:
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
  std::unique_ptr<SingleFactor> single_;  // the factor's values rounded, once asked for
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
