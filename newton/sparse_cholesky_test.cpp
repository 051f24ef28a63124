// The factorization behind its interface: solves against closed forms, the
// answer for a matrix that is not positive definite, reuse of the analysis
// for new values after such an answer, and the factor rounded to single
// precision; the library's loader.

#include "newton/sparse_cholesky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "energy/kernel_path.h"
#include "newton/cholmod_library.h"
#include "newton/supernodal.h"
#include "platform/failure.h"
#include "platform/thread_pool.h"

namespace {

// One BLAS thread, as the programs set it before the library loads: the
// factorization's bits then do not depend on the machine, and the threads
// under test are the pool's alone.
const bool kOneBlasThread = setenv("OPENBLAS_NUM_THREADS", "1", 0) == 0;

constexpr double kTol = 1e-12;

// The upper triangle of the n x n matrix with d on the diagonal and -1 next
// to it (a chain of springs, fixed at both ends when d = 2).
struct Tridiagonal {
  std::vector<int> colptr;
  std::vector<int> row;
  std::vector<double> values(double d) const {
    std::vector<double> v;
    for (std::size_t j = 0; j + 1 < colptr.size(); ++j) {
      if (j > 0) v.push_back(-1.0);
      v.push_back(d);
    }
    return v;
  }
};

Tridiagonal Chain(int n) {
  Tridiagonal t;
  t.colptr.push_back(0);
  for (int j = 0; j < n; ++j) {
    if (j > 0) t.row.push_back(j - 1);
    t.row.push_back(j);
    t.colptr.push_back(static_cast<int>(t.row.size()));
  }
  return t;
}

TEST(SparseCholesky, SolvesAChainOfSpringsUnderAUniformLoad) {
  // -u(i-1) + 2 u(i) - u(i+1) = 1, u(0) = u(n+1) = 0: u(i) = i (n + 1 - i) / 2.
  constexpr int n = 50;
  const Tridiagonal t = Chain(n);
  auto chol = solver::make_sparse_cholesky();
  chol->analyse(n, t.colptr, t.row);
  ASSERT_EQ(chol->factorize(t.values(2.0)), solver::SparseCholesky::Status::success);
  std::vector<double> u(n, 1.0);
  chol->solve(u.data(), u.data());
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(u[static_cast<std::size_t>(i - 1)], 0.5 * i * (n + 1 - i), kTol * n * n);
  EXPECT_GE(chol->factor_entries(), 2.0 * n - 1.0);
}

TEST(SparseCholesky, ReportsAnIndefiniteMatrixAndRecovers) {
  constexpr int n = 20;
  const Tridiagonal t = Chain(n);
  auto chol = solver::make_sparse_cholesky();
  chol->analyse(n, t.colptr, t.row);
  // Diagonal 1.9 < 2 cos(pi / (n + 1)) * ... : the smallest eigenvalue
  // 1.9 - 2 cos(pi / 21) is negative.
  EXPECT_EQ(chol->factorize(t.values(1.9)), solver::SparseCholesky::Status::not_positive_definite);
  // Singular: the free chain (diagonal 2 with both ends loose would be; here
  // a zero matrix).
  EXPECT_EQ(chol->factorize(std::vector<double>(t.row.size(), 0.0)),
            solver::SparseCholesky::Status::not_positive_definite);
  // The same analysis takes positive definite values again.
  ASSERT_EQ(chol->factorize(t.values(3.0)), solver::SparseCholesky::Status::success);
  std::vector<double> b(n, 0.0);
  b[0] = 1.0;
  std::vector<double> x(n);
  chol->solve(b.data(), x.data());
  // Residual of the first two rows.
  EXPECT_NEAR(3.0 * x[0] - x[1], 1.0, kTol);
  EXPECT_NEAR(-x[0] + 3.0 * x[1] - x[2], 0.0, kTol);
}

TEST(SparseCholesky, RefusesValuesOfAnotherPattern) {
  const Tridiagonal t = Chain(5);
  auto chol = solver::make_sparse_cholesky();
  EXPECT_ANY_THROW(chol->factorize(t.values(2.0)));
  chol->analyse(5, t.colptr, t.row);
  EXPECT_ANY_THROW(chol->factorize(std::vector<double>(3, 1.0)));
}

// The upper triangle of the 5-point Laplacian of an m x m grid with d on
// the diagonal: large enough for supernodes of many columns.
struct Grid {
  int n = 0;
  std::vector<int> colptr{0};
  std::vector<int> row;
  std::vector<double> values;
};

Grid Laplacian(int m, double d) {
  Grid g;
  g.n = m * m;
  for (int j = 0; j < g.n; ++j) {
    for (const int i : {j - m, j - 1}) {
      if (i < 0 || (i == j - 1 && j % m == 0)) continue;
      g.row.push_back(i);
      g.values.push_back(-1.0);
    }
    g.row.push_back(j);
    g.values.push_back(d);
    g.colptr.push_back(static_cast<int>(g.row.size()));
  }
  return g;
}

// max |a - b| / max |b|
double relative_difference(const std::vector<double>& a, const std::vector<double>& b) {
  double diff = 0.0;
  double size = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff = std::max(diff, std::fabs(a[i] - b[i]));
    size = std::max(size, std::fabs(b[i]));
  }
  return diff / size;
}

std::vector<double> Load(int n) {
  std::vector<double> b(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::sin(0.37 * static_cast<double>(i)) + 0.5;
  return b;
}

TEST(SparseCholesky, SolvesWithTheFactorRoundedToSinglePrecision) {
  // Diagonal 4.5: eigenvalues in (0.5, 8.5), condition below 17, so the
  // rounded factor's solve is within a few 1e-7 of the exact one.
  const Grid g = Laplacian(40, 4.5);
  auto chol = solver::make_sparse_cholesky();
  chol->analyse(g.n, g.colptr, g.row);
  ASSERT_EQ(chol->factorize(g.values), solver::SparseCholesky::Status::success);
  const std::vector<double> b = Load(g.n);
  std::vector<double> exact(b.size());
  chol->solve(b.data(), exact.data());
  chol->round_to_single();
  std::vector<double> rounded = b;
  chol->solve(rounded.data(), rounded.data());  // in place
  const double difference = relative_difference(rounded, exact);
  EXPECT_GT(difference, 0.0);  // the rounded factor is the one in use
  EXPECT_LT(difference, 1e-6);
  // Rounding again changes nothing.
  chol->round_to_single();
  std::vector<double> again(b.size());
  chol->solve(b.data(), again.data());
  EXPECT_EQ(again, rounded);
}

// Both solves, with the factor as made and rounded to single precision
// (true).
class EitherFactor : public ::testing::TestWithParam<bool> {};

// The solves run in the lanes of the energy evaluation's path; every path
// gives the same bits.
TEST_P(EitherFactor, SolveIsTheSameOnEveryInstructionSet) {
  namespace kernel = solver::kernel;
  const kernel::Path before = kernel::current_path();
  const Grid g = Laplacian(40, 4.5);
  const std::vector<double> b = Load(g.n);
  std::vector<double> first;
  int paths = 0;
  for (const kernel::Path p : {kernel::Path::scalar, kernel::Path::pairs, kernel::Path::avx2, kernel::Path::avx512}) {
    if (!kernel::use_path(p)) continue;
    auto chol = solver::make_sparse_cholesky();
    chol->analyse(g.n, g.colptr, g.row);
    ASSERT_EQ(chol->factorize(g.values), solver::SparseCholesky::Status::success);
    if (GetParam()) chol->round_to_single();
    std::vector<double> x(b.size());
    chol->solve(b.data(), x.data());
    if (first.empty()) first = x;
    EXPECT_EQ(x, first) << kernel::path_name(p);
    ++paths;
  }
  kernel::use_path(before);
  EXPECT_GE(paths, 2);
}

// Two grids side by side, no entry between them: a forest of two trees.
Grid TwoLaplacians(int m, double d) {
  const Grid one = Laplacian(m, d);
  Grid g = one;
  for (int j = 0; j < one.n; ++j) {
    for (int k = one.colptr[static_cast<std::size_t>(j)]; k < one.colptr[static_cast<std::size_t>(j) + 1]; ++k) {
      g.row.push_back(one.row[static_cast<std::size_t>(k)] + one.n);
      g.values.push_back(one.values[static_cast<std::size_t>(k)]);
    }
    g.colptr.push_back(static_cast<int>(g.row.size()));
  }
  g.n = 2 * one.n;
  return g;
}

// A solve with either factor split between two threads (the two
// halves of the elimination tree at once) gives the one-thread solve's
// bits, on one tree and on a forest, and again with the same lists.
TEST_P(EitherFactor, ParallelSolvesGiveTheOneThreadBits) {
  platform::ThreadPool pool(2);
  ASSERT_EQ(pool.size(), 2u);
  for (const Grid& g : {Laplacian(60, 4.5), TwoLaplacians(30, 4.5)}) {
    const std::vector<double> b = Load(g.n);
    auto one = solver::make_sparse_cholesky();
    auto two = solver::make_sparse_cholesky();
    for (auto* chol : {one.get(), two.get()}) {
      chol->analyse(g.n, g.colptr, g.row);
      ASSERT_EQ(chol->factorize(g.values), solver::SparseCholesky::Status::success);
      if (GetParam()) chol->round_to_single();
    }
    two->use_threads(&pool);
    std::vector<double> x(b.size()), y(b.size());
    one->solve(b.data(), x.data());
    for (int round = 0; round < 2; ++round) {
      two->solve(b.data(), y.data());
      EXPECT_EQ(x, y) << "n " << g.n << " round " << round;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SparseCholesky, EitherFactor, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& p) {
  return p.param ? "rounded" : "double";
});

// y = A x for the upper triangle g holds.
std::vector<double> Product(const Grid& g, const std::vector<double>& x) {
  std::vector<double> y(x.size(), 0.0);
  for (std::size_t j = 0; j < static_cast<std::size_t>(g.n); ++j) {
    for (int k = g.colptr[j]; k < g.colptr[j + 1]; ++k) {
      const std::size_t i = static_cast<std::size_t>(g.row[static_cast<std::size_t>(k)]);
      y[i] += g.values[static_cast<std::size_t>(k)] * x[j];
      if (i != j) y[j] += g.values[static_cast<std::size_t>(k)] * x[i];
    }
  }
  return y;
}

// The numeric factorization on two threads (the halves of the tree at
// once, the top's updates of more than one block of columns in parts)
// makes the one-thread factor, bit for bit, which solves the system; a
// matrix indefinite in some columns (on a forest: in one tree, which one
// thread factorizes while the other succeeds) is found so on either, after
// which both factorize again.
struct FactorCase {
  const char* name;
  bool forest;                 // two grids of 150 x 150, else one of 300 x 300 (a top of 300 columns)
  double indefinite_from = 0;  // the share of the columns from which the diagonal is 3.99 ...
  double indefinite_to = 1;    // ... up to this one
};

class ParallelFactorization : public ::testing::TestWithParam<FactorCase> {};

TEST_P(ParallelFactorization, MakesTheOneThreadFactor) {
  platform::ThreadPool pool(2);
  ASSERT_EQ(pool.size(), 2u);
  const Grid g = GetParam().forest ? TwoLaplacians(150, 4.5) : Laplacian(300, 4.5);
  Grid indefinite = g;
  const std::size_t n = static_cast<std::size_t>(g.n);
  const auto from = static_cast<std::size_t>(GetParam().indefinite_from * static_cast<double>(n));
  const auto to = static_cast<std::size_t>(GetParam().indefinite_to * static_cast<double>(n));
  for (std::size_t j = from; j < to; ++j) indefinite.values[static_cast<std::size_t>(g.colptr[j + 1] - 1)] = 3.99;
  const std::vector<double> b = Load(g.n);
  auto one = solver::make_sparse_cholesky();
  auto two = solver::make_sparse_cholesky();
  two->use_threads(&pool);
  std::vector<double> x(b.size()), y(b.size());
  for (auto* chol : {one.get(), two.get()}) {
    chol->analyse(g.n, g.colptr, g.row);
    EXPECT_EQ(chol->factorize(indefinite.values), solver::SparseCholesky::Status::not_positive_definite);
    ASSERT_EQ(chol->factorize(g.values), solver::SparseCholesky::Status::success);
  }
  one->solve(b.data(), x.data());
  two->solve(b.data(), y.data());
  EXPECT_EQ(x, y);
  EXPECT_LT(relative_difference(Product(g, x), b), 1e-12);
}

INSTANTIATE_TEST_SUITE_P(SparseCholesky,
                         ParallelFactorization,
                         ::testing::Values(FactorCase{"tree", false},
                                           FactorCase{"forest_first_tree_indefinite", true, 0.0, 0.5},
                                           FactorCase{"forest_second_tree_indefinite", true, 0.5, 1.0}),
                         [](const ::testing::TestParamInfo<FactorCase>& p) { return std::string(p.param.name); });

// The tree cut by hand: supernodes 0 and 1 (one column each) are the
// children of 2, whose parent is 3; the cut runs 0 and 1 at once, below
// the top 2, 3. A chain has no cut.
TEST(TreeCut, RunsTheChildrenOfTheFirstForkAtOnce) {
  const int super[] = {0, 1, 2, 3, 4};
  const int pi[] = {0, 2, 4, 6, 7};
  const int px[] = {0, 2, 4, 6, 7};
  const int rows[] = {0, 2, 1, 2, 2, 3, 3};
  solver::SupernodalLayout L;
  L.n = 4;
  L.nsuper = 4;
  L.super = super;
  L.pi = pi;
  L.px = px;
  L.rows = rows;
  const solver::TreeCut cut = solver::cut_tree(L);
  EXPECT_EQ(cut.a_end, 1u);
  EXPECT_EQ(cut.b_end, 2u);
  EXPECT_EQ(cut.top_column, 2);
  const int chain_rows[] = {0, 1, 1, 2, 2, 3, 3};
  L.rows = chain_rows;
  EXPECT_EQ(solver::cut_tree(L).a_end, 0u);
}

TEST(SparseCholesky, FactorizesAfterRoundingAsIfNeverRounded) {
  // The rounded values share the factor's storage: a factorization after
  // them, failed or not, must leave no trace of them.
  const Grid g = Laplacian(30, 4.5);
  const Grid other = Laplacian(30, 5.0);
  const Grid indefinite = Laplacian(30, 3.0);
  auto chol = solver::make_sparse_cholesky();
  auto fresh = solver::make_sparse_cholesky();
  chol->analyse(g.n, g.colptr, g.row);
  fresh->analyse(g.n, g.colptr, g.row);
  ASSERT_EQ(chol->factorize(g.values), solver::SparseCholesky::Status::success);
  chol->round_to_single();
  EXPECT_EQ(chol->factorize(indefinite.values), solver::SparseCholesky::Status::not_positive_definite);
  ASSERT_EQ(chol->factorize(other.values), solver::SparseCholesky::Status::success);
  ASSERT_EQ(fresh->factorize(other.values), solver::SparseCholesky::Status::success);
  const std::vector<double> b = Load(g.n);
  std::vector<double> x(b.size());
  std::vector<double> y(b.size());
  chol->solve(b.data(), x.data());
  fresh->solve(b.data(), y.data());
  EXPECT_EQ(x, y);
}

}  // namespace

namespace {

// The loader: the library of the configured soname loads; one that cannot
// be loaded is a LIBRARY_ERROR naming it and the package to install; a
// library of another main or sub version than the header is refused.
TEST(CholmodLibrary, LoadsTheConfiguredSoname) {
  EXPECT_EQ(std::string(solver::cholmod_library::soname()).rfind("libcholmod.so.", 0), 0u);
  EXPECT_NO_THROW(solver::cholmod_library::load(solver::cholmod_library::soname()));
}

TEST(CholmodLibrary, AMissingLibraryNamesItAndWhatToInstall) {
  try {
    solver::cholmod_library::load("libcholmod.so.97");
    FAIL() << "loaded a library that does not exist";
  } catch (const platform::LibraryError& e) {
    EXPECT_EQ(e.full_name(), "LIBRARY_ERROR");
    EXPECT_NE(e.message().find("libcholmod.so.97 (CHOLMOD), which cannot be loaded"), std::string::npos) << e.message();
    EXPECT_NE(e.message().find("Debian package libcholmod97"), std::string::npos) << e.message();
  }
}

TEST(CholmodLibrary, RefusesAnotherMainOrSubVersionThanTheHeaders) {
  EXPECT_EQ(solver::cholmod_library::mismatch(CHOLMOD_MAIN_VERSION, CHOLMOD_SUB_VERSION, 0), "");
  EXPECT_EQ(solver::cholmod_library::mismatch(CHOLMOD_MAIN_VERSION, CHOLMOD_SUB_VERSION, 99), "");
  const std::string sub = solver::cholmod_library::mismatch(CHOLMOD_MAIN_VERSION, CHOLMOD_SUB_VERSION + 1, 0);
  EXPECT_NE(
      sub.find("built for version " + std::to_string(CHOLMOD_MAIN_VERSION) + "." + std::to_string(CHOLMOD_SUB_VERSION)),
      std::string::npos)
      << sub;
  EXPECT_NE(solver::cholmod_library::mismatch(CHOLMOD_MAIN_VERSION + 1, CHOLMOD_SUB_VERSION, 0), "");
}

}  // namespace
