#include "solver/solver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "energy/evaluator.h"
#include "energy/gas.h"
#include "model/model.h"
#include "newton/newton.h"
#include "newton/region.h"
#include "newton/tangent_assembly.h"
#include "newton/tangent_pattern.h"
#include "nlp/nlp.h"
#include "nlp/qn.h"
#include "platform/failure.h"
#include "solver/results.h"

namespace solver {

namespace {

// The failure of a run whose state is no solution and must not be written
// as if it were one: a model whose energy has no minimum (too few supports)
// lets the line search expand the step until the numbers overflow; a
// tolerance below what double precision can resolve leaves the minimiser
// with a zero curvature and undefined directions.
[[noreturn]] void diverged(const analysis& a) {
  if (a.major == 0) {
    throw Diverged("the energy of the model at its starting state is not finite; no results written");
  }
  throw Diverged("the solution diverged in major iteration " + std::to_string(a.major) +
                 ": the energy or a displacement is no longer finite (the energy may have no "
                 "minimum because the model lacks supports, or the allowable residue is below "
                 "what double precision resolves); no results written");
}

// A major iteration's result, for either method, before the driver goes
// on from it: the state of the minimiser's last point must be one. It is
// not when an energy or a displacement is not finite, nor when the energy
// has run to the end of the doubles: beyond half the largest double the
// difference of two energies (a decrease) can overflow, a line search there
// sees only rounding and overflow, and the energy it reports is the edge of
// the range, not a minimum. Nor is it when the second-order method stalled,
// its shift at the ceiling without a step that lowers the energy: its last
// point may be its start.
// See docs/decisions.md, 'An energy at the end of the doubles is no result'.
void accept(const analysis& a, const nlp::Result& result, double ceiling) {
  bool finite = std::isfinite(result.value);
  const double* u = a.u.data();
  for (int i = 0; finite && i < a.nfree; ++i) finite = std::isfinite(u[i]);
  if (!finite) diverged(a);
  if (!(std::fabs(result.value) <= std::numeric_limits<double>::max() / 2)) {
    char energy[32];
    std::snprintf(energy, sizeof energy, "%.6g", result.value);
    throw Diverged("the solution diverged in major iteration " + std::to_string(a.major) + ": the energy has reached " +
                   energy +
                   ", the end of the range of double precision (the energy may have no minimum because "
                   "the model lacks supports, or its loads are beyond what double precision resolves); "
                   "no results written");
  }
  if (result.stalled) {
    char shift[32];
    std::snprintf(shift, sizeof shift, "%.6g", ceiling);
    throw Diverged("the solution diverged in major iteration " + std::to_string(a.major) +
                   ": no shift of the tangent up to " + shift +
                   " gives the second-order method a step that lowers the energy (the energy may have no "
                   "minimum, or the model's stiffness or the allowable residue is below what double "
                   "precision resolves); no results written");
  }
}

void check_finite(const analysis& a) {
  bool finite = std::isfinite(a.energy);
  const double* u = a.u.data();
  for (int i = 0; finite && i < a.nfree; ++i) finite = std::isfinite(u[i]);
  if (!finite) diverged(a);
}

// Whether every x(1..n) is a finite number.
bool all_finite(int n, const terms::Vector& x) {
  const double* p = x.data();
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(p[i])) return false;
  }
  return true;
}

// Equilibrium needs the loads to add up to zero along every axis on which
// nothing holds the membrane: its internal forces add up to zero (they do
// not change under a rigid translation), so the residuals of the free
// components along such an axis add up to minus the load resultant. When
// that resultant is larger than all those residuals can be at convergence
// (each at most the allowable residue), no state converges: the minimiser
// would only push the sheet away, the energy falling without limit, and a
// run stopped by its iteration limits would write a table that looks like a
// solution. Called before each major iteration with the loads it freezes.
void check_translation_equilibrium(const analysis& a) {
  for (int j = 1; j <= 3; ++j) {
    double resultant = 0.0;
    double magnitude = 0.0;
    int free = 0;
    bool held = false;
    for (int p = 1; p <= a.nnode && !held; ++p) {
      held = a.dof(p, j) > a.nfree;
      ++free;
      resultant += a.force(p, j);
      magnitude += std::fabs(a.force(p, j));
    }
    // The internal forces cancel only up to rounding: allow for it.
    const double attainable = free * a.residue + 1e-12 * magnitude;
    if (!held && free > 0 && std::fabs(resultant) > attainable) {
      const char axis = static_cast<char>('X' + (j - 1));
      char sum[32];
      std::snprintf(sum, sizeof sum, "%.6g", resultant);
      throw platform::DataError(std::string("no equilibrium: no node is held along ") + axis +
                                ", but the loads along " + axis + " add up to " + sum +
                                " (the membrane would move away without limit); add supports; no results written");
    }
  }
}

// The whole model as the second-order method's problem: the driver's
// energy (with its finite-point check), the law's tangent, and regions of
// the model evaluated through the evaluator's element code.
template <class Energy>
class NewtonProblemOf final : public NewtonProblem {
 public:
  NewtonProblemOf(const analysis& a,
                  const MaterialLaw& law,
                  const EnergyEvaluator& evaluator,
                  const GasChambers& gas,
                  const PressurePotential& pressure,
                  Energy& energy,
                  const TangentPattern& p)
      : a_(a),
        law_(law),
        evaluator_(evaluator),
        gas_(gas),
        pressure_(pressure),
        energy_(energy),
        pattern_(p),
        assembly_(a, law, evaluator.slots(), p, pressure, evaluator.pool()) {}
  double energy(int n, const terms::Vector& x, terms::Vector& g) override { return energy_(n, x, g); }
  // The follower parts of the gas and of the pressure's potential are
  // indefinite: the clamped tangent, which must be positive semi-definite,
  // leaves them out.
  void tangent(const terms::Vector& x, bool clamp, std::span<double> values) override {
    // In the order of the one-thread sum: the elements, the gas, the
    // pressure.
    assembly_.assemble(x, clamp, gas_.empty(), values);
    if (clamp || gas_.empty()) return;
    gas_.add_tangent(x, pattern_.position, values);
    if (!pressure_.empty()) pressure_.add_tangent(x, pattern_.position, values);
  }
  std::vector<RankOne> rank_one(const terms::Vector& x) override { return gas_.rank_one(x); }
  // A chamber's gas couples every node of its elements, and a region's
  // energy is its elements' alone: a model with chambers is not cut into
  // regions. The pressure's potential is element by element: a region's
  // elements carry theirs.
  std::unique_ptr<SubProblem> region(const terms::Vector& x,
                                     std::span<const int> seed,
                                     int rings,
                                     const TangentPattern& p,
                                     const std::vector<double>& shift) override {
    if (!gas_.empty()) return nullptr;
    return std::make_unique<RegionProblem>(a_, evaluator_, law_, p, shift, x, seed, rings, &pressure_);
  }

 private:
  const analysis& a_;
  const MaterialLaw& law_;
  const EnergyEvaluator& evaluator_;
  const GasChambers& gas_;
  const PressurePotential& pressure_;
  Energy& energy_;
  const TangentPattern& pattern_;
  TangentAssembly assembly_;  // the elements' and the pressure's part, on the evaluator's threads
};

// The second-order method for one run: the pattern of the model's tangent,
// its shift matrix and the factorization's analysis, made once.
class NewtonDriver {
 public:
  template <class Energy>
  NewtonDriver(analysis& a,
               const MaterialLaw& law,
               const EnergyEvaluator& evaluator,
               const GasChambers& gas,
               const PressurePotential& pressure,
               Energy& energy,
               NewtonOptions options)
      : a_(a),
        loose_(loose_components(a, evaluator.slots())),
        pattern_(timed(pattern_seconds_, [&] { return tangent_pattern(a, evaluator.slots()); })),
        newton_(pattern_, timed(pattern_seconds_, [&] { return shift_values(a, pattern_); }), options),
        problem_(std::make_unique<NewtonProblemOf<Energy>>(a, law, evaluator, gas, pressure, energy, pattern_)) {
    newton_.use_threads(evaluator.pool());
  }

  nlp::Result minimise() {
    check_loose_loads();
    return newton_.minimise(*problem_, a_.nfree, a_.maxminor, a_.maxls, a_.residue, a_.u, a_.g, a_.energy);
  }
  NewtonCounts counts() const {
    NewtonCounts counts = newton_.counts();
    counts.times.pattern = pattern_seconds_;
    return counts;
  }
  // The steps of the running major iteration so far.
  int iterations() const { return newton_.iterations(); }

 private:
  // A free component of a node that no element uses has the energy of its
  // load alone, -force x: no minimum unless the load is zero. The default
  // method runs away along it until the numbers overflow; Newton's steps
  // there, held by the shift alone, would only grow without end, and a run
  // stopped by its iteration limits would write a table that looks like a
  // solution. So such a load fails the run before each major iteration.
  void check_loose_loads() const {
    for (const auto& [node, axis] : loose_) {
      if (a_.force(node, axis) == 0.0) continue;
      const char name = static_cast<char>('X' + (axis - 1));
      throw platform::DataError("no equilibrium: node " + std::to_string(node) + " is loaded along " + name +
                                ", but no element holds it (the membrane cannot balance the load); no results "
                                "written");
    }
  }
  static std::vector<std::pair<int, int>> loose_components(const analysis& a, const std::vector<ElementSlots>& slots) {
    std::vector<unsigned char> touched(static_cast<std::size_t>(a.nfree), 0);
    for (const ElementSlots& s : slots) {
      for (const int k : s) {
        if (k < a.nfree) touched[static_cast<std::size_t>(k)] = 1;
      }
    }
    std::vector<std::pair<int, int>> loose;
    for (int p = 1; p <= a.nnode; ++p) {
      for (int j = 1; j <= 3; ++j) {
        const int k = a.dof(p, j);
        if (k <= a.nfree && touched[static_cast<std::size_t>(k - 1)] == 0) loose.emplace_back(p, j);
      }
    }
    return loose;
  }

  template <class Make>
  static auto timed(double& seconds, Make make) {
    const Timed timed(seconds);
    return make();
  }

  analysis& a_;
  std::vector<std::pair<int, int>> loose_;  // node and axis of each free component that no element uses
  double pattern_seconds_ = 0.0;            // making the pattern and the shift matrix
  TangentPattern pattern_;
  Newton newton_;
  std::unique_ptr<NewtonProblem> problem_;
};

}  // namespace

// The rounding level of the residual forces: what double precision
// resolves in the force balance of this model. An element pulls on its
// nodes with about (stiffness x area / side length) per unit side strain,
// and the strain of a side is known to a few ulps at best (its reference
// direction is a rounded unit vector), so residuals below a small multiple
// of eps times the largest such force are rounding noise. An unloaded model
// starts with a residual of that size (about 1e-13 for young 1000); asking
// the minimiser to reduce it further only feeds it noise. A prestressed
// element also pulls with its prestress side forces, area x N0 / side
// length, whose balance at a node is known only to the same rounding.
double rounding_level(const analysis& a) {
  constexpr double kUlps = 1024.0;  // room for the sums of many terms at a node
  double largest = 0.0;
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    double stiffness = 0.0;
    for (const auto& row : el.stiff) {
      for (const double v : row) stiffness = std::max(stiffness, std::fabs(v));
    }
    if (!a.side_prestress.empty()) {
      for (const double n0 : a.side_prestress[static_cast<std::size_t>(e - 1)]) {
        stiffness = std::max(stiffness, std::fabs(n0));
      }
    }
    const double shortest = std::min({el.length[0], el.length[1], el.length[2]});
    largest = std::max(largest, stiffness * el.area / shortest);
  }
  return kUlps * std::numeric_limits<double>::epsilon() * largest;
}

// The size of the prestress terms of the energy: each element's work
// A N0 . e is computed from strains known to a few ulps of one, so it is
// known to about eps A |N0| however small the strains, while near the
// prestress's own equilibrium these terms and the strain energy cancel to
// a sum far below them. Zero without prestress.
static double prestress_scale(const analysis& a) {
  if (a.side_prestress.empty()) return 0.0;
  double size = 0.0;
  for (int e = 1; e <= a.nelem; ++e) {
    const auto& n0 = a.side_prestress[static_cast<std::size_t>(e - 1)];
    size += a.elem(e).area * ((std::fabs(n0[0]) + std::fabs(n0[1])) + std::fabs(n0[2]));
  }
  return size;
}

void solve(analysis& a, const MaterialLaw& law, const RunOptions& options) {
  if (options.wrinkling) a.wrinkling = true;
  start(a);
  // Built for this model after its set-up, and gone when the run ends.
  const std::unique_ptr<EnergyEvaluator> evaluator =
      law.evaluator(a, EvaluationOptions{options.threads, options.parallel_from});
  // The gas of the chambers, a potential beside the elements' energy and
  // the frozen loads; nothing is added for a model without chambers.
  GasChambers gas(a);
  // The second-order method takes the pressure as a potential where it has
  // one; the frozen load table then holds the other loads only.
  const bool pressure_potential =
      options.method == Method::newton && options.newton_pressure_potential && PressurePotential::applies(a);
  const PressurePotential pressure(a, pressure_potential);
  bool with_potential = false;  // the pressure's potential in the energy (once the residue is set)
  const auto objective = [&evaluator, &gas, &pressure, &with_potential](
                             int n, const terms::Vector& x, terms::Vector& g) {
    double f = (*evaluator)(n, x, g);
    if (!gas.empty()) f = gas.add(f, x, g);
    if (with_potential) f = pressure.add(f, x, g);
    return f;
  };
  setforce(a);
  // The state at zero free displacement under the initial loads: g holds
  // the initial residual forces. The residue is measured on the loads of
  // the table even where the pressure is then a potential, whose gradient
  // is the same load up to rounding: both ways stop at the same residue.
  a.energy = objective(a.nfree, a.u, a.g);
  // The threshold is absolute when a reference residue is given, otherwise
  // relative to the largest initial residual.
  if (a.mnref > 0.0) {
    a.residue = a.mnref * a.mntol;
  } else {
    // A starting residual within rounding of the internal forces is no
    // load to resolve a fraction of: the model (an unloaded one) is in
    // equilibrium where it starts, and its residual counts as converged.
    const double initial = nlp::norm(a.nfree, a.g);
    const double rounding = rounding_level(a);
    a.residue = initial > 0.0 && initial <= rounding ? rounding : initial * a.mntol;
  }
  if (pressure_potential) {
    with_potential = true;
    setforce(a, false);
    a.energy = objective(a.nfree, a.u, a.g);
  }
  a.major = 0;
  a.minor = 0;  // reported as 0 when no major iteration runs

  // Each major iteration minimises the energy under frozen loads, then lets
  // the pressure follow the new shape. Convergence is judged only here,
  // after the loads have been refreshed.
  //
  // The minimiser asks for the energy at points x0 + step*d. Once such a
  // point is not finite the major iteration can only end with the divergence
  // failure below: either x0 or d is not finite already, and then neither is
  // any later point (inf and NaN survive every addition), or step*d has left
  // the range of doubles, which the line search reaches by doubling the step
  // while the energy keeps falling, on a model without a minimum (a first
  // step that large would need loads beyond 1e300).
  // Failing at the first such point, instead of when the minimiser returns,
  // keeps the run short: with large maxminor and maxls the minimiser would
  // otherwise go on through up to maxminor * maxls evaluations at NaN points
  // (a loaded node that no element holds keeps a finite gradient, so the
  // convergence test never stops it). A run that stays finite is unchanged.
  //
  // A progress observer is told of each evaluation: the counts are kept
  // here, the minor iterations of the running call are read from the
  // minimiser, and the gradient is passed by reference for the observer to
  // look at only when it updates. It is told of the starting state and of
  // the end of each major iteration too. An observer that must stop the run
  // (its user asked) throws Stopped from either call; nothing here catches
  // it, so the run ends at that evaluation and writes nothing.
  ProgressObserver* const progress = options.progress;
  Evaluation seen;
  seen.residue = a.residue;
  int minor_before = 0;                // minor iterations of the finished major iterations
  std::function<int()> minor_running;  // of the minimiser call running (set once the minimiser exists)
  const auto major_done = [&] {
    if (progress == nullptr) return;
    seen.major = a.major;
    seen.minor = minor_before;
    seen.n = a.nfree;
    seen.g = &a.g;
    seen.energy = a.energy;
    progress->major_done(seen);
  };
  const auto evaluated = [&](int n, const terms::Vector& g, double value) {
    if (progress == nullptr) return;
    ++seen.evaluations;
    seen.major = a.major;
    seen.minor = minor_before + minor_running();
    seen.n = n;
    seen.g = &g;
    seen.energy = value;
    progress->evaluated(seen);
  };
  auto energy = [&](int n, const terms::Vector& x, terms::Vector& g) {
    if (!all_finite(n, x)) diverged(a);
    const double value = objective(n, x, g);
    evaluated(n, g, value);
    return value;
  };
  // The line search's trial points: the evaluator forms each in its pass
  // over the node table and checks it there, and sums the slope as it
  // hands over the gradient (EnergyEvaluator::at_step); with a gas or the
  // pressure's potential beside the elements, the point is formed here and
  // evaluated as above.
  auto energy_at_step = [&](int n,
                            const terms::Vector& x0,
                            double step,
                            const terms::Vector& d,
                            terms::Vector& x,
                            terms::Vector& g,
                            double& slope) {
    if (!gas.empty() || with_potential) {
      const double* x0p = x0.data();
      const double* dp = d.data();
      double* xp = x.data();
      for (int i = 0; i < n; ++i) xp[i] = x0p[i] + step * dp[i];
      const double value = energy(n, x, g);
      slope = nlp::dot(n, dp, g.data());
      return value;
    }
    const std::optional<double> value = evaluator->at_step(n, x0, step, d, x, g, &slope);
    if (!value) diverged(a);
    evaluated(n, g, *value);
    return *value;
  };
  nlp::SteppedObjective<decltype(energy), decltype(energy_at_step)> stepped{energy, energy_at_step};
  nlp::qn<decltype(stepped)> minimiser(stepped);
  // The second-order minimiser, built only when chosen: its pattern,
  // ordering and symbolic factorization are made once for the run.
  std::unique_ptr<NewtonDriver> newton;
  if (options.method == Method::newton) {
    NewtonOptions newton_options = options.newton;
    newton_options.energy_scale = std::max(newton_options.energy_scale, prestress_scale(a));
    newton = std::make_unique<NewtonDriver>(a, law, *evaluator, gas, pressure, energy, newton_options);
  }
  minor_running = [&minimiser, &newton] { return newton ? newton->iterations() : minimiser.iterations(); };
  major_done();
  // A chamber whose volume ended a major iteration below its floor
  // (energy/gas.h) gets a lower one, which changes its energy: the next
  // major iteration runs even if the residual is small.
  bool floors_moved = false;
  while ((a.residue < nlp::norm(a.nfree, a.g) || floors_moved) && a.major < a.maxmajor) {
    check_translation_equilibrium(a);
    a.major = a.major + 1;
    nlp::Result result;
    if (newton) {
      result = newton->minimise();
      if (options.newton_counts != nullptr) *options.newton_counts = newton->counts();
    } else {
      result = minimiser.lbfgs(a.maxlist, a.nfree, a.maxminor, a.maxls, a.residue, a.lstol, a.u, a.g);
    }
    accept(a, result, options.newton.tau_max);
    minor_before += result.iterations;
    a.minor = result.iterations;
    a.energy = result.value;
    floors_moved = !gas.empty() && gas.lower_floors(a.u);
    setforce(a, !pressure_potential);
    a.energy = objective(a.nfree, a.u, a.g);
    check_finite(a);
    major_done();
  }
  check_finite(a);
  if (!gas.empty()) gas.check(a.u);
  // The table the results read the reactions from holds every load on the
  // final shape, the pressure's too.
  if (pressure_potential) setforce(a);
}

void run(analysis& a, const MaterialLaw& law, const RunOptions& options) {
  input(a);
  solve(a, law, options);
  write_results(a, law);
}

void run(const MaterialLaw& law, const RunOptions& options) {
  analysis a;
  run(a, law, options);
}

}  // namespace solver
