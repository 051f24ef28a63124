// Set-up of the model once it is read: degree-of-freedom numbers and the
// reference geometry and side stiffness of every element.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "model/geometry.h"
#include "model/model.h"
#include "model/prestress.h"
#include "platform/failure.h"

namespace solver {

namespace {

[[noreturn]] void degenerate(const analysis& a, int e, const std::string& what) {
  throw platform::DataError(record_of(a, e) + " is degenerate: " + what);
}

// "about 2E+200": a positive value given by its decimal logarithm, for
// sizes that double precision cannot hold.
std::string about(double log10_value) {
  double exponent = std::floor(log10_value);
  double mantissa = std::round(std::pow(10.0, log10_value - exponent));
  if (mantissa >= 10.0) {
    mantissa = 1.0;
    exponent += 1.0;
  }
  char s[48];
  std::snprintf(s, sizeof s, "about %.0fE%+.0f", mantissa, exponent);
  return s;
}

// The decimal logarithm of the length of (dx, dy, dz), finite components
// not all zero, taken with the components divided by a power of two near
// the largest (exact), so that it holds where the length or its square do
// not.
double log10_length(double dx, double dy, double dz) {
  const int k = std::ilogb(std::max({std::fabs(dx), std::fabs(dy), std::fabs(dz)}));
  const double x = std::ldexp(dx, -k), y = std::ldexp(dy, -k), z = std::ldexp(dz, -k);
  return std::log10(std::sqrt((x * x + y * y) + z * z)) + k * std::log10(2.0);
}

// A side whose squared length is not a normal double: the set-up's length
// and direction, and the energy's strains, which square the sides at
// every evaluation, would be infinite or would have lost their digits to
// underflow. Said in the side's own terms, with the unit that helps.
[[noreturn]] void side_out_of_range(
    const analysis& a, int e, std::size_t k, const std::array<double, 3>& from, const std::array<double, 3>& to) {
  const std::string side = "side " + std::to_string(k + 1);
  const double dx = to[0] - from[0], dy = to[1] - from[1], dz = to[2] - from[2];
  if (dx == 0.0 && dy == 0.0 && dz == 0.0) degenerate(a, e, side + " has length zero");
  const auto finite = [](const std::array<double, 3>& x) {
    return std::isfinite(x[0]) && std::isfinite(x[1]) && std::isfinite(x[2]);
  };
  if (!finite(from) || !finite(to)) degenerate(a, e, side + " has no finite length");
  if (!std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(dz)) {
    degenerate(a,
               e,
               side +
                   " has no finite length: its ends lie farther apart than the largest double; give the coordinates "
                   "in a larger unit of length");
  }
  const double lg = log10_length(dx, dy, dz);
  const bool large = lg > 0.0;
  degenerate(a,
             e,
             side + " has length " + about(lg) + ", whose square is " + (large ? "beyond" : "below") +
                 " the range of double precision; give the coordinates in a " + (large ? "larger" : "smaller") +
                 " unit of length");
}

// Reference geometry and side stiffness of one element, m being the
// material factor young / (1 - poisson^2) / 2. Sides as numbered in
// model/geometry.h.
void set_up_element(const analysis& a, int e, element& el, double m) {
  std::array<std::array<double, 3>, 3> p{};  // reference position of vertex 1, 2, 3
  for (int v = 0; v < 3; ++v) {
    const int k = el.node[static_cast<std::size_t>(v)];
    if (k < 1 || k > a.nnode) {
      throw platform::RangeError(record_of(a, e) + ": vertex " + std::to_string(v + 1) + " names node " +
                                 std::to_string(k) + ", outside 1.." + std::to_string(a.nnode));
    }
    p[static_cast<std::size_t>(v)] = {a.coordx(k), a.coordy(k), a.coordz(k)};
  }
  for (std::size_t k = 0; k < 3; ++k) {
    const auto& pi = p[kSideFrom[k]];
    const auto& pj = p[kSideTo[k]];
    const double dx = pj[0] - pi[0];
    const double dy = pj[1] - pi[1];
    const double dz = pj[2] - pi[2];
    const double squares = (dx * dx + dy * dy) + dz * dz;
    if (!(squares >= std::numeric_limits<double>::min() && squares <= std::numeric_limits<double>::max())) {
      side_out_of_range(a, e, k, pi, pj);
    }
    const double length = std::sqrt(squares);
    el.length[k] = length;
    el.dir[k] = {dx / length, dy / length, dz / length};
  }

  // Cosines of the angles at vertices 1 and 2: one below -1 means a
  // straight angle.
  const double c1 = angle_cosine(el, 0);
  const double c2 = angle_cosine(el, 1);
  if (c1 < -1.0 || c2 < -1.0) degenerate(a, e, "an angle cosine is below -1 (the vertices lie on a line)");
  const double s1 = std::sqrt(1.0 - c1 * c1);
  const double s2 = std::sqrt(1.0 - c2 * c2);
  // The angle at vertex 3 from the other two: cos and sin of pi - (angle1 +
  // angle2).
  const double c3 = s1 * s2 - c1 * c2;
  const double s3 = s2 * c1 + s1 * c2;
  if (s1 == 0.0 || s2 == 0.0 || s3 == 0.0) degenerate(a, e, "its vertices lie on a line");

  // The plane-stress law written in side strains: each entry is a numerator
  // times m, divided by the sine factors one after the other.
  const double nu = a.poisson;
  auto& k = el.stiff;
  k[0][0] = ((1.0 + c1 * c1) - nu * (s1 * s1)) * m / (s2 * s2) / (s3 * s3);
  k[0][1] = ((c1 * c2 - c3) + (nu * s1) * s2) * m / s1 / s2 / (s3 * s3);
  k[0][2] = ((c1 * c3 - c2) + (nu * s1) * s3) * m / s1 / (s2 * s2) / s3;
  k[1][1] = ((1.0 + c2 * c2) - nu * (s2 * s2)) * m / (s1 * s1) / (s3 * s3);
  k[1][2] = ((c2 * c3 - c1) + (nu * s2) * s3) * m / (s1 * s1) / s2 / s3;
  k[2][2] = ((1.0 + c3 * c3) - nu * (s3 * s3)) * m / (s1 * s1) / (s2 * s2);
  k[1][0] = k[0][1];
  k[2][0] = k[0][2];
  k[2][1] = k[1][2];
  el.area = ((el.length[0] * el.length[1]) * s3) * 0.5;

  if (!std::isfinite(el.area)) degenerate(a, e, "its area is not finite");
  if (el.area <= 0.0) degenerate(a, e, "its vertices lie on a line (area not positive)");
  for (const auto& row : k) {
    for (const double v : row) {
      if (!std::isfinite(v)) degenerate(a, e, "its side stiffness is not finite (check young and poisson)");
    }
  }
}

}  // namespace

std::string record_of(const analysis& a, int e) {
  const element& el = a.elem(e);
  std::string s;
  if (!a.file.empty()) {
    s = a.file + ":";
    if (static_cast<std::size_t>(e - 1) < a.element_line.size()) {
      s += std::to_string(a.element_line[static_cast<std::size_t>(e - 1)]) + ":";
    }
    s += ' ';
  }
  return s + "element " + std::to_string(e) + " (nodes " + std::to_string(el.node[0]) + ", " +
         std::to_string(el.node[1]) + ", " + std::to_string(el.node[2]) + ")";
}

void start(analysis& a) {
  // Counting and numbering: free components first, constrained ones after
  // them, both in node order and axis order within a node.
  a.nfree = 3 * a.nnode;
  for (int k = 1; k <= a.nnode; ++k) {
    for (int j = 1; j <= 3; ++j) {
      if (a.dof(k, j) == 1) a.nfree = a.nfree - 1;
    }
  }
  int free = 0;
  int fixed = a.nfree;
  for (int k = 1; k <= a.nnode; ++k) {
    for (int j = 1; j <= 3; ++j) {
      if (a.dof(k, j) == 0) {
        free = free + 1;
        a.dof(k, j) = free;
      } else {
        fixed = fixed + 1;
        a.dof(k, j) = fixed;
      }
    }
  }

  const double m = (a.young / (1.0 - a.poisson * a.poisson)) * 0.5;
  for (int e = 1; e <= a.nelem; ++e) set_up_element(a, e, a.elem(e), m);
  set_up_prestress(a);

  a.u = terms::Vector(a.nfree, 0.0);
  a.g = terms::Vector(a.nfree, 0.0);
  a.force = terms::RealTable(a.nnode, 0.0);
}

std::array<double, 3> vertex(const analysis& a, int k) {
  std::array<double, 3> p = {a.coordx.at(k), a.coordy.at(k), a.coordz.at(k)};
  for (int j = 1; j <= 3; ++j) {
    const int d = a.dof(k, j);
    const std::size_t i = static_cast<std::size_t>(j - 1);
    if (d <= a.nfree) {
      p[i] = p[i] + a.u(d);
    } else {
      p[i] = p[i] + a.displ(k, j);
    }
  }
  return p;
}

}  // namespace solver
