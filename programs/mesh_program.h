#pragma once
// The program veloramesh: a Gmsh mesh and the command line in, "input.txt"
// out. Returns the exit status: 0 done (or help and version printed), 1 a
// failure report, 2 a usage error.

namespace mesh {

int run_program(int argc, char** argv);

}  // namespace mesh
