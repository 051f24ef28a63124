#include "examples/circle.h"

#include <cmath>
#include <numbers>
#include <string_view>

#include "platform/failure.h"
#include "platform/number_image.h"
#include "platform/model_file.h"
#include "platform/output_file.h"

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

// The canonical layout of the model file, shared with the other generator.
using namespace platform::model_file;

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
        if (i < k - 1) mesh.elem.push_back({node(k - 1, inner + i), node(k, outer + i + 1), node(k - 1, inner + i + 1)});
      }
    }
  }
  return mesh;
}

Parameters read_parameters(platform::TextReader& in) {
  Parameters p;
  in.scan("mesh");
  in.set_record("mesh record", 0);
  p.rings = in.read_int("rings");
  if (p.rings < 1 || p.rings > kMaxRings) {
    throw platform::DataError(in.where("rings is " + std::to_string(p.rings) + "; the number of rings must be 1 to " +
                                       std::to_string(kMaxRings)));
  }
  p.radius = in.read_real("radius");
  if (!(p.radius > 0.0) || !std::isfinite(p.radius)) {
    throw platform::DataError(in.where("radius is " + platform::real_image(p.radius, 1, 6, 3) +
                                       "; the radius must be a positive finite number"));
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

void write_model(const Parameters& p, const Mesh& mesh, const std::string& file_name) {
  platform::OutputFile f(file_name);
  const std::size_t nnode = mesh.coord.size();

  head(f, kParametersLabel);
  r(f, p.lstol);
  f.text(kS);
  i5(f, p.maxls);
  f.text(kS);
  r(f, p.mntol);
  f.text(kS);
  r(f, p.mnref);
  f.text(kS);
  i5(f, 30 * static_cast<int64_t>(nnode));  // maxminor, as the square generator sets it
  f.text(kS);
  i5(f, p.maxlist);
  f.text(kS);
  i5(f, p.maxmajor);
  f.line_end();
  gap(f);

  // No self-weight: the density is zero.
  head(f, kMaterialLabel);
  r(f, p.young);
  f.text(kS);
  r(f, p.poisson);
  f.text(kZ).line_end();
  gap(f);

  // The file numbers nodes and elements from 1.
  head(f, kNodesLabel);
  count(f, nnode);
  for (std::size_t k = 0; k < nnode; ++k) {
    i5(f, static_cast<int64_t>(k) + 1);
    for (const double x : mesh.coord[k]) {
      f.text(kS);
      r(f, x);
    }
    f.line_end();
  }
  gap(f);

  head(f, kElementsLabel);
  count(f, mesh.elem.size());
  for (std::size_t e = 0; e < mesh.elem.size(); ++e) {
    i5(f, static_cast<int64_t>(e) + 1);
    for (const int32_t v : mesh.elem[e]) {
      f.text(kS);
      i5(f, int64_t{v} + 1);
    }
    f.line_end();
  }
  gap(f);

  // The rim is clamped: X, Y and Z of every rim node held at zero.
  head(f, kConstraintsLabel);
  count(f, 3 * mesh.rim.size());
  for (const int32_t k : mesh.rim) {
    for (int32_t axis = 1; axis <= 3; ++axis) {
      i5(f, int64_t{k} + 1);
      f.text(kS);
      i5(f, axis);
      f.text(kZ).line_end();
    }
  }
  gap(f);

  // No nodal forces: the count alone.
  head(f, kLoadsLabel);
  i5(f, 0);
  f.line_end();
  gap(f);

  head(f, kPressuresLabel);
  count(f, mesh.elem.size());
  const std::string pressure = platform::real_image(p.pressure, 2, 6, 3);
  for (std::size_t e = 0; e < mesh.elem.size(); ++e) {
    i5(f, static_cast<int64_t>(e) + 1);
    f.text(kS).text(pressure).line_end();
  }
  f.commit();
}

void run() {
  platform::TextReader in = platform::TextReader::open("circle.txt");
  const Parameters p = read_parameters(in);
  write_model(p, make_mesh(p.rings, p.radius));
}

}  // namespace circle
