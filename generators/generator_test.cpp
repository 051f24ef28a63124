// The generators' shared parts: the parameter reader against hostile and
// free-form files, and the model writer read back by the solvers' own
// reader.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "model/model_writer.h"
#include "generators/parameters.h"
#include "model/analysis.h"
#include "model/model.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

namespace fs = std::filesystem;
using platform::testing::ExpectFailure;
using platform::testing::FailureMessage;

// The model file holds seven significant digits.
constexpr double kImageTol = 5e-7;

std::string RefuseBelowTwo(std::int32_t n) { return n < 2 ? "at least 2 are needed" : ""; }
constexpr generator::MeshRecord kRecord{"count", "width", "the width", RefuseBelowTwo};

generator::Parameters Read(const std::string& text) {
  platform::TextReader in("p.txt", text);
  return generator::read_parameters(in, kRecord);
}

TEST(Parameters, MarkerRuleAndFreeFormNumbers) {
  // Numbers on a marker line are ignored; " :" is not a marker; empty and
  // header lines are skipped; a record may run over lines; text after the
  // last number of a record is ignored.
  const generator::Parameters p = Read(
      "title\n\n :  not a marker\n: 99 99.0\n  4\n\n 2.0  trailing words\n"
      "header\n:\n3e3\n0.25\n\n:\n-1.5E-2 Pa\nnever read: garbage");
  EXPECT_EQ(p.divisions, 4);
  EXPECT_EQ(p.size, 2.0);
  EXPECT_EQ(p.young, 3000.0);
  EXPECT_EQ(p.poisson, 0.25);
  EXPECT_EQ(p.pressure, -0.015);
}

// A refused value names the file, the line it stands on, the value and why.
struct Refusal {
  const char* text;
  const char* name;
  const char* message;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ParametersRefused : public ::testing::TestWithParam<Refusal> {};

TEST_P(ParametersRefused, NamesFileLineValueAndReason) {
  const Refusal& c = GetParam();
  EXPECT_EQ(FailureMessage([&] { Read(c.text); }, c.name), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Generator,
    ParametersRefused,
    ::testing::Values(
        Refusal{":\n1 1.0\n:\n1 0.3\n:\n1\n", "DATA_ERROR", "p.txt:2: count is 1; at least 2 are needed"},
        Refusal{":\n\n\n2\n0\n:\n1 0.3\n:\n1\n",
                "DATA_ERROR",
                "p.txt:5: width is 0.000000E+00; the width must be a positive finite number"},
        Refusal{":\n2 -0.0\n:\n1 0.3\n:\n1\n",
                "DATA_ERROR",
                "p.txt:2: width is 0.000000E+00; the width must be a positive finite number"},
        Refusal{":\n2 -3\n:\n1 0.3\n:\n1\n",
                "DATA_ERROR",
                "p.txt:2: width is -3.000000E+00; the width must be a positive finite number"},
        Refusal{":\n2 1e400\n:\n1 0.3\n:\n1\n",
                "DATA_ERROR",
                "p.txt:2: the real number \"1e400\" (width of the mesh record) is too large for a double"},
        Refusal{":\n2 1.0\n:\n1 0.3\n",
                "END_ERROR",
                "p.txt:5: the file ends before the marker line (a line beginning with ':') of the pressure section"}));

using ModelWriterRun = platform::testing::ScratchFolder;

// A model written with every kind of record, read back by the solvers'
// reader: what the generators write is what the solvers solve.
TEST_F(ModelWriterRun, SolversReadBackEveryValue) {
  generator::Controls c;
  c.maxminor = 150;
  const std::array<double, 3> far{-1.25e-3, 3.0e6, -0.0};
  {
    generator::ModelWriter w("input.txt");
    w.parameters(c);
    w.material(2.1e5, 0.45);
    w.nodes(4);
    w.node(1, far);
    w.node(2, " 1.000000E+00", "-2.500000E-01");
    w.node(3, {0.5, 0.5, 0.125});
    w.node(4, {0.0, 1.0, 0.0});
    w.elements(2);
    w.element(1, 1, 2, 3);
    w.element(2, 1, 3, 4);
    w.supports(2);
    w.support(1);
    w.support(4);
    w.finish(2, -0.5);
  }
  platform::TextReader in = platform::TextReader::open("input.txt");
  solver::analysis a;
  solver::input(a, in);
  EXPECT_EQ(a.lstol, 0.1);
  EXPECT_EQ(a.maxls, 20);
  EXPECT_EQ(a.mntol, 0.001);
  EXPECT_EQ(a.mnref, 0.0);
  EXPECT_EQ(a.maxminor, 150);
  EXPECT_EQ(a.maxlist, 3);
  EXPECT_EQ(a.maxmajor, 20);
  EXPECT_EQ(a.young, 2.1e5);
  EXPECT_EQ(a.poisson, 0.45);
  EXPECT_EQ(a.density, 0.0);
  ASSERT_EQ(a.nnode, 4);
  const double expected[4][3] = {{far[0], far[1], far[2]}, {1.0, -0.25, 0.0}, {0.5, 0.5, 0.125}, {0.0, 1.0, 0.0}};
  for (int k = 1; k <= 4; ++k) {
    const double* x = expected[k - 1];
    EXPECT_NEAR(a.coordx(k), x[0], kImageTol * std::abs(x[0])) << "node " << k;
    EXPECT_NEAR(a.coordy(k), x[1], kImageTol * std::abs(x[1])) << "node " << k;
    EXPECT_NEAR(a.coordz(k), x[2], kImageTol * std::abs(x[2])) << "node " << k;
  }
  ASSERT_EQ(a.nelem, 2);
  EXPECT_EQ(a.elem(1).node, (std::array<int, 3>{1, 2, 3}));
  EXPECT_EQ(a.elem(2).node, (std::array<int, 3>{1, 3, 4}));
  for (int e = 1; e <= 2; ++e) EXPECT_EQ(a.elem(e).pressure, -0.5) << "element " << e;
  for (int k = 1; k <= 4; ++k) {
    for (int axis = 1; axis <= 3; ++axis) {
      EXPECT_EQ(a.dof(k, axis), k == 1 || k == 4 ? 1 : 0) << "node " << k << " axis " << axis;
      EXPECT_EQ(a.displ(k, axis), 0.0);
      EXPECT_EQ(a.action(k, axis), 0.0);
    }
  }
}

// A writer dropped before finish() (a failure while generating) leaves the
// file of an earlier run as it was.
TEST_F(ModelWriterRun, UnfinishedModelLeavesTheEarlierFile) {
  {
    std::FILE* f = std::fopen("input.txt", "w");
    std::fputs("earlier\n", f);
    std::fclose(f);
  }
  {
    generator::ModelWriter w("input.txt");
    w.parameters(generator::Controls{});
    w.material(1.0, 0.3);
  }
  EXPECT_EQ(platform::read_file("input.txt"), "earlier\n");
  EXPECT_FALSE(fs::exists("input.txt.part"));
  ExpectFailure([] { generator::ModelWriter w("no/such/folder/input.txt"); }, "FILE_ERROR", {"input.txt"});
}

}  // namespace
