// The relaxed (tension-field) energy of the element kernel, both laws: the
// energy against its form in the principal strains, the gradient against
// central differences in each state and near each boundary, continuity of
// energy and side stresses across the boundaries, and the taut state's
// bits left as they were.

#include "energy/wrinkling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "energy/wrinkling_testing.h"
#include "platform/failure.h"

namespace solver {
namespace {

using testing::StrainLaw;
using testing::StrainPoint;

constexpr double kTolEnergy = 1e-11;     // relative to the taut energy's scale
constexpr double kStep = 1e-8;           // central differences, in displacements of O(0.01)
constexpr double kTolGradient = 1e-7;    // relative to the largest gradient component
constexpr double kJump = 1e-10;          // how far the two sides of a boundary lie apart, in strain
constexpr double kTolContinuity = 1e-6;  // relative to the taut scale

bool same_bits(double p, double q) { return std::memcmp(&p, &q, sizeof p) == 0; }

// The element's side strains, recomputed from its vertices, and the strain
// tensor (xx, yy, xy) they are the projections of onto the reference side
// directions (the reference lies in z = 0): e_k = d_k^T E d_k.
std::array<double, 3> strain_tensor(StrainLaw law, const analysis& a, const double (&delta)[9]) {
  const element& el = a.elem(1);
  double m[3][4];
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t i = 3 * kSideFrom[k];
    const std::size_t j = 3 * kSideTo[k];
    double s = 0.0;
    for (std::size_t c = 0; c < 3; ++c) {
      const double ac = el.dir[k][c] + (delta[j + c] - delta[i + c]) / el.length[k];
      s += ac * ac;
    }
    const double e = law == StrainLaw::green ? 0.5 * (s - 1.0) : std::sqrt(s) - 1.0;
    const double dx = el.dir[k][0];
    const double dy = el.dir[k][1];
    m[k][0] = dx * dx;
    m[k][1] = dy * dy;
    m[k][2] = 2.0 * dx * dy;
    m[k][3] = e;
  }
  // Gaussian elimination with partial pivoting.
  for (int c = 0; c < 3; ++c) {
    int best = c;
    for (int r = c + 1; r < 3; ++r) {
      if (std::fabs(m[r][c]) > std::fabs(m[best][c])) best = r;
    }
    std::swap(m[c], m[best]);
    for (int r = 0; r < 3; ++r) {
      if (r == c) continue;
      const double f = m[r][c] / m[c][c];
      for (int q = c; q < 4; ++q) m[r][q] -= f * m[c][q];
    }
  }
  return {m[0][3] / m[0][0], m[1][3] / m[1][1], m[2][3] / m[2][2]};
}

// The relaxed energy per reference area in the principal strains E1 >= E2
// of the tensor: taut where E2 >= -nu E1, wrinkled where E1 > 0, else
// slack; margin: the distance in strain to the nearest boundary.
double principal_form(const std::array<double, 3>& t, double young, double nu, MembraneState& state, double& margin) {
  const double mean = 0.5 * (t[0] + t[1]);
  const double radius = std::sqrt(0.25 * (t[0] - t[1]) * (t[0] - t[1]) + t[2] * t[2]);
  const double e1 = mean + radius;
  const double e2 = mean - radius;
  margin = std::min(std::fabs(e2 + nu * e1), e2 + nu * e1 >= 0.0 ? 1.0 : std::fabs(e1));
  if (e2 >= -nu * e1) {
    state = MembraneState::taut;
    return young / (2.0 * (1.0 - nu * nu)) * (e1 * e1 + e2 * e2 + 2.0 * nu * e1 * e2);
  }
  if (e1 > 0.0) {
    state = MembraneState::wrinkled;
    return 0.5 * young * e1 * e1;
  }
  state = MembraneState::slack;
  return 0.0;
}

class RelaxedEnergy : public ::testing::TestWithParam<StrainLaw> {};

// Random strains of every kind: the kernel's energy is the principal-strain
// form, and its state the form's (away from the boundaries, where either
// is right).
TEST_P(RelaxedEnergy, IsThePrincipalStrainForm) {
  const analysis a = testing::wrinkling_triangle();
  const Wrinkling w = *wrinkling_of(a);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> strain(-0.02, 0.02);
  std::uniform_real_distribution<double> angle(0.0, 3.2);
  int seen[3] = {};
  for (int i = 0; i < 600; ++i) {
    double delta[9];
    testing::homogeneous_delta(a, strain(rng), strain(rng), angle(rng), delta);
    const auto res = testing::element_result(GetParam(), a.elem(1), delta, &w);
    MembraneState want = MembraneState::taut;
    double margin = 0.0;
    const double form =
        a.elem(1).area * principal_form(strain_tensor(GetParam(), a, delta), a.young, a.poisson, want, margin);
    const double scale = a.elem(1).area * a.young * 1e-4;  // the energy of a strain of 0.01
    EXPECT_NEAR(res.energy, form, kTolEnergy * scale) << "strain " << i;
    if (margin > 1e-9) {
      EXPECT_EQ(static_cast<int>(res.state), static_cast<int>(want)) << "strain " << i;
    }
    ++seen[static_cast<int>(want)];
  }
  for (int s = 0; s < 3; ++s) EXPECT_GT(seen[s], 50) << "state " << s;
}

// A taut element's results are those of the kernel without wrinkling, bit
// for bit.
TEST_P(RelaxedEnergy, TautKeepsTheBitsOfTheLaw) {
  const analysis a = testing::wrinkling_triangle();
  const Wrinkling w = *wrinkling_of(a);
  double delta[9];
  testing::homogeneous_delta(a, 0.012, 0.004, 0.3, delta);
  const auto relaxed = testing::element_result(GetParam(), a.elem(1), delta, &w);
  const auto plain = testing::element_result(GetParam(), a.elem(1), delta, nullptr);
  EXPECT_EQ(relaxed.state, 0.0);
  EXPECT_TRUE(same_bits(relaxed.energy, plain.energy));
  EXPECT_TRUE(same_bits(relaxed.n1, plain.n1) && same_bits(relaxed.n2, plain.n2) && same_bits(relaxed.n3, plain.n3));
  for (int q = 0; q < 9; ++q) EXPECT_TRUE(same_bits(relaxed.grad[q], plain.grad[q])) << q;
}

// Energy and side stresses on the two sides of each boundary, kJump apart
// in strain: they differ by O(kJump), where a fault in either state's
// formula would make them differ by O(1).
TEST_P(RelaxedEnergy, IsContinuousAcrossEachBoundary) {
  const analysis a = testing::wrinkling_triangle();
  const Wrinkling w = *wrinkling_of(a);
  const double scale = a.young * 0.01;  // side stresses of a strain of 0.01
  for (const auto path : {StrainPoint::taut_wrinkled, StrainPoint::wrinkled_slack}) {
    const double t = testing::boundary_of(GetParam(), a, w, path);
    kernel::ElementResult<double> side[2];
    for (int s = 0; s < 2; ++s) {
      double e1 = 0.0;
      double e2 = 0.0;
      testing::path_strains(path, t + (s == 0 ? -kJump : kJump), e1, e2);
      double delta[9];
      testing::homogeneous_delta(a, e1, e2, testing::kPointAngle, delta);
      side[s] = testing::element_result(GetParam(), a.elem(1), delta, &w);
    }
    EXPECT_NE(side[0].state, side[1].state) << "the two points lie in one state";
    EXPECT_NEAR(side[0].energy, side[1].energy, kTolContinuity * scale * 0.01 * a.elem(1).area);
    EXPECT_NEAR(side[0].n1, side[1].n1, kTolContinuity * scale);
    EXPECT_NEAR(side[0].n2, side[1].n2, kTolContinuity * scale);
    EXPECT_NEAR(side[0].n3, side[1].n3, kTolContinuity * scale);
  }
}

INSTANTIATE_TEST_SUITE_P(BothLaws,
                         RelaxedEnergy,
                         ::testing::Values(StrainLaw::green, StrainLaw::engineering),
                         [](const ::testing::TestParamInfo<StrainLaw>& param) {
                           return testing::law_name(param.param);
                         });

class RelaxedGradient : public ::testing::TestWithParam<std::tuple<StrainLaw, StrainPoint>> {};

// The gradient (A sum N_k B_k with the relaxed side stresses) against
// central differences of the relaxed energy, inside each state and just
// either side of each boundary (the difference steps stay on one side).
TEST_P(RelaxedGradient, MatchesCentralDifferencesOfTheEnergy) {
  const auto [law, point] = GetParam();
  const analysis a = testing::wrinkling_triangle();
  const Wrinkling w = *wrinkling_of(a);
  double delta[9];
  testing::point_delta(law, a, w, point, delta);
  const auto res = testing::element_result(law, a.elem(1), delta, &w);
  EXPECT_EQ(static_cast<int>(res.state), static_cast<int>(testing::point_state(point)));
  double scale = a.elem(1).area * a.young * 0.01;  // the gradient's scale even where it vanishes
  for (int q = 0; q < 9; ++q) scale = std::max(scale, std::fabs(res.grad[q]));
  for (int q = 0; q < 9; ++q) {
    double plus[9];
    double minus[9];
    std::copy(delta, delta + 9, plus);
    std::copy(delta, delta + 9, minus);
    plus[q] += kStep;
    minus[q] -= kStep;
    const double fd = (testing::element_result(law, a.elem(1), plus, &w).energy -
                       testing::element_result(law, a.elem(1), minus, &w).energy) /
                      (2.0 * kStep);
    EXPECT_NEAR(res.grad[q], fd, kTolGradient * scale) << "component " << q;
  }
}

INSTANTIATE_TEST_SUITE_P(StatesAndBoundaries,
                         RelaxedGradient,
                         ::testing::Combine(::testing::Values(StrainLaw::green, StrainLaw::engineering),
                                            ::testing::ValuesIn(testing::kStrainPoints)),
                         [](const ::testing::TestParamInfo<std::tuple<StrainLaw, StrainPoint>>& param) {
                           return testing::law_name(std::get<0>(param.param)) + "_" + std::get<1>(param.param).name;
                         });

// With a prestress N0 = K e0 the relaxation acts on the total side
// stresses: the energy is the relaxed energy of the total strain e + e0
// less the constant A e0 . K e0 / 2 (so that the taut energy is the
// prestressed law's, A (e . K e / 2 + N0 . e)), it is continuous across
// the boundaries, and the gradient matches central differences. e0 is an
// isotropic strain of 0.004, a tension: the taut region grows by it.
kernel::ElementResult<double> with_prestress(
    StrainLaw law, const element& el, const double (&delta)[9], double e0, const Wrinkling* w) {
  const auto& k = el.stiff;
  const kernel::SidePrestress<double> p{{e0 * ((k[0][0] + k[0][1]) + k[0][2]),
                                         e0 * ((k[0][1] + k[1][1]) + k[1][2]),
                                         e0 * ((k[0][2] + k[1][2]) + k[2][2])}};
  kernel::ElementResult<double> res{};
  if (law == StrainLaw::green) {
    if (w != nullptr) {
      kernel::evaluate<GreenStrain>(el, delta, res, p, *w);
    } else {
      kernel::evaluate<GreenStrain>(el, delta, res, p);
    }
  } else {
    if (w != nullptr) {
      kernel::evaluate<EngineeringStrain>(el, delta, res, p, *w);
    } else {
      kernel::evaluate<EngineeringStrain>(el, delta, res, p);
    }
  }
  return res;
}

TEST_P(RelaxedEnergy, WithAPrestressIsTheRelaxedEnergyOfTheTotalStrain) {
  const analysis a = testing::wrinkling_triangle();
  const Wrinkling w = *wrinkling_of(a);
  const element& el = a.elem(1);
  constexpr double e0 = 0.004;
  // e0 . K e0 / 2 for the isotropic e0: the taut energy per area of e0.
  const double c0 = a.young / (2.0 * (1.0 - a.poisson * a.poisson)) * (2.0 * e0 * e0 * (1.0 + a.poisson));
  const double scale = el.area * a.young * 1e-4;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> strain(-0.02, 0.02);
  int seen[3] = {};
  for (int i = 0; i < 300; ++i) {
    double delta[9];
    testing::homogeneous_delta(a, strain(rng), strain(rng), 0.3 + 0.01 * i, delta);
    const auto res = with_prestress(GetParam(), el, delta, e0, &w);
    std::array<double, 3> t = strain_tensor(GetParam(), a, delta);
    t[0] += e0;
    t[1] += e0;
    MembraneState want = MembraneState::taut;
    double margin = 0.0;
    const double form = el.area * (principal_form(t, a.young, a.poisson, want, margin) - c0);
    EXPECT_NEAR(res.energy, form, kTolEnergy * scale) << "strain " << i;
    ++seen[static_cast<int>(res.state)];
    if (res.state == 0.0) {  // taut: the prestressed law's bits
      const auto plain = with_prestress(GetParam(), el, delta, e0, nullptr);
      EXPECT_TRUE(same_bits(res.energy, plain.energy) && same_bits(res.n1, plain.n1)) << "strain " << i;
    }
  }
  for (int s = 0; s < 3; ++s) EXPECT_GT(seen[s], 10) << "state " << s;
  // The gradient at a wrinkled and a slack point.
  for (const auto& [e1, e2] : {std::pair{0.012, -0.02}, std::pair{-0.01, -0.015}}) {
    double delta[9];
    testing::homogeneous_delta(a, e1, e2, 0.3, delta);
    const auto res = with_prestress(GetParam(), el, delta, e0, &w);
    EXPECT_NE(res.state, 0.0);
    for (int q = 0; q < 9; ++q) {
      double plus[9];
      double minus[9];
      std::copy(delta, delta + 9, plus);
      std::copy(delta, delta + 9, minus);
      plus[q] += kStep;
      minus[q] -= kStep;
      const double fd =
          (with_prestress(GetParam(), el, plus, e0, &w).energy - with_prestress(GetParam(), el, minus, e0, &w).energy) /
          (2.0 * kStep);
      EXPECT_NEAR(res.grad[q], fd, kTolGradient * el.area * a.young * 0.01) << "component " << q;
    }
  }
}

// The relaxation divides by young and needs |poisson| < 1; a model
// without wrinkling is not asked.
TEST(WrinklingOf, RefusesMaterialsItCannotRelax) {
  analysis a = testing::wrinkling_triangle();
  EXPECT_TRUE(wrinkling_of(a).has_value());
  for (const auto& [young, poisson] : {std::pair{0.0, 0.3},
                                       std::pair{-5.0, 0.3},
                                       std::pair{1000.0, 1.0},
                                       std::pair{1000.0, -1.0},
                                       std::pair{1000.0, std::nan("")}}) {
    a.young = young;
    a.poisson = poisson;
    EXPECT_THROW((void)wrinkling_of(a), platform::DataError) << young << " " << poisson;
  }
  a.wrinkling = false;
  EXPECT_FALSE(wrinkling_of(a).has_value());
}

}  // namespace
}  // namespace solver
