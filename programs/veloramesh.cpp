// veloramesh: a membrane model ("input.txt") from a Gmsh mesh.
#include "programs/mesh_program.h"

int main(int argc, char** argv) { return programs::mesh_main(argc, argv); }
