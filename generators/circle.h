#pragma once
// The example generator `circle`: a flat circular membrane of radius a,
// clamped along its rim and loaded by a uniform pressure, meshed with flat
// three-node triangles on concentric rings. It reads five numbers from
// "circle.txt" and writes the model file "input.txt" for the solvers.
//
// Mesh. With m rings the nodes are the centre (node 1) and, on ring k =
// 1..m at radius r = k a / m, 6k nodes at the angles 2 pi j / (6k), j = 0
// .. 6k-1, numbered ring by ring outwards and by increasing angle within a
// ring: 1 + 3m(m+1) nodes. Six sectors of 60 degrees each hold, between
// rings k-1 and k, k triangles with two nodes on ring k and k-1 with two
// nodes on ring k-1: 6m^2 elements, all of nearly the same size h = a / m.
// Every element lists its nodes counter-clockwise seen from +Z, so the
// pressure, acting along the normal of the node order, lifts the membrane.
// The nodes of ring m lie on the rim and are fixed in X, Y and Z.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "generators/generated_model.h"
#include "platform/text_reader.h"

namespace circle {

// The generator's parameters: the mesh's, and Young's modulus, Poisson's
// ratio and the pressure (along +Z) read with them from "circle.txt". The
// solver control values are those of the square generator (maxminor is 30
// times the number of nodes): the force tolerance 0.001 of the initial
// largest residual leaves a convergence error of the centre deflection
// near 1e-5 of it, well below the discretisation error of these meshes.
struct Parameters : generator::Membrane {
  std::int32_t rings = 0;  // number of rings m, at least 1
  double radius = 0.0;     // radius a of the rim, positive
};

// The largest number of rings whose node count times 30 (the iteration
// limit written to "input.txt") fits in 32 bits.
constexpr std::int32_t kMaxRings = 4000;

// The mesh: coordinates and connectivity, stored 0-based.
struct Mesh {
  std::vector<std::array<double, 3>> coord;       // #nodes x (X, Y, Z)
  std::vector<std::array<std::int32_t, 3>> elem;  // #elements x node indices, 0-based, counter-clockwise
  std::vector<std::int32_t> rim;                  // 0-based indices of the nodes on the rim, in node order
};

// Builds the mesh of m >= 1 rings of radius a.
Mesh make_mesh(std::int32_t rings, double radius);

// Reads the parameters from "circle.txt" (given open as `in`): three
// sections, each opened by a marker line; rings and radius, then young and
// poisson, then pressure. The reader's failures on a short or malformed
// file; DataError for rings outside 1..kMaxRings or a radius that is not a
// positive finite number.
Parameters read_parameters(platform::TextReader& in);

// Writes the model file in the canonical layout of the solvers' "input.txt".
// FileError when it cannot be created.
void write_model(const Parameters& p, const Mesh& mesh, const std::string& file_name = "input.txt");

// The program: reads "circle.txt", writes "input.txt".
void run();

}  // namespace circle
