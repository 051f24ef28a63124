#include "generators/generated_model.h"

#include <utility>

namespace generator {

Membrane membrane(const Parameters& read) {
  Membrane m;
  m.young = read.young;
  m.poisson = read.poisson;
  m.pressure = read.pressure;
  return m;
}

solver::model_file::Description generated_model(const Membrane& m,
                                                std::vector<std::array<double, 3>> nodes,
                                                std::vector<std::array<std::int32_t, 3>> elements,
                                                const std::vector<std::int32_t>& supports) {
  solver::model_file::Description d;
  d.parameters = m.controls;
  d.material = {m.young, m.poisson, 0.0};
  d.nodes = std::move(nodes);
  d.elements = std::move(elements);
  d.constraints.reserve(3 * supports.size());
  for (const std::int32_t k : supports) {
    for (std::int32_t axis = 1; axis <= 3; ++axis) d.constraints.push_back({k, axis, 0.0});
  }
  d.pressures.reserve(d.elements.size());
  for (std::size_t e = 0; e < d.elements.size(); ++e) {
    d.pressures.push_back({static_cast<std::int32_t>(e + 1), m.pressure});
  }
  return d;
}

}  // namespace generator
