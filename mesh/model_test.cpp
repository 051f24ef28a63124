// Model building from hand-made meshes: numbering, orientation, supports
// and loads, every fault of the input, and the written layout.

#include "mesh/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>

#include "model/analysis.h"
#include "model/model.h"
#include "platform/failure.h"
#include "platform/text_reader.h"

namespace mesh {
namespace {

// A flat strip of two unit squares in z = 0, four triangles, all
// counter-clockwise seen from +z. Tags are scattered and listed out of
// order; node 5 belongs to no triangle.
//
//   6 ---- 8 ---- 1        y = 1
//   | 10 / | 40 / |
//   |  / 30|  / 20|
//   4 ---- 2 ---- 9        y = 0
//  x=0    x=1    x=2
MeshData strip() {
  MeshData m;
  m.file = "strip.msh";
  m.nodes = {
      {9, {2, 0, 0}}, {4, {0, 0, 0}}, {2, {1, 0, 0}}, {5, {5, 5, 5}}, {6, {0, 1, 0}}, {8, {1, 1, 0}}, {1, {2, 1, 0}}};
  m.triangles = {{30, {4, 2, 8}, 1}, {10, {4, 8, 6}, 1}, {40, {2, 1, 8}, 2}, {20, {2, 9, 1}, 2}};
  m.groups = {{2, "left", {1}, {4, 2, 8, 6}},
              {2, "right", {2}, {2, 9, 1, 8}},
              {1, "rim", {1, 2, 3, 4}, {4, 2, 9, 1, 8, 6}},
              {1, "ends", {5}, {4, 6}},
              {0, "tip", {7}, {1}},
              {0, "far", {8}, {5}}};
  return m;
}

std::string failure_of(const MeshData& mesh, const Settings& s) {
  try {
    build_model(mesh, s);
  } catch (const platform::DataError& e) {
    return e.message();
  }
  return "(no failure)";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(BuildModel, DropsUnusedNodesAndNumbersByTag) {
  const Model m = build_model(strip(), Settings{});
  // Tags 1 2 4 6 8 9 become 1..6; tag 5 is used by no triangle.
  EXPECT_EQ(m.node_tag, (std::vector<std::size_t>{1, 2, 4, 6, 8, 9}));
  EXPECT_EQ(m.coord[2], (std::array<double, 3>{0, 0, 0}));
  EXPECT_EQ(m.coord[0], (std::array<double, 3>{2, 1, 0}));
  EXPECT_EQ(m.elem_tag, (std::vector<std::size_t>{10, 20, 30, 40}));
  // Element 10 (4, 8, 6) -> (3, 5, 4), 0-based (2, 4, 3); vertex order kept.
  EXPECT_EQ(m.elem[0], (std::array<std::int32_t, 3>{2, 4, 3}));
  EXPECT_EQ(m.elem[1], (std::array<std::int32_t, 3>{1, 5, 0}));
}

TEST(BuildModel, DefaultsAreThoseOfTheSquareGenerator) {
  const Model m = build_model(strip(), Settings{});
  EXPECT_EQ(m.parameters.lstol, 0.1);
  EXPECT_EQ(m.parameters.maxls, 20);
  EXPECT_EQ(m.parameters.mntol, 0.001);
  EXPECT_EQ(m.parameters.mnref, 0.0);
  EXPECT_EQ(m.parameters.maxminor, 30 * 6);  // 30 per node, as `square`
  EXPECT_EQ(m.parameters.maxlist, 3);
  EXPECT_EQ(m.parameters.maxmajor, 20);
  EXPECT_EQ(m.young, 1000.0);
  EXPECT_EQ(m.poisson, 0.3);
  EXPECT_EQ(m.density, 0.0);
}

TEST(BuildModel, SurfaceGroupsChooseTheMembrane) {
  Settings s;
  s.surfaces = {"right"};
  const Model m = build_model(strip(), s);
  EXPECT_EQ(m.node_tag, (std::vector<std::size_t>{1, 2, 8, 9}));
  EXPECT_EQ(m.elem_tag, (std::vector<std::size_t>{20, 40}));
}

TEST(BuildModel, FixesLoadsAndPressuresReachTheirNodesAndTriangles) {
  Settings s;
  s.fixes = {parse_fix("ends=xyz"), parse_fix("rim=z")};
  s.loads = {parse_load("tip=y:2.5"), parse_load("tip=y:0.5"), parse_load("right=x:1")};
  s.pressures = {parse_pressure("left=1.5"), parse_pressure("left=0.5"), parse_pressure("right=-1")};
  const Model m = build_model(strip(), s);
  // Node 5 (tag 8) is on the rim but not on the left end: held along z only.
  EXPECT_EQ(m.fixed[4], (std::array<bool, 3>{false, false, true}));
  EXPECT_EQ(m.fixed[2], (std::array<bool, 3>{true, true, true}));
  // Loads of two options on one component add up.
  EXPECT_EQ(m.load[0][1], 3.0);
  EXPECT_TRUE(m.loaded[0][1]);
  EXPECT_EQ(m.load[0][0], 1.0);
  EXPECT_FALSE(m.loaded[0][2]);
  EXPECT_FALSE(m.loaded[2][0]);  // tag 4 is not in "right"
  // So do pressures: elements 10 and 30 are "left".
  EXPECT_EQ(m.pressure, (std::vector<double>{2.0, -1.0, 2.0, -1.0}));
  EXPECT_EQ(m.pressed, (std::vector<bool>{true, true, true, true}));
}

// Orientation: the normal (P2 - P1) x (P3 - P1) of every element.
double normal_z(const Model& m, std::size_t e) {
  const auto& v = m.elem[e];
  const auto& p1 = m.coord[static_cast<std::size_t>(v[0])];
  const auto& p2 = m.coord[static_cast<std::size_t>(v[1])];
  const auto& p3 = m.coord[static_cast<std::size_t>(v[2])];
  return (p2[0] - p1[0]) * (p3[1] - p1[1]) - (p2[1] - p1[1]) * (p3[0] - p1[0]);
}

TEST(Orient, AxisTurnsEveryTriangleTowardsIt) {
  MeshData mesh = strip();
  std::swap(mesh.triangles[2].nodes[0], mesh.triangles[2].nodes[1]);  // element 40 now clockwise
  Settings s;
  const Model kept = build_model(mesh, s);
  EXPECT_LT(normal_z(kept, 3), 0.0);
  s.orient = Orient::pz;
  const Model up = build_model(mesh, s);
  for (std::size_t e = 0; e < 4; ++e) EXPECT_GT(normal_z(up, e), 0.0) << e;
  s.orient = Orient::mz;
  const Model down = build_model(mesh, s);
  for (std::size_t e = 0; e < 4; ++e) EXPECT_LT(normal_z(down, e), 0.0) << e;
}

TEST(Orient, FirstTurnsEveryTriangleLikeTheFirstOfItsPart) {
  MeshData mesh = strip();
  // Element 10, the first, clockwise; 40 clockwise too.
  std::swap(mesh.triangles[1].nodes[1], mesh.triangles[1].nodes[2]);
  std::swap(mesh.triangles[2].nodes[0], mesh.triangles[2].nodes[1]);
  Settings s;
  s.orient = Orient::first;
  const Model m = build_model(mesh, s);
  for (std::size_t e = 0; e < 4; ++e) EXPECT_LT(normal_z(m, e), 0.0) << e;
  // The first element keeps its vertex order exactly.
  EXPECT_EQ(m.elem[0], (std::array<std::int32_t, 3>{2, 3, 4}));
}

TEST(Orient, FirstOrientsSeparatePartsEachByItsOwnFirst) {
  MeshData mesh = strip();
  // A second, separate triangle far away, clockwise, with a higher tag.
  mesh.nodes.push_back({100, {10, 0, 0}});
  mesh.nodes.push_back({101, {11, 0, 0}});
  mesh.nodes.push_back({102, {10, 1, 0}});
  mesh.triangles.push_back({50, {100, 102, 101}, 3});
  Settings s;
  s.orient = Orient::first;
  const Model m = build_model(mesh, s);
  for (std::size_t e = 0; e < 4; ++e) EXPECT_GT(normal_z(m, e), 0.0) << e;
  EXPECT_LT(normal_z(m, 4), 0.0);
}

TEST(Orient, FirstFollowsACurvedSurfaceThatNoAxisCanOrient) {
  // Four faces of a box around the z axis (x = 0, y = 0, x = 1, y = 1),
  // each two triangles: their normals point along x and y, never z.
  MeshData m;
  m.file = "band.msh";
  std::size_t tag = 1;
  const double c[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (int i = 0; i < 4; ++i) {
    m.nodes.push_back({tag++, {c[i][0], c[i][1], 0}});
    m.nodes.push_back({tag++, {c[i][0], c[i][1], 1}});
  }
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t a = 2 * i + 1, b = 2 * ((i + 1) % 4) + 1;
    // Alternate the vertex order from face to face.
    if (i % 2 == 0) {
      m.triangles.push_back({10 + 2 * i, {a, b, b + 1}, 1});
      m.triangles.push_back({11 + 2 * i, {a, b + 1, a + 1}, 1});
    } else {
      m.triangles.push_back({10 + 2 * i, {a, b + 1, b}, 1});
      m.triangles.push_back({11 + 2 * i, {a, a + 1, b + 1}, 1});
    }
  }
  Settings s;
  s.orient = Orient::pz;
  EXPECT_TRUE(contains(failure_of(m, s), "edge-on to the z axis"));
  s.orient = Orient::first;
  const Model band = build_model(m, s);
  // Away from the axis (0.5, 0.5) everywhere, like the first triangle.
  for (std::size_t e = 0; e < band.elem.size(); ++e) {
    const auto& v = band.elem[e];
    const auto& p1 = band.coord[static_cast<std::size_t>(v[0])];
    const auto& p2 = band.coord[static_cast<std::size_t>(v[1])];
    const auto& p3 = band.coord[static_cast<std::size_t>(v[2])];
    const double a[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
    const double b[3] = {p3[0] - p1[0], p3[1] - p1[1], p3[2] - p1[2]};
    const double n[2] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2]};
    const double centre[2] = {(p1[0] + p2[0] + p3[0]) / 3 - 0.5, (p1[1] + p2[1] + p3[1]) / 3 - 0.5};
    EXPECT_GT(n[0] * centre[0] + n[1] * centre[1], 0.0) << e;  // the first one points outwards
  }
}

TEST(Orient, AOneSidedSurfaceIsAFailure) {
  // A Moebius strip of six triangles on three quads, the last quad joined
  // to the first with a half twist.
  MeshData m;
  m.file = "moebius.msh";
  for (std::size_t k = 0; k < 3; ++k) {
    const double t = 2.0 * 3.14159265358979 * static_cast<double>(k) / 3.0;
    m.nodes.push_back({2 * k + 1, {std::cos(t) * 2, std::sin(t) * 2, -0.5 + 0.1 * static_cast<double>(k)}});
    m.nodes.push_back({2 * k + 2, {std::cos(t) * 2.5, std::sin(t) * 2.5, 0.5}});
  }
  const auto quad = [&](std::size_t tag, std::size_t a, std::size_t b, std::size_t c, std::size_t d) {
    m.triangles.push_back({tag, {a, b, c}, 1});
    m.triangles.push_back({tag + 1, {a, c, d}, 1});
  };
  quad(10, 1, 3, 4, 2);
  quad(20, 3, 5, 6, 4);
  quad(30, 5, 2, 1, 6);  // the twist: 5-6 joins 2-1
  Settings s;
  s.orient = Orient::first;
  EXPECT_TRUE(contains(failure_of(m, s), "one side only"));
}

// Every fault: a change to the strip or the settings, and a part of the
// message that names the group, option or file.
struct FaultCase {
  const char* name;
  std::function<void(MeshData&, Settings&)> change;
  const char* expected;
};

class BuildModelFault : public testing::TestWithParam<FaultCase> {};

TEST_P(BuildModelFault, IsADataErrorThatSaysWhere) {
  MeshData mesh = strip();
  Settings s;
  GetParam().change(mesh, s);
  const std::string message = failure_of(mesh, s);
  EXPECT_TRUE(contains(message, GetParam().expected)) << message;
}

// clang-format off
const FaultCase kFaults[] = {
  {"NoTriangles", [](MeshData& m, Settings&) { m.triangles.clear(); }, "strip.msh: the mesh holds no 3-node triangles"},
  {"NoTrianglesInSurfaces", [](MeshData& m, Settings& s) { m.groups.push_back({2, "empty", {9}, {}}); s.surfaces = {"empty"}; },
   "the groups of --surface hold no 3-node triangles"},
  {"UnknownFixGroup", [](MeshData&, Settings& s) { s.fixes = {parse_fix("edge=xyz")}; },
   "--fix edge=xyz: strip.msh has no physical group \"edge\""},
  {"UnknownLoadGroup", [](MeshData&, Settings& s) { s.loads = {parse_load("top=z:1")}; }, "--load top=z:1: strip.msh has no physical group \"top\""},
  {"UnknownPressureGroup", [](MeshData&, Settings& s) { s.pressures = {parse_pressure("roof=1")}; }, "--pressure roof=1: strip.msh has no physical group"},
  {"UnknownSurface", [](MeshData&, Settings& s) { s.surfaces = {"roof"}; }, "--surface roof: strip.msh has no physical group"},
  {"PressureOnCurves", [](MeshData&, Settings& s) { s.pressures = {parse_pressure("rim=1")}; },
   "--pressure rim=1: group \"rim\" of strip.msh holds curves; it must hold surfaces"},
  {"SurfaceOfPoints", [](MeshData&, Settings& s) { s.surfaces = {"tip"}; }, "--surface tip: group \"tip\" of strip.msh holds points"},
  {"Quadrangles", [](MeshData& m, Settings&) { m.others.push_back({1, "Quadrilateral 4", 7}); },
   "7 elements of type \"Quadrilateral 4\" on surface 1; veloramesh needs 3-node triangles"},
  {"SecondOrderInSurface", [](MeshData& m, Settings& s) { m.others.push_back({2, "Triangle 6", 2}); s.surfaces = {"right"}; },
   "--surface right: group \"right\" holds 2 elements of type \"Triangle 6\""},
  {"FixedAndLoaded", [](MeshData&, Settings& s) { s.fixes = {parse_fix("rim=z")}; s.loads = {parse_load("tip=z:-0.5")}; },
   "--load tip=z:-0.5: node 1 (Gmsh node 1) is also held along z by --fix rim=z"},
  {"GroupOffTheMembrane", [](MeshData&, Settings& s) { s.fixes = {parse_fix("far=x")}; }, "--fix far=x: group \"far\" has no node on the membrane"},
  {"PressureOutsideTheMembrane", [](MeshData&, Settings& s) { s.surfaces = {"left"}; s.pressures = {parse_pressure("right=1")}; },
   "--pressure right=1: 2 triangles of group \"right\" are not part of the membrane"},
  {"CoincidentNodes", [](MeshData& m, Settings&) { m.nodes[0].x = {1, 1, 0}; },  // node 9 onto node 8
   "strip.msh: 1 pairs of coincident nodes"},
  {"AllAtOnePoint", [](MeshData& m, Settings&) { for (Node& n : m.nodes) n.x = {1, 1, 1}; }, "strip.msh: 5 pairs of coincident nodes"},
  {"SameNodesOnTwoSurfaces", [](MeshData& m, Settings&) { m.triangles.push_back({50, {8, 4, 2}, 2}); },
   "elements 30 and 50 join the same three nodes on two different surfaces"},
  {"NoArea", [](MeshData& m, Settings&) { m.nodes[0].x = {3, 0, 0}; m.nodes[6].x = {4, 0, 0}; },  // 2, 9, 1 on y = 0
   "element 2 (Gmsh element 20) has no area"},
  {"UndefinedNode", [](MeshData& m, Settings&) { m.triangles[0].nodes[2] = 77; }, "element 30 uses node 77, which the file does not define"},
  {"NodeTwice", [](MeshData& m, Settings&) { m.nodes.push_back({4, {0, 0, 0}}); }, "node 4 is defined twice"},
  {"ElementTwice", [](MeshData& m, Settings&) { m.triangles[1].tag = 30; }, "element 30 is defined twice"},
  {"NotFinite", [](MeshData& m, Settings&) { m.nodes[1].x[2] = std::nan(""); }, "node 4 has a coordinate that is not finite"},
  {"YoungNotPositive", [](MeshData&, Settings& s) { s.young = 0.0; }, "--young 0.000000E+00: the modulus must be"},
  {"PoissonTooLarge", [](MeshData&, Settings& s) { s.poisson = 0.6; }, "--poisson 6.000000E-01: Poisson's ratio must lie in"},
  {"PrestressOnCurves", [](MeshData&, Settings& s) { s.prestress = {parse_prestress("rim=1")}; },
   "--prestress rim=1: group \"rim\" of strip.msh holds curves; it must hold surfaces"},
  {"PrestressTwiceOnATriangle", [](MeshData& m, Settings& s) {
     m.groups.push_back({2, "all", {1, 2}, {}});
     s.prestress = {parse_prestress("right=1"), parse_prestress("all=2,1:1,0,0")};
   }, "--prestress all=2,1:1,0,0: triangle 2 (Gmsh element 20) already carries the prestress of --prestress right=1"},
  {"PrestressOutsideTheMembrane", [](MeshData&, Settings& s) { s.surfaces = {"left"}; s.prestress = {parse_prestress("right=1")}; },
   "--prestress right=1: triangles of group \"right\" are not part of the membrane"},
  {"ChamberTwiceOnATriangle", [](MeshData& m, Settings& s) {
     m.groups.push_back({2, "all", {1, 2}, {}});
     s.chambers = {parse_chamber("right=5"), parse_chamber("all=5")};
   }, "--chamber all=5: triangle 2 (Gmsh element 20) already bounds the chamber of --chamber right=5"},
  {"AmbientNotPositive", [](MeshData&, Settings& s) { s.ambient = 0.0; }, "--ambient 0.000000E+00: the ambient pressure"},
  {"ChamberBelowVacuum", [](MeshData&, Settings& s) { s.ambient = 10.0; s.chambers = {parse_chamber("all=-10")}; },
   "--chamber all=-10: the gauge pressure plus --ambient must be above 0"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Faults,
                         BuildModelFault,
                         testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST(BuildModel, CopiesOfATriangleOnOneSurfaceCountOnce) {
  // As Gmsh reads an MSH 2.2 file whose surface is in two groups.
  MeshData mesh = strip();
  mesh.triangles.push_back({50, {8, 4, 2}, 1});  // element 30 again
  mesh.groups.push_back({2, "again", {1}, {4, 2, 8, 6}});
  Settings s;
  s.pressures = {parse_pressure("left=1"), parse_pressure("again=2")};
  const Model m = build_model(mesh, s);
  EXPECT_EQ(m.elem_tag, (std::vector<std::size_t>{10, 20, 30, 40}));
  EXPECT_EQ(m.pressure, (std::vector<double>{3.0, 0.0, 3.0, 0.0}));
}

TEST(BuildModel, NearbyButDistinctNodesAreNotCoincident) {
  MeshData mesh = strip();
  mesh.nodes[2].x = {1.0 + 1e-7, 0, 0};  // far above the tolerance of 1e-9 of the size
  EXPECT_NO_THROW(build_model(mesh, Settings{}));
}

// The strip in other units: scaled by 1e300 or 1e-300, or stretched to
// +-1e308 about its centre, where a size, a tolerance, a squared distance
// or a cross product taken in the coordinates as given overflows or
// underflows (every pair of nodes was reported coincident). Node 5, used by
// no triangle, is left out, as it would not stay finite.
// See docs/decisions.md, 'Geometric tolerances in any unit'.
struct Scale {
  const char* name;
  std::function<std::array<double, 3>(const std::array<double, 3>&)> map;
};

void PrintTo(const Scale& c, std::ostream* os) { *os << c.name; }

class ScaledStrip : public testing::TestWithParam<Scale> {
 protected:
  static MeshData Mesh() {
    MeshData m = strip();
    std::erase_if(m.nodes, [](const Node& n) { return n.tag == 5; });
    std::erase_if(m.groups, [](const Group& g) { return g.name == "far"; });
    for (Node& n : m.nodes) n.x = GetParam().map(n.x);
    return m;
  }
};

// Turned towards +z and -z, the scaled strip's triangles run as those of
// the strip itself.
TEST_P(ScaledStrip, KeepsItsNodesApartAndItsTrianglesOriented) {
  MeshData mesh = Mesh();
  MeshData plain = strip();
  for (MeshData* m : {&mesh, &plain}) std::swap(m->triangles[2].nodes[0], m->triangles[2].nodes[1]);
  for (const Orient o : {Orient::pz, Orient::mz}) {
    Settings s;
    s.orient = o;
    const Model m = build_model(mesh, s);
    EXPECT_EQ(m.coord[0], GetParam().map({2, 1, 0}));
    EXPECT_EQ(m.elem, build_model(plain, s).elem);
  }
}

TEST_P(ScaledStrip, StillFindsCoincidentNodesAndFlatTriangles) {
  MeshData mesh = Mesh();
  mesh.nodes[0].x = GetParam().map({1, 1, 0});  // node 9 onto node 8
  EXPECT_TRUE(contains(failure_of(mesh, Settings{}), "strip.msh: 1 pairs of coincident nodes"));
  mesh = Mesh();
  mesh.nodes[0].x = GetParam().map({1, 1e-7, 0});  // node 9 near node 2, well above the tolerance
  EXPECT_EQ(failure_of(mesh, Settings{}), "(no failure)");
  mesh = Mesh();
  mesh.nodes[0].x = GetParam().map({1.5, 0.5, 0});  // 2, 9, 1 on one line
  EXPECT_TRUE(contains(failure_of(mesh, Settings{}), "element 2 (Gmsh element 20) has no area"));
}

INSTANTIATE_TEST_SUITE_P(Units,
                         ScaledStrip,
                         testing::Values(Scale{"Large",
                                               [](const std::array<double, 3>& x) {
                                                 return std::array{x[0] * 1e300, x[1] * 1e300, x[2]};
                                               }},
                                         Scale{"Small",
                                               [](const std::array<double, 3>& x) {
                                                 return std::array{x[0] * 1e-300, x[1] * 1e-300, x[2]};
                                               }},
                                         Scale{"Widest",
                                               [](const std::array<double, 3>& x) {
                                                 return std::array{(x[0] - 1) * 1e308, (2 * x[1] - 1) * 1e308, x[2]};
                                               }}),
                         [](const testing::TestParamInfo<Scale>& i) { return std::string(i.param.name); });

// Option values: text in, DataError naming the option on every fault.
struct ValueCase {
  const char* name;
  std::function<void()> parse;
  const char* expected;
};

class OptionValueFault : public testing::TestWithParam<ValueCase> {};

TEST_P(OptionValueFault, IsADataErrorNamingTheOption) {
  try {
    GetParam().parse();
    ADD_FAILURE() << "no failure";
  } catch (const platform::DataError& e) {
    EXPECT_TRUE(contains(e.message(), GetParam().expected)) << e.message();
  }
}

Settings scratch;
// clang-format off
const ValueCase kValues[] = {
  {"AxisNotXyz", [] { parse_fix("rim=xq"); }, "--fix rim=xq: axis 'q' is not x, y or z"},
  {"AxisTwice", [] { parse_fix("rim=xx"); }, "--fix rim=xx: axis 'x' is named twice"},
  {"FixWithoutAxes", [] { parse_fix("rim="); }, "--fix rim=: expected GROUP=AXES"},
  {"FixWithoutGroup", [] { parse_fix("=xyz"); }, "--fix =xyz: expected GROUP=AXES"},
  {"FixWithoutEquals", [] { parse_fix("rim"); }, "--fix rim: expected GROUP=AXES"},
  {"LoadAxis", [] { parse_load("tip=w:1"); }, "--load tip=w:1: axis \"w\" is not x, y or z"},
  {"LoadWithoutValue", [] { parse_load("tip=z"); }, "--load tip=z: expected GROUP=AXIS:VALUE"},
  {"LoadValue", [] { parse_load("tip=z:abc"); }, "--load tip=z:abc: \"abc\" is not a number"},
  {"PressureTrailing", [] { parse_pressure("roof=1.5x"); }, "--pressure roof=1.5x: \"1.5x\" is not a number"},
  {"PressureNaN", [] { parse_pressure("roof=nan"); }, "--pressure roof=nan: \"nan\" is not a finite number"},
  {"PressureEmptyNumber", [] { parse_pressure("roof=+"); }, "\"+\" is not a number"},
  {"RealOverflow", [] { parse_real("1e400", "--young"); }, "--young: \"1e400\" is not a number"},
  {"UnknownParameter", [] { parse_param("maxiter=5", scratch); }, "--param maxiter=5: unknown parameter \"maxiter\""},
  {"ParameterNotInteger", [] { parse_param("maxls=1.5", scratch); }, "--param maxls=1.5: \"1.5\" is not an integer"},
  {"ParameterTooLarge", [] { parse_param("maxminor=99999999999", scratch); }, "is outside the 32-bit integers"},
  {"ParameterNotANumber", [] { parse_param("mntol=small", scratch); }, "--param mntol=small: \"small\" is not a number"},
  {"ParameterNotFinite", [] { parse_param("lstol=inf", scratch); }, "\"inf\" is not a finite number"},
  {"ParameterEmpty", [] { parse_param("maxmajor=", scratch); }, "--param maxmajor=: \"\" is not an integer"},
  {"ParameterWithoutValue", [] { parse_param("maxls", scratch); }, "--param maxls: expected NAME=VALUE"},
  {"Orientation", [] { parse_orient("up"); }, "--orient up: expected +x, -x, +y, -y, +z, -z, first or keep"},
  {"PrestressNotANumber", [] { parse_prestress("roof=big"); }, "--prestress roof=big: \"big\" is not a number"},
  {"PrestressIsotropicWithComma", [] { parse_prestress("roof=1,2"); }, "--prestress roof=1,2: expected GROUP=N1,N2:X,Y,Z"},
  {"PrestressOneValue", [] { parse_prestress("roof=1:1,0,0"); }, "expected two prestresses N1,N2"},
  {"PrestressTwoComponents", [] { parse_prestress("roof=1,2:1,0"); }, "expected three components X,Y,Z"},
  {"PrestressZeroDirection", [] { parse_prestress("roof=1,2:0,0,0"); }, "the direction of N1 may not be 0,0,0"},
  {"ChamberKappaBelowOne", [] { parse_chamber("bag=5:0.9"); }, "--chamber bag=5:0.9: kappa must be at least 1"},
  {"ChamberNotANumber", [] { parse_chamber("bag=full"); }, "--chamber bag=full: \"full\" is not a number"},
  {"PrestressEmptyComponent", [] { parse_prestress("roof=1,2:1,,0"); }, "--prestress roof=1,2:1,,0: \"\" is not a number"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Values,
                         OptionValueFault,
                         testing::ValuesIn(kValues),
                         [](const testing::TestParamInfo<ValueCase>& i) { return std::string(i.param.name); });

TEST(OptionValues, AcceptTheForms) {
  EXPECT_EQ(parse_real("2.1E+05", "-"), 210000.0);
  EXPECT_EQ(parse_real("+1.5", "-"), 1.5);
  EXPECT_EQ(parse_real("-0.5", "-"), -0.5);
  const Load l = parse_load("tip=Z:-0.5");
  EXPECT_EQ(l.axis, 2);
  EXPECT_EQ(l.value, -0.5);
  EXPECT_EQ(parse_fix("rim=zx").axes, (std::array<bool, 3>{true, false, true}));
  Settings s;
  parse_param("maxmajor=40", s);
  parse_param("mntol=1e-6", s);
  parse_param("maxminor=500", s);
  EXPECT_EQ(s.parameters.maxmajor, 40);
  EXPECT_EQ(s.parameters.mntol, 1e-6);
  EXPECT_EQ(s.maxminor, 500);
  EXPECT_EQ(parse_orient("first"), Orient::first);
  EXPECT_EQ(parse_orient("-y"), Orient::my);
}

TEST(OptionValues, PrestressIsIsotropicOrAlongADirection) {
  const Prestress iso = parse_prestress("roof=2.5");
  EXPECT_EQ(iso.group, "roof");
  EXPECT_EQ(iso.n1, 2.5);
  EXPECT_EQ(iso.n2, 2.5);
  EXPECT_EQ(iso.direction, (std::array<double, 3>{0, 0, 0}));
  const Prestress ortho = parse_prestress("a=b=3,-1:1,0.5,+2");
  EXPECT_EQ(ortho.group, "a=b");
  EXPECT_EQ(ortho.n1, 3.0);
  EXPECT_EQ(ortho.n2, -1.0);
  EXPECT_EQ(ortho.direction, (std::array<double, 3>{1, 0.5, 2}));
}

// Each --prestress reaches the triangles of its group; the description
// gives one record per run of consecutive triangles, which the reader takes.
TEST(BuildModel, PrestressGivesOneRecordPerRunOfTriangles) {
  MeshData mesh = strip();
  Settings s;
  // "left" holds elements 10 and 30 (model elements 1 and 3), "right" 20
  // and 40 (2 and 4): runs of one triangle each.
  s.prestress = {parse_prestress("left=2"), parse_prestress("right=3,1:0,1,0")};
  Model m = build_model(mesh, s);
  EXPECT_EQ(m.prestressed, (std::vector<int>{0, 1, 0, 1}));
  solver::model_file::Description d = describe(m);
  ASSERT_EQ(d.extension.prestress.size(), 4u);
  EXPECT_EQ(d.extension.prestress[1].first, 2);
  EXPECT_EQ(d.extension.prestress[1].last, 2);
  EXPECT_EQ(d.extension.prestress[1].n1, 3.0);
  EXPECT_EQ(d.extension.prestress[1].direction, (std::array<double, 3>{0, 1, 0}));
  // The whole strip: one record.
  mesh.groups.push_back({2, "all", {1, 2}, {}});
  s.prestress = {parse_prestress("all=1.5")};
  d = describe(build_model(mesh, s));
  ASSERT_EQ(d.extension.prestress.size(), 1u);
  EXPECT_EQ(d.extension.prestress[0].first, 1);
  EXPECT_EQ(d.extension.prestress[0].last, 4);
  // Without --prestress: no extension.
  EXPECT_TRUE(describe(build_model(strip(), Settings{})).extension.empty());
}

// Each --chamber is a chamber of the ambient pressure, filled at the
// mesh's shape, with one enclosure per run of its triangles.
TEST(BuildModel, ChambersGiveAChamberAndTheirEnclosures) {
  Settings s;
  s.ambient = 1e5;
  s.chambers = {parse_chamber("left=500:1.4"), parse_chamber("right=200")};
  const solver::model_file::Description d = describe(build_model(strip(), s));
  ASSERT_EQ(d.extension.chambers.size(), 2u);
  EXPECT_EQ(d.extension.chambers[0].kappa, 1.4);
  EXPECT_EQ(d.extension.chambers[0].ambient, 1e5);
  EXPECT_EQ(d.extension.chambers[0].gauge, 500.0);
  EXPECT_EQ(d.extension.chambers[0].volume, 0.0);
  EXPECT_EQ(d.extension.chambers[1].kappa, 1.0);
  ASSERT_EQ(d.extension.enclosures.size(), 4u);
  EXPECT_EQ(d.extension.enclosures[2].first, 3);
  EXPECT_EQ(d.extension.enclosures[2].last, 3);
  EXPECT_EQ(d.extension.enclosures[2].chamber, 1);
  EXPECT_EQ(d.extension.enclosures[3].chamber, 2);
}

// A group name may hold '=': the value is split at its last one.
// See docs/decisions.md, 'Group names may hold an equals sign'.
TEST(OptionValues, GroupNamesMayHoldAnEqualsSign) {
  const Fix f = parse_fix("rim=outer=xz");
  EXPECT_EQ(f.group, "rim=outer");
  EXPECT_EQ(f.axes, (std::array<bool, 3>{true, false, true}));
  const Pressure p = parse_pressure("p=1=-2.5");
  EXPECT_EQ(p.group, "p=1");
  EXPECT_EQ(p.value, -2.5);
  const Load l = parse_load("a=b:c=z:-0.5");
  EXPECT_EQ(l.group, "a=b:c");
  EXPECT_EQ(l.axis, 2);
  EXPECT_EQ(l.value, -0.5);
  MeshData mesh = strip();
  mesh.groups[2].name = "rim=all";  // a curve group
  Settings s;
  s.fixes = {parse_fix("rim=all=z")};
  EXPECT_EQ(build_model(mesh, s).fixed[4], (std::array<bool, 3>{false, false, true}));
}

TEST(BuildModel, AGivenMaxminorIsKept) {
  for (const int maxminor : {77, 0}) {
    Settings s;
    parse_param("maxminor=" + std::to_string(maxminor), s);
    EXPECT_EQ(build_model(strip(), s).parameters.maxminor, maxminor);
  }
}

// --param takes every value the solvers take from "input.txt", and the
// model file reads back what it wrote.
// See docs/decisions.md, '--param takes what the model file takes'.
TEST(OptionValues, ParamTakesWhatTheModelFileTakes) {
  Settings s;
  for (const char* v : {"lstol=2", "maxls=-3", "mntol=0", "mnref=-1", "maxminor=0", "maxlist=0", "maxmajor=0"}) {
    parse_param(v, s);
  }
  const std::string file = testing::TempDir() + "mesh_param_edges.txt";
  write_model(build_model(strip(), s), file);
  platform::TextReader in = platform::TextReader::open(file);
  solver::analysis a;
  solver::input(a, in);
  EXPECT_EQ(a.lstol, 2.0);
  EXPECT_EQ(a.maxls, -3);
  EXPECT_EQ(a.mntol, 0.001);  // 0 or less is read as 0.001
  EXPECT_EQ(a.mnref, -1.0);
  EXPECT_EQ(a.maxminor, 0);
  EXPECT_EQ(a.maxlist, 0);
  EXPECT_EQ(a.maxmajor, 0);
  std::remove(file.c_str());
}

std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(WriteModel, WritesTheCanonicalLayout) {
  Settings s;
  s.surfaces = {"right"};
  s.fixes = {parse_fix("rim=xz")};
  s.pressures = {parse_pressure("right=-0.25")};
  s.density = 2.0;
  const std::string file = testing::TempDir() + "mesh_write_model.txt";
  write_model(build_model(strip(), s), file);
  // Nodes 1 2 8 9; the rim holds all four; loads empty: the count alone.
  const std::string expected =
      "        lstol     maxls             mntol             mnref  maxminor   maxlist  maxmajor\n"
      ":\n"
      " 1.000000E-01        20      1.000000E-03      0.000000E+00       120         3        20\n"
      "\n\n"
      "        young           poisson           density\n"
      ":\n"
      " 1.000000E+03      3.000000E-01      2.000000E+00\n"
      "\n\n"
      " node           coord x           coord y           coord z\n"
      ":\n"
      "    4\n"
      "\n"
      "    1      2.000000E+00      1.000000E+00      0.000000E+00\n"
      "    2      1.000000E+00      0.000000E+00      0.000000E+00\n"
      "    3      1.000000E+00      1.000000E+00      0.000000E+00\n"
      "    4      2.000000E+00      0.000000E+00      0.000000E+00\n"
      "\n\n"
      " elem      node      node      node\n"
      ":\n"
      "    2\n"
      "\n"
      "    1         2         4         1\n"
      "    2         2         1         3\n"
      "\n\n"
      " node      axis             displ\n"
      ":\n"
      "    8\n"
      "\n"
      "    1         1      0.000000E+00\n"
      "    1         3      0.000000E+00\n"
      "    2         1      0.000000E+00\n"
      "    2         3      0.000000E+00\n"
      "    3         1      0.000000E+00\n"
      "    3         3      0.000000E+00\n"
      "    4         1      0.000000E+00\n"
      "    4         3      0.000000E+00\n"
      "\n\n"
      " node      axis            action\n"
      ":\n"
      "    0\n"
      "\n\n"
      " elem          pressure\n"
      ":\n"
      "    2\n"
      "\n"
      "    1     -2.500000E-01\n"
      "    2     -2.500000E-01\n";
  EXPECT_EQ(slurp(file), expected);
  std::remove(file.c_str());
}

TEST(WriteModel, AFailedBuildLeavesAnEarlierFileAlone) {
  const std::string file = testing::TempDir() + "mesh_write_kept.txt";
  { std::ofstream(file) << "earlier\n"; }
  Settings s;
  s.fixes = {parse_fix("nowhere=x")};
  EXPECT_THROW(write_model(build_model(strip(), s), file), platform::DataError);
  EXPECT_EQ(slurp(file), "earlier\n");
  std::remove(file.c_str());
}

}  // namespace
}  // namespace mesh
