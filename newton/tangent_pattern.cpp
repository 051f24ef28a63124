#include "newton/tangent_pattern.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "energy/tangent.h"
#include "model/geometry.h"
#include "platform/failure.h"

namespace solver {

TangentPattern tangent_pattern(const analysis& a, const std::vector<ElementSlots>& slots) {
  return tangent_pattern(a.nfree, slots);
}

TangentPattern tangent_pattern(int nfree, const std::vector<ElementSlots>& slots) {
  TangentPattern p;
  p.n = nfree;
  const std::size_t n = static_cast<std::size_t>(nfree);
  const std::size_t count = slots.size();
  // The elements around each free unknown (compressed rows).
  std::vector<int> first(n + 1, 0);
  for (const ElementSlots& s : slots) {
    for (const int k : s) {
      if (k < nfree) ++first[static_cast<std::size_t>(k) + 1];
    }
  }
  for (std::size_t i = 0; i < n; ++i) first[i + 1] += first[i];
  std::vector<int> around(static_cast<std::size_t>(first[n]));
  {
    std::vector<int> next(first.begin(), first.end() - 1);
    for (std::size_t e = 0; e < count; ++e) {
      for (const int k : slots[e]) {
        if (k < nfree) around[static_cast<std::size_t>(next[static_cast<std::size_t>(k)]++)] = static_cast<int>(e);
      }
    }
  }
  // Column j: the free unknowns i <= j that share an element with j, and
  // always j itself: an unknown of a node that no element uses has only its
  // diagonal (which the shift fills), so every column ends with it.
  p.colptr.assign(n + 1, 0);
  std::vector<int> rows;
  for (std::size_t j = 0; j < n; ++j) {
    rows.clear();
    rows.push_back(static_cast<int>(j));
    for (int t = first[j]; t < first[j + 1]; ++t) {
      for (const int k : slots[static_cast<std::size_t>(around[static_cast<std::size_t>(t)])]) {
        if (k <= static_cast<int>(j)) rows.push_back(k);
      }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    p.row.insert(p.row.end(), rows.begin(), rows.end());
    if (p.row.size() > 2147483647u) throw platform::RangeError("the tangent has more than 2^31 entries");
    p.colptr[j + 1] = static_cast<int>(p.row.size());
  }
  // Where each element's entries go.
  p.position.assign(TangentPattern::kEntries * count, -1);
  for (std::size_t e = 0; e < count; ++e) {
    const ElementSlots& s = slots[e];
    int* pos = p.position.data() + TangentPattern::kEntries * e;
    std::size_t k = 0;
    for (std::size_t i = 0; i < 9; ++i) {
      for (std::size_t j = i; j < 9; ++j, ++k) {
        if (s[i] >= nfree || s[j] >= nfree) continue;
        const int r = std::min(s[i], s[j]);
        const std::size_t col = static_cast<std::size_t>(std::max(s[i], s[j]));
        const auto begin = p.row.begin() + p.colptr[col];
        const auto end = p.row.begin() + p.colptr[col + 1];
        pos[k] = static_cast<int>(std::lower_bound(begin, end, r) - p.row.begin());
      }
    }
  }
  return p;
}

std::vector<double> shift_values(const analysis& a, const TangentPattern& p) {
  std::vector<double> values(p.row.size(), 0.0);
  for (std::size_t e = 0; e < p.position.size() / TangentPattern::kEntries; ++e) {
    const element& el = a.elem.data()[e];
    const int* pos = p.position.data() + TangentPattern::kEntries * e;
    const double stiffness = ((el.stiff[0][0] + el.stiff[1][1]) + el.stiff[2][2]) / 3.0;
    // Local 9 x 9 matrix, then its upper triangle into the pattern.
    double h[81] = {};
    for (std::size_t k = 0; k < 3; ++k) {
      const double w = el.area * stiffness / (el.length[k] * el.length[k]);
      for (std::size_t x = 0; x < 3; ++x) {
        const std::size_t i = 3 * kSideFrom[k] + x;
        const std::size_t j = 3 * kSideTo[k] + x;
        h[9 * i + i] += w;
        h[9 * j + j] += w;
        h[9 * i + j] -= w;
        h[9 * j + i] -= w;
      }
    }
    add_upper_triangle(h, pos, values);
  }
  // An unknown that no element touches has nothing on its diagonal: it gets
  // the largest diagonal entry, so that R stays positive definite (its
  // energy is the work of its load alone: an unloaded one never moves).
  double largest = 0.0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(p.n); ++j) {
    largest = std::max(largest, values[static_cast<std::size_t>(p.colptr[j + 1] - 1)]);
  }
  if (!(largest > 0.0)) largest = 1.0;
  for (std::size_t j = 0; j < static_cast<std::size_t>(p.n); ++j) {
    const std::size_t d = static_cast<std::size_t>(p.colptr[j + 1] - 1);  // the diagonal ends its column
    if (values[d] == 0.0) values[d] = largest;
    values[d] *= 1.0 + 1e-6;
  }
  return values;
}

}  // namespace solver
