#pragma once
// The steps of a solver run that work on the model: reading it, setting it
// up, the material law of one element, the total potential energy with its
// gradient, and the nodal loads. Each works on the one analysis state.

#include <array>
#include <vector>

#include "platform/text_reader.h"
#include "solver/analysis.h"
#include "terms/terms.h"

namespace solver {

// Reads "input.txt" from the current directory into fields 1 to 19.
void input(analysis& a);
// The same from an open reader (tests, fuzzing).
void input(analysis& a, platform::TextReader& reader);

// Numbers the degrees of freedom (free components first), computes every
// element's reference geometry and side stiffness, creates u, g and force
// filled with zeros. Called once, right after input.
void start(analysis& a);

// Current position of node k (1..nnode): reference coordinates plus the
// displacement, from u for free components and from displ otherwise.
std::array<double, 3> vertex(const analysis& a, int k);

// Side stresses N1, N2, N3 and strain energy of one element.
struct element_state {
  double n1 = 0.0;
  double n2 = 0.0;
  double n3 = 0.0;
  double energy = 0.0;
};

// The material law of one element at unknowns x (1..nfree): side stresses,
// strain energy, and in grad the gradient of the energy with respect to the
// nine displacement components (vertex 1 X, Y, Z, vertex 2 X, Y, Z, vertex
// 3 X, Y, Z). Defined by the program's material-law source.
element_state cstobj(const analysis& a, const element& e, const terms::Vector& x,
                     std::array<double, 9>& grad);

// Total potential energy at x (1..n, n = nfree), gradient into g(1..n).
double objective(analysis& a, int n, const terms::Vector& x, terms::Vector& g);

// The tangent (second derivative) of the strain energy at x (1..nfree) on
// the pattern p, with the compressive side forces left out when clamp is
// set (solver/tangent.h). Defined by the program's material-law source.
struct TangentPattern;
void tangent(const analysis& a, const terms::Vector& x, const TangentPattern& p, bool clamp,
             std::vector<double>& values);

// Rebuilds force from the applied loads, the self-weight and the pressure
// on the current shape (at the state's u).
void setforce(analysis& a);

}  // namespace solver
