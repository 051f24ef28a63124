// The material laws: each case runs for the Green law (velora1) and the
// engineering law (velora2), with each law's expected values.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "energy/energy_testing.h"
#include "model/model.h"
#include "platform/text_reader.h"

namespace {

using solver::analysis;
using solver::MaterialLaw;
using solver::testing::constrain;
using solver::testing::make_model;

constexpr double kTol = 1e-12;
constexpr double kRigidTol = 1e-13;

struct Evaluation {
  solver::ElementState state;
  std::array<double, 9> grad;
  std::array<double, 3> strain;
};

// cstobj of element 1 at x, and the side strains recovered from the side
// stresses through the (invertible) side stiffness by Cramer's rule.
Evaluation evaluate(const MaterialLaw& law, const analysis& a, const terms::Vector& x) {
  Evaluation r{};
  r.state = law.cstobj(a, a.elem(1), x, r.grad);
  const auto& k = a.elem(1).stiff;
  auto det = [](const std::array<std::array<double, 3>, 3>& m) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  };
  const double n[3] = {r.state.n1, r.state.n2, r.state.n3};
  for (std::size_t c = 0; c < 3; ++c) {
    auto m = k;
    for (std::size_t i = 0; i < 3; ++i) m[i][c] = n[i];
    r.strain[c] = det(m) / det(k);
  }
  return r;
}

// The unit right triangle, every component free, young 1, poisson 0, with
// displacement (sx * X, sy * Y, 0) at each node.
Evaluation stretch_unit_triangle(const MaterialLaw& law, double sx, double sy) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  solver::start(a);
  terms::Vector x(a.nfree);
  for (int k = 1; k <= 3; ++k) {
    x(a.dof(k, 1)) = sx * a.coordx(k);
    x(a.dof(k, 2)) = sy * a.coordy(k);
  }
  return evaluate(law, a, x);
}

// Every case runs once per law; green() says which one it is.
class LawTest : public ::testing::TestWithParam<const MaterialLaw*> {
 protected:
  const MaterialLaw& law() const { return *GetParam(); }
  bool green() const { return GetParam() == &solver::green_law(); }
};

using Cstobj = LawTest;
using Objective = LawTest;

TEST_P(Cstobj, EqualStretchInXAndY) {
  const Evaluation r = stretch_unit_triangle(law(), 0.1, 0.1);
  const double e = green() ? 0.105 : 0.1;
  for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(r.strain[k], e, kTol) << "side " << k + 1;
  EXPECT_NEAR(r.state.n1, 0.0, kTol);
  EXPECT_NEAR(r.state.n2, e, kTol);
  EXPECT_NEAR(r.state.n3, e, kTol);
  EXPECT_NEAR(r.state.energy, green() ? 0.0055125 : 0.005, kTol);
}

// The unit right triangle under the isotropic prestress 2: its side
// stresses are 2 L_k^2 cot(angle_k) / (2 A) = (0, 2, 2), which add to the
// elastic ones, and the energy gains their work A N0 . e. At rest the
// energy is 0 and the gradient the prestress's side forces.
TEST_P(Cstobj, PrestressAddsItsSideStressesAndTheirWork) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  a.extension.prestress = {{1, 1, 2.0, 2.0, {}}};
  solver::start(a);
  terms::Vector x(a.nfree);
  std::array<double, 9> grad{};
  solver::ElementState st = law().cstobj(a, a.elem(1), x, grad);
  EXPECT_NEAR(st.n1, 0.0, kTol);
  EXPECT_NEAR(st.n2, 2.0, kTol);
  EXPECT_NEAR(st.n3, 2.0, kTol);
  EXPECT_NEAR(st.energy, 0.0, kRigidTol);  // the rounding of side 1's reference direction
  // Side 3 (vertex 1 to 2, along X) pulls vertex 1 by A N0_3 / L_3 = 1
  // towards vertex 2: the energy falls as vertex 1 moves along +X.
  EXPECT_NEAR(grad[0], -1.0, kTol);
  EXPECT_NEAR(grad[3], 1.0, kTol);
  EXPECT_NEAR(grad[7], 1.0, kTol);  // side 2 on vertex 3, along Y
  for (int k = 1; k <= 3; ++k) {
    x(a.dof(k, 1)) = 0.1 * a.coordx(k);
    x(a.dof(k, 2)) = 0.1 * a.coordy(k);
  }
  st = law().cstobj(a, a.elem(1), x, grad);
  // Strains 0.105 (Green) or 0.1 (engineering) on every side.
  const double e = green() ? 0.105 : 0.1;
  EXPECT_NEAR(st.n1, 0.0, kTol);
  EXPECT_NEAR(st.n2, 2.0 + e, kTol);
  EXPECT_NEAR(st.n3, 2.0 + e, kTol);
  EXPECT_NEAR(st.energy, (green() ? 0.0055125 : 0.005) + 0.5 * (2.0 * e + 2.0 * e), kTol);
}

TEST_P(Cstobj, StretchAlongXOnly) {
  const Evaluation r = stretch_unit_triangle(law(), 0.1, 0.0);
  if (green()) {
    EXPECT_NEAR(r.strain[0], 0.0525, kTol);
    EXPECT_NEAR(r.strain[1], 0.0, kTol);
    EXPECT_NEAR(r.strain[2], 0.105, kTol);
    EXPECT_NEAR(r.state.n1, 0.0, kTol);
    EXPECT_NEAR(r.state.n2, 0.0, kTol);
    EXPECT_NEAR(r.state.n3, 0.105, kTol);
    EXPECT_NEAR(r.state.energy, 0.00275625, kTol);
  } else {
    // Side 1 goes from (1.1, 0) to (0, 1): stretch sqrt(2.21 / 2).
    const double e1 = std::sqrt(1.105) - 1;  // 0.0511898...
    EXPECT_NEAR(r.strain[0], e1, kTol);
    EXPECT_NEAR(r.strain[1], 0.0, kTol);
    EXPECT_NEAR(r.strain[2], 0.1, kTol);
    EXPECT_NEAR(r.state.n1, 2 * e1 - 0.1, kTol);  // 0.0023796...
    EXPECT_NEAR(r.state.n2, -e1 + 0.05, kTol);    // -0.0011898...
    EXPECT_NEAR(r.state.n3, -e1 + 0.15, kTol);    // 0.0988102...
    EXPECT_NEAR(r.state.energy, 0.25 * ((2 * e1 - 0.1) * e1 + (0.15 - e1) * 0.1),
                kTol);  // 0.0025007078...
    EXPECT_NEAR(r.state.energy, 0.0025007078, 1e-10);
  }
}

// An irregular triangle in space, displaced by a rigid motion p -> R p + t.
TEST_P(Cstobj, RigidMotionsGiveNoStrainEnergyOrGradient) {
  const std::vector<std::array<double, 3>> nodes = {{0.1, 0.2, 0.3}, {1.3, -0.1, 0.2}, {0.4, 0.9, -0.5}};
  // Rotation about the unit axis n by angle t (Rodrigues).
  auto rotation = [](std::array<double, 3> n, double t) {
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (double& c : n) c /= len;
    const double c = std::cos(t);
    const double s = std::sin(t);
    std::array<std::array<double, 3>, 3> r{};
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) r[i][j] = (i == j ? c : 0.0) + (1 - c) * n[i] * n[j];
    }
    r[0][1] -= s * n[2];
    r[0][2] += s * n[1];
    r[1][0] += s * n[2];
    r[1][2] -= s * n[0];
    r[2][0] -= s * n[1];
    r[2][1] += s * n[0];
    return r;
  };
  struct Motion {
    std::array<std::array<double, 3>, 3> r;
    std::array<double, 3> t;
  };
  const Motion motions[] = {
      {rotation({0, 0, 1}, 0.0), {0.0, 0.0, 0.0}},
      {rotation({0, 0, 1}, 0.0), {0.7, -1.2, 3.0}},
      {rotation({0, 0, 1}, 0.5), {0.0, 0.0, 0.0}},
      {rotation({1, -2, 0.5}, 2.2), {0.3, 0.1, -0.4}},
  };
  for (const Motion& mo : motions) {
    analysis a = make_model(nodes, {{1, 2, 3}}, 7.0, 0.3);
    // Node 2 constrained: prescribed displacements take part like unknowns.
    for (int j = 1; j <= 3; ++j) a.dof(2, j) = 1;
    for (int k = 1; k <= 3; ++k) {
      const auto& p = nodes[static_cast<std::size_t>(k - 1)];
      for (std::size_t i = 0; i < 3; ++i) {
        const double moved = (mo.r[i][0] * p[0] + mo.r[i][1] * p[1] + mo.r[i][2] * p[2]) + mo.t[i];
        a.displ(k, static_cast<int>(i) + 1) = moved - p[i];
      }
    }
    solver::start(a);
    terms::Vector x(a.nfree);
    for (int k = 1; k <= 3; ++k) {
      for (int j = 1; j <= 3; ++j) {
        if (a.dof(k, j) <= a.nfree) x(a.dof(k, j)) = a.displ(k, j);
      }
    }
    const Evaluation r = evaluate(law(), a, x);
    EXPECT_NEAR(r.state.n1, 0.0, kRigidTol);
    EXPECT_NEAR(r.state.n2, 0.0, kRigidTol);
    EXPECT_NEAR(r.state.n3, 0.0, kRigidTol);
    EXPECT_NEAR(r.state.energy, 0.0, kRigidTol);
    for (std::size_t q = 0; q < 9; ++q) EXPECT_NEAR(r.grad[q], 0.0, kRigidTol) << q;
  }
}

// A small irregular mesh: seven nodes around a raised centre, one node
// fully constrained with a prescribed displacement, two with single
// constrained components, loads, self-weight and pressures of both signs.
// The objective takes elements in pairs: an odd count exercises the rest.
// prestressed: elements 1 and 2 with an isotropic prestress, 3 on with an
// orthotropic one (the rest of a shortened mesh carries none).
analysis irregular_mesh(int elements = 6, bool prestressed = false) {
  std::vector<std::array<int, 3>> triangles = {{1, 2, 3}, {1, 3, 4}, {5, 1, 4}, {1, 5, 6}, {1, 6, 7}, {7, 2, 1}};
  triangles.resize(static_cast<std::size_t>(elements));
  analysis a = make_model({{0.0, 0.0, 0.1},
                           {1.1, 0.1, 0.0},
                           {0.6, 0.9, -0.1},
                           {-0.5, 1.0, 0.05},
                           {-1.0, 0.1, 0.0},
                           {-0.4, -0.9, 0.2},
                           {0.5, -1.0, -0.1}},
                          triangles,
                          10.0,
                          0.3,
                          0.4);
  constrain(a, 5, 1, 0.01);
  constrain(a, 5, 2, -0.02);
  constrain(a, 5, 3, 0.03);
  constrain(a, 2, 3, 0.05);
  constrain(a, 7, 1, 0.0);
  a.action(3, 1) = 0.1;
  a.action(3, 3) = -0.3;
  a.action(5, 3) = 2.0;  // on a constrained component: no part of f
  const double pressure[] = {0.5, 1.0, -0.25, 0.75, 0.0, 0.3};
  static_assert(std::size(pressure) == 6);
  for (int e = 1; e <= a.nelem; ++e) a.elem(e).pressure = pressure[e - 1];
  if (prestressed) {
    a.extension.prestress = {{1, 2, 3.0, 3.0, {}}, {3, std::min(elements, 5), 2.0, 0.5, {1.0, 0.2, 0.1}}};
  }
  solver::start(a);
  std::mt19937 gen(4);
  std::uniform_real_distribution<double> dist(-0.05, 0.05);
  for (int k = 1; k <= a.nfree; ++k) a.u(k) = dist(gen);
  solver::setforce(a);  // pressures on the displaced shape
  return a;
}

void CheckGradient(const MaterialLaw& law, analysis a) {
  const int n = a.nfree;
  ASSERT_EQ(n, 16);
  terms::Vector x = a.u;
  terms::Vector g(n);
  const double f = solver::testing::objective(a, n, x, g, law);
  EXPECT_TRUE(std::isfinite(f));
  terms::Vector scratch(n);
  const double h = 1e-6;
  double largest = 0.0;
  for (int k = 1; k <= n; ++k) largest = std::max(largest, std::fabs(g(k)));
  ASSERT_GT(largest, 0.1);
  for (int k = 1; k <= n; ++k) {
    terms::Vector xp = x;
    terms::Vector xm = x;
    xp(k) += h;
    xm(k) -= h;
    const double fd =
        (solver::testing::objective(a, n, xp, scratch, law) - solver::testing::objective(a, n, xm, scratch, law)) /
        (2 * h);
    EXPECT_NEAR(g(k), fd, 1e-7 * largest) << "component " << k;
  }
}

TEST_P(Objective, GradientMatchesCentralDifferences) {
  for (const bool prestressed : {false, true}) {
    SCOPED_TRACE(prestressed ? "prestressed" : "without prestress");
    CheckGradient(law(), irregular_mesh(6, prestressed));
  }
}

// The report takes element values from cstobj; they must be exactly those
// inside the objective, so the objective is rebuilt here from cstobj in its
// own summation order and compared bit for bit.
TEST_P(Objective, EqualsTheSumOfCstobjBitForBit) {
  for (const auto& [elements, prestressed] : {std::pair{6, false}, std::pair{5, false}, std::pair{6, true}}) {
    analysis a = irregular_mesh(elements, prestressed);
    const int n = a.nfree;
    terms::Vector g(n, 123.0);  // content on entry must not matter
    const double f = solver::testing::objective(a, n, a.u, g, law());

    double expected_f = 0.0;
    terms::Vector expected_g(n);
    for (int p = 1; p <= a.nnode; ++p) {
      for (int j = 1; j <= 3; ++j) {
        const int k = a.dof(p, j);
        if (k <= n) {
          expected_f = expected_f - a.force(p, j) * a.u(k);
          expected_g(k) = -a.force(p, j);
        }
      }
    }
    for (int e = 1; e <= a.nelem; ++e) {
      std::array<double, 9> grad{};
      const solver::ElementState st = law().cstobj(a, a.elem(e), a.u, grad);
      expected_f = expected_f + st.energy;
      for (std::size_t v = 0; v < 3; ++v) {
        for (int j = 1; j <= 3; ++j) {
          const int k = a.dof(a.elem(e).node[v], j);
          if (k <= n) expected_g(k) = expected_g(k) + grad[3 * v + static_cast<std::size_t>(j - 1)];
        }
      }
    }
    EXPECT_EQ(f, expected_f);
    for (int k = 1; k <= n; ++k) EXPECT_EQ(g(k), expected_g(k)) << k;

    // Again, into a gradient vector of other content: the same results.
    terms::Vector again(n, -7.0);
    EXPECT_EQ(solver::testing::objective(a, n, a.u, again, law()), f);
    for (int k = 1; k <= n; ++k) EXPECT_EQ(again(k), g(k));
  }
}

TEST_P(Objective, WithoutElementsIsTheLoadPotential) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}}, {});
  a.action(1, 1) = 2.0;
  a.action(2, 3) = -3.0;
  constrain(a, 2, 1, 0.5);
  a.action(2, 1) = 100.0;  // prescribed component: not in f
  solver::start(a);
  solver::setforce(a);
  terms::Vector x(a.nfree);
  x(a.dof(1, 1)) = 0.25;
  x(a.dof(2, 3)) = 0.5;
  terms::Vector g(a.nfree);
  EXPECT_EQ(solver::testing::objective(a, a.nfree, x, g, law()), -(2.0 * 0.25) + 3.0 * 0.5);
  EXPECT_EQ(g(a.dof(1, 1)), -2.0);
  EXPECT_EQ(g(a.dof(2, 3)), 3.0);
  EXPECT_EQ(g(a.dof(1, 2)), 0.0);
}

TEST_P(Objective, IllustrativeModelAtTheStart) {
  analysis a;
  platform::TextReader reader = platform::TextReader::open(VELORA_TESTDATA "/model_example/input.txt");
  solver::input(a, reader);
  solver::start(a);
  solver::setforce(a);
  const double f = solver::testing::objective(a, a.nfree, a.u, a.g, law());
  // No displacement: only rounding strain, so f is (almost) zero and g is
  // -force; the largest residual is node 3's Z load, -1 plus a sixth of the
  // pressure 0.5 on each of its two elements of area 0.5.
  EXPECT_NEAR(f, 0.0, 1e-20);
  double largest = 0.0;
  for (int k = 1; k <= a.nfree; ++k) largest = std::max(largest, std::fabs(a.g(k)));
  EXPECT_NEAR(largest, 1.0 - 2 * 0.5 * 0.5 / 3, 1e-12);
  EXPECT_NEAR(a.g(a.dof(3, 3)), 1.0 - 2 * 0.5 * 0.5 / 3, 1e-12);
}

TEST_P(Objective, WrongNumberOfUnknownsIsRefused) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  solver::start(a);
  terms::Vector x(8);
  terms::Vector g(8);
  EXPECT_THROW(solver::testing::objective(a, 8, x, g, law()), platform::RangeError);
}

// Both laws, the cases named after them ("green", "engineering").
const auto kLaws = ::testing::Values(&solver::green_law(), &solver::engineering_law());
std::string law_name(const ::testing::TestParamInfo<const MaterialLaw*>& p) { return p.param->name(); }
INSTANTIATE_TEST_SUITE_P(Laws, Cstobj, kLaws, law_name);
INSTANTIATE_TEST_SUITE_P(Laws, Objective, kLaws, law_name);

}  // namespace
