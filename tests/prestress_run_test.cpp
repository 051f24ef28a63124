// Whole analyses of prestressed membranes, in process, for both material
// laws and both methods: a flat square whose prestress gives it the
// stiffness across its plane that the strain alone lacks, against the
// membrane equation N0 (w_xx + w_yy) = -q; its reactions, which carry the
// prestress; and its results at any thread count.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "energy/law.h"
#include "generators/circle.h"
#include "model/analysis.h"
#include "model/model_writer.h"
#include "platform/testing.h"
#include "solver/solver.h"

namespace {

namespace fs = std::filesystem;
using solver::model_file::Description;

constexpr double kPrestress = 10.0;  // N0, force per length
constexpr double kYoung = 1000.0;

// The square -1..1 x -1..1 of n x n cells, each cut into two right
// triangles by the diagonal of the same direction, its boundary held, the
// isotropic prestress kPrestress on every element and the pressure q. On
// this mesh the prestress's side forces are those of the five-point
// difference star, whose error at the centre falls as h^2.
Description PrestressedSquare(int n, double q) {
  Description d;
  d.parameters.mntol = 1e-4;
  d.parameters.maxminor = 30 * (n + 1) * (n + 1);
  d.parameters.maxmajor = 50;
  d.material = {kYoung, 0.3, 0.0};
  const auto node = [n](int i, int j) { return j * (n + 1) + i + 1; };
  const double h = 2.0 / n;
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) d.nodes.push_back({-1.0 + i * h, -1.0 + j * h, 0.0});
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      d.elements.push_back({node(i, j), node(i + 1, j), node(i + 1, j + 1)});
      d.elements.push_back({node(i, j), node(i + 1, j + 1), node(i, j + 1)});
    }
  }
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      if (i != 0 && j != 0 && i != n && j != n) continue;
      for (std::int32_t axis = 1; axis <= 3; ++axis) d.constraints.push_back({node(i, j), axis, 0.0});
    }
  }
  const auto elements = static_cast<std::int32_t>(d.elements.size());
  if (q != 0.0) {
    for (std::int32_t e = 1; e <= elements; ++e) d.pressures.push_back({e, q});
  }
  d.extension.prestress = {{1, elements, kPrestress, kPrestress, {}}};
  return d;
}

// The centre deflection of the clamped square of side 2 under N0 and q,
// from the double sine series of the membrane equation.
double SeriesCentreDeflection(double q) {
  constexpr double kPi = std::numbers::pi;
  double sum = 0.0;
  for (int m = 1; m < 400; m += 2) {
    for (int n = 1; n < 400; n += 2) {
      const double sign = ((m + n) / 2 - 1) % 2 == 0 ? 1.0 : -1.0;
      sum += sign / (m * n * static_cast<double>(m * m + n * n));
    }
  }
  return 16.0 * q * 4.0 / (kPi * kPi * kPi * kPi * kPrestress) * sum;
}

using Param = std::tuple<const solver::MaterialLaw*, solver::Method>;

class PrestressRun : public platform::testing::ScratchFolder, public ::testing::WithParamInterface<Param> {
 protected:
  solver::analysis Run(const Description& d, unsigned threads = 1) {
    solver::model_file::write(d, (dir_ / "input.txt").string(), solver::model_file::Reals::exact);
    solver::RunOptions options;
    options.method = std::get<1>(GetParam());
    options.threads = threads;
    options.parallel_from = threads > 1 ? 1 : options.parallel_from;
    solver::analysis a;
    solver::run(a, *std::get<0>(GetParam()), options);
    return a;
  }
  static double CentreZ(const solver::analysis& a, int n) {
    const int centre = (n / 2) * (n + 1) + n / 2 + 1;
    return a.u(a.dof(centre, 3));
  }
};

// A pressure small enough that the strain's stresses stay far below the
// prestress (w / side near 1e-3, strains near 1e-6): the deflection is
// that of the membrane equation, within the h^2 error of the mesh, which
// halving h cuts by about four. Without the prestress the same flat sheet
// would have no stiffness across its plane at the start.
TEST_P(PrestressRun, FlatSquareUnderSmallPressureFollowsTheMembraneEquation) {
  const double q = 0.01;
  const double want = SeriesCentreDeflection(q);
  ASSERT_NEAR(want, 0.29470 * q / kPrestress * 1.0, 1e-4 * want);  // 0.07367 q (side)^2 / N0
  double error[2];
  int k = 0;
  for (const int n : {8, 16}) {
    const solver::analysis a = Run(PrestressedSquare(n, q));
    EXPECT_GE(a.major, 1);
    error[k++] = CentreZ(a, n) / want - 1.0;
  }
  EXPECT_LT(std::fabs(error[1]), 0.01) << error[1];
  EXPECT_NEAR(error[0] / error[1], 4.0, 0.5) << error[0] << " " << error[1];
}

// Unloaded, the prestressed square is in equilibrium where it starts: no
// node moves, and the supports hold the prestress, N0 times the length of
// each side, through reactions along the outward normal.
TEST_P(PrestressRun, UnloadedSquareStaysAndItsSupportsHoldThePrestress) {
  const int n = 6;
  const solver::analysis a = Run(PrestressedSquare(n, 0.0));
  EXPECT_EQ(a.major, 0);
  for (int i = 1; i <= a.nfree; ++i) EXPECT_EQ(a.u(i), 0.0) << i;
  double right = 0.0, top = 0.0, z = 0.0;
  for (int p = 1; p <= a.nnode; ++p) {
    if (a.coordx(p) == 1.0) right += a.force(p, 1);
    if (a.coordy(p) == 1.0) top += a.force(p, 2);
    z += std::fabs(a.force(p, 3));
  }
  EXPECT_NEAR(right, 2.0 * kPrestress, 1e-12 * kPrestress);
  EXPECT_NEAR(top, 2.0 * kPrestress, 1e-12 * kPrestress);
  EXPECT_EQ(z, 0.0);
  // The report's principal stresses (which veloraview draws) are the
  // prestress, N0 both ways, in every element.
  std::istringstream report(platform::testing::FileText(dir_ / "output.txt"));
  std::string line;
  while (std::getline(report, line) && line != "Element            Stress-1            Stress-2") {
  }
  std::getline(report, line);  // the rule
  std::getline(report, line);  // the empty line
  int elements = 0;
  int e = 0;
  double s1 = 0.0, s2 = 0.0;
  while (report >> e >> s1 >> s2) {
    ++elements;
    EXPECT_NEAR(s1, kPrestress, 1e-7) << e;
    EXPECT_NEAR(s2, kPrestress, 1e-7) << e;
  }
  EXPECT_EQ(elements, a.nelem);
}

// The report is the same to the byte whether one thread or two evaluate
// the prestressed elements (the parts end inside groups of lanes).
TEST_P(PrestressRun, ResultsDoNotDependOnTheThreads) {
  const Description d = PrestressedSquare(9, 0.02);
  Run(d, 1);
  const std::string one = platform::testing::FileText(dir_ / "output.txt");
  Run(d, 2);
  EXPECT_EQ(platform::testing::FileText(dir_ / "output.txt"), one);
}

// The clamped circle of radius 1 with the prestress kPrestress on every
// element and the pressure q: m rings of the circle generator's mesh.
Description PrestressedCircle(int rings, double q) {
  const circle::Mesh mesh = circle::make_mesh(rings, 1.0);
  Description d;
  d.parameters.mntol = 1e-4;
  d.parameters.maxminor = 30 * static_cast<std::int32_t>(mesh.coord.size());
  d.parameters.maxmajor = 50;
  d.material = {kYoung, 0.3, 0.0};
  d.nodes = mesh.coord;
  for (const auto& t : mesh.elem) d.elements.push_back({t[0] + 1, t[1] + 1, t[2] + 1});
  for (const std::int32_t p : mesh.rim) {
    for (std::int32_t axis = 1; axis <= 3; ++axis) d.constraints.push_back({p + 1, axis, 0.0});
  }
  const auto elements = static_cast<std::int32_t>(d.elements.size());
  for (std::int32_t e = 1; e <= elements; ++e) d.pressures.push_back({e, q});
  d.extension.prestress = {{1, elements, kPrestress, kPrestress, {}}};
  return d;
}

// Under a pressure small beside the prestress the clamped circle takes the
// paraboloid w = q (a^2 - r^2) / (4 N0) of the membrane equation: every
// node, within the mesh's h^2 error (the rim's polygon included).
TEST_P(PrestressRun, CircleUnderSmallPressureTakesTheParaboloid) {
  const double q = 0.01;
  const int rings = 12;
  const solver::analysis a = Run(PrestressedCircle(rings, q));
  const double centre = q / (4.0 * kPrestress);
  double worst = 0.0;
  for (int p = 1; p <= a.nnode; ++p) {
    const double r2 = a.coordx(p) * a.coordx(p) + a.coordy(p) * a.coordy(p);
    const int d = a.dof(p, 3);
    const double w = d <= a.nfree ? a.u(d) : 0.0;
    worst = std::max(worst, std::fabs(w - q * (1.0 - r2) / (4.0 * kPrestress)));
  }
  EXPECT_LT(worst, 0.01 * centre) << worst / centre;
  EXPECT_NEAR(a.u(a.dof(1, 3)), centre, 0.01 * centre);
}

INSTANTIATE_TEST_SUITE_P(BothLawsBothMethods,
                         PrestressRun,
                         ::testing::Combine(::testing::Values(&solver::green_law(), &solver::engineering_law()),
                                            ::testing::Values(solver::Method::lbfgs, solver::Method::newton)),
                         [](const ::testing::TestParamInfo<Param>& param) {
                           return std::string(std::get<0>(param.param)->name()) +
                                  (std::get<1>(param.param) == solver::Method::newton ? "_newton" : "_lbfgs");
                         });

}  // namespace
