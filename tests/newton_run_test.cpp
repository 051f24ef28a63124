// Whole analyses with the second-order method against the default one, in
// process. Compiled once per material law (VELORA_GREEN set for the Green
// strain).
//
// The bound on the difference of the two results. Both runs end with every
// residual force within the allowable residue: |r(u)|_inf <= residue at
// both results, r being the gradient of the energy under the loads of the
// state itself. To first order r(u_N) - r(u_L) = J (u_N - u_L), J the
// tangent at the solution, so
//   |u_N - u_L|_inf <= |J^-1|_inf (|r(u_N)|_inf + |r(u_L)|_inf)
//                   <= 2 |J^-1|_inf residue.
// The test takes J as the strain-energy tangent without the load stiffness
// of the pressure (small beside it under these pressures) and allows a
// factor 2 for that and for the second-order terms.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "energy/energy_testing.h"
#include "energy/law.h"
#include "generators/circle.h"
#include "model/analysis.h"
#include "model/model.h"
#include "newton/sparse_cholesky.h"
#include "newton/tangent_pattern.h"
#include "nlp/nlp.h"
#include "platform/failure.h"
#include "solver/solver.h"

namespace {

namespace fs = std::filesystem;

constexpr double kMargin = 2.0;  // over the first-order bound, see above

#ifdef VELORA_GREEN
constexpr const char* kLaw = "green";
#else
constexpr const char* kLaw = "engineering";
#endif

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// |J^-1|_inf of the exact tangent at the state's u: the largest row sum of
// the dense inverse, by Gauss-Jordan elimination with partial pivoting
// (the models here have a few hundred unknowns at most).
double InverseNorm(const solver::analysis& a) {
  const auto slots = solver::testing::tested_law().evaluator(a, solver::EvaluationOptions{1, 1})->slots();
  const solver::TangentPattern p = solver::tangent_pattern(a, slots);
  std::vector<double> values(p.row.size());
  solver::testing::tested_law().tangent(a, slots, a.u, p.position, false, values);
  const std::size_t n = static_cast<std::size_t>(a.nfree);
  std::vector<double> m(n * 2 * n, 0.0);  // [J | I], row by row
  for (std::size_t j = 0; j < n; ++j) {
    for (int k = p.colptr[j]; k < p.colptr[j + 1]; ++k) {
      const std::size_t i = static_cast<std::size_t>(p.row[static_cast<std::size_t>(k)]);
      m[i * 2 * n + j] = values[static_cast<std::size_t>(k)];
      m[j * 2 * n + i] = values[static_cast<std::size_t>(k)];
    }
    m[j * 2 * n + n + j] = 1.0;
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r) {
      if (std::fabs(m[r * 2 * n + c]) > std::fabs(m[pivot * 2 * n + c])) pivot = r;
    }
    for (std::size_t k = 0; k < 2 * n; ++k) std::swap(m[c * 2 * n + k], m[pivot * 2 * n + k]);
    const double d = m[c * 2 * n + c];
    if (d == 0.0) return INFINITY;
    for (std::size_t k = 0; k < 2 * n; ++k) m[c * 2 * n + k] /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = m[r * 2 * n + c];
      if (f == 0.0) continue;
      for (std::size_t k = 0; k < 2 * n; ++k) m[r * 2 * n + k] -= f * m[c * 2 * n + k];
    }
  }
  double norm = 0.0;
  for (std::size_t r = 0; r < n; ++r) {
    double sum = 0.0;
    for (std::size_t k = n; k < 2 * n; ++k) sum += std::fabs(m[r * 2 * n + k]);
    norm = std::max(norm, sum);
  }
  return norm;
}

class NewtonRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("velora_newton_") + info->test_suite_name() + "_" + info->name() + "_" + kLaw;
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = fs::temp_directory_path() / name;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    if (!HasFailure()) fs::remove_all(dir_);
  }
  solver::analysis Run(solver::Method method,
                       unsigned threads = 0,
                       solver::NewtonOptions::Step step = solver::NewtonOptions{}.step,
                       bool single_preconditioner = false,
                       bool small_regions = false) {
    solver::analysis a;
    solver::RunOptions options;
    options.method = method;
    options.newton.step = step;
    options.newton.single_preconditioner = single_preconditioner;
    if (small_regions) {
      // Regions on models this small: before every step, one ring around
      // the unknowns that hold the gradient, however many.
      options.newton.region_share = 1.0;
      options.newton.region_largest = 1.0;
      options.newton.region_rings = 1;
    }
    options.threads = threads;
    options.parallel_from = threads > 1 ? 1 : options.parallel_from;
    options.newton_counts = &counts_;
    solver::run(a, solver::testing::tested_law(), options);
    return a;
  }
  static bool Converged(const solver::analysis& a) { return nlp::norm(a.nfree, a.g) <= a.residue; }
  // Runs the model `text` with the default method and then the second-order
  // one, each over an earlier output.txt that must stay as it was and no
  // autocad.scr that must stay absent; returns each run's failure ("no
  // failure" for a run that succeeded).
  std::vector<std::string> FailuresOfBothMethods(const std::string& text) {
    std::vector<std::string> failures;
    for (const solver::Method method : {solver::Method::lbfgs, solver::Method::newton}) {
      std::ofstream(dir_ / "input.txt", std::ios::binary | std::ios::trunc) << text;
      std::ofstream(dir_ / "output.txt") << "earlier\n";
      try {
        Run(method);
        failures.push_back("no failure");
      } catch (const platform::Failure& f) {
        failures.push_back(f.full_name() + ": " + f.message());
      }
      EXPECT_EQ(Slurp(dir_ / "output.txt"), "earlier\n");
      EXPECT_FALSE(fs::exists(dir_ / "autocad.scr"));
    }
    return failures;
  }

  fs::path dir_, old_;
  solver::NewtonCounts counts_;
};

// The model of a case: a golden model's input file, or the circle.
struct Case {
  const char* name;
  int rings;  // > 0: the clamped circle of this many rings, pressure 0.448
};

// The ways of taking a step: conjugate gradients preconditioned by the last
// factorization (the default), the same with that factorization rounded to
// single precision, the same minimising on small regions first wherever
// the gradient gathers, and the factorization alone.
enum class Way { cg, cg_single, regions, direct };

class AgreesWithTheDefaultMethod : public NewtonRun, public ::testing::WithParamInterface<std::tuple<Case, Way>> {};

TEST_P(AgreesWithTheDefaultMethod, WithinWhatTheResidueAllows) {
  const auto [c, way] = GetParam();
  using Step = solver::NewtonOptions::Step;
  const Step step = way == Way::direct ? Step::direct : Step::cg;
  if (c.rings > 0) {
    circle::Parameters p;
    p.rings = c.rings;
    p.radius = 1.0;
    p.young = 1000.0;
    p.poisson = 0.3;
    p.pressure = 0.448;
    circle::write_model(p, circle::make_mesh(p.rings, p.radius));
  } else {
    const fs::path root = VELORA_TESTDATA;
    fs::copy_file(root / c.name / "input.txt", dir_ / "input.txt");
  }
  const solver::analysis lbfgs = Run(solver::Method::lbfgs);
  const std::string lbfgs_output = Slurp(dir_ / "output.txt");
  const solver::analysis newton = Run(solver::Method::newton, 0, step, way == Way::cg_single, way == Way::regions);
  if (way == Way::regions) {
    EXPECT_GT(counts_.regions, 0);
  } else {
    EXPECT_EQ(counts_.regions, 0);
  }
  ASSERT_TRUE(Converged(lbfgs));
  ASSERT_TRUE(Converged(newton));
  ASSERT_EQ(lbfgs.residue, newton.residue);
  const double bound = kMargin * 2.0 * InverseNorm(newton) * newton.residue;
  ASSERT_TRUE(std::isfinite(bound));
  double difference = 0.0;
  for (int i = 1; i <= newton.nfree; ++i) difference = std::max(difference, std::fabs(newton.u(i) - lbfgs.u(i)));
  EXPECT_LE(difference, bound);
  // The bound is not vacuous: it is below the displacements themselves.
  EXPECT_LT(bound, 0.1 * nlp::norm(newton.nfree, newton.u));
  // The report has the same layout: same length, same lines.
  EXPECT_EQ(Slurp(dir_ / "output.txt").size(), lbfgs_output.size());
  std::printf("%s: |u_N - u_L| = %.3e, bound %.3e, steps %d, factorizations %d (%d failed), regions %d\n",
              c.name,
              difference,
              bound,
              counts_.steps,
              counts_.factorizations,
              counts_.failed,
              counts_.regions);
}

INSTANTIATE_TEST_SUITE_P(GoldenModelsAndCircle,
                         AgreesWithTheDefaultMethod,
                         ::testing::Combine(::testing::Values(Case{"model_example", 0},
                                                              Case{"square_n2_p0.01", 0},
                                                              Case{"square_n3_p0.01", 0},
                                                              Case{"circle_4", 4},
                                                              Case{"circle_8", 8}),
                                            ::testing::Values(Way::cg, Way::cg_single, Way::regions, Way::direct)),
                         [](const ::testing::TestParamInfo<std::tuple<Case, Way>>& param) {
                           std::string s = std::get<0>(param.param).name;
                           std::replace(s.begin(), s.end(), '.', '_');
                           const Way way = std::get<1>(param.param);
                           return s + (way == Way::cg          ? "_cg"
                                       : way == Way::cg_single ? "_cg_single"
                                       : way == Way::regions   ? "_regions"
                                                               : "_direct");
                         });

// The generator's square starts flat: there the tangent has no
// out-of-plane stiffness and cannot be factorized; the shift carries the
// first steps and the run ends converged, the centre lifted along +Z.
TEST_F(NewtonRun, StartsFromTheFlatState) {
  const fs::path root = VELORA_TESTDATA;
  fs::copy_file(root / "square_n3_p0.01" / "input.txt", dir_ / "input.txt");
  {
    solver::analysis flat;
    solver::input(flat);
    solver::start(flat);
    const auto slots = solver::testing::tested_law().evaluator(flat, solver::EvaluationOptions{1, 1})->slots();
    const solver::TangentPattern p = solver::tangent_pattern(flat, slots);
    std::vector<double> values(p.row.size());
    solver::testing::tested_law().tangent(flat, slots, flat.u, p.position, false, values);
    auto cholesky = solver::make_sparse_cholesky();
    cholesky->analyse(p.n, p.colptr, p.row);
    EXPECT_FALSE(cholesky->factorize(values));
  }
  const solver::analysis a = Run(solver::Method::newton);
  EXPECT_TRUE(Converged(a));
  EXPECT_GT(a.u(a.dof(a.nnode / 2 + 1, 3)), 0.0);
}

// The evaluation's thread count does not change a byte of the reports:
// the energy sums keep one order whatever the threads, and the tangent is
// assembled in element order.
TEST_F(NewtonRun, SameBytesOnOneAndTwoThreads) {
  const fs::path root = VELORA_TESTDATA;
  fs::copy_file(root / "square_n3_p0.01" / "input.txt", dir_ / "input.txt");
  Run(solver::Method::newton, 1);
  const std::string one = Slurp(dir_ / "output.txt");
  const std::string script = Slurp(dir_ / "autocad.scr");
  Run(solver::Method::newton, 2);
  EXPECT_EQ(Slurp(dir_ / "output.txt"), one);
  EXPECT_EQ(Slurp(dir_ / "autocad.scr"), script);
}

// A model whose solution has compressed elements: the golden example's
// elements carry a negative second principal stress. The exact tangent is
// then not always positive definite; the run must still converge, to the
// default method's state (checked above), with the same compression.
TEST_F(NewtonRun, ConvergesWithCompressedElements) {
  const fs::path root = VELORA_TESTDATA;
  fs::copy_file(root / "model_example" / "input.txt", dir_ / "input.txt");
  const solver::analysis a = Run(solver::Method::newton);
  EXPECT_TRUE(Converged(a));
  const std::string out = Slurp(dir_ / "output.txt");
  const std::size_t table = out.find("Stress-2");
  ASSERT_NE(table, std::string::npos);
  std::istringstream rows(out.substr(out.find('\n', out.find("-----", table)) + 1));
  int compressed = 0;
  int element = 0;
  double s1 = 0.0;
  double s2 = 0.0;
  while (rows >> element >> s1 >> s2) compressed += s2 < 0.0 ? 1 : 0;
  EXPECT_GT(compressed, 0);
}

// The golden square with a 14th node that no element uses (a leftover of
// a mesh), loaded along Z with `load` when that is not zero; empty if the
// golden file is not laid out as expected.
std::string SquareWithALoneNode(double load) {
  const fs::path root = VELORA_TESTDATA;
  std::string text = Slurp(root / "square_n2_p0.01" / "input.txt");
  const std::string count = ":\n   13\n\n";
  const std::string last = "   13      1.000000E+00      1.000000E+00      0.000000E+00\n";
  const std::string actions = "action\n:\n    0\n";
  if (text.find(count) == std::string::npos || text.find(last) == std::string::npos ||
      text.find(actions) == std::string::npos) {
    return "";
  }
  text.replace(text.find(count), count.size(), ":\n   14\n\n");
  text.insert(text.find(last) + last.size(), "   14      2.000000E+00      2.000000E+00      0.000000E+00\n");
  if (load != 0.0) {
    text.replace(text.find(actions), actions.size(), "action\n:\n    1\n\n   14         3      1.000000E+00\n");
  }
  return text;
}

// A node that no element uses does not move, and the second-order method
// solves the rest as the default method does.
TEST_F(NewtonRun, LeavesANodeNoElementUsesWhereItIs) {
  const fs::path root = VELORA_TESTDATA;
  const std::string text = SquareWithALoneNode(0.0);
  ASSERT_FALSE(text.empty());
  // The bound of the agreement test above, from the model without the node
  // (whose tangent the lone node would make singular).
  fs::copy_file(root / "square_n2_p0.01" / "input.txt", dir_ / "input.txt");
  const double bound = kMargin * 2.0 * InverseNorm(Run(solver::Method::newton)) * Run(solver::Method::newton).residue;
  ASSERT_TRUE(std::isfinite(bound));
  std::ofstream(dir_ / "input.txt", std::ios::binary | std::ios::trunc) << text;
  const solver::analysis lbfgs = Run(solver::Method::lbfgs);
  const solver::analysis newton = Run(solver::Method::newton);
  ASSERT_TRUE(Converged(lbfgs));
  ASSERT_TRUE(Converged(newton));
  for (int j = 1; j <= 3; ++j) {
    const int k = newton.dof(14, j);
    ASSERT_LE(k, newton.nfree);
    EXPECT_EQ(newton.u(k), 0.0);
  }
  double difference = 0.0;
  for (int node = 1; node <= 13; ++node) {
    for (int j = 1; j <= 3; ++j) {
      const int k = newton.dof(node, j);
      if (k <= newton.nfree) difference = std::max(difference, std::fabs(newton.u(k) - lbfgs.u(k)));
    }
  }
  EXPECT_LE(difference, bound);
}

// A load on such a node has nothing to balance it: both methods fail, and
// neither writes results. (The default method runs away along it until the
// numbers overflow; the second-order method says why before it starts.)
TEST_F(NewtonRun, ALoadOnANodeNoElementUsesFails) {
  const std::string text = SquareWithALoneNode(1.0);
  ASSERT_FALSE(text.empty());
  const std::vector<std::string> failures = FailuresOfBothMethods(text);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].rfind("DATA_ERROR", 0), 0u) << failures[0];
  EXPECT_EQ(failures[1],
            "DATA_ERROR: no equilibrium: node 14 is loaded along Z, but no element holds it (the membrane cannot "
            "balance the load); no results written");
}

// A model that nothing holds fails as with the default method: the same
// failure, the same message, and no results written.
TEST_F(NewtonRun, ModelWithoutSupportsFailsAsTheDefaultMethodDoes) {
  const fs::path root = VELORA_TESTDATA;
  // The golden square with an empty constraint section.
  std::string text = Slurp(root / "square_n2_p0.01" / "input.txt");
  const std::size_t header = text.find("displ\n:\n");
  ASSERT_NE(header, std::string::npos);
  const std::size_t count = header + 9;
  const std::size_t end = text.find("\n\n\n", count);
  ASSERT_NE(end, std::string::npos);
  text.replace(count, end + 1 - count, "    0\n");
  const std::vector<std::string> failures = FailuresOfBothMethods(text);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0], "no failure");
  EXPECT_EQ(failures[0], failures[1]);
}

}  // namespace
