// The one writer of the model file: the canonical layout byte for byte,
// every value read back by the solvers' reader, and the images it keeps of
// repeated values against fresh ones.

#include "model/model_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "model/analysis.h"
#include "model/model.h"
#include "platform/number_image.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

using solver::model_file::Description;
using solver::model_file::Reals;

using ModelWriter = platform::testing::ScratchFolder;

// The square of two triangles of docs/model-file.md.
Description Example() {
  Description d;
  d.parameters.maxminor = 120;
  d.material = {1000.0, 0.3, 0.0};
  d.nodes = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  d.elements = {{1, 2, 3}, {1, 3, 4}};
  d.constraints = {{1, 1, 0.0}, {1, 2, 0.0}, {1, 3, 0.0}, {2, 2, 0.0}, {2, 3, 0.0}, {4, 3, 0.0}};
  d.loads = {{3, 3, -1.0}};
  d.pressures = {{1, 0.5}, {2, 0.5}};
  return d;
}

solver::analysis ReadBack(const std::string& file) {
  platform::TextReader in = platform::TextReader::open(file);
  solver::analysis a;
  solver::input(a, in);
  return a;
}

TEST_F(ModelWriter, WritesTheCanonicalLayoutOfTheIllustrativeModel) {
  solver::model_file::write(Example(), "input.txt");
  EXPECT_EQ(platform::read_file("input.txt"), platform::read_file(VELORA_TESTDATA "/model_example/input.txt"));
}

TEST_F(ModelWriter, AnEmptySectionIsItsCountLineAlone) {
  Description d = Example();
  d.constraints.clear();
  d.pressures.clear();
  solver::model_file::write(d, "input.txt");
  const std::string text = platform::read_file("input.txt");
  EXPECT_NE(
      text.find(" node      axis             displ\n:\n    0\n\n\n node      axis            action\n:\n    1\n\n"),
      std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with(" elem          pressure\n:\n    0\n")) << text;
}

// Every kind of record, with values the canonical images hold exactly,
// read back by the solvers' reader.
TEST_F(ModelWriter, SolversReadBackEveryValue) {
  Description d = Example();
  d.parameters = {0.25, 7, 1.0e-6, 2.5, 150, 5, 9};
  d.material = {2.1e5, 0.45, 1.5};
  d.nodes[0] = {-1.25e-3, 3.0e6, -0.0};
  d.constraints.push_back({3, 1, 0.125});
  d.loads.push_back({2, 1, 4.0});
  d.pressures = {{2, -0.5}};
  solver::model_file::write(d, "input.txt");
  const solver::analysis a = ReadBack("input.txt");
  EXPECT_EQ(a.lstol, 0.25);
  EXPECT_EQ(a.maxls, 7);
  EXPECT_EQ(a.mntol, 1.0e-6);
  EXPECT_EQ(a.mnref, 2.5);
  EXPECT_EQ(a.maxminor, 150);
  EXPECT_EQ(a.maxlist, 5);
  EXPECT_EQ(a.maxmajor, 9);
  EXPECT_EQ(a.young, 2.1e5);
  EXPECT_EQ(a.poisson, 0.45);
  EXPECT_EQ(a.density, 1.5);
  ASSERT_EQ(a.nnode, 4);
  for (int k = 1; k <= 4; ++k) {
    const auto& x = d.nodes[static_cast<std::size_t>(k - 1)];
    EXPECT_EQ(a.coordx(k), x[0]) << k;
    EXPECT_EQ(a.coordy(k), x[1]) << k;
    EXPECT_EQ(a.coordz(k), x[2]) << k;
  }
  ASSERT_EQ(a.nelem, 2);
  EXPECT_EQ(a.elem(2).node, (std::array<int, 3>{1, 3, 4}));
  EXPECT_EQ(a.dof(3, 1), 1);
  EXPECT_EQ(a.displ(3, 1), 0.125);
  EXPECT_EQ(a.dof(3, 2), 0);
  EXPECT_EQ(a.action(3, 3), -1.0);
  EXPECT_EQ(a.action(2, 1), 4.0);
  EXPECT_EQ(a.elem(1).pressure, 0.0);
  EXPECT_EQ(a.elem(2).pressure, -0.5);
}

// Seventeen digits give back every double; seven would not.
TEST_F(ModelWriter, ExactRealsReadBackAsThemselves) {
  Description d = Example();
  const double third = 1.0 / 3.0;
  const double tiny = std::nextafter(1.0e-300, 0.0);
  d.parameters.mnref = std::nextafter(2.0, 3.0);
  d.material.young = 1.0 - 1e-9;
  d.nodes[2] = {third, -third, tiny};
  d.loads = {{3, 3, -std::nextafter(1.0, 0.0)}};
  solver::model_file::write(d, "input.txt", Reals::exact);
  const solver::analysis a = ReadBack("input.txt");
  EXPECT_EQ(a.mnref, d.parameters.mnref);
  EXPECT_EQ(a.young, d.material.young);
  EXPECT_EQ(a.coordx(3), third);
  EXPECT_EQ(a.coordy(3), -third);
  EXPECT_EQ(a.coordz(3), tiny);
  EXPECT_EQ(a.action(3, 3), d.loads[0].value);

  solver::model_file::write(d, "canonical.txt");
  EXPECT_NE(ReadBack("canonical.txt").coordx(3), third);
}

// The writer formats each distinct value once and copies its image after
// that: with more distinct values than it keeps, repeated ones and a few
// that share their high bits, every image must be the one formatting gives.
TEST_F(ModelWriter, KeptImagesAreTheImagesOfTheirValues) {
  Description d = Example();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> any(-1.0e3, 1.0e3);
  d.nodes.clear();
  for (int k = 0; k < 200000; ++k) {
    const double lattice = static_cast<double>(k % 4001 - 2000) * 2.5e-4;
    d.nodes.push_back({lattice, any(rng), k % 3 == 0 ? 0.5 : -0.0});
  }
  solver::model_file::write(d, "input.txt");
  const std::string text = platform::read_file("input.txt");
  std::string expected;
  for (std::size_t k = 0; k < d.nodes.size(); ++k) {
    platform::append_integer(expected, static_cast<std::int64_t>(k + 1), 5);
    for (const double x : d.nodes[k]) {
      expected += "     ";
      platform::append_real(expected, x, 2, 6, 3);
    }
    expected += '\n';
  }
  const std::string head = " node           coord x           coord y           coord z\n:\n200000\n\n";
  const std::size_t at = text.find(head);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(text.compare(at + head.size(), expected.size(), expected), 0);
}

TEST_F(ModelWriter, AFileThatCannotBeCreatedIsAFileError) {
  platform::testing::ExpectFailure(
      [] { solver::model_file::write(Example(), "no/such/folder/input.txt"); }, "FILE_ERROR", {"input.txt"});
}

}  // namespace
