#pragma once
// The states of a wrinkling model's elements as its report shows them, and
// the direction of their wrinkles, for the grid's cell data and the
// picture. A solver with wrinkling reports a wrinkled element's smaller
// principal stress as exactly 0 and a slack element's both as exactly 0
// (docs/report.md); every other element is taut.

#include <array>
#include <vector>

#include "viewer/model.h"
#include "viewer/report.h"

namespace viewer {

// The states as the grid numbers them (the solvers' MembraneState).
inline constexpr int kTaut = 0;
inline constexpr int kWrinkled = 1;
inline constexpr int kSlack = 2;

struct Wrinkles {
  std::vector<int> state;                        // #elements: kTaut, kWrinkled or kSlack
  std::vector<std::array<double, 3>> direction;  // #elements: unit tension line of a wrinkled one, else 0 0 0
};

// The state of an element from its reported principal stresses.
int state_of(double stress1, double stress2);

// The unit vector of the deformed triangle along which it is stretched
// most: the tension line, along which a wrinkled element's wrinkles run.
// From the triangle's reference vertices p and deformed vertices q: the
// larger eigenvector v of the stretch, G^-1 H v = lambda v, with G and H the
// reference and deformed metric of the edges from vertex 1, mapped onto
// the deformed edges. 0 0 0 for a degenerate triangle.
std::array<double, 3> tension_line(const std::array<std::array<double, 3>, 3>& p,
                                   const std::array<std::array<double, 3>, 3>& q);

// Both, for every element of the mesh and its report.
Wrinkles wrinkles_of(const Mesh& mesh, const Report& report);

}  // namespace viewer
