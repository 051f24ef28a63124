// The element tangent and its assembly against central differences of the
// gradient, for both strain laws, on irregular meshes and states.

#include "energy/tangent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "energy/energy_testing.h"
#include "energy/kernel.h"
#include "energy/law.h"
#include "energy/strain.h"
#include "energy/wrinkling_testing.h"
#include "model/model.h"
#include "model/prestress.h"
#include "newton/sparse_cholesky.h"
#include "newton/tangent_pattern.h"

namespace {

using solver::analysis;

constexpr double kStep = 1e-6;   // central difference step (displacements are O(0.1))
constexpr double kTolFd = 2e-7;  // tangent against differences, relative to the largest entry
constexpr double kTolExact = 1e-12;

enum class Law { green, engineering };

std::string LawName(Law law) { return law == Law::green ? "green" : "engineering"; }

// The element's gradient, with the prestress side stresses n0 when given.
template <class L>
void ElementGradient(const solver::element& el,
                     const double (&delta)[9],
                     double (&g)[9],
                     const std::array<double, 3>* n0 = nullptr) {
  solver::kernel::ElementResult<double> res;
  if (n0 != nullptr) {
    solver::kernel::evaluate<L>(el, delta, res, solver::kernel::SidePrestress<double>{{(*n0)[0], (*n0)[1], (*n0)[2]}});
  } else {
    solver::kernel::evaluate<L>(el, delta, res);
  }
  for (int q = 0; q < 9; ++q) g[q] = res.grad[q];
}

template <class L>
void ElementTangent(const solver::element& el,
                    const double (&delta)[9],
                    bool clamp,
                    double (&h)[81],
                    const std::array<double, 3>* n0 = nullptr) {
  solver::element_tangent<L>(el, delta, clamp, h, n0);
}

struct Case {
  Law law;
  unsigned seed;
  double amplitude;
  bool prestressed = false;
};

// Prestress on the irregular model (after its set-up): an isotropic one
// on the first half of the elements, an orthotropic one, across the
// tilted plane, on the rest (with a negative n2), both far above what the
// differences resolve.
void prestress(analysis& a) {
  const int half = a.nelem / 2;
  a.extension.prestress = {{1, half, 0.5, 0.5, {}}, {half + 1, a.nelem, 0.8, -0.3, {0.3, 1.0, 0.0}}};
  solver::set_up_prestress(a);
}

class ElementTangentTest : public ::testing::TestWithParam<Case> {};

// Every element of the mesh: each column of the 9 x 9 tangent against the
// central difference of the element gradient along that component.
TEST_P(ElementTangentTest, MatchesCentralDifferencesOfTheGradient) {
  const Case c = GetParam();
  terms::Vector x;
  analysis a = solver::testing::irregular_model(c.seed, 4, c.amplitude, x);
  if (c.prestressed) prestress(a);
  std::vector<double> full;
  solver::gather_full(a, x, full);
  const std::vector<solver::ElementSlots> slots = solver::testing::element_slots_of(a);
  int compressed = 0;
  for (int e = 1; e <= a.nelem; ++e) {
    const solver::element& el = a.elem(e);
    double delta[9];
    for (std::size_t q = 0; q < 9; ++q)
      delta[q] = full[static_cast<std::size_t>(slots[static_cast<std::size_t>(e - 1)][q])];
    const std::array<double, 3>* n0 = c.prestressed ? &a.side_prestress[static_cast<std::size_t>(e - 1)] : nullptr;
    double h[81];
    if (c.law == Law::green) {
      ElementTangent<solver::GreenStrain>(el, delta, false, h, n0);
    } else {
      ElementTangent<solver::EngineeringStrain>(el, delta, false, h, n0);
    }
    solver::kernel::ElementResult<double> res;
    solver::kernel::evaluate<solver::GreenStrain>(el, delta, res);
    if (res.n1 < 0.0 || res.n2 < 0.0 || res.n3 < 0.0) ++compressed;
    double scale = 0.0;
    for (const double v : h) scale = std::max(scale, std::fabs(v));
    for (int q = 0; q < 9; ++q) {
      double plus[9];
      double minus[9];
      std::copy(delta, delta + 9, plus);
      std::copy(delta, delta + 9, minus);
      plus[q] += kStep;
      minus[q] -= kStep;
      double gp[9];
      double gm[9];
      if (c.law == Law::green) {
        ElementGradient<solver::GreenStrain>(el, plus, gp, n0);
        ElementGradient<solver::GreenStrain>(el, minus, gm, n0);
      } else {
        ElementGradient<solver::EngineeringStrain>(el, plus, gp, n0);
        ElementGradient<solver::EngineeringStrain>(el, minus, gm, n0);
      }
      for (int p = 0; p < 9; ++p) {
        const double fd = (gp[p] - gm[p]) / (2.0 * kStep);
        EXPECT_NEAR(h[9 * p + q], fd, kTolFd * scale) << "element " << e << " entry " << p << ", " << q;
      }
    }
  }
  // The random states must exercise the part from compressive side forces.
  EXPECT_GT(compressed, 0);
}

INSTANTIATE_TEST_SUITE_P(IrregularMeshes,
                         ElementTangentTest,
                         ::testing::Values(Case{Law::green, 1, 0.05},
                                           Case{Law::green, 2, 0.3},
                                           Case{Law::engineering, 1, 0.05},
                                           Case{Law::engineering, 2, 0.3},
                                           Case{Law::engineering, 3, 0.6},
                                           Case{Law::green, 1, 0.05, true},
                                           Case{Law::engineering, 1, 0.05, true},
                                           Case{Law::engineering, 3, 0.6, true}),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return LawName(param.param.law) + "_seed" + std::to_string(param.param.seed) +
                                  (param.param.prestressed ? "_prestressed" : "");
                         });

// The assembled tangent over the free unknowns against central differences
// of the whole objective's gradient: checks the pattern, the positions of
// every element's entries and the dropping of prescribed components.
class AssembledTangentTest : public ::testing::TestWithParam<std::tuple<Law, bool>> {};

void CheckAssembled(const solver::MaterialLaw& law, bool prestressed) {
  terms::Vector x;
  analysis a = solver::testing::irregular_model(7, 3, 0.1, x);
  if (prestressed) prestress(a);
  const std::vector<solver::ElementSlots> slots = solver::testing::element_slots_of(a);
  const solver::TangentPattern p = solver::tangent_pattern(a, slots);
  std::vector<double> values(p.row.size());
  law.tangent(a, slots, x, p.position, false, values);
  // Dense copy of the upper triangle.
  const int n = a.nfree;
  std::vector<double> dense(static_cast<std::size_t>(n * n), 0.0);
  for (int j = 0; j < n; ++j) {
    for (int k = p.colptr[static_cast<std::size_t>(j)]; k < p.colptr[static_cast<std::size_t>(j) + 1]; ++k) {
      const int i = p.row[static_cast<std::size_t>(k)];
      ASSERT_LE(i, j);
      dense[static_cast<std::size_t>(i * n + j)] = values[static_cast<std::size_t>(k)];
      dense[static_cast<std::size_t>(j * n + i)] = values[static_cast<std::size_t>(k)];
    }
  }
  double scale = 0.0;
  for (const double v : dense) scale = std::max(scale, std::fabs(v));
  terms::Vector gp(n);
  terms::Vector gm(n);
  for (int j = 1; j <= n; ++j) {
    terms::Vector xp = x;
    terms::Vector xm = x;
    xp(j) += kStep;
    xm(j) -= kStep;
    solver::testing::objective(a, n, xp, gp, law);
    solver::testing::objective(a, n, xm, gm, law);
    for (int i = 1; i <= n; ++i) {
      const double fd = (gp(i) - gm(i)) / (2.0 * kStep);
      EXPECT_NEAR(dense[static_cast<std::size_t>((i - 1) * n + (j - 1))], fd, kTolFd * scale) << i << ", " << j;
    }
  }
}

TEST_P(AssembledTangentTest, MatchesCentralDifferencesOfTheObjective) {
  const auto [law, prestressed] = GetParam();
  CheckAssembled(law == Law::green ? solver::green_law() : solver::engineering_law(), prestressed);
}

INSTANTIATE_TEST_SUITE_P(BothLaws,
                         AssembledTangentTest,
                         ::testing::Combine(::testing::Values(Law::green, Law::engineering), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<Law, bool>>& param) {
                           return LawName(std::get<0>(param.param)) + (std::get<1>(param.param) ? "_prestressed" : "");
                         });

// Clamping drops only compressive side forces: it leaves a stretched state's
// tangent as it is and adds a positive semi-definite matrix otherwise (the
// dropped part, -A n_k d2e_k with n_k < 0, and d2e_k is positive
// semi-definite for both laws).
TEST(ClampedTangent, EqualsTheExactOneUnderTension) {
  terms::Vector x;
  analysis a = solver::testing::irregular_model(5, 2, 0.0, x);
  solver::element el = a.elem(1);
  // Uniform stretch by 10%: every side in tension.
  double delta[9];
  for (std::size_t v = 0; v < 3; ++v) {
    const int node = el.node[v];
    delta[3 * v] = 0.1 * a.coordx(node);
    delta[3 * v + 1] = 0.1 * a.coordy(node);
    delta[3 * v + 2] = 0.1 * a.coordz(node);
  }
  double exact[81];
  double clamped[81];
  solver::element_tangent<solver::EngineeringStrain>(el, delta, false, exact);
  solver::element_tangent<solver::EngineeringStrain>(el, delta, true, clamped);
  for (int k = 0; k < 81; ++k) EXPECT_EQ(exact[k], clamped[k]) << k;
}

TEST(ClampedTangent, AddsAPositiveSemiDefinitePartUnderCompression) {
  terms::Vector x;
  analysis a = solver::testing::irregular_model(5, 2, 0.0, x);
  const solver::element el = a.elem(1);
  double delta[9];
  for (std::size_t v = 0; v < 3; ++v) {
    const int node = el.node[v];
    delta[3 * v] = -0.1 * a.coordx(node);
    delta[3 * v + 1] = -0.1 * a.coordy(node);
    delta[3 * v + 2] = -0.1 * a.coordz(node);
  }
  for (const bool green : {true, false}) {
    double exact[81];
    double clamped[81];
    if (green) {
      solver::element_tangent<solver::GreenStrain>(el, delta, false, exact);
      solver::element_tangent<solver::GreenStrain>(el, delta, true, clamped);
    } else {
      solver::element_tangent<solver::EngineeringStrain>(el, delta, false, exact);
      solver::element_tangent<solver::EngineeringStrain>(el, delta, true, clamped);
    }
    std::mt19937 rng(11);
    std::normal_distribution<double> normal;
    double largest = 0.0;
    for (int trial = 0; trial < 200; ++trial) {
      double v[9];
      for (double& c : v) c = normal(rng);
      double quad = 0.0;
      for (int p = 0; p < 9; ++p) {
        for (int q = 0; q < 9; ++q) quad += v[p] * (clamped[9 * p + q] - exact[9 * p + q]) * v[q];
      }
      EXPECT_GE(quad, -kTolExact) << (green ? "green" : "engineering");
      largest = std::max(largest, quad);
    }
    EXPECT_GT(largest, 0.0) << "nothing was clamped";
  }
}

// The relaxed tangent (no residual stiffness) against central differences
// of the relaxed gradient, inside each state and just either side of each
// boundary, both laws; and what the residual stiffness adds.
class WrinkledTangent
    : public ::testing::TestWithParam<std::tuple<solver::testing::StrainLaw, solver::testing::StrainPoint>> {
 protected:
  void SetUp() override {
    a_ = solver::testing::wrinkling_triangle();
    w_ = *solver::wrinkling_of(a_);
    solver::testing::point_delta(law(), a_, w_, point(), delta_);
  }
  solver::testing::StrainLaw law() const { return std::get<0>(GetParam()); }
  const solver::testing::StrainPoint& point() const { return std::get<1>(GetParam()); }
  void tangent(const solver::Wrinkling* w, bool clamp, double (&h)[81]) const {
    if (law() == solver::testing::StrainLaw::green) {
      solver::element_tangent<solver::GreenStrain>(a_.elem(1), delta_, clamp, h, nullptr, w);
    } else {
      solver::element_tangent<solver::EngineeringStrain>(a_.elem(1), delta_, clamp, h, nullptr, w);
    }
  }
  analysis a_;
  solver::Wrinkling w_;
  double delta_[9] = {};
};

TEST_P(WrinkledTangent, MatchesCentralDifferencesOfTheRelaxedGradient) {
  solver::Wrinkling exact = w_;
  exact.residual = 0.0;
  exact.residual_tension = 0.0;
  double h[81];
  tangent(&exact, false, h);
  const solver::element& el = a_.elem(1);
  double scale = el.area * a_.young;  // the taut tangent's scale, also where h vanishes
  for (const double v : h) scale = std::max(scale, std::fabs(v));
  constexpr double kStepHere = 1e-8;  // stays on one side of a boundary 1e-5 away in strain
  for (int q = 0; q < 9; ++q) {
    double plus[9];
    double minus[9];
    std::copy(delta_, delta_ + 9, plus);
    std::copy(delta_, delta_ + 9, minus);
    plus[q] += kStepHere;
    minus[q] -= kStepHere;
    const auto gp = solver::testing::element_result(law(), el, plus, &w_);
    const auto gm = solver::testing::element_result(law(), el, minus, &w_);
    for (int p = 0; p < 9; ++p) {
      const double fd = (gp.grad[p] - gm.grad[p]) / (2.0 * kStepHere);
      EXPECT_NEAR(h[9 * p + q], fd, 1e-6 * scale) << "entry " << p << ", " << q;
    }
  }
}

// Taut: the tangent of the law, bit for bit. Wrinkled or slack: the
// residual stiffness adds a positive semi-definite part, and the clamped
// tangent with it is positive semi-definite, so the factorization meets no
// negative direction from these elements.
TEST_P(WrinkledTangent, ResidualStiffnessOnlyWhereNotTaut) {
  double with[81];
  double plain[81];
  solver::Wrinkling exact = w_;
  exact.residual = 0.0;
  exact.residual_tension = 0.0;
  tangent(&w_, false, with);
  if (solver::testing::point_state(point()) == solver::MembraneState::taut) {
    tangent(nullptr, false, plain);
    for (int k = 0; k < 81; ++k) EXPECT_EQ(with[k], plain[k]) << k;
    return;
  }
  tangent(&exact, false, plain);
  double clamped[81];
  tangent(&w_, true, clamped);
  std::mt19937 rng(5);
  std::normal_distribution<double> normal;
  double largest = 0.0;
  const double scale = a_.elem(1).area * a_.young;
  for (int trial = 0; trial < 200; ++trial) {
    double v[9];
    for (double& c : v) c = normal(rng);
    double added = 0.0;
    double whole = 0.0;
    for (int p = 0; p < 9; ++p) {
      for (int q = 0; q < 9; ++q) {
        added += v[p] * (with[9 * p + q] - plain[9 * p + q]) * v[q];
        whole += v[p] * clamped[9 * p + q] * v[q];
      }
    }
    EXPECT_GE(added, -kTolExact * scale);
    EXPECT_GE(whole, -1e-12 * scale);
    largest = std::max(largest, added);
  }
  EXPECT_GT(largest, 0.1 * solver::Wrinkling::kResidual * scale * 1e-4) << "no residual stiffness";
}

INSTANTIATE_TEST_SUITE_P(
    StatesAndBoundaries,
    WrinkledTangent,
    ::testing::Combine(::testing::Values(solver::testing::StrainLaw::green, solver::testing::StrainLaw::engineering),
                       ::testing::ValuesIn(solver::testing::kStrainPoints)),
    [](const ::testing::TestParamInfo<std::tuple<solver::testing::StrainLaw, solver::testing::StrainPoint>>& param) {
      return solver::testing::law_name(std::get<0>(param.param)) + "_" + std::get<1>(param.param).name;
    });

// A node that no element uses: its unknowns' columns hold only their
// diagonal, every column still ends with its diagonal (where the shift and
// the solver look for it), and the shift stays positive definite. Node 1
// makes the first unknown such a one.
TEST(TangentPattern, UnknownsNoElementTouchesKeepADiagonal) {
  analysis a =
      solver::testing::make_model({{9.0, 9.0, 0.0}, {0.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {1.0, 1.0, 0.0}},
                                  {{2, 3, 5}, {2, 5, 4}},
                                  1000.0,
                                  0.3);
  for (int axis = 1; axis <= 3; ++axis) solver::testing::constrain(a, 2, axis, 0.0);
  solver::start(a);
  ASSERT_EQ(a.dof(1, 1), 1);
  const std::vector<solver::ElementSlots> slots = solver::testing::element_slots_of(a);
  const solver::TangentPattern p = solver::tangent_pattern(a, slots);
  for (int j = 0; j < p.n; ++j) {
    const int first = p.colptr[static_cast<std::size_t>(j)];
    const int last = p.colptr[static_cast<std::size_t>(j) + 1] - 1;
    ASSERT_LE(first, last) << "column " << j << " is empty";
    EXPECT_EQ(p.row[static_cast<std::size_t>(last)], j);
    if (j < 3) {
      EXPECT_EQ(first, last) << "the lone node's column " << j << " holds more than its diagonal";
    }
  }
  const std::vector<double> shift = solver::shift_values(a, p);
  for (int j = 0; j < p.n; ++j)
    EXPECT_GT(shift[static_cast<std::size_t>(p.colptr[static_cast<std::size_t>(j) + 1] - 1)], 0.0);
  auto cholesky = solver::make_sparse_cholesky();
  cholesky->analyse(p.n, p.colptr, p.row);
  EXPECT_EQ(cholesky->factorize(shift), solver::SparseCholesky::Status::success);
}

}  // namespace
