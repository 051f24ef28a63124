// The sheet in shear against tension-field theory (VERIFICATION.md, section
// 7): a rectangle 4 x 1, its long edges clamped, the edge y = 1 moved along
// its length by delta = gamma x width, every node held in its plane. In the
// middle, away from the free short edges, the theory gives uniaxial tension
// at 45 degrees, smaller principal stress 0 and a shear force per length
// young gamma / 4; without wrinkling the sheet carries young gamma / (2 (1 +
// poisson)). Both laws, both methods, solved whole by the driver.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "energy/law.h"
#include "energy/wrinkling.h"
#include "model/analysis.h"
#include "model/model_writer.h"
#include "platform/testing.h"
#include "solver/solver.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTolClosedForm = 0.02;  // the 2 %, relative
constexpr int kNx = 40;
constexpr int kNy = 10;
constexpr double kLength = 4.0;
constexpr double kWidth = 1.0;
constexpr double kGamma = 1e-3;
constexpr double kYoung = 1000.0;
constexpr double kPoisson = 0.3;

// The model file of the sheet (the mesh of tools/wrinkling_models.py shear).
void write_sheet(bool wrinkling) {
  solver::model_file::Description d;
  d.material = {kYoung, kPoisson, 0.0};
  for (int j = 0; j <= kNy; ++j) {
    for (int i = 0; i <= kNx; ++i) d.nodes.push_back({kLength * i / kNx, kWidth * j / kNy, 0.0});
  }
  for (int j = 0; j < kNy; ++j) {
    for (int i = 0; i < kNx; ++i) {
      const int a = j * (kNx + 1) + i + 1;
      const int b = a + 1;
      const int c = a + kNx + 1;
      const int e = c + 1;
      if ((i + j) % 2 == 0) {
        d.elements.push_back({a, b, e});
        d.elements.push_back({a, e, c});
      } else {
        d.elements.push_back({a, b, c});
        d.elements.push_back({b, e, c});
      }
    }
  }
  for (int k = 1; k <= static_cast<int>(d.nodes.size()); ++k) {
    const double y = d.nodes[static_cast<std::size_t>(k - 1)][1];
    if (y == 0.0 || y == kWidth) {
      d.constraints.push_back({k, 1, y == kWidth ? kGamma * kWidth : 0.0});
      d.constraints.push_back({k, 2, 0.0});
    }
    d.constraints.push_back({k, 3, 0.0});
  }
  d.parameters = {0.1, 20, 1e-6, 0.0, 30 * static_cast<std::int32_t>(d.nodes.size()), 3, 20};
  if (wrinkling) d.extension.wrinkling = true;
  solver::model_file::write(d, "input.txt", solver::model_file::Reals::exact);
}

struct MiddleStress {
  int elements = 0;
  int wrinkled = 0;
  double worst_shear = 0.0;  // the largest relative departure of Sxy from the closed form
  double worst_angle = 0.0;  // of the tension line's angle from 45 degrees, relative
  double largest_s2 = -1e300;
};

// The elements whose centroids lie in x in [1.5, 2.5], y in [0.25, 0.75]:
// their stress tensors sum N_k dir_k dir_k^T (the sheet lies in z = 0).
MiddleStress middle(const solver::analysis& a, const solver::MaterialLaw& law, double shear) {
  MiddleStress m;
  std::array<double, 9> grad{};
  for (int e = 1; e <= a.nelem; ++e) {
    const solver::element& el = a.elem(e);
    double cx = 0.0;
    double cy = 0.0;
    for (const int k : el.node) {
      cx += a.coordx(k) / 3.0;
      cy += a.coordy(k) / 3.0;
    }
    if (cx < 1.5 || cx > 2.5 || cy < 0.25 || cy > 0.75) continue;
    const solver::ElementState st = law.cstobj(a, el, a.u, grad);
    const double n[3] = {st.n1, st.n2, st.n3};
    double sxx = 0.0;
    double syy = 0.0;
    double sxy = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
      sxx += n[k] * el.dir[k][0] * el.dir[k][0];
      syy += n[k] * el.dir[k][1] * el.dir[k][1];
      sxy += n[k] * el.dir[k][0] * el.dir[k][1];
    }
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    const double s2 = 0.5 * (sxx + syy) - std::hypot(0.5 * (sxx - syy), sxy);
    ++m.elements;
    m.wrinkled += st.state == static_cast<int>(solver::MembraneState::wrinkled);
    m.worst_shear = std::max(m.worst_shear, std::fabs(sxy - shear) / shear);
    m.worst_angle = std::max(m.worst_angle, std::fabs(angle - kPi / 4.0) / (kPi / 4.0));
    m.largest_s2 = std::max(m.largest_s2, s2);
  }
  return m;
}

class ShearSheet : public platform::testing::ScratchFolder,
                   public ::testing::WithParamInterface<std::tuple<bool, solver::Method>> {
 protected:
  const solver::MaterialLaw& law() const {
    return std::get<0>(GetParam()) ? solver::green_law() : solver::engineering_law();
  }
  solver::RunOptions options() const {
    solver::RunOptions o;
    o.method = std::get<1>(GetParam());
    return o;
  }
};

TEST_P(ShearSheet, WrinklesAt45DegreesCarryingAQuarterOfYoungTimesGamma) {
  write_sheet(true);
  solver::analysis a;
  solver::run(a, law(), options());
  const MiddleStress m = middle(a, law(), kYoung * kGamma / 4.0);
  ASSERT_GT(m.elements, 0);
  EXPECT_EQ(m.wrinkled, m.elements);
  EXPECT_LE(m.worst_shear, kTolClosedForm);
  EXPECT_LE(m.worst_angle, kTolClosedForm);
  // The relaxed stress is uniaxial: its smaller principal value is zero to
  // the rounding of the tension (young gamma / 2).
  EXPECT_LE(std::fabs(m.largest_s2), 1e-9 * kYoung * kGamma);
}

TEST_P(ShearSheet, WithoutWrinklingCarriesTheElasticShear) {
  write_sheet(false);
  solver::analysis a;
  solver::run(a, law(), options());
  const MiddleStress m = middle(a, law(), kYoung * kGamma / (2.0 * (1.0 + kPoisson)));
  ASSERT_GT(m.elements, 0);
  EXPECT_EQ(m.wrinkled, 0);
  EXPECT_LE(m.worst_shear, kTolClosedForm);
  EXPECT_LT(m.largest_s2, -0.9 * kYoung * kGamma / (2.0 * (1.0 + kPoisson)));  // compression, -G gamma
}

INSTANTIATE_TEST_SUITE_P(LawsAndMethods,
                         ShearSheet,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(solver::Method::lbfgs, solver::Method::newton)),
                         [](const ::testing::TestParamInfo<std::tuple<bool, solver::Method>>& p) {
                           return std::string(std::get<0>(p.param) ? "green" : "engineering") +
                                  (std::get<1>(p.param) == solver::Method::newton ? "_newton" : "_lbfgs");
                         });

}  // namespace
