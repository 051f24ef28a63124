#pragma once
// The square membrane of the generator (generators/square_mesh.h), built in memory for
// the benchmarks: n divisions over -1..1, the whole boundary fixed,
// young 1000, poisson 0.3, pressure 1 on every element, and the generator's
// solver control values (lstol 0.1, maxls 20, mntol 0.001, mnref 0,
// maxminor 30 nnode, maxlist 3, maxmajor 20). The generator's "input.txt"
// holds the coordinates rounded to seven digits, so a solve of this model
// and one of the file can differ in the last bits and in iteration counts,
// not in cost per evaluation.

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "energy/energy_testing.h"
#include "generators/square_mesh.h"
#include "model/model.h"

namespace bench {

inline solver::analysis square_model(int n) {
  // The generator's mesh over -1..1: its node numbers, element order and
  // vertex order, with the coordinates unrounded.
  const double h = 1.0 / n;
  const square::Grid grid = square::number_nodes(n);
  std::vector<std::array<double, 3>> nodes(static_cast<std::size_t>((n + 1) * (n + 1) + n * n));
  square::for_each_node(grid, [&](int k, square::Point p) {
    nodes[static_cast<std::size_t>(k - 1)] = {p.i * h, p.j * h, 0.0};
  });
  std::vector<std::array<int, 3>> elements;
  elements.reserve(4 * static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
  square::for_each_element(n, [&](square::Point v1, square::Point v2, square::Point v3) {
    elements.push_back({grid(v1), grid(v2), grid(v3)});
  });
  solver::analysis a = solver::testing::make_model(nodes, elements, 1000.0, 0.3);
  a.maxminor = 30 * a.nnode;
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).pressure = 1.0;
  square::for_each_support(n, [&](square::Point p) {
    for (int axis = 1; axis <= 3; ++axis) a.dof(grid(p), axis) = 1;
  });
  solver::start(a);
  return a;
}

// The same square half way to its solution: the unknowns of a bulge under
// the initial pressure, with the loads refreshed there, so that every term
// of the energy and the tangent is away from rest.
inline solver::analysis strained_square(int n) {
  solver::analysis a = square_model(n);
  for (int k = 1; k <= a.nnode; ++k) {
    const double x = a.coordx(k);
    const double y = a.coordy(k);
    const double bulge = 0.07 * std::cos(0.5 * M_PI * x) * std::cos(0.5 * M_PI * y);
    if (a.dof(k, 3) <= a.nfree) a.u(a.dof(k, 3)) = bulge;
    if (a.dof(k, 1) <= a.nfree) a.u(a.dof(k, 1)) = 0.01 * x * bulge;
    if (a.dof(k, 2) <= a.nfree) a.u(a.dof(k, 2)) = 0.01 * y * bulge;
  }
  solver::setforce(a);
  return a;
}

}  // namespace bench
