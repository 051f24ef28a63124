#pragma once
// The one writer of the model file ("input.txt"): a model described as
// plain tables (Description) in, the canonical layout of model_file.h out.
// square, circle, veloramesh and the tests describe their models this way,
// and the solvers read the file back with input (model/model.h).
//
// A description is the file's content record for record: numbers are the
// file's own (nodes and elements from 1), records are written in the order
// they are given, and nothing is checked here. A record the reader would
// refuse (a node number outside 1..N) is written as given, for the reader
// to refuse.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/analysis.h"
#include "platform/output_file.h"

namespace solver::model_file {

// The seven analysis parameters of the first section, with the values
// every generated model carries. maxminor has no value of its own: the
// generators and veloramesh give kMinorPerNode per node.
struct AnalysisParameters {
  double lstol = 0.1;          // slope reduction tolerance of the line search
  std::int32_t maxls = 20;     // most interpolation steps of one line search
  double mntol = 0.001;        // force tolerance, relative to mnref or the first residual
  double mnref = 0.0;          // reference force (0: the first largest residual)
  std::int32_t maxminor = 0;   // most minor iterations of one major iteration
  std::int32_t maxlist = 3;    // correction pairs the limited-memory minimiser keeps
  std::int32_t maxmajor = 20;  // most major iterations
};

// Minor iterations per node of a generated model: a generous bound that
// grows with the unknowns, so that the limit rarely ends a major iteration.
inline constexpr std::int64_t kMinorPerNode = 30;

struct Material {
  double young = 0.0;    // modulus of the membrane (Young's modulus times thickness)
  double poisson = 0.0;  // Poisson's ratio
  double density = 0.0;  // weight per unit reference area, along -Z
};

// A constraint or load record: node (from 1), axis (1, 2, 3 for X, Y, Z)
// and the prescribed displacement or the force.
struct NodeValue {
  std::int32_t node = 0;
  std::int32_t axis = 0;
  double value = 0.0;
};

// A pressure record: element (from 1) and pressure.
struct ElementValue {
  std::int32_t element = 0;
  double value = 0.0;
};

struct Description {
  AnalysisParameters parameters;
  Material material;
  std::vector<std::array<double, 3>> nodes;           // node k at nodes[k - 1]: X, Y, Z
  std::vector<std::array<std::int32_t, 3>> elements;  // element e at elements[e - 1]: nodes of vertices 1, 2, 3
  std::vector<NodeValue> constraints;                 // records of the constraints section, in file order
  std::vector<NodeValue> loads;                       // of the loads section
  std::vector<ElementValue> pressures;                // of the pressures section
  // The optional sections after the pressures, written when not empty, in
  // the order :wrinkling, :prestress, :chambers, :enclosures.
  Extension extension;
};

// How reals are written. canonical: the layout's 13 characters, seven
// significant digits, which is what every program writes. exact: 17
// significant digits, so that every double reads back as itself (the
// label lines then no longer stand over their fields): models of tests
// whose values are not short decimals.
enum class Reals { canonical, exact };

// Writes the model into f, which the caller commits.
void write(const Description& model, platform::OutputFile& f, Reals reals = Reals::canonical);

// Writes the model file `file_name` completely or not at all: an earlier
// file of that name stays as it was until the whole text is written.
// FileError when that is impossible.
void write(const Description& model, const std::string& file_name, Reals reals = Reals::canonical);

// The text the file would hold, in memory: the same bytes.
std::string text(const Description& model, Reals reals = Reals::canonical);

// The description of a model that input (model/model.h) has read and start
// has not yet set up: the model's records node by node, X before Y before
// Z (a constraint for each held component, a load for each load that is
// not zero), a pressure for every element when any element has one that
// is not zero (none otherwise), and the extension as read. Written, it
// reads back as the same model; a file in the generators' layout is
// written back byte for byte.
Description describe(const analysis& a);

}  // namespace solver::model_file
