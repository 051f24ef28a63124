#include "generators/parameters.h"

#include <cmath>

#include "platform/failure.h"
#include "platform/number_image.h"

namespace generator {

Parameters read_parameters(platform::TextReader& in, const MeshRecord& mesh) {
  Parameters p;

  in.scan("mesh");
  in.set_record("mesh record", 0);
  p.divisions = in.read_int(mesh.divisions);
  // Checked at once, while the reader still stands on the line of the value.
  if (const std::string why = mesh.refuse_divisions(p.divisions); !why.empty()) {
    throw platform::DataError(
        in.where(std::string(mesh.divisions) + " is " + std::to_string(p.divisions) + "; " + why));
  }
  p.size = in.read_real(mesh.size);
  if (!(p.size > 0.0) || !std::isfinite(p.size)) {
    throw platform::DataError(in.where(std::string(mesh.size) + " is " + platform::real_image(p.size, 1, 6, 3) + "; " +
                                       mesh.size_is + " must be a positive finite number"));
  }
  in.skip_line("the rest of the mesh record");

  in.scan("material");
  in.set_record("material record", 0);
  p.young = in.read_real("young");
  p.poisson = in.read_real("poisson");
  in.skip_line("the rest of the material record");

  in.scan("pressure");
  in.set_record("pressure record", 0);
  p.pressure = in.read_real("pressure");
  in.skip_line("the rest of the pressure record");
  return p;
}

}  // namespace generator
