#pragma once
// The square membrane of the generator (square/mesh.h), built in memory for
// the benchmarks: n divisions over -1..1, the whole boundary fixed,
// young 1000, poisson 0.3, pressure 1 on every element, and the generator's
// solver control values (lstol 0.1, maxls 20, mntol 0.001, mnref 0,
// maxminor 30 nnode, maxlist 3, maxmajor 20). The generator's "input.txt"
// holds the coordinates rounded to seven digits, so a solve of this model
// and one of the file can differ in the last bits and in iteration counts,
// not in cost per evaluation.

#include "solver/model.h"
#include "square/mesh.h"

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
  // The generator's mesh over -1..1: its node numbers, element order and
  // vertex order, with the coordinates unrounded.
  const double h = 1.0 / n;
  const square::Grid grid = square::number_nodes(n);
  square::for_each_node(grid, [&](int k, square::Point p) {
    a.coordx(k) = p.i * h;
    a.coordy(k) = p.j * h;
  });
  square::for_each_support(n, [&](square::Point p) {
    for (int axis = 1; axis <= 3; ++axis) a.dof(grid(p), axis) = 1;
  });
  a.nelem = 4 * n * n;
  a.elem = terms::Array1<solver::element>(a.nelem);
  int e = 0;
  square::for_each_element(n, [&](square::Point v1, square::Point v2, square::Point v3) {
    solver::element& el = a.elem(++e);
    el.node = {grid(v1), grid(v2), grid(v3)};
    el.pressure = 1.0;
  });
  solver::start(a);
  return a;
}

}  // namespace bench
