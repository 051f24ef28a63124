#include "solver/newton.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>

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

void Newton::factorize_at(NewtonProblem& problem, const terms::Vector& x) {
  if (options_.exact_first) {
    clamped_ = false;
    problem.tangent(x, false, cholesky_->values());
    applied_tau_ = 0.0;
    if (factorize_shifted()) return;
  }
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

Newton::Result Newton::minimise(
    NewtonProblem& problem, int n, int maxminor, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double f) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  terms::Vector d(n);
  terms::Vector x0(n);
  terms::Vector trial_x(n);
  terms::Vector trial_g(n);
  terms::Vector far_x(n);
  terms::Vector far_g(n);
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
    double step = 1.0;
    bool accepted = false;
    double ft = f;
    for (int k = 1; k <= trials; ++k) {
      for (std::size_t i = 0; i < size; ++i) trial_x.data()[i] = x0.data()[i] + step * d.data()[i];
      ft = problem.energy(n, trial_x, trial_g);
      ++counts_.evaluations;
      // Near the minimum the decrease may drown in the rounding of the
      // energy (a sum over every element): a trial that does not raise the
      // energy and has lost half the slope is taken too.
      const bool armijo = ft <= f + options_.armijo * step * slope;
      const bool flat = ft <= f && std::fabs(dot(n, d.data(), trial_g.data())) <= 0.5 * -slope;
      if (std::isfinite(ft) && (armijo || flat)) {
        accepted = true;
        break;
      }
      // The minimum of q(t) = f + slope t + c t^2 through (step, ft):
      // t = -slope step^2 / (2 (ft - f - slope step)); kept in
      // [0.1, 0.5] step (a non-finite ft takes 0.1).
      double next = 0.1 * step;
      if (std::isfinite(ft)) {
        const double curvature = ft - f - slope * step;
        if (curvature > 0.0) next = std::clamp(-slope * step * step / (2.0 * curvature), 0.1 * step, 0.5 * step);
      }
      step = next;
    }
    if (accepted && step == 1.0 && clamped_) {
      // The clamped tangent is stiffer than the energy wherever sides are
      // compressed, so its step falls short there: while the slope at the
      // last point is still at least half the initial one, double the step
      // as long as the energy keeps falling.
      for (int k = 1; k < trials && dot(n, d.data(), trial_g.data()) <= 0.5 * slope; ++k) {
        const double longer = 2.0 * step;
        for (std::size_t i = 0; i < size; ++i) far_x.data()[i] = x0.data()[i] + longer * d.data()[i];
        const double fl = problem.energy(n, far_x, far_g);
        ++counts_.evaluations;
        if (!(fl < ft)) break;
        std::swap(trial_x, far_x);
        std::swap(trial_g, far_g);
        ft = fl;
        step = longer;
      }
    }
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

}  // namespace solver
