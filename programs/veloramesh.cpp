#include "programs/mesh_program.h"

int main(int argc, char** argv) { return mesh::run_program(argc, argv); }
