#include "newton/newton.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

#include "newton/region.h"
#include "nlp/nlp.h"
#include "platform/failure.h"

namespace solver {

namespace {

// Dot product accumulated from 0.0 in index order.
double dot(int n, const double* p, const double* q) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum = sum + p[i] * q[i];
  return sum;
}

}  // namespace

std::unique_ptr<RegionProblem> NewtonProblem::region(const terms::Vector& /*x*/,
                                                     std::span<const int> /*seed*/,
                                                     int /*rings*/,
                                                     const TangentPattern& /*p*/,
                                                     const std::vector<double>& /*shift*/) {
  return nullptr;
}

Newton::Newton(const TangentPattern& p, std::vector<double> shift, NewtonOptions options)
    : pattern_(p),
      shift_(std::move(shift)),
      options_(options),
      cholesky_(make_sparse_cholesky()),
      tau_(options.tau_start) {
  if (shift_.size() != p.row.size()) throw platform::RangeError("the shift does not match the tangent's pattern");
  cholesky_->analyse(p.n, p.colptr, p.row);
  counts_.tangent_entries = static_cast<double>(p.row.size());
  counts_.factor_entries = cholesky_->factor_entries();
}

bool Newton::factorize_shifted() {
  // The matrix holds T + applied_tau_ R: move it to T + tau_ R in place.
  const std::span<double> m = cholesky_->values();
  const double change = tau_ - applied_tau_;
  if (change != 0.0) {
    for (std::size_t k = 0; k < m.size(); ++k) m[k] = m[k] + change * shift_[k];
  }
  applied_tau_ = tau_;
  ++counts_.factorizations;
  if (cholesky_->factorize()) return true;
  ++counts_.failed;
  return false;
}

void Newton::factorize_clamped(NewtonProblem& problem, const terms::Vector& x) {
  clamped_ = true;
  problem.tangent(x, true, cholesky_->values());
  applied_tau_ = 0.0;
  while (!factorize_shifted()) {
    tau_ = std::max(10.0 * tau_, options_.tau_min);
    if (!(tau_ <= options_.tau_max)) {
      throw platform::DataError(
          "the tangent stays singular under every shift (the energy may have no minimum); no results written");
    }
  }
}

void Newton::factorize_at(NewtonProblem& problem, const terms::Vector& x) {
  if (options_.exact_first) {
    clamped_ = false;
    problem.tangent(x, false, cholesky_->values());
    applied_tau_ = 0.0;
    if (factorize_shifted()) return;
  }
  factorize_clamped(problem, x);
}

Newton::Search Newton::search(NewtonProblem& problem,
                              int n,
                              int trials,
                              const terms::Vector& x0,
                              const terms::Vector& d,
                              double f,
                              double gnorm,
                              double slope,
                              bool lengthen,
                              terms::Vector& trial_x,
                              terms::Vector& trial_g) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  // What the energy, a sum over every element, resolves: a change below
  // this is rounding.
  const double noise = kEnergyNoise * std::fabs(f);
  Search found{false, 1.0, f};
  for (int k = 1; k <= trials && !found.accepted; ++k) {
    const double step = found.step;
    for (std::size_t i = 0; i < size; ++i) trial_x.data()[i] = x0.data()[i] + step * d.data()[i];
    const double ft = problem.energy(n, trial_x, trial_g);
    ++counts_.evaluations;
    found.ft = ft;
    if (std::isfinite(ft)) {
      // Armijo's decrease, where it is more than rounding. Near the
      // minimum the decrease drowns in the rounding: a trial that does not
      // raise the energy beyond it and lowers the gradient is taken, and
      // one that has lost half the slope without raising the energy at all.
      const double decrease = -options_.armijo * step * slope;
      found.accepted = (decrease > noise && ft <= f - decrease) || (ft <= f + noise && nlp::norm(n, trial_g) < gnorm) ||
                       (ft <= f && decrease > noise && std::fabs(dot(n, d.data(), trial_g.data())) <= 0.5 * -slope);
      if (found.accepted) break;
    }
    // The minimum of q(t) = f + slope t + c t^2 through (step, ft):
    // t = -slope step^2 / (2 (ft - f - slope step)); kept in [0.1, 0.5]
    // step (a non-finite ft takes 0.1).
    double next = 0.1 * step;
    if (std::isfinite(ft)) {
      const double curvature = ft - f - slope * step;
      if (curvature > 0.0) next = std::clamp(-slope * step * step / (2.0 * curvature), 0.1 * step, 0.5 * step);
    }
    found.step = next;
  }
  if (!(lengthen && found.accepted && found.step == 1.0)) return found;
  // The direction may fall short (the clamped tangent is stiffer than the
  // energy wherever sides are compressed; a preconditioned gradient step
  // knows no curvature): while the slope at the last point is still at
  // least half the initial one, double the step as long as the energy keeps
  // falling.
  if (far_x_.size() != n) {
    far_x_ = terms::Vector(n);
    far_g_ = terms::Vector(n);
  }
  for (int k = 1; k < trials && dot(n, d.data(), trial_g.data()) <= 0.5 * slope; ++k) {
    const double longer = 2.0 * found.step;
    for (std::size_t i = 0; i < size; ++i) far_x_.data()[i] = x0.data()[i] + longer * d.data()[i];
    const double fl = problem.energy(n, far_x_, far_g_);
    ++counts_.evaluations;
    if (!(fl < found.ft)) break;
    std::swap(trial_x, far_x_);
    std::swap(trial_g, far_g_);
    found.ft = fl;
    found.step = longer;
  }
  return found;
}

Newton::Result Newton::minimise(
    NewtonProblem& problem, int n, int maxminor, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double f) {
  if (options_.step == NewtonOptions::Step::cg) return minimise_cg(problem, n, maxminor, maxls, gtol, x, g, f);
  return minimise_direct(problem, n, maxminor, maxls, gtol, x, g, f);
}

Newton::Result Newton::minimise_direct(
    NewtonProblem& problem, int n, int maxminor, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double f) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  terms::Vector d(n);
  terms::Vector x0(n);
  terms::Vector trial_x(n);
  terms::Vector trial_g(n);
  const int trials = std::max(1, maxls);
  int iterations = 0;
  bool fresh = false;  // the factor is of the tangent at x
  bool stale = false;  // the factor is of an earlier x, reused
  int reused = 0;      // steps taken with the current factor since it was made
  while (iterations < maxminor && nlp::norm(n, g) > gtol) {
    if (fresh) {
      // The same tangent, a larger shift.
      while (!factorize_shifted()) tau_ = std::max(10.0 * tau_, options_.tau_min);
      stale = false;
      reused = 0;
    } else if (reused > 0 && reused <= options_.reuse_steps) {
      stale = true;  // a positive definite matrix all the same: its step descends
    } else {
      factorize_at(problem, x);
      stale = false;
      reused = 0;
    }
    fresh = !stale;
    // The step solves (T + tau R) d = -g.
    for (std::size_t i = 0; i < size; ++i) d.data()[i] = -g.data()[i];
    cholesky_->solve(d.data(), d.data());
    const double slope = dot(n, d.data(), g.data());
    if (!(slope < 0.0)) {
      // Only rounding can make a positive definite system's step ascend:
      // hold the membrane harder.
      tau_ = std::max(10.0 * tau_, options_.tau_min);
      continue;
    }
    // Backtracking line search; trial points are rebuilt from x0.
    std::copy(x.data(), x.data() + size, x0.data());
    const Search found = search(problem, n, trials, x0, d, f, nlp::norm(n, g), slope, clamped_, trial_x, trial_g);
    const bool accepted = found.accepted;
    const double step = found.step;
    const double ft = found.ft;
    if (!accepted && stale) {
      // The old factor no longer serves: a new one at x.
      reused = 0;
      continue;
    }
    if (!accepted) {
      // No decrease along this step: it trusted the tangent too far. Once
      // the shift is at its limit the energy cannot be lowered further
      // (rounding): return unconverged, as the other minimisers do when
      // they run out of steps.
      if (tau_ >= options_.tau_max) break;
      tau_ = std::min(std::max(10.0 * tau_, options_.tau_min), options_.tau_max);
      continue;
    }
    std::swap(x, trial_x);
    std::swap(g, trial_g);
    f = ft;
    fresh = false;
    ++reused;
    ++iterations;
    ++counts_.steps;
    if (step >= 1.0) {
      tau_ = tau_ / 10.0;
      if (tau_ < options_.tau_min) tau_ = 0.0;
    }
  }
  return Result{iterations, f, nlp::norm(n, g) <= gtol};
}

namespace {

// y = (T + tau R) v for the symmetric matrices whose upper triangles p and
// values (T) and shift (R) hold, column by column: a fixed order.
void multiply(const TangentPattern& p,
              const std::vector<double>& values,
              const std::vector<double>& shift,
              double tau,
              const double* v,
              double* y) {
  const std::size_t n = static_cast<std::size_t>(p.n);
  for (std::size_t i = 0; i < n; ++i) y[i] = 0.0;
  for (std::size_t j = 0; j < n; ++j) {
    const double vj = v[j];
    double yj = y[j];
    const std::size_t end = static_cast<std::size_t>(p.colptr[j + 1]);
    for (std::size_t e = static_cast<std::size_t>(p.colptr[j]); e < end; ++e) {
      const std::size_t i = static_cast<std::size_t>(p.row[e]);
      const double m = tau != 0.0 ? values[e] + tau * shift[e] : values[e];
      if (i == j) {
        yj = yj + m * vj;
      } else {
        y[i] = y[i] + m * vj;
        yj = yj + m * v[i];
      }
    }
    y[j] = yj;
  }
}

}  // namespace

void Newton::factorize_preconditioner(NewtonProblem& problem, const terms::Vector& x) {
  std::copy(tangent_.begin(), tangent_.end(), cholesky_->values().begin());
  applied_tau_ = 0.0;
  clamped_ = false;
  // A failed factorization costs as much as a good one: after the exact
  // tangent fails, the next factorization goes straight to the clamped one,
  // and the one after that tries the exact tangent again.
  if (options_.exact_first && !exact_failed_) {
    if (factorize_shifted()) return;
    exact_failed_ = true;
  } else {
    exact_failed_ = false;
  }
  factorize_clamped(problem, x);
}

int Newton::minimise_region(
    NewtonProblem& problem, int n, int most, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double& f) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  if (options_.region_share <= 0.0 || most <= 0 || size == 0) return 0;
  // The fewest unknowns that hold 99.9 % of the gradient's square.
  std::vector<double> square(size);
  double total = 0.0;
  for (std::size_t i = 0; i < size; ++i) {
    square[i] = g.data()[i] * g.data()[i];
    total = total + square[i];
  }
  // Only the largest region_share of them can qualify: those alone are
  // sorted (the rest would be sorted at every step for nothing).
  const std::size_t widest =
      std::min(size, static_cast<std::size_t>(options_.region_share * static_cast<double>(size)));
  if (widest == 0 || !std::isfinite(total)) return 0;  // a NaN would break the ordering
  std::vector<double> sorted(square);
  const auto larger = [](double p, double q) { return p > q; };
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(widest - 1), sorted.end(), larger);
  std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(widest), larger);
  double held = 0.0;
  std::size_t k = 0;
  while (k < widest && held < 0.999 * total) held = held + sorted[k++];
  if (k == 0 || !(held >= 0.999 * total)) return 0;
  const double least = sorted[k - 1];
  std::vector<int> seed;
  for (std::size_t i = 0; i < size; ++i) {
    if (square[i] >= least) seed.push_back(static_cast<int>(i));
  }
  sorted = {};
  square = {};
  const std::unique_ptr<RegionProblem> region = problem.region(x, seed, options_.region_rings, pattern_, shift_);
  if (!region || static_cast<double>(region->unknowns().size()) > options_.region_largest * static_cast<double>(size)) {
    return 0;
  }
  NewtonOptions options = options_;
  options.step = NewtonOptions::Step::direct;
  options.reuse_steps = 0;
  options.region_share = 0.0;
  Newton local(region->pattern(), region->shift(), options);
  const int nr = static_cast<int>(region->unknowns().size());
  terms::Vector xr = region->gather(x);
  terms::Vector gr(nr);
  const double fr = region->energy(nr, xr, gr);
  Result result{0, fr, false};
  try {
    result = local.minimise(*region, nr, std::min(most, options_.region_most), maxls, gtol, xr, gr, fr);
  } catch (const platform::DataError&) {
    return 0;  // the region's shift ran out: leave it to the whole model's steps
  }
  ++counts_.regions;
  counts_.region_steps += result.iterations;
  counts_.region_factorizations += local.counts().factorizations;
  counts_.evaluations += local.counts().evaluations;
  if (result.iterations == 0) return 0;
  const terms::Vector before = region->gather(x);
  region->scatter(xr, x);
  const double fn = problem.energy(n, x, g);
  ++counts_.evaluations;
  if (!std::isfinite(fn)) {
    region->scatter(before, x);
    f = problem.energy(n, x, g);
    ++counts_.evaluations;
    return 0;
  }
  f = fn;
  return result.iterations;
}

Newton::Result Newton::minimise_cg(
    NewtonProblem& problem, int n, int maxminor, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double f) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  terms::Vector d(n);
  terms::Vector r(n);
  terms::Vector z(n);
  terms::Vector p(n);
  terms::Vector tp(n);
  terms::Vector x0(n);
  terms::Vector trial_x(n);
  terms::Vector trial_g(n);
  tangent_.resize(pattern_.row.size());
  const int trials = std::max(1, maxls);
  int iterations = 0;
  bool refactor = !factored_;
  bool fresh = false;  // the factor is of the tangent at x
  bool region_tried = false;
  while (iterations < maxminor && nlp::norm(n, g) > gtol) {
    if (!region_tried) {
      region_tried = true;
      const int taken = minimise_region(problem, n, maxminor - iterations, maxls, gtol, x, g, f);
      iterations += taken;
      counts_.steps += taken;
      if (taken > 0) continue;
    }
    problem.tangent(x, false, tangent_);
    if (refactor) {
      factorize_preconditioner(problem, x);
      if (options_.single_preconditioner) cholesky_->round_to_single();
      factored_ = true;
      refactor = false;
      fresh = true;
    }

    // Conjugate gradients on (T + tau R) d = -g from d = 0 (the shift, as
    // in the direct method, holds the flat membrane, whose exact tangent
    // has no stiffness across its plane), preconditioned by the factor M
    // (positive definite). They stop at the tolerance, after
    // cg_most iterations, or at a direction of non-positive curvature of T
    // (an indefinite tangent): then the last iterate is kept, or, on the
    // first iteration, the preconditioned gradient step M^-1 (-g) itself.
    // Every iterate descends.
    for (std::size_t i = 0; i < size; ++i) {
      d.data()[i] = 0.0;
      r.data()[i] = -g.data()[i];
    }
    cholesky_->solve(r.data(), z.data());
    std::copy(z.data(), z.data() + size, p.data());
    double rz = dot(n, r.data(), z.data());
    const double target = options_.cg_tolerance * nlp::norm(n, g);
    int cg = 0;
    bool curved_down_first = false;
    while (cg < options_.cg_most) {
      ++cg;
      ++counts_.cg_iterations;
      multiply(pattern_, tangent_, shift_, tau_, p.data(), tp.data());
      const double curvature = dot(n, p.data(), tp.data());
      if (!(curvature > 0.0)) {
        if (cg == 1) {
          std::copy(z.data(), z.data() + size, d.data());
          curved_down_first = true;
        }
        break;
      }
      const double alpha = rz / curvature;
      for (std::size_t i = 0; i < size; ++i) {
        d.data()[i] = d.data()[i] + alpha * p.data()[i];
        r.data()[i] = r.data()[i] - alpha * tp.data()[i];
      }
      if (nlp::norm(n, r) <= target) break;
      cholesky_->solve(r.data(), z.data());
      const double rz_next = dot(n, r.data(), z.data());
      const double beta = rz_next / rz;
      rz = rz_next;
      for (std::size_t i = 0; i < size; ++i) p.data()[i] = z.data()[i] + beta * p.data()[i];
    }
    const double slope = dot(n, d.data(), g.data());
    if (!(slope < 0.0)) {
      // Only rounding can make these directions ascend: a new factor, held
      // harder.
      if (fresh) tau_ = std::max(10.0 * tau_, options_.tau_min);
      refactor = true;
      continue;
    }

    // Backtracking line search from the full step, as in the direct method.
    std::copy(x.data(), x.data() + size, x0.data());
    const Search found =
        search(problem, n, trials, x0, d, f, nlp::norm(n, g), slope, curved_down_first, trial_x, trial_g);
    const bool accepted = found.accepted;
    const double step = found.step;
    const double ft = found.ft;
    if (!accepted) {
      if (!fresh) {
        refactor = true;  // the old factor no longer serves
        continue;
      }
      if (tau_ >= options_.tau_max) break;
      tau_ = std::min(std::max(10.0 * tau_, options_.tau_min), options_.tau_max);
      refactor = true;
      continue;
    }
    std::swap(x, trial_x);
    std::swap(g, trial_g);
    f = ft;
    ++iterations;
    ++counts_.steps;
    region_tried = false;
    if (fresh && step >= 1.0) {
      tau_ = tau_ / 10.0;
      if (tau_ < options_.tau_min) tau_ = 0.0;
    }
    fresh = false;
    if (cg > options_.refactor_after) refactor = true;
  }
  return Result{iterations, f, nlp::norm(n, g) <= gtol};
}

}  // namespace solver
