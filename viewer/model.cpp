#include "viewer/model.h"

#include <cstddef>

#include "platform/failure.h"

namespace viewer {

Mesh mesh_of(const solver::analysis& a) {
  Mesh m;
  m.node.reserve(static_cast<std::size_t>(a.nnode));
  for (int k = 1; k <= a.nnode; ++k) m.node.push_back({a.coordx(k), a.coordy(k), a.coordz(k)});
  m.tri.reserve(static_cast<std::size_t>(a.nelem));
  m.pressure.reserve(static_cast<std::size_t>(a.nelem));
  for (int e = 1; e <= a.nelem; ++e) {
    const solver::element& el = a.elem(e);
    std::array<int, 3> t{};
    for (std::size_t v = 0; v < 3; ++v) {
      const int k = el.node[v];
      if (k < 1 || k > a.nnode) {
        throw platform::DataError("input.txt: element " + std::to_string(e) + " uses node " + std::to_string(k) +
                                  " (valid 1.." + std::to_string(a.nnode) + ")");
      }
      t[v] = k - 1;  // the model file numbers nodes from 1
    }
    m.tri.push_back(t);
    m.pressure.push_back(el.pressure);
  }
  m.wrinkling = a.wrinkling;
  m.chambers = static_cast<int>(a.extension.chambers.size());
  return m;
}

}  // namespace viewer
