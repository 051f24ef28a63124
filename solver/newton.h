#pragma once
// The second-order minimiser of one major iteration: a safeguarded Newton
// method on the energy under frozen loads, with a sparse Cholesky
// factorization of the tangent.
//
// Safeguard (the rule, in one place; see docs/newton.md for the reasons):
//   - the matrix factorized is T + tau R: T the exact tangent or, when
//     that is not positive definite, the tangent with the compressive side
//     forces left out (positive semi-definite, so its step descends), R the
//     stiffness of a uniform unit tension (solver/tangent_pattern.h),
//     which holds the membrane the way a prestress would where T has no
//     out-of-plane stiffness (the flat start);
//   - a factorization of the clamped tangent that fails raises tau to
//     max(10 tau, tau_min) and factorizes again, without a step;
//   - a step whose line search fails to decrease the energy likewise
//     raises tau and is tried again;
//   - a step accepted at its full length lowers tau tenfold (below tau_min
//     it becomes 0: the plain tangent); a shortened step keeps tau.
// A factorization serves up to reuse_steps further steps (its matrix is
// positive definite, so its steps still descend); a line search that fails
// with a reused factor makes a new one at the current point. Fewer
// factorizations for more, cheaper steps: see BENCHMARKS.md.
// The line search backtracks from the full step until the energy falls by
// at least 1e-4 of the linear prediction (Armijo), each new trial at the
// minimum of the quadratic through f(0), f'(0) and the last trial, kept
// within [0.1, 0.5] of the last step.

#include <memory>
#include <span>
#include <vector>

#include "solver/sparse_cholesky.h"
#include "solver/tangent_pattern.h"
#include "terms/terms.h"

namespace solver {

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
};

struct NewtonOptions {
  double tau_start = 1e-3;  // shift of the first step, in units of R (> 0)
  double tau_min = 1e-8;    // smallest nonzero shift (> 0)
  double tau_max = 1e12;    // a shift beyond this ends the run with a failure
  double armijo = 1e-4;     // sufficient decrease factor of the line search, in (0, 0.5)
  bool exact_first = true;  // try the exact tangent before the clamped one (else the clamped one only)
  int reuse_steps = 8;      // steps that may reuse a factorization after the one it was made for (>= 0)
};

// Totals over every call, for the benchmarks and tests.
struct NewtonCounts {
  int steps = 0;                 // accepted steps
  int factorizations = 0;        // numeric factorizations, failed ones included
  int failed = 0;                // factorizations that found the matrix not positive definite
  int evaluations = 0;           // energy and gradient evaluations
  double tangent_entries = 0.0;  // stored entries of the tangent (upper triangle)
  double factor_entries = 0.0;   // entries of the Cholesky factor
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
  // Factorizes T + tau R, T being the tangent last assembled into the
  // factorization's values; false when it is not positive definite.
  bool factorize_shifted();
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
  NewtonCounts counts_;
};

}  // namespace solver
