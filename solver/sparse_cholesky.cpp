#include "solver/sparse_cholesky.h"

#include <suitesparse/cholmod.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "platform/failure.h"

namespace solver {

namespace {

class Cholmod final : public SparseCholesky {
 public:
  Cholmod() {
    cholmod_start(&common_);
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
    if (factor_ != nullptr) cholmod_free_factor(&factor_, &common_);
    if (matrix_ != nullptr) cholmod_free_sparse(&matrix_, &common_);
    cholmod_finish(&common_);
  }
  Cholmod(const Cholmod&) = delete;
  Cholmod& operator=(const Cholmod&) = delete;

  void analyse(int n, const std::vector<int>& colptr, const std::vector<int>& row) override {
    if (factor_ != nullptr) cholmod_free_factor(&factor_, &common_);
    if (matrix_ != nullptr) cholmod_free_sparse(&matrix_, &common_);
    const std::size_t size = static_cast<std::size_t>(n);
    matrix_ = cholmod_allocate_sparse(size, size, row.size(), 1, 1, 1, CHOLMOD_REAL, &common_);
    check("allocating the matrix");
    std::memcpy(matrix_->p, colptr.data(), colptr.size() * sizeof(int));
    if (!row.empty()) std::memcpy(matrix_->i, row.data(), row.size() * sizeof(int));
    std::fill_n(static_cast<double*>(matrix_->x), row.size(), 0.0);
    factor_ = cholmod_analyze(matrix_, &common_);
    check("ordering the matrix");
    n_ = n;
  }

  bool factorize(const std::vector<double>& values) override {
    if (matrix_ == nullptr || values.size() != matrix_->nzmax) {
      throw platform::RangeError("factorize called with " + std::to_string(values.size()) +
                                 " values before analyse or for another pattern");
    }
    std::memcpy(matrix_->x, values.data(), values.size() * sizeof(double));
    cholmod_factorize(matrix_, factor_, &common_);
    if (common_.status == CHOLMOD_NOT_POSDEF) return false;
    check("factorizing the matrix");
    return factor_->minor == factor_->n;
  }

  void solve(const double* b, double* x) override {
    cholmod_dense* rhs =
        cholmod_allocate_dense(static_cast<std::size_t>(n_), 1, static_cast<std::size_t>(n_), CHOLMOD_REAL, &common_);
    check("allocating a vector");
    std::memcpy(rhs->x, b, static_cast<std::size_t>(n_) * sizeof(double));
    cholmod_dense* sol = cholmod_solve(CHOLMOD_A, factor_, rhs, &common_);
    cholmod_free_dense(&rhs, &common_);
    check("solving");
    std::memcpy(x, sol->x, static_cast<std::size_t>(n_) * sizeof(double));
    cholmod_free_dense(&sol, &common_);
  }

  double factor_entries() const override { return factor_ == nullptr ? 0.0 : common_.lnz; }

 private:
  void check(const char* what) {
    if (common_.status == CHOLMOD_OUT_OF_MEMORY) throw std::bad_alloc();
    if (common_.status < CHOLMOD_OK) {
      throw platform::DataError(std::string("the sparse factorization failed ") + what + " (CHOLMOD status " +
                                std::to_string(common_.status) + ")");
    }
  }

  cholmod_common common_{};
  cholmod_sparse* matrix_ = nullptr;
  cholmod_factor* factor_ = nullptr;
  int n_ = 0;
};

}  // namespace

std::unique_ptr<SparseCholesky> make_sparse_cholesky() { return std::make_unique<Cholmod>(); }

}  // namespace solver
