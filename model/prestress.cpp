#include "model/prestress.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "model/geometry.h"
#include "platform/failure.h"
#include "platform/number_image.h"

namespace solver {

namespace {

std::string image(double v) { return platform::real_image(v, 1, 6, 3); }

// "file:line: " of record p, as the reader names a place, when the model
// was read from a file; empty otherwise.
std::string where(const std::string& file, const PrestressRange& p) {
  if (file.empty()) return {};
  return file + ":" + (p.line > 0 ? std::to_string(p.line) + ":" : "") + " ";
}

// r_k = m_k^T S0 m_k for the three sides (m_k the in-plane normal of side
// k): n1 for an isotropic tensor, otherwise n1 (1 - c_k^2) + n2 c_k^2 with
// c_k the cosine between t1 and side k.
std::array<double, 3> normal_stresses(
    const element& el, const PrestressRange& p, int record, int e, const std::string& file) {
  if (p.n1 == p.n2) return {p.n1, p.n1, p.n1};
  // The unit normal of the reference plane, by the vertex order: side 2
  // runs from vertex 3 to 1 and side 3 from vertex 1 to 2.
  const auto& d2 = el.dir[1];
  const auto& d3 = el.dir[2];
  std::array<double, 3> n = {
      d2[1] * d3[2] - d2[2] * d3[1], d2[2] * d3[0] - d2[0] * d3[2], d2[0] * d3[1] - d2[1] * d3[0]};
  const double nn = std::sqrt(dot(n, n));
  for (double& c : n) c /= nn;
  // The direction scaled by its largest component, so that neither its
  // square overflows nor underflows whatever the record's magnitude (the
  // reader has refused 0 0 0 here).
  const double scale = std::max({std::fabs(p.direction[0]), std::fabs(p.direction[1]), std::fabs(p.direction[2])});
  const std::array<double, 3> d = {p.direction[0] / scale, p.direction[1] / scale, p.direction[2] / scale};
  const double along = dot(d, n);
  const std::array<double, 3> t = {d[0] - along * n[0], d[1] - along * n[1], d[2] - along * n[2]};
  const double projected = std::sqrt(dot(t, t));
  const double length = std::sqrt(dot(d, d));
  if (!(projected > kNormalDirection * length)) {
    throw platform::DataError(where(file, p) + "prestress record " + std::to_string(record) +
                              (file.empty() && p.line > 0 ? " (line " + std::to_string(p.line) + ")" : "") +
                              ": its direction (" + image(p.direction[0]) + ", " + image(p.direction[1]) + ", " +
                              image(p.direction[2]) + ") is normal to element " + std::to_string(e) + ", so n1 (" +
                              image(p.n1) + ") has no direction in that element's plane; expected a " +
                              "direction that is not normal to any element of the record");
  }
  std::array<double, 3> r{};
  for (std::size_t k = 0; k < 3; ++k) {
    const double c = dot(t, el.dir[k]) / projected;
    r[k] = p.n1 * (1.0 - c * c) + p.n2 * (c * c);
  }
  return r;
}

}  // namespace

std::array<double, 3> prestress_sides(
    const element& el, const PrestressRange& p, int record, int e, const std::string& file) {
  const std::array<double, 3> r = normal_stresses(el, p, record, e, file);
  std::array<double, 3> l2{};
  for (std::size_t k = 0; k < 3; ++k) l2[k] = el.length[k] * el.length[k];
  const double a8 = 8.0 * (el.area * el.area);
  std::array<double, 3> n0{};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t i = (k + 1) % 3;
    const std::size_t j = (k + 2) % 3;
    n0[k] = l2[k] * ((r[i] * l2[i] + r[j] * l2[j]) - r[k] * l2[k]) / a8;
  }
  return n0;
}

void set_up_prestress(analysis& a) {
  a.side_prestress.clear();
  if (a.extension.prestress.empty()) return;
  a.side_prestress.assign(static_cast<std::size_t>(a.nelem), {0.0, 0.0, 0.0});
  int record = 0;
  for (const PrestressRange& p : a.extension.prestress) {
    ++record;
    if (p.first < 1 || p.last > a.nelem) {
      throw platform::RangeError(where(a.file, p) + "prestress record " + std::to_string(record) + " names elements " +
                                 std::to_string(p.first) + ".." + std::to_string(p.last) + ", outside 1.." +
                                 std::to_string(a.nelem));
    }
    for (int e = p.first; e <= p.last; ++e) {
      a.side_prestress[static_cast<std::size_t>(e - 1)] = prestress_sides(a.elem(e), p, record, e, a.file);
    }
  }
}

}  // namespace solver
