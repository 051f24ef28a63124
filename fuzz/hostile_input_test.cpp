// The hostile inputs a user can meet, each through the whole path a program
// takes before its first iteration (reader, set-up, loads, one energy
// evaluation for a model; initia for the generator): either a correct
// result or one failure of the right kind whose message names the file,
// the line and what was expected.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "energy/energy_testing.h"
#include "fuzz/entry.h"
#include "generators/square.h"
#include "model/model.h"
#include "platform/failure.h"
#include "platform/testing.h"
#include "platform/text_reader.h"

namespace {

using platform::DataError;
using platform::EndError;

// A model of three nodes and one element, every line in the canonical
// layout; the tests replace one piece of text in it.
const std::string kModel =
    "        lstol     maxls             mntol             mnref  maxminor   maxlist  maxmajor\n"
    ":\n"
    " 1.000000E-01        20      1.000000E-03      0.000000E+00       120         3        20\n"
    "\n"
    "        young           poisson           density\n"
    ":\n"
    " 1.000000E+03      3.000000E-01      0.000000E+00\n"
    "\n"
    " node           coord x           coord y           coord z\n"
    ":\n"
    "    3\n"
    "\n"
    "    1      0.000000E+00      0.000000E+00      0.000000E+00\n"
    "    2      1.000000E+00      0.000000E+00      0.000000E+00\n"
    "    3      0.000000E+00      1.000000E+00      0.000000E+00\n"
    "\n"
    " elem      node      node      node\n"
    ":\n"
    "    1\n"
    "\n"
    "    1         1         2         3\n"
    "\n"
    " node      axis             displ\n"
    ":\n"
    "    3\n"
    "\n"
    "    1         3      0.000000E+00\n"
    "    2         3      0.000000E+00\n"
    "    3         3      0.000000E+00\n"
    "\n"
    " node      axis            action\n"
    ":\n"
    "    1\n"
    "\n"
    "    2         1      1.000000E+00\n"
    "\n"
    " elem          pressure\n"
    ":\n"
    "    0\n";

// kModel with the first `from` replaced by `to`.
std::string model_with(const std::string& from, const std::string& to) {
  std::string text = kModel;
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

const std::string kSquare = "mesh\n:\n 10 1.0\nmaterial\n:\n 1.0E+05 0.3\npressure\n:\n 1.0\n";

std::string square_with(const std::string& from, const std::string& to) {
  std::string text = kSquare;
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

void run_model(const std::string& text) {
  robust::model_entry(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void run_square(const std::string& text) {
  robust::square_entry(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The model read and set up, for the tests that check values.
solver::analysis set_up(const std::string& text) {
  platform::TextReader reader("input.txt", text);
  solver::analysis a;
  solver::input(a, reader);
  solver::start(a);
  return a;
}

using platform::testing::FailureMessage;

// Substring test with the whole message in the report.
#define EXPECT_HAS(message, part) EXPECT_NE((message).find(part), std::string::npos) << (message)

// See docs/decisions.md, 'Reals too large for a double'.
TEST(HostileNumbers, OverflowIsRefusedUnderflowGivesTheNearestDouble) {
  const std::string young = " 1.000000E+03      3.000000E-01";
  EXPECT_EQ(FailureMessage([&] { run_model(model_with(young, " 1.0E400 0.3")); }, "DATA_ERROR"),
            "input.txt:7: the real number \"1.0E400\" (young of the material record) is too large for a double");
  EXPECT_HAS(FailureMessage([&] { run_model(model_with(young, " -1.0E+309 0.3")); }, "DATA_ERROR"), "too large");
  EXPECT_HAS(FailureMessage([&] { run_square(square_with(":\n 1.0\n", ":\n 1e99999\n")); }, "DATA_ERROR"),
             "square.txt:9: the real number \"1e99999\" (pressure of the pressure record) is too large");

  // A subnormal coordinate is read exactly as the nearest double and the
  // model sets up: it is a valid number, however small.
  const solver::analysis a =
      set_up(model_with("    3      0.000000E+00      1.000000E+00      0.000000E+00", "    3  4.9E-324  1.0  1E-400"));
  EXPECT_EQ(a.coordx(3), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(a.coordz(3), 0.0);
  EXPECT_EQ(a.nfree, 6);
}

TEST(HostileNumbers, NanAndInfinityWrittenAsTextAreNotNumbers) {
  for (const char* text : {"nan", "NaN", "-nan", "inf", "+Inf", "infinity", "0x1p3", ".", "-", "1e", "1.0e+"}) {
    const std::string m = FailureMessage(
        [&] { run_model(model_with(" 1.000000E+03      3.000000E-01", std::string(" ") + text + " 0.3")); },
        "DATA_ERROR");
    EXPECT_HAS(m, "input.txt:7: expected a real number (young of the material record)");
  }
  EXPECT_HAS(FailureMessage([&] { run_square(square_with(" 10 ", " nan ")); }, "DATA_ERROR"),
             "square.txt:3: expected an integer (ndiv of the mesh record), found \"nan\"");
}

// See docs/decisions.md, 'Numbers that run into text'.
TEST(HostileNumbers, ANumberRunningIntoTextIsRefusedWhole) {
  EXPECT_EQ(FailureMessage([&] { run_model(model_with("    2         1      1.0", "    2x        1      1.0")); },
                           "DATA_ERROR"),
            "input.txt:35: expected an integer (node number of load record 1), found \"2x\": the number runs into "
            "other text");
  EXPECT_HAS(FailureMessage([&] { run_model(model_with("0.000000E+00\n    2", "0.0m\n    2")); }, "DATA_ERROR"),
             "found \"0.0m\": the number runs into other text");
  EXPECT_HAS(FailureMessage([&] { run_square(square_with("0.3", "0.3poisson")); }, "DATA_ERROR"),
             "square.txt:6: expected a real number (poisson of the material record), found \"0.3poisson\"");
}

TEST(HostileBytes, ANulByteIsShownAndRefusedWhereANumberStands) {
  std::string nul_in_number = model_with("1.000000E+03", std::string("1.0\0E+03", 8));
  EXPECT_HAS(FailureMessage([&] { run_model(nul_in_number); }, "DATA_ERROR"), "found \"1.0\\x00E+03\"");
  EXPECT_HAS(
      FailureMessage(
          [&] {
            run_model(model_with("    1         1         2         3", std::string("    1 \0       1 2 3", 20)));
          },
          "DATA_ERROR"),
      "input.txt:21: expected an integer (node of vertex 1 of element record 1), found \"\\x00\"");
  // In a label line a NUL is text like any other.
  EXPECT_NO_THROW(run_model(model_with("        young", std::string("  \0 young", 9))));
  EXPECT_HAS(FailureMessage([&] { run_square(square_with(":\n 1.0\n", std::string(":\n\0\n", 4))); }, "DATA_ERROR"),
             "square.txt:9: expected a real number (pressure of the pressure record), found \"\\x00\"");
}

TEST(HostileBytes, ALineOfTenMillionCharacters) {
  const std::string huge(10'000'000, 'x');
  // As a label or after the last number of a record it is skipped.
  EXPECT_NO_THROW(run_model(huge + "\n" + kModel));
  EXPECT_NO_THROW(run_model(model_with("0.000000E+00\n    2", "0.000000E+00 " + huge + "\n    2")));
  EXPECT_NO_THROW(run_square(square_with(" 1.0\n", " 1.0 " + huge + "\n")));
  // As a number, it is read whole: ten million digits overflow; zeros
  // before a digit give that digit's value (the nearest double).
  const std::string msg = FailureMessage(
      [&] { run_model(model_with(" 1.000000E+03 ", " 1" + std::string(10'000'000, '0') + " ")); }, "DATA_ERROR");
  EXPECT_HAS(msg, "input.txt:7: the real number \"10000000000000000000...\" (young of the material record)");
  EXPECT_LT(msg.size(), 200u);  // the message quotes the number short
  const solver::analysis a =
      set_up(model_with("    2      1.000000E+00", "    2  0." + std::string(10'000'000, '0') + "1E10000001"));
  EXPECT_EQ(a.coordx(2), 1.0);
  // Text running after ten million digits is still refused.
  EXPECT_HAS(FailureMessage([&] { run_model(model_with(" 1.000000E+03 ", " 1" + huge + " ")); }, "DATA_ERROR"),
             "the number runs into other text");
}

TEST(HostileShape, FilesOfOnlyBlanksOrNothing) {
  for (const std::string& text :
       {std::string(), std::string(" "), std::string("   \n\t\n  \r\n"), std::string(100000, ' ')}) {
    EXPECT_HAS(FailureMessage([&] { run_model(text); }, "END_ERROR"),
               "the file ends before the marker line (a line beginning with ':') of the parameters section");
    EXPECT_HAS(FailureMessage([&] { run_square(text); }, "END_ERROR"),
               "the file ends before the marker line (a line beginning with ':') of the mesh section");
  }
}

TEST(HostileCounts, NegativeCountsMeanNoRecords) {
  // No constraint records, no line skipped after the count: the records
  // that follow are preamble of the loads section.
  const solver::analysis a = set_up(model_with(":\n    3\n\n    1         3", ":\n   -3\n    1         3"));
  EXPECT_EQ(a.nfree, 9);
  // No nodes: the element names a node that does not exist.
  EXPECT_THROW(run_model(model_with(":\n    3\n\n    1      0", ":\n -2147483648\n\n    1      0")),
               platform::RangeError);
  EXPECT_HAS(FailureMessage([&] { run_square(square_with(" 10 ", " -2147483648 ")); }, "DATA_ERROR"),
             "square.txt:3: ndiv is -2147483648; the number of divisions per side must be at least 1");
}

// See docs/decisions.md, 'Counts the file cannot hold'.
TEST(HostileCounts, HugeCountsAreRefusedBeforeAnyTableIsMade) {
  EXPECT_HAS(
      FailureMessage([&] { run_model(model_with(":\n    3\n\n    1      0", ":\n 2147483647\n\n    1      0")); },
                     "END_ERROR"),
      "input.txt:11: the nodes section announces 2147483647 records, but the rest of the file");
  EXPECT_HAS(
      FailureMessage([&] { run_model(model_with(":\n    1\n\n    1         1", ":\n 2000000000\n\n    1         1")); },
                     "END_ERROR"),
      "the elements section announces 2000000000 records");
  EXPECT_HAS(FailureMessage([&] { run_model(model_with(":\n    1\n\n    2", ":\n 1000000\n\n    2")); }, "END_ERROR"),
             "the loads section announces 1000000 records");
  EXPECT_HAS(
      FailureMessage([&] { run_model(model_with(":\n    3\n\n    1      0", ":\n 2147483648\n\n    1      0")); },
                     "DATA_ERROR"),
      "input.txt:11: the integer \"2147483648\" (node count of the nodes section) is outside the range");
  EXPECT_HAS(FailureMessage([&] { run_square(square_with(" 10 ", " 2147483647 ")); }, "DATA_ERROR"),
             "square.txt:3: ndiv is 2147483647; at most");
}

TEST(HostileCounts, ACountLineWithNoRecordsAfterIt) {
  // At the end of the file.
  const std::string cut = kModel.substr(0, kModel.find("    1         1         2         3"));
  EXPECT_HAS(FailureMessage([&] { run_model(cut); }, "END_ERROR"), "the elements section announces 1 records");
  // Followed at once by the next section: its label is not a number.
  EXPECT_EQ(
      FailureMessage([&] { run_model(model_with(":\n    1\n\n    2         1      1.000000E+00\n", ":\n    1\n\n")); },
                     "DATA_ERROR"),
      "input.txt:36: expected an integer (node number of load record 1), found \"elem\"");
  // A count that promises more records than follow.
  EXPECT_HAS(
      FailureMessage([&] { run_model(model_with(":\n    3\n\n    1         3", ":\n    4\n\n    1         3")); },
                     "DATA_ERROR"),
      "expected an integer (node number of constraint record 4), found \"node\"");
}

TEST(HostileShape, RecordsRunningOverSeveralLinesReadTheSame) {
  const solver::analysis one = set_up(kModel);
  const solver::analysis split =
      set_up(model_with("    2      1.000000E+00      0.000000E+00      0.000000E+00\n",
                        "    2\n\n      1.000000E+00\n\t0.000000E+00\n      0.000000E+00   trailing text\n"));
  EXPECT_EQ(split.coordx(2), one.coordx(2));
  EXPECT_EQ(split.coordx(3), one.coordx(3));
  EXPECT_EQ(split.coordy(3), one.coordy(3));
  EXPECT_NO_THROW(run_square("mesh\n:\n 10\n\n 1.0\n:\n 1.0E+05\n\n\n 0.3\n:\n\n\n 1.0"));
}

TEST(HostileModels, OneNodeAndNoElements) {
  const std::string text = model_with(kModel.substr(kModel.find(":\n    3\n\n    1      0")),
                                      ":\n    1\n\n    1  0 0 0\n\n:\n    0\n\n:\n    0\n:\n    0\n:\n    0\n");
  const solver::analysis a = set_up(text);
  EXPECT_EQ(a.nnode, 1);
  EXPECT_EQ(a.nelem, 0);
  EXPECT_EQ(a.nfree, 3);
  EXPECT_NO_THROW(run_model(text));
}

TEST(HostileModels, AnElementListingOneNodeTwice) {
  EXPECT_EQ(
      FailureMessage(
          [&] { run_model(model_with("    1         1         2         3", "    1         1         2         2")); },
          "DATA_ERROR"),
      "input.txt:21: element 1 (nodes 1, 2, 2) is degenerate: side 1 has length zero");
  EXPECT_HAS(FailureMessage([&] { run_model(model_with("    1         1         2         3", "    1 3 2 3")); },
                            "DATA_ERROR"),
             "input.txt:21: element 1 (nodes 3, 2, 3) is degenerate");
}

TEST(HostileModels, APressureOnAModelWithoutSupportsSetsUp) {
  // Reading and set-up accept it; the energy has no minimum, which the
  // solver finds out in its first major iteration (whole-program test).
  std::string text = model_with(
      ":\n    3\n\n    1         3      0.000000E+00\n    2         3      0.000000E+00\n"
      "    3         3      0.000000E+00\n",
      ":\n    0\n");
  text.replace(text.rfind(":\n    0\n"), std::string::npos, ":\n    1\n\n    1  5.0\n");
  solver::analysis a = set_up(text);
  EXPECT_EQ(a.nfree, 9);
  EXPECT_EQ(a.elem(1).pressure, 5.0);
  EXPECT_NO_THROW(run_model(text));
}

}  // namespace
