#pragma once
// The steps of a solver run that work on the model: reading it, setting it
// up, and the nodal loads. Each works on the one analysis state. The
// material laws and the energy are in energy/law.h and energy/evaluator.h.

#include <array>
#include <string>

#include "model/analysis.h"
#include "platform/text_reader.h"
#include "terms/terms.h"

namespace solver {

// Reads "input.txt" from the current directory into fields 1 to 19.
void input(analysis& a);
// The same from an open reader (tests, fuzzing).
void input(analysis& a, platform::TextReader& reader);

// "input.txt:21: element 5 (nodes 1, 2, 6)": element e (1..nelem) with its
// nodes, after the file and the line of its record when the state was read
// from a file. For the failures of the steps after input.
std::string record_of(const analysis& a, int e);

// Numbers the degrees of freedom (free components first), computes every
// element's reference geometry and side stiffness, creates u, g and force
// filled with zeros. Called once, right after input. DataError or
// RangeError naming the element's record (record_of) for an element that
// cannot be set up: a node outside the nodes, a side of length zero or
// whose square is beyond or below the range of the normal doubles, its
// vertices on a line, a side stiffness that is not finite.
void start(analysis& a);

// Current position of node k (1..nnode): reference coordinates plus the
// displacement, from u for free components and from displ otherwise.
std::array<double, 3> vertex(const analysis& a, int k);

// Rebuilds force from the applied loads, the self-weight and the pressure
// on the current shape (at the state's u); without the pressure when
// `pressure` is false (a minimiser that takes it as a potential).
void setforce(analysis& a, bool pressure = true);

}  // namespace solver
