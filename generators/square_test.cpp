#include "generators/square.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/number_image.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

namespace fs = std::filesystem;

// Written coordinates carry seven significant digits.
constexpr double kCoordTol = 1e-6;
constexpr double kAreaTol = 1e-12;

using platform::testing::FileText;

std::string Testdata(const std::string& name) { return FileText(fs::path(SQUARE_TESTDATA) / name); }

// The file's lines; every line, the last included, must end with a line end.
std::vector<std::string> Lines(const std::string& text) {
  EXPECT_TRUE(!text.empty() && text.back() == '\n') << "the last line has no line end";
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  return lines;
}

std::string SquareTxt(int n, double halfside, double young, double poisson, double pressure) {
  std::ostringstream s;
  s.precision(17);
  s << " ndiv  halfside\n:\n"
    << n << " " << halfside << "\n young poisson\n:\n"
    << young << " " << poisson << "\n pressure\n:\n"
    << pressure << "\n";
  return s.str();
}

// Each test runs the generator in a scratch folder of its own, as the
// current directory, so that the file names are the program's own.
class SquareRun : public platform::testing::ScratchFolder {
 protected:
  void Run(const std::string& square_txt) {
    std::ofstream("square.txt", std::ios::binary) << square_txt;
    square::run();
  }
  void Run(int n, double halfside = 1.0, double pressure = 0.01) { Run(SquareTxt(n, halfside, 1000.0, 0.3, pressure)); }

  // The names in the folder, sorted.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---------------------------------------------------------------------------
// Golden files.

TEST_F(SquareRun, OneDivisionWritesTheDocumentedFiles) {
  Run(1, 1.0, 0.01);
  EXPECT_EQ(FileText("input.txt"), Testdata("input_n1.txt"));
  EXPECT_EQ(FileText("autocad.scr"), Testdata("autocad_n1.scr"));
  EXPECT_EQ(FileText("ansys.txt"), Testdata("ansys_n1.txt"));
  EXPECT_EQ(Files(), (std::vector<std::string>{"ansys.txt", "autocad.scr", "input.txt", "square.txt"}));
}

// The documented excerpts of "ansys.txt", each a run of consecutive lines,
// standing where their items belong: after the lines given with them.
TEST_F(SquareRun, OneDivisionAnsysExcerptsStandInPlace) {
  Run(1, 1.0, 0.01);
  const std::string ansys = FileText("ansys.txt");
  const std::string rule = "\n! ---------------------------------------\n\n";
  const std::string excerpts[] = {
      "MP, ALPX, 1,  1.000000E+00\n" + rule +
          "! DEFINE NODES\n"
          "N,     1,  0.000000E+00,  0.000000E+00,  0.000000E+00\n"
          "N,     1, -1.000000E+00, -1.000000E+00,  0.000000E+00\n"
          "N,     2,  1.000000E+00, -1.000000E+00,  0.000000E+00\n"
          "N,     3,  0.000000E+00,  0.000000E+00,  0.000000E+00\n"
          "N,     4, -1.000000E+00,  1.000000E+00,  0.000000E+00\n"
          "N,     5,  1.000000E+00,  1.000000E+00,  0.000000E+00\n" +
          rule + "! DEFINE ELEMENT TYPE\n",
      "R, 1, 1.0\n\n"
      "! DEFINE ELEMENTS\n"
      "EN,     1,     3,     4,     1,     1\n"
      "EN,     2,     3,     2,     5,     5\n"
      "EN,     3,     3,     1,     2,     2\n"
      "EN,     4,     3,     5,     4,     4\n" +
          rule + "! INCLUDE LARGE DEFORMATION EFFECTS\n",
      "DDELE, ALL, ALL\n\n"
      "! DEFINE DOF CONSTRAINTS\n"
      "D,     1, ALL,  0.000000E+00\n"
      "D,     2, ALL,  0.000000E+00\n"
      "D,     4, ALL,  0.000000E+00\n"
      "D,     5, ALL,  0.000000E+00\n\n"
      "! SPECIFY SURFACE LOADS ON ELEMENTS\n"
      "SFE, ALL, 1, PRES, 0,  1.000000E-02\n\n"
      "! START SOLUTION\nSOLVE\n\n"
      "! REMOVE THE PRESTRAIN OF THE FIRST SOLUTION\n"
      "TUNIF,  0.000000E+00\n"
      "SOLVE\n\nFINISH\n",
  };
  std::size_t from = 0;
  for (const auto& excerpt : excerpts) {
    const std::size_t at = ansys.find(excerpt, from);
    ASSERT_NE(at, std::string::npos) << "missing or out of order:\n" << excerpt;
    from = at + excerpt.size();
  }
  EXPECT_EQ(from, ansys.size()) << "the file must end with FINISH";
}

// The load steps of "ansys.txt", whatever the mesh: the thermal prestrain
// that stabilises the flat membrane in the first solution must be taken off
// again in a third one, after the pressure, or the final state would be
// that of a pre-tensioned membrane and not the one the solvers compute.
// See docs/decisions.md, 'The ANSYS file takes the prestrain off again'.
TEST_F(SquareRun, AnsysLoadStepsEndWithoutPrestrain) {
  for (int n : {1, 2, 5}) {
    Run(n, 1.0, 0.5);
    std::vector<std::string> steps;
    for (const std::string& line : Lines(FileText("ansys.txt"))) {
      for (const char* command : {"D, ALL, ALL", "TUNIF", "SOLVE", "DDELE", "SFE", "FINISH"}) {
        if (line.rfind(command, 0) == 0) steps.push_back(line);
      }
    }
    EXPECT_EQ(steps,
              (std::vector<std::string>{"FINISH",
                                        "D, ALL, ALL",
                                        "TUNIF, -1.000000E-03",
                                        "SOLVE",
                                        "DDELE, ALL, ALL",
                                        "SFE, ALL, 1, PRES, 0,  5.000000E-01",
                                        "SOLVE",
                                        "TUNIF,  0.000000E+00",
                                        "SOLVE",
                                        "FINISH"}))
        << "n = " << n;
  }
}

// Files computed independently for n = 2 and n = 3; the model files are
// those the solvers' reference results were computed for.
TEST_F(SquareRun, MatchesTheReferenceFiles) {
  for (int n : {2, 3}) {
    Run(Testdata("square_n" + std::to_string(n) + ".txt"));
    EXPECT_EQ(FileText("input.txt"),
              FileText(fs::path(VELORA_TESTDATA) / ("square_n" + std::to_string(n) + "_p0.01") / "input.txt"))
        << "n = " << n;
    EXPECT_EQ(FileText("autocad.scr"), Testdata("autocad_n" + std::to_string(n) + ".scr")) << "n = " << n;
  }
}

// ---------------------------------------------------------------------------
// The written files parsed back.

struct Node {
  int k;
  double x, y;
  int i, j;  // lattice indices recovered from x and y
};
struct Element {
  int e;
  int v[3];
};

struct InputFile {
  std::vector<std::string> parameters;  // the record line's fields
  std::vector<Node> nodes;
  std::vector<Element> elements;
  std::vector<std::vector<std::string>> constraints;  // node, axis, displ
  std::vector<std::pair<int, std::string>> pressures;
};

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream s(line);
  std::vector<std::string> f;
  for (std::string w; s >> w;) f.push_back(w);
  return f;
}

// Reads "input.txt" in the canonical layout, checking the frame of every
// section (label, marker, count line, the empty line, records of the
// canonical length, two empty lines) and that the counts match the records.
InputFile ParseInput(const std::string& text, int n, double h) {
  const auto lines = Lines(text);
  std::size_t at = 0;
  auto next = [&]() -> const std::string& {
    static const std::string kNone = "<end of file>";
    return at < lines.size() ? lines[at++] : kNone;
  };
  auto section = [&](const char* label, int record_length, bool last, auto&& record) {
    EXPECT_EQ(next(), label);
    EXPECT_EQ(next(), ":");
    const std::string count_line = next();
    EXPECT_EQ(count_line.size(), 5u) << label;
    const int count = std::atoi(count_line.c_str());
    if (count > 0) {
      EXPECT_EQ(next(), "");
    }
    for (int k = 0; k < count; ++k) {
      const std::string& line = next();
      EXPECT_EQ(line.size(), static_cast<std::size_t>(record_length)) << label << ": " << line;
      record(Fields(line));
    }
    if (!last) {
      EXPECT_EQ(next(), "") << label;
      EXPECT_EQ(next(), "") << label;
    }
    return count;
  };

  InputFile f;
  EXPECT_EQ(next(), "        lstol     maxls             mntol             mnref  maxminor   maxlist  maxmajor");
  EXPECT_EQ(next(), ":");
  f.parameters = Fields(next());
  EXPECT_EQ(next(), "");
  EXPECT_EQ(next(), "");
  EXPECT_EQ(next(), "        young           poisson           density");
  EXPECT_EQ(next(), ":");
  EXPECT_EQ(next(), " 1.000000E+03      3.000000E-01      0.000000E+00");
  EXPECT_EQ(next(), "");
  EXPECT_EQ(next(), "");
  const int nnode = section(" node           coord x           coord y           coord z", 59, false, [&](auto fl) {
    Node node{std::stoi(fl[0]), std::stod(fl[1]), std::stod(fl[2]), 0, 0};
    node.i = static_cast<int>(std::lround(node.x / h));
    node.j = static_cast<int>(std::lround(node.y / h));
    EXPECT_NEAR(node.x, node.i * h, kCoordTol * (1 + std::abs(node.x)));
    EXPECT_NEAR(node.y, node.j * h, kCoordTol * (1 + std::abs(node.y)));
    EXPECT_EQ(fl[3], "0.000000E+00");
    f.nodes.push_back(node);
  });
  const int nelem = section(" elem      node      node      node", 35, false, [&](auto fl) {
    f.elements.push_back({std::stoi(fl[0]), {std::stoi(fl[1]), std::stoi(fl[2]), std::stoi(fl[3])}});
  });
  const int ndispl =
      section(" node      axis             displ", 33, false, [&](auto fl) { f.constraints.push_back(fl); });
  const int nload = section(" node      axis            action", 33, false, [](auto) {});
  const int npres =
      section(" elem          pressure", 23, true, [&](auto fl) { f.pressures.emplace_back(std::stoi(fl[0]), fl[1]); });
  EXPECT_EQ(at, lines.size()) << "lines after the last pressure record";

  EXPECT_EQ(nnode, 2 * n * n + 2 * n + 1);
  EXPECT_EQ(nelem, 4 * n * n);
  EXPECT_EQ(ndispl, 12 * n);
  EXPECT_EQ(nload, 0);
  EXPECT_EQ(npres, nelem);
  return f;
}

struct AnsysFile {
  std::vector<std::vector<std::string>> nodes;     // N lines, commas removed
  std::vector<std::vector<std::string>> elements;  // EN lines
  std::vector<int> supports;                       // D lines with a node
};

AnsysFile ParseAnsys(const std::string& text) {
  AnsysFile f;
  for (std::string line : Lines(text)) {
    const auto kind = line.substr(0, line.find(','));
    std::replace(line.begin(), line.end(), ',', ' ');
    auto fl = Fields(line);
    if (kind == "N") {
      f.nodes.push_back(fl);
    } else if (kind == "EN") {
      f.elements.push_back(fl);
    } else if (kind == "D" && fl[1] != "ALL") {
      EXPECT_EQ(fl.size(), 4u);
      EXPECT_EQ(fl[2], "ALL");
      EXPECT_EQ(fl[3], "0.000000E+00");
      f.supports.push_back(std::stoi(fl[1]));
    }
  }
  return f;
}

// number(i, j) in closed form, r = j + n: whole pairs of rows (a full row of
// n+1 nodes and an interleaved one of n), the full row below an interleaved
// row, then the position within the row.
int ClosedForm(int n, int i, int j) {
  const int r = j + n;
  return (r / 2) * (2 * n + 1) + (r % 2) * (n + 1) + (i + n) / 2 + 1;
}

TEST(SquareGrid, NodeNumbersFollowTheClosedForm) {
  for (int n : {1, 2, 3, 4, 5, 8, 13, 60}) {
    const square::Grid grid = square::number_nodes(n);
    for (int j = -n; j <= n; ++j) {
      for (int i = -n; i <= n; ++i) {
        const int expected = (i - j) % 2 == 0 ? ClosedForm(n, i, j) : 0;
        ASSERT_EQ(grid(i, j), expected) << "n = " << n << " at (" << i << ", " << j << ")";
      }
    }
  }
}

TEST_F(SquareRun, TwoDivisionsNumberingAndSupports) {
  Run(2, 1.0);
  const InputFile f = ParseInput(FileText("input.txt"), 2, 0.5);
  ASSERT_EQ(f.nodes.size(), 13u);
  EXPECT_EQ(f.nodes[3].k, 4);
  EXPECT_EQ(f.nodes[3].x, -0.5);
  EXPECT_EQ(f.nodes[3].y, -0.5);
  EXPECT_EQ(f.nodes[6].x, 0.0);  // node 7 is the centre
  EXPECT_EQ(f.nodes[6].y, 0.0);
  const int left[4][3] = {{7, 9, 4}, {4, 6, 1}, {9, 11, 6}, {6, 4, 9}};
  for (std::size_t e = 0; e < 4; ++e) {
    EXPECT_EQ(std::vector<int>(f.elements[e].v, f.elements[e].v + 3), std::vector<int>(left[e], left[e] + 3));
  }
  std::vector<int> supports;
  for (std::size_t k = 0; k < f.constraints.size(); k += 3) supports.push_back(std::stoi(f.constraints[k][0]));
  EXPECT_EQ(supports, (std::vector<int>{1, 3, 11, 13, 2, 12, 6, 8}));
  EXPECT_EQ(ParseAnsys(FileText("ansys.txt")).supports, supports);
}

// Everything that must hold for any n, checked on the files as written.
void CheckMesh(int n, double halfside) {
  SCOPED_TRACE("n = " + std::to_string(n));
  const double h = halfside / n;
  const InputFile f = ParseInput(FileText("input.txt"), n, h);
  const int nnode = 2 * n * n + 2 * n + 1;
  const int nelem = 4 * n * n;

  // Parameters: fixed control values, maxminor = 30 nnode.
  EXPECT_EQ(f.parameters,
            (std::vector<std::string>{
                "1.000000E-01", "20", "1.000000E-03", "0.000000E+00", std::to_string(30 * nnode), "3", "20"}));

  // Nodes: numbered 1.. in row order, the closed form, only where i - j is
  // even, every such lattice point once.
  std::map<int, const Node*> node;
  std::set<std::pair<int, int>> points;
  for (std::size_t k = 0; k < f.nodes.size(); ++k) {
    const Node& p = f.nodes[k];
    ASSERT_EQ(p.k, static_cast<int>(k) + 1);
    ASSERT_TRUE(std::abs(p.i) <= n && std::abs(p.j) <= n && (p.i - p.j) % 2 == 0);
    ASSERT_EQ(p.k, ClosedForm(n, p.i, p.j));
    node[p.k] = &p;
    points.insert({p.i, p.j});
  }
  EXPECT_EQ(points.size(), static_cast<std::size_t>(nnode));

  // Elements: numbered 1.., right isosceles with the right angle at vertex
  // 1, legs of length h*sqrt(2), counter-clockwise seen from +Z; the areas
  // (from the written coordinates) add up to the square's.
  std::map<std::pair<int, int>, int> directed;  // edge -> times used
  double area = 0.0;
  for (std::size_t k = 0; k < f.elements.size(); ++k) {
    const Element& el = f.elements[k];
    ASSERT_EQ(el.e, static_cast<int>(k) + 1);
    const Node* v[3];
    for (int m = 0; m < 3; ++m) {
      ASSERT_TRUE(node.count(el.v[m])) << "element " << el.e;
      v[m] = node[el.v[m]];
    }
    const int ax = v[1]->i - v[0]->i, ay = v[1]->j - v[0]->j;
    const int bx = v[2]->i - v[0]->i, by = v[2]->j - v[0]->j;
    ASSERT_EQ(ax * bx + ay * by, 0) << "element " << el.e << ": no right angle at vertex 1";
    ASSERT_EQ(ax * ax + ay * ay, 2) << "element " << el.e;
    ASSERT_EQ(bx * bx + by * by, 2) << "element " << el.e;
    ASSERT_EQ(ax * by - ay * bx, 2) << "element " << el.e << ": normal not along +Z";
    area += 0.5 * ((v[1]->x - v[0]->x) * (v[2]->y - v[0]->y) - (v[1]->y - v[0]->y) * (v[2]->x - v[0]->x));
    for (int m = 0; m < 3; ++m) ++directed[{el.v[m], el.v[(m + 1) % 3]}];
  }
  EXPECT_NEAR(area, 4 * halfside * halfside, kAreaTol * nelem * halfside * halfside);

  // Conforming: no edge twice in one direction; an edge used in one
  // direction only lies on the boundary (one side, 2h long), every other is
  // used once each way.
  auto on_side = [n](const Node* a, const Node* b) {
    return (a->i == b->i && std::abs(a->i) == n) || (a->j == b->j && std::abs(a->j) == n);
  };
  int boundary_edges = 0;
  for (const auto& [edge, times] : directed) {
    ASSERT_EQ(times, 1) << "edge " << edge.first << "-" << edge.second << " used twice in one direction";
    const bool reverse = directed.count({edge.second, edge.first}) > 0;
    EXPECT_EQ(!reverse, on_side(node[edge.first], node[edge.second])) << "edge " << edge.first << "-" << edge.second;
    if (!reverse) ++boundary_edges;
  }
  EXPECT_EQ(boundary_edges, 4 * n);

  // Supports: each boundary node once, axes 1, 2, 3, displacement zero.
  std::vector<int> supports;
  for (std::size_t k = 0; k < f.constraints.size(); ++k) {
    const auto& c = f.constraints[k];
    EXPECT_EQ(c[1], std::to_string(k % 3 + 1));
    EXPECT_EQ(c[2], "0.000000E+00");
    if (k % 3 == 0) {
      supports.push_back(std::stoi(c[0]));
    } else {
      EXPECT_EQ(std::stoi(c[0]), supports.back());
    }
  }
  std::set<int> boundary;
  for (const Node& p : f.nodes) {
    if (std::abs(p.i) == n || std::abs(p.j) == n) boundary.insert(p.k);
  }
  EXPECT_EQ(boundary.size(), static_cast<std::size_t>(4 * n));
  EXPECT_EQ(std::set<int>(supports.begin(), supports.end()), boundary);
  EXPECT_EQ(supports.size(), boundary.size());
  EXPECT_EQ(supports[0], 1);  // corners first
  EXPECT_EQ(supports[1], n + 1);
  EXPECT_EQ(supports[2], nnode - n);
  EXPECT_EQ(supports[3], nnode);

  // Pressures: every element in order, the same value.
  for (std::size_t k = 0; k < f.pressures.size(); ++k) {
    EXPECT_EQ(f.pressures[k], std::make_pair(static_cast<int>(k) + 1, std::string("1.000000E-02")));
  }

  // "ansys.txt": node 1 at the origin first, then the same nodes, positions,
  // elements (third node repeated) and boundary nodes as "input.txt".
  const AnsysFile a = ParseAnsys(FileText("ansys.txt"));
  ASSERT_EQ(a.nodes.size(), static_cast<std::size_t>(nnode) + 1);
  EXPECT_EQ(a.nodes[0], (std::vector<std::string>{"N", "1", "0.000000E+00", "0.000000E+00", "0.000000E+00"}));
  const auto input_lines = Lines(FileText("input.txt"));
  for (int k = 1; k <= nnode; ++k) {
    const auto in = Fields(input_lines[static_cast<std::size_t>(14 + k - 1)]);
    ASSERT_EQ(a.nodes[static_cast<std::size_t>(k)], (std::vector<std::string>{"N", in[0], in[1], in[2], in[3]}));
  }
  ASSERT_EQ(a.elements.size(), static_cast<std::size_t>(nelem));
  for (std::size_t k = 0; k < a.elements.size(); ++k) {
    const Element& el = f.elements[k];
    ASSERT_EQ(a.elements[k],
              (std::vector<std::string>{"EN",
                                        std::to_string(el.e),
                                        std::to_string(el.v[0]),
                                        std::to_string(el.v[1]),
                                        std::to_string(el.v[2]),
                                        std::to_string(el.v[2])}));
  }
  EXPECT_EQ(a.supports, supports);

  // "autocad.scr": one face per element, in order, at the vertices of
  // "input.txt".
  const auto scr = Lines(FileText("autocad.scr"));
  ASSERT_EQ(scr.size(), static_cast<std::size_t>(nelem) + 4);
  EXPECT_EQ(scr[0], "osmode 0");
  EXPECT_EQ(scr[1], "layer make surface ");
  EXPECT_EQ(scr[scr.size() - 2], "layer set 0 ");
  EXPECT_EQ(scr.back(), "zoom ext ext");
  for (std::size_t k = 0; k < f.elements.size(); ++k) {
    std::string line = scr[k + 2];
    ASSERT_EQ(line.rfind("3dface ", 0), 0u);
    ASSERT_EQ(line.substr(line.size() - 2), "  ");
    std::replace(line.begin(), line.end(), ',', ' ');
    const auto fl = Fields(line);
    ASSERT_EQ(fl.size(), 10u);
    for (int m = 0; m < 3; ++m) {
      const Node* p = node[f.elements[k].v[m]];
      EXPECT_EQ(std::stod(fl[static_cast<std::size_t>(1 + 3 * m)]), p->x) << "face " << k + 1;
      EXPECT_EQ(std::stod(fl[static_cast<std::size_t>(2 + 3 * m)]), p->y) << "face " << k + 1;
      EXPECT_EQ(fl[static_cast<std::size_t>(3 + 3 * m)], "0.000000E+00");
    }
  }
}

TEST_F(SquareRun, MeshPropertiesForSmallAndLargeMeshes) {
  for (int n = 1; n <= 12; ++n) {
    Run(n, 1.0);
    CheckMesh(n, 1.0);
  }
  // A larger mesh, with another half side and a maxminor wider than its
  // five columns (from n = 41 on).
  Run(60, 2.5);
  CheckMesh(60, 2.5);
  EXPECT_EQ(Lines(FileText("input.txt"))[2],
            " 1.000000E-01        20      1.000000E-03      0.000000E+00     219630         3        20");
}

TEST_F(SquareRun, NegativePressureAndOtherMaterialAreWrittenAsGiven) {
  Run(SquareTxt(1, 1.0, 2.1e5, 0.45, -0.5));
  const auto lines = Lines(FileText("input.txt"));
  EXPECT_EQ(lines[7], " 2.100000E+05      4.500000E-01      0.000000E+00");
  EXPECT_EQ(lines.back(), "    4     -5.000000E-01");
  const std::string ansys = FileText("ansys.txt");
  EXPECT_NE(ansys.find("\nMP,   EX, 1,  2.100000E+05\nMP, PRXY, 1,  4.500000E-01\n"), std::string::npos);
  EXPECT_NE(ansys.find("\nSFE, ALL, 1, PRES, 0, -5.000000E-01\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Reading "square.txt".

square::Generator Read(const std::string& text) {
  platform::TextReader in("square.txt", text);
  return square::initia(in);
}

TEST(SquareInitia, DerivedQuantities) {
  const auto g1 = Read(":\n1 1.0\n:\n1000.0 0.3\n:\n0.01\n");
  EXPECT_EQ(g1.nnode, 5);
  EXPECT_EQ(g1.nelem, 4);
  EXPECT_EQ(g1.ndispl, 12);
  EXPECT_EQ(g1.controls.maxminor, 150);
  const auto g = Read(":\n10 1.0\n:\n1.0E+05 0.3\n:\n1.0\n");
  EXPECT_EQ(g.ndiv, 10);
  EXPECT_EQ(g.halfside, 1.0);
  EXPECT_EQ(g.young, 1.0e5);
  EXPECT_EQ(g.poisson, 0.3);
  EXPECT_EQ(g.pressure, 1.0);
  EXPECT_EQ(g.nnode, 221);
  EXPECT_EQ(g.nelem, 400);
  EXPECT_EQ(g.ndispl, 120);
  EXPECT_EQ(g.controls.maxminor, 6630);
  EXPECT_EQ(g.step, 0.1);
  EXPECT_EQ(g.grid.n(), 10);
  EXPECT_EQ(g.grid(0, 0), 111);
}

// Every malformed file fails with the expected failure and a message that
// names the file and the line, before any output file exists.
// See docs/decisions.md, 'Meshes that cannot be written'.
struct BadParameters {
  std::string text;
  const char* failure;
  const char* message_part;
};

void PrintTo(const BadParameters& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class SquareBadParameters : public SquareRun, public ::testing::WithParamInterface<BadParameters> {};

TEST_P(SquareBadParameters, FailBeforeAnyFileIsWritten) {
  const BadParameters& c = GetParam();
  // Earlier outputs stay as they were.
  std::ofstream("input.txt") << "earlier\n";
  platform::testing::ExpectFailure([&] { Run(c.text); }, c.failure, {c.message_part});
  EXPECT_EQ(Files(), (std::vector<std::string>{"input.txt", "square.txt"}));
  EXPECT_EQ(FileText("input.txt"), "earlier\n");
}

INSTANTIATE_TEST_SUITE_P(
    SquareRun,
    SquareBadParameters,
    ::testing::Values(
        BadParameters{":\n2.5 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "square.txt:2: expected an integer (ndiv"},
        BadParameters{":\n2 1.0x\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "square.txt:2: expected a real number (halfside"},
        BadParameters{":\n2 1.0\n:\n1 abc\n:\n1\n", "DATA_ERROR", "square.txt:4: expected a real number (poisson"},
        BadParameters{":\n99999999999 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "outside the range"},
        BadParameters{":\n2 1.0\n:\n1 0.3\n", "END_ERROR", "square.txt:5: the file ends before the marker line"},
        BadParameters{":\n2 1.0\n:\n1 0.3\n:\n", "END_ERROR", "the file ends where a real number (pressure"},
        BadParameters{"", "END_ERROR", "square.txt:1: the file ends before the marker line"},
        BadParameters{":\n0 1.0\n:\n1 0.3\n:\n1\n",
                      "DATA_ERROR",
                      "square.txt:2: ndiv is 0; the number of divisions per side must be at least 1"},
        BadParameters{":\n-3 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "square.txt:2: ndiv is -3;"},
        BadParameters{":\n2\n0.0\n:\n1 0.3\n:\n1\n",
                      "DATA_ERROR",
                      "square.txt:3: halfside is 0.000000E+00; the half side length must be a positive finite number"},
        BadParameters{":\n2 -1\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "halfside is -1.000000E+00;"},
        BadParameters{
            ":\n5983 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "square.txt:2: ndiv is 5983; at most 5982 divisions"},
        BadParameters{":\n2147483647 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "at most 5982 divisions"}));

TEST_F(SquareRun, MissingParameterFileIsAFileError) {
  try {
    square::run();
    ADD_FAILURE() << "no failure";
  } catch (const platform::FileError& f) {
    EXPECT_EQ(f.message(), "cannot open \"square.txt\" for reading: No such file or directory");
  }
  EXPECT_TRUE(Files().empty());
}

// The largest accepted ndiv is the last one whose counts fit in 32 bits;
// checked here with the counts in 64 bits (maxminor is the one that limits).
TEST(SquareInitia, LargestDivisionCountIsTheLastThatFits) {
  const auto fits = [](std::int64_t n) {
    const std::int64_t nnode = 2 * (n * n + n) + 1;
    return 30 * nnode <= 2147483647 && 4 * n * n <= 2147483647;
  };
  const std::int64_t largest = square::largest_ndiv();
  EXPECT_EQ(largest, 5982);
  EXPECT_TRUE(fits(largest));
  EXPECT_FALSE(fits(largest + 1));
}

// A failure on the last file leaves every file of an earlier run as it
// was, the two written before it too: here "ansys.txt" cannot be created
// because its temporary name is taken by a directory.
// See docs/decisions.md, 'The result files of a run are replaced together'.
TEST_F(SquareRun, FailureOnTheLastFileKeepsEveryEarlierFile) {
  for (const char* name : {"input.txt", "autocad.scr", "ansys.txt"}) std::ofstream(name) << "earlier " << name << "\n";
  fs::create_directory("ansys.txt.part");
  try {
    Run(1);
    ADD_FAILURE() << "no failure";
  } catch (const platform::FileError& f) {
    EXPECT_NE(f.message().find("\"ansys.txt\""), std::string::npos) << f.message();
  }
  for (const char* name : {"input.txt", "autocad.scr", "ansys.txt"}) {
    EXPECT_EQ(FileText(name), std::string("earlier ") + name + "\n");
  }
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"ansys.txt", "ansys.txt.part", "autocad.scr", "input.txt", "square.txt"}));
}

}  // namespace
