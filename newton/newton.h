#pragma once
// The second-order minimiser of one major iteration: a safeguarded Newton
// method on the energy under frozen loads. It joins three objects, each
// with one job (as Ceres separates its evaluator, linear solver and
// strategy):
//   - the problem (newton/problem.h): energy, gradient and tangent values
//     on a fixed pattern, for the whole model or a region of it;
//   - the factorization (newton/sparse_cholesky.h), which answers "not
//     positive definite" with a status;
//   - the safeguard (newton/shift.h): the shift tau of T + tau R and the
//     rule by which it moves.
// One loop takes the steps (see docs/newton.md for the reasons of each
// rule):
//   - a direction d, made by one of two ways of taking a step (below); a
//     factorization there tries the exact tangent T first and, when that
//     is not positive definite, the clamped one (the compressive side
//     forces left out: positive semi-definite, so its step descends),
//     raising the shift until it succeeds;
//   - a backtracking line search along d from the full step: Armijo's
//     decrease of 1e-4 of the linear prediction, each new trial at the
//     minimum of the quadratic through f(0), f'(0) and the last trial,
//     within [0.1, 0.5] of the last step; where that decrease is below the
//     energy's rounding, a trial is taken when it lowers the gradient's
//     norm without raising the energy beyond rounding, since the energy
//     cannot judge such a step;
//   - a refused step (no decrease, or a direction that does not descend,
//     which only rounding makes) raises the shift when its factorization
//     was made for it, and otherwise asks for a new factorization at x;
//   - a step taken at its full length lowers the shift.
// At the ceiling of the shift the loop stops, its last point returned with
// Result::stalled: the driver fails the run (no step lowers the energy) and
// a region is dropped (see minimise_region). Nothing else stops it but
// convergence and maxminor.
//
// The two ways of taking a step (NewtonOptions::Step):
//   - cg (the default): (T + tau R) d = -g with T exact at the current
//     point, by conjugate gradients preconditioned by the last
//     factorization, stopping at a tolerance, an iteration limit or a
//     direction of non-positive curvature (every iterate descends); a step
//     that needed many iterations, or a refused one, asks for a new
//     factorization, which outlives the call, so that the next major
//     iteration starts with it. Where the gradient gathers in a few
//     unknowns (region_share), the region around them is minimised first,
//     every other unknown held, by this same method with the direct step.
//   - direct: d from the factorization alone, reused for up to reuse_steps
//     further steps; a refused step with a factorization made for it
//     factorizes the same matrix again with the larger shift.

#include <chrono>
#include <memory>
#include <span>
#include <vector>

#include "newton/problem.h"
#include "newton/shift.h"
#include "newton/sparse_cholesky.h"
#include "newton/tangent_pattern.h"
#include "nlp/nlp.h"
#include "terms/terms.h"

namespace solver {

struct NewtonOptions {
  double tau_start = 1e-3;  // shift of the first step, in units of R (> 0)
  double tau_min = 1e-8;    // smallest nonzero shift (> 0)
  double tau_max = 1e12;    // the ceiling of the shift: reaching it stops the minimiser (Result::stalled)
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
  // which stream the whole factor, read half the bytes, but it resolves the
  // soft directions of a nearly singular tangent less well; off by default
  // (docs/newton.md, rule 6).
  bool single_preconditioner = false;
  // cg: where at most this share of the unknowns holds 99.9 % of the
  // gradient's square, minimise on the region around them first (0: never).
  double region_share = 0.02;
  int region_rings = 5;          // rings of elements grown around those unknowns
  double region_largest = 0.05;  // a region with more than this share of the unknowns is not worth it
  int region_most = 100;         // steps of one region's minimisation at most
  // The size of the energy's terms where they may cancel to a far smaller
  // sum (a prestress's work against the strain energy): the line search
  // takes its rounding as a share of the larger of this and the sum, so
  // that near such a balance a trial's rounding is not taken for a rise.
  double energy_scale = 0.0;
};

// Wall-clock seconds of the parts of the method, over every call: for the
// benchmarks' account of a run, never in its results. The parts do not
// overlap; what the minimiser spends between them (the line search's
// trial points, norms and slopes, the conjugate gradients' vector
// updates) is total less their sum.
struct NewtonTimes {
  double pattern = 0.0;         // the tangent's pattern and shift matrix (once per run, by the driver)
  double analysis = 0.0;        // the factorization's ordering and symbolic analysis (once per run)
  double factorizations = 0.0;  // numeric factorizations of the whole model's matrix
  double solves = 0.0;          // solves with its factor (preconditioner, direct step, rank-one terms)
  double products = 0.0;        // cg: products with the tangent, the shift and the rank-one terms
  double tangents = 0.0;        // assemblies of the whole model's tangent
  double evaluations = 0.0;     // energy and gradient of the whole model
  double regions = 0.0;         // minimisations on regions: building each and all of its steps
  double total = 0.0;           // inside minimise, every call
};

// Adds the wall-clock seconds of its scope to a part's total.
class Timed {
 public:
  explicit Timed(double& total) : total_(total), start_(std::chrono::steady_clock::now()) {}
  ~Timed() { total_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  double& total_;
  std::chrono::steady_clock::time_point start_;
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
  NewtonTimes times;
};

// y = (T + tau R) v for the symmetric matrices whose upper triangles a
// pattern's values (T) and the shift (R) hold, the conjugate gradients'
// product. The columns are cut in two parts of about equal stored
// entries, each summed into its own vector in a fixed order (a column's
// own entries start its row's sum, the later columns' entries above their
// diagonal add to the rows they name, column by column), the second
// part's then added to the first's row by row: the parts write apart, so
// they run at once on two threads with the bits of one.
class TangentProduct {
 public:
  explicit TangentProduct(const TangentPattern& p);
  void apply(std::span<const double> values,
             const std::vector<double>& shift,
             double tau,
             const double* v,
             double* y,
             platform::ThreadPool* pool);

 private:
  const TangentPattern& pattern_;
  std::size_t cut_ = 0;        // the second part's first column
  std::vector<double> later_;  // the second part's sums, by row
};

class Newton {
 public:
  // p: the tangent's pattern; shift: R on that pattern.
  Newton(const TangentPattern& p, std::vector<double> shift, NewtonOptions options = {});

  // Minimises from x (in; the minimiser out), f and g the energy and
  // gradient at x on entry and at the returned x on exit. At most maxminor
  // accepted steps and max(1, maxls) energy evaluations per line search;
  // stops once norm(n, g) <= gtol, or stalled at the ceiling of the shift.
  nlp::Result minimise(NewtonProblem& problem,
                       int n,
                       int maxminor,
                       int maxls,
                       double gtol,
                       terms::Vector& x,
                       terms::Vector& g,
                       double f);

  // Solves with the whole model's factor and the conjugate gradients'
  // products split between two of the pool's threads (null: the calling
  // thread alone); the same bits either way.
  void use_threads(platform::ThreadPool* pool) {
    pool_ = pool;
    cholesky_->use_threads(pool);
  }

  const NewtonCounts& counts() const { return counts_; }
  double tau() const { return shift_.tau(); }
  // The steps of the call running, or of the last one, those of a region
  // being minimised included: the progress line reads it while the problem
  // is evaluated.
  int iterations() const;

 private:
  // The step being tried at the current point.
  struct Attempt {
    bool fresh = false;         // its factorization was made at this point for it
    bool lowers_shift = false;  // at full length it lowers the shift (direct: every step; cg: fresh ones)
    bool lengthen = false;      // the line search doubles a full step while that pays
    int cg = 0;                 // its conjugate gradient iterations
  };
  struct Workspace;

  // The two ways of taking a step: d for the point x with gradient g.
  // False when the shift reached its ceiling before a factorization
  // succeeded.
  bool direct_direction(
      NewtonProblem& problem, int n, const terms::Vector& x, const terms::Vector& g, Workspace& w, Attempt& attempt);
  bool cg_direction(
      NewtonProblem& problem, int n, const terms::Vector& x, const terms::Vector& g, Workspace& w, Attempt& attempt);

  // Where the gradient gathers in few unknowns, minimises on the region
  // around them (x, g, f updated); returns the steps taken.
  int minimise_region(
      NewtonProblem& problem, int n, int most, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double& f);

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
  // Relative rounding of the energy, a sum over every element: a change
  // below this share of its size is taken as rounding. The roundings of a
  // sum of N terms add up like a random walk, to about sqrt(N) eps of its
  // size: 1e-13 for a million elements.
  static constexpr double kEnergyNoise = 1e-13;

  // Factorizes T + tau R, T being the tangent last placed in the
  // factorization's values; false when it is not positive definite.
  bool factorize_shifted();
  // Factorizes the clamped tangent at x plus the shift, raising the shift
  // until that succeeds; false at its ceiling.
  bool factorize_clamped(NewtonProblem& problem, const terms::Vector& x);
  // Factorizes the exact tangent at x plus the shift or, if that is not
  // positive definite, the clamped one; false at the ceiling.
  bool factorize_at(NewtonProblem& problem, const terms::Vector& x);
  // cg: the same from the exact tangent in the factorization's values
  // (made there again after it, for the products), skipping the exact one
  // after it failed the last time.
  bool factorize_preconditioner(NewtonProblem& problem, const terms::Vector& x);

  const TangentPattern& pattern_;
  std::vector<double> shift_values_;  // R on the pattern
  NewtonOptions options_;
  std::unique_ptr<SparseCholesky> cholesky_;
  Shift shift_;
  double applied_tau_ = 0.0;  // the shift the factorization's values hold
  bool clamped_ = false;      // the factor is of the clamped tangent
  bool exact_failed_ = false;
  // direct: the step refused had a factorization made for it: factorize
  // the same matrix again with the larger shift; steps taken with the
  // current factorization since it was made.
  bool again_ = false;
  // The problem's rank-one terms at the point of the current step.
  std::vector<RankOne> rank_one_;
  // direct: turns y = M^-1 b, M the factorized matrix, into the solution
  // of (M + sum w v v^T) d = b (Woodbury's identity: one solve per term).
  void solve_rank_one(int n, double* y);
  int reused_ = 0;
  // cg: a factorization exists (kept from one call to the next); the next
  // step needs a new one.
  bool factored_ = false;
  bool refactor_ = false;
  TangentProduct product_;                  // cg: its products, with the shift
  platform::ThreadPool* pool_ = nullptr;    // the threads of the solves and products (null: this one)
  terms::Vector far_x_, far_g_;             // the line search's longer trials
  int iterations_ = 0;                      // steps of the call running
  const Newton* region_running_ = nullptr;  // the region's minimiser while it runs
  NewtonCounts counts_;
};

}  // namespace solver
