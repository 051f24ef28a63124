// The parallel evaluation gives the serial results bit for bit, whatever
// the thread count and the law: the elements' terms are computed apart, but
// the energy and every gradient component are summed in element order as
// before. Threads that cannot start only mean fewer threads, and every run
// gets an evaluation laid out for its own model.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <tuple>
#include <vector>

#include "energy/evaluator.h"
#include "energy/law.h"
#include "model/model.h"
#include "nlp/nlp.h"
#include "platform/testing.h"
#include "platform/thread_pool.h"
#include "solver/solver.h"

namespace solver {
namespace {

// A warped square of n x n cells, two triangles each (2 n^2 elements), the
// boundary fixed in all directions except one corner that is displaced, a
// pressure that varies from element to element, and unknowns away from
// rest, so that every term of every sum is different.
analysis warped_square(int n, bool odd = false) {
  analysis a;
  a.young = 1000.0;
  a.poisson = 0.3;
  a.density = 0.02;
  const int side = n + 1;
  a.nnode = side * side;
  a.coordx = terms::Vector(a.nnode);
  a.coordy = terms::Vector(a.nnode);
  a.coordz = terms::Vector(a.nnode);
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  a.action = terms::RealTable(a.nnode, 0.0);
  auto node = [side](int i, int j) { return j * side + i + 1; };
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const int k = node(i, j);
      a.coordx(k) = i + 0.1 * std::sin(0.7 * j);
      a.coordy(k) = j + 0.1 * std::cos(0.3 * i);
      a.coordz(k) = 0.05 * std::sin(0.2 * i * j);
      a.action(k, 1) = 0.001 * (i % 3);
      if (i == 0 || j == 0 || i == n || j == n) {
        for (int axis = 1; axis <= 3; ++axis) a.dof(k, axis) = 1;
      }
    }
  }
  a.displ(node(n, n), 3) = 0.25;
  a.nelem = 2 * n * n - (odd ? 1 : 0);
  a.elem = terms::Array1<element>(a.nelem);
  int e = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      a.elem(++e).node = {node(i, j), node(i + 1, j), node(i + 1, j + 1)};
      a.elem(e).pressure = 1.0 + 0.01 * e;
      if (e == a.nelem) break;  // the odd model lacks the last triangle
      a.elem(++e).node = {node(i, j), node(i + 1, j + 1), node(i, j + 1)};
      a.elem(e).pressure = -0.5;
    }
  }
  start(a);
  for (int k = 1; k <= a.nfree; ++k) a.u(k) = 0.01 * std::sin(1.3 * k);
  setforce(a);
  return a;
}

bool same_bits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

const MaterialLaw& law_named(const std::string& name) { return name == "green" ? green_law() : engineering_law(); }

// (law, threads, odd element count)
using Case = std::tuple<std::string, unsigned, bool>;

class ParallelObjective : public ::testing::TestWithParam<Case> {};

TEST_P(ParallelObjective, GivesTheSerialBits) {
  const auto& [name, threads, odd] = GetParam();
  const MaterialLaw& law = law_named(name);
  analysis a = warped_square(50, odd);  // 5000 or 4999 elements
  const auto serial = law.evaluator(a, {1, 2});
  const auto parallel = law.evaluator(a, {threads, 2});
  ASSERT_EQ(serial->threads(), 1u);
  ASSERT_EQ(parallel->threads(), threads) << "the evaluation did not run in parallel";
  terms::Vector gs(a.nfree, 7.0);
  terms::Vector gp(a.nfree, -3.0);           // entry content must not matter
  for (int round = 0; round < 2; ++round) {  // the second call reuses the buffers and threads
    const double fs = (*serial)(a.nfree, a.u, gs);
    const double fp = (*parallel)(a.nfree, a.u, gp);
    EXPECT_TRUE(same_bits(fs, fp)) << fs << " " << fp;
    int differing = 0;
    for (int k = 1; k <= a.nfree; ++k) differing += same_bits(gs(k), gp(k)) ? 0 : 1;
    EXPECT_EQ(differing, 0) << "of " << a.nfree << " gradient components";
    for (int k = 1; k <= a.nfree; ++k) a.u(k) = a.u(k) * 1.5;
  }
}

INSTANTIATE_TEST_SUITE_P(LawsThreadsAndParity,
                         ParallelObjective,
                         ::testing::Combine(::testing::Values("green", "engineering"),
                                            ::testing::Values(2u, 3u),
                                            ::testing::Bool()));

// The minimiser may ask for the gradient into the vector that holds x:
// every part must have read x before any part writes g.
TEST_P(ParallelObjective, XAndGMayBeOneVector) {
  const auto& [name, threads, odd] = GetParam();
  const MaterialLaw& law = law_named(name);
  analysis a = warped_square(50, odd);
  const auto serial = law.evaluator(a, {1, 2});
  const auto parallel = law.evaluator(a, {threads, 2});
  terms::Vector gs(a.nfree);
  terms::Vector both = a.u;
  const double fs = (*serial)(a.nfree, a.u, gs);
  const double fp = (*parallel)(a.nfree, both, both);
  EXPECT_TRUE(same_bits(fs, fp)) << fs << " " << fp;
  int differing = 0;
  for (int k = 1; k <= a.nfree; ++k) differing += same_bits(gs(k), both(k)) ? 0 : 1;
  EXPECT_EQ(differing, 0) << "of " << a.nfree << " gradient components";
}

// The energy is the load potential in node and axis order and then the
// elements' energies in element order, one chain of additions from 0.0,
// however the pass spreads the load's terms between its elements.
TEST_P(ParallelObjective, EnergyIsTheLoadThenEachElementInOrder) {
  const auto& [name, threads, odd] = GetParam();
  const MaterialLaw& law = law_named(name);
  analysis a = warped_square(50, odd);
  const auto evaluator = law.evaluator(a, {threads, 2});
  std::vector<double> xs(3 * static_cast<std::size_t>(a.nnode));
  double f = 0.0;
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof(p, j);
      xs[static_cast<std::size_t>(k - 1)] = k <= a.nfree ? a.u(k) : a.displ(p, j);
      if (k <= a.nfree) f = f - a.force(p, j) * a.u(k);
    }
  }
  std::vector<std::size_t> all(static_cast<std::size_t>(a.nelem));
  for (std::size_t e = 0; e < all.size(); ++e) all[e] = e;
  std::vector<double> gs(xs.size(), 0.0);
  f = evaluator->element_list(all, evaluator->slots().data(), xs.data(), gs.data(), f);
  terms::Vector g(a.nfree);
  const double value = (*evaluator)(a.nfree, a.u, g);
  EXPECT_TRUE(same_bits(value, f)) << value << " " << f;
}

// A trial point formed in the evaluation's own pass is the point x0 +
// step*d formed first, its energy and gradient are that point's, and the
// slope summed as the gradient is handed over is nlp::dot's.
TEST_P(ParallelObjective, AtStepIsThePointFormedFirst) {
  const auto& [name, threads, odd] = GetParam();
  const MaterialLaw& law = law_named(name);
  analysis a = warped_square(50, odd);
  for (const unsigned t : {1u, threads}) {
    const auto evaluator = law.evaluator(a, {t, 2});
    terms::Vector d(a.nfree);
    for (int k = 1; k <= a.nfree; ++k) d(k) = 0.003 * std::cos(0.7 * k);
    const double step = 0.37;
    terms::Vector formed(a.nfree);
    for (int k = 1; k <= a.nfree; ++k) formed(k) = a.u(k) + step * d(k);
    terms::Vector g_formed(a.nfree);
    const double f_formed = (*evaluator)(a.nfree, formed, g_formed);
    terms::Vector x(a.nfree, 9.0);
    terms::Vector g(a.nfree, 9.0);
    double slope = 0.0;
    const std::optional<double> f = evaluator->at_step(a.nfree, a.u, step, d, x, g, &slope);
    ASSERT_TRUE(f.has_value());
    EXPECT_TRUE(same_bits(*f, f_formed)) << *f << " " << f_formed << " on " << t << " threads";
    const double slope_formed = nlp::dot(a.nfree, d.data(), g_formed.data());
    EXPECT_TRUE(same_bits(slope, slope_formed)) << slope << " " << slope_formed << " on " << t << " threads";
    EXPECT_TRUE(same_bits(*evaluator->at_step(a.nfree, a.u, step, d, x, g), f_formed));  // without the slope
    EXPECT_EQ(std::memcmp(x.data(), formed.data(), sizeof(double) * static_cast<std::size_t>(a.nfree)), 0);
    EXPECT_EQ(std::memcmp(g.data(), g_formed.data(), sizeof(double) * static_cast<std::size_t>(a.nfree)), 0);
  }
}

// A point with a component that is not finite gives nothing: no gradient
// written, on one thread or several.
TEST(ParallelObjective, AtStepRefusesAPointThatIsNotFinite) {
  analysis a = warped_square(50);
  for (const unsigned t : {1u, 2u}) {
    const auto evaluator = green_law().evaluator(a, {t, 2});
    terms::Vector d(a.nfree, 0.0);
    d(a.nfree / 2) = std::numeric_limits<double>::infinity();
    terms::Vector x(a.nfree);
    terms::Vector g(a.nfree, 5.0);
    EXPECT_FALSE(evaluator->at_step(a.nfree, a.u, 1.0, d, x, g).has_value()) << t << " threads";
    EXPECT_EQ(std::count(g.data(), g.data() + a.nfree, 5.0), a.nfree);
  }
}

// The last element of an odd model counts: dropping it changes the energy,
// so a pass that skipped a part's odd last element could not give the
// serial bits above.
TEST(ParallelObjective, TheOddLastElementCarriesEnergy) {
  analysis even = warped_square(50);
  analysis odd = warped_square(50, true);
  terms::Vector g(even.nfree);
  const double fe = (*green_law().evaluator(even, {2, 2}))(even.nfree, even.u, g);
  const double fo = (*green_law().evaluator(odd, {2, 2}))(odd.nfree, odd.u, g);
  EXPECT_NE(fe, fo);
}

TEST(ParallelObjective, SmallModelsStayOnOneThread) {
  analysis a = warped_square(4);
  EXPECT_EQ(green_law().evaluator(a, {2})->threads(), 1u);
  EXPECT_EQ(green_law().evaluator(a, {2, 2})->threads(), 2u);
}

// A pool whose threads cannot start (as under a task limit) runs every
// chunk on the threads it has, down to the caller alone.
TEST(ThreadPool, ThreadsThatCannotStartLeaveFewerThreads) {
  for (const int started : {0, 1}) {
    int calls = 0;
    const platform::ThreadPool::Starter refuse_after = [&calls, started](std::function<void()> work) {
      if (calls++ >= started) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(work));
    };
    platform::ThreadPool pool(3, refuse_after);
    EXPECT_EQ(pool.size(), static_cast<unsigned>(started + 1));
    std::vector<int> done(100, 0);
    auto job = [&done](std::size_t i) { done[i] += 1; };
    pool.run(done.size(), job);
    EXPECT_EQ(std::count(done.begin(), done.end(), 1), 100);
  }
}

// The same through the evaluator: no thread starts, and the energy is the
// serial one.
TEST(ParallelObjective, ThreadsThatCannotStartGiveTheSameBits) {
  analysis a = warped_square(20);
  EvaluationOptions refused{2, 2};
  refused.start_thread = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const auto lone = green_law().evaluator(a, refused);
  EXPECT_EQ(lone->threads(), 1u);
  terms::Vector g1(a.nfree), g2(a.nfree);
  const double f1 = (*lone)(a.nfree, a.u, g1);
  const double f2 = (*green_law().evaluator(a, {2, 2}))(a.nfree, a.u, g2);
  EXPECT_TRUE(same_bits(f1, f2));
  for (int k = 1; k <= a.nfree; ++k) ASSERT_TRUE(same_bits(g1(k), g2(k))) << k;
}

// Solves the model of a test-data folder with a state, threads and law in
// the scratch folder, and compares both result files with the reference
// ones.
void expect_reference_files(analysis& a, const std::string& model, const MaterialLaw& law, unsigned threads) {
  const std::filesystem::path data = std::filesystem::path(VELORA_TESTDATA) / model;
  std::filesystem::copy_file(data / "input.txt", "input.txt", std::filesystem::copy_options::overwrite_existing);
  RunOptions options;
  options.threads = threads;
  options.parallel_from = 2;  // every model counts as large here
  run(a, law, options);
  const std::string suffix = &law == &green_law() ? "1" : "2";
  using platform::testing::FileText;
  EXPECT_EQ(FileText("output.txt"), FileText(data / ("output" + suffix + ".txt"))) << model << ", " << threads;
  EXPECT_EQ(FileText("autocad.scr"), FileText(data / ("autocad" + suffix + ".scr"))) << model << ", " << threads;
}

using ParallelSolve = platform::testing::ScratchFolder;

// A whole solve in parallel writes the reference report and script byte for
// byte, with either law. (On one thread the programs' golden tests check the
// same files.)
TEST_F(ParallelSolve, ReportAndScriptMatchTheReferenceFiles) {
  for (const MaterialLaw* law : {&green_law(), &engineering_law()}) {
    for (const unsigned threads : {2u, 3u}) {
      analysis a;
      expect_reference_files(a, "square_n3_p0.01", *law, threads);
    }
  }
}

// Two models solved one after the other on the same state: the second run
// must be evaluated with a layout of its own (a layout kept from the larger
// first model would address unknowns the second does not have).
TEST_F(ParallelSolve, ASecondModelOnTheSameStateGetsItsOwnEvaluation) {
  analysis a;
  expect_reference_files(a, "square_n3_p0.01", green_law(), 2);
  expect_reference_files(a, "model_example", green_law(), 2);
  expect_reference_files(a, "square_n2_p0.01", green_law(), 3);
}

}  // namespace
}  // namespace solver
