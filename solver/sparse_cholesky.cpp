#include "solver/sparse_cholesky.h"

#include <dlfcn.h>
#include <suitesparse/cholmod.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/failure.h"

namespace solver {

namespace {

// CHOLMOD is loaded when the first factorization is made, not linked: its
// BLAS (OpenBLAS on Debian) starts a thread pool as soon as it is loaded,
// which the default method does not need and which must not decide whether
// a program that never factorizes can start (a process refused threads
// runs the default method on its calling thread alone). Loading it late
// also lets OPENBLAS_NUM_THREADS, read by OpenBLAS at load, be set by the
// caller's environment.
struct CholmodApi {
  decltype(&cholmod_start) start;
  decltype(&cholmod_finish) finish;
  decltype(&cholmod_allocate_sparse) allocate_sparse;
  decltype(&cholmod_free_sparse) free_sparse;
  decltype(&cholmod_analyze) analyze;
  decltype(&cholmod_factorize) factorize;
  decltype(&cholmod_free_factor) free_factor;
  decltype(&cholmod_allocate_dense) allocate_dense;
  decltype(&cholmod_free_dense) free_dense;
  decltype(&cholmod_solve) solve;
};

template <class F>
void bind(void* library, const char* name, F& f) {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    throw platform::DataError(std::string("the sparse factorization library lacks ") + name);
  }
  f = reinterpret_cast<F>(symbol);
}

const CholmodApi& cholmod() {
  static const CholmodApi api = [] {
    // CHOLMOD's OpenMP loops (copies and clears inside the supernodal
    // factorization, four threads fixed when it was built) cost more than
    // they save: on the 2-core machine of our benchmarks a third more CPU
    // time at n = 80. The dense work runs in the BLAS, which has threads
    // of its own. Unless the user has set it, OpenMP gets one thread; the
    // OpenMP runtime reads this when the library below loads it.
    setenv("OMP_THREAD_LIMIT", "1", 0);
    void* library = nullptr;
    for (const char* name : {"libcholmod.so.3", "libcholmod.so"}) {
      library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (library != nullptr) break;
    }
    if (library == nullptr) {
      const char* why = dlerror();
      throw platform::DataError(std::string("the Newton method needs the sparse factorization library CHOLMOD "
                                            "(Debian package libsuitesparse-dev), which cannot be loaded: ") +
                                (why != nullptr ? why : "not found"));
    }
    CholmodApi a{};
    bind(library, "cholmod_start", a.start);
    bind(library, "cholmod_finish", a.finish);
    bind(library, "cholmod_allocate_sparse", a.allocate_sparse);
    bind(library, "cholmod_free_sparse", a.free_sparse);
    bind(library, "cholmod_analyze", a.analyze);
    bind(library, "cholmod_factorize", a.factorize);
    bind(library, "cholmod_free_factor", a.free_factor);
    bind(library, "cholmod_allocate_dense", a.allocate_dense);
    bind(library, "cholmod_free_dense", a.free_dense);
    bind(library, "cholmod_solve", a.solve);
    return a;  // the library stays loaded for the life of the process
  }();
  return api;
}

class Cholmod final : public SparseCholesky {
 public:
  Cholmod() : api_(cholmod()) {
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

  bool factorize() override {
    if (matrix_ == nullptr) throw platform::RangeError("factorize called before analyse");
    api_.factorize(matrix_, factor_, &common_);
    if (common_.status == CHOLMOD_NOT_POSDEF) return false;
    check("factorizing the matrix");
    return factor_->minor == factor_->n;
  }

  void solve(const double* b, double* x) override {
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

  double factor_entries() const override {
    return factor_ == nullptr ? 0.0 : static_cast<double>(factor_->is_super ? factor_->xsize : factor_->nzmax);
  }

 private:
  void check(const char* what) {
    if (common_.status == CHOLMOD_OUT_OF_MEMORY) throw std::bad_alloc();
    if (common_.status < CHOLMOD_OK) {
      throw platform::DataError(std::string("the sparse factorization failed ") + what + " (CHOLMOD status " +
                                std::to_string(common_.status) + ")");
    }
  }

  const CholmodApi& api_;
  cholmod_common common_{};
  cholmod_sparse* matrix_ = nullptr;
  cholmod_factor* factor_ = nullptr;
  int n_ = 0;
};

}  // namespace

bool SparseCholesky::factorize(const std::vector<double>& v) {
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
