#include "nlp/qn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr double kTol = 1e-14;       // a few ulps of O(1) numbers
constexpr double kTolLoose = 1e-10;  // iterates of two formulas equal in exact arithmetic
const double kNaN = std::numeric_limits<double>::quiet_NaN();

using Objective = std::function<double(int, const terms::Vector&, terms::Vector&)>;

// An objective that records every point it is called at.
struct Recorder {
  Objective f;
  std::vector<std::vector<double>> points;
  double operator()(int n, const terms::Vector& x, terms::Vector& g) {
    points.emplace_back(x.data(), x.data() + n);
    return f(n, x, g);
  }
  int evaluations() const { return static_cast<int>(points.size()); }
};

using Qn = nlp::qn<Recorder>;

// phi(x) = (x - c)^2 in one unknown: along d = 1 from x = 0 this is the
// line function of the worked examples.
Objective shifted_square(double c) {
  return [c](int, const terms::Vector& x, terms::Vector& g) {
    g(1) = 2.0 * (x(1) - c);
    return (x(1) - c) * (x(1) - c);
  };
}

// 1/2 sum c_i x_i^2 with c_i = 10^(k (i-1)/(n-1)): condition number 10^k.
Objective scaled_quadratic(int n, double k) {
  return [n, k](int m, const terms::Vector& x, terms::Vector& g) {
    double f = 0.0;
    for (int i = 1; i <= m; ++i) {
      const double c = std::pow(10.0, k * (i - 1) / (n - 1));
      g(i) = c * x(i);
      f = f + 0.5 * c * (x(i) * x(i));
    }
    return f;
  };
}

// Extended Rosenbrock: sum over pairs of 100 (x2 - x1^2)^2 + (1 - x1)^2.
double rosenbrock(int n, const terms::Vector& x, terms::Vector& g) {
  double f = 0.0;
  for (int i = 1; i < n; i += 2) {
    const double t = x(i + 1) - x(i) * x(i);
    const double e = 1.0 - x(i);
    f = f + (100.0 * (t * t) + e * e);
    g(i) = -400.0 * x(i) * t - 2.0 * e;
    g(i + 1) = 200.0 * t;
  }
  return f;
}

terms::Vector rosenbrock_start(int n) {
  terms::Vector x(n);
  for (int i = 1; i < n; i += 2) {
    x(i) = -1.2;
    x(i + 1) = 1.0;
  }
  return x;
}

// ---------------------------------------------------------------- cubic

TEST(Cubic, WorkedExamplesOfTheLineSearch) {
  // (a - 0.25)^2 on [0, 1]: z = -0.5, w = 1, m = 3, denominator 4.
  EXPECT_NEAR(Qn::cubic(0.0, 1.0, 0.0625, 0.5625, -0.5, 1.5), 0.25, kTol);
  // (a - 3)^2 on [2, 4]: z = 0, w = 2, m = 4, denominator 8.
  EXPECT_NEAR(Qn::cubic(2.0, 4.0, 1.0, 1.0, -2.0, 2.0), 3.0, kTol);
}

TEST(Cubic, ExactOnACubicWithEitherFormOfTheNumerator) {
  // t^3 - 3t on [0, 2], minimum at 1: z = 3 > 0 takes gb - ga*gb/(z + w).
  EXPECT_NEAR(Qn::cubic(0.0, 2.0, 0.0, 2.0, -3.0, 9.0), 1.0, kTol);
  // (t - 1)^2 on [0, 3]: z = -1 <= 0 takes (gb + w) - z.
  EXPECT_NEAR(Qn::cubic(0.0, 3.0, 1.0, 4.0, -2.0, 4.0), 1.0, kTol);
  // The same cubic on a shifted bracket [-0.5, 1.5].
  auto phi = [](double t) { return t * t * t - 3.0 * t; };
  auto dphi = [](double t) { return 3.0 * t * t - 3.0; };
  EXPECT_NEAR(Qn::cubic(-0.5, 1.5, phi(-0.5), phi(1.5), dphi(-0.5), dphi(1.5)), 1.0, kTol);
}

TEST(Cubic, ZeroSlopeAtAnEndReturnsThatEnd) {
  EXPECT_EQ(Qn::cubic(0.5, 2.0, 1.0, 7.0, 0.0, 3.0), 0.5);
  EXPECT_EQ(Qn::cubic(0.5, 2.0, 1.0, 7.0, 0.0, kNaN), 0.5);  // ga is tested first
  EXPECT_EQ(Qn::cubic(0.5, 2.0, 1.0, 7.0, -3.0, 0.0), 2.0);
}

TEST(Cubic, SameSignSlopesWithoutALocalMinimumGiveTheMidpoint) {
  // p = sqrt|ga| sqrt|gb| = 1 > |z| = 0.5.
  EXPECT_EQ(Qn::cubic(0.0, 2.0, 1.0, 0.0, -1.0, -1.0), 1.0);
  EXPECT_EQ(Qn::cubic(0.0, 2.0, 0.0, 1.0, 1.0, 1.0), 1.0);
}

// f(t) = -t + 3t^2 - 2t^3 on [0, 1]: f(0) = f(1) = 0, both slopes -1, so
// p = 1 < |z| = 2 and the cubic (f itself) has its local minimum inside, at
// t = (3 - sqrt 3)/6. The one-sign form w = sqrt(z^2 - p^2) = sqrt 3 gives
// it; any other root moves it (sqrt 5 would give 0.2764).
TEST(Cubic, SameSignSlopesWithALocalMinimumInside) {
  const double t = (3.0 - std::sqrt(3.0)) / 6.0;
  EXPECT_NEAR(Qn::cubic(0.0, 1.0, 0.0, 0.0, -1.0, -1.0), t, kTol);
  // Mirrored: g(t) = f(1 - t) has both slopes +1 and its minimum at 1 - t.
  EXPECT_NEAR(Qn::cubic(0.0, 1.0, 0.0, 0.0, 1.0, 1.0), 1.0 - t, kTol);
}

TEST(Cubic, StepOutsideTheBracketOrNaNGivesTheMidpoint) {
  // Still steeply falling at b: the cubic's minimum lies beyond b.
  EXPECT_EQ(Qn::cubic(0.0, 1.0, 0.0, -10.0, -1.0, -1.0), 0.5);
  EXPECT_EQ(Qn::cubic(0.0, 1.0, kNaN, 0.0, -1.0, 1.0), 0.5);
  EXPECT_EQ(Qn::cubic(0.0, 1.0, 0.0, 1.0, kNaN, 1.0), 0.5);
}

TEST(Cubic, NoSquareOfALargeNumberIsFormed) {
  // The first worked example scaled by 1e200: z*z and ga*gb overflow, the
  // scaled forms of w do not.
  EXPECT_NEAR(Qn::cubic(0.0, 1.0, 0.0625e200, 0.5625e200, -0.5e200, 1.5e200), 0.25, kTol);
}

// ----------------------------------------------------------- linesearch

struct LineSearchRun {
  double value;
  double x;
  double g;
  std::vector<double> trials;  // steps of the trials (x0 = 0, d = 1)
};

LineSearchRun search(Objective phi, int maxls, double lstol, double g0_override = 0.0, bool override = false) {
  Recorder rec{std::move(phi), {}};
  Qn q(rec);
  terms::Vector x(1, 0.0);
  terms::Vector g(1);
  const double f0 = rec(1, x, g);
  if (override) g(1) = g0_override;
  rec.points.clear();
  const terms::Vector d(1, 1.0);
  const double value = q.linesearch(1, maxls, lstol, f0, x, g, d);
  LineSearchRun run{value, x(1), g(1), {}};
  for (const auto& p : rec.points) run.trials.push_back(p[0]);
  return run;
}

TEST(LineSearch, FirstWorkedExampleNeedsNoExpansion) {
  const LineSearchRun run = search(shifted_square(0.25), 10, 0.1);
  ASSERT_EQ(run.trials.size(), 2u);  // two objective evaluations in all
  EXPECT_EQ(run.trials[0], 1.0);
  EXPECT_NEAR(run.trials[1], 0.25, kTol);
  EXPECT_EQ(run.x, run.trials[1]);
  EXPECT_NEAR(run.value, 0.0, kTol);
  EXPECT_NEAR(run.g, 0.0, kTol);
}

TEST(LineSearch, SecondWorkedExampleExpandsTwice) {
  const LineSearchRun run = search(shifted_square(3.0), 10, 0.1);
  ASSERT_EQ(run.trials.size(), 4u);
  EXPECT_EQ(run.trials[0], 1.0);
  EXPECT_EQ(run.trials[1], 2.0);
  EXPECT_EQ(run.trials[2], 4.0);
  EXPECT_NEAR(run.trials[3], 3.0, kTol);
  EXPECT_NEAR(run.value, 0.0, kTol);
}

TEST(LineSearch, ExpansionHasNoLimit) {
  const LineSearchRun run = search(shifted_square(1000.0), 10, 0.1);
  // 1, then ten doublings up to 1024, then the cubic step.
  ASSERT_EQ(run.trials.size(), 12u);
  EXPECT_EQ(run.trials[10], 1024.0);
  EXPECT_NEAR(run.x, 1000.0, 1e-9);
}

// The same cubic along d = 1: the trial at 1 has the starting value and a
// falling slope. Only a strictly lower value expands the bracket, so the
// search interpolates on [0, 1] and lands on the local minimum; expanding on
// the equal value would chase -2t^3 without limit.
TEST(LineSearch, EqualValueAtTheFirstTrialDoesNotExpand) {
  const Objective f = [](int, const terms::Vector& x, terms::Vector& g) {
    const double t = x(1);
    g(1) = (-1.0 + 6.0 * t) - 6.0 * (t * t);
    return (-t + 3.0 * (t * t)) - 2.0 * (t * t * t);
  };
  const LineSearchRun run = search(f, 10, 0.1);
  ASSERT_EQ(run.trials.size(), 2u);
  EXPECT_EQ(run.trials[0], 1.0);
  EXPECT_NEAR(run.x, (3.0 - std::sqrt(3.0)) / 6.0, kTol);
  EXPECT_NEAR(run.value, -std::sqrt(3.0) / 18.0, kTol);  // f at that point
  EXPECT_NEAR(run.g, 0.0, kTol);
}

TEST(LineSearch, AlwaysMakesAnInterpolatedTrial) {
  // Step 1.0 is the minimiser (slope 0): cubic returns b and the point is
  // evaluated a second time.
  const LineSearchRun run = search(shifted_square(1.0), 10, 0.1);
  ASSERT_EQ(run.trials.size(), 2u);
  EXPECT_EQ(run.trials[0], 1.0);
  EXPECT_EQ(run.trials[1], 1.0);
  EXPECT_EQ(run.value, 0.0);
}

TEST(LineSearch, MaxlsOfOneOrLessGivesOneInterpolationStep) {
  // x^4 - x: the cubic step from [0, 1] has slope -0.103, not within 0.01.
  auto quartic = [](int, const terms::Vector& x, terms::Vector& g) {
    g(1) = 4.0 * (x(1) * x(1) * x(1)) - 1.0;
    return x(1) * x(1) * x(1) * x(1) - x(1);
  };
  const double expected = Qn::cubic(0.0, 1.0, 0.0, 0.0, -1.0, 3.0);
  for (int maxls : {1, 0, -3}) {
    const LineSearchRun run = search(quartic, maxls, 0.01);
    ASSERT_EQ(run.trials.size(), 2u) << "maxls " << maxls;
    EXPECT_EQ(run.x, expected);
  }
  const LineSearchRun more = search(quartic, 10, 0.01);
  EXPECT_GT(more.trials.size(), 2u);
  EXPECT_LE(std::fabs(more.g), 0.01);
}

TEST(LineSearch, ReturnsTheLastTrialEvenWhenItIsWorse) {
  // The worked example with a plateau of 10 around the minimiser: the cubic
  // step lands on it, and with maxls = 1 that trial is returned although the
  // start point was lower.
  auto bumped = [](int, const terms::Vector& x, terms::Vector& g) {
    const double e = x(1) - 0.25;
    g(1) = 2.0 * e;
    return e * e + (x(1) > 0.1 && x(1) < 0.5 ? 10.0 : 0.0);
  };
  const LineSearchRun run = search(bumped, 1, 0.1);
  ASSERT_EQ(run.trials.size(), 2u);
  EXPECT_NEAR(run.x, 0.25, kTol);
  EXPECT_NEAR(run.value, 10.0, kTol);
}

TEST(LineSearch, ValuesAreComparedWithTheBracketEndsOnly) {
  // Same plateau, more steps: the trial at 0.25 (value 10) is higher than
  // both ends, so it is not acceptable; its positive slope makes it the new
  // high end and the search goes on.
  auto bumped = [](int, const terms::Vector& x, terms::Vector& g) {
    const double e = x(1) - 0.25;
    g(1) = 2.0 * e;
    return e * e + (x(1) > 0.1 && x(1) < 0.5 ? 10.0 : 0.0);
  };
  const LineSearchRun run = search(bumped, 5, 0.1);
  EXPECT_EQ(run.trials.size(), 6u);  // step 1.0 and all five interpolations
}

TEST(LineSearch, NaNSlopeAtEntryGoesOnAndNeverAccepts) {
  // A NaN entry slope passes the descent test; the tolerance is NaN, so no
  // trial is acceptable and all maxls steps are made: the midpoint twice
  // (the NaN slope fails every comparison in cubic), then b when the high
  // end's slope is exactly 0.
  const LineSearchRun run = search(shifted_square(0.25), 3, 0.1, kNaN, true);
  ASSERT_EQ(run.trials.size(), 4u);
  EXPECT_EQ(run.trials[1], 0.5);
  EXPECT_EQ(run.trials[2], 0.25);
  EXPECT_EQ(run.trials[3], 0.25);
}

TEST(LineSearch, TrialsAreRebuiltFromTheStartPoint) {
  // n = 3 with a direction of mixed signs: every trial equals x0 + a*d.
  Recorder rec{[](int n, const terms::Vector& x, terms::Vector& g) {
                 double f = 0.0;
                 for (int i = 1; i <= n; ++i) {
                   const double e = x(i) - 0.1 * i;
                   g(i) = 2.0 * e;
                   f = f + e * e;
                 }
                 return f;
               },
               {}};
  Qn q(rec);
  terms::Vector x(3);
  x(1) = 0.0;  // with d(1) = 1 the first coordinate of a trial is its step
  x(2) = -0.7;
  x(3) = 1.9;
  const terms::Vector x0 = x;
  terms::Vector g(3);
  const double f0 = rec(3, x, g);
  terms::Vector d(3);
  for (int i = 1; i <= 3; ++i) d(i) = -0.3 * g(i);
  d(1) = 1.0;
  rec.points.clear();
  q.linesearch(3, 10, 0.1, f0, x, g, d);
  ASSERT_GE(rec.evaluations(), 2);
  for (const auto& p : rec.points) {
    const double a = p[0];
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(p[static_cast<std::size_t>(i - 1)], x0(i) + a * d(i));
  }
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(x(i), rec.points.back()[static_cast<std::size_t>(i - 1)]);
}

void expect_halt(const terms::Vector& g, const terms::Vector& d) {
  Recorder rec{shifted_square(0.25), {}};
  Qn q(rec);
  terms::Vector x(1, 0.0);
  terms::Vector gg = g;
  testing::internal::CaptureStdout();
  bool raised = false;
  try {
    q.linesearch(1, 10, 0.1, 0.0625, x, gg, d);
  } catch (const nlp::HALT& halt) {
    raised = true;
    EXPECT_EQ(halt.full_name(), "NLP.HALT");
    EXPECT_TRUE(std::regex_match(halt.message(), std::regex("nlp/qn\\.h:[0-9]+"))) << halt.message();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Line Search Failure\n");
  EXPECT_TRUE(raised);
  EXPECT_EQ(rec.evaluations(), 0);
  EXPECT_EQ(x(1), 0.0);
}

TEST(LineSearch, ZeroDirectionHalts) { expect_halt(terms::Vector(1, -0.5), terms::Vector(1, 0.0)); }
TEST(LineSearch, ZeroGradientHalts) { expect_halt(terms::Vector(1, 0.0), terms::Vector(1, 1.0)); }
TEST(LineSearch, AscentDirectionHalts) { expect_halt(terms::Vector(1, -0.5), terms::Vector(1, -1.0)); }
TEST(LineSearch, NoUnknownsHalts) {
  Recorder rec{shifted_square(0.25), {}};
  Qn q(rec);
  terms::Vector x;
  terms::Vector g;
  testing::internal::CaptureStdout();
  EXPECT_THROW(q.linesearch(0, 10, 0.1, 0.0, x, g, terms::Vector()), nlp::HALT);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Line Search Failure\n");
}

// ----------------------------------------------------------------- ring

terms::Vector pair_vector(int n, double base) {
  terms::Vector v(n);
  for (int i = 1; i <= n; ++i) v(i) = base + 0.125 * i;
  return v;
}

TEST(Ring, HoldsTheLastThreePairsAfterSixIterationsOfListThree) {
  // lbfgs's rule: iteration k > maxlist rotates, otherwise inserts.
  const int n = 2;
  const int maxlist = 3;
  nlp::Ring r;
  r.create(n, pair_vector(n, 1.0), pair_vector(n, -1.0));
  for (int k = 2; k <= 6; ++k) {
    if (k > maxlist) {
      r.rotate(n, pair_vector(n, k), pair_vector(n, -k));
    } else {
      r.insert(n, pair_vector(n, k), pair_vector(n, -k));
    }
  }
  ASSERT_EQ(r.size(), 3);
  for (int j = 1; j <= 3; ++j) {
    const nlp::Ring::pair& p = r.from_oldest(j);
    const double k = 3 + j;
    EXPECT_EQ(p.length, n);
    EXPECT_EQ(p.s(1), k + 0.125);
    EXPECT_EQ(p.y(2), -k + 0.25);
    EXPECT_EQ(p.ys, (k + 0.125) * (-k + 0.125) + (k + 0.25) * (-k + 0.25));
  }
  r.destroy();
  EXPECT_EQ(r.size(), 0);
}

TEST(Ring, ListOfOneKeepsOnlyTheNewestPair) {
  nlp::Ring r;
  r.create(1, pair_vector(1, 1.0), pair_vector(1, 1.0));
  for (int k = 2; k <= 4; ++k) r.rotate(1, pair_vector(1, k), pair_vector(1, k));
  ASSERT_EQ(r.size(), 1);
  EXPECT_EQ(r.from_oldest(1).s(1), 4.125);
}

TEST(Ring, InsertAfterRotateLinksTheNewPairAsNewest) {
  nlp::Ring r;
  r.create(1, pair_vector(1, 1.0), pair_vector(1, 1.0));
  r.insert(1, pair_vector(1, 2.0), pair_vector(1, 2.0));
  r.rotate(1, pair_vector(1, 3.0), pair_vector(1, 3.0));  // 2, 3
  r.insert(1, pair_vector(1, 4.0), pair_vector(1, 4.0));  // 2, 3, 4
  ASSERT_EQ(r.size(), 3);
  EXPECT_EQ(r.from_oldest(1).s(1), 2.125);
  EXPECT_EQ(r.from_oldest(2).s(1), 3.125);
  EXPECT_EQ(r.from_oldest(3).s(1), 4.125);
}

// next() hands out the pair that insert or rotate would have filled: the
// same order of pairs in every mix of the two.
TEST(Ring, NextGivesThePairsInTheOrderOfInsertAndRotate) {
  const int n = 2;
  nlp::Ring by_copy;
  nlp::Ring in_place;
  const bool reuse[] = {false, false, true, false, true, true, false, true};
  for (int k = 1; k <= 8; ++k) {
    const terms::Vector s = pair_vector(n, k);
    const terms::Vector y = pair_vector(n, -2.0 * k);
    if (k == 1) {
      by_copy.create(n, s, y);
    } else if (reuse[k - 1]) {
      by_copy.rotate(n, s, y);
    } else {
      by_copy.insert(n, s, y);
    }
    nlp::Ring::pair& p = in_place.next(n, reuse[k - 1]);
    for (int i = 1; i <= n; ++i) {
      p.s(i) = s(i);
      p.y(i) = y(i);
    }
    p.ys = by_copy.from_oldest(by_copy.size()).ys;  // the caller sets it
    ASSERT_EQ(in_place.size(), by_copy.size()) << "after pair " << k;
    for (int j = 1; j <= by_copy.size(); ++j) {
      EXPECT_EQ(in_place.from_oldest(j).s(1), by_copy.from_oldest(j).s(1)) << "pair " << k << ", position " << j;
      EXPECT_EQ(in_place.from_oldest(j).y(2), by_copy.from_oldest(j).y(2)) << "pair " << k << ", position " << j;
      EXPECT_EQ(in_place.from_oldest(j).length, n);
    }
  }
}

// The two-loop recursion written out step by step over pairs held oldest
// first, as a reference for the fused passes of ring::direction.
struct PlainPair {
  std::vector<double> s, y;
  double ys = 0.0;
  double alpha = 0.0;
};

double plain_dot(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) sum = sum + a[i] * b[i];
  return sum;
}

std::vector<double> plain_direction(std::deque<PlainPair>& pairs, const std::vector<double>& g) {
  std::vector<double> d = g;
  for (auto p = pairs.rbegin(); p != pairs.rend(); ++p) {
    p->alpha = plain_dot(p->s, d) / p->ys;
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = d[i] - p->alpha * p->y[i];
  }
  const PlainPair& last = pairs.back();
  const double gamma = last.ys / plain_dot(last.y, last.y);
  for (double& di : d) di = gamma * di;
  for (PlainPair& p : pairs) {
    const double beta = plain_dot(p.y, d) / p.ys;
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = d[i] + (p.alpha - beta) * p.s[i];
  }
  for (double& di : d) di = -di;
  return d;
}

TEST(Ring, FusedDirectionIsTheTwoLoopRecursionBitForBit) {
  const int n = 7;
  unsigned state = 12345u;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 8) % 2001u) / 1000.0 - 1.0;
  };
  auto random_vector = [&] {
    terms::Vector v(n);
    for (int i = 1; i <= n; ++i) v(i) = next();
    return v;
  };
  auto plain = [n](const terms::Vector& v) { return std::vector<double>(v.data(), v.data() + n); };
  for (int maxlist : {1, 2, 4}) {
    nlp::Ring r;
    std::deque<PlainPair> reference;
    for (int k = 1; k <= 7; ++k) {
      const terms::Vector s = random_vector();
      const terms::Vector y = random_vector();
      if (k == 1) {
        r.create(n, s, y);
      } else if (k > maxlist) {
        r.rotate(n, s, y);
        reference.pop_front();
      } else {
        r.insert(n, s, y);
      }
      reference.push_back(PlainPair{plain(s), plain(y), plain_dot(plain(s), plain(y)), 0.0});
      const terms::Vector g = random_vector();
      terms::Vector d(n);
      r.direction(n, g, d);
      const std::vector<double> expected = plain_direction(reference, plain(g));
      for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(d(i), expected[static_cast<std::size_t>(i - 1)]) << "maxlist " << maxlist << " k " << k;
      }
    }
  }
}

// The direction's last pass can also copy the line search's start point
// and sum its slope: the direction is unchanged and the slope is d.g summed
// on its own.
TEST(Ring, LastPassCopiesTheStartPointAndSumsTheSlope) {
  const int n = 5;
  nlp::Ring r;
  terms::Vector s(n), y(n), g(n), x(n);
  for (int i = 1; i <= n; ++i) {
    s(i) = 0.3 * i - 0.7;
    y(i) = 0.9 - 0.11 * i * i;
    g(i) = std::sin(1.7 * i);
    x(i) = std::cos(0.4 * i);
  }
  r.create(n, s, y);
  r.insert(n, y, s);
  terms::Vector d(n);
  r.direction(n, g, d);
  terms::Vector fused = g;
  terms::Vector x0(n);
  // The newest pair is (y, s): its s.g and y.y.
  const double slope = r.direction_from(n,
                                        nlp::dot(n, y.data(), g.data()),
                                        nlp::dot(n, s.data(), s.data()),
                                        fused,
                                        nlp::Ring::Last{g.data(), x.data(), x0.data()})
                           .slope;
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(fused(i), d(i));
    EXPECT_EQ(x0(i), x(i));
  }
  EXPECT_EQ(slope, nlp::dot(n, d.data(), g.data()));
}

TEST(Ring, OnePairDirectionIsTheMemorylessBfgsProduct) {
  // d = -H g with H = (I - rho s y')(gamma I)(I - rho y s') + rho s s'.
  const int n = 3;
  terms::Vector s(n), y(n), g(n);
  const double sv[] = {0.5, -1.0, 2.0}, yv[] = {1.5, -0.5, 1.0}, gv[] = {-0.3, 0.8, 0.1};
  for (int i = 1; i <= n; ++i) {
    s(i) = sv[i - 1];
    y(i) = yv[i - 1];
    g(i) = gv[i - 1];
  }
  nlp::Ring r;
  r.create(n, s, y);
  terms::Vector d(n);
  r.direction(n, g, d);
  const double sy = 0.75 + 0.5 + 2.0, yy = 2.25 + 0.25 + 1.0, rho = 1.0 / sy, gamma = sy / yy;
  double h[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double sum = 0.0;
      for (int k = 0; k < 3; ++k) {
        const double left = (i == k ? 1.0 : 0.0) - rho * sv[i] * yv[k];
        const double right = (k == j ? 1.0 : 0.0) - rho * yv[k] * sv[j];
        sum += left * gamma * right;
      }
      h[i][j] = sum + rho * sv[i] * sv[j];
    }
  }
  for (int i = 0; i < 3; ++i) {
    const double expected = -(h[i][0] * gv[0] + h[i][1] * gv[1] + h[i][2] * gv[2]);
    EXPECT_NEAR(d(i + 1), expected, kTol);
  }
}

// --------------------------------------------------------------- minimisers

enum class Method { lbfgs, mbfgs, bfgs };

const char* name(Method m) {
  switch (m) {
    case Method::lbfgs:
      return "lbfgs";
    case Method::mbfgs:
      return "mbfgs";
    case Method::bfgs:
      return "bfgs";
  }
  return "";
}

Qn::result minimise(Method m,
                    Recorder& rec,
                    int n,
                    int maxminor,
                    double gtol,
                    terms::Vector& x,
                    terms::Vector& g,
                    int maxlist = 5,
                    int maxls = 10,
                    double lstol = 0.1) {
  Qn q(rec);
  switch (m) {
    case Method::lbfgs:
      return q.lbfgs(maxlist, n, maxminor, maxls, gtol, lstol, x, g);
    case Method::mbfgs:
      return q.mbfgs(n, maxminor, maxls, gtol, lstol, x, g);
    case Method::bfgs:
      return q.bfgs(n, maxminor, maxls, gtol, lstol, x, g);
  }
  return {};
}

const Method kMethods[] = {Method::lbfgs, Method::mbfgs, Method::bfgs};

TEST(Minimisers, OneUnknownQuadraticSecondSearchStartsOnTheMinimiser) {
  // 1/2 a x^2 with a = 3 from x = 2.5: the first search ends a rounding error
  // away from 0; the second direction is -g/a, so its first trial is 0.
  for (Method m : kMethods) {
    Recorder rec{[](int, const terms::Vector& x, terms::Vector& g) {
                   g(1) = 3.0 * x(1);
                   return 0.5 * 3.0 * (x(1) * x(1));
                 },
                 {}};
    terms::Vector x(1, 2.5);
    terms::Vector g(1);
    const Qn::result r = minimise(m, rec, 1, 2, 0.0, x, g);
    ASSERT_EQ(r.iterations, 2) << name(m);
    // Evaluations: start, first search (step 1.0 and one cubic step), second.
    ASSERT_GE(rec.evaluations(), 4) << name(m);
    EXPECT_EQ(rec.points[1][0], -5.0);
    const double x1 = rec.points[2][0];
    EXPECT_NE(x1, 0.0);
    EXPECT_LE(std::fabs(x1), 1e-15);
    EXPECT_LE(std::fabs(rec.points[3][0]), 1e-14 * std::fabs(x1)) << name(m);
    EXPECT_LE(std::fabs(x(1)), 1e-30);
  }
}

TEST(Minimisers, OneIterationIsSteepestDescentAtFullLength) {
  for (Method m : kMethods) {
    for (int maxminor : {1, 0, -2}) {
      Recorder rec{scaled_quadratic(4, 1.0), {}};
      terms::Vector x(4, 1.0);
      terms::Vector g(4);
      const Qn::result r = minimise(m, rec, 4, maxminor, 0.0, x, g);
      EXPECT_EQ(r.iterations, 1) << name(m);
      EXPECT_FALSE(r.converged);
      // The first trial point is x - g.
      ASSERT_GE(rec.evaluations(), 3);
      for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(rec.points[1][static_cast<std::size_t>(i - 1)], 1.0 - std::pow(10.0, (i - 1) / 3.0));
      // value is the last trial's, g its gradient.
      terms::Vector check(4);
      EXPECT_EQ(r.value, rec.f(4, x, check));
      for (int i = 1; i <= 4; ++i) EXPECT_EQ(g(i), check(i));
    }
  }
}

TEST(Minimisers, GradientWithinToleranceStillTakesTheFirstStep) {
  for (Method m : kMethods) {
    Recorder rec{scaled_quadratic(3, 1.0), {}};
    terms::Vector x(3, 1e-3);
    terms::Vector g(3, kNaN);  // content on entry is not used
    const Qn::result r = minimise(m, rec, 3, 100, 1.0, x, g);
    EXPECT_EQ(r.iterations, 1) << name(m);
    EXPECT_TRUE(r.converged);
    EXPECT_GT(rec.evaluations(), 1);
    EXPECT_NE(x(1), 1e-3);
    EXPECT_LE(nlp::norm(3, g), 1.0);
  }
}

TEST(Minimisers, ConvergedIsTheGradientTestAtReturn) {
  for (Method m : kMethods) {
    Recorder rec{rosenbrock, {}};
    terms::Vector x = rosenbrock_start(4);
    terms::Vector g(4);
    const Qn::result stopped = minimise(m, rec, 4, 5, 1e-6, x, g);
    EXPECT_EQ(stopped.iterations, 5) << name(m);
    EXPECT_FALSE(stopped.converged);
    EXPECT_GT(nlp::norm(4, g), 1e-6);

    // A tolerance just above the gradient norm at return of a longer run.
    Recorder rec2{rosenbrock, {}};
    terms::Vector x2 = rosenbrock_start(4);
    const Qn::result done = minimise(m, rec2, 4, 1000, 1e-6, x2, g);
    EXPECT_TRUE(done.converged) << name(m);
    EXPECT_LT(done.iterations, 1000);
    EXPECT_LE(nlp::norm(4, g), 1e-6);
  }
}

TEST(Minimisers, MemorylessBfgsFollowsLbfgsWithOnePair) {
  const int n = 6;
  Recorder a{scaled_quadratic(n, 2.0), {}};
  Recorder b{scaled_quadratic(n, 2.0), {}};
  terms::Vector xa(n, 1.0), xb(n, 1.0), ga(n), gb(n);
  // Five iterations: rounding differences grow as the iterates approach 0.
  const Qn::result ra = minimise(Method::lbfgs, a, n, 5, 0.0, xa, ga, 1);
  const Qn::result rb = minimise(Method::mbfgs, b, n, 5, 0.0, xb, gb);
  EXPECT_EQ(ra.iterations, rb.iterations);
  ASSERT_EQ(a.evaluations(), b.evaluations());
  for (std::size_t k = 0; k < a.points.size(); ++k) {
    for (int i = 0; i < n; ++i) {
      const double p = a.points[k][static_cast<std::size_t>(i)];
      EXPECT_NEAR(b.points[k][static_cast<std::size_t>(i)], p, kTolLoose * (1.0 + std::fabs(p))) << "trial " << k;
    }
  }
  // maxlist 0 keeps one pair too: the same bits as maxlist 1.
  Recorder c{scaled_quadratic(n, 2.0), {}};
  terms::Vector xc(n, 1.0), gc(n);
  minimise(Method::lbfgs, c, n, 5, 0.0, xc, gc, 0);
  EXPECT_EQ(c.points, a.points);
}

// L-BFGS written out plainly: a deque of pairs, oldest first, and the
// unfused two-loop recursion, using qn's line search. lbfgs must produce the
// same bits, which pins its choice of pairs and their order.
std::vector<double> plain_lbfgs(Recorder& rec, int maxlist, int n, int maxminor, double gtol, terms::Vector& x) {
  Qn q(rec);
  terms::Vector g(n), d(n);
  double value = rec(n, x, g);
  std::deque<PlainPair> pairs;
  auto plain = [n](const terms::Vector& v) { return std::vector<double>(v.data(), v.data() + n); };
  for (int iteration = 1; iteration <= maxminor; ++iteration) {
    if (iteration > 1 && nlp::norm(n, g) <= gtol) break;
    if (iteration == 1) {
      for (int i = 1; i <= n; ++i) d(i) = -g(i);
    } else {
      const std::vector<double> dv = plain_direction(pairs, plain(g));
      for (int i = 1; i <= n; ++i) d(i) = dv[static_cast<std::size_t>(i - 1)];
    }
    const std::vector<double> x_old = plain(x), g_old = plain(g);
    value = q.linesearch(n, 10, 0.1, value, x, g, d);
    PlainPair p;
    for (int i = 1; i <= n; ++i) {
      p.s.push_back(x(i) - x_old[static_cast<std::size_t>(i - 1)]);
      p.y.push_back(g(i) - g_old[static_cast<std::size_t>(i - 1)]);
    }
    p.ys = plain_dot(p.s, p.y);
    if (static_cast<int>(pairs.size()) >= std::max(1, maxlist)) pairs.pop_front();
    pairs.push_back(p);
  }
  return plain(x);
}

TEST(Minimisers, LbfgsUsesTheNewestPairsInRingOrder) {
  const int n = 10;
  for (int maxlist : {0, 1, 2, 3, 7}) {
    Recorder a{rosenbrock, {}};
    Recorder b{rosenbrock, {}};
    terms::Vector xa = rosenbrock_start(n), ga(n);
    terms::Vector xb = rosenbrock_start(n);
    minimise(Method::lbfgs, a, n, 25, 1e-8, xa, ga, maxlist);
    plain_lbfgs(b, maxlist, n, 25, 1e-8, xb);
    EXPECT_EQ(a.points, b.points) << "maxlist " << maxlist;
  }
}

struct Pinned {
  Method method;
  int iterations;
  int evaluations;
};

TEST(Minimisers, BadlyScaledQuadraticOfOneHundredUnknowns) {
  // Condition number 10^4, start at all ones, gradient tolerance 1e-8.
  const int n = 100;
  const Pinned pinned[] = {{Method::lbfgs, 445, 1699}, {Method::mbfgs, 429, 1645}, {Method::bfgs, 266, 993}};
  for (const Pinned& p : pinned) {
    Recorder rec{scaled_quadratic(n, 4.0), {}};
    terms::Vector x(n, 1.0), g(n);
    const Qn::result r = minimise(p.method, rec, n, 5000, 1e-8, x, g);
    EXPECT_TRUE(r.converged) << name(p.method);
    EXPECT_EQ(r.iterations, p.iterations) << name(p.method);
    EXPECT_EQ(rec.evaluations(), p.evaluations) << name(p.method);
    EXPECT_LE(nlp::norm(n, g), 1e-8);
    EXPECT_LE(nlp::norm(n, x), 1e-8);  // the smallest curvature is 1
    EXPECT_LE(r.value, 1e-16);
  }
}

TEST(Minimisers, ExtendedRosenbrock) {
  const int n = 20;
  const Pinned pinned[] = {{Method::lbfgs, 14, 52}, {Method::mbfgs, 23, 111}, {Method::bfgs, 14, 55}};
  for (const Pinned& p : pinned) {
    Recorder rec{rosenbrock, {}};
    terms::Vector x = rosenbrock_start(n), g(n);
    const Qn::result r = minimise(p.method, rec, n, 5000, 1e-7, x, g);
    EXPECT_TRUE(r.converged) << name(p.method);
    EXPECT_EQ(r.iterations, p.iterations) << name(p.method);
    EXPECT_EQ(rec.evaluations(), p.evaluations) << name(p.method);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(x(i), 1.0, 1e-6) << name(p.method) << " x(" << i << ")";
    EXPECT_LE(r.value, 1e-12);
  }
}

// The count of iterations begun can be read by the objective while the
// minimiser calls it (the solvers' progress line does): it starts at 1 with
// the first evaluation, never falls, ends at the result's count, and reading
// it changes no point the minimiser visits (the pinned Rosenbrock counts).
TEST(Minimisers, IterationsCanBeReadDuringTheCall) {
  const int n = 20;
  const Pinned pinned[] = {{Method::lbfgs, 14, 52}, {Method::mbfgs, 23, 111}, {Method::bfgs, 14, 55}};
  for (const Pinned& p : pinned) {
    std::vector<int> seen;
    const Qn* running = nullptr;
    Recorder rec{[&](int k, const terms::Vector& x, terms::Vector& g) {
                   seen.push_back(running->iterations());
                   return rosenbrock(k, x, g);
                 },
                 {}};
    Qn q(rec);
    running = &q;
    EXPECT_EQ(q.iterations(), 0);
    terms::Vector x = rosenbrock_start(n), g(n);
    Qn::result r{};
    switch (p.method) {
      case Method::lbfgs:
        r = q.lbfgs(5, n, 5000, 10, 1e-7, 0.1, x, g);
        break;
      case Method::mbfgs:
        r = q.mbfgs(n, 5000, 10, 1e-7, 0.1, x, g);
        break;
      case Method::bfgs:
        r = q.bfgs(n, 5000, 10, 1e-7, 0.1, x, g);
        break;
    }
    EXPECT_EQ(r.iterations, p.iterations) << name(p.method);
    EXPECT_EQ(rec.evaluations(), p.evaluations) << name(p.method);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), 1) << name(p.method);
    EXPECT_EQ(seen.back(), r.iterations) << name(p.method);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << name(p.method);
    EXPECT_EQ(q.iterations(), r.iterations) << name(p.method);
  }
}

// ------------------------------------------------------------------- bfgs

TEST(Bfgs, PackedPositionsDiagonalByDiagonal) {
  EXPECT_EQ(Qn::pos(3, 1, 1), 1);
  EXPECT_EQ(Qn::pos(3, 2, 2), 2);
  EXPECT_EQ(Qn::pos(3, 3, 3), 3);
  EXPECT_EQ(Qn::pos(3, 2, 1), 4);
  EXPECT_EQ(Qn::pos(3, 3, 2), 5);
  EXPECT_EQ(Qn::pos(3, 3, 1), 6);
  // Diagonal by diagonal, every position once, for other sizes.
  for (int n = 1; n <= 9; ++n) {
    std::int64_t expected = 1;
    for (int k = 0; k < n; ++k) {
      for (int c = 1; c + k <= n; ++c) EXPECT_EQ(Qn::pos(n, c + k, c), expected++);
    }
  }
  // Beyond 32 bits: the corner of n = 100000 is n(n+1)/2.
  EXPECT_EQ(Qn::pos(100000, 100000, 1), std::int64_t{100000} * 100001 / 2);
}

TEST(Bfgs, NegativeCurvatureUnderTheSquareRootIsAnArgumentError) {
  // In exact arithmetic y.Hy < 0 cannot be reached: the self-scaling update
  // keeps H positive definite when s.y > 0 and makes it negative
  // semidefinite when s.y < 0, and then the next line search halts. It takes
  // rounding: here the first update gets s = (3, 4) and y nearly orthogonal
  // to it, y = (-4K + 3, 3K + 4) with s.y = 25, which leaves H with
  // eigenvalues 2 and about 2e-17; the second search then ends on a gradient
  // change along H's smallest eigenvector, where the computed y.Hy is
  // negative. The objective scripts its gradients by call (the library only
  // trusts what the objective returns), on the non-convex profile 0, -1, 0, -2.
  const double k = 156250000.0;
  const double g1[2] = {-4.0 * k, 3.0 * k};
  const double y2[2] = {819.19999803392, -614.40000262144224};
  int call = 0;
  auto scripted = [&](int, const terms::Vector&, terms::Vector& g) {
    ++call;
    if (call == 1) {  // start: steepest descent along (3, 4)
      g(1) = -3.0;
      g(2) = -4.0;
      return 0.0;
    }
    if (call <= 3) {  // step 1.0 and its repeat: zero slope, accepted
      g(1) = g1[0];
      g(2) = g1[1];
      return -1.0;
    }
    if (call == 4) {  // second search, step 1.0: rising
      g(1) = -g1[0];
      g(2) = -g1[1];
      return 0.0;
    }
    g(1) = g1[0] + y2[0];  // its cubic step, returned with maxls = 1
    g(2) = g1[1] + y2[1];
    return -2.0;
  };
  nlp::qn q(scripted);
  terms::Vector x(2), g(2);
  try {
    q.bfgs(2, 3, 1, 0.0, 0.1, x, g);
    ADD_FAILURE() << "no failure raised";
  } catch (const platform::ArgumentError& failure) {
    EXPECT_EQ(failure.full_name(), "ARGUMENT_ERROR");
    EXPECT_NE(failure.message().find("square root of a negative curvature"), std::string::npos) << failure.message();
  }
  EXPECT_EQ(call, 5);  // raised at the start of the third iteration
}

TEST(Bfgs, OneUnknownUpdateGivesTheSecantRatio) {
  // n = 1: H becomes s/y after the first update, so the second direction is
  // -g*s/y with s and y of the first search (here on x^2/2 + x^4).
  Recorder rec{[](int, const terms::Vector& x, terms::Vector& g) {
                 g(1) = x(1) + 4.0 * (x(1) * x(1) * x(1));
                 return 0.5 * (x(1) * x(1)) + x(1) * x(1) * x(1) * x(1);
               },
               {}};
  terms::Vector x(1, 0.7), g(1);
  Qn q(rec);
  q.bfgs(1, 1, 1, 0.0, 0.1, x, g);
  const std::size_t first = rec.points.size();  // evaluations up to the end of the first search
  rec.points.clear();
  x(1) = 0.7;
  q.bfgs(1, 2, 1, 0.0, 0.1, x, g);
  ASSERT_GT(rec.points.size(), first);
  const double x1 = rec.points[first - 1][0];
  terms::Vector g0(1), g1(1);
  rec.f(1, terms::Vector(1, 0.7), g0);
  rec.f(1, terms::Vector(1, x1), g1);
  const double s = x1 - 0.7, y = g1(1) - g0(1);
  EXPECT_NEAR(rec.points[first][0], x1 - g1(1) * s / y, kTol);
}

}  // namespace

// ---------------------------------------------------------- at_step

// An objective that forms the line search's trial points itself is called
// at the points the minimiser would have formed, bit for bit: lbfgs takes
// the same path through the same points either way.
TEST(SteppedObjective, LbfgsVisitsTheSamePointsAsThroughThePlainObjective) {
  const int n = 6;
  Recorder plain{rosenbrock, {}};
  terms::Vector xp = rosenbrock_start(n), gp(n);
  const auto rp = Qn(plain).lbfgs(3, n, 200, 20, 1e-10, 0.1, xp, gp);

  Recorder stepped{rosenbrock, {}};
  int formed = 0;
  auto at_step = [&](int m,
                     const terms::Vector& x0,
                     double a,
                     const terms::Vector& d,
                     terms::Vector& x,
                     terms::Vector& g,
                     double& slope) {
    ++formed;
    for (int i = 1; i <= m; ++i) x(i) = x0(i) + a * d(i);
    const double value = stepped(m, x, g);
    slope = nlp::dot(m, d.data(), g.data());
    return value;
  };
  nlp::SteppedObjective<Recorder, decltype(at_step)> objective{stepped, at_step};
  terms::Vector xs = rosenbrock_start(n), gs(n);
  const auto rs = nlp::qn<decltype(objective)>(objective).lbfgs(3, n, 200, 20, 1e-10, 0.1, xs, gs);

  EXPECT_EQ(formed, stepped.evaluations() - 1);  // every evaluation but the start point's
  EXPECT_EQ(rs.iterations, rp.iterations);
  EXPECT_EQ(stepped.points, plain.points);
  EXPECT_EQ(std::memcmp(xs.data(), xp.data(), static_cast<std::size_t>(n) * sizeof(double)), 0);
}
