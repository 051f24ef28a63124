#include "generators/circle.h"

#include "cli/command_line.h"

int main(int argc, char** argv) {
  cli::CommandLine line({"circle",
                         "Generates a circular membrane clamped along its rim under a uniform pressure, meshed "
                         "with triangles on concentric rings: the accuracy check against the closed-form centre "
                         "deflection.",
                         "circle.txt (rings, radius, Young's modulus, Poisson's ratio, pressure)",
                         "input.txt (the model)"});
  return line.run(argc, argv, [] { circle::run(); });
}
