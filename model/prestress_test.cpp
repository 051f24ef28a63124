// The side stresses of a prestress: they rebuild the tensor they stand for
// (isotropic and orthotropic, on tilted and obtuse triangles), the
// equilateral case in closed form, the record whose direction is normal to
// an element, and the table that start leaves.

#include "model/prestress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "model/geometry.h"
#include "model/model.h"
#include "model/model_testing.h"
#include "platform/testing.h"

namespace {

using solver::analysis;
using solver::PrestressRange;
using Vec = std::array<double, 3>;
using Tensor = std::array<std::array<double, 3>, 3>;

constexpr double kTol = 1e-12;  // relative to the prestress

Vec cross(const Vec& p, const Vec& q) {
  return {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
}
Vec unit(const Vec& p) {
  const double l = std::sqrt(solver::dot(p, p));
  return {p[0] / l, p[1] / l, p[2] / l};
}

// sum_k N_k d_k d_k^T.
Tensor tensor_of(const solver::element& el, const Vec& n) {
  Tensor t{};
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) t[i][j] += n[k] * el.dir[k][i] * el.dir[k][j];
    }
  }
  return t;
}

// One triangle with random vertices in space, set up.
analysis random_triangle(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Vec> nodes(3);
  for (Vec& p : nodes) p = {u(rng), u(rng), u(rng)};
  analysis a = solver::testing::make_model(nodes, {{1, 2, 3}}, 1.0, 0.3);
  solver::start(a);
  return a;
}

TEST(PrestressSides, RebuildTheIsotropicTensorOfTheElementsPlane) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    const analysis a = random_triangle(rng);
    const solver::element& el = a.elem(1);
    const Vec n0 = solver::prestress_sides(el, PrestressRange{1, 1, 2.5, 2.5, {}}, 1, 1);
    const Vec normal = unit(cross(el.dir[1], el.dir[2]));
    const Tensor t = tensor_of(el, n0);
    // Near-degenerate triangles lose digits in the side stresses (their
    // cotangents grow): compare relative to the largest of them.
    double scale = 2.5;
    for (const double v : n0) scale = std::max(scale, std::fabs(v));
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) {
        const double want = 2.5 * ((i == j ? 1.0 : 0.0) - normal[i] * normal[j]);
        EXPECT_NEAR(t[i][j], want, kTol * scale * 10) << "trial " << trial;
      }
    }
  }
}

TEST(PrestressSides, RebuildTheOrthotropicTensorAlongTheProjectedDirection) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    const analysis a = random_triangle(rng);
    const solver::element& el = a.elem(1);
    const Vec d = {u(rng), u(rng), u(rng)};
    const Vec normal = unit(cross(el.dir[1], el.dir[2]));
    if (std::fabs(solver::dot(unit(d), normal)) > 0.99) continue;  // ill-conditioned projection
    const PrestressRange p{1, 1, 3.0, 0.5, d};
    const Vec n0 = solver::prestress_sides(el, p, 1, 1);
    const double along = solver::dot(d, normal);
    const Vec t1 = unit({d[0] - along * normal[0], d[1] - along * normal[1], d[2] - along * normal[2]});
    const Vec t2 = cross(normal, t1);
    const Tensor t = tensor_of(el, n0);
    double scale = 3.0;
    for (const double v : n0) scale = std::max(scale, std::fabs(v));
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) {
        const double want = 3.0 * t1[i] * t1[j] + 0.5 * t2[i] * t2[j];
        EXPECT_NEAR(t[i][j], want, kTol * scale * 10) << "trial " << trial;
      }
    }
    // Neither the magnitude nor the sign of the direction matters, down to
    // the ends of the doubles.
    for (const double m : {1e-300, 1e300}) {
      const Vec scaled =
          solver::prestress_sides(el, PrestressRange{1, 1, 3.0, 0.5, {m * d[0], m * d[1], m * d[2]}}, 1, 1);
      for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(scaled[k], n0[k], kTol * scale);
    }
    // The sign of the direction does not matter.
    const Vec reversed = solver::prestress_sides(el, PrestressRange{1, 1, 3.0, 0.5, {-d[0], -d[1], -d[2]}}, 1, 1);
    for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(reversed[k], n0[k], kTol * scale);
  }
}

TEST(PrestressSides, EquilateralTriangleTakesTwoThirdsOnEverySide) {
  analysis a = solver::testing::make_model({{0, 0, 0}, {2, 0, 0}, {1, std::sqrt(3.0), 0}}, {{1, 2, 3}}, 1.0, 0.3);
  solver::start(a);
  const Vec n0 = solver::prestress_sides(a.elem(1), PrestressRange{1, 1, 1.5, 1.5, {}}, 1, 1);
  for (const double v : n0) EXPECT_NEAR(v, 1.0, kTol);
  // Uniaxial along side 3 (X): that side alone carries it, since the other
  // two would add stress across X.
  const Vec x = solver::prestress_sides(a.elem(1), PrestressRange{1, 1, 1.5, 0.0, {1, 0, 0}}, 1, 1);
  EXPECT_NEAR(x[0], 0.0, kTol);
  EXPECT_NEAR(x[1], 0.0, kTol);
  EXPECT_NEAR(x[2], 1.5, kTol);
}

TEST(PrestressSides, ADirectionNormalToAnElementIsRefusedNamingRecordAndElement) {
  analysis a = solver::testing::make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 1, 1}},
                                           {{1, 2, 3}, {2, 4, 3}, {2, 4, 5}});
  a.extension.prestress = {{1, 1, 1.0, 1.0, {}, 30}, {2, 3, 2.0, 1.0, {0, 0, 1}, 31}};
  platform::testing::ExpectFailure([&] { solver::start(a); },
                                   "DATA_ERROR",
                                   {"prestress record 2 (line 31)", "is normal to element 2", "expected a direction"});
  // Read from a file, the report names it and the record's line first,
  // as the reader's reports do.
  a = solver::testing::make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 1, 1}},
                                  {{1, 2, 3}, {2, 4, 3}, {2, 4, 5}});
  a.file = "input.txt";
  a.extension.prestress = {{2, 3, 2.0, 1.0, {0, 0, 1}, 31}};
  platform::testing::ExpectFailure(
      [&] { solver::start(a); }, "DATA_ERROR", {"input.txt:31: prestress record 1:", "is normal to element 2"});
  // Element 3 stands upright: Z lies in its plane, so the direction is
  // good there.
  a = solver::testing::make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 1, 1}},
                                  {{1, 2, 3}, {2, 4, 3}, {2, 4, 5}});
  a.extension.prestress = {{3, 3, 2.0, 1.0, {0, 0, 1}}};
  solver::start(a);
  ASSERT_EQ(a.side_prestress.size(), 3u);
  EXPECT_EQ(a.side_prestress[0], (Vec{0, 0, 0}));  // no record names it
  EXPECT_NE(a.side_prestress[2], (Vec{0, 0, 0}));
}

TEST(PrestressSides, StartLeavesNoTableWithoutRecords) {
  analysis a = solver::testing::make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  solver::start(a);
  EXPECT_TRUE(a.side_prestress.empty());
}

}  // namespace
