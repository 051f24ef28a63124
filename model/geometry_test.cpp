// The element's side numbering and angle cosines, as the set-up leaves the
// reference directions.

#include "model/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/model.h"
#include "model/model_testing.h"

namespace {

constexpr double kTol = 1e-14;

// Side k joins the two vertices other than k, from kSideFrom[k] to
// kSideTo[k], and its direction points that way.
TEST(Geometry, SidesRunBetweenTheVerticesTheyDoNotFace) {
  const std::vector<std::array<double, 3>> p = {{0.1, 0.2, 0.3}, {1.3, -0.1, 0.2}, {0.4, 0.9, -0.5}};
  solver::analysis a = solver::testing::make_model(p, {{1, 2, 3}});
  solver::start(a);
  const solver::element& el = a.elem(1);
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_NE(solver::kSideFrom[k], k);
    EXPECT_NE(solver::kSideTo[k], k);
    EXPECT_NE(solver::kSideFrom[k], solver::kSideTo[k]);
    for (std::size_t j = 0; j < 3; ++j) {
      const double d = p[solver::kSideTo[k]][j] - p[solver::kSideFrom[k]][j];
      EXPECT_NEAR(el.dir[k][j], d / el.length[k], kTol) << "side " << k + 1 << " axis " << j;
    }
  }
}

// The unit right triangle: a right angle at vertex 1, half right angles at
// the others; an irregular triangle's angles sum to pi.
TEST(Geometry, AngleCosinesAreThoseAtTheVertices) {
  solver::analysis a = solver::testing::make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  solver::start(a);
  EXPECT_NEAR(solver::angle_cosine(a.elem(1), 0), 0.0, kTol);
  EXPECT_NEAR(solver::angle_cosine(a.elem(1), 1), std::sqrt(0.5), kTol);
  EXPECT_NEAR(solver::angle_cosine(a.elem(1), 2), std::sqrt(0.5), kTol);

  solver::analysis b = solver::testing::make_model({{0, 0, 0}, {2, 0, 0}, {0.5, 1, 0}}, {{1, 2, 3}});
  solver::start(b);
  const double at1 = std::acos(solver::angle_cosine(b.elem(1), 0));
  const double at2 = std::acos(solver::angle_cosine(b.elem(1), 1));
  const double at3 = std::acos(solver::angle_cosine(b.elem(1), 2));
  EXPECT_NEAR(at1, std::atan2(1.0, 0.5), kTol);
  EXPECT_NEAR(at2, std::atan2(1.0, 1.5), kTol);
  EXPECT_NEAR(at1 + at2 + at3, std::acos(-1.0), kTol);
}

// Rounding can lift a cosine above 1, which is clamped; a value below -1
// is the caller's to judge and stays.
TEST(Geometry, AngleCosineIsClampedFromAboveOnly) {
  solver::element e;
  e.dir[1] = {1.0, 0.0, 0.0};
  e.dir[2] = {-1.0 - 1e-15, 0.0, 0.0};
  EXPECT_EQ(solver::angle_cosine(e, 0), 1.0);
  e.dir[2] = {1.0 + 1e-15, 0.0, 0.0};
  EXPECT_LT(solver::angle_cosine(e, 0), -1.0);
}

}  // namespace
