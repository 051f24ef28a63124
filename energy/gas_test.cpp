// The gas potential of a chamber: its volume against the exact volume of a
// polyhedron, its gradient and second derivative (follower part and
// rank-one term) against central differences, and the failures of a
// chamber turned inside out.

#include "energy/gas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "energy/tangent.h"
#include "model/model.h"
#include "model/model_testing.h"
#include "platform/failure.h"

namespace {

using solver::analysis;
using solver::GasChambers;

// The octahedron with vertices at +-1 on each axis, its normals outward,
// every component free, one chamber of all its elements.
analysis Octahedron(double kappa, std::array<double, 3> origin) {
  const std::vector<std::array<double, 3>> nodes = {
      {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const std::vector<std::array<int, 3>> faces = {
      {1, 3, 5}, {3, 2, 5}, {2, 4, 5}, {4, 1, 5}, {3, 1, 6}, {2, 3, 6}, {4, 2, 6}, {1, 4, 6}};
  analysis a = solver::testing::make_model(nodes, faces, 1.0, 0.3);
  a.extension.chambers = {{1, kappa, 10.0, 5.0, 0.0, origin}};
  a.extension.enclosures = {{1, 8, 1}};
  solver::start(a);
  return a;
}

terms::Vector Random(int n, unsigned seed, double size) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-size, size);
  terms::Vector x(n);
  for (int i = 1; i <= n; ++i) x(i) = u(rng);
  return x;
}

class GasPotential : public ::testing::TestWithParam<double> {};

// The octahedron's volume is 4/3, measured from any origin; at the
// reference shape the potential is zero and the gradient is the gauge
// pressure on each face.
TEST_P(GasPotential, VolumeOfTheOctahedronFromAnyOrigin) {
  for (const auto& o : {std::array<double, 3>{0, 0, 0}, std::array<double, 3>{0.3, -2.0, 5.0}}) {
    const analysis a = Octahedron(GetParam(), o);
    const GasChambers gas(a);
    const terms::Vector x(a.nfree);
    EXPECT_NEAR(gas.states(x)[0].volume, 4.0 / 3.0, 1e-14);
    EXPECT_NEAR(gas.states(x)[0].pressure, 15.0, 1e-13);
    terms::Vector g(a.nfree);
    EXPECT_NEAR(gas.add(0.0, x, g), 0.0, 1e-14);
    // Node 1 at (1, 0, 0): four faces of area sqrt(3)/2 with normals
    // (1, +-1, +-1)/sqrt(3); a third of each pushes it along +X.
    EXPECT_NEAR(g(a.dof(1, 1)), -5.0 * 4.0 / 3.0 * 0.5, 1e-13);
    EXPECT_NEAR(g(a.dof(1, 2)), 0.0, 1e-13);
  }
}

// The gradient against central differences of the potential, and the
// second derivative (follower part on a dense pattern, plus the rank-one
// term) against central differences of the gradient.
TEST_P(GasPotential, GradientAndSecondDerivativeAgainstDifferences) {
  const analysis a = Octahedron(GetParam(), {0.1, 0.2, -0.1});
  const GasChambers gas(a);
  const int n = a.nfree;
  const terms::Vector x = Random(n, 7, 0.2);
  terms::Vector g(n);
  gas.add(0.0, x, g);
  const double h = 1e-6;
  std::vector<terms::Vector> gp, gm;
  for (int i = 1; i <= n; ++i) {
    terms::Vector xp = x, xm = x, gi(n);
    xp(i) += h;
    xm(i) -= h;
    const double fp = gas.add(0.0, xp, gi);
    gp.push_back(gi);
    terms::Vector gj(n);
    const double fm = gas.add(0.0, xm, gj);
    gm.push_back(gj);
    EXPECT_NEAR(g(i), (fp - fm) / (2 * h), 1e-7) << i;
  }
  // Each element's upper entries go to the dense upper triangle r * n + c.
  std::vector<int> position;
  for (int e = 1; e <= a.nelem; ++e) {
    std::array<int, 9> slot{};
    for (std::size_t v = 0; v < 3; ++v) {
      for (int j = 0; j < 3; ++j) slot[3 * v + static_cast<std::size_t>(j)] = a.dof(a.elem(e).node[v], j + 1) - 1;
    }
    for (std::size_t r = 0; r < 9; ++r) {
      for (std::size_t c = r; c < 9; ++c)
        position.push_back(std::min(slot[r], slot[c]) * n + std::max(slot[r], slot[c]));
    }
  }
  ASSERT_EQ(position.size(), static_cast<std::size_t>(a.nelem) * solver::kTangentEntries);
  std::vector<double> values(static_cast<std::size_t>(n * n), 0.0);
  gas.add_tangent(x, position, values);
  const std::vector<solver::RankOne> terms = gas.rank_one(x);
  ASSERT_EQ(terms.size(), 1u);
  EXPECT_GT(terms[0].weight, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const int lo = std::min(i, j), hi = std::max(i, j);
      const double h_ij = values[static_cast<std::size_t>(lo * n + hi)] + terms[0].weight *
                                                                              terms[0].v[static_cast<std::size_t>(i)] *
                                                                              terms[0].v[static_cast<std::size_t>(j)];
      const double fd = (gp[static_cast<std::size_t>(j)](i + 1) - gm[static_cast<std::size_t>(j)](i + 1)) / (2 * h);
      EXPECT_NEAR(h_ij, fd, 1e-6) << i << " " << j;
    }
  }
}

// Turned through its origin the chamber has a negative volume: no state of
// the gas, a failure naming the chamber; so is a chamber whose normals
// point into the gas at the reference shape.
TEST_P(GasPotential, ChamberTurnedInsideOutIsAFailure) {
  const analysis a = Octahedron(GetParam(), {0, 0, 0});
  const GasChambers gas(a);
  terms::Vector x(a.nfree), g(a.nfree);
  for (int p = 1; p <= a.nnode; ++p) {
    x(a.dof(p, 1)) = -2.0 * a.coordx(p);
  }
  EXPECT_THROW(
      {
        try {
          gas.add(0.0, x, g);
        } catch (const platform::DataError& e) {
          EXPECT_NE(std::string(e.what()).find("chamber 1 encloses a volume of -1.33333"), std::string::npos)
              << e.what();
          throw;
        }
      },
      platform::DataError);
  analysis b = Octahedron(GetParam(), {0, 0, 0});
  for (int e = 1; e <= b.nelem; ++e) std::swap(b.elem(e).node[1], b.elem(e).node[2]);
  EXPECT_THROW(GasChambers{b}, platform::DataError);
}

INSTANTIATE_TEST_SUITE_P(Isothermal_Adiabatic, GasPotential, ::testing::Values(1.0, 1.4));

}  // namespace
