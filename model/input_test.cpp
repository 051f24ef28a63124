// The model file reader: free-form numbers, markers, counts, records by
// number, and the failures that name file, line, section and record.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "model/model.h"
#include "platform/failure.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

using platform::DataError;
using platform::EndError;
using platform::RangeError;
using solver::analysis;

// The seven sections of a small model (3 nodes, 1 element) in the canonical
// layout; tests change one section at a time.
struct ModelText {
  std::string parameters =
      "        lstol     maxls             mntol          "
      "   mnref  maxminor   maxlist  maxmajor\n"
      ":\n"
      " 1.000000E-01        20      1.000000E-03      "
      "0.000000E+00       120         3        20\n";
  std::string material =
      "        young           poisson           density\n"
      ":\n"
      " 1.000000E+03      3.000000E-01      2.000000E+00\n";
  std::string nodes =
      " node           coord x           coord y           coord z\n"
      ":\n"
      "    3\n"
      "\n"
      "    1      0.000000E+00      0.000000E+00      0.000000E+00\n"
      "    2      1.000000E+00      0.000000E+00      0.000000E+00\n"
      "    3      0.000000E+00      1.000000E+00      5.000000E-01\n";
  std::string elements =
      " elem      node      node      node\n"
      ":\n"
      "    1\n"
      "\n"
      "    1         1         2         3\n";
  std::string constraints =
      " node      axis             displ\n"
      ":\n"
      "    2\n"
      "\n"
      "    1         1      0.000000E+00\n"
      "    2         3      2.500000E-01\n";
  std::string loads =
      " node      axis            action\n"
      ":\n"
      "    1\n"
      "\n"
      "    3         3     -1.000000E+00\n";
  std::string pressures =
      " elem          pressure\n"
      ":\n"
      "    1\n"
      "\n"
      "    1      5.000000E-01\n";

  std::string extension;  // after the pressures, when not empty

  std::string text() const {
    return parameters + "\n\n" + material + "\n\n" + nodes + "\n\n" + elements + "\n\n" + constraints + "\n\n" + loads +
           "\n\n" + pressures + (extension.empty() ? "" : "\n\n" + extension);
  }
};

analysis read(const std::string& text) {
  platform::TextReader reader("input.txt", text);
  analysis a;
  solver::input(a, reader);
  return a;
}

// The message of the failure, of full name `name`, that reading text must
// raise.
std::string read_failure(const std::string& text, std::string_view name) {
  return platform::testing::FailureMessage([&] { read(text); }, name);
}

TEST(Input, ReadsTheIllustrativeModel) {
  platform::TextReader reader = platform::TextReader::open(VELORA_TESTDATA "/model_example/input.txt");
  analysis a;
  solver::input(a, reader);
  EXPECT_EQ(a.lstol, 0.1);
  EXPECT_EQ(a.maxls, 20);
  EXPECT_EQ(a.mntol, 0.001);
  EXPECT_EQ(a.mnref, 0.0);
  EXPECT_EQ(a.maxminor, 120);
  EXPECT_EQ(a.maxlist, 3);
  EXPECT_EQ(a.maxmajor, 20);
  EXPECT_EQ(a.young, 1000.0);
  EXPECT_EQ(a.poisson, 0.3);
  EXPECT_EQ(a.density, 0.0);
  ASSERT_EQ(a.nnode, 4);
  EXPECT_EQ(a.coordx(3), 1.0);
  EXPECT_EQ(a.coordy(3), 1.0);
  EXPECT_EQ(a.coordx(4), 0.0);
  EXPECT_EQ(a.coordy(4), 1.0);
  ASSERT_EQ(a.nelem, 2);
  EXPECT_EQ(a.elem(2).node, (std::array<int, 3>{1, 3, 4}));
  // Constraint marks: node 1 all, node 2 Y and Z, node 4 Z.
  const int marks[4][3] = {{1, 1, 1}, {0, 1, 1}, {0, 0, 0}, {0, 0, 1}};
  for (int k = 1; k <= 4; ++k) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a.dof(k, j), marks[k - 1][j - 1]) << k << "," << j;
  }
  EXPECT_EQ(a.action(3, 3), -1.0);
  EXPECT_EQ(a.action(3, 2), 0.0);
  EXPECT_EQ(a.elem(1).pressure, 0.5);
  EXPECT_EQ(a.elem(2).pressure, 0.5);
}

TEST(Input, StoresConstraintsLoadsAndPressures) {
  const analysis a = read(ModelText{}.text());
  EXPECT_EQ(a.density, 2.0);
  EXPECT_EQ(a.coordz(3), 0.5);
  EXPECT_EQ(a.dof(1, 1), 1);
  EXPECT_EQ(a.dof(2, 3), 1);
  EXPECT_EQ(a.dof(2, 1), 0);
  EXPECT_EQ(a.displ(2, 3), 0.25);
  EXPECT_EQ(a.displ(1, 2), 0.0);
  EXPECT_EQ(a.action(3, 3), -1.0);
  EXPECT_EQ(a.elem(1).pressure, 0.5);
  EXPECT_EQ(a.dof.rows(), 3);
  EXPECT_EQ(a.action.rows(), 3);
}

TEST(Input, MntolOfZeroOrLessIsReadAsOneThousandth) {
  for (const char* value : {"0.0", "-2.5E-01", "0"}) {
    ModelText m;
    m.parameters = ":\n 0.1 20 " + std::string(value) + " 0.0 120 3 20\n";
    EXPECT_EQ(read(m.text()).mntol, 0.001) << value;
  }
  ModelText m;
  m.parameters = ":\n 0.1 20 5e-2 0.0 120 3 20\n";
  EXPECT_EQ(read(m.text()).mntol, 0.05);
}

TEST(Input, MarkerIsALineBeginningWithAColon) {
  ModelText m;
  // A label that begins with a colon is itself the marker; text after the
  // colon is ignored. A colon after blanks is not a marker.
  m.material = "  : not a marker\n: young poisson density\n 1000 0.3 2\n";
  const analysis a = read(m.text());
  EXPECT_EQ(a.young, 1000.0);
  EXPECT_EQ(a.poisson, 0.3);
}

TEST(Input, NumbersAreFreeForm) {
  ModelText m;
  // Empty lines between marker and numbers, a record spread over lines,
  // tabs, exponents, and text after the last number of a record or count.
  m.material = "label\n\n\n:\n\n\n\t1.0e3\n  3E-1   \n 2 trailing words\n";
  m.nodes =
      ":\n 3 nodes follow\nignored line 1 2 3\n"
      "1 0 0 0 first\n"
      "2\n1.0\n0\n0\n"
      "3 0 1 +0.5\n";
  const analysis a = read(m.text());
  EXPECT_EQ(a.young, 1000.0);
  EXPECT_EQ(a.poisson, 0.3);
  EXPECT_EQ(a.density, 2.0);
  EXPECT_EQ(a.coordx(2), 1.0);
  EXPECT_EQ(a.coordz(3), 0.5);
}

TEST(Input, RecordsAreStoredByTheirNumberAndLaterOnesOverwrite) {
  ModelText m;
  // Nodes and elements in any order. (A node or element given twice leaves
  // another without a record, which is a failure of its own.)
  m.nodes = ":\n 3\n\n 3 0 1 0.5\n 1 9 8 7\n 2 1 0 0\n";
  m.elements = ":\n 2\n\n 2 3 2 1\n 1 1 2 3\n";
  m.constraints = ":\n 3\n\n 2 3 0.25\n 1 1 0.0\n 2 3 0.75\n";
  m.loads = ":\n 3\n\n 3 3 -1.0\n 3 3 -2.0\n 1 2 4.0\n";
  m.pressures = ":\n 3\n\n 1 0.5\n 2 1.0\n 1 0.125\n";
  const analysis a = read(m.text());
  EXPECT_EQ(a.coordx(1), 9.0);
  EXPECT_EQ(a.coordz(1), 7.0);
  EXPECT_EQ(a.coordx(2), 1.0);
  EXPECT_EQ(a.coordz(3), 0.5);
  EXPECT_EQ(a.elem(1).node, (std::array<int, 3>{1, 2, 3}));
  EXPECT_EQ(a.elem(2).node, (std::array<int, 3>{3, 2, 1}));
  EXPECT_EQ(a.displ(2, 3),
            0.75);  // the component counts once, with the later value
  EXPECT_EQ(a.dof(2, 3), 1);
  EXPECT_EQ(a.action(3, 3), -2.0);  // replaced, not added
  EXPECT_EQ(a.action(1, 2), 4.0);
  EXPECT_EQ(a.elem(1).pressure, 0.125);
  EXPECT_EQ(a.elem(2).pressure, 1.0);
}

TEST(Input, CountsOfZero) {
  ModelText m;
  m.nodes = ":\n    0\nthe one skipped line\n";
  m.elements = ":\n    0\nthe one skipped line\n";
  // After a zero count of the last three sections nothing is skipped: the
  // lines up to the next marker are preamble.
  m.constraints = ":\n    0\n";
  m.loads = ":\n    0\n";
  m.pressures = ":\n    0\n";
  const analysis a = read(m.text());
  EXPECT_EQ(a.nnode, 0);
  EXPECT_EQ(a.nelem, 0);
  EXPECT_TRUE(a.coordx.empty());
  EXPECT_TRUE(a.elem.empty());
  EXPECT_TRUE(a.dof.empty());
  EXPECT_TRUE(a.action.empty());
}

TEST(Input, NegativeCountsGiveEmptyTables) {
  ModelText m;
  m.nodes = ":\n   -2\n\n";
  m.elements = ":\n   -1\n\n";
  m.constraints = ":\n   -3\n";
  m.loads = ":\n   -3\n";
  m.pressures = ":\n   -3\n";
  const analysis a = read(m.text());
  EXPECT_EQ(a.nnode, 0);
  EXPECT_EQ(a.nelem, 0);
  EXPECT_TRUE(a.coordx.empty());
  EXPECT_TRUE(a.displ.empty());
}

TEST(Input, TheLineAfterACountIsSkippedUnread) {
  ModelText m;
  // The first record stands on the line that is skipped: the reader takes
  // the next records as the first ones and runs into the next label.
  m.nodes =
      ":\n    3\n"
      "    1      0.000000E+00      0.000000E+00      0.000000E+00\n"
      "    2      1.000000E+00      0.000000E+00      0.000000E+00\n"
      "    3      0.000000E+00      1.000000E+00      5.000000E-01\n";
  const std::string message = read_failure(m.text(), "DATA_ERROR");
  EXPECT_NE(message.find("node number of node record 3"), std::string::npos) << message;
  EXPECT_NE(message.find("\"elem\""), std::string::npos) << message;
}

TEST(Input, FailuresNameFileLineAndRecord) {
  ModelText m;
  m.nodes = ":\n 3\n\n1 0 0 0\n2 1,0 0 0\n3 0 1 0\n";
  // Line 15 of the file: 3 parameter lines, 2 empty, 3 material, 2 empty,
  // marker, count, skipped line, record 1, record 2.
  const std::string message = read_failure(m.text(), "DATA_ERROR");
  EXPECT_EQ(message.rfind("input.txt:15: ", 0), 0u) << message;
  EXPECT_NE(message.find("coord x of node record 2"), std::string::npos) << message;

  ModelText few;
  few.parameters = ":\n 0.1 20 0.001 0.0 120 3\n";
  const std::string early = read_failure(few.text(), "DATA_ERROR");
  EXPECT_NE(early.find("maxmajor of the parameters record"), std::string::npos) << early;
}

TEST(Input, FewerSectionsThanSevenIsAnEndFailure) {
  ModelText m;
  const std::string text = m.parameters + m.material + m.nodes + m.elements;
  const std::string message = read_failure(text, "END_ERROR");
  EXPECT_NE(message.find("constraints section"), std::string::npos) << message;
}

// A complete model without a final line end is read.
// See docs/decisions.md, 'A last line without a line end'.
TEST(InputDecisions, LastLineWithoutLineEndIsRead) {
  ModelText m;
  std::string text = m.text();
  ASSERT_EQ(text.back(), '\n');
  text.pop_back();
  const analysis a = read(text);
  EXPECT_EQ(a.elem(1).pressure, 0.5);

  // A count line that ends the file likewise.
  m.pressures = ":\n    0";
  EXPECT_EQ(read(m.text()).elem(1).pressure, 0.0);

  // But a file cut off inside a record still ends too early.
  ModelText cut;
  cut.pressures = ":\n    1\n\n    1";
  const std::string message = read_failure(cut.text(), "END_ERROR");
  EXPECT_NE(message.find("pressure of pressure record 1"), std::string::npos) << message;
}

// Carriage returns before line feeds belong to the line end.
// See docs/decisions.md, 'Carriage returns before line feeds'.
TEST(InputDecisions, CarriageReturnLineEndsReadTheSame) {
  ModelText m;
  const std::string lf = m.text();
  std::string crlf;
  for (const char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  const analysis a = read(lf);
  const analysis b = read(crlf);
  EXPECT_EQ(b.young, a.young);
  EXPECT_EQ(b.coordz(3), a.coordz(3));
  EXPECT_EQ(b.displ(2, 3), a.displ(2, 3));
  EXPECT_EQ(b.action(3, 3), a.action(3, 3));
  EXPECT_EQ(b.elem(1).pressure, a.elem(1).pressure);
  EXPECT_EQ(b.maxmajor, a.maxmajor);
}

// Every node and element number needs a record; pressure does not.
// See docs/decisions.md, 'Nodes and elements without a record'.
TEST(InputDecisions, NumbersWithoutARecordAreDataFailures) {
  ModelText m;
  m.nodes = ":\n 3\n\n 1 0 0 0\n 3 0 1 0\n 1 0 0 0\n";
  EXPECT_NE(read_failure(m.text(), "DATA_ERROR").find("node 2 has no record in the nodes section"), std::string::npos);

  ModelText e;
  e.elements = ":\n 2\n\n 2 1 2 3\n 2 1 2 3\n";
  e.pressures = ":\n 0\n";
  EXPECT_NE(read_failure(e.text(), "DATA_ERROR").find("element 1 has no record in the elements section"),
            std::string::npos);

  ModelText p;
  p.elements = ":\n 2\n\n 1 1 2 3\n 2 3 2 1\n";
  const analysis a = read(p.text());
  EXPECT_EQ(a.elem(1).pressure, 0.5);
  EXPECT_EQ(a.elem(2).pressure, 0.0);
}

// A count the rest of the file cannot hold fails before any table is created.
// See docs/decisions.md, 'Counts the file cannot hold'.
TEST(InputDecisions, CorruptCountIsAnEndFailureNotAnAllocation) {
  ModelText m;
  m.nodes = ":\n 2000000000\n\n 1 0 0 0\n";
  const std::string message = read_failure(m.text(), "END_ERROR");
  EXPECT_NE(message.find("nodes section announces 2000000000 records"), std::string::npos) << message;

  ModelText e;
  e.elements = ":\n 2147483647\n\n 1 1 2 3\n";
  EXPECT_NE(read_failure(e.text(), "END_ERROR").find("elements section"), std::string::npos);

  ModelText l;
  l.loads = ":\n 1000000\n\n 3 3 -1.0\n";
  EXPECT_NE(read_failure(l.text(), "END_ERROR").find("loads section"), std::string::npos);

  // A count that fits exactly in the smallest records is accepted.
  ModelText tight;
  tight.pressures = ":\n 1\n\n1 5";
  EXPECT_EQ(read(tight.text()).elem(1).pressure, 5.0);
  // One character fewer (no line after the count) still passes the count
  // check, which only refuses what the records cannot fit into; the record
  // line is then skipped as that line, and the file ends where the record
  // was expected.
  ModelText short_by_one;
  short_by_one.pressures = ":\n 1\n1 5";
  EXPECT_EQ(read_failure(short_by_one.text(), "END_ERROR"),
            "input.txt:44: the file ends where an integer (element number of pressure record 1) was expected");
}

// Numbers selecting a table row or an axis are range-checked and the failure
// says which record of which section.
// See docs/decisions.md, 'Out-of-range numbers name their record'.
struct OutOfRange {
  std::string ModelText::*section;  // the section replaced by content
  std::string content;
  std::string expected;  // part of the message
};

void PrintTo(const OutOfRange& c, std::ostream* os) { *os << c.expected; }

class InputOutOfRange : public ::testing::TestWithParam<OutOfRange> {};

TEST_P(InputOutOfRange, NamesTheRecordAndSection) {
  const OutOfRange& c = GetParam();
  ModelText m;
  m.*(c.section) = c.content;
  const std::string message = read_failure(m.text(), "RANGE_ERROR");
  EXPECT_NE(message.find(c.expected), std::string::npos) << message;
  EXPECT_EQ(message.rfind("input.txt:", 0), 0u) << message;
}

INSTANTIATE_TEST_SUITE_P(
    InputDecisions,
    InputOutOfRange,
    ::testing::Values(
        OutOfRange{&ModelText::nodes,
                   ":\n 3\n\n 1 0 0 0\n 4 0 0 0\n 3 0 1 0\n",
                   "node record 2 of the nodes section names node 4, outside 1..3"},
        OutOfRange{&ModelText::nodes, ":\n 3\n\n 0 0 0 0\n", "node record 1 of the nodes section names node 0"},
        OutOfRange{&ModelText::elements,
                   ":\n 1\n\n 2 1 2 3\n",
                   "element record 1 of the elements section names element 2, outside 1..1"},
        OutOfRange{&ModelText::constraints,
                   ":\n 2\n\n 1 1 0.0\n 2 4 0.0\n",
                   "constraint record 2 of the constraints section names axis 4, outside 1..3"},
        OutOfRange{&ModelText::constraints,
                   ":\n 1\n\n 5 1 0.0\n",
                   "constraint record 1 of the constraints section names node 5"},
        OutOfRange{&ModelText::loads, ":\n 1\n\n 3 0 -1.0\n", "load record 1 of the loads section names axis 0"},
        OutOfRange{&ModelText::loads, ":\n 1\n\n -1 1 -1.0\n", "load record 1 of the loads section names node -1"},
        OutOfRange{
            &ModelText::pressures, ":\n 1\n\n 7 1.0\n", "pressure record 1 of the pressures section names element 7"}));

// ---------------------------------------------------------------- extension

// The model with four elements (on the same nodes: the reader does not
// look at them) and the given extension.
ModelText WithExtension(const std::string& extension) {
  ModelText m;
  m.elements = ":\n 4\n\n 1 1 2 3\n 2 1 2 3\n 3 1 2 3\n 4 1 2 3\n";
  m.extension = extension;
  return m;
}

// The line of the file on which the extension's line `k` (from 1) stands.
int ExtensionLine(int k) {
  const std::string base = WithExtension("").text();
  return static_cast<int>(std::count(base.begin(), base.end(), '\n')) + 2 + k;
}

TEST(InputExtension, EverySectionInAnyOrderIsKeptAsRead) {
  const analysis a = read(WithExtension(" chambers first\n:chambers\n 2\n\n"
                                        " 2 1.4 1.0e5 250 0 0 0 -1\n"
                                        " 1 1 1.0e5 -10 3.5 0 0 0\n"
                                        "\n:enclosures\n 2\n\n 3 4 1\n 1 2 2\n"
                                        ":wrinkling trailing words\n  on   rest\n"
                                        ":prestress\n 2\n\n 2 3 1.5 0.5 1 0 0\n 4 4 2 2 0 0 0\n"
                                        "comment lines after the last record\n")
                              .text());
  EXPECT_TRUE(a.wrinkling);
  EXPECT_EQ(a.extension.wrinkling, true);
  ASSERT_EQ(a.extension.prestress.size(), 2u);
  const solver::PrestressRange& p = a.extension.prestress[0];
  EXPECT_EQ(p.first, 2);
  EXPECT_EQ(p.last, 3);
  EXPECT_EQ(p.n1, 1.5);
  EXPECT_EQ(p.n2, 0.5);
  EXPECT_EQ(p.direction, (std::array<double, 3>{1, 0, 0}));
  EXPECT_EQ(p.line, ExtensionLine(18));  // kept for the messages of the set-up
  EXPECT_EQ(a.extension.prestress[1].first, 4);
  ASSERT_EQ(a.extension.chambers.size(), 2u);
  const solver::Chamber& c = a.extension.chambers[0];
  EXPECT_EQ(c.number, 2);
  EXPECT_EQ(c.kappa, 1.4);
  EXPECT_EQ(c.ambient, 1.0e5);
  EXPECT_EQ(c.gauge, 250.0);
  EXPECT_EQ(c.volume, 0.0);
  EXPECT_EQ(c.origin, (std::array<double, 3>{0, 0, -1}));
  EXPECT_EQ(a.extension.chambers[1].volume, 3.5);
  ASSERT_EQ(a.extension.enclosures.size(), 2u);
  EXPECT_EQ(a.extension.enclosures[1].first, 1);
  EXPECT_EQ(a.extension.enclosures[1].last, 2);
  EXPECT_EQ(a.extension.enclosures[1].chamber, 2);
  // The seven sections read as before.
  EXPECT_EQ(a.elem(1).pressure, 0.5);
  EXPECT_EQ(a.action(3, 3), -1.0);
}

TEST(InputExtension, NoneIsEmptyAndWrinklingOffIsKeptApartFromNone) {
  const analysis none = read(ModelText{}.text());
  EXPECT_TRUE(none.extension.empty());
  EXPECT_FALSE(none.wrinkling);
  const analysis off = read(WithExtension(":wrinkling\noff\n").text());
  EXPECT_EQ(off.extension.wrinkling, false);
  EXPECT_FALSE(off.extension.empty());
  EXPECT_FALSE(off.wrinkling);
  // Counts of zero or less hold no records; no line is skipped after them.
  const analysis empty = read(WithExtension(":prestress\n    0\n:chambers\n   -2\n:enclosures\n 0").text());
  EXPECT_TRUE(empty.extension.empty());
}

// Lines after the last pressure record that begin with no colon are still
// ignored; one that begins with a colon now opens an extension section.
// See docs/decisions.md, 'A marker line after the pressures opens an extension section'.
TEST(InputDecisions, AMarkerLineAfterThePressuresOpensAnExtensionSection) {
  ModelText m;
  m.extension = "notes on the model\n  : an indented colon is no marker\n\n";
  EXPECT_TRUE(read(m.text()).extension.empty());
  m.extension += ": the pressures were measured\n";
  const std::string message = read_failure(m.text(), "DATA_ERROR");
  EXPECT_NE(message.find("a marker line without a keyword after the pressures section"), std::string::npos) << message;
}

// A failure of the extension names file, line, record and what was
// expected. `line` is the line of the extension (from 1) it names.
struct ExtensionFault {
  const char* name;
  std::string extension;
  const char* full_name;
  int line;
  std::string expected;  // part of the message
};

void PrintTo(const ExtensionFault& c, std::ostream* os) { *os << c.name; }

class InputExtensionFault : public ::testing::TestWithParam<ExtensionFault> {};

TEST_P(InputExtensionFault, NamesLineRecordAndWhatWasExpected) {
  const ExtensionFault& c = GetParam();
  const std::string message = read_failure(WithExtension(c.extension).text(), c.full_name);
  EXPECT_EQ(message.rfind("input.txt:" + std::to_string(ExtensionLine(c.line)) + ": ", 0), 0u) << message;
  EXPECT_NE(message.find(c.expected), std::string::npos) << message;
}

const std::string kChamber = ":chambers\n 1\n\n 1 1.4 1.0e5 250 0 0 0 0\n";
const std::string kEnclosure = ":enclosures\n 1\n\n 1 4 1\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Faults,
    InputExtensionFault,
    ::testing::Values(
        ExtensionFault{"UnknownKeyword", " label\n:prestres\n", "DATA_ERROR", 2,
                       "the marker line of an unknown section \":prestres\" after the pressures section; an extension "
                       "section begins with \":wrinkling\", \":prestress\", \":chambers\" or \":enclosures\""},
        ExtensionFault{"NoKeyword", ":\n", "DATA_ERROR", 1, "a marker line without a keyword"},
        ExtensionFault{"BlankBeforeKeyword", ": wrinkling\non\n", "DATA_ERROR", 1, "a marker line without a keyword"},
        ExtensionFault{"SectionTwice", ":wrinkling\non\n\n:wrinkling\noff\n", "DATA_ERROR", 4,
                       "a second :wrinkling section; the first begins on line " + std::to_string(ExtensionLine(1))},
        ExtensionFault{"WrinklingNotAWord", ":wrinkling\n1\n", "DATA_ERROR", 2,
                       "expected \"on\" or \"off\" (wrinkling of the wrinkling record), found \"1\""},
        ExtensionFault{"WrinklingOtherWord", ":wrinkling\n\n yes\n", "DATA_ERROR", 3, "found \"yes\""},
        ExtensionFault{"WrinklingMissing", ":wrinkling\n", "END_ERROR", 2, "the file ends where \"on\" or \"off\""},
        ExtensionFault{"PrestressCountTooLarge", ":prestress\n 1000000\n\n 1 1 1 1 0 0 0\n", "END_ERROR", 2,
                       "the prestress section announces 1000000 records"},
        ExtensionFault{"PrestressElementZero", ":prestress\n 1\n\n 0 1 1 1 0 0 0\n", "RANGE_ERROR", 4,
                       "prestress record 1 of the prestress section names element 0, outside 1..4"},
        ExtensionFault{"PrestressBeyondTheElements", ":prestress\n 1\n\n 1\n 5 1 1 0 0 0\n", "RANGE_ERROR", 5,
                       "names element 5, outside 1..4"},
        ExtensionFault{"PrestressReversed", ":prestress\n 1\n\n 3 2 1 1 0 0 0\n", "DATA_ERROR", 4,
                       "prestress record 1 of the prestress section runs from element 3 to element 2; expected first <= last"},
        ExtensionFault{"PrestressOverlap", ":prestress\n 3\n\n 3 4 1 1 0 0 0\n 1 1 1 1 0 0 0\n 2 3 1 1 0 0 0\n", "DATA_ERROR", 6,
                       "prestress record 3 of the prestress section (elements 2..3) overlaps prestress record 1 "
                       "(elements 3..4, line " + std::to_string(ExtensionLine(4)) + "): an element takes one prestress"},
        ExtensionFault{"AnisotropicWithoutDirection", ":prestress\n 1\n\n 1 4 2 1 0 0 0\n", "DATA_ERROR", 4,
                       "n1 (2.000000E+00) and n2 (1.000000E+00) differ, so the direction of n1 may not be 0 0 0"},
        ExtensionFault{"PrestressNotANumber", ":prestress\n 1\n\n 1 4 2 1 0 0 x\n", "DATA_ERROR", 4,
                       "dir z of prestress record 1"},
        ExtensionFault{"ChamberBeyondTheCount", ":chambers\n 1\n\n 2 1.4 1.0e5 250 0 0 0 0\n" + kEnclosure, "RANGE_ERROR", 4,
                       "chamber record 1 of the chambers section names chamber 2, outside 1..1"},
        ExtensionFault{"ChamberTwice", ":chambers\n 2\n\n 1 1.4 1.0e5 250 0 0 0 0\n 1 1 1 0 0 0 0 0\n", "DATA_ERROR", 5,
                       "chamber record 2 of the chambers section names chamber 1 again (chamber record 1, line " +
                       std::to_string(ExtensionLine(4)) + ")"},
        ExtensionFault{"KappaBelowOne", ":chambers\n 1\n\n 1 0.9 1.0e5 250 0 0 0 0\n", "DATA_ERROR", 4,
                       "kappa of chamber record 1 of the chambers section is 9.000000E-01; expected at least 1"},
        ExtensionFault{"AmbientZero", ":chambers\n 1\n\n 1 1 0 250 0 0 0 0\n", "DATA_ERROR", 4,
                       "ambient of chamber record 1 of the chambers section is 0.000000E+00; expected a positive absolute pressure"},
        ExtensionFault{"AbsolutePressureZero", ":chambers\n 1\n\n 1 1 1.0e5 -1.0e5 0 0 0 0\n", "DATA_ERROR", 4,
                       "gauge of chamber record 1 of the chambers section is -1.000000E+05; expected an absolute pressure"},
        ExtensionFault{"VolumeNegative", ":chambers\n 1\n\n 1 1 1.0e5 0 -2 0 0 0\n", "DATA_ERROR", 4,
                       "volume of chamber record 1 of the chambers section is -2.000000E+00; expected a positive reference volume"},
        ExtensionFault{"ChambersWithoutEnclosures", " label\n" + kChamber, "DATA_ERROR", 2,
                       "the :chambers section declares 1 chambers, but no enclosure record gives the elements that bound them"},
        ExtensionFault{"EnclosuresWithoutChambers", kEnclosure, "DATA_ERROR", 1,
                       "the :enclosures section names chambers, but no chamber record declares them"},
        ExtensionFault{"EnclosureOfNoChamber", ":enclosures\n 2\n\n 1 2 1\n 3 4 2\n" + kChamber,
                       "RANGE_ERROR", 5, "enclosure record 2 of the enclosures section names chamber 2, outside 1..1"},
        ExtensionFault{"EnclosuresOverlap", ":enclosures\n 2\n\n 1 2 1\n 2 4 1\n" + kChamber, "DATA_ERROR", 5,
                       "(elements 2..4) overlaps enclosure record 1 (elements 1..2, line " + std::to_string(ExtensionLine(4)) +
                       "): an element bounds at most one chamber"},
        ExtensionFault{"EnclosureBeyondTheElements", ":enclosures\n 1\n\n 1 7 1\n" + kChamber, "RANGE_ERROR", 4,
                       "enclosure record 1 of the enclosures section names element 7, outside 1..4"},
        ExtensionFault{"ChamberWithoutElements", ":chambers\n 2\n\n 1 1.4 1.0e5 250 0 0 0 0\n 2 1 1 0 0 0 0 0\n" + kEnclosure,
                       "DATA_ERROR", 5, "chamber 2 (chamber record 2 of the chambers section) has no elements"}),
    [](const ::testing::TestParamInfo<ExtensionFault>& i) { return std::string(i.param.name); });
// clang-format on

TEST(Input, MissingFileIsAFileFailure) {
  EXPECT_THROW(platform::TextReader::open("no-such-dir/input.txt"), platform::FileError);
}

}  // namespace
