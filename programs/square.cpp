#include "generators/square.h"

#include "cli/command_line.h"

int main(int argc, char** argv) {
  cli::CommandLine line({"square",
                         "Generates a square membrane fixed along its boundary under a uniform pressure, meshed "
                         "with right isosceles triangles, ready for velora1 and velora2.",
                         "square.txt (divisions per side, half side, Young's modulus, Poisson's ratio, pressure)",
                         "input.txt (the model), autocad.scr (the mesh as 3D faces), ansys.txt (the same problem as "
                         "an ANSYS command file)"});
  return line.run(argc, argv, [] { square::run(); });
}
