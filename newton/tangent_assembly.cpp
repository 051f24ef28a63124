#include "newton/tangent_assembly.h"

#include <algorithm>
#include <array>

#include "energy/kernel.h"
#include "energy/tangent.h"

namespace solver {

namespace {

constexpr unsigned char kElementWaits = 1;
constexpr unsigned char kPressureWaits = 2;

}  // namespace

TangentAssembly::TangentAssembly(const analysis& a,
                                 const MaterialLaw& law,
                                 const std::vector<ElementSlots>& slots,
                                 const TangentPattern& p,
                                 const PressurePotential& pressure,
                                 platform::ThreadPool* pool)
    : a_(a), law_(law), slots_(slots), pattern_(p), pressure_(pressure), pool_(pool), wrinkling_(wrinkling_of(a)) {
  if (p.position.size() != TangentPattern::kEntries * slots.size()) {
    throw platform::RangeError("the tangent's positions do not match the elements");
  }
  const std::size_t elements = slots.size();
  const std::size_t count =
      pool != nullptr ? std::min<std::size_t>(pool->size(), std::max<std::size_t>(elements, 1)) : 1;
  parts_.resize(count);
  const std::vector<int>& pressed = pressure.elements();
  for (std::size_t t = 0; t < count; ++t) {
    Part& part = parts_[t];
    part.begin = elements * t / count;
    part.end = elements * (t + 1) / count;
    const auto first = [&pressed](std::size_t e) {
      return static_cast<std::size_t>(std::lower_bound(pressed.begin(), pressed.end(), static_cast<int>(e)) -
                                      pressed.begin());
    };
    part.pressed_begin = first(part.begin);
    part.pressed_end = first(part.end);
  }
  if (count < 2) return;
  // The first part to touch each entry, and whether a later one does too.
  constexpr int kUntouched = -1;
  std::vector<int> owner(p.row.size(), kUntouched);
  std::vector<unsigned char> shared(p.row.size(), 0);
  for (std::size_t t = 0; t < count; ++t) {
    for (std::size_t k = TangentPattern::kEntries * parts_[t].begin; k < TangentPattern::kEntries * parts_[t].end;
         ++k) {
      const int at = p.position[k];
      if (at < 0) continue;
      int& first = owner[static_cast<std::size_t>(at)];
      if (first == kUntouched) {
        first = static_cast<int>(t);
      } else if (first != static_cast<int>(t)) {
        shared[static_cast<std::size_t>(at)] = 1;
      }
    }
  }
  // On a seam entry only the first part's element terms go straight in.
  for (std::size_t t = 0; t < count; ++t) {
    Part& part = parts_[t];
    for (std::size_t e = part.begin; e < part.end; ++e) {
      SeamElement s{e, {}};
      bool waits = false;
      for (std::size_t k = 0; k < TangentPattern::kEntries; ++k) {
        const int at = p.position[TangentPattern::kEntries * e + k];
        if (at < 0 || shared[static_cast<std::size_t>(at)] == 0) continue;
        s.waits[k] = owner[static_cast<std::size_t>(at)] == static_cast<int>(t) ? kPressureWaits
                                                                                : kElementWaits | kPressureWaits;
        waits = true;
      }
      if (waits) part.seam.push_back(s);
    }
  }
}

void TangentAssembly::assemble(const terms::Vector& x, bool clamp, bool with_pressure, std::span<double> values) {
  with_pressure = with_pressure && !clamp && !pressure_.empty();
  if (parts_.size() < 2) {
    law_.tangent(a_, slots_, x, pattern_.position, clamp, values);
    if (with_pressure) pressure_.add_tangent(x, pattern_.position, values);
    return;
  }
  gather_full(a_, x, full_);
  std::fill(values.begin(), values.end(), 0.0);
  x_ = &x;
  values_ = values;
  auto job = [this, clamp, with_pressure](std::size_t t) { assemble_part(parts_[t], clamp, with_pressure); };
  pool_->run(parts_.size(), job);
  for (const Part& part : parts_) {
    for (const Term& term : part.element_terms) values[static_cast<std::size_t>(term.entry)] += term.value;
  }
  for (const Part& part : parts_) {
    for (const Term& term : part.pressure_terms) values[static_cast<std::size_t>(term.entry)] += term.value;
  }
}

void TangentAssembly::assemble_part(Part& part, bool clamp, bool with_pressure) {
  constexpr std::size_t kEntries = TangentPattern::kEntries;
  part.element_terms.clear();
  part.pressure_terms.clear();
  const element* records = a_.elem.data();
  const std::array<double, 3>* prestress = a_.side_prestress.empty() ? nullptr : a_.side_prestress.data();
  const int* position = pattern_.position.data();
  auto seam = part.seam.begin();
  for (std::size_t e = part.begin; e < part.end; ++e) {
    double delta[9];
    kernel::gather(slots_[e], full_.data(), delta);
    double h[81];
    law_.element_tangent(records[e],
                         delta,
                         clamp,
                         h,
                         prestress != nullptr ? prestress + e : nullptr,
                         wrinkling_ ? &*wrinkling_ : nullptr);
    const int* pos = position + kEntries * e;
    if (seam == part.seam.end() || seam->element != e) {
      add_upper_triangle(h, pos, values_);
      continue;
    }
    std::size_t k = 0;
    for (std::size_t i = 0; i < 9; ++i) {
      for (std::size_t j = i; j < 9; ++j, ++k) {
        if (pos[k] < 0) continue;
        if ((seam->waits[k] & kElementWaits) != 0) {
          part.element_terms.push_back({pos[k], h[9 * i + j]});
        } else {
          values_[static_cast<std::size_t>(pos[k])] += h[9 * i + j];
        }
      }
    }
    ++seam;
  }
  if (!with_pressure) return;
  // The pressure's terms of an element at a seam are made into a buffer
  // started at -0.0, which adding leaves every number as it is: its
  // entries without a term add nothing, the others their term.
  static constexpr std::array<int, kEntries> kIdentity = [] {
    std::array<int, kEntries> k{};
    for (std::size_t i = 0; i < kEntries; ++i) k[i] = static_cast<int>(i);
    return k;
  }();
  const std::vector<int>& pressed = pressure_.elements();
  seam = part.seam.begin();
  for (std::size_t i = part.pressed_begin; i < part.pressed_end; ++i) {
    const std::size_t e = static_cast<std::size_t>(pressed[i]);
    const int* pos = position + kEntries * e;
    while (seam != part.seam.end() && seam->element < e) ++seam;
    if (seam == part.seam.end() || seam->element != e) {
      pressure_.element_tangent(*x_, pressed[i], pos, values_);
      continue;
    }
    std::array<double, kEntries> terms;
    terms.fill(-0.0);
    pressure_.element_tangent(*x_, pressed[i], kIdentity.data(), terms);
    for (std::size_t k = 0; k < kEntries; ++k) {
      if (pos[k] < 0) continue;
      if ((seam->waits[k] & kPressureWaits) != 0) {
        part.pressure_terms.push_back({pos[k], terms[k]});
      } else {
        values_[static_cast<std::size_t>(pos[k])] += terms[k];
      }
    }
  }
}

}  // namespace solver
