#include "energy/evaluator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "platform/failure.h"

namespace solver {

namespace {

// Parts of a parallel pass are told apart by one byte each.
constexpr unsigned kMostParts = 64;

}  // namespace

EnergyEvaluator::EnergyEvaluator(const analysis& a, const EvaluationOptions& options) : a_(a) {
  const std::size_t nelem = static_cast<std::size_t>(a.nelem);
  slots_.resize(nelem);
  for (std::size_t e = 0; e < nelem; ++e) {
    const element& el = a.elem(static_cast<int>(e) + 1);
    for (std::size_t v = 0; v < 3; ++v) {
      for (std::size_t j = 0; j < 3; ++j) slots_[e][3 * v + j] = a.dof(el.node[v], static_cast<int>(j) + 1) - 1;
    }
  }
  xfull_.assign(3 * static_cast<std::size_t>(a.nnode), 0.0);

  unsigned parts = options.threads != 0 ? options.threads : platform::available_cpus();
  if (parts > kMostParts) parts = kMostParts;
  if (parts >= 2 && a.nelem >= 2 && a.nelem >= options.parallel_from) {
    pool_ = std::make_unique<platform::ThreadPool>(parts, options.spin, options.start_thread);
    parts = pool_->size();  // fewer when a thread could not start
    if (parts < 2) pool_.reset();
  } else {
    parts = 1;
  }
  lay_out_parts(parts);
  // The one-thread pass adds every term into a full-length gradient, whose
  // constrained slots collect terms nobody reads; that spares the kernel a
  // branch per component. A parallel pass starts each unknown's gradient in
  // g itself and needs no such workspace.
  if (!pool_) gfull_.assign(xfull_.size(), 0.0);
}

EnergyEvaluator::~EnergyEvaluator() = default;

void EnergyEvaluator::lay_out_parts(unsigned parts) {
  const std::size_t nelem = static_cast<std::size_t>(a_.nelem);
  const std::size_t nfree = static_cast<std::size_t>(a_.nfree);
  const std::size_t entries = xfull_.size();
  // Contiguous parts of about equal size, each starting on a multiple of
  // eight elements, so that every part but the last fills the groups of
  // the widest lanes (the results would be the same bits anyway).
  part_element_.assign(1, 0);
  for (unsigned t = 1; t < parts; ++t) {
    std::size_t e = nelem * t / parts;
    e -= e % 8;
    part_element_.push_back(std::max(e, part_element_.back()));
  }
  part_element_.push_back(nelem);
  if (parts < 2) return;

  // Owner of an unknown: the first part that touches it (part 0 for an
  // unknown no element touches, whose gradient is -force alone). A later
  // part that touches it defers its terms.
  constexpr unsigned char kNobody = 255;
  std::vector<unsigned char> owner(nfree, kNobody);
  deferred_.assign(parts, {});
  defers_.assign(parts, std::vector<unsigned char>(entries, 0));
  for (unsigned t = 0; t < parts; ++t) {
    std::vector<unsigned char>& defers = defers_[t];
    DeferredTerms& d = deferred_[t];
    for (std::size_t e = part_element_[t]; e < part_element_[t + 1]; ++e) {
      const std::size_t before = d.unknown.size();
      for (const int slot : slots_[e]) {
        if (slot >= a_.nfree) continue;
        unsigned char& o = owner[static_cast<std::size_t>(slot)];
        if (o == kNobody) o = static_cast<unsigned char>(t);
        if (o != t) {
          defers[static_cast<std::size_t>(slot)] = 1;
          d.unknown.push_back(slot);
        }
      }
      if (d.unknown.size() != before) d.seam.push_back(e);
    }
    d.seam.push_back(std::numeric_limits<std::size_t>::max());
    d.value.assign(d.unknown.size(), 0.0);
    d.handed.assign(d.unknown.size(), 0.0);
  }
  owned_.assign(parts, {});
  for (std::size_t k = 0; k < nfree; ++k) {
    owned_[owner[k] == kNobody ? 0 : owner[k]].push_back(static_cast<int>(k));
  }
  gradient_.assign(parts, std::vector<double>(entries, 0.0));
  workspace_.assign(parts, std::vector<double>(entries, 0.0));
  energies_.assign(nelem - part_element_[1], 0.0);
  part_energies_.assign(parts, {});
  for (unsigned t = 1; t < parts; ++t) part_energies_[t].assign(part_element_[t + 1] - part_element_[t], 0.0);

  // The node table's entries: the free ones in table order with their
  // unknowns, the table entry of every unknown, and the prescribed ones.
  const int* dof = a_.dof.data();
  free_entry_.assign(nfree, 0);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t slot = static_cast<std::size_t>(dof[i] - 1);
    if (slot < nfree) {
      free_in_table_order_.push_back({slot, i});
      free_entry_[slot] = i;
    } else {
      prescribed_.push_back({slot, i});
    }
  }
}

namespace {

void check_size(const analysis& a, std::size_t entries, std::size_t slots, int n, int xs, int gs) {
  if (n != a.nfree || xs < n || gs < n || entries != 3 * static_cast<std::size_t>(a.nnode) ||
      slots != static_cast<std::size_t>(a.nelem)) {
    throw platform::RangeError("the energy was asked for " + std::to_string(n) + " unknowns (vectors of " +
                               std::to_string(xs) + " and " + std::to_string(gs) + ") of a model set up for " +
                               std::to_string(a.nfree));
  }
}

}  // namespace

template <bool kFiniteOnly, class Source>
std::optional<double> EnergyEvaluator::serial_pass(
    int n, const Source& source, terms::Vector& g, const double* d, double* slope) {
  const std::size_t entries = xfull_.size();
  const int* dof = a_.dof.data();
  const double* force = a_.force.data();
  const double* displ = a_.displ.data();
  double* xf = xfull_.data();
  double* gf = gfull_.data();

  // One pass over the node table puts x and the prescribed displacements
  // into the full-length workspace by slot and starts the gradient at
  // -force; f takes the load potential in node and axis order.
  double f = 0.0;
  bool finite = true;
  for (std::size_t i = 0; i < entries; ++i) {
    const int k = dof[i];
    const std::size_t slot = static_cast<std::size_t>(k - 1);
    if (k <= n) {
      const double xk = source(slot);  // read before g is written: x and g may be one vector
      if constexpr (kFiniteOnly) finite = finite & std::isfinite(xk);
      f = f - force[i] * xk;
      xf[slot] = xk;
      gf[slot] = -force[i];
    } else {
      gf[slot] = 0.0;
      xf[slot] = displ[i];
    }
  }
  if (kFiniteOnly && !finite) return std::nullopt;
  f = serial_elements(xf, gf, f);
  if (slope == nullptr) {
    if (n > 0) std::memcpy(g.data(), gf, static_cast<std::size_t>(n) * sizeof(double));
    return f;
  }
  // The slope d.g summed in index order as g is copied out.
  double* gp = g.data();
  double s = 0.0;
  for (int i = 0; i < n; ++i) {
    gp[i] = gf[i];
    s = s + d[i] * gp[i];
  }
  *slope = s;
  return f;
}

double EnergyEvaluator::operator()(int n, const terms::Vector& x, terms::Vector& g) {
  check_size(a_, xfull_.size(), slots_.size(), n, x.size(), g.size());
  if (pool_) return parallel_pass(n, x, g);
  const double* xp = x.data();
  return *serial_pass<false>(
      n, [xp](std::size_t slot) { return xp[slot]; }, g, nullptr, nullptr);
}

std::optional<double> EnergyEvaluator::at_step(int n,
                                               const terms::Vector& x0,
                                               double step,
                                               const terms::Vector& d,
                                               terms::Vector& x,
                                               terms::Vector& g,
                                               double* slope) {
  check_size(a_, xfull_.size(), slots_.size(), n, std::min(x.size(), std::min(x0.size(), d.size())), g.size());
  const double* x0p = x0.data();
  const double* dp = d.data();
  double* xp = x.data();
  if (pool_) {
    // Every part forms the point in its workspace (part 0 also into x),
    // where it would otherwise copy x: one pass on each core instead of a
    // pass on the calling thread before the parts start.
    return run_parts(
        n,
        [n, x0p, dp, xp, step](std::size_t t, double* xf) {
          bool finite = true;
          for (int i = 0; i < n; ++i) {
            const double xi = x0p[i] + step * dp[i];
            xf[i] = xi;
            finite = finite & std::isfinite(xi);
          }
          if (t == 0 && n > 0) std::memcpy(xp, xf, static_cast<std::size_t>(n) * sizeof(double));
          return finite;
        },
        g,
        dp,
        slope);
  }
  return serial_pass<true>(
      n,
      [x0p, dp, xp, step](std::size_t slot) {
        const double xk = x0p[slot] + step * dp[slot];
        xp[slot] = xk;
        return xk;
      },
      g,
      dp,
      slope);
}

double EnergyEvaluator::parallel_pass(int n, const terms::Vector& x, terms::Vector& g) {
  // When x and g are one vector, a part could write g before another has
  // copied x: x is then copied into part 0's workspace first, and the
  // others copy from there.
  const std::size_t bytes = static_cast<std::size_t>(n) * sizeof(double);
  const double* source = x.data();
  if (n > 0 && source == g.data()) {
    std::memcpy(workspace_[0].data(), source, bytes);
    source = workspace_[0].data();
  }
  return *run_parts(
      n,
      [n, source, bytes](std::size_t, double* xf) {
        if (n > 0 && source != xf) std::memcpy(xf, source, bytes);
        return true;
      },
      g,
      nullptr,
      nullptr);
}

template <class Fill>
std::optional<double> EnergyEvaluator::run_parts(
    int n, const Fill& fill, terms::Vector& g, const double* d, double* slope) {
  // Everything but the final sums runs inside the parts. Each part puts
  // x and the prescribed displacements into a workspace of its own (fill),
  // from which its elements gather: a workspace written by one core and
  // gathered from by another would cost a transfer between the cores for
  // every line the gather meets, where the copy streams. Part 0 then sums
  // the load potential in node and axis order and goes on into its
  // elements with that sum. Every part starts the gradient
  // of the unknowns it owns at -force and copies it into g when its
  // elements are done. A part whose point is not finite (every part forms
  // the same point) evaluates nothing.
  double f = 0.0;
  bool finite = true;
  auto compute = [this, n, &fill, &g, &f, &finite](std::size_t t) {
    double* xf = workspace_[t].data();
    if (!fill(t, xf)) {
      if (t == 0) finite = false;
      return;
    }
    const double* displ = a_.displ.data();
    for (const PrescribedSlot& p : prescribed_) xf[p.slot] = displ[p.entry];
    if (t == 0) {
      const double* force = a_.force.data();
      double load = 0.0;
      for (const FreeSlot& u : free_in_table_order_) load = load - force[u.entry] * xf[u.slot];
      f = load;
    }
    part_elements(t, xf, n, g.data(), &f);
  };
  pool_->run(part_element_.size() - 1, compute);
  if (!finite) return std::nullopt;

  // The deferred terms, part by part in element order; then the energies
  // of the parts after the first, in element order, and with them, when
  // asked, the slope d.g in index order: two chains of dependent additions
  // in one loop, each as long as it would be alone.
  double* gp = g.data();
  for (std::size_t t = 1; t < deferred_.size(); ++t) {
    const DeferredTerms& dt = deferred_[t];
    for (std::size_t j = 0; j < dt.unknown.size(); ++j) {
      double& gk = gp[static_cast<std::size_t>(dt.unknown[j])];
      gk = gk + dt.handed[j];
    }
  }
  const double* energy = energies_.data();
  const std::size_t ne = energies_.size();
  if (slope == nullptr) {
    for (std::size_t i = 0; i < ne; ++i) f = f + energy[i];
    return f;
  }
  const std::size_t nu = static_cast<std::size_t>(std::max(n, 0));
  const std::size_t both = std::min(ne, nu);
  double s = 0.0;
  for (std::size_t i = 0; i < both; ++i) {
    f = f + energy[i];
    s = s + d[i] * gp[i];
  }
  for (std::size_t i = both; i < ne; ++i) f = f + energy[i];
  for (std::size_t i = both; i < nu; ++i) s = s + d[i] * gp[i];
  *slope = s;
  return f;
}

}  // namespace solver
