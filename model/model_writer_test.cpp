// The one writer of the model file: the canonical layout byte for byte,
// every value read back by the solvers' reader, and the images it keeps of
// repeated values against fresh ones.

#include "model/model_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

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

// The illustrative model with every section of the extension.
Description WithExtension() {
  Description d = Example();
  d.extension.wrinkling = true;
  d.extension.prestress = {{1, 2, 1.0, 0.5, {1.0, 0.0, 0.0}}};
  d.extension.chambers = {{1, 1.4, 1.0e5, 100.0, 0.0, {0.5, 0.5, -1.0}}};
  d.extension.enclosures = {{1, 2, 1}};
  return d;
}

// Write, read, write: the same bytes, for the seven sections alone, with
// the whole extension and with part of it.
TEST_F(ModelWriter, WhatIsWrittenReadsBackToTheSameFile) {
  Description off = WithExtension();
  off.extension.wrinkling = false;
  off.extension.chambers.clear();
  off.extension.enclosures.clear();
  Description chambers = WithExtension();
  chambers.extension.wrinkling.reset();
  chambers.extension.chambers.push_back({2, 1.0, 2.0e5, -50.0, 4.0, {0.0, 0.0, 0.0}});
  chambers.extension.enclosures = {{2, 2, 1}, {1, 1, 2}};
  for (const Description& d : {Example(), WithExtension(), off, chambers}) {
    solver::model_file::write(d, "first.txt");
    solver::model_file::write(solver::model_file::describe(ReadBack("first.txt")), "second.txt");
    EXPECT_EQ(platform::read_file("second.txt"), platform::read_file("first.txt"));
  }
}

// A model read and described is written back as read when its records
// come node by node (as the writer writes them), to a file and in memory
// alike; the square's, whose corners come first, is written node by node.
TEST_F(ModelWriter, ModelsReadAreDescribedBackInTheWritersOrder) {
  for (const char* model : {"model_example", "model_extension", "square_n3_p0.01"}) {
    const std::string file = std::string(VELORA_TESTDATA "/") + model + "/input.txt";
    const Description d = solver::model_file::describe(ReadBack(file));
    solver::model_file::write(d, "input.txt");
    EXPECT_EQ(solver::model_file::text(d), platform::read_file("input.txt")) << model;
    if (model[0] == 'm') {
      EXPECT_EQ(platform::read_file("input.txt"), platform::read_file(file)) << model;
    }
    EXPECT_EQ(solver::model_file::text(solver::model_file::describe(ReadBack("input.txt"))),
              solver::model_file::text(d))
        << model;
  }
}

// The sample of the extension (a seed of the model file's fuzzing) is in
// the canonical layout.
TEST_F(ModelWriter, TheSampleWithEverySectionIsCanonical) {
  const std::string sample = VELORA_TESTDATA "/model_extension/input.txt";
  solver::model_file::write(solver::model_file::describe(ReadBack(sample)), "input.txt");
  EXPECT_EQ(platform::read_file("input.txt"), platform::read_file(sample));
  const solver::analysis a = ReadBack(sample);
  EXPECT_TRUE(a.wrinkling);
  EXPECT_EQ(a.extension.prestress.size(), 1u);
  EXPECT_EQ(a.extension.chambers.size(), 1u);
  EXPECT_EQ(a.extension.enclosures.size(), 1u);
}

TEST_F(ModelWriter, TheExtensionFollowsThePressuresInItsOrder) {
  solver::model_file::write(WithExtension(), "input.txt");
  const std::string text = platform::read_file("input.txt");
  const std::string pressures =
      " elem          pressure\n:\n    2\n\n    1      5.000000E-01\n    2      5.000000E-01\n";
  const std::size_t at = text.find(pressures);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(
      text.substr(at + pressures.size()),
      "\n\n"
      " wrinkling\n"
      ":wrinkling\n"
      "on\n"
      "\n\n"
      "first      last                n1                n2             dir x             dir y             dir z\n"
      ":prestress\n"
      "    1\n"
      "\n"
      "    1         2      1.000000E+00      5.000000E-01      1.000000E+00      0.000000E+00      0.000000E+00\n"
      "\n\n"
      "chamb             kappa           ambient             gauge            volume          origin x          "
      "origin y          origin z\n"
      ":chambers\n"
      "    1\n"
      "\n"
      "    1      1.400000E+00      1.000000E+05      1.000000E+02      0.000000E+00      5.000000E-01      "
      "5.000000E-01     -1.000000E+00\n"
      "\n\n"
      "first      last   chamber\n"
      ":enclosures\n"
      "    1\n"
      "\n"
      "    1         2         1\n");
}

// Every word of a label line ends where a field of the section's records
// ends, as the canonical layout promises.
TEST_F(ModelWriter, LabelWordsEndOverTheirFields) {
  solver::model_file::write(WithExtension(), "input.txt");
  std::vector<std::string> lines;
  {
    const std::string text = platform::read_file("input.txt");
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines.push_back(text.substr(start, nl - start));
    }
  }
  // Where the words of a line end; a single blank joins two words into one
  // ("coord x").
  const auto ends = [](const std::string& line) {
    std::vector<std::size_t> at;
    const auto blank = [&](std::size_t i) { return i >= line.size() || line[i] == ' '; };
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (!blank(i) && blank(i + 1) && blank(i + 2)) at.push_back(i);
    }
    return at;
  };
  int checked = 0;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i + 1].empty() || lines[i + 1][0] != ':' || lines[i + 1] == ":wrinkling") continue;
    // The first record: after the marker, or after a count and its empty line.
    std::size_t r = i + 2;
    if (ends(lines[r]).size() == 1 && r + 2 < lines.size() && lines[r + 1].empty()) r += 2;
    EXPECT_EQ(ends(lines[i]), ends(lines[r])) << "label \"" << lines[i] << "\"\nrecord \"" << lines[r] << "\"";
    ++checked;
  }
  EXPECT_EQ(checked, 10);
}

TEST_F(ModelWriter, AFileThatCannotBeCreatedIsAFileError) {
  platform::testing::ExpectFailure(
      [] { solver::model_file::write(Example(), "no/such/folder/input.txt"); }, "FILE_ERROR", {"input.txt"});
}

}  // namespace
