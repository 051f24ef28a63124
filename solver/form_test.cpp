// Form finding against closed forms and its own contract: the catenoid
// between two rings (its neck radius, and no shape past the height where
// none exists), the four-point saddle's symmetries, both methods; the file
// it writes is in equilibrium where the solvers read it.

#include "solver/form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <numbers>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "model/analysis.h"
#include "model/model.h"
#include "model/model_writer.h"
#include "nlp/nlp.h"
#include "platform/failure.h"
#include "platform/testing.h"
#include "platform/text_reader.h"
#include "solver/solver.h"

namespace {

namespace fs = std::filesystem;
using solver::model_file::Description;

constexpr double kPi = std::numbers::pi;

// A cylinder of radius r between the rings z = -h/2 and z = h/2, held on
// both: m nodes per ring, n layers (n even, so that a ring lies at z = 0),
// every ring turned by half a step against the one below so that the
// triangles are near equilateral and the mesh keeps the rings' symmetry.
Description Cylinder(int m, int n, double r, double h, double prestress) {
  Description d;
  d.material = {1000.0, 0.3, 0.0};
  d.parameters.maxminor = 30 * m * (n + 1);
  const auto node = [m](int j, int i) { return j * m + (i % m) + 1; };
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i < m; ++i) {
      const double t = 2.0 * kPi * (i + 0.5 * (j % 2)) / m;
      d.nodes.push_back({r * std::cos(t), r * std::sin(t), -0.5 * h + h * j / n});
    }
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < m; ++i) {
      if (j % 2 == 0) {
        d.elements.push_back({node(j, i), node(j, i + 1), node(j + 1, i)});
        d.elements.push_back({node(j, i + 1), node(j + 1, i + 1), node(j + 1, i)});
      } else {
        d.elements.push_back({node(j, i), node(j + 1, i + 1), node(j + 1, i)});
        d.elements.push_back({node(j, i), node(j, i + 1), node(j + 1, i + 1)});
      }
    }
  }
  for (const int j : {0, n}) {
    for (int i = 0; i < m; ++i) {
      for (std::int32_t axis = 1; axis <= 3; ++axis) d.constraints.push_back({node(j, i), axis, 0.0});
    }
  }
  d.extension.prestress = {{1, static_cast<std::int32_t>(d.elements.size()), prestress, prestress, {}}};
  return d;
}

// The neck radius c of the stable catenoid r = c cosh(z / c) through the
// rings of radius r at z = +-h/2: the larger root of c cosh(h / (2c)) = r,
// by bisection between r / 2, where c cosh(h / (2c)) < r for the heights
// used here (h <= r), and r.
double CatenoidNeck(double r, double h) {
  const auto f = [&](double c) { return c * std::cosh(h / (2.0 * c)) - r; };
  double lo = 0.5 * r;
  double hi = r;
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) < 0.0 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// The square -1..1 x -1..1 of n x n cells (n even), cut by the diagonals of
// alternating direction so that the mesh keeps the square's mirror
// symmetries, its boundary held on the straight lines of z = s x y
// through the four corners (two raised by s, two lowered) by prescribed
// displacements from the flat sheet.
Description Saddle(int n, double s, double n1, double n2) {
  Description d;
  d.material = {1000.0, 0.3, 0.0};
  d.parameters.maxminor = 30 * (n + 1) * (n + 1);
  const auto node = [n](int i, int j) { return j * (n + 1) + i + 1; };
  const double step = 2.0 / n;
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) d.nodes.push_back({-1.0 + i * step, -1.0 + j * step, 0.0});
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if ((i < n / 2) == (j < n / 2)) {
        d.elements.push_back({node(i, j), node(i + 1, j), node(i + 1, j + 1)});
        d.elements.push_back({node(i, j), node(i + 1, j + 1), node(i, j + 1)});
      } else {
        d.elements.push_back({node(i, j), node(i + 1, j), node(i, j + 1)});
        d.elements.push_back({node(i + 1, j), node(i + 1, j + 1), node(i, j + 1)});
      }
    }
  }
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      if (i != 0 && j != 0 && i != n && j != n) continue;
      const double x = -1.0 + i * step;
      const double y = -1.0 + j * step;
      d.constraints.push_back({node(i, j), 1, 0.0});
      d.constraints.push_back({node(i, j), 2, 0.0});
      d.constraints.push_back({node(i, j), 3, s * x * y});
    }
  }
  d.extension.prestress = {{1, static_cast<std::int32_t>(d.elements.size()), n1, n2, {1.0, 0.0, 0.0}}};
  return d;
}

// Runs form finding in a scratch folder.
class FormFinding : public platform::testing::ScratchFolder {
 protected:
  // Writes the model as input.txt, finds its shape into formed.txt and
  // returns the found model as the solvers read it.
  solver::analysis Form(const Description& d,
                        solver::FormMethod method = solver::FormMethod::force_density,
                        solver::FormResult* result = nullptr) {
    solver::model_file::write(d, (dir_ / "input.txt").string(), solver::model_file::Reals::exact);
    solver::FormOptions options;
    options.method = method;
    const solver::FormResult r = solver::form_find(options, "formed.txt");
    if (result != nullptr) *result = r;
    EXPECT_LE(r.residual, r.tolerance);
    fs::copy_file(dir_ / "formed.txt", dir_ / "input.txt", fs::copy_options::overwrite_existing);
    solver::analysis a;
    solver::input(a);
    return a;
  }
  // The failure of form finding on the model d, over an earlier
  // formed.txt that must stay as it was.
  void ExpectFailure(const Description& d, solver::FormMethod method, std::initializer_list<std::string_view> parts) {
    solver::model_file::write(d, (dir_ / "input.txt").string(), solver::model_file::Reals::exact);
    std::ofstream(dir_ / "formed.txt") << "earlier\n";
    solver::FormOptions options;
    options.method = method;
    platform::testing::ExpectFailure([&] { solver::form_find(options, "formed.txt"); }, "DATA_ERROR", parts);
    EXPECT_EQ(platform::testing::FileText(dir_ / "formed.txt"), "earlier\n");
  }
  // The largest displacement of a solve of formed.txt, unloaded, with
  // each law and each method.
  double LargestMoveOfTheSolvers() {
    fs::copy_file(dir_ / "formed.txt", dir_ / "input.txt", fs::copy_options::overwrite_existing);
    double moved = 0.0;
    for (const solver::MaterialLaw* law : {&solver::green_law(), &solver::engineering_law()}) {
      for (const solver::Method method : {solver::Method::lbfgs, solver::Method::newton}) {
        solver::analysis a;
        solver::RunOptions run;
        run.method = method;
        solver::run(a, *law, run);
        EXPECT_LE(nlp::norm(a.nfree, a.g), a.residue) << law->name();
        for (int i = 1; i <= a.nfree; ++i) moved = std::max(moved, std::fabs(a.u(i)));
      }
    }
    return moved;
  }
};

class FormFindingBothMethods : public FormFinding, public ::testing::WithParamInterface<solver::FormMethod> {};

double Radius(const solver::analysis& a, int p) { return std::hypot(a.coordx(p), a.coordy(p)); }

// The neck of the found catenoid against the closed form, on two meshes:
// the error falls with the mesh, by about four for half the size.
TEST_F(FormFinding, CatenoidNeckConvergesToTheClosedForm) {
  const double h = 1.0;
  const double want = CatenoidNeck(1.0, h);
  ASSERT_NEAR(want * std::cosh(h / (2.0 * want)), 1.0, 1e-12);
  double error[2];
  int k = 0;
  for (const int m : {16, 32}) {
    const int n = m / 4;  // layers of about the size of the ring's steps
    const solver::analysis a = Form(Cylinder(m, n, 1.0, h, 1.0));
    const int middle = (n / 2) * m + 1;
    double lo = 1e300, hi = 0.0;
    for (int i = 0; i < m; ++i) {
      lo = std::min(lo, Radius(a, middle + i));
      hi = std::max(hi, Radius(a, middle + i));
      EXPECT_NEAR(a.coordz(middle + i), 0.0, 1e-9);
    }
    EXPECT_NEAR(lo, hi, 1e-9) << "the middle ring stays round";
    error[k++] = lo / want - 1.0;
  }
  EXPECT_LT(std::fabs(error[1]), 0.01) << error[1];
  EXPECT_NEAR(error[0] / error[1], 4.0, 1.0) << error[0] << " " << error[1];
  // The solvers on the found shape: the reactions of the lower ring hold
  // the film's axial force 2 pi c N0 (N0 = 1).
  fs::copy_file(dir_ / "formed.txt", dir_ / "input.txt", fs::copy_options::overwrite_existing);
  solver::analysis a;
  solver::run(a, solver::green_law());
  double ring = 0.0;
  for (int p = 1; p <= 32; ++p) ring += a.force(p, 3);
  EXPECT_NEAR(-ring / (2.0 * kPi * want), 1.0, 0.002);
}

// The updated reference finds the same catenoid, within the mesh's error.
TEST_F(FormFinding, UpdatedReferenceFindsTheCatenoidToo) {
  const solver::analysis a = Form(Cylinder(16, 4, 1.0, 1.0, 1.0), solver::FormMethod::updated_reference);
  EXPECT_NEAR(Radius(a, 2 * 16 + 1) / CatenoidNeck(1.0, 1.0), 1.0, 0.02);
}

// Past h = 1.3255 r no catenoid joins the rings: the film would break into
// two discs. Form finding says so and writes nothing.
TEST_P(FormFindingBothMethods, CatenoidPastTheCriticalHeightIsAFailure) {
  ExpectFailure(Cylinder(16, 6, 1.0, 1.5, 1.0),
                GetParam(),
                {"form finding step", "no equilibrium shape between these supports", "no file written"});
}

// The saddle between its straight edges keeps the square's symmetries,
// z(-x, y) = -z(x, y) and z(y, x) = z(x, y), and lies near the hyperbolic
// paraboloid z = s x y that spans the same edges.
TEST_F(FormFinding, IsotropicSaddleKeepsItsSymmetries) {
  const int n = 8;
  const auto node = [n](int i, int j) { return j * (n + 1) + i + 1; };
  const solver::analysis a = Form(Saddle(n, 0.5, 1.0, 1.0));
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const int p = node(i, j);
      EXPECT_NEAR(a.coordz(node(n - i, j)), -a.coordz(p), 1e-9);
      EXPECT_NEAR(a.coordz(node(j, i)), a.coordz(p), 1e-9);
      EXPECT_NEAR(a.coordx(node(j, i)), a.coordy(p), 1e-9);
    }
  }
  EXPECT_NEAR(a.coordz(node(3 * n / 4, 3 * n / 4)), 0.5 * 0.25, 0.01);
}

// An orthotropic prestress, larger along X, keeps the antisymmetry and
// gives another shape. It is no equilibrium along the surface, so the
// solvers settle its nodes along the surface, by about that residual over
// the modulus.
TEST_F(FormFinding, OrthotropicSaddleKeepsItsAntisymmetryAndSettlesAlongTheSurface) {
  const int n = 8;
  const auto node = [n](int i, int j) { return j * (n + 1) + i + 1; };
  const solver::analysis iso = Form(Saddle(n, 0.5, 1.0, 1.0));
  solver::FormResult r;
  const solver::analysis ortho = Form(Saddle(n, 0.5, 2.0, 0.5), solver::FormMethod::force_density, &r);
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      EXPECT_NEAR(ortho.coordz(node(n - i, j)), -ortho.coordz(node(i, j)), 1e-9);
    }
  }
  const int quarter = node(3 * n / 4, 3 * n / 4);
  EXPECT_GT(std::fabs(ortho.coordz(quarter) - iso.coordz(quarter)), 1e-3);
  EXPECT_LE(LargestMoveOfTheSolvers(), 10.0 * r.along / 1000.0);
  EXPECT_GT(r.along, 1e3 * r.residual);  // what the solvers settle is along the surface
}

// The found shape read back by the solvers, unloaded: both laws and both
// methods find it in equilibrium and move no node beyond what its residual
// along the surface asks of the modulus (young 1000). The updated
// reference leaves next to none; force density leaves the mesh's.
TEST_P(FormFindingBothMethods, FormedFileIsInEquilibriumForTheSolvers) {
  solver::FormResult r;
  Form(Cylinder(16, 4, 1.0, 1.0, 1.0), GetParam(), &r);
  const double moved = LargestMoveOfTheSolvers();
  EXPECT_LE(moved, 10.0 * r.along / 1000.0);
  EXPECT_LE(moved, 1e-6);
}

// formed.txt is the input's model at the found shape: the same elements,
// supports, loads, pressures and extension; the supports where their
// prescribed displacements put them, with none left.
TEST_F(FormFinding, FormedFileKeepsTheModelAndMovesTheSupports) {
  Description d = Saddle(4, 0.5, 1.0, 1.0);
  d.loads = {{13, 3, -0.25}};  // the centre node
  d.pressures = {{2, 0.5}, {7, -1.0}};
  d.extension.prestress = {{1, 10, 1.0, 1.0, {}}, {11, 32, 2.0, 1.0, {0, 1, 0}}};
  d.extension.wrinkling = true;
  const solver::analysis a = Form(d);
  solver::analysis in;
  {
    solver::model_file::write(d, (dir_ / "again.txt").string(), solver::model_file::Reals::exact);
    platform::TextReader reader = platform::TextReader::open((dir_ / "again.txt").string());
    solver::input(in, reader);
  }
  ASSERT_EQ(a.nelem, in.nelem);
  for (int e = 1; e <= a.nelem; ++e) {
    EXPECT_EQ(a.elem(e).node, in.elem(e).node);
    EXPECT_EQ(a.elem(e).pressure, in.elem(e).pressure);
  }
  for (int p = 1; p <= a.nnode; ++p) {
    for (int j = 1; j <= 3; ++j) {
      EXPECT_EQ(a.dof(p, j), in.dof(p, j));
      EXPECT_EQ(a.action(p, j), in.action(p, j));
      EXPECT_EQ(a.displ(p, j), 0.0);
    }
  }
  EXPECT_EQ(a.coordz(1), 0.5);  // corner (-1, -1), raised by its prescribed displacement
  EXPECT_EQ(a.coordz(5), -0.5);
  ASSERT_EQ(a.extension.prestress.size(), 2u);
  EXPECT_EQ(a.extension.prestress[1].n1, 2.0);
  EXPECT_EQ(a.extension.prestress[1].direction, (std::array<double, 3>{0, 1, 0}));
  EXPECT_EQ(a.extension.wrinkling, true);
  EXPECT_EQ(a.young, in.young);
  EXPECT_EQ(a.maxminor, in.maxminor);
}

// A model without prestress has no shape to find, and a compressive
// prestress none that tension holds. Each is refused, and an earlier
// formed.txt stays.
TEST_F(FormFinding, ModelsWithoutAShapeAreRefused) {
  Description d = Saddle(4, 0.5, 1.0, 1.0);
  d.extension.prestress.clear();
  ExpectFailure(d, solver::FormMethod::force_density, {"no prestress", "no shape to find"});
  d.extension.prestress = {{1, 32, -1.0, -1.0, {}}};
  ExpectFailure(d, solver::FormMethod::force_density, {"form finding step 1", "not positive definite"});
}

INSTANTIATE_TEST_SUITE_P(BothMethods,
                         FormFindingBothMethods,
                         ::testing::Values(solver::FormMethod::force_density, solver::FormMethod::updated_reference),
                         [](const ::testing::TestParamInfo<solver::FormMethod>& param) {
                           return std::string(param.param == solver::FormMethod::force_density ? "force_density"
                                                                                               : "updated_reference");
                         });

}  // namespace
