#pragma once
// The element's geometry that the set-up, the energy, the tangent and the
// report share: which vertices each side joins, and the dot product and
// angle cosines of the side directions. Written once, so that every step
// numbers the sides as the element record does (model/analysis.h).

#include <array>
#include <cstddef>

#include "model/analysis.h"

namespace solver {

// Side k (0-based) lies opposite vertex k and runs from vertex kSideFrom[k]
// to vertex kSideTo[k] (0-based): side 1 from vertex 2 to 3, side 2 from 3
// to 1, side 3 from 1 to 2.
inline constexpr std::array<std::size_t, 3> kSideFrom = {1, 2, 0};
inline constexpr std::array<std::size_t, 3> kSideTo = {2, 0, 1};

// The dot product of two vectors of X, Y, Z components, summed in this
// order.
inline double dot(const std::array<double, 3>& p, const std::array<double, 3>& q) {
  return (p[0] * q[0] + p[1] * q[1]) + p[2] * q[2];
}

// The cosine of the angle at vertex v (0-based) from the reference side
// directions: the two sides that meet there are the ones not opposite it,
// the one ending at v and the one starting there, so the cosine is minus
// their dot product. Rounding can lift it above 1, never a real angle, so
// it is clamped from above only; a value below -1 is left for the caller
// to judge (the set-up rejects it as a straight angle).
inline double angle_cosine(const element& e, std::size_t v) {
  const double c = -dot(e.dir[(v + 1) % 3], e.dir[(v + 2) % 3]);
  return c > 1.0 ? 1.0 : c;
}

}  // namespace solver
