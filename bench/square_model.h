#pragma once
// The square membrane of the generator, built in memory for the benchmarks:
// 2n x 2n lattice steps over -1..1, nodes where i - j is even (corner rows
// and the cell centres between them), 4 n^2 right isosceles triangles in
// the generator's element order and vertex order, the whole boundary fixed,
// young 1000, poisson 0.3, pressure 1 on every element, and the generator's
// solver control values (lstol 0.1, maxls 20, mntol 0.001, mnref 0,
// maxminor 30 nnode, maxlist 3, maxmajor 20). The generator's "input.txt"
// holds the coordinates rounded to seven digits, so a solve of this model
// and one of the file can differ in the last bits and in iteration counts,
// not in cost per evaluation.

#include "solver/model.h"

namespace bench {

inline solver::analysis square_model(int n) {
  solver::analysis a;
  a.lstol = 0.1;
  a.maxls = 20;
  a.mntol = 0.001;
  a.mnref = 0.0;
  a.maxlist = 3;
  a.maxmajor = 20;
  a.young = 1000.0;
  a.poisson = 0.3;
  a.density = 0.0;
  a.nnode = (n + 1) * (n + 1) + n * n;
  a.maxminor = 30 * a.nnode;
  a.coordx = terms::Vector(a.nnode, 0.0);
  a.coordy = terms::Vector(a.nnode, 0.0);
  a.coordz = terms::Vector(a.nnode, 0.0);
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  a.action = terms::RealTable(a.nnode, 0.0);
  const double h = 1.0 / n;
  // Node number of lattice point (i, j), -n <= i, j <= n, i - j even.
  auto number = [n](int i, int j) {
    const int r = j + n;
    return (r / 2) * (2 * n + 1) + (r % 2) * (n + 1) + (i + n) / 2 + 1;
  };
  for (int j = -n; j <= n; ++j) {
    for (int i = -n; i <= n; ++i) {
      if ((i - j) % 2 != 0) continue;
      const int k = number(i, j);
      a.coordx(k) = i * h;
      a.coordy(k) = j * h;
      if (i == -n || i == n || j == -n || j == n) {
        for (int axis = 1; axis <= 3; ++axis) a.dof(k, axis) = 1;
      }
    }
  }
  a.nelem = 4 * n * n;
  a.elem = terms::Array1<solver::element>(a.nelem);
  int e = 0;
  auto add = [&](int i1, int j1, int i2, int j2, int i3, int j3) {
    solver::element &el = a.elem(++e);
    el.node = {number(i1, j1), number(i2, j2), number(i3, j3)};
    el.pressure = 1.0;
  };
  // The eight families: left, right, bottom, top quarters, apex towards
  // the centre then away from it.
  for (int p = 0; p >= 1 - n; --p)
    for (int q = p; q <= -p; q += 2) add(p, q, p - 1, q + 1, p - 1, q - 1);
  for (int p = -2; p >= -n; --p)
    for (int q = p + 2; q <= -p - 2; q += 2) add(p, q, p + 1, q - 1, p + 1, q + 1);
  for (int p = 0; p <= n - 1; ++p)
    for (int q = -p; q <= p; q += 2) add(p, q, p + 1, q - 1, p + 1, q + 1);
  for (int p = 2; p <= n; ++p)
    for (int q = -p + 2; q <= p - 2; q += 2) add(p, q, p - 1, q + 1, p - 1, q - 1);
  for (int p = 0; p >= 1 - n; --p)
    for (int q = p; q <= -p; q += 2) add(q, p, q - 1, p - 1, q + 1, p - 1);
  for (int p = -2; p >= -n; --p)
    for (int q = p + 2; q <= -p - 2; q += 2) add(q, p, q + 1, p + 1, q - 1, p + 1);
  for (int p = 0; p <= n - 1; ++p)
    for (int q = -p; q <= p; q += 2) add(q, p, q + 1, p + 1, q - 1, p + 1);
  for (int p = 2; p <= n; ++p)
    for (int q = -p + 2; q <= p - 2; q += 2) add(q, p, q - 1, p - 1, q + 1, p - 1);
  solver::start(a);
  return a;
}

}  // namespace bench
