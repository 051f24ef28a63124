// Whole analyses with the second-order method against the default one, in
// process, each for both material laws.
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
#include <utility>
#include <vector>

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

// Both laws: the parameter of every test here.
const solver::MaterialLaw* const kLaws[] = {&solver::green_law(), &solver::engineering_law()};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// |J^-1|_inf of the exact tangent at the state's u: the largest row sum of
// the dense inverse, by Gauss-Jordan elimination with partial pivoting
// (the models here have a few hundred unknowns at most).
double InverseNorm(const solver::analysis& a, const solver::MaterialLaw& law) {
  const auto slots = law.evaluator(a, solver::EvaluationOptions{1, 1})->slots();
  const solver::TangentPattern p = solver::tangent_pattern(a, slots);
  std::vector<double> values(p.row.size());
  law.tangent(a, slots, a.u, p.position, false, values);
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

// Runs in a scratch folder of its own with the law law_ (set by the
// parameterised fixtures below before SetUp).
class NewtonRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("velora_newton_") + info->test_suite_name() + "_" + info->name();
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
    solver::run(a, *law_, options);
    return a;
  }
  const solver::MaterialLaw& Law() const { return *law_; }
  static bool Converged(const solver::analysis& a) { return nlp::norm(a.nfree, a.g) <= a.residue; }
  // Runs the model `text` with the default method and then the second-order
  // one, each over an earlier output.txt that must stay as it was and no
  // autocad.scr that must stay absent; returns each run's failure ("no
  // failure" for a run that succeeded).
  std::vector<std::string> FailuresOfBothMethods(const std::string& text) {
    return {FailureOf(solver::Method::lbfgs, text), FailureOf(solver::Method::newton, text)};
  }
  // The same for one method.
  std::string FailureOf(solver::Method method, const std::string& text) {
    std::string failure = "no failure";
    std::ofstream(dir_ / "input.txt", std::ios::binary | std::ios::trunc) << text;
    std::ofstream(dir_ / "output.txt") << "earlier\n";
    fs::remove(dir_ / "autocad.scr");
    try {
      Run(method);
    } catch (const platform::Failure& f) {
      failure = f.full_name() + ": " + f.message();
    }
    EXPECT_EQ(Slurp(dir_ / "output.txt"), "earlier\n");
    EXPECT_FALSE(fs::exists(dir_ / "autocad.scr"));
    return failure;
  }

  fs::path dir_, old_;
  solver::NewtonCounts counts_;
  const solver::MaterialLaw* law_ = kLaws[0];
};

// The same for each law.
class NewtonRunOnBothLaws : public NewtonRun, public ::testing::WithParamInterface<const solver::MaterialLaw*> {
 protected:
  void SetUp() override {
    law_ = GetParam();
    NewtonRun::SetUp();
  }
};

std::string LawName(const ::testing::TestParamInfo<const solver::MaterialLaw*>& param) { return param.param->name(); }

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

class AgreesWithTheDefaultMethod
    : public NewtonRun,
      public ::testing::WithParamInterface<std::tuple<const solver::MaterialLaw*, Case, Way>> {
 protected:
  void SetUp() override {
    law_ = std::get<0>(GetParam());
    NewtonRun::SetUp();
  }
};

TEST_P(AgreesWithTheDefaultMethod, WithinWhatTheResidueAllows) {
  const auto [law, c, way] = GetParam();
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
  // The square's and the circle's boundary is held: the pressure has a
  // potential, and the method reaches the equilibrium in one major
  // iteration. model_example is held at one corner.
  if (std::string(c.name) != "model_example") {
    EXPECT_EQ(newton.major, 1);
  }
  const double bound = kMargin * 2.0 * InverseNorm(newton, Law()) * newton.residue;
  ASSERT_TRUE(std::isfinite(bound));
  double difference = 0.0;
  for (int i = 1; i <= newton.nfree; ++i) difference = std::max(difference, std::fabs(newton.u(i) - lbfgs.u(i)));
  EXPECT_LE(difference, bound);
  // The bound is not vacuous: it is below the displacements themselves.
  EXPECT_LT(bound, 0.1 * nlp::norm(newton.nfree, newton.u));
  // The report has the same layout: same length, same lines.
  EXPECT_EQ(Slurp(dir_ / "output.txt").size(), lbfgs_output.size());
  std::printf("%s, %s: |u_N - u_L| = %.3e, bound %.3e, steps %d, factorizations %d (%d failed), regions %d\n",
              law->name(),
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
                         ::testing::Combine(::testing::ValuesIn(kLaws),
                                            ::testing::Values(Case{"model_example", 0},
                                                              Case{"square_n2_p0.01", 0},
                                                              Case{"square_n3_p0.01", 0},
                                                              Case{"circle_4", 4},
                                                              Case{"circle_8", 8}),
                                            ::testing::Values(Way::cg, Way::cg_single, Way::regions, Way::direct)),
                         [](const ::testing::TestParamInfo<std::tuple<const solver::MaterialLaw*, Case, Way>>& param) {
                           std::string s =
                               std::string(std::get<0>(param.param)->name()) + "_" + std::get<1>(param.param).name;
                           std::replace(s.begin(), s.end(), '.', '_');
                           const Way way = std::get<2>(param.param);
                           return s + (way == Way::cg          ? "_cg"
                                       : way == Way::cg_single ? "_cg_single"
                                       : way == Way::regions   ? "_regions"
                                                               : "_direct");
                         });

// The generator's square starts flat: there the tangent has no
// out-of-plane stiffness and cannot be factorized; the shift carries the
// first steps and the run ends converged, the centre lifted along +Z.
TEST_P(NewtonRunOnBothLaws, StartsFromTheFlatState) {
  const fs::path root = VELORA_TESTDATA;
  fs::copy_file(root / "square_n3_p0.01" / "input.txt", dir_ / "input.txt");
  {
    solver::analysis flat;
    solver::input(flat);
    solver::start(flat);
    const auto slots = Law().evaluator(flat, solver::EvaluationOptions{1, 1})->slots();
    const solver::TangentPattern p = solver::tangent_pattern(flat, slots);
    std::vector<double> values(p.row.size());
    Law().tangent(flat, slots, flat.u, p.position, false, values);
    auto cholesky = solver::make_sparse_cholesky();
    cholesky->analyse(p.n, p.colptr, p.row);
    EXPECT_EQ(cholesky->factorize(values), solver::SparseCholesky::Status::not_positive_definite);
  }
  const solver::analysis a = Run(solver::Method::newton);
  EXPECT_TRUE(Converged(a));
  EXPECT_GT(a.u(a.dof(a.nnode / 2 + 1, 3)), 0.0);
}

// The evaluation's thread count does not change a byte of the reports:
// the energy sums keep one order whatever the threads, and the tangent is
// assembled in element order.
TEST_P(NewtonRunOnBothLaws, SameBytesOnOneAndTwoThreads) {
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
TEST_P(NewtonRunOnBothLaws, ConvergesWithCompressedElements) {
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
TEST_P(NewtonRunOnBothLaws, LeavesANodeNoElementUsesWhereItIs) {
  const fs::path root = VELORA_TESTDATA;
  const std::string text = SquareWithALoneNode(0.0);
  ASSERT_FALSE(text.empty());
  // The bound of the agreement test above, from the model without the node
  // (whose tangent the lone node would make singular).
  fs::copy_file(root / "square_n2_p0.01" / "input.txt", dir_ / "input.txt");
  const double bound =
      kMargin * 2.0 * InverseNorm(Run(solver::Method::newton), Law()) * Run(solver::Method::newton).residue;
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
TEST_P(NewtonRunOnBothLaws, ALoadOnANodeNoElementUsesFails) {
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
TEST_P(NewtonRunOnBothLaws, ModelWithoutSupportsFailsAsTheDefaultMethodDoes) {
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

// Four triangles around a centre node, the four corners held on all axes,
// with this young's modulus and every pressure this value.
std::string FourTriangles(const char* young, const char* pressure) {
  return std::string(":\n 0.1 20 0.001 0.0 120 3 20\n:\n ") + young +
         " 0.3 0\n:\n    5\n\n 1 0 0 0\n 2 1 0 0\n 3 1 1 0\n 4 0 1 0\n 5 0.5 0.5 0\n"
         ":\n    4\n\n 1 1 2 5\n 2 2 3 5\n 3 3 4 5\n 4 4 1 5\n"
         ":\n   12\n\n 1 1 0\n 1 2 0\n 1 3 0\n 2 1 0\n 2 2 0\n 2 3 0\n 3 1 0\n 3 2 0\n 3 3 0\n"
         " 4 1 0\n 4 2 0\n 4 3 0\n:\n    0\n:\n    4\n\n 1 " +
         pressure + "\n 2 " + pressure + "\n 3 " + pressure + "\n 4 " + pressure + "\n";
}

constexpr const char* kDiverged = "DATA_ERROR: the solution diverged in major iteration 1: ";

// Models without an equilibrium the doubles can hold end both methods the
// same way: the divergence failure, nothing written. A pressure of 1e300:
// the default method's line search overflows; the second-order method finds
// no shift that gives a step (earlier it wrote an energy of -1.8e308 and the
// centre 5.4e8 away as a result). With young 1e295 and pressure 1e307 its
// steps reach an energy at the end of the doubles, which the driver refuses
// (earlier: written as the result).
TEST_P(NewtonRunOnBothLaws, ModelsWithoutARepresentableEquilibriumFailWithBothMethods) {
  for (const auto& [young, pressure] : {std::pair{"1000", "1e300"}, std::pair{"1e295", "1e307"}}) {
    const std::vector<std::string> failures = FailuresOfBothMethods(FourTriangles(young, pressure));
    ASSERT_EQ(failures.size(), 2u);
    for (const std::string& failure : failures) EXPECT_EQ(failure.rfind(kDiverged, 0), 0u) << failure;
    EXPECT_NE(failures[0].find("no longer finite"), std::string::npos) << failures[0];
  }
  EXPECT_NE(FailureOf(solver::Method::newton, FourTriangles("1e295", "1e307")).find("the end of the range of double"),
            std::string::npos);
}

// Young 1e-300 under pressure 1: the second-order method's shift reaches
// its ceiling without a step, and it says so instead of writing its start
// as a result (earlier: every displacement 0, exit 0). Under the
// engineering strain the default method diverges; under the Green strain,
// whose energy grows with the fourth power of the deflection, it finds the
// equilibrium about 1e100 away.
TEST_P(NewtonRunOnBothLaws, ASheetTooSoftForTheShiftFailsNamingTheCause) {
  const std::string text = FourTriangles("1e-300", "1");
  const std::string newton = FailureOf(solver::Method::newton, text);
  EXPECT_EQ(newton.rfind(kDiverged, 0), 0u) << newton;
  EXPECT_NE(newton.find("no shift of the tangent up to 1e+12 gives the second-order method a step that lowers the "
                        "energy"),
            std::string::npos)
      << newton;
  if (Law().name() == std::string("engineering")) {
    const std::string lbfgs = FailureOf(solver::Method::lbfgs, text);
    EXPECT_EQ(lbfgs.rfind(kDiverged, 0), 0u) << lbfgs;
  }
}

// What a progress observer sees: the minor iterations of the whole run so
// far, moving within each major iteration as the second-order method takes
// its steps, never backwards.
struct Recorder : solver::ProgressObserver {
  void evaluated(const solver::Evaluation& e) override { seen.emplace_back(e.major, e.minor); }
  std::vector<std::pair<int, int>> seen;
};

TEST_P(NewtonRunOnBothLaws, ProgressCountsTheStepsAsTheyHappen) {
  const fs::path root = VELORA_TESTDATA;
  fs::copy_file(root / "square_n3_p0.01" / "input.txt", dir_ / "input.txt");
  Recorder recorder;
  solver::analysis a;
  solver::RunOptions options;
  options.method = solver::Method::newton;
  options.progress = &recorder;
  options.newton_counts = &counts_;
  solver::run(a, Law(), options);
  ASSERT_FALSE(recorder.seen.empty());
  std::vector<int> first;  // the minor iterations seen in major iteration 1
  for (std::size_t i = 0; i < recorder.seen.size(); ++i) {
    if (recorder.seen[i].first == 1) first.push_back(recorder.seen[i].second);
    if (i > 0) {
      EXPECT_LE(recorder.seen[i - 1], recorder.seen[i]) << i;
    }
  }
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.front(), 0);
  EXPECT_GT(first.back(), 1);
  // At the end: every step of the run but the last one was taken before
  // some evaluation.
  EXPECT_EQ(recorder.seen.back().second, counts_.steps - 1);
}

INSTANTIATE_TEST_SUITE_P(BothLaws, NewtonRunOnBothLaws, ::testing::ValuesIn(kLaws), LawName);

}  // namespace
