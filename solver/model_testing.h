#pragma once
// Test helpers: small models built in memory, as input would leave them.

#include <array>
#include <vector>

#include "solver/analysis.h"

namespace solver::testing {

// A model with the given nodes and elements, every component free, no
// loads; the parameters are those of a typical run.
inline analysis make_model(const std::vector<std::array<double, 3>> &nodes,
                           const std::vector<std::array<int, 3>> &elements,
                           double young = 1.0,
                           double poisson = 0.0,
                           double density = 0.0) {
  analysis a;
  a.lstol = 0.1;
  a.maxls = 20;
  a.mntol = 0.001;
  a.maxminor = 120;
  a.maxlist = 3;
  a.maxmajor = 20;
  a.young = young;
  a.poisson = poisson;
  a.density = density;
  a.nnode = static_cast<int>(nodes.size());
  a.coordx = terms::Vector(a.nnode);
  a.coordy = terms::Vector(a.nnode);
  a.coordz = terms::Vector(a.nnode);
  for (int k = 1; k <= a.nnode; ++k) {
    const auto &p = nodes[static_cast<std::size_t>(k - 1)];
    a.coordx(k) = p[0];
    a.coordy(k) = p[1];
    a.coordz(k) = p[2];
  }
  a.nelem = static_cast<int>(elements.size());
  a.elem = terms::Array1<element>(a.nelem);
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).node = elements[static_cast<std::size_t>(e - 1)];
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  a.action = terms::RealTable(a.nnode, 0.0);
  return a;
}

// Marks component (k, axis) constrained with the prescribed displacement d.
inline void constrain(analysis &a, int k, int axis, double d) {
  a.dof(k, axis) = 1;
  a.displ(k, axis) = d;
}

}  // namespace solver::testing
