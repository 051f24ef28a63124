#include "newton/region.h"

#include <algorithm>
#include <cstddef>

#include "energy/tangent.h"
#include "platform/failure.h"

namespace solver {

namespace {

// The nine displacement components of element el: x for the free ones,
// the prescribed displacements for the others.
void element_delta(const analysis& a, const element& el, const terms::Vector& x, double (&delta)[9]) {
  for (std::size_t v = 0; v < 3; ++v) {
    const int node = el.node[v];
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof(node, j);
      delta[3 * v + static_cast<std::size_t>(j - 1)] = k <= a.nfree ? x(k) : a.displ(node, j);
    }
  }
}

}  // namespace

RegionProblem::RegionProblem(const analysis& a,
                             const MaterialLaw& law,
                             const std::vector<ElementSlots>& slots,
                             const TangentPattern& pattern,
                             const std::vector<double>& shift,
                             const terms::Vector& x,
                             std::span<const int> seed,
                             int rings)
    : a_(a), law_(law), x_(x) {
  const int nfree = a.nfree;
  const std::size_t count = slots.size();
  std::vector<unsigned char> in(static_cast<std::size_t>(nfree), 0);
  for (const int s : seed) {
    if (s < 0 || s >= nfree) throw platform::RangeError("a region's seed is not an unknown of the model");
    in[static_cast<std::size_t>(s)] = 1;
  }
  const auto touches = [&](const ElementSlots& s) {
    for (const int k : s) {
      if (k < nfree && in[static_cast<std::size_t>(k)] != 0) return true;
    }
    return false;
  };
  // Each ring: the elements around the region, then all their unknowns.
  std::vector<int> added;
  for (int ring = 0; ring < rings; ++ring) {
    added.clear();
    for (std::size_t e = 0; e < count; ++e) {
      if (!touches(slots[e])) continue;
      for (const int k : slots[e]) {
        if (k < nfree && in[static_cast<std::size_t>(k)] == 0) added.push_back(k);
      }
    }
    for (const int k : added) in[static_cast<std::size_t>(k)] = 1;
  }
  std::vector<int> local(static_cast<std::size_t>(nfree), -1);
  for (int k = 0; k < nfree; ++k) {
    if (in[static_cast<std::size_t>(k)] == 0) continue;
    local[static_cast<std::size_t>(k)] = static_cast<int>(unknowns_.size());
    unknowns_.push_back(k);
  }
  const int size = static_cast<int>(unknowns_.size());
  for (std::size_t e = 0; e < count; ++e) {
    if (!touches(slots[e])) continue;
    elements_.push_back(e);
    ElementSlots s{};
    for (std::size_t q = 0; q < 9; ++q) {
      const int k = slots[e][q];
      s[q] = k < nfree && local[static_cast<std::size_t>(k)] >= 0 ? local[static_cast<std::size_t>(k)] : size;
    }
    local_slots_.push_back(s);
  }
  force_.assign(unknowns_.size(), 0.0);
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof(p, j);
      if (k <= nfree && local[static_cast<std::size_t>(k - 1)] >= 0) {
        force_[static_cast<std::size_t>(local[static_cast<std::size_t>(k - 1)])] = a.force(p, j);
      }
    }
  }
  pattern_ = tangent_pattern(size, local_slots_);
  // The region's unknowns keep their order, so its upper triangle is the
  // model's among them.
  shift_.assign(pattern_.row.size(), 0.0);
  for (std::size_t j = 0; j < unknowns_.size(); ++j) {
    const std::size_t col = static_cast<std::size_t>(unknowns_[j]);
    const auto begin = pattern.row.begin() + pattern.colptr[col];
    const auto end = pattern.row.begin() + pattern.colptr[col + 1];
    for (int e = pattern_.colptr[j]; e < pattern_.colptr[j + 1]; ++e) {
      const int row = unknowns_[static_cast<std::size_t>(pattern_.row[static_cast<std::size_t>(e)])];
      const auto at = std::lower_bound(begin, end, row);
      shift_[static_cast<std::size_t>(e)] = shift[static_cast<std::size_t>(at - pattern.row.begin())];
    }
  }
}

terms::Vector RegionProblem::gather(const terms::Vector& x) const {
  terms::Vector xr(static_cast<int>(unknowns_.size()));
  for (std::size_t i = 0; i < unknowns_.size(); ++i) xr.data()[i] = x.data()[unknowns_[i]];
  return xr;
}

void RegionProblem::scatter(const terms::Vector& xr, terms::Vector& x) const {
  for (std::size_t i = 0; i < unknowns_.size(); ++i) x.data()[unknowns_[i]] = xr.data()[i];
}

void RegionProblem::place(const terms::Vector& xr) { scatter(xr, x_); }

double RegionProblem::energy(int n, const terms::Vector& xr, terms::Vector& gr) {
  place(xr);
  const std::size_t size = unknowns_.size();
  for (std::size_t i = 0; i < size; ++i) gr.data()[i] = -force_[i];
  double f = 0.0;
  const element* records = a_.elem.data();
  std::array<double, 9> grad{};
  for (std::size_t r = 0; r < elements_.size(); ++r) {
    f = f + law_.cstobj(a_, records[elements_[r]], x_, grad).energy;
    const ElementSlots& s = local_slots_[r];
    for (std::size_t q = 0; q < 9; ++q) {
      if (s[q] < n) gr.data()[s[q]] = gr.data()[s[q]] + grad[q];
    }
  }
  for (std::size_t i = 0; i < size; ++i) f = f - force_[i] * xr.data()[i];
  return f;
}

void RegionProblem::tangent(const terms::Vector& xr, bool clamp, std::span<double> values) {
  if (values.size() != pattern_.row.size()) throw platform::RangeError("tangent values do not match the pattern");
  place(xr);
  std::fill(values.begin(), values.end(), 0.0);
  const element* records = a_.elem.data();
  for (std::size_t r = 0; r < elements_.size(); ++r) {
    double delta[9];
    element_delta(a_, records[elements_[r]], x_, delta);
    double h[81];
    law_.element_tangent(records[elements_[r]], delta, clamp, h);
    add_upper_triangle(h, pattern_.position.data() + TangentPattern::kEntries * r, values);
  }
}

}  // namespace solver
