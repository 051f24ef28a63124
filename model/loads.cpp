// The nodal load table: applied forces, self-weight on the reference area,
// and pressure on the current shape. The pressure follows the deformation,
// so the driver rebuilds the table between runs of the minimiser and the
// objective holds it fixed within one.

#include <cstring>

#include "model/model.h"

namespace solver {

void setforce(analysis& a, bool pressure) {
  // The applied forces, copied as they stand (a negative zero stays one).
  const std::size_t entries = 3 * static_cast<std::size_t>(a.force.rows());
  if (entries > 0) std::memcpy(a.force.data(), a.action.data(), entries * sizeof(double));

  // Self-weight: a third of each element's reference weight at each vertex,
  // along -Z.
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const double w = (el.area * a.density) / 3.0;
    for (int v = 0; v < 3; ++v) {
      const int k = el.node[static_cast<std::size_t>(v)];
      a.force(k, 3) = a.force(k, 3) - w;
    }
  }

  if (!pressure) return;
  // Pressure: n = (P3 - P2) x (P1 - P3) = (P2 - P1) x (P3 - P1) is twice the
  // current area along the normal of the node order; each vertex takes a
  // third of pressure times area, i.e. n * pressure / 6.
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const auto p1 = vertex(a, el.node[0]);
    const auto p2 = vertex(a, el.node[1]);
    const auto p3 = vertex(a, el.node[2]);
    const double ax = p3[0] - p2[0];
    const double ay = p3[1] - p2[1];
    const double az = p3[2] - p2[2];
    const double bx = p1[0] - p3[0];
    const double by = p1[1] - p3[1];
    const double bz = p1[2] - p3[2];
    const double w = el.pressure / 6.0;
    const double n[3] = {(ay * bz - az * by) * w, (az * bx - ax * bz) * w, (ax * by - ay * bx) * w};
    for (int v = 0; v < 3; ++v) {
      const int k = el.node[static_cast<std::size_t>(v)];
      for (int j = 1; j <= 3; ++j) a.force(k, j) = a.force(k, j) + n[j - 1];
    }
  }
}

}  // namespace solver
