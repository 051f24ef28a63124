#pragma once
// The second-order minimiser of one major iteration: a safeguarded Newton
// method on the energy under frozen loads, with a sparse Cholesky
// factorization of the tangent.
//
// Safeguard (the rule, in one place; see docs/newton.md for the reasons):
//   - the matrix factorized is T + tau R: T the exact tangent or, when
//     that is not positive definite, the tangent with the compressive side
//     forces left out (positive semi-definite, so its step descends), R the
//     stiffness of a uniform unit tension (newton/tangent_pattern.h),
//     which holds the membrane the way a prestress would where T has no
//     out-of-plane stiffness (the flat start);
//   - a factorization of the clamped tangent that fails raises tau to
//     max(10 tau, tau_min) and factorizes again, without a step;
//   - a step whose line search fails to decrease the energy likewise
//     raises tau and is tried again;
//   - a step accepted at its full length lowers tau tenfold (below tau_min
//     it becomes 0: the plain tangent); a shortened step keeps tau.
// The step (NewtonOptions::Step::cg, the default) solves (T + tau R) d = -g
// with T exact at the current point by conjugate gradients preconditioned
// by the last factorization, stopping at a tolerance, an iteration limit
// or a direction of non-positive curvature; every iterate descends. A step
// that needed many iterations, or a line search that fails, asks for a new
// factorization; the factorization outlives the call, so the next major
// iteration starts with it. Where the gradient gathers in a few unknowns
// (region_share), the region around them is minimised first with every
// other unknown held (newton/region.h), by this same method with the
// direct step. The direct step (Step::direct) solves with the
// factorization alone and reuses it for up to reuse_steps further steps.
// Fewer factorizations for more, cheaper steps: see BENCHMARKS.md.
// The line search backtracks from the full step until the energy falls by
// at least 1e-4 of the linear prediction (Armijo), each new trial at the
// minimum of the quadratic through f(0), f'(0) and the last trial, kept
// within [0.1, 0.5] of the last step. Where that decrease is below the
// energy's rounding, the energy cannot judge a step: a trial is then taken
// when it lowers the gradient's norm without raising the energy beyond
// rounding (on a million elements, near the solution, every step of a
// major iteration was otherwise cut to nothing and "taken").

#include <memory>
#include <span>
#include <vector>

#include "newton/sparse_cholesky.h"
#include "newton/tangent_pattern.h"
#include "terms/terms.h"

namespace solver {

class RegionProblem;

// What the Newton method needs of the problem.
class NewtonProblem {
 public:
  virtual ~NewtonProblem() = default;
  // Energy at x(1..n), its gradient into g(1..n).
  virtual double energy(int n, const terms::Vector& x, terms::Vector& g) = 0;
  // The values of the tangent at x on the pattern the method was built
  // with; with clamp, the compressive side forces left out (positive
  // semi-definite).
  virtual void tangent(const terms::Vector& x, bool clamp, std::span<double> values) = 0;
  // The problem on the region grown by `rings` rings of elements around the
  // unknowns seed (0-based, increasing), every other unknown held at x
  // (newton/region.h); p and shift are the whole problem's pattern and shift.
  // None where the problem has no elements to grow a region from.
  virtual std::unique_ptr<RegionProblem> region(const terms::Vector& x,
                                                std::span<const int> seed,
                                                int rings,
                                                const TangentPattern& p,
                                                const std::vector<double>& shift);
};

struct NewtonOptions {
  double tau_start = 1e-3;  // shift of the first step, in units of R (> 0)
  double tau_min = 1e-8;    // smallest nonzero shift (> 0)
  double tau_max = 1e12;    // a shift beyond this ends the run with a failure
  double armijo = 1e-4;     // sufficient decrease factor of the line search, in (0, 0.5)
  bool exact_first = true;  // try the exact tangent before the clamped one (else the clamped one only)
  int reuse_steps = 8;      // direct steps: steps that may reuse a factorization after the one it was made for (>= 0)
  // The step: solved with the factorization (direct), or by conjugate
  // gradients on the exact tangent preconditioned by the last factorization
  // (cg), which is made again only when that stops paying.
  enum class Step { direct, cg } step = Step::cg;
  int cg_most = 30;           // cg: iterations per step at most (>= 1)
  double cg_tolerance = 0.1;  // cg: stop once the residual is below this fraction of the gradient
  int refactor_after = 10;    // cg: a step that took more iterations than this asks for a new factorization
  // cg: the preconditioner's factor rounded to single precision. Its solves,
  // which stream the whole factor, take half the time, but it resolves the
  // soft directions of a nearly singular tangent less well; off by default
  // (BENCHMARKS.md, "The preconditioner's factor in single precision").
  bool single_preconditioner = false;
  // cg: where at most this share of the unknowns holds 99.9 % of the
  // gradient's square, minimise on the region around them first (0: never).
  double region_share = 0.02;
  int region_rings = 5;          // rings of elements grown around those unknowns
  double region_largest = 0.05;  // a region with more than this share of the unknowns is not worth it
  int region_most = 100;         // steps of one region's minimisation at most
};

// Totals over every call, for the benchmarks and tests.
struct NewtonCounts {
  int steps = 0;                  // accepted steps
  int factorizations = 0;         // numeric factorizations, failed ones included
  int failed = 0;                 // factorizations that found the matrix not positive definite
  int evaluations = 0;            // energy and gradient evaluations
  int cg_iterations = 0;          // conjugate gradient iterations (one solve and one product each)
  int regions = 0;                // minimisations on a region
  int region_steps = 0;           // their steps (also in steps)
  int region_factorizations = 0;  // their factorizations (not in factorizations)
  double tangent_entries = 0.0;   // stored entries of the tangent (upper triangle)
  double factor_entries = 0.0;    // entries of the Cholesky factor
};

class Newton {
 public:
  struct Result {
    int iterations;  // accepted steps
    double value;    // energy at the returned x
    bool converged;  // norm(n, g) <= gtol at the returned x
  };

  // p: the tangent's pattern; shift: R on that pattern.
  Newton(const TangentPattern& p, std::vector<double> shift, NewtonOptions options = {});

  // Minimises from x (in; the minimiser out), f and g the energy and
  // gradient at x on entry and at the returned x on exit. At most maxminor
  // accepted steps and max(1, maxls) energy evaluations per line search;
  // stops once norm(n, g) <= gtol.
  Result minimise(NewtonProblem& problem,
                  int n,
                  int maxminor,
                  int maxls,
                  double gtol,
                  terms::Vector& x,
                  terms::Vector& g,
                  double f);

  const NewtonCounts& counts() const { return counts_; }
  double tau() const { return tau_; }

 private:
  Result minimise_direct(NewtonProblem& problem,
                         int n,
                         int maxminor,
                         int maxls,
                         double gtol,
                         terms::Vector& x,
                         terms::Vector& g,
                         double f);
  // Factorizes the exact tangent in tangent_ plus the shift or, if that is
  // not positive definite, the clamped one at x, raising tau until one
  // succeeds.
  void factorize_preconditioner(NewtonProblem& problem, const terms::Vector& x);
  // Where the gradient gathers in few unknowns, minimises on the region
  // around them (x, g, f updated); returns the steps taken.
  int minimise_region(
      NewtonProblem& problem, int n, int most, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double& f);
  Result minimise_cg(NewtonProblem& problem,
                     int n,
                     int maxminor,
                     int maxls,
                     double gtol,
                     terms::Vector& x,
                     terms::Vector& g,
                     double f);
  // The backtracking line search from x0 along d (slope = g'd < 0) at
  // energy f and gradient norm gnorm: at most trials evaluations; the last
  // trial is left in trial_x and trial_g. With lengthen, a full step is
  // then doubled while that pays (search).
  struct Search {
    bool accepted;
    double step;
    double ft;
  };
  Search search(NewtonProblem& problem,
                int n,
                int trials,
                const terms::Vector& x0,
                const terms::Vector& d,
                double f,
                double gnorm,
                double slope,
                bool lengthen,
                terms::Vector& trial_x,
                terms::Vector& trial_g);
  // Relative rounding of the energy: a sum over up to millions of elements
  // is good to about 1e-13 of its size.
  static constexpr double kEnergyNoise = 1e-13;
  // Factorizes T + tau R, T being the tangent last assembled into the
  // factorization's values; false when it is not positive definite.
  bool factorize_shifted();
  // Factorizes the clamped tangent at x plus the shift, raising tau until
  // that succeeds.
  void factorize_clamped(NewtonProblem& problem, const terms::Vector& x);
  // Factorizes the exact tangent at x plus the shift or, if that is not
  // positive definite, the clamped one, raising tau until one succeeds.
  void factorize_at(NewtonProblem& problem, const terms::Vector& x);

  const TangentPattern& pattern_;
  std::vector<double> shift_;
  NewtonOptions options_;
  std::unique_ptr<SparseCholesky> cholesky_;
  double applied_tau_ = 0.0;  // the shift the factorization's values hold
  double tau_;
  bool clamped_ = false;  // the factor is of the clamped tangent
  bool exact_failed_ = false;
  bool factored_ = false;        // cg: a factorization exists (kept from one call to the next)
  std::vector<double> tangent_;  // cg: the exact tangent at the current point, on the pattern
  terms::Vector far_x_, far_g_;  // the line search's longer trials
  NewtonCounts counts_;
};

}  // namespace solver
