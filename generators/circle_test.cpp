#include "generators/circle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <set>
#include <utility>

#include "platform/failure.h"
#include "platform/text_reader.h"

namespace {

constexpr double kTol = 1e-12;

double SignedArea(const circle::Mesh& mesh, const std::array<std::int32_t, 3>& e) {
  const auto& p = mesh.coord[static_cast<std::size_t>(e[0])];
  const auto& q = mesh.coord[static_cast<std::size_t>(e[1])];
  const auto& r = mesh.coord[static_cast<std::size_t>(e[2])];
  return 0.5 * ((q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0]));
}

TEST(CircleMesh, CountsOfNodesElementsAndRim) {
  for (int m : {1, 2, 3, 8}) {
    const circle::Mesh mesh = circle::make_mesh(m, 2.0);
    EXPECT_EQ(mesh.coord.size(), static_cast<std::size_t>(1 + 3 * m * (m + 1))) << "m = " << m;
    EXPECT_EQ(mesh.elem.size(), static_cast<std::size_t>(6 * m * m)) << "m = " << m;
    EXPECT_EQ(mesh.rim.size(), static_cast<std::size_t>(6 * m)) << "m = " << m;
  }
}

// The pressure acts along the normal of the node order: every element must
// be counter-clockwise seen from +Z, and together they must cover the
// polygon of the rim nodes (6m sides inscribed in the circle) exactly.
TEST(CircleMesh, ElementsAreCounterClockwiseAndCoverTheRimPolygon) {
  for (int m : {1, 2, 5, 8}) {
    const double a = 1.5;
    const circle::Mesh mesh = circle::make_mesh(m, a);
    double area = 0.0;
    for (const auto& e : mesh.elem) {
      const double s = SignedArea(mesh, e);
      ASSERT_GT(s, 0.0) << "m = " << m;
      area += s;
    }
    const double sides = 6.0 * m;
    const double polygon = 0.5 * sides * a * a * std::sin(2.0 * std::numbers::pi / sides);
    EXPECT_NEAR(area, polygon, kTol * polygon) << "m = " << m;
  }
}

// Conforming: each interior edge is used twice, in opposite directions;
// the edges used once are exactly the 6m sides of the rim polygon.
TEST(CircleMesh, ConformingWithTheRimAsItsOnlyBoundary) {
  for (int m : {1, 3, 6}) {
    const circle::Mesh mesh = circle::make_mesh(m, 1.0);
    std::map<std::pair<int, int>, int> uses;
    for (const auto& e : mesh.elem) {
      for (int k = 0; k < 3; ++k) ++uses[{e[static_cast<std::size_t>(k)], e[static_cast<std::size_t>((k + 1) % 3)]}];
    }
    const std::set<int> rim(mesh.rim.begin(), mesh.rim.end());
    int boundary = 0;
    for (const auto& [edge, count] : uses) {
      ASSERT_EQ(count, 1) << "edge used twice in the same direction";
      if (!uses.contains({edge.second, edge.first})) {
        ++boundary;
        EXPECT_TRUE(rim.contains(edge.first) && rim.contains(edge.second)) << "m = " << m;
      }
    }
    EXPECT_EQ(boundary, 6 * m) << "m = " << m;
  }
}

// The rim nodes lie on the circle; the mesh is even enough that the error
// of the finer meshes falls steadily: no side longer than twice the ring
// spacing or shorter than half of it.
TEST(CircleMesh, RimOnTheCircleAndSidesNearTheRingSpacing) {
  const int m = 8;
  const double a = 3.0;
  const circle::Mesh mesh = circle::make_mesh(m, a);
  for (const int k : mesh.rim) {
    const auto& p = mesh.coord[static_cast<std::size_t>(k)];
    EXPECT_NEAR(std::hypot(p[0], p[1]), a, kTol * a);
    EXPECT_EQ(p[2], 0.0);
  }
  const double h = a / m;
  for (const auto& e : mesh.elem) {
    for (int k = 0; k < 3; ++k) {
      const auto& p = mesh.coord[static_cast<std::size_t>(e[static_cast<std::size_t>(k)])];
      const auto& q = mesh.coord[static_cast<std::size_t>(e[static_cast<std::size_t>((k + 1) % 3)])];
      const double side = std::hypot(q[0] - p[0], q[1] - p[1]);
      EXPECT_GT(side, 0.5 * h);
      EXPECT_LT(side, 2.0 * h);
    }
  }
}

// Nodes on the axes lie exactly on them: cos(pi/2) and sin(pi) are about
// 1e-16, not zero, and would put 6.123234E-17 into the model file where a
// user expects 0.000000E+00 (and break the mesh's symmetry).
TEST(CircleMesh, NodesOnTheAxesHaveExactZeroCoordinates) {
  const circle::Mesh mesh = circle::make_mesh(2, 3.0);
  // Ring 2 holds nodes 7..18, twelve of them 30 degrees apart from +X.
  const std::array<double, 3> on_axes[4] = {{3.0, 0.0, 0.0}, {0.0, 3.0, 0.0}, {-3.0, 0.0, 0.0}, {0.0, -3.0, 0.0}};
  for (std::size_t q = 0; q < 4; ++q) {
    const auto& p = mesh.coord[7 + 3 * q];
    EXPECT_EQ(p[0], on_axes[q][0]) << "quarter " << q;
    EXPECT_EQ(p[1], on_axes[q][1]) << "quarter " << q;
  }
}

// The model file's parameters record: the solver controls of the square
// generator, maxminor being 30 times the node count (19 nodes for 2 rings).
TEST(CircleModel, ParametersRecordGivesThirtyIterationsPerNode) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "velora_circle_parameters.txt";
  circle::Parameters p;
  p.rings = 2;
  p.radius = 1.0;
  circle::write_model(p, circle::make_mesh(2, 1.0), file.string());
  std::ifstream in(file);
  std::string line;
  for (int k = 0; k < 3; ++k) std::getline(in, line);
  EXPECT_EQ(line, " 1.000000E-01        20      1.000000E-03      0.000000E+00       570         3        20");
  std::filesystem::remove(file);
}

TEST(CircleParameters, ReadsTheThreeRecords) {
  platform::TextReader in("circle.txt", "Clamped circle\n rings radius\n:\n 4 2.5\n:\n1.0E+03 0.3\n:\n0.448 rest\n");
  const circle::Parameters p = circle::read_parameters(in);
  EXPECT_EQ(p.rings, 4);
  EXPECT_EQ(p.radius, 2.5);
  EXPECT_EQ(p.young, 1000.0);
  EXPECT_EQ(p.poisson, 0.3);
  EXPECT_EQ(p.pressure, 0.448);
}

// See docs/decisions.md, 'Meshes that cannot be written'.
TEST(CircleParameters, RefusesMeshesThatCannotExist) {
  for (const char* text : {":\n0 1.0\n:\n1000 0.3\n:\n1\n",
                           ":\n4001 1.0\n:\n1000 0.3\n:\n1\n",
                           ":\n4 0.0\n:\n1000 0.3\n:\n1\n",
                           ":\n4 -1.0\n:\n1000 0.3\n:\n1\n"}) {
    platform::TextReader in("circle.txt", text);
    EXPECT_THROW(circle::read_parameters(in), platform::DataError) << text;
  }
}

// The model file of two rings, byte for byte as the generator has always
// written it: the layout the solvers read, and the values the accuracy
// checks of VERIFICATION.md were made with.
TEST(CircleModel, TwoRingsAsEverWritten) {
  platform::TextReader in = platform::TextReader::open(CIRCLE_TESTDATA "/circle_m2.txt");
  const circle::Parameters p = circle::read_parameters(in);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("velora_circle_" + std::to_string(::getpid()) + ".txt");
  circle::write_model(p, circle::make_mesh(p.rings, p.radius), file.string());
  const std::string written = platform::read_file(file.string());
  std::filesystem::remove(file);
  EXPECT_EQ(written, platform::read_file(CIRCLE_TESTDATA "/circle_input_m2.txt"));
}

}  // namespace
