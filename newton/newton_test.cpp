// The minimiser on small problems of its own: it converges on a convex
// quadratic by either way of taking a step, counts its steps as it takes
// them, stops stalled (never as if it had moved) when no shift below the
// ceiling gives a step that lowers the energy, and drops a region that
// stalls so.

#include "newton/newton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

using Step = solver::NewtonOptions::Step;

// The full upper triangle of a 2 x 2 matrix.
solver::TangentPattern TwoByTwo() {
  solver::TangentPattern p;
  p.n = 2;
  p.colptr = {0, 1, 3};
  p.row = {0, 0, 1};
  return p;
}
const std::vector<double> kIdentity = {1.0, 0.0, 1.0};
const std::vector<double> kIdentity3 = {1.0, 1.0, 1.0};  // on a diagonal pattern

// f = 1/2 x'Ax - b'x with A = [4 1; 1 3], b = (1, 2); or, with hopeless,
// -b'x at the start x = 0 and +infinity everywhere else: no step lowers it.
class Quadratic : public solver::NewtonProblem {
 public:
  explicit Quadratic(bool hopeless) : hopeless_(hopeless) {}
  double energy(int /*n*/, const terms::Vector& x, terms::Vector& g) override {
    ++evaluations;
    if (newton != nullptr) seen.push_back(newton->iterations());
    const double x1 = x(1);
    const double x2 = x(2);
    g(1) = 4.0 * x1 + x2 - 1.0;
    g(2) = x1 + 3.0 * x2 - 2.0;
    if (hopeless_) {
      g(1) = -1.0;
      g(2) = -2.0;
      return x1 == 0.0 && x2 == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return 0.5 * (x1 * (4.0 * x1 + x2) + x2 * (x1 + 3.0 * x2)) - (x1 + 2.0 * x2);
  }
  void tangent(const terms::Vector& /*x*/, bool /*clamp*/, std::span<double> values) override {
    values[0] = hopeless_ ? 0.0 : 4.0;
    values[1] = hopeless_ ? 0.0 : 1.0;
    values[2] = hopeless_ ? 0.0 : 3.0;
  }
  int evaluations = 0;
  const solver::Newton* newton = nullptr;  // whose iterations() each evaluation records
  std::vector<int> seen;

 private:
  bool hopeless_;
};

struct Outcome {
  nlp::Result result;
  terms::Vector x;
};

Outcome Minimise(solver::Newton& newton, solver::NewtonProblem& problem, int maxminor = 50) {
  terms::Vector x(2);
  terms::Vector g(2);
  const double f = problem.energy(2, x, g);
  const nlp::Result result = newton.minimise(problem, 2, maxminor, 20, 1e-10, x, g, f);
  return {result, x};
}

// The conjugate gradients' products read the tangent from the
// factorization's values, which the factorization of T + tau R shifts in
// place: they must hold T again afterwards. With the exact preconditioner
// (A + tau I)^-1 the first step is (A + tau I)^-1 b exactly; products with
// the shifted values would solve (A + 2 tau I) d = b instead.
TEST(NewtonCg, TheProductsReadTheUnshiftedTangentAfterAFactorization) {
  const solver::TangentPattern p = TwoByTwo();
  solver::NewtonOptions options;
  options.step = Step::cg;
  options.tau_start = 0.5;
  options.cg_tolerance = 1e-14;
  options.cg_most = 20;
  options.region_share = 0.0;
  solver::Newton newton(p, kIdentity, options);
  Quadratic q(false);
  const Outcome out = Minimise(newton, q, 1);
  ASSERT_EQ(out.result.iterations, 1);
  // (A + I / 2)^-1 b = (3.5 - 2, -1 + 9) / 14.75
  EXPECT_NEAR(out.x(1), 1.5 / 14.75, 1e-14);
  EXPECT_NEAR(out.x(2), 8.0 / 14.75, 1e-14);
}

class EitherStep : public ::testing::TestWithParam<Step> {};

TEST_P(EitherStep, ConvergesOnAConvexQuadraticCountingItsStepsAsItGoes) {
  const solver::TangentPattern p = TwoByTwo();
  solver::NewtonOptions options;
  options.step = GetParam();
  solver::Newton newton(p, kIdentity, options);
  Quadratic problem(false);
  problem.newton = &newton;
  const Outcome run = Minimise(newton, problem);
  ASSERT_TRUE(run.result.converged);
  EXPECT_FALSE(run.result.stalled);
  // A x = b: x = (1, 7) / 11.
  EXPECT_NEAR(run.x(1), 1.0 / 11.0, 1e-10);
  EXPECT_NEAR(run.x(2), 7.0 / 11.0, 1e-10);
  ASSERT_GE(run.result.iterations, 2);
  // Each evaluation saw the steps taken before it: 0 first, then one more
  // after each step, up to the last step's.
  ASSERT_FALSE(problem.seen.empty());
  EXPECT_EQ(problem.seen.front(), 0);
  EXPECT_EQ(problem.seen.back(), run.result.iterations - 1);
  for (std::size_t i = 1; i < problem.seen.size(); ++i) EXPECT_LE(problem.seen[i - 1], problem.seen[i]);
  EXPECT_EQ(newton.iterations(), run.result.iterations);
  // The parts' times do not overlap: together they fit in the total.
  const solver::NewtonTimes& t = newton.counts().times;
  EXPECT_GT(t.factorizations, 0.0);
  EXPECT_GT(t.evaluations, 0.0);
  EXPECT_LE(t.factorizations + t.solves + t.products + t.tangents + t.evaluations + t.regions, t.total);
}

TEST_P(EitherStep, StallsAtTheCeilingOfTheShiftWithoutMoving) {
  const solver::TangentPattern p = TwoByTwo();
  solver::NewtonOptions options;
  options.step = GetParam();
  options.tau_max = 1e3;
  solver::Newton newton(p, kIdentity, options);
  Quadratic problem(true);
  const Outcome run = Minimise(newton, problem);
  EXPECT_TRUE(run.result.stalled);
  EXPECT_FALSE(run.result.converged);
  EXPECT_EQ(run.result.iterations, 0);
  EXPECT_EQ(run.x(1), 0.0);
  EXPECT_EQ(run.x(2), 0.0);
  EXPECT_EQ(run.result.value, 0.0);
  EXPECT_EQ(newton.tau(), 1e3);
  // Every shift from 1e-3 to the ceiling was tried, once each.
  EXPECT_EQ(newton.counts().factorizations, 7);
  EXPECT_EQ(newton.counts().steps, 0);
}

// The quadratic as a sum of terms of size 1e4 that cancel to it would be
// computed, with the worst luck of rounding: each evaluation comes out
// 1e-12 higher than the one before, more than the last steps lower the
// quadratic. Its gradient is exact.
class CancellingQuadratic : public Quadratic {
 public:
  CancellingQuadratic() : Quadratic(false) {}
  double energy(int n, const terms::Vector& x, terms::Vector& g) override {
    const double f = Quadratic::energy(n, x, g);
    return f + 1e-12 * evaluations;
  }
  static constexpr double kTermSize = 1e4;
};

// Near the minimum each step lowers the quadratic by far less than that
// rounding. Taken as a share of the sum (about 0.7), the rounding reads
// as a rise and every step is refused until the shift reaches its
// ceiling; given the terms' size, the steps are taken and the method
// converges. (The direct step, whose shift leaves the first step short;
// conjugate gradients solve this quadratic in one step.)
TEST(Newton, TakesTheRoundingOfCancellingTermsFromTheirSize) {
  const solver::TangentPattern p = TwoByTwo();
  for (const double scale : {0.0, CancellingQuadratic::kTermSize}) {
    solver::NewtonOptions options;
    options.step = Step::direct;
    options.energy_scale = scale;
    solver::Newton newton(p, kIdentity, options);
    CancellingQuadratic problem;
    const Outcome run = Minimise(newton, problem);
    EXPECT_EQ(run.result.converged, scale > 0.0) << "energy scale " << scale;
    if (scale == 0.0) continue;
    EXPECT_NEAR(run.x(1), 1.0 / 11.0, 1e-10);
    EXPECT_NEAR(run.x(2), 7.0 / 11.0, 1e-10);
  }
}

// f = 1/2 x'Hx - b'x on three unknowns whose pattern holds only the
// diagonal D = diag(2, 3, 4), H = D + 5 v1 v1' + 2 v2 v2' with two dense
// terms handed over as rank-one terms, b = (1, 1, 1).
class LowRankQuadratic : public solver::NewtonProblem {
 public:
  double energy(int /*n*/, const terms::Vector& x, terms::Vector& g) override {
    double f = 0.0;
    for (int i = 1; i <= 3; ++i) {
      double hx = d_[i - 1] * x(i);
      for (const solver::RankOne& t : terms_) {
        hx += t.weight * t.v[static_cast<std::size_t>(i - 1)] * (t.v[0] * x(1) + t.v[1] * x(2) + t.v[2] * x(3));
      }
      g(i) = hx - 1.0;
      f += 0.5 * x(i) * hx - x(i);
    }
    return f;
  }
  void tangent(const terms::Vector& /*x*/, bool /*clamp*/, std::span<double> values) override {
    for (std::size_t i = 0; i < 3; ++i) values[i] = d_[i];
  }
  std::vector<solver::RankOne> rank_one(const terms::Vector& /*x*/) override { return terms_; }

 private:
  const double d_[3] = {2.0, 3.0, 4.0};
  const std::vector<solver::RankOne> terms_ = {{5.0, {1.0, 2.0, -1.0}}, {2.0, {0.5, -1.0, 3.0}}};
};

// With the rank-one terms in its steps the method solves the quadratic in
// one step (up to the small shift): Woodbury's identity in the direct
// step, the product in the conjugate gradients. Without them it would
// crawl along the dense directions.
TEST_P(EitherStep, RankOneTermsMakeTheStepExact) {
  solver::TangentPattern p;
  p.n = 3;
  p.colptr = {0, 1, 2, 3};
  p.row = {0, 1, 2};
  solver::NewtonOptions options;
  options.step = GetParam();
  options.tau_start = 1e-12;
  options.tau_min = 1e-12;
  options.cg_tolerance = 1e-12;
  solver::Newton newton(p, kIdentity3, options);
  LowRankQuadratic problem;
  terms::Vector x(3), g(3);
  const double f = problem.energy(3, x, g);
  const nlp::Result result = newton.minimise(problem, 3, 50, 20, 1e-9, x, g, f);
  ASSERT_TRUE(result.converged);
  EXPECT_LE(result.iterations, 2);
}

INSTANTIATE_TEST_SUITE_P(Newton,
                         EitherStep,
                         ::testing::Values(Step::cg, Step::direct),
                         [](const ::testing::TestParamInfo<Step>& param) {
                           return param.param == Step::cg ? "cg" : "direct";
                         });

// The quadratic whose region (both unknowns) is hopeless: the region's
// minimiser stalls, the region is dropped and the whole problem's steps
// solve it.
class QuadraticWithAHopelessRegion : public Quadratic {
 public:
  QuadraticWithAHopelessRegion() : Quadratic(false) {}
  class Region : public solver::SubProblem {
   public:
    Region() : pattern_(TwoByTwo()), shift_(kIdentity) {}
    const std::vector<int>& unknowns() const override { return unknowns_; }
    const solver::TangentPattern& pattern() const override { return pattern_; }
    const std::vector<double>& shift() const override { return shift_; }
    double energy(int n, const terms::Vector& x, terms::Vector& g) override { return hopeless_.energy(n, x, g); }
    void tangent(const terms::Vector& x, bool clamp, std::span<double> values) override {
      hopeless_.tangent(x, clamp, values);
    }

   private:
    std::vector<int> unknowns_{0, 1};
    solver::TangentPattern pattern_;
    std::vector<double> shift_;
    Quadratic hopeless_{true};
  };
  std::unique_ptr<solver::SubProblem> region(const terms::Vector& /*x*/,
                                             std::span<const int> /*seed*/,
                                             int /*rings*/,
                                             const solver::TangentPattern& /*p*/,
                                             const std::vector<double>& /*shift*/) override {
    ++regions;
    return std::make_unique<Region>();
  }
  int regions = 0;
};

TEST(Newton, DropsARegionThatStalls) {
  const solver::TangentPattern p = TwoByTwo();
  solver::NewtonOptions options;
  options.tau_max = 1e3;
  options.region_share = 1.0;
  options.region_largest = 1.0;
  solver::Newton newton(p, kIdentity, options);
  QuadraticWithAHopelessRegion problem;
  const Outcome run = Minimise(newton, problem);
  EXPECT_TRUE(run.result.converged);
  EXPECT_FALSE(run.result.stalled);
  EXPECT_GT(problem.regions, 0);
  EXPECT_EQ(newton.counts().regions, problem.regions);
  EXPECT_EQ(newton.counts().region_steps, 0);
  EXPECT_NEAR(run.x(2), 7.0 / 11.0, 1e-10);
}

}  // namespace
