#include "model/model_writer.h"

#include "model/model_file.h"
#include "platform/number_image.h"

namespace generator {

using namespace solver::model_file;

ModelWriter::ModelWriter(const std::string& file_name) : f_(file_name) {}

// Every section but the first follows the two empty lines that end the one
// before it.
void ModelWriter::section(std::string_view label) {
  if (!first_section_) gap(f_);
  first_section_ = false;
  head(f_, label);
}

void ModelWriter::parameters(const Controls& c) {
  section(kParametersLabel);
  r(f_, c.lstol);
  f_.text(kS);
  i5(f_, c.maxls);
  f_.text(kS);
  r(f_, c.mntol);
  f_.text(kS);
  r(f_, c.mnref);
  f_.text(kS);
  i5(f_, c.maxminor);
  f_.text(kS);
  i5(f_, c.maxlist);
  f_.text(kS);
  i5(f_, c.maxmajor);
  f_.line_end();
}

void ModelWriter::material(double young, double poisson) {
  section(kMaterialLabel);
  r(f_, young);
  f_.text(kS);
  r(f_, poisson);
  f_.text(kZ).line_end();
}

void ModelWriter::nodes(std::int64_t count) {
  section(kNodesLabel);
  solver::model_file::count(f_, count);
}

void ModelWriter::node(std::int64_t k, const std::array<double, 3>& x) {
  i5(f_, k);
  for (const double v : x) {
    f_.text(kS);
    r(f_, v);
  }
  f_.line_end();
}

void ModelWriter::node(std::int64_t k, std::string_view x_image, std::string_view y_image) {
  i5(f_, k);
  f_.text(kS).text(x_image).text(kS).text(y_image).text(kZ).line_end();
}

void ModelWriter::elements(std::int64_t count) {
  section(kElementsLabel);
  solver::model_file::count(f_, count);
}

void ModelWriter::element(std::int64_t e, std::int64_t n1, std::int64_t n2, std::int64_t n3) {
  i5(f_, e);
  for (const std::int64_t k : {n1, n2, n3}) {
    f_.text(kS);
    i5(f_, k);
  }
  f_.line_end();
}

void ModelWriter::supports(std::int64_t count) {
  section(kConstraintsLabel);
  solver::model_file::count(f_, 3 * count);
}

void ModelWriter::support(std::int64_t k) {
  for (std::int64_t axis = 1; axis <= 3; ++axis) {
    i5(f_, k);
    f_.text(kS);
    i5(f_, axis);
    f_.text(kZ).line_end();
  }
}

void ModelWriter::finish(std::int64_t nelem, double pressure) {
  // No nodal forces: the count alone, without the empty line that would
  // precede records.
  section(kLoadsLabel);
  i5(f_, 0);
  f_.line_end();

  section(kPressuresLabel);
  solver::model_file::count(f_, nelem);
  const std::string image = platform::real_image(pressure, 2, 6, 3);
  for (std::int64_t e = 1; e <= nelem; ++e) {
    i5(f_, e);
    f_.text(kS).text(image).line_end();
  }
  f_.commit();
}

}  // namespace generator
