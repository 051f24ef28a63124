// The Gmsh reader on the meshes Gmsh wrote for the examples, in MSH 4.1 and
// 2.2, ASCII and binary, and on files it must refuse.

#include "mesh/gmsh_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "mesh/msh_check.h"
#include "platform/failure.h"

namespace mesh {
namespace {

constexpr double kTol = 1e-15;  // relative: one part in 10^16 is the ASCII rounding
const std::string kExamples = VELORA_GMSH_EXAMPLES;
const std::string kTestdata = VELORA_MESH_TESTDATA;
const char* const kVariants[] = {"_41.msh", "_41_bin.msh", "_22.msh", "_22_bin.msh"};

std::string slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string scratch(const std::string& name, const std::string& content) {
  const std::string file = testing::TempDir() + "veloramesh_test_" + name;
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

// Groups with their node lists sorted: Gmsh gives a group's nodes in
// another order for each format.
std::vector<Group> canonical_groups(MeshData m) {
  for (Group& g : m.groups) std::sort(g.nodes.begin(), g.nodes.end());
  return m.groups;
}

void expect_same_mesh(const MeshData& a, const MeshData& b) {
  ASSERT_EQ(a.nodes.size(), b.nodes.size());
  for (std::size_t k = 0; k < a.nodes.size(); ++k) {
    EXPECT_EQ(a.nodes[k].tag, b.nodes[k].tag);
    // Gmsh writes coordinates with 16 digits in ASCII and all 53 bits in
    // binary, so the two differ in the last bit or so.
    for (std::size_t a_ = 0; a_ < 3; ++a_)
      EXPECT_NEAR(a.nodes[k].x[a_], b.nodes[k].x[a_], kTol * std::max(1.0, std::abs(a.nodes[k].x[a_])))
          << "node " << a.nodes[k].tag;
  }
  ASSERT_EQ(a.triangles.size(), b.triangles.size());
  for (std::size_t e = 0; e < a.triangles.size(); ++e) {
    EXPECT_EQ(a.triangles[e].tag, b.triangles[e].tag);
    EXPECT_EQ(a.triangles[e].nodes, b.triangles[e].nodes) << "element " << a.triangles[e].tag;
    EXPECT_EQ(a.triangles[e].entity, b.triangles[e].entity);
  }
  const std::vector<Group> ga = canonical_groups(a), gb = canonical_groups(b);
  ASSERT_EQ(ga.size(), gb.size());
  for (std::size_t g = 0; g < ga.size(); ++g) {
    EXPECT_EQ(ga[g].dim, gb[g].dim);
    EXPECT_EQ(ga[g].name, gb[g].name);
    EXPECT_EQ(ga[g].entities, gb[g].entities);
    EXPECT_EQ(ga[g].nodes, gb[g].nodes) << ga[g].name;
  }
}

struct Example {
  const char* name;
  std::size_t nodes, triangles;
  const char* surface;  // its surface group
  const char* edge;     // its edge group
};

class ShippedMesh : public testing::TestWithParam<Example> {};

TEST_P(ShippedMesh, AllFourFormatsGiveTheSameMesh) {
  const Example& x = GetParam();
  const MeshData first = read_gmsh(kExamples + "/" + x.name + kVariants[0]);
  EXPECT_EQ(first.nodes.size(), x.nodes);
  EXPECT_EQ(first.triangles.size(), x.triangles);
  EXPECT_TRUE(first.others.empty());
  for (const char* v : kVariants) {
    SCOPED_TRACE(v);
    expect_same_mesh(first, read_gmsh(kExamples + "/" + x.name + v));
  }
}

TEST_P(ShippedMesh, AllFourFormatsGiveTheSameModelFile) {
  const Example& x = GetParam();
  Settings s;
  s.fixes = {parse_fix(std::string(x.edge) + "=xyz")};
  s.pressures = {parse_pressure(std::string(x.surface) + "=1.5")};
  s.orient = Orient::pz;
  std::string first;
  for (const char* v : kVariants) {
    // ctest runs the cases side by side: one file name per case.
    const std::string out = testing::TempDir() + "mesh_variant_" + x.name + v + ".txt";
    write_model(build_model(read_gmsh(kExamples + "/" + x.name + v), s), out);
    const std::string text = slurp(out);
    std::remove(out.c_str());
    if (first.empty()) first = text;
    EXPECT_EQ(text, first) << v;
  }
  EXPECT_NE(first.find(" 1.500000E+00\n"), std::string::npos);
}

TEST_P(ShippedMesh, GroupsCarryTheirNamesDimensionsAndNodes) {
  const Example& x = GetParam();
  const MeshData m = read_gmsh(kExamples + "/" + x.name + "_22_bin.msh");
  const auto find = [&](const char* name) {
    const auto it = std::find_if(m.groups.begin(), m.groups.end(), [&](const Group& g) { return g.name == name; });
    EXPECT_NE(it, m.groups.end()) << name;
    return it;
  };
  const auto surface = find(x.surface);
  const auto edge = find(x.edge);
  ASSERT_NE(surface, m.groups.end());
  ASSERT_NE(edge, m.groups.end());
  EXPECT_EQ(surface->dim, 2);
  EXPECT_EQ(edge->dim, 1);
  EXPECT_EQ(surface->nodes.size(), x.nodes);  // every node lies on the surface
  // Every triangle lies on an entity of the surface group.
  for (const Triangle& t : m.triangles)
    EXPECT_NE(std::find(surface->entities.begin(), surface->entities.end(), t.entity), surface->entities.end());
}

// clang-format off
const Example kExamplesTable[] = {
  {"circle", 286, 518, "membrane", "rim"},
  {"saddle", 364, 658, "roof", "edge"},
  {"lshape", 407, 732, "sheet", "edge"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Examples,
                         ShippedMesh,
                         testing::ValuesIn(kExamplesTable),
                         [](const testing::TestParamInfo<Example>& i) { return std::string(i.param.name); });

// Files the reader refuses, with the part of the report that says why.
struct BadFile {
  const char* name;
  std::function<std::string()> make;  // writes the file, returns its name
  const char* expected;
};

class RefusedFile : public testing::TestWithParam<BadFile> {};

TEST_P(RefusedFile, IsAFailureNamingTheFile) {
  const std::string file = GetParam().make();
  try {
    read_gmsh(file);
    ADD_FAILURE() << "no failure";
  } catch (const platform::Failure& f) {
    EXPECT_NE(f.message().find(file), std::string::npos) << f.message();
    EXPECT_NE(f.message().find(GetParam().expected), std::string::npos) << f.message();
  }
}

// The first `fraction` of a shipped mesh.
std::function<std::string()> cut(const char* variant, double fraction) {
  return [=] {
    const std::string all = slurp(kExamples + "/circle" + variant);
    const auto keep = static_cast<std::size_t>(static_cast<double>(all.size()) * fraction);
    return scratch("cut" + std::to_string(keep) + variant, all.substr(0, keep));
  };
}

// The circle's ASCII MSH 4.1 file with `from` replaced by `to`.
std::function<std::string()> edited(const char* name, const char* from, const char* to) {
  return [=] {
    std::string all = slurp(kExamples + "/circle_41.msh");
    const std::size_t at = all.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) all.replace(at, std::strlen(from), to);
    return scratch(name, all);
  };
}

// The binary MSH 4.1 file whose byte-order check, the integer 1, reads as
// written by a machine of the other byte order: every count then reads
// reversed.
std::string other_byte_order() {
  std::string all = slurp(kExamples + "/circle_41_bin.msh");
  const std::size_t one = all.find("4.1 1 8\n") + 8;
  all.replace(one, 4, std::string("\0\0\0\1", 4));
  return scratch("byte_order.msh", all);
}

// See docs/decisions.md, 'Mesh files are checked before Gmsh reads them'.
// clang-format off
const BadFile kBadFiles[] = {
  {"Missing", [] { return testing::TempDir() + "no_such.msh"; }, "cannot open \""},
  {"Directory", [] { return testing::TempDir(); }, "it is a directory, not a regular file"},
  {"Empty", [] { return scratch("empty.msh", ""); }, ":1: expected \"$MeshFormat\""},
  {"GeometryScript", [] { return kExamples + "/circle.geo"; }, ":1: expected \"$MeshFormat\""},
  {"Version40", [] { return scratch("v40.msh", "$MeshFormat\n4 0 8\n$EndMeshFormat\n"); }, ":2: MSH version \"4\""},
  {"Version30", [] { return scratch("v30.msh", "$MeshFormat\n3.0 0 8\n$EndMeshFormat\n"); }, ":2: MSH version \"3.0\""},
  {"HeaderOnly", [] { return scratch("header.msh", "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$Nodes\n1 2 x\n"); },
   ":5: expected a count (the smallest tag of the $Nodes section), found \"x\""},
  {"NoElements", [] { return scratch("no_elements.msh", "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n0\n$EndNodes\n"); },
   ":7: the file ends without an $Elements section"},
  {"OtherByteOrder", other_byte_order,
   ": byte 155: the $Entities section announces 360287970189639680 points, but the rest of the file (28024 bytes) cannot hold them"},
  {"TwoBillionNodes", edited("nodes41.msh", "$Nodes\n10 286 1 286", "$Nodes\n10 2000000000 1 2000000000"),
   ":24: the $Nodes section announces 2000000000 nodes, but the rest of the file"},
  {"TwoBillionNodesInABlock", edited("block41.msh", "\n1 1 0 12\n", "\n1 1 0 2000000000\n"),
   ":40: node block 6 of 10 announces 2000000000 nodes, but the rest of the file"},
  {"UnknownElementType", edited("type.msh", "\n2 1 2 518", "\n2 1 999 518"),
   ":668: element block 6 of 6 of the $Elements section has element type 999, which Gmsh does not know"},
  {"MoreThanAnnounced", edited("more.msh", "$Elements\n6 571 1 571", "$Elements\n6 570 1 571"),
   "the blocks of the $Elements section hold 571 elements, but its first line announces 570"},
  {"Ascii41Cut", cut("_41.msh", 0.5), ":555: the file ends where a coordinate of node block 10 of 10 of the $Nodes section was expected"},
  {"Binary41Cut", cut("_41_bin.msh", 0.5), ": byte 10205: the $Elements section announces 571 elements, but the rest of the file (3884 bytes)"},
  {"Ascii22Cut", cut("_22.msh", 0.5), ":300: the $Elements section announces 571 elements, but the rest of the file (33 bytes)"},
  {"Binary22Cut", cut("_22_bin.msh", 0.5), ": byte 8157: the $Elements section announces 571 elements"},
  {"Ascii41CutInElements", cut("_41.msh", 0.9), ":1045: the file ends where a tag or node of element block 6 of 6"},
  {"Binary41CutInElements", cut("_41_bin.msh", 0.9), ": byte 11589: element block 6 of 6 announces 518 elements"},
  {"Ascii22CutInElements", cut("_22.msh", 0.9), ":759: the file ends where a node of element 459 of 571"},
  {"Binary22CutInElements", cut("_22_bin.msh", 0.9), ": byte 25657: the file ends where the element count of the block of element 493"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Files,
                         RefusedFile,
                         testing::ValuesIn(kBadFiles),
                         [](const testing::TestParamInfo<BadFile>& i) { return std::string(i.param.name); });

// A shipped mesh cut anywhere before its last line end is refused by the
// check, naming the file and a line or byte, before Gmsh could read a
// part of it as a whole mesh (a cut between sections read as a mesh
// without triangles). The nodes of the types the examples hold stand in
// for Gmsh's table.
TEST(MshCheck, EveryCutOfAShippedMeshIsRefusedSayingWhere) {
  const NodesOfType nodes_of = [](int type) { return type == 15 ? 1 : type == 1 ? 2 : type == 2 ? 3 : -1; };
  for (const char* variant : kVariants) {
    const std::string file = "circle" + std::string(variant);
    const std::string all = slurp(kExamples + "/" + file);
    EXPECT_NO_THROW(check_msh(file, all, nodes_of)) << file;
    EXPECT_NO_THROW(check_msh(file, all.substr(0, all.size() - 1), nodes_of)) << file << " without its last line end";
    for (std::size_t keep = 0; keep + 1 < all.size(); keep += 29) {
      try {
        check_msh(file, std::string_view(all).substr(0, keep), nodes_of);
        ADD_FAILURE() << file << " cut after " << keep << " bytes passes";
      } catch (const platform::DataError& e) {
        const std::string& m = e.message();
        const bool where = m.rfind(file + ":", 0) == 0 && m.size() > file.size() + 2 &&
                           (std::isdigit(static_cast<unsigned char>(m[file.size() + 1])) != 0 ||
                            m.compare(file.size() + 1, 6, " byte ") == 0);
        EXPECT_TRUE(where) << m;
      }
    }
  }
}

std::string model_failure(const std::string& file) {
  try {
    build_model(read_gmsh(file), Settings{});
  } catch (const platform::DataError& e) {
    return e.message();
  }
  return "(no failure)";
}

TEST(GmshMesh, QuadranglesAreRefusedWithAdvice) {
  const std::string m = model_failure(kTestdata + "/quads.msh");
  EXPECT_NE(m.find("\"Quadrilateral 4\""), std::string::npos) << m;
  EXPECT_NE(m.find("Mesh.RecombineAll = 0"), std::string::npos) << m;
}

TEST(GmshMesh, SecondOrderTrianglesAreRefusedWithAdvice) {
  const std::string m = model_failure(kTestdata + "/order2.msh");
  EXPECT_NE(m.find("\"Triangle 6\""), std::string::npos) << m;
  EXPECT_NE(m.find("gmsh -2 -order 1"), std::string::npos) << m;
}

TEST(GmshMesh, SurfacesMeshedApartAreReportedAsCoincidentNodes) {
  const std::string m = model_failure(kTestdata + "/apart.msh");
  // The shared edge x = 1 has three nodes at size 0.5: corners and middle.
  EXPECT_NE(m.find("3 pairs of coincident nodes"), std::string::npos) << m;
  EXPECT_NE(m.find("(1.000000E+00, 5.000000E-01, 0.000000E+00)"), std::string::npos) << m;
}

TEST(GmshMesh, ASurfaceInTwoGroupsGivesOneModelFromBothFormats) {
  // MSH 2.2 holds every triangle twice, once per group.
  const MeshData m22 = read_gmsh(kTestdata + "/twogroups_22.msh");
  const MeshData m41 = read_gmsh(kTestdata + "/twogroups_41.msh");
  EXPECT_EQ(m22.triangles.size(), 2 * m41.triangles.size());
  Settings s;
  s.fixes = {parse_fix("rim=xyz")};
  s.pressures = {parse_pressure("roof=1"), parse_pressure("sheet=0.25")};
  const Model a = build_model(m22, s);
  const Model b = build_model(m41, s);
  EXPECT_EQ(a.elem, b.elem);
  EXPECT_EQ(a.coord, b.coord);
  // Each pressure once on every triangle, not once per copy.
  EXPECT_EQ(a.pressure, std::vector<double>(b.elem.size(), 1.25));
  EXPECT_EQ(b.pressure, std::vector<double>(b.elem.size(), 1.25));
}

TEST(GmshMesh, ReadingTwiceGivesTheSameMesh) {
  // Gmsh's library is set up and torn down for every file.
  const std::string file = kExamples + "/saddle_41_bin.msh";
  expect_same_mesh(read_gmsh(file), read_gmsh(file));
}

}  // namespace
}  // namespace mesh
