// Unit tests of the viewer: reading the results report back, the VTK grid
// (parsed back with a small XML reader), the SVG picture, and the colour map.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "model/analysis.h"
#include "model/model.h"
#include "platform/failure.h"
#include "platform/testing.h"
#include "platform/text_reader.h"
#include "viewer/model.h"
#include "viewer/report.h"
#include "viewer/svg.h"
#include "viewer/vtu.h"
#include "viewer/wrinkles.h"

namespace {

using viewer::Report;

constexpr double kTol = 1e-15;
constexpr double kPi = 3.14159265358979323846;

using platform::testing::ExpectFailure;

// A report of four nodes and two elements as the solvers write it. Node 1
// has all three reactions, node 2 only Z (two blank fields before it), node
// 3 none (no line), node 4 X and Y.
const std::string kReport =
    "-----------------------------------------------------------------\n"
    "| Major Iterations                            |               3 |\n"
    "| Last Minor Iterations                       |              17 |\n"
    "| Total Potential Energy                      | -1.23456789E-02 |\n"
    "| Allowable Maximum Residue                   |  1.00000000E-06 |\n"
    "-----------------------------------------------------------------\n"
    "\n"
    "\n"
    "-----------------------------------------------------------------\n"
    " Node             Displ X             Displ Y             Displ Z\n"
    "-----------------------------------------------------------------\n"
    "\n"
    "    1      0.00000000E+00      0.00000000E+00      0.00000000E+00\n"
    "    2      1.25000000E-02     -3.40000000E-04      2.50000000E-01\n"
    "    3      0.00000000E+00      0.00000000E+00      5.00000000E-01\n"
    "    4      0.00000000E+00      0.00000000E+00      0.00000000E+00\n"
    "\n"
    "\n"
    "-----------------------------------------------------------------\n"
    " Node             Coord X             Coord Y             Coord Z\n"
    "-----------------------------------------------------------------\n"
    "\n"
    "    1      0.00000000E+00      0.00000000E+00      0.00000000E+00\n"
    "    2      1.01250000E+00     -3.40000000E-04      2.50000000E-01\n"
    "    3      1.00000000E+00      1.00000000E+00      5.00000000E-01\n"
    "    4      0.00000000E+00      1.00000000E+00      0.00000000E+00\n"
    "\n"
    "\n"
    "-----------------------------------------------\n"
    "Element            Stress-1            Stress-2\n"
    "-----------------------------------------------\n"
    "\n"
    "      1      1.05000000E-01     -1.41540000E-05\n"
    "      2      2.10000000E-01      3.00000000E-02\n"
    "\n"
    "\n"
    "-----------------------------------------------------------------\n"
    " Node             Force X             Force Y             Force Z\n"
    "-----------------------------------------------------------------\n"
    "\n"
    "    1     -1.50000000E+00      2.00000000E+00     -3.00000000E+00\n"
    "    2                                              5.00000000E-01\n"
    "    4      7.00000000E-01     -8.00000000E-01\n";

// The model the report belongs to: the unit square, two triangles.
viewer::Mesh SquareMesh() {
  viewer::Mesh m;
  m.node = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  m.tri = {{0, 1, 2}, {0, 2, 3}};
  m.pressure = {0.5, 0.25};
  return m;
}

Report Parse(const std::string& text, int nnode = 4, int nelem = 2) {
  return viewer::parse_report("output.txt", text, nnode, nelem);
}

// The report with one line (1-based) replaced, or removed when `by` is
// absent.
std::string ReplaceLine(const std::string& text, int line, const std::string* by) {
  std::istringstream in(text);
  std::string out, s;
  for (int k = 1; std::getline(in, s); ++k) {
    if (k == line) {
      if (by != nullptr) out += *by + "\n";
    } else {
      out += s + "\n";
    }
  }
  return out;
}

TEST(Report, ReadsEveryTable) {
  const Report r = Parse(kReport);
  EXPECT_EQ(r.major, 3);
  EXPECT_EQ(r.minor, 17);
  EXPECT_EQ(r.energy, -1.23456789e-2);
  EXPECT_EQ(r.residue, 1e-6);
  ASSERT_EQ(r.displacement.size(), 4u);
  EXPECT_EQ(r.displacement[1][0], 1.25e-2);
  EXPECT_EQ(r.displacement[1][1], -3.4e-4);
  EXPECT_EQ(r.displacement[2][2], 0.5);
  EXPECT_EQ(r.position[1][0], 1.0125);
  EXPECT_EQ(r.position[3][1], 1.0);
  ASSERT_EQ(r.stress1.size(), 2u);
  EXPECT_EQ(r.stress1[0], 0.105);
  EXPECT_EQ(r.stress2[0], -1.4154e-5);
  EXPECT_EQ(r.stress1[1], 0.21);
}

TEST(Report, ReactionsByFieldWithZeroWhereNoneIsReported) {
  const Report r = Parse(kReport);
  ASSERT_EQ(r.reaction.size(), 4u);
  EXPECT_EQ(r.reaction[0], (std::array<double, 3>{-1.5, 2.0, -3.0}));
  EXPECT_EQ(r.reaction[1], (std::array<double, 3>{0.0, 0.0, 0.5}));   // two blank fields, then Z
  EXPECT_EQ(r.reaction[2], (std::array<double, 3>{0.0, 0.0, 0.0}));   // no line
  EXPECT_EQ(r.reaction[3], (std::array<double, 3>{0.7, -0.8, 0.0}));  // stops after Y
}

TEST(Report, NoReactionLinesAtAll) {
  // A model without supports: the report ends after the reaction heading.
  const std::string text = kReport.substr(0, kReport.find("    1     -1.5"));
  const Report r = Parse(text);
  for (const auto& f : r.reaction) EXPECT_EQ(f, (std::array<double, 3>{0.0, 0.0, 0.0}));
}

TEST(Report, AcceptsCarriageReturnLineEnds) {
  std::string crlf;
  for (const char c : kReport) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const Report r = Parse(crlf);
  EXPECT_EQ(r.reaction[3][1], -0.8);
  EXPECT_EQ(r.stress1[1], 0.21);
}

TEST(Report, FewerNodesThanTheModelNamesBothCounts) {
  ExpectFailure([] { Parse(kReport, 5, 2); },
                "DATA_ERROR",
                {"output.txt:17:", "displacement table ends after 4 nodes", "input.txt) has 5 nodes"});
}

TEST(Report, MoreNodesThanTheModel) {
  ExpectFailure([] { Parse(kReport, 3, 2); },
                "DATA_ERROR",
                {"output.txt:16:", "displacement table holds more than 3 nodes", "has 3 nodes"});
}

TEST(Report, ElementCountMismatchInEitherDirection) {
  ExpectFailure([] { Parse(kReport, 4, 3); }, "DATA_ERROR", {"output.txt:35:", "stress table ends after 2 elements"});
  ExpectFailure([] { Parse(kReport, 4, 1); }, "DATA_ERROR", {"output.txt:34:", "holds more than 1 elements"});
}

TEST(Report, ShortFileAtEveryLineIsAnEndFailure) {
  // Cut after each line of the tables: the reader must say where the file
  // ended and what it expected, never read past the end.
  std::istringstream in(kReport);
  std::string prefix, s;
  int lines = 0;
  while (std::getline(in, s)) {
    if (s.find("Force X") != std::string::npos) break;
    ++lines;
    const std::string text = prefix;
    if (lines > 1) {
      ExpectFailure([&] { Parse(text); }, "END_ERROR", {"output.txt:" + std::to_string(lines) + ":", "file ends"});
    }
    prefix += s + "\n";
  }
  ExpectFailure([] { Parse(""); }, "END_ERROR", {"output.txt:1:", "rule above the summary"});
}

TEST(Report, WrongHeadingOrSummaryLine) {
  const std::string stress = "Element            Stress-A            Stress-2";
  ExpectFailure([&] { Parse(ReplaceLine(kReport, 30, &stress)); },
                "DATA_ERROR",
                {"output.txt:30:", "expected the stress table heading", "Stress-A"});
  const std::string summary = "| Major Iterations                            |               x |";
  ExpectFailure([&] { Parse(ReplaceLine(kReport, 2, &summary)); },
                "DATA_ERROR",
                {"output.txt:2:", "expected an integer (major iterations)", "\"x\""});
}

TEST(Report, RowsOutOfOrderOrMalformed) {
  const std::string swapped = "    3      0.00000000E+00      0.00000000E+00      0.00000000E+00";
  ExpectFailure([&] { Parse(ReplaceLine(kReport, 14, &swapped)); },
                "DATA_ERROR",
                {"output.txt:14:", "expected node 2", "found node 3"});
  const std::string comma = "    2      1,25000000E-02     -3.40000000E-04      2.50000000E-01";
  ExpectFailure([&] { Parse(ReplaceLine(kReport, 14, &comma)); },
                "DATA_ERROR",
                {"output.txt:14:", "expected a real (value 1 of node 2)"});
  const std::string missing = "    2      1.25000000E-02     -3.40000000E-04";
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 14, &missing)); }, "DATA_ERROR", {"output.txt:14:", "value 3 of node 2"});
}

TEST(Report, DivergedValuesAreRefused) {
  const std::string nan = "      2                 NaN      3.00000000E-02";
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 34, &nan)); }, "DATA_ERROR", {"output.txt:34:", "not a finite number"});
}

TEST(Report, ReactionLinesOutOfOrderOrOfBadWidth) {
  const std::string back = "    1                                              5.00000000E-01";
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 42, &back)); }, "DATA_ERROR", {"output.txt:42:", "node 1 after node 1"});
  const std::string beyond = "    9      7.00000000E-01";
  ExpectFailure([&] { Parse(ReplaceLine(kReport, 43, &beyond)); }, "DATA_ERROR", {"output.txt:43:", "node 9"});
  const std::string ragged = "    4      7.00000000E-01  ";
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 43, &ragged)); }, "DATA_ERROR", {"output.txt:43:", "1 to 3 fields of 20"});
}

// A fourth field would land past the three axes of the node: it must be a
// failure naming the line, not a write beyond the node's reactions or a
// value that turns up as the next node's X reaction.
// See docs/decisions.md, 'The report is read strictly'.
TEST(Report, ReactionLineWithMoreThanThreeFieldsIsRefused) {
  const std::string four = "    1     -1.50000000E+00      2.00000000E+00     -3.00000000E+00      9.00000000E+00";
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 41, &four)); }, "DATA_ERROR", {"output.txt:41:", "1 to 3 fields of 20"});
  const std::string blank_fourth =
      "    1     -1.50000000E+00      2.00000000E+00     -3.00000000E+00" + std::string(20, ' ');
  ExpectFailure(
      [&] { Parse(ReplaceLine(kReport, 41, &blank_fourth)); }, "DATA_ERROR", {"output.txt:41:", "1 to 3 fields of 20"});
}

// --- A small XML reader for the documents' structure -----------------------

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attr;
  std::string text;  // character data directly inside the element
  std::vector<XmlElement> children;
};

// Parses the document; fails the test (and returns an empty root) unless
// every tag is closed in order and attributes are quoted.
class XmlReader {
 public:
  explicit XmlReader(const std::string& s) : s_(s) {}

  XmlElement parse() {
    skip_space();
    if (s_.compare(pos_, 5, "<?xml") == 0) pos_ = s_.find("?>", pos_) + 2;
    skip_space();
    XmlElement root = element();
    skip_space();
    EXPECT_EQ(pos_, s_.size()) << "text after the root element";
    return root;
  }

 private:
  void skip_space() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  std::string name() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_' ||
                                s_[pos_] == ':' || s_[pos_] == '-')) {
      ++pos_;
    }
    return s_.substr(start, pos_ - start);
  }
  XmlElement element() {
    XmlElement e;
    if (s_[pos_] != '<') {
      ADD_FAILURE() << "expected '<' at " << pos_;
      pos_ = s_.size();
      return e;
    }
    ++pos_;
    e.name = name();
    for (;;) {
      skip_space();
      if (s_.compare(pos_, 2, "/>") == 0) {
        pos_ += 2;
        return e;
      }
      if (s_[pos_] == '>') {
        ++pos_;
        break;
      }
      const std::string key = name();
      if (key.empty() || s_[pos_] != '=' || s_[pos_ + 1] != '"') {
        ADD_FAILURE() << "malformed attribute in <" << e.name << "> at " << pos_;
        pos_ = s_.size();
        return e;
      }
      const std::size_t end = s_.find('"', pos_ + 2);
      EXPECT_TRUE(e.attr.emplace(key, s_.substr(pos_ + 2, end - pos_ - 2)).second) << "repeated " << key;
      pos_ = end + 1;
    }
    for (;;) {
      const std::size_t lt = s_.find('<', pos_);
      if (lt == std::string::npos) {
        ADD_FAILURE() << "<" << e.name << "> is not closed";
        pos_ = s_.size();
        return e;
      }
      e.text += s_.substr(pos_, lt - pos_);
      pos_ = lt;
      if (s_.compare(pos_, 2, "</") == 0) {
        pos_ += 2;
        EXPECT_EQ(name(), e.name) << "closing tag out of order";
        EXPECT_EQ(s_[pos_], '>');
        ++pos_;
        return e;
      }
      e.children.push_back(element());
    }
  }

  std::string s_;
  std::size_t pos_ = 0;
};

const XmlElement* Child(const XmlElement& e, const std::string& name) {
  for (const auto& c : e.children) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

const XmlElement* ArrayNamed(const XmlElement& parent, const std::string& name) {
  for (const auto& c : parent.children) {
    if (c.name == "DataArray" && c.attr.count("Name") && c.attr.at("Name") == name) return &c;
  }
  return nullptr;
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> v;
  std::istringstream in(text);
  std::string w;
  while (in >> w) {
    double x = 0.0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), x);
    EXPECT_TRUE(ec == std::errc() && end == w.data() + w.size()) << "not a number: " << w;
    v.push_back(x);
  }
  return v;
}

std::vector<double> Flat(const std::vector<std::array<double, 3>>& v) {
  std::vector<double> f;
  for (const auto& x : v) f.insert(f.end(), x.begin(), x.end());
  return f;
}

TEST(Vtu, WellFormedWithCountsAndExactValues) {
  const viewer::Mesh mesh = SquareMesh();
  const Report r = Parse(kReport);
  const std::string doc = viewer::vtu_document(mesh, r);
  XmlReader reader(doc);
  const XmlElement root = reader.parse();
  ASSERT_EQ(root.name, "VTKFile");
  EXPECT_EQ(root.attr.at("type"), "UnstructuredGrid");
  const XmlElement* grid = Child(root, "UnstructuredGrid");
  ASSERT_NE(grid, nullptr);
  const XmlElement* piece = Child(*grid, "Piece");
  ASSERT_NE(piece, nullptr);
  EXPECT_EQ(piece->attr.at("NumberOfPoints"), "4");
  EXPECT_EQ(piece->attr.at("NumberOfCells"), "2");

  const XmlElement* points = Child(*piece, "Points");
  ASSERT_NE(points, nullptr);
  ASSERT_EQ(points->children.size(), 1u);
  EXPECT_EQ(Numbers(points->children[0].text), Flat(mesh.node));

  const XmlElement* pd = Child(*piece, "PointData");
  ASSERT_NE(pd, nullptr);
  ASSERT_NE(ArrayNamed(*pd, "displacement"), nullptr);
  EXPECT_EQ(ArrayNamed(*pd, "displacement")->attr.at("NumberOfComponents"), "3");
  EXPECT_EQ(Numbers(ArrayNamed(*pd, "displacement")->text), Flat(r.displacement));
  ASSERT_NE(ArrayNamed(*pd, "reaction"), nullptr);
  EXPECT_EQ(Numbers(ArrayNamed(*pd, "reaction")->text), Flat(r.reaction));

  const XmlElement* cd = Child(*piece, "CellData");
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "stress_1")->text), r.stress1);
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "stress_2")->text), r.stress2);
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "pressure")->text), mesh.pressure);

  const XmlElement* cells = Child(*piece, "Cells");
  ASSERT_NE(cells, nullptr);
  EXPECT_EQ(Numbers(ArrayNamed(*cells, "connectivity")->text), (std::vector<double>{0, 1, 2, 0, 2, 3}));
  EXPECT_EQ(Numbers(ArrayNamed(*cells, "offsets")->text), (std::vector<double>{3, 6}));
  EXPECT_EQ(Numbers(ArrayNamed(*cells, "types")->text), (std::vector<double>{5, 5}));
}

TEST(Vtu, CellArraysWrapAcrossRowsWithoutLosingValues) {
  // 13 elements: the scalar rows (6 per row) and offsets (10 per row)
  // break mid-array and end on a partial row.
  viewer::Mesh mesh;
  Report r;
  for (int k = 0; k < 15; ++k) {
    mesh.node.push_back({0.1 * k, std::pow(-1.0, k), 0.0});
    r.displacement.push_back({0.0, 0.0, 1e-300 * k});
    r.reaction.push_back({-0.0, 0.0, 0.0});
  }
  for (int e = 0; e < 13; ++e) {
    mesh.tri.push_back({e, e + 1, e + 2});
    mesh.pressure.push_back(1.0 / 3.0);
    r.stress1.push_back(1.0 / (e + 1.0));
    r.stress2.push_back(-std::ldexp(1.0, -e * 80));
  }
  XmlReader reader(viewer::vtu_document(mesh, r));
  const XmlElement root = reader.parse();
  const XmlElement& piece = root.children.at(0).children.at(0);
  const XmlElement* cd = Child(piece, "CellData");
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "stress_1")->text), r.stress1);  // shortest images read back exactly
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "stress_2")->text), r.stress2);
  EXPECT_EQ(Numbers(ArrayNamed(*Child(piece, "PointData"), "displacement")->text), Flat(r.displacement));
  const auto offsets = Numbers(ArrayNamed(*Child(piece, "Cells"), "offsets")->text);
  ASSERT_EQ(offsets.size(), 13u);
  EXPECT_EQ(offsets.back(), 39.0);
  // Every row, the partial last one too, is a line of its own, indented
  // under its array.
  const std::string doc = viewer::vtu_document(mesh, r);
  EXPECT_NE(doc.find("\n          0.3333333333333333\n        </DataArray>\n"), std::string::npos);         // pressure
  EXPECT_NE(doc.find("\n          33 36 39\n        </DataArray>\n"), std::string::npos);                   // offsets
  EXPECT_NE(doc.find("\n          5 5 5 5 5 5 5 5 5 5 5 5 5\n        </DataArray>\n"), std::string::npos);  // types
}

// --- The picture ------------------------------------------------------------

std::vector<const XmlElement*> Polygons(const XmlElement& svg) {
  std::vector<const XmlElement*> p;
  for (const auto& g : svg.children) {
    if (g.name == "g" && g.attr.count("id") && g.attr.at("id") == "membrane") {
      for (const auto& c : g.children) {
        if (c.name == "polygon") p.push_back(&c);
      }
    }
  }
  return p;
}

TEST(Svg, OneFilledPolygonPerElementInsideThePicture) {
  const std::string doc = viewer::svg_document(SquareMesh(), Parse(kReport));
  XmlReader reader(doc);
  const XmlElement svg = reader.parse();
  EXPECT_EQ(svg.name, "svg");
  const auto polys = Polygons(svg);
  ASSERT_EQ(polys.size(), 2u);
  for (const XmlElement* p : polys) {
    ASSERT_EQ(p->attr.at("fill").size(), 7u);
    EXPECT_EQ(p->attr.at("fill")[0], '#');
    const auto xy = Numbers([&] {
      std::string s = p->attr.at("points");
      std::replace(s.begin(), s.end(), ',', ' ');
      return s;
    }());
    ASSERT_EQ(xy.size(), 6u);
    for (std::size_t i = 0; i < 6; i += 2) {
      EXPECT_GE(xy[i], 0.0);
      EXPECT_LE(xy[i], 800.0);
      EXPECT_GE(xy[i + 1], 0.0);
      EXPECT_LE(xy[i + 1], 600.0);
    }
  }
  // Element 2 has the larger stress 1, so the top of the map: viridis yellow.
  std::vector<std::string> fills;
  for (const XmlElement* p : polys) fills.push_back(p->attr.at("fill"));
  EXPECT_NE(std::find(fills.begin(), fills.end(), "#fde725"), fills.end());
  EXPECT_NE(std::find(fills.begin(), fills.end(), "#440154"), fills.end());
  // The caption names the largest displacement (node 3, 0.5) and the size.
  EXPECT_NE(doc.find("Largest displacement 0.5 at node 3"), std::string::npos);
  EXPECT_NE(doc.find("4 nodes, 2 elements"), std::string::npos);
}

TEST(Svg, FartherTrianglesAreDrawnFirst) {
  // Two separate triangles, one high above the other: seen from above, the
  // high one is nearer and must be painted last, whatever the element order.
  viewer::Mesh mesh;
  mesh.node = {{0, 0, 5}, {1, 0, 5}, {0, 1, 5}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.tri = {{0, 1, 2}, {3, 4, 5}};
  mesh.pressure = {0.0, 0.0};
  Report r;
  r.displacement.assign(6, {0.0, 0.0, 0.0});
  r.reaction.assign(6, {0.0, 0.0, 0.0});
  r.position = mesh.node;
  r.stress1 = {1.0, 0.0};  // the high one yellow, the low one purple
  r.stress2 = {0.0, 0.0};
  XmlReader reader(viewer::svg_document(mesh, r));
  const XmlElement svg = reader.parse();  // Polygons points into it
  const auto polys = Polygons(svg);
  ASSERT_EQ(polys.size(), 2u);
  EXPECT_EQ(polys[0]->attr.at("fill"), "#440154");
  EXPECT_EQ(polys[1]->attr.at("fill"), "#fde725");
}

TEST(Svg, BoundaryOutlineHoldsOnlyOuterEdges) {
  // The unit square of two triangles: four outer edges, the diagonal shared.
  const std::string doc = viewer::svg_document(SquareMesh(), Parse(kReport));
  const std::size_t at = doc.find("id=\"outline\"");
  ASSERT_NE(at, std::string::npos);
  const std::string path = doc.substr(at, doc.find("/>", at) - at);
  EXPECT_EQ(std::count(path.begin(), path.end(), 'M'), 4);
}

TEST(Svg, SameInputSameBytes) {
  const Report r = Parse(kReport);
  EXPECT_EQ(viewer::svg_document(SquareMesh(), r), viewer::svg_document(SquareMesh(), r));
}

// --- A wrinkling model's states ------------------------------------------------

// The report of the square with element 1 wrinkled (its smaller stress
// exactly 0) and element 2 slack (both 0).
Report WrinklingReport() {
  Report r = Parse(kReport);
  r.stress2[0] = 0.0;
  r.stress1[1] = 0.0;
  r.stress2[1] = 0.0;
  return r;
}

viewer::Mesh WrinklingMesh() {
  viewer::Mesh m = SquareMesh();
  m.wrinkling = true;
  return m;
}

TEST(Wrinkles, StatesAreReadFromTheReportsExactZeros) {
  EXPECT_EQ(viewer::state_of(1.5, 0.0), viewer::kWrinkled);
  EXPECT_EQ(viewer::state_of(0.0, 0.0), viewer::kSlack);
  EXPECT_EQ(viewer::state_of(1.5, 1e-300), viewer::kTaut);
  EXPECT_EQ(viewer::state_of(1.5, -1e-9), viewer::kTaut);  // a compressed element: a model solved without wrinkling
  EXPECT_EQ(viewer::state_of(0.0, -1.0), viewer::kTaut);
}

// A triangle stretched by 1.3 along 30 degrees and shortened to 0.9 across,
// then turned in space: the tension line is the turned 30-degree direction.
TEST(Wrinkles, TensionLineIsTheDirectionOfTheLargestStretch) {
  const double c = std::cos(kPi / 6.0);
  const double s = std::sin(kPi / 6.0);
  const std::array<std::array<double, 3>, 3> p = {{{0.1, 0.0, 0.0}, {1.2, 0.3, 0.0}, {0.4, 0.9, 0.0}}};
  auto deform = [&](const std::array<double, 3>& x) {
    const double along = 1.3 * (x[0] * c + x[1] * s);
    const double across = 0.9 * (-x[0] * s + x[1] * c);
    const double u = along * c - across * s;
    const double v = along * s + across * c;
    return std::array<double, 3>{u, 0.6 * v, 0.8 * v};  // turned about X
  };
  const std::array<std::array<double, 3>, 3> q = {deform(p[0]), deform(p[1]), deform(p[2])};
  const std::array<double, 3> w = viewer::tension_line(p, q);
  const std::array<double, 3> want = {c, 0.6 * s, 0.8 * s};
  for (std::size_t j = 0; j < 3; ++j) EXPECT_NEAR(w[j], want[j], 1e-12) << j;
  const std::array<std::array<double, 3>, 3> line = {{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}};
  EXPECT_EQ(viewer::tension_line(line, line), (std::array<double, 3>{0.0, 0.0, 0.0}));
}

TEST(Vtu, WrinklingModelAddsStateAndWrinkleCellData) {
  const Report r = WrinklingReport();
  const std::string plain = viewer::vtu_document(SquareMesh(), r);
  EXPECT_EQ(plain.find("\"state\""), std::string::npos);
  EXPECT_EQ(plain.find("\"wrinkle\""), std::string::npos);
  XmlReader reader(viewer::vtu_document(WrinklingMesh(), r));
  const XmlElement root = reader.parse();
  const XmlElement* cd = Child(*Child(*Child(root, "UnstructuredGrid"), "Piece"), "CellData");
  ASSERT_NE(cd, nullptr);
  ASSERT_NE(ArrayNamed(*cd, "state"), nullptr);
  EXPECT_EQ(Numbers(ArrayNamed(*cd, "state")->text), (std::vector<double>{1, 2}));
  const XmlElement* wrinkle = ArrayNamed(*cd, "wrinkle");
  ASSERT_NE(wrinkle, nullptr);
  EXPECT_EQ(wrinkle->attr.at("NumberOfComponents"), "3");
  const std::vector<double> w = Numbers(wrinkle->text);
  ASSERT_EQ(w.size(), 6u);
  EXPECT_NEAR(std::hypot(w[0], w[1], w[2]), 1.0, 1e-15);
  EXPECT_EQ((std::vector<double>(w.begin() + 3, w.end())), (std::vector<double>{0, 0, 0}));
}

TEST(Svg, WrinklingModelShowsStatesWithALegend) {
  const Report r = WrinklingReport();
  const std::string plain = viewer::svg_document(SquareMesh(), r);
  EXPECT_EQ(plain.find("#d62728"), std::string::npos);
  EXPECT_EQ(plain.find("id=\"states\""), std::string::npos);
  const std::string doc = viewer::svg_document(WrinklingMesh(), r);
  XmlReader reader(doc);
  const XmlElement svg = reader.parse();
  std::vector<std::string> fills;
  for (const XmlElement* p : Polygons(svg)) fills.push_back(p->attr.at("fill"));
  EXPECT_NE(std::find(fills.begin(), fills.end(), "#c8c8c8"), fills.end()) << "no grey slack element";
  int hatches = 0;
  for (const auto& g : svg.children) {
    if (g.attr.count("id") && g.attr.at("id") == "membrane") {
      for (const auto& c : g.children) hatches += c.name == "path" && c.attr.at("stroke") == "#d62728";
    }
  }
  EXPECT_EQ(hatches, 1) << "the wrinkled element is not hatched";
  EXPECT_NE(doc.find("id=\"states\""), std::string::npos);
  EXPECT_NE(doc.find(">wrinkled</text>"), std::string::npos);
  EXPECT_NE(doc.find(">slack</text>"), std::string::npos);
}

// --- A model's gas chambers ------------------------------------------------------

const std::string kChambers =
    "-----------------------------------------------------------------------------------------\n"
    "Chamber              Volume            Pressure               Gauge    Reference Volume\n"
    "-----------------------------------------------------------------------------------------\n"
    "\n"
    "      1      1.53309809E-02      1.08801115E+05      7.47611513E+03      1.55851627E-02\n"
    "      2      2.00000000E+00      1.00000000E+05      1.00000000E+03      1.00000000E+00\n";

TEST(Chambers, ReadByNumberAndShownInTheGridAndTheCaption) {
  Report r = Parse(kReport);
  r.chambers = viewer::parse_chambers("chambers.txt", kChambers, 2);
  ASSERT_EQ(r.chambers.size(), 2u);
  EXPECT_EQ(r.chambers[0].gauge, 7.47611513E+03);
  EXPECT_EQ(r.chambers[1].reference, 1.0);
  XmlReader reader(viewer::vtu_document(SquareMesh(), r));
  const XmlElement root = reader.parse();
  const XmlElement* fd = Child(*Child(root, "UnstructuredGrid"), "FieldData");
  ASSERT_NE(fd, nullptr);
  ASSERT_NE(ArrayNamed(*fd, "chamber_gauge"), nullptr);
  EXPECT_EQ(ArrayNamed(*fd, "chamber_gauge")->attr.at("NumberOfTuples"), "2");
  EXPECT_EQ(Numbers(ArrayNamed(*fd, "chamber_volume")->text), (std::vector<double>{1.53309809E-02, 2.0}));
  const std::string svg = viewer::svg_document(SquareMesh(), r);
  EXPECT_NE(svg.find("Chamber 1: gauge pressure 7476, volume 0.01533 \xC2\xB7 Chamber 2: gauge pressure 1000"),
            std::string::npos);
  // Without chambers neither shows anything of them.
  const Report plain = Parse(kReport);
  EXPECT_EQ(viewer::vtu_document(SquareMesh(), plain).find("FieldData"), std::string::npos);
  EXPECT_EQ(viewer::svg_document(SquareMesh(), plain).find("Chamber"), std::string::npos);
}

TEST(Chambers, ATableOfAnotherModelIsRefusedNamingTheLine) {
  const auto fails = [](const std::string& text, int count, const std::string& part) {
    try {
      viewer::parse_chambers("chambers.txt", text, count);
    } catch (const platform::Failure& e) {
      return std::string(e.what()).find(part) != std::string::npos;
    }
    return false;
  };
  EXPECT_TRUE(fails(kChambers, 3, "chambers.txt:7: the file ends where the line of chamber 3"));
  EXPECT_TRUE(fails(kChambers, 1, "chambers.txt:6: the chamber table holds more than 1 chambers"));
  const std::string swapped = ReplaceLine(kChambers, 5, nullptr);
  EXPECT_TRUE(fails(swapped, 1, "chambers.txt:5: expected the line of chamber 1"));
  const std::string bad = "      1      nan      1      1      1";
  EXPECT_TRUE(fails(ReplaceLine(kChambers, 5, &bad), 2, "chambers.txt:5: value 1 of chamber 1 is not a finite number"));
  EXPECT_TRUE(fails("Chamber\n", 1, "chambers.txt:1: expected the rule above the chamber table heading"));
}

TEST(Colours, ViridisEndsAndMiddleAreThePublishedOnes) {
  EXPECT_EQ(viewer::viridis(0.0), (std::array<int, 3>{68, 1, 84}));
  EXPECT_EQ(viewer::viridis(0.5), (std::array<int, 3>{33, 144, 140}));
  EXPECT_EQ(viewer::viridis(1.0), (std::array<int, 3>{253, 231, 37}));
  EXPECT_EQ(viewer::viridis(-3.0), viewer::viridis(0.0));
  EXPECT_EQ(viewer::viridis(7.0), viewer::viridis(1.0));
  EXPECT_EQ(viewer::viridis(std::nan("")), viewer::viridis(0.0));
}

TEST(Colours, ViridisGrowsLighterAllTheWay) {
  // The map is perceptually ordered: its luminance rises monotonically.
  double previous = -1.0;
  for (int i = 0; i <= 256; ++i) {
    const auto c = viewer::viridis(i / 256.0);
    const double y = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    EXPECT_GT(y, previous - 0.5) << "at " << i;
    previous = y;
  }
}

TEST(Picture, EdgesFadeOutAsTheMeshGetsFine) {
  EXPECT_EQ(viewer::edge_strength(200.0), 1.0);  // ten elements
  EXPECT_EQ(viewer::edge_strength(20.0), 1.0);
  // Linear from 5 px (no edges) to 20 px (full edges).
  EXPECT_EQ(viewer::edge_strength(12.5), 0.5);
  EXPECT_EQ(viewer::edge_strength(8.0), 0.2);
  EXPECT_EQ(viewer::edge_strength(5.0), 0.0);
  EXPECT_EQ(viewer::edge_strength(3.0), 0.0);  // 100,000 elements
}

// See docs/decisions.md, 'Small displacements are magnified in the picture'.
TEST(Picture, MagnificationOnlyForSmallDisplacements) {
  EXPECT_EQ(viewer::magnification(0.5, 2.0), 1.0);
  EXPECT_EQ(viewer::magnification(0.0, 2.0), 1.0);
  EXPECT_EQ(viewer::magnification(0.07184, 2.0), 5.0);    // 5.57 wanted
  EXPECT_EQ(viewer::magnification(0.0001, 2.0), 2000.0);  // 4000 wanted: 2000 is the nice step below
  EXPECT_EQ(viewer::magnification(0.19, 2.0), 2.0);       // 2.1 wanted
  EXPECT_EQ(viewer::magnification(1e-3, 0.0), 1.0);       // a model of one point
  // The boundaries: a displacement of exactly a tenth of the size is drawn
  // at true scale; a wanted factor of exactly 5 (or 2, or 10) is taken.
  EXPECT_EQ(viewer::magnification(1.0, 10.0), 1.0);
  EXPECT_EQ(viewer::magnification(0.4, 10.0), 5.0);
  EXPECT_EQ(viewer::magnification(0.08, 2.0), 5.0);
  EXPECT_EQ(viewer::magnification(0.02, 1.0), 10.0);
}

// A uniformly stressed membrane has no range of stress to spread over the
// map: every triangle takes its middle colour and the bar one tick, the
// value itself.
TEST(Svg, UniformStressTakesTheMiddleColour) {
  Report r = Parse(kReport);
  r.stress1 = {0.75, 0.75};
  const std::string doc = viewer::svg_document(SquareMesh(), r);
  XmlReader reader(doc);
  const XmlElement svg = reader.parse();
  const auto polys = Polygons(svg);
  ASSERT_EQ(polys.size(), 2u);
  for (const XmlElement* p : polys) EXPECT_EQ(p->attr.at("fill"), "#21908c");  // viridis(0.5)
  EXPECT_NE(doc.find("y=\"274.5\">0.75</text>"), std::string::npos) << doc;
  EXPECT_EQ(doc.find("h5\""), doc.rfind("h5\""));  // one tick
}

// Node numbers just outside 1..nnode, at either end and at any vertex.
class ModelNodeRange : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(ModelNodeRange, ElementWithAnUnknownNodeIsRefused) {
  solver::analysis a;
  platform::TextReader in("input.txt",
                          std::string("p\n:\n0.1 20 0.001 0 100 3 5\nm\n:\n1000 0.3 0\nn\n:\n3\n\n1 0 0 0\n2 1 0 0\n"
                                      "3 0 1 0\ne\n:\n1\n\n1 ") +
                              GetParam().first + "\nc\n:\n0\nl\n:\n0\np\n:\n0\n");
  solver::input(a, in);
  ExpectFailure([&] { viewer::mesh_of(a); }, "DATA_ERROR", {GetParam().second});
}

INSTANTIATE_TEST_SUITE_P(Ends,
                         ModelNodeRange,
                         ::testing::Values(std::pair{"1 2 4", "input.txt: element 1 uses node 4 (valid 1..3)"},
                                           std::pair{"0 2 3", "input.txt: element 1 uses node 0 (valid 1..3)"},
                                           std::pair{"1 0 3", "input.txt: element 1 uses node 0 (valid 1..3)"},
                                           std::pair{"1 2 -1", "input.txt: element 1 uses node -1 (valid 1..3)"}));

}  // namespace
