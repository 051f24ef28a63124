#include "cli/command_line.h"
#include "solver/solver.h"

#ifndef VELORA_PROGRAM
#error "VELORA_PROGRAM names the program: velora1 or velora2"
#endif

int main(int argc, char** argv) {
  cli::CommandLine line({VELORA_PROGRAM,
                         "Finds the static equilibrium of a membrane of flat triangles under nodal forces, "
                         "self-weight and a pressure that follows the deformed surface, by minimising the total "
                         "potential energy.",
                         "input.txt (the model)",
                         "output.txt (iterations, energy, displacements, deformed coordinates, principal stresses, "
                         "support reactions), autocad.scr (undeformed and deformed mesh)"});
  line.add_solver_options();
  line.set_kernel("sse2");
  return line.run(argc, argv, [] { solver::run(); });
}
