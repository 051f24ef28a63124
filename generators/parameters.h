#pragma once
// The parameter file of a generator ("square.txt", "circle.txt"): three
// records, each opened by a marker line (the rule of the model file's
// reader):
//   mesh      an integer (how finely the mesh is divided) and a real (its
//             size)
//   material  Young's modulus and Poisson's ratio
//   pressure  the uniform pressure on every element
// Numbers are free-form; text after the last number of a record is ignored.

#include <cstdint>
#include <string>

#include "platform/text_reader.h"

namespace generator {

struct Parameters {
  std::int32_t divisions = 0;  // the mesh's division count (ndiv, rings), checked by MeshRecord
  double size = 0.0;           // the mesh's size (half side, radius), positive and finite
  double young = 0.0;          // Young's modulus
  double poisson = 0.0;        // Poisson's ratio
  double pressure = 0.0;       // uniform pressure on every element
};

// What the mesh record of one generator holds: the names its failure
// messages give the two numbers, and the check of the division count.
struct MeshRecord {
  const char* divisions;  // name of the count, "ndiv"
  const char* size;       // name of the size, "halfside"
  const char* size_is;    // what the size is, "the half side length"
  // Why a division count cannot make a mesh, or an empty string when it
  // can ("the number of divisions per side must be at least 1").
  std::string (*refuse_divisions)(std::int32_t divisions);
};

// Reads the three records from `in`. The reader's failures on a short or
// malformed file; DataError naming the file and the line of the value for a
// division count that `mesh` refuses and for a size that is not a positive
// finite number ("halfside is 0.000000E+00; the half side length must be a
// positive finite number"). Each value is checked as soon as it is read, so
// nothing is written for a file that fails.
Parameters read_parameters(platform::TextReader& in, const MeshRecord& mesh);

}  // namespace generator
