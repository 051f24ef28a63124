#pragma once
// The generator `square`: a flat square membrane of right isosceles
// triangles, fixed along its whole boundary and loaded by a uniform
// pressure. It reads five numbers from "square.txt" and writes the model
// file "input.txt" for the solvers, a drawing script "autocad.scr" with one
// 3D face per element and "ansys.txt", an ANSYS command file that sets up
// the same problem for comparison.
//
// The mesh is described in generators/square_mesh.h.

#include <cstdint>
#include <string>

#include "generators/generated_model.h"
#include "generators/square_mesh.h"
#include "platform/output_file.h"
#include "platform/text_reader.h"

namespace square {

// The generator state, filled once by initia and only read by the writers.
// Young's modulus, Poisson's ratio and the pressure are read from
// "square.txt" with ndiv and halfside; the solver control values are fixed,
// except maxminor = 30 * nnode.
struct Generator : generator::Membrane {
  // Read from "square.txt".
  std::int32_t ndiv = 0;  // divisions of each side (n), at least 1
  double halfside = 0.0;  // half the side length (L); the square spans -L..L

  // Derived from n and L.
  std::int32_t nnode = 0;   // 2(n^2 + n) + 1
  std::int32_t nelem = 0;   // 4n^2
  std::int32_t ndispl = 0;  // 12n: three fixed components per boundary node
  double step = 0.0;        // lattice spacing h = L / n

  Grid grid;
};

// The largest ndiv whose counts nnode, nelem, ndispl and maxminor all fit
// in 32 bits (maxminor = 30 * nnode is the one that limits).
std::int32_t largest_ndiv();

// Reads the parameters from "square.txt" (given open as `in`) and fills
// every field: three sections, each opened by a marker line; ndiv and
// halfside, then young and poisson, then pressure. FileError, EndError or
// DataError on a missing, short or malformed file; DataError naming the file
// and line for an ndiv below 1 or above largest_ndiv(), and for a halfside
// that is not a positive finite number.
Generator initia(platform::TextReader& in);

// The three writers, each into a file the caller commits.
void input(const Generator& g, platform::OutputFile& f);
void autocad(const Generator& g, platform::OutputFile& f);
void ansys(const Generator& g, platform::OutputFile& f);

// The same, each into a file of its own that it creates (replacing any
// earlier one) completely or not at all; FileError when that is impossible.
void input(const Generator& g, const std::string& file_name);
void autocad(const Generator& g, const std::string& file_name);
void ansys(const Generator& g, const std::string& file_name);

// The program: reads "square.txt" and writes "input.txt", "autocad.scr" and
// "ansys.txt" in the current directory, in this order, replacing the files
// of an earlier run together once all three are complete
// (platform::OutputFiles): a failure on any leaves all three as they were.
void run();

}  // namespace square
