// The principal stresses of the report against the eigenvalues of the
// element's stress tensor, the sum of N_k dir_k dir_k^T, and the direction
// of the larger one against its eigenvector.

#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"
#include "model/model_testing.h"
#include "solver/fields.h"
#include "solver/results.h"

namespace {

constexpr double kTol = 1e-12;

struct Case {
  double n1, n2, n3;
};

class Principal : public ::testing::TestWithParam<Case> {};

// An irregular triangle in the plane z = 0: the tensor is 2 x 2 there, and
// its eigenvalues have the closed form of a symmetric 2 x 2 matrix.
TEST_P(Principal, AreTheEigenvaluesOfTheStressTensor) {
  solver::analysis a = solver::testing::make_model({{0.1, 0.2, 0.0}, {1.3, -0.1, 0.0}, {0.4, 0.9, 0.0}}, {{1, 2, 3}});
  solver::start(a);
  const solver::element& el = a.elem(1);
  const Case c = GetParam();
  const double n[3] = {c.n1, c.n2, c.n3};
  double sxx = 0.0, syy = 0.0, sxy = 0.0;
  for (std::size_t k = 0; k < 3; ++k) {
    sxx += n[k] * el.dir[k][0] * el.dir[k][0];
    syy += n[k] * el.dir[k][1] * el.dir[k][1];
    sxy += n[k] * el.dir[k][0] * el.dir[k][1];
  }
  const double mean = 0.5 * (sxx + syy);
  const double radius = std::hypot(0.5 * (sxx - syy), sxy);
  const solver::PrincipalStresses ps = solver::principal(el, c.n1, c.n2, c.n3);
  const double scale = std::fabs(c.n1) + std::fabs(c.n2) + std::fabs(c.n3);
  EXPECT_NEAR(ps.s1, mean + radius, kTol * scale);
  EXPECT_NEAR(ps.s2, mean - radius, kTol * scale);
}

// A triangle tilted out of every coordinate plane: the direction is a unit
// vector in its plane, and the tensor maps it to s1 times itself.
TEST_P(Principal, TheDirectionIsTheEigenvectorOfTheLargerStress) {
  solver::analysis a = solver::testing::make_model({{0.1, 0.2, 0.3}, {1.3, -0.1, 0.5}, {0.4, 0.9, -0.2}}, {{1, 2, 3}});
  solver::start(a);
  const solver::element& el = a.elem(1);
  const Case c = GetParam();
  const std::array<double, 3> n = {c.n1, c.n2, c.n3};
  const std::array<double, 3> d = solver::principal_direction(el, n);
  const solver::PrincipalStresses ps = solver::principal(el, c.n1, c.n2, c.n3);
  const double scale = std::fabs(c.n1) + std::fabs(c.n2) + std::fabs(c.n3);
  EXPECT_NEAR(std::hypot(d[0], d[1], d[2]), 1.0, kTol);
  for (std::size_t i = 0; i < 3; ++i) {
    double sd = 0.0;  // (S d)_i
    for (std::size_t k = 0; k < 3; ++k) {
      const double along = el.dir[k][0] * d[0] + el.dir[k][1] * d[1] + el.dir[k][2] * d[2];
      sd += n[k] * el.dir[k][i] * along;
    }
    EXPECT_NEAR(sd, ps.s1 * d[i], kTol * scale) << "component " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(SideStresses,
                         Principal,
                         ::testing::Values(Case{0.0, 0.0, 2.5},   // uniaxial along side 3: (2.5, 0)
                                           Case{0.0, 0.0, -2.5},  // (0, -2.5)
                                           Case{1.0, 0.0, 0.0},   // along side 1
                                           Case{0.0, -0.7, 0.0},  // along side 2
                                           Case{0.3, -1.2, 0.8},  // every angle's cosine counts
                                           Case{-0.4, 0.9, 2.1}));

}  // namespace
