#include "newton/region.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "energy/tangent.h"
#include "platform/failure.h"

namespace solver {

RegionProblem::RegionProblem(const analysis& a,
                             const EnergyEvaluator& evaluator,
                             const MaterialLaw& law,
                             const TangentPattern& pattern,
                             const std::vector<double>& shift,
                             const terms::Vector& x,
                             std::span<const int> seed,
                             int rings,
                             const PressurePotential* pressure)
    : a_(a),
      evaluator_(evaluator),
      law_(law),
      pressure_(pressure != nullptr && !pressure->empty() ? pressure : nullptr) {
  const std::vector<ElementSlots>& slots = evaluator.slots();
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
  // Places in the workspace: the region's unknowns first, in model order.
  std::vector<int> place(3 * static_cast<std::size_t>(a.nnode), -1);  // by model slot
  for (int k = 0; k < nfree; ++k) {
    if (in[static_cast<std::size_t>(k)] == 0) continue;
    place[static_cast<std::size_t>(k)] = static_cast<int>(unknowns_.size());
    unknowns_.push_back(k);
  }
  const int size = static_cast<int>(unknowns_.size());
  workspace_.assign(unknowns_.size(), 0.0);
  // Then each held component of the region's elements, once, at the value
  // it is held at.
  for (std::size_t e = 0; e < count; ++e) {
    if (!touches(slots[e])) continue;
    elements_.push_back(e);
    const element& el = a.elem(static_cast<int>(e) + 1);
    ElementSlots s{};
    for (std::size_t q = 0; q < 9; ++q) {
      const int k = slots[e][q];
      int& at = place[static_cast<std::size_t>(k)];
      if (at < 0) {
        at = static_cast<int>(workspace_.size());
        workspace_.push_back(k < nfree ? x.data()[k] : a.displ(el.node[q / 3], static_cast<int>(q % 3) + 1));
      }
      s[q] = at;
    }
    local_slots_.push_back(s);
  }
  gradient_.assign(workspace_.size(), 0.0);
  force_.assign(unknowns_.size(), 0.0);
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      const int k = a.dof(p, j);
      if (k <= nfree && in[static_cast<std::size_t>(k - 1)] != 0) {
        force_[static_cast<std::size_t>(place[static_cast<std::size_t>(k - 1)])] = a.force(p, j);
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

void RegionProblem::place(const terms::Vector& xr) {
  std::copy(xr.data(), xr.data() + unknowns_.size(), workspace_.begin());
}

double RegionProblem::energy(int n, const terms::Vector& xr, terms::Vector& gr) {
  place(xr);
  const std::size_t size = unknowns_.size();
  for (std::size_t i = 0; i < size; ++i) gradient_[i] = -force_[i];
  const double strain =
      evaluator_.element_list(elements_, local_slots_.data(), workspace_.data(), gradient_.data(), 0.0);
  std::copy(gradient_.begin(),
            gradient_.begin() + static_cast<std::ptrdiff_t>(std::min(size, static_cast<std::size_t>(n))),
            gr.data());
  double f = strain;
  if (pressure_ != nullptr) {
    // The pressure's part, element by element after the strain energy.
    for (std::size_t r = 0; r < elements_.size(); ++r) {
      double delta[9], grad[9];
      for (std::size_t q = 0; q < 9; ++q) delta[q] = workspace_[static_cast<std::size_t>(local_slots_[r][q])];
      f = f + pressure_->element_part(static_cast<int>(elements_[r]), delta, grad);
      for (std::size_t q = 0; q < 9; ++q) {
        const auto at = static_cast<std::size_t>(local_slots_[r][q]);
        if (at < size) gradient_[at] += grad[q];
      }
    }
    std::copy(gradient_.begin(),
              gradient_.begin() + static_cast<std::ptrdiff_t>(std::min(size, static_cast<std::size_t>(n))),
              gr.data());
  }
  for (std::size_t i = 0; i < size; ++i) f = f - force_[i] * xr.data()[i];
  return f;
}

void RegionProblem::tangent(const terms::Vector& xr, bool clamp, std::span<double> values) {
  if (values.size() != pattern_.row.size()) throw platform::RangeError("tangent values do not match the pattern");
  place(xr);
  std::fill(values.begin(), values.end(), 0.0);
  const element* records = a_.elem.data();
  const std::array<double, 3>* prestress = a_.side_prestress.empty() ? nullptr : a_.side_prestress.data();
  const std::optional<Wrinkling> wrinkling = wrinkling_of(a_);
  for (std::size_t r = 0; r < elements_.size(); ++r) {
    double delta[9];
    for (std::size_t q = 0; q < 9; ++q) delta[q] = workspace_[static_cast<std::size_t>(local_slots_[r][q])];
    double h[81];
    law_.element_tangent(records[elements_[r]],
                         delta,
                         clamp,
                         h,
                         prestress != nullptr ? prestress + elements_[r] : nullptr,
                         wrinkling ? &*wrinkling : nullptr);
    add_upper_triangle(h, pattern_.position.data() + TangentPattern::kEntries * r, values);
    if (pressure_ != nullptr && !clamp) {
      pressure_->element_hessian(static_cast<int>(elements_[r]), delta, h);
      add_upper_triangle(h, pattern_.position.data() + TangentPattern::kEntries * r, values);
    }
  }
}

}  // namespace solver
