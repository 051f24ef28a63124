#pragma once
// The main of veloramesh: its command line (cli::CommandLine with the
// options that describe the model), a Gmsh mesh in, "input.txt" out.

namespace programs {

// Parses the command line and writes the model. Returns the exit status:
// 0 done (or help and version printed), 1 a failure report, 2 a usage
// error.
int mesh_main(int argc, const char* const* argv);

}  // namespace programs
