// The generators' shared parts: the parameter reader against hostile and
// free-form files, and the model every generator writes.

#include <gtest/gtest.h>

#include <string>

#include "generators/generated_model.h"
#include "generators/parameters.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

using platform::testing::FailureMessage;

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

// The model every generator writes: its supports held in X, Y and Z, the
// pressure on every element, no self-weight, the controls as given.
TEST(GeneratedModel, HoldsTheSupportsAndPressesEveryElement) {
  generator::Membrane m;
  m.young = 2.0e5;
  m.poisson = 0.25;
  m.pressure = -0.5;
  m.controls.maxminor = 90;
  const solver::model_file::Description d =
      generator::generated_model(m, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{1, 2, 3}, {3, 2, 1}}, {3, 1});
  EXPECT_EQ(d.parameters.maxminor, 90);
  EXPECT_EQ(d.parameters.lstol, 0.1);
  EXPECT_EQ(d.material.young, 2.0e5);
  EXPECT_EQ(d.material.poisson, 0.25);
  EXPECT_EQ(d.material.density, 0.0);
  ASSERT_EQ(d.constraints.size(), 6u);
  for (std::size_t r = 0; r < 6; ++r) {
    EXPECT_EQ(d.constraints[r].node, r < 3 ? 3 : 1) << r;
    EXPECT_EQ(d.constraints[r].axis, static_cast<std::int32_t>(r % 3) + 1) << r;
    EXPECT_EQ(d.constraints[r].value, 0.0) << r;
  }
  EXPECT_TRUE(d.loads.empty());
  ASSERT_EQ(d.pressures.size(), 2u);
  EXPECT_EQ(d.pressures[1].element, 2);
  EXPECT_EQ(d.pressures[1].value, -0.5);
}

}  // namespace
