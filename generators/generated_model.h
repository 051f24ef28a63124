#pragma once
// What the generators share beyond their parameter file's reader
// (parameters.h): the values of the membrane, the model every one of them
// writes, and the steps of their programs. A generated model is a flat membrane
// of the generator's mesh, its supports fixed in X, Y and Z at zero
// displacement, one pressure on every element, no self-weight and no nodal
// forces, with the default analysis parameters and kMinorPerNode minor
// iterations per node.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "generators/parameters.h"
#include "model/model_writer.h"
#include "platform/text_reader.h"

namespace generator {

// The values of a generated model beyond its mesh: those of the parameter
// file and the analysis parameters written with them.
struct Membrane {
  double young = 0.0;     // modulus of the sheet (Young's modulus times thickness)
  double poisson = 0.0;   // Poisson's ratio
  double pressure = 0.0;  // uniform pressure on every element
  // maxminor is kMinorPerNode per node, set by each generator where it
  // knows its node count; mntol is also the force tolerance of the
  // square's "ansys.txt".
  solver::model_file::AnalysisParameters controls;
};

// The membrane of the values read from a parameter file, with the default
// controls.
Membrane membrane(const Parameters& read);

// The model file's description of the membrane m on the mesh: nodes and
// elements as the file numbers them (node k at nodes[k - 1], elements by
// their node numbers from 1), `supports` the numbers of the nodes held.
// Constraints are written support by support, X, Y and Z; the pressure
// element by element.
solver::model_file::Description generated_model(const Membrane& m,
                                                std::vector<std::array<double, 3>> nodes,
                                                std::vector<std::array<std::int32_t, 3>> elements,
                                                const std::vector<std::int32_t>& supports);

// The steps of every generator's program: reads the parameter file with
// `read` (TextReader& -> the generator's parameters), then hands them to
// `write`, which makes the mesh and writes the generator's files, each
// completely or not at all.
template <class Read, class Write>
void run(const std::string& parameter_file, Read&& read, Write&& write) {
  platform::TextReader in = platform::TextReader::open(parameter_file);
  write(read(in));
}

}  // namespace generator
