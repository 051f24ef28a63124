// Loads: applied forces, self-weight and the follower pressure.

#include <gtest/gtest.h>

#include <cmath>

#include "energy/energy_testing.h"
#include "model/model.h"

namespace {

using solver::analysis;
using solver::testing::constrain;
using solver::testing::make_model;

constexpr double kTol = 1e-15;

void expect_force(const analysis& a, int k, double fx, double fy, double fz) {
  EXPECT_NEAR(a.force(k, 1), fx, kTol) << "node " << k;
  EXPECT_NEAR(a.force(k, 2), fy, kTol) << "node " << k;
  EXPECT_NEAR(a.force(k, 3), fz, kTol) << "node " << k;
}

TEST(Setforce, PressureOnTheUnitRightTriangle) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  a.elem(1).pressure = 6.0;
  solver::start(a);
  solver::setforce(a);
  for (int k = 1; k <= 3; ++k) expect_force(a, k, 0, 0, 1);
}

TEST(Setforce, SelfWeightOnTheUnitRightTriangle) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}}, 1.0, 0.0, 6.0);
  solver::start(a);
  solver::setforce(a);
  for (int k = 1; k <= 3; ++k) expect_force(a, k, 0, 0, -1);
}

TEST(Setforce, ReversedNodeOrderTurnsThePressure) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 3, 2}});
  a.elem(1).pressure = 6.0;
  solver::start(a);
  solver::setforce(a);
  for (int k = 1; k <= 3; ++k) expect_force(a, k, 0, 0, -1);
}

TEST(Setforce, WithoutElementsForceIsTheAppliedLoad) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}}, {});
  a.action(1, 2) = 3.5;
  a.action(2, 3) = -0.0;
  solver::start(a);
  solver::setforce(a);
  EXPECT_EQ(a.force(1, 2), 3.5);
  EXPECT_EQ(a.force(1, 1), 0.0);
  EXPECT_TRUE(std::signbit(a.force(2, 3)));  // copied as it stands
}

TEST(Setforce, SharedNodesAccumulateAfterTheirAppliedForce) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{1, 2, 3}, {2, 4, 3}}, 1.0, 0.0, 3.0);
  a.elem(1).pressure = 6.0;
  a.elem(2).pressure = 12.0;
  a.action(2, 3) = 10.0;
  solver::start(a);
  solver::setforce(a);
  // Node 2: 10 applied, -0.5 weight twice, +1 and +2 pressure.
  expect_force(a, 2, 0, 0, 10.0 - 0.5 - 0.5 + 1.0 + 2.0);
  expect_force(a, 1, 0, 0, -0.5 + 1.0);
  expect_force(a, 4, 0, 0, -0.5 + 2.0);
}

TEST(Setforce, PressureFollowsTheCurrentShapeOnly) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}}, 1.0, 0.0, 6.0);
  a.elem(1).pressure = 6.0;
  a.action(1, 1) = 0.25;
  constrain(a, 1, 3, 0.0);
  solver::start(a);
  solver::setforce(a);
  const terms::RealTable before = a.force;
  solver::setforce(a);
  for (int k = 1; k <= 3; ++k) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a.force(k, j), before(k, j));
  }
  // Tilt the element: node 2 rises by 1 (free Z of node 2), so the current
  // normal (P2-P1) x (P3-P1) = (1,0,1) x (0,1,0) = (-1, 0, 1).
  a.u(a.dof(2, 3)) = 1.0;
  solver::setforce(a);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_NEAR(a.force(k, 1), (k == 1 ? 0.25 : 0.0) - 1.0, kTol);
    EXPECT_NEAR(a.force(k, 2), 0.0, kTol);
    EXPECT_NEAR(a.force(k, 3), -1.0 + 1.0,
                kTol);  // self-weight stays on the reference area
  }
}

}  // namespace
