#pragma once
// Test helpers: small models built in memory, as input would leave them.

#include <array>
#include <random>
#include <vector>

#include "model/analysis.h"
#include "model/model.h"
#include "terms/terms.h"

namespace solver::testing {

// A model with the given nodes and elements, every component free, no
// loads; the parameters are those of a typical run.
inline analysis make_model(const std::vector<std::array<double, 3>>& nodes,
                           const std::vector<std::array<int, 3>>& elements,
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
    const auto& p = nodes[static_cast<std::size_t>(k - 1)];
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
inline void constrain(analysis& a, int k, int axis, double d) {
  a.dof(k, axis) = 1;
  a.displ(k, axis) = d;
}

// An irregular mesh: a jittered grid of m x m cells in a tilted plane, each
// cell cut along a random diagonal, every node free but the first two
// (which fix the rigid motions), with random displacements of size
// `amplitude` (stretched and compressed sides alike) in x.
inline analysis irregular_model(unsigned seed, int m, double amplitude, terms::Vector& x) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> jitter(-0.3, 0.3);
  std::vector<std::array<double, 3>> nodes;
  for (int j = 0; j <= m; ++j) {
    for (int i = 0; i <= m; ++i) {
      const double px = i + jitter(rng);
      const double py = j + jitter(rng);
      nodes.push_back({px, py, 0.2 * px - 0.1 * py + 0.1 * jitter(rng)});
    }
  }
  std::vector<std::array<int, 3>> elements;
  std::bernoulli_distribution flip(0.5);
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < m; ++i) {
      const int a = j * (m + 1) + i + 1;
      const int b = a + 1;
      const int c = a + m + 1;
      const int d = c + 1;
      if (flip(rng)) {
        elements.push_back({a, b, d});
        elements.push_back({a, d, c});
      } else {
        elements.push_back({a, b, c});
        elements.push_back({b, d, c});
      }
    }
  }
  analysis a = make_model(nodes, elements, 1000.0, 0.3);
  for (int axis = 1; axis <= 3; ++axis) constrain(a, 1, axis, 0.0);
  constrain(a, 2, 2, 0.01);
  constrain(a, 2, 3, -0.02);
  start(a);
  std::uniform_real_distribution<double> u(-amplitude, amplitude);
  x = terms::Vector(a.nfree);
  for (int k = 1; k <= a.nfree; ++k) x(k) = u(rng);
  return a;
}

}  // namespace solver::testing
