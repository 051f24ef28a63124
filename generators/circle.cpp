#include "generators/circle.h"

#include <cmath>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace circle {

namespace {

using std::int32_t;
using std::int64_t;

// 0-based index of node j (taken modulo 6k) of ring k; ring 0 is the centre.
int32_t node(int32_t k, int32_t j) {
  if (k == 0) return 0;
  const int32_t count = 6 * k;
  return 1 + 3 * k * (k - 1) + ((j % count) + count) % count;
}

}  // namespace

Mesh make_mesh(int32_t rings, double radius) {
  const int32_t m = rings;
  Mesh mesh;
  mesh.coord.reserve(1 + 3 * static_cast<std::size_t>(m) * static_cast<std::size_t>(m + 1));
  mesh.coord.push_back({0.0, 0.0, 0.0});
  for (int32_t k = 1; k <= m; ++k) {
    // The rim ring gets the radius itself, not m * (a / m).
    const double r = k == m ? radius : radius * static_cast<double>(k) / static_cast<double>(m);
    for (int32_t j = 0; j < 6 * k; ++j) {
      const double theta = 2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(6 * k);
      // cos and sin of the multiples of 90 degrees leave rounding residues
      // near 1e-16; written as zero, the nodes on the axes sit exactly on them.
      const auto snap = [r](double v) { return std::abs(v) < 1e-12 * r ? 0.0 : v; };
      mesh.coord.push_back({snap(r * std::cos(theta)), snap(r * std::sin(theta)), 0.0});
      if (k == m) mesh.rim.push_back(static_cast<int32_t>(mesh.coord.size() - 1));
    }
  }
  // Band k between rings k-1 and k, sector s: node s*k + i of ring k lies
  // on the same ray as node s*(k-1) + i of ring k-1 at i = 0. Going round
  // the sector, a triangle with its edge on ring k (outer point i, i+1,
  // inner point i) alternates with one with its edge on ring k-1 (inner
  // point i, outer point i+1, inner point i+1); both are counter-clockwise.
  mesh.elem.reserve(6 * static_cast<std::size_t>(m) * static_cast<std::size_t>(m));
  for (int32_t k = 1; k <= m; ++k) {
    for (int32_t s = 0; s < 6; ++s) {
      const int32_t outer = s * k;
      const int32_t inner = s * (k - 1);
      for (int32_t i = 0; i < k; ++i) {
        mesh.elem.push_back({node(k, outer + i), node(k, outer + i + 1), node(k - 1, inner + i)});
        if (i < k - 1)
          mesh.elem.push_back({node(k - 1, inner + i), node(k, outer + i + 1), node(k - 1, inner + i + 1)});
      }
    }
  }
  return mesh;
}

namespace {

// Why a ring count cannot make a mesh; empty when it can.
std::string refuse_rings(int32_t m) {
  if (m < 1 || m > kMaxRings) return "the number of rings must be 1 to " + std::to_string(kMaxRings);
  return {};
}

constexpr generator::MeshRecord kMeshRecord{"rings", "radius", "the radius", refuse_rings};

}  // namespace

Parameters read_parameters(platform::TextReader& in) {
  const generator::Parameters read = generator::read_parameters(in, kMeshRecord);
  Parameters p;
  static_cast<generator::Membrane&>(p) = generator::membrane(read);
  p.rings = read.divisions;
  p.radius = read.size;
  return p;
}

void write_model(const Parameters& p, const Mesh& mesh, const std::string& file_name) {
  generator::Membrane m = p;
  m.controls.maxminor =
      static_cast<int32_t>(solver::model_file::kMinorPerNode * static_cast<int64_t>(mesh.coord.size()));
  // The file numbers nodes and elements from 1; the rim is clamped.
  std::vector<std::array<int32_t, 3>> elements;
  elements.reserve(mesh.elem.size());
  for (const auto& v : mesh.elem) elements.push_back({v[0] + 1, v[1] + 1, v[2] + 1});
  std::vector<int32_t> supports;
  supports.reserve(mesh.rim.size());
  for (const int32_t k : mesh.rim) supports.push_back(k + 1);
  solver::model_file::write(generator::generated_model(m, mesh.coord, std::move(elements), supports), file_name);
}

void run() {
  generator::run(
      "circle.txt", read_parameters, [](const Parameters& p) { write_model(p, make_mesh(p.rings, p.radius)); });
}

}  // namespace circle
