#pragma once
// Writes a generated model file ("input.txt") in the canonical layout of
// model/model_file.h: a flat membrane, no self-weight, no nodal forces,
// every support fixed in X, Y and Z at zero displacement, one pressure on
// every element. The sections are written in file order by calling the
// methods in the order they are declared; records are numbered by the
// caller, from 1, as the file numbers them.
//
// The file is written completely or not at all (platform/output_file.h):
// nothing replaces an earlier file before commit().

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/output_file.h"

namespace generator {

// The solver control values of a generated model (their meaning is the
// model file's): those a generated model has always carried, maxminor set
// by the generator to 30 times its node count.
struct Controls {
  double lstol = 0.1;
  std::int32_t maxls = 20;
  double mntol = 0.001;
  double mnref = 0.0;
  std::int64_t maxminor = 0;
  std::int32_t maxlist = 3;
  std::int32_t maxmajor = 20;
};

class ModelWriter {
 public:
  // Creates the temporary file; FileError when that is impossible.
  explicit ModelWriter(const std::string& file_name);

  void parameters(const Controls& c);
  // Young's modulus and Poisson's ratio; the density is zero.
  void material(double young, double poisson);

  // The nodes section: its count, then node() once per node.
  void nodes(std::int64_t count);
  // Node k at (x, y, z).
  void node(std::int64_t k, const std::array<double, 3>& x);
  // Node k at (x, y, 0) with x and y given as their images (real_image
  // with fore 2, aft 6, exp 3): a lattice has few distinct coordinates, and
  // formatting each once keeps large meshes fast to write.
  void node(std::int64_t k, std::string_view x_image, std::string_view y_image);

  // The elements section: its count, then element() once per element.
  void elements(std::int64_t count);
  void element(std::int64_t e, std::int64_t n1, std::int64_t n2, std::int64_t n3);

  // The constraints section for `count` supports, then support() once per
  // supported node: three records, X, Y and Z held at zero.
  void supports(std::int64_t count);
  void support(std::int64_t k);

  // The nodal loads section, empty, and the last section: `pressure` on
  // each of the nelem elements. Then the file replaces any earlier one.
  void finish(std::int64_t nelem, double pressure);

 private:
  void section(std::string_view label);

  platform::OutputFile f_;
  bool first_section_ = true;
};

}  // namespace generator
