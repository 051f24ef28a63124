#include "newton/newton.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <utility>

#include "platform/failure.h"
#include "platform/thread_pool.h"

namespace solver {

namespace {

using nlp::dot;

// Columns j0..j1-1 of y = (T + tau R) v for the symmetric matrices whose
// upper triangles p and values (T) and shift (R) hold, into y: each
// column's own entries (a dot product down the column) start its row's
// sum, and the later columns' entries above their diagonal add to the
// rows they name, column by column: a fixed order. The caller zeroes y.
void multiply_columns(const TangentPattern& p,
                      std::span<const double> values,
                      const std::vector<double>& shift,
                      double tau,
                      const double* v,
                      double* y,
                      std::size_t j0,
                      std::size_t j1) {
  for (std::size_t j = j0; j < j1; ++j) {
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

TangentProduct::TangentProduct(const TangentPattern& p) : pattern_(p) {
  // The first column at or past half of the stored entries.
  const std::size_t n = static_cast<std::size_t>(p.n);
  const int half = p.colptr.empty() ? 0 : p.colptr[n] / 2;
  while (cut_ < n && p.colptr[cut_] < half) ++cut_;
}

void TangentProduct::apply(std::span<const double> values,
                           const std::vector<double>& shift,
                           double tau,
                           const double* v,
                           double* y,
                           platform::ThreadPool* pool) {
  const std::size_t n = static_cast<std::size_t>(pattern_.n);
  if (later_.size() != n) later_.resize(n);  // made at the first product: a direct step needs none
  double* later = later_.data();
  auto part = [&](std::size_t k) {
    if (k == 0) {
      std::fill(y, y + cut_, 0.0);
      multiply_columns(pattern_, values, shift, tau, v, y, 0, cut_);
    } else {
      std::fill(later, later + n, 0.0);
      multiply_columns(pattern_, values, shift, tau, v, later, cut_, n);
    }
  };
  // Rows below the cut: the first part's sum, then the second's; the
  // others hold the second part's alone.
  auto join = [&](std::size_t k) {
    if (k == 0) {
      for (std::size_t i = 0; i < cut_; ++i) y[i] = y[i] + later[i];
    } else {
      std::copy(later + cut_, later + n, y + cut_);
    }
  };
  if (pool == nullptr || pool->size() < 2) {
    part(0);
    part(1);
    join(0);
    join(1);
    return;
  }
  pool->run(2, part);
  pool->run(2, join);
}

// The vectors of one call: the direction, the line search's start and
// trial, and the conjugate gradients' residual, preconditioned residual,
// search direction and its product with the matrix (cg only).
struct Newton::Workspace {
  Workspace(int n, bool cg)
      : d(n), x0(n), trial_x(n), trial_g(n), r(cg ? n : 0), z(cg ? n : 0), p(cg ? n : 0), tp(cg ? n : 0) {}
  terms::Vector d, x0, trial_x, trial_g;
  terms::Vector r, z, p, tp;
};

Newton::Newton(const TangentPattern& p, std::vector<double> shift, NewtonOptions options)
    : pattern_(p),
      shift_values_(std::move(shift)),
      options_(options),
      cholesky_(make_sparse_cholesky()),
      shift_(options.tau_start, options.tau_min, options.tau_max),
      product_(p) {
  if (shift_values_.size() != p.row.size()) {
    throw platform::RangeError("the shift does not match the tangent's pattern");
  }
  {
    const Timed timed(counts_.times.analysis);
    cholesky_->analyse(p.n, p.colptr, p.row);
  }
  counts_.tangent_entries = static_cast<double>(p.row.size());
  counts_.factor_entries = cholesky_->factor_entries();
}

int Newton::iterations() const {
  return iterations_ + (region_running_ != nullptr ? region_running_->iterations() : 0);
}

bool Newton::factorize_shifted() {
  // The matrix holds T + applied_tau_ R: move it to T + tau R in place.
  const std::span<double> m = cholesky_->values();
  const double tau = shift_.tau();
  const double change = tau - applied_tau_;
  if (change != 0.0) {
    for (std::size_t k = 0; k < m.size(); ++k) m[k] = m[k] + change * shift_values_[k];
  }
  applied_tau_ = tau;
  ++counts_.factorizations;
  SparseCholesky::Status status;
  {
    const Timed timed(counts_.times.factorizations);
    status = cholesky_->factorize();
  }
  if (status == SparseCholesky::Status::success) return true;
  ++counts_.failed;
  return false;
}

bool Newton::factorize_clamped(NewtonProblem& problem, const terms::Vector& x) {
  clamped_ = true;
  {
    const Timed timed(counts_.times.tangents);
    problem.tangent(x, true, cholesky_->values());
  }
  applied_tau_ = 0.0;
  while (!factorize_shifted()) {
    if (!shift_.on_failure()) return false;
  }
  return true;
}

bool Newton::factorize_at(NewtonProblem& problem, const terms::Vector& x) {
  if (options_.exact_first) {
    clamped_ = false;
    {
      const Timed timed(counts_.times.tangents);
      problem.tangent(x, false, cholesky_->values());
    }
    applied_tau_ = 0.0;
    if (factorize_shifted()) return true;
  }
  return factorize_clamped(problem, x);
}

bool Newton::factorize_preconditioner(NewtonProblem& problem, const terms::Vector& x) {
  applied_tau_ = 0.0;
  clamped_ = false;
  // A failed factorization costs as much as a good one: after the exact
  // tangent fails, the next factorization goes straight to the clamped one,
  // and the one after that tries the exact tangent again.
  bool made = false;
  if (options_.exact_first && !exact_failed_) {
    made = factorize_shifted();
    exact_failed_ = !made;
  } else {
    exact_failed_ = false;
  }
  if (!made) made = factorize_clamped(problem, x);
  // The values were the exact tangent's, which the products read: it is
  // made again rather than kept in a second copy, once per factorization.
  {
    const Timed timed(counts_.times.tangents);
    problem.tangent(x, false, cholesky_->values());
  }
  return made;
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
  const double noise = kEnergyNoise * std::max(std::fabs(f), options_.energy_scale);
  Search found{false, 1.0, f};
  for (int k = 1; k <= trials && !found.accepted; ++k) {
    const double step = found.step;
    for (std::size_t i = 0; i < size; ++i) trial_x.data()[i] = x0.data()[i] + step * d.data()[i];
    double ft;
    {
      const Timed timed(counts_.times.evaluations);
      ft = problem.energy(n, trial_x, trial_g);
    }
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
    double fl;
    {
      const Timed timed(counts_.times.evaluations);
      fl = problem.energy(n, far_x_, far_g_);
    }
    ++counts_.evaluations;
    if (!(fl < found.ft)) break;
    std::swap(trial_x, far_x_);
    std::swap(trial_g, far_g_);
    found.ft = fl;
    found.step = longer;
  }
  return found;
}

nlp::Result Newton::minimise(
    NewtonProblem& problem, int n, int maxminor, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double f) {
  const Timed timed(counts_.times.total);
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  const bool cg = options_.step == NewtonOptions::Step::cg;
  Workspace w(n, cg);
  const int trials = std::max(1, maxls);
  iterations_ = 0;
  again_ = false;
  reused_ = 0;
  refactor_ = !factored_;
  // The regions are tried before the first step and after every step taken
  // on the whole problem (cg only).
  bool region_tried = !cg;
  bool stalled = false;
  while (iterations_ < maxminor && nlp::norm(n, g) > gtol) {
    if (!region_tried) {
      region_tried = true;
      const int taken = minimise_region(problem, n, maxminor - iterations_, maxls, gtol, x, g, f);
      iterations_ += taken;
      counts_.steps += taken;
      if (taken > 0) continue;
    }
    Attempt attempt;
    if (!(cg ? cg_direction(problem, n, x, g, w, attempt) : direct_direction(problem, n, x, g, w, attempt))) {
      stalled = true;
      break;
    }
    const double slope = dot(n, w.d.data(), g.data());
    Search found{false, 0.0, f};
    // A direction of a positive definite system ascends only by rounding:
    // it is refused like a step that finds no decrease.
    if (slope < 0.0) {
      // Trial points are rebuilt from x0.
      std::copy(x.data(), x.data() + size, w.x0.data());
      found = search(problem, n, trials, w.x0, w.d, f, nlp::norm(n, g), slope, attempt.lengthen, w.trial_x, w.trial_g);
    }
    if (!found.accepted) {
      // With a factorization made for it, the step trusted the tangent too
      // far: hold the membrane harder. With an older one: a new one at x.
      if (attempt.fresh && !shift_.on_failure()) {
        stalled = true;
        break;
      }
      if (cg) {
        refactor_ = true;
      } else {
        again_ = attempt.fresh;
        if (!attempt.fresh) reused_ = 0;
      }
      continue;
    }
    std::swap(x, w.trial_x);
    std::swap(g, w.trial_g);
    f = found.ft;
    ++iterations_;
    ++counts_.steps;
    if (attempt.lowers_shift && found.step >= 1.0) shift_.on_success();
    if (cg) {
      region_tried = false;
      if (attempt.cg > options_.refactor_after) refactor_ = true;
    } else {
      again_ = false;
      ++reused_;
    }
  }
  return nlp::Result{iterations_, f, nlp::norm(n, g) <= gtol, stalled};
}

bool Newton::direct_direction(
    NewtonProblem& problem, int n, const terms::Vector& x, const terms::Vector& g, Workspace& w, Attempt& attempt) {
  if (again_) {
    // The same tangent, the larger shift.
    while (!factorize_shifted()) {
      if (!shift_.on_failure()) return false;
    }
    reused_ = 0;
    attempt.fresh = true;
  } else if (reused_ > 0 && reused_ <= options_.reuse_steps) {
    attempt.fresh = false;  // a positive definite matrix all the same: its step descends
  } else {
    if (!factorize_at(problem, x)) return false;
    reused_ = 0;
    attempt.fresh = true;
  }
  // The step solves (T + tau R) d = -g.
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  for (std::size_t i = 0; i < size; ++i) w.d.data()[i] = -g.data()[i];
  {
    const Timed timed(counts_.times.solves);
    cholesky_->solve(w.d.data(), w.d.data());
  }
  rank_one_ = problem.rank_one(x);
  if (!rank_one_.empty()) solve_rank_one(n, w.d.data());
  attempt.lowers_shift = true;
  attempt.lengthen = clamped_;
  return true;
}

bool Newton::cg_direction(
    NewtonProblem& problem, int n, const terms::Vector& x, const terms::Vector& g, Workspace& w, Attempt& attempt) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  {
    const Timed timed(counts_.times.tangents);
    problem.tangent(x, false, cholesky_->values());
  }
  rank_one_ = problem.rank_one(x);
  if (refactor_) {
    if (!factorize_preconditioner(problem, x)) {
      factored_ = false;  // no usable factor is left
      return false;
    }
    if (options_.single_preconditioner) cholesky_->round_to_single();
    factored_ = true;
    refactor_ = false;
    attempt.fresh = true;
  }
  // Conjugate gradients on (T + tau R) d = -g from d = 0 (the shift, as in
  // the direct step, holds the flat membrane, whose exact tangent has no
  // stiffness across its plane), preconditioned by the factor M (positive
  // definite). They stop at the tolerance, after cg_most iterations, or at
  // a direction of non-positive curvature of T (an indefinite tangent):
  // then the last iterate is kept, or, on the first iteration, the
  // preconditioned gradient step M^-1 (-g) itself. Every iterate descends.
  terms::Vector& d = w.d;
  terms::Vector& r = w.r;
  terms::Vector& z = w.z;
  terms::Vector& p = w.p;
  terms::Vector& tp = w.tp;
  for (std::size_t i = 0; i < size; ++i) {
    d.data()[i] = 0.0;
    r.data()[i] = -g.data()[i];
  }
  {
    const Timed timed(counts_.times.solves);
    cholesky_->solve(r.data(), z.data());
  }
  std::copy(z.data(), z.data() + size, p.data());
  double rz = dot(n, r.data(), z.data());
  const double target = options_.cg_tolerance * nlp::norm(n, g);
  const double tau = shift_.tau();
  int cg = 0;
  bool curved_down_first = false;
  while (cg < options_.cg_most) {
    ++cg;
    ++counts_.cg_iterations;
    {
      const Timed timed(counts_.times.products);
      product_.apply(cholesky_->values(), shift_values_, tau, p.data(), tp.data(), pool_);
      for (const RankOne& t : rank_one_) {
        const double c = t.weight * dot(n, t.v.data(), p.data());
        for (std::size_t i = 0; i < size; ++i) tp.data()[i] = tp.data()[i] + c * t.v[i];
      }
    }
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
    {
      const Timed timed(counts_.times.solves);
      cholesky_->solve(r.data(), z.data());
    }
    const double rz_next = dot(n, r.data(), z.data());
    const double beta = rz_next / rz;
    rz = rz_next;
    for (std::size_t i = 0; i < size; ++i) p.data()[i] = z.data()[i] + beta * p.data()[i];
  }
  attempt.cg = cg;
  attempt.lowers_shift = attempt.fresh;
  attempt.lengthen = curved_down_first;
  return true;
}

void Newton::solve_rank_one(int n, double* y) {
  // (M + V W V^T)^-1 b = y - Z (W^-1 + V^T Z)^-1 V^T y, with y = M^-1 b and
  // Z = M^-1 V; the small matrix C = W^-1 + V^T Z is symmetric positive
  // definite (M is, each w > 0), so Cholesky solves it.
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  const std::size_t k = rank_one_.size();
  std::vector<std::vector<double>> z(k, std::vector<double>(size));
  {
    const Timed timed(counts_.times.solves);
    for (std::size_t a = 0; a < k; ++a) cholesky_->solve(rank_one_[a].v.data(), z[a].data());
  }
  std::vector<double> c(k * k), r(k);
  for (std::size_t a = 0; a < k; ++a) {
    r[a] = dot(n, rank_one_[a].v.data(), y);
    for (std::size_t b = 0; b < k; ++b) c[a * k + b] = dot(n, rank_one_[a].v.data(), z[b].data());
    c[a * k + a] = c[a * k + a] + 1.0 / rank_one_[a].weight;
  }
  for (std::size_t j = 0; j < k; ++j) {  // C = L L^T, in place (lower triangle)
    for (std::size_t m = 0; m < j; ++m) c[j * k + j] = c[j * k + j] - c[j * k + m] * c[j * k + m];
    c[j * k + j] = std::sqrt(c[j * k + j]);
    for (std::size_t i = j + 1; i < k; ++i) {
      for (std::size_t m = 0; m < j; ++m) c[i * k + j] = c[i * k + j] - c[i * k + m] * c[j * k + m];
      c[i * k + j] = c[i * k + j] / c[j * k + j];
    }
  }
  for (std::size_t i = 0; i < k; ++i) {  // L s = r
    for (std::size_t m = 0; m < i; ++m) r[i] = r[i] - c[i * k + m] * r[m];
    r[i] = r[i] / c[i * k + i];
  }
  for (std::size_t i = k; i-- > 0;) {  // L^T t = s
    for (std::size_t m = i + 1; m < k; ++m) r[i] = r[i] - c[m * k + i] * r[m];
    r[i] = r[i] / c[i * k + i];
  }
  for (std::size_t a = 0; a < k; ++a) {
    for (std::size_t i = 0; i < size; ++i) y[i] = y[i] - r[a] * z[a][i];
  }
}

int Newton::minimise_region(
    NewtonProblem& problem, int n, int most, int maxls, double gtol, terms::Vector& x, terms::Vector& g, double& f) {
  const std::size_t size = static_cast<std::size_t>(std::max(n, 0));
  if (options_.region_share <= 0.0 || most <= 0 || size == 0) return 0;
  // Choosing, building and minimising the region count as the regions'
  // time; the whole model's evaluations after it as evaluations.
  std::optional<Timed> timed(std::in_place, counts_.times.regions);
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
  const std::unique_ptr<SubProblem> region = problem.region(x, seed, options_.region_rings, pattern_, shift_values_);
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
  // The progress line counts the region's steps as they are taken.
  struct Running {
    const Newton*& running;
    ~Running() { running = nullptr; }
  } running{region_running_ = &local};
  const nlp::Result result = local.minimise(*region, nr, std::min(most, options_.region_most), maxls, gtol, xr, gr, fr);
  timed.reset();
  ++counts_.regions;
  counts_.region_factorizations += local.counts().factorizations;
  counts_.evaluations += local.counts().evaluations;
  // A region whose shift ran out is left to the whole model's steps.
  if (result.stalled || result.iterations == 0) return 0;
  counts_.region_steps += result.iterations;
  const terms::Vector before = region->gather(x);
  region->scatter(xr, x);
  const Timed evaluating(counts_.times.evaluations);
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

}  // namespace solver
