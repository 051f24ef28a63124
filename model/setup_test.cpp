// Set-up: degree-of-freedom numbers, element reference geometry and side
// stiffness, the element stream, and vertex positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "energy/energy_testing.h"
#include "energy/law.h"
#include "model/model.h"
#include "platform/failure.h"
#include "platform/testing.h"

namespace {

using solver::analysis;
using solver::testing::constrain;
using solver::testing::make_model;

constexpr double kTol = 1e-12;

void expect_rows(const analysis& a, int e, const double (&rows)[3][3]) {
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) {
      EXPECT_NEAR(a.elem(e).stiff[r][c], rows[r][c], kTol) << "stiff(" << r + 1 << "," << c + 1 << ")";
    }
  }
}

TEST(Start, UnitRightTriangleWithoutPoisson) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}}, 1.0, 0.0);
  solver::start(a);
  const solver::element& el = a.elem(1);
  EXPECT_NEAR(el.length[0], std::sqrt(2.0), kTol);
  EXPECT_EQ(el.length[1], 1.0);
  EXPECT_EQ(el.length[2], 1.0);
  EXPECT_NEAR(el.area, 0.5, kTol);
  // Side 1 runs from vertex 2 to vertex 3, side 2 from 3 to 1, side 3 from 1
  // to 2.
  EXPECT_NEAR(el.dir[0][0], -std::sqrt(0.5), kTol);
  EXPECT_NEAR(el.dir[0][1], std::sqrt(0.5), kTol);
  EXPECT_EQ(el.dir[1], (std::array<double, 3>{0, -1, 0}));
  EXPECT_EQ(el.dir[2], (std::array<double, 3>{1, 0, 0}));
  expect_rows(a, 1, {{2, -1, -1}, {-1, 1.5, 0.5}, {-1, 0.5, 1.5}});
}

TEST(Start, UnitRightTriangleWithPoisson) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}}, 1.0, 0.3);
  solver::start(a);
  // 20/13 = 1.5384615..., 10/13 = 0.7692308..., 135/91 = 1.4835165..., 5/7 =
  // 0.7142857...
  expect_rows(
      a,
      1,
      {{20.0 / 13, -10.0 / 13, -10.0 / 13}, {-10.0 / 13, 135.0 / 91, 5.0 / 7}, {-10.0 / 13, 5.0 / 7, 135.0 / 91}});
  // The stiffness is symmetric entry for entry.
  const auto& k = a.elem(1).stiff;
  EXPECT_EQ(k[1][0], k[0][1]);
  EXPECT_EQ(k[2][0], k[0][2]);
  EXPECT_EQ(k[2][1], k[1][2]);
}

// The side stiffness reproduces the plane-stress energy density for any
// uniform strain: 1/2 eps_side . stiff . eps_side = E/(2(1-nu^2)) *
// (exx^2 + eyy^2 + 2 nu exx eyy + (1-nu)/2 gxy^2).
TEST(Start, StiffnessGivesThePlaneStressEnergy) {
  const double nu = 0.27;
  const double young = 3.5;
  analysis a = make_model({{0.1, 0.2, 0}, {1.3, -0.1, 0}, {0.4, 0.9, 0}}, {{1, 2, 3}}, young, nu);
  solver::start(a);
  const solver::element& el = a.elem(1);
  const double exx = 0.013;
  const double eyy = -0.004;
  const double gxy = 0.007;
  double side[3];
  for (std::size_t k = 0; k < 3; ++k) {
    const double dx = el.dir[k][0];
    const double dy = el.dir[k][1];
    side[k] = exx * dx * dx + eyy * dy * dy + gxy * dx * dy;
  }
  double quad = 0.0;
  for (std::size_t i = 0; i < 3; ++i) {
    for (std::size_t j = 0; j < 3; ++j) quad += side[i] * el.stiff[i][j] * side[j];
  }
  const double expected =
      young / (2 * (1 - nu * nu)) * (exx * exx + eyy * eyy + 2 * nu * exx * eyy + (1 - nu) / 2 * gxy * gxy);
  EXPECT_NEAR(0.5 * quad, expected, 1e-15);
}

TEST(Start, EquilateralTriangleDependsOnTheAnglesOnly) {
  const double nu = 0.3;
  const double m = 1.0 / (1 - nu * nu) * 0.5;
  for (const double h : {1.0, 3.7}) {
    // In a tilted plane, to use every coordinate.
    const double r = h / std::sqrt(3.0);
    std::vector<std::array<double, 3>> nodes;
    for (int i = 0; i < 3; ++i) {
      const double t = 2 * M_PI * i / 3;
      nodes.push_back({r * std::cos(t), r * std::sin(t) * 0.6, r * std::sin(t) * 0.8});
    }
    analysis a = make_model(nodes, {{1, 2, 3}}, 1.0, nu);
    solver::start(a);
    const solver::element& el = a.elem(1);
    EXPECT_NEAR(el.area, std::sqrt(3.0) / 4 * h * h, kTol * h * h);
    const double diagonal = (1 + 0.25 - 3 * nu / 4) * m / (9.0 / 16);
    const double off = (nu * 3 / 4 - 0.25) * m / (9.0 / 16);
    expect_rows(a, 1, {{diagonal, off, off}, {off, diagonal, off}, {off, off, diagonal}});
  }
}

TEST(Start, ReversedVertexOrderKeepsAreaAndLengths) {
  const std::vector<std::array<double, 3>> nodes = {{0.1, 0.2, 0.3}, {1.3, -0.1, 0.2}, {0.4, 0.9, -0.5}};
  analysis a = make_model(nodes, {{1, 2, 3}, {3, 2, 1}});
  solver::start(a);
  EXPECT_NEAR(a.elem(1).area, a.elem(2).area, kTol);
  auto l1 = a.elem(1).length;
  auto l2 = a.elem(2).length;
  std::sort(l1.begin(), l1.end());
  std::sort(l2.begin(), l2.end());
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(l1[k], l2[k]);
}

TEST(Start, NumbersFreeComponentsFirstThenConstrainedOnes) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{1, 2, 3}, {2, 4, 3}});
  constrain(a, 1, 1, 0.0);
  constrain(a, 1, 2, 0.0);
  constrain(a, 1, 3, 0.0);
  constrain(a, 3, 2, 0.5);
  solver::start(a);
  EXPECT_EQ(a.nfree, 8);
  // clang-format off
  const int expected[4][3] = {{9, 10, 11},
                              {1,  2,  3},
                              {4, 12,  5},
                              {6,  7,  8}};
  // clang-format on
  for (int k = 1; k <= 4; ++k) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a.dof(k, j), expected[k - 1][j - 1]) << k << "," << j;
  }
  EXPECT_EQ(a.u.size(), 8);
  EXPECT_EQ(a.g.size(), 8);
  EXPECT_EQ(a.force.rows(), 4);
  // The evaluator gathers each vertex component by its slot, dof - 1.
  const auto evaluator = solver::green_law().evaluator(a, {1});
  ASSERT_EQ(evaluator->slots().size(), 2u);
  EXPECT_EQ(evaluator->slots()[1], (std::array<int, 9>{0, 1, 2, 5, 6, 7, 3, 11, 4}));
}

TEST(Start, WithoutConstraintsEveryComponentIsFreeInOrder) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  solver::start(a);
  EXPECT_EQ(a.nfree, 9);
  for (int k = 1; k <= 3; ++k) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a.dof(k, j), 3 * (k - 1) + j);
  }
}

// With nothing free the energy is still that of the prescribed shape: node
// 2 pulled 0.1 along X strains the element.
TEST(Start, EveryComponentConstrainedLeavesNoUnknowns) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}});
  for (int k = 1; k <= 3; ++k) {
    for (int j = 1; j <= 3; ++j) constrain(a, k, j, 0.0);
  }
  a.displ(2, 1) = 0.1;
  solver::start(a);
  EXPECT_EQ(a.nfree, 0);
  EXPECT_TRUE(a.u.empty());
  EXPECT_TRUE(a.g.empty());
  EXPECT_EQ(a.dof(3, 3), 9);
  solver::setforce(a);
  for (const solver::MaterialLaw* law : {&solver::green_law(), &solver::engineering_law()}) {
    const double energy = solver::testing::objective(a, a.nfree, a.u, a.g, *law);
    EXPECT_TRUE(std::isfinite(energy)) << law->name();
    EXPECT_GT(energy, 0.0) << law->name();
  }
}

TEST(Start, EmptyModel) {
  analysis a = make_model({}, {});
  solver::start(a);
  EXPECT_EQ(a.nfree, 0);
  EXPECT_TRUE(a.u.empty());
  EXPECT_TRUE(a.force.empty());
  EXPECT_TRUE(solver::green_law().evaluator(a, {})->slots().empty());
}

TEST(Vertex, AddsUnknownsOrPrescribedDisplacements) {
  analysis a = make_model({{0, 0, 0}, {1, 2, 3}}, {});
  constrain(a, 2, 1, 0.25);
  solver::start(a);
  for (int d = 1; d <= a.nfree; ++d) a.u(d) = 10.0 * d;
  const auto p = solver::vertex(a, 2);
  EXPECT_EQ(p[0], 1.25);  // constrained: displ, whatever u holds
  EXPECT_EQ(p[1], 2.0 + a.u(a.dof(2, 2)));
  EXPECT_EQ(p[2], 3.0 + a.u(a.dof(2, 3)));
  EXPECT_THROW(solver::vertex(a, 3), platform::RangeError);
  EXPECT_THROW(solver::vertex(a, 0), platform::RangeError);
}

// Degenerate elements stop the set-up with a message naming the element, its
// nodes and what is wrong, word for word.
// See docs/decisions.md, 'Degenerate elements'.
struct Degenerate {
  std::vector<std::array<double, 3>> nodes;  // of element 2
  double poisson;
  std::string expected;  // the whole message
};

void PrintTo(const Degenerate& c, std::ostream* os) { *os << c.expected; }

class StartDegenerate : public ::testing::TestWithParam<Degenerate> {};

// Element 1 is sound; element 2 has the case's nodes. With poisson 1 the
// stiffness of every element is infinite, and element 1 is named first.
TEST_P(StartDegenerate, DataFailureNamesTheElementAndItsNodes) {
  const Degenerate& c = GetParam();
  analysis a = make_model(
      {{5, 5, 5}, {6, 5, 5}, {5, 6, 5}, c.nodes[0], c.nodes[1], c.nodes[2]}, {{1, 2, 3}, {4, 5, 6}}, 1.0, c.poisson);
  try {
    solver::start(a);
    ADD_FAILURE() << "accepted: " << c.expected;
  } catch (const platform::DataError& f) {
    EXPECT_EQ(f.message(), c.expected);
  }
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    StartDecisions,
    StartDegenerate,
    ::testing::Values(
        Degenerate{
            {{0, 0, 0}, {0, 0, 0}, {0, 1, 0}}, 0.0, "element 2 (nodes 4, 5, 6) is degenerate: side 3 has length zero"},
        Degenerate{
            {{0, 0, 0}, {0, 1, 0}, {0, 1, 0}}, 0.0, "element 2 (nodes 4, 5, 6) is degenerate: side 1 has length zero"},
        Degenerate{{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: an angle cosine is below -1 (the vertices lie on a line)"},
        Degenerate{{{0, 0, 0}, {1, 0, 0}, {2, 1e-300, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: its vertices lie on a line"},
        Degenerate{{{0, 0, 0}, {1, 0, 0}, {kInf, 1, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: side 1 has no finite length"},
        // Sides whose squares the doubles cannot hold: beyond their range,
        // below it (once read as length zero), or in their subnormal range,
        // where the length and direction had lost their digits.
        Degenerate{{{0, 1, 0}, {-1e308, 0, 0}, {1e308, 0, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: side 1 has no finite length: its ends lie farther apart "
                   "than the largest double; give the coordinates in a larger unit of length"},
        Degenerate{{{0, 0, 0}, {1e300, 0, 0}, {0, 1e300, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: side 1 has length about 1E+300, whose square is beyond "
                   "the range of double precision; give the coordinates in a larger unit of length"},
        Degenerate{{{0, 0, 0}, {3e-200, 0, 0}, {0, 4e-200, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: side 1 has length about 5E-200, whose square is below "
                   "the range of double precision; give the coordinates in a smaller unit of length"},
        Degenerate{{{0, 0, 0}, {1e-160, 0, 0}, {0, 1e-160, 0}},
                   0.0,
                   "element 2 (nodes 4, 5, 6) is degenerate: side 1 has length about 1E-160, whose square is below "
                   "the range of double precision; give the coordinates in a smaller unit of length"},
        Degenerate{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                   1.0,
                   "element 1 (nodes 1, 2, 3) is degenerate: its side stiffness is not finite (check young and "
                   "poisson)"}));

TEST(StartDecisions, NearlyStraightAngleIsRejected) {
  // An angle within rounding of 180 degrees: a cosine at or below -1, or a
  // zero sine, must not reach a square root or a division.
  for (double eps : {1e-9, 1e-12, 1e-15, 1e-17}) {
    analysis a = make_model({{0, 0, 0}, {1, eps, 0}, {2, 0, 0}}, {{1, 2, 3}});
    try {
      solver::start(a);
      for (const auto& row : a.elem(1).stiff) {
        for (const double v : row) EXPECT_TRUE(std::isfinite(v)) << eps;
      }
    } catch (const platform::DataError& f) {
      EXPECT_NE(std::string(f.message()).find("element 1 (nodes 1, 2, 3)"), std::string::npos);
    }
  }
}

TEST(StartDecisions, CosineBelowMinusOneIsADataFailureNotASquareRootFailure) {
  // Three points on a line (vertex 2 between 1 and 3) whose unit side
  // vectors round to a cosine of -1.0000000000000002 at vertex 2.
  analysis a = make_model({{0.08282494558699316, 0.8782983255570211, -0.23759152462357513},
                           {-0.5668012057387732, -0.15576684883456537, -0.9419184248502641},
                           {-0.9053955583610511, -0.6947362662107204, -1.3090235826860683}},
                          {{1, 2, 3}});
  try {
    solver::start(a);
    ADD_FAILURE() << "accepted";
  } catch (const platform::DataError& f) {
    EXPECT_NE(std::string(f.message()).find("element 1 (nodes 1, 2, 3) is degenerate: an angle cosine is below -1"),
              std::string::npos)
        << f.message();
  }
}

// Read from a file, an element that cannot be set up is named after the
// file and the line of its record, which need not be its number's place
// in the section: element 2's record comes first here, and element 1's
// runs over two lines (the line is that of its number).
// See docs/decisions.md, 'Degenerate elements'.
struct RecordCase {
  const char* elements;  // the records of the elements section
  const char* name;      // of the failure
  const char* message;
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.message; }

class StartFromFile : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StartFromFile, FailureNamesTheFileAndTheLineOfTheRecord) {
  const std::string text = std::string(":\n 0.1 20 0.001 0.0 120 3 20\n:\n 1000 0.3 0\n:\n    4\n\n") +
                           " 1 0 0 0\n 2 1 0 0\n 3 0 1 0\n 4 2 0 0\n:\n    2\n\n" + GetParam().elements +
                           ":\n    0\n:\n    0\n:\n    0\n";
  platform::TextReader reader("model.txt", text);
  analysis a;
  solver::input(a, reader);
  EXPECT_EQ(platform::testing::FailureMessage([&] { solver::start(a); }, GetParam().name), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Records,
    StartFromFile,
    ::testing::Values(RecordCase{" 2 1 2 4\n 1 1 2 3\n",
                                 "DATA_ERROR",
                                 "model.txt:15: element 2 (nodes 1, 2, 4) is degenerate: its vertices lie on a line"},
                      RecordCase{" 2 1 2 3\n\n 1\n 3 3 2\n",
                                 "DATA_ERROR",
                                 "model.txt:17: element 1 (nodes 3, 3, 2) is degenerate: side 3 has length zero"},
                      RecordCase{" 1 1 2 3\n 2 1 5 3\n",
                                 "RANGE_ERROR",
                                 "model.txt:16: element 2 (nodes 1, 5, 3): vertex 2 names node 5, outside 1..4"}));

// Node numbers just outside 1..nnode, at either end and at every vertex:
// a slip in the check would read before or after the coordinate tables.
class StartNodeRange : public ::testing::TestWithParam<std::pair<std::array<int, 3>, const char*>> {};

TEST_P(StartNodeRange, ElementNodeOutsideTheNodesIsARangeFailure) {
  analysis a = make_model({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}, GetParam().first});
  try {
    solver::start(a);
    ADD_FAILURE() << "accepted";
  } catch (const platform::RangeError& f) {
    EXPECT_EQ(f.message(), GetParam().second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends,
    StartNodeRange,
    ::testing::Values(std::pair{std::array{1, 4, 2}, "element 2 (nodes 1, 4, 2): vertex 2 names node 4, outside 1..3"},
                      std::pair{std::array{0, 1, 2}, "element 2 (nodes 0, 1, 2): vertex 1 names node 0, outside 1..3"},
                      std::pair{std::array{1, 2, 0}, "element 2 (nodes 1, 2, 0): vertex 3 names node 0, outside 1..3"},
                      std::pair{std::array{-1, 2, 3},
                                "element 2 (nodes -1, 2, 3): vertex 1 names node -1, outside 1..3"}));

}  // namespace
