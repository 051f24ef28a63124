#include "solver/evaluator.h"

#include <cstring>
#include <string>

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
    pool_ = std::make_unique<platform::ThreadPool>(parts, options.start_thread);
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
  // Contiguous parts of about equal size, each starting on an even element
  // so that the element pairs of the kernel are those of the one-thread
  // pass.
  part_element_.assign(1, 0);
  for (unsigned t = 1; t < parts; ++t) {
    std::size_t e = nelem * t / parts;
    e -= e % 2;
    if (e < static_cast<std::size_t>(part_element_.back())) e = static_cast<std::size_t>(part_element_.back());
    part_element_.push_back(static_cast<int>(e));
  }
  part_element_.push_back(a_.nelem);
  if (parts < 2) return;

  // Owner of an unknown: the first part that touches it. Every later term
  // for it is deferred; count them to size the lists once.
  constexpr unsigned char nobody = 255;
  owner_.assign(nfree, nobody);
  std::vector<std::size_t> count(parts, 0);
  for (unsigned t = 0; t < parts; ++t) {
    const std::size_t end = static_cast<std::size_t>(part_element_[t + 1]);
    for (std::size_t e = static_cast<std::size_t>(part_element_[t]); e < end; ++e) {
      for (const int slot : slots_[e]) {
        if (slot >= a_.nfree) continue;
        unsigned char& o = owner_[static_cast<std::size_t>(slot)];
        if (o == nobody) o = static_cast<unsigned char>(t);
        if (o != t) ++count[t];
      }
    }
  }
  deferred_.assign(parts, {});
  for (unsigned t = 0; t < parts; ++t) deferred_[t].resize(count[t]);
  energies_.assign(nelem, 0.0);
}

double EnergyEvaluator::operator()(int n, const terms::Vector& x, terms::Vector& g) {
  const std::size_t entries = xfull_.size();
  if (n != a_.nfree || x.size() < n || g.size() < n || entries != 3 * static_cast<std::size_t>(a_.nnode) ||
      slots_.size() != static_cast<std::size_t>(a_.nelem)) {
    throw platform::RangeError("the energy was asked for " + std::to_string(n) + " unknowns (vectors of " +
                               std::to_string(x.size()) + " and " + std::to_string(g.size()) +
                               ") of a model set up for " + std::to_string(a_.nfree));
  }
  const bool parallel = pool_ != nullptr;
  const int* dof = a_.dof.data();
  const double* force = a_.force.data();
  const double* displ = a_.displ.data();
  const double* xp = x.data();
  double* xf = xfull_.data();
  double* gf = parallel ? g.data() : gfull_.data();

  // One pass over the node table puts x and the prescribed displacements
  // into the full-length workspace by slot and starts the gradient at
  // -force; f takes the load potential in node and axis order.
  double f = 0.0;
  for (std::size_t i = 0; i < entries; ++i) {
    const int k = dof[i];
    const std::size_t slot = static_cast<std::size_t>(k - 1);
    if (k <= n) {
      const double xk = xp[slot];  // read before g is written: x and g may be one vector
      f = f - force[i] * xk;
      xf[slot] = xk;
      gf[slot] = -force[i];
    } else {
      if (!parallel) gf[slot] = 0.0;
      xf[slot] = displ[i];
    }
  }

  if (!parallel) {
    f = serial_elements(xf, gf, f);
    if (n > 0) std::memcpy(g.data(), gf, static_cast<std::size_t>(n) * sizeof(double));
    return f;
  }

  // The parts run side by side; part 0 extends f and every part writes only
  // the unknowns it owns. Then, in part order, the energies and the deferred
  // terms of the later parts follow, element by element.
  auto compute = [this, xf, n, gf, &f](std::size_t t) { part_elements(t, xf, n, gf, &f); };
  const std::size_t parts = part_element_.size() - 1;
  pool_->run(parts, compute);
  const double* energies = energies_.data();
  const std::size_t count = static_cast<std::size_t>(a_.nelem);
  for (std::size_t e = static_cast<std::size_t>(part_element_[1]); e < count; ++e) f = f + energies[e];
  for (std::size_t t = 1; t < parts; ++t) {
    for (const deferred_term& d : deferred_[t]) {
      double& gk = gf[static_cast<std::size_t>(d.unknown)];
      gk = gk + d.value;
    }
  }
  return f;
}

}  // namespace solver
