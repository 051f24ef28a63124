#pragma once
// The pieces of a solved model that the viewer draws and exports: the mesh
// at its reference position (from "input.txt") and the results report
// ("output.txt") that belongs to it.

#include <array>
#include <string>
#include <vector>

#include "model/analysis.h"
#include "viewer/report.h"

namespace viewer {

// Triangles at their reference positions, stored 0-based: node k of the
// model file is node[k - 1], element e is tri[e - 1] and its vertices are
// indices into node.
struct Mesh {
  std::vector<std::array<double, 3>> node;  // #nodes x (X, Y, Z)
  std::vector<std::array<int, 3>> tri;      // #elements x 3 node indices, 0-based
  std::vector<double> pressure;             // #elements
  // The model wrinkles (its file's :wrinkling on, or the viewer's
  // --wrinkling): the grid and the picture then show each element's state.
  bool wrinkling = false;
  // Gas chambers of the model (its :chambers section): the solvers then
  // write their state to "chambers.txt", which the viewer shows too.
  int chambers = 0;
};

// The mesh of a model read by the solvers' reader. The reader leaves the
// vertex numbers of elements unchecked (the solvers check them at set-up),
// so they are checked here: DataError "input.txt: element 7 uses node 0
// (valid 1..9)".
Mesh mesh_of(const solver::analysis& a);

}  // namespace viewer
