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

// Each element's upper entries of its 9 x 9 second derivative go to the
// dense upper triangle r * n + c of the unknowns (-1 for a held component).
std::vector<int> DensePositions(const analysis& a) {
  const int n = a.nfree;
  std::vector<int> position;
  for (int e = 1; e <= a.nelem; ++e) {
    std::array<int, 9> slot{};
    for (std::size_t v = 0; v < 3; ++v) {
      for (int j = 0; j < 3; ++j) slot[3 * v + static_cast<std::size_t>(j)] = a.dof(a.elem(e).node[v], j + 1) - 1;
    }
    for (std::size_t r = 0; r < 9; ++r) {
      for (std::size_t c = r; c < 9; ++c) {
        const bool free = slot[r] < n && slot[c] < n;
        position.push_back(free ? std::min(slot[r], slot[c]) * n + std::max(slot[r], slot[c]) : -1);
      }
    }
  }
  return position;
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
// term) against central differences of the gradient: near the reference
// shape, and shrunk to a third of the volume, below the floor of half the
// reference volume, where the pressure is held and no rank-one term is.
TEST_P(GasPotential, GradientAndSecondDerivativeAgainstDifferences) {
  const analysis a = Octahedron(GetParam(), {0.1, 0.2, -0.1});
  const GasChambers gas(a);
  const int n = a.nfree;
  const std::vector<int> position = DensePositions(a);
  ASSERT_EQ(position.size(), static_cast<std::size_t>(a.nelem) * solver::kTangentEntries);
  for (const double shrink : {0.0, 0.3}) {
    SCOPED_TRACE(shrink);
    terms::Vector x = Random(n, 7, 0.2);
    for (int p = 1; p <= a.nnode; ++p) {
      x(a.dof(p, 1)) -= shrink * a.coordx(p);
      x(a.dof(p, 2)) -= shrink * a.coordy(p);
      x(a.dof(p, 3)) -= shrink * a.coordz(p);
    }
    terms::Vector g(n);
    gas.add(0.0, x, g);
    const double h = 1e-6;
    std::vector<terms::Vector> gp, gm;
    for (int i = 1; i <= n; ++i) {
      terms::Vector xp = x, xm = x, gi(n), gj(n);
      xp(i) += h;
      xm(i) -= h;
      const double fp = gas.add(0.0, xp, gi);
      const double fm = gas.add(0.0, xm, gj);
      gp.push_back(gi);
      gm.push_back(gj);
      EXPECT_NEAR(g(i), (fp - fm) / (2 * h), 1e-7) << i;
    }
    std::vector<double> values(static_cast<std::size_t>(n * n), 0.0);
    gas.add_tangent(x, position, values);
    const std::vector<solver::RankOne> terms = gas.rank_one(x);
    ASSERT_EQ(terms.size(), shrink == 0.0 ? 1u : 0u);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double h_ij = values[static_cast<std::size_t>(std::min(i, j) * n + std::max(i, j))];
        for (const solver::RankOne& t : terms) {
          EXPECT_GT(t.weight, 0.0);
          h_ij += t.weight * t.v[static_cast<std::size_t>(i)] * t.v[static_cast<std::size_t>(j)];
        }
        const std::size_t column = static_cast<std::size_t>(j);
        const double fd = (gp[column](i + 1) - gm[column](i + 1)) / (2 * h);
        EXPECT_NEAR(h_ij, fd, 1e-6) << i << " " << j;
      }
    }
  }
}

// Turned through its origin the chamber has a negative volume: its gas has
// no state there, yet the potential goes on, held at the floor's pressure,
// continuous across the floor; the floor follows the volume down until the
// chamber has collapsed, a failure naming it. A chamber whose normals point
// into the gas at the reference shape is refused.
TEST_P(GasPotential, ChamberTurnedInsideOutIsAFailure) {
  analysis a = Octahedron(GetParam(), {0, 0, 0});
  GasChambers gas(a);
  const auto scaled = [&a](double s) {
    terms::Vector x(a.nfree);
    for (int p = 1; p <= a.nnode; ++p) x(a.dof(p, 1)) = (s - 1.0) * a.coordx(p);
    return x;
  };
  terms::Vector g(a.nfree);
  // Volume V0 s: the floor is at s = 1/2.
  const double below = gas.add(0.0, scaled(0.5 - 1e-9), g);
  const double above = gas.add(0.0, scaled(0.5 + 1e-9), g);
  EXPECT_NEAR(below, above, 1e-7);
  const terms::Vector inverted = scaled(-1.0);
  EXPECT_TRUE(std::isfinite(gas.add(0.0, inverted, g)));
  const auto fails_naming_chamber_1 = [](auto call) {
    try {
      call();
    } catch (const platform::DataError& e) {
      return std::string(e.what()).find("chamber 1 encloses a volume of -1.33333") != std::string::npos;
    }
    return false;
  };
  EXPECT_TRUE(fails_naming_chamber_1([&] { gas.states(inverted); }));
  EXPECT_TRUE(fails_naming_chamber_1([&] { gas.check(inverted); }));
  EXPECT_FALSE(gas.lower_floors(scaled(0.8)));
  int moves = 0;
  EXPECT_TRUE(fails_naming_chamber_1([&] {
    while (gas.lower_floors(inverted)) ++moves;
  }));
  EXPECT_EQ(moves, 12);  // from 1/2 by eighths to 1e-12
  for (int e = 1; e <= a.nelem; ++e) std::swap(a.elem(e).node[1], a.elem(e).node[2]);
  EXPECT_THROW(GasChambers{a}, platform::DataError);
}

INSTANTIATE_TEST_SUITE_P(Isothermal_Adiabatic, GasPotential, ::testing::Values(1.0, 1.4));

// A 3 x 3 grid of cells on the unit square, tilted out of its plane about
// the Y axis, each cell cut into two triangles, the boundary held (with
// symmetry_plane, the edge x = 0 held across that plane only), the
// pressure 0.7 on every element.
analysis PressedGrid(bool symmetry_plane = false) {
  std::vector<std::array<double, 3>> nodes;
  for (int j = 0; j <= 3; ++j) {
    for (int i = 0; i <= 3; ++i) nodes.push_back({i / 3.0, j / 3.0, 0.1 * i + 0.05 * j * j});
  }
  std::vector<std::array<int, 3>> tris;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) {
      const int a = 4 * j + i + 1;
      tris.push_back({a, a + 1, a + 5});
      tris.push_back({a, a + 5, a + 4});
    }
  }
  analysis a = solver::testing::make_model(nodes, tris, 1.0, 0.3);
  for (int k = 1; k <= a.nnode; ++k) {
    const int i = (k - 1) % 4, j = (k - 1) / 4;
    if (i == 0 && j != 0 && j != 3 && symmetry_plane) {
      solver::testing::constrain(a, k, 1, 0.0);  // on the plane x = 0, held across it only
    } else if (i == 0 || i == 3 || j == 0 || j == 3) {
      for (int axis = 1; axis <= 3; ++axis) solver::testing::constrain(a, k, axis, 0.0);
    }
  }
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).pressure = 0.7;
  return a;
}

// The pressure's potential: its gradient is the pressure's load on the
// current shape at every free component, its second derivative that
// gradient's differences; it applies only where every side across which
// the pressure changes is held.
class PressurePotential : public ::testing::TestWithParam<bool> {};

TEST_P(PressurePotential, GradientIsTheLoadOnTheCurrentShape) {
  analysis a = PressedGrid(GetParam());
  solver::start(a);
  ASSERT_TRUE(solver::PressurePotential::applies(a));
  const solver::PressurePotential pressure(a, true);
  const int n = a.nfree;
  const terms::Vector x = Random(n, 3, 0.2);
  terms::Vector g(n);
  EXPECT_EQ(pressure.add(0.0, terms::Vector(n), g), 0.0);  // nothing at the reference shape
  g = terms::Vector(n);
  pressure.add(0.0, x, g);
  a.u = x;
  solver::setforce(a);
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      if (a.dof(p, j) <= n) {
        EXPECT_NEAR(-g(a.dof(p, j)), a.force(p, j), 1e-15) << p << " " << j;
      }
    }
  }
  const std::vector<int> position = DensePositions(a);
  std::vector<double> values(static_cast<std::size_t>(n * n), 0.0);
  pressure.add_tangent(x, position, values);
  const double h = 1e-6;
  for (int j = 1; j <= n; ++j) {
    terms::Vector xp = x, xm = x, gp(n), gm(n);
    xp(j) += h;
    xm(j) -= h;
    pressure.add(0.0, xp, gp);
    pressure.add(0.0, xm, gm);
    for (int i = 1; i <= n; ++i) {
      const std::size_t at = static_cast<std::size_t>(std::min(i, j) - 1) * static_cast<std::size_t>(n) +
                             static_cast<std::size_t>(std::max(i, j) - 1);
      EXPECT_NEAR(values[at], (gp(i) - gm(i)) / (2 * h), 1e-8) << i << " " << j;
    }
  }
  // A boundary node held in no plane of its sides, or a pressure that
  // changes across a free side: no potential.
  analysis loose = PressedGrid();
  loose.dof(2, 2) = 0;  // on the edge y = 0, held along X alone: in no plane it is held across
  loose.dof(2, 3) = 0;
  solver::start(loose);
  EXPECT_FALSE(solver::PressurePotential::applies(loose));
  analysis jump = PressedGrid();
  jump.elem(9).pressure = 0.5;  // the middle cell's first triangle
  solver::start(jump);
  EXPECT_FALSE(solver::PressurePotential::applies(jump));
}

INSTANTIATE_TEST_SUITE_P(HeldOrOnASymmetryPlane, PressurePotential, ::testing::Bool());

}  // namespace
