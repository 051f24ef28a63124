#include <array>
#include <cmath>
#include <string_view>

#include "energy/gas.h"
#include "energy/wrinkling.h"
#include "model/geometry.h"
#include "model/model.h"
#include "platform/output_file.h"
#include "solver/results.h"

namespace solver {

namespace {

constexpr int kFore = 2, kAft = 8, kExp = 3;  // every real of the report: " 1.00000000E-06"

void rule(platform::OutputFile& f, int n) { f.chars('-', n).line_end(); }

void heading(platform::OutputFile& f, std::string_view caption) {
  rule(f, 65);
  f.text(caption).line_end();
  rule(f, 65);
  f.line_end();
}

}  // namespace

PrincipalStresses principal(const element& e, double n1, double n2, double n3) {
  // Cosines of the angles at the vertices from the side directions.
  const double c1 = angle_cosine(e, 0);
  const double c2 = angle_cosine(e, 1);
  const double c3 = angle_cosine(e, 2);
  // The stress tensor is the sum of Nk dir(k) dir(k)^T; T is its trace and
  // Q the square of the difference of its eigenvalues.
  const double t = (n1 + n2) + n3;
  double q = ((n1 * n1 + n2 * n2) + n3 * n3) +
             4.0 * (((n1 * n2) * (c3 * c3 - 0.5) + (n1 * n3) * (c2 * c2 - 0.5)) + (n2 * n3) * (c1 * c1 - 0.5));
  // Equal principal stresses can leave Q a rounding error below zero; the
  // difference of the eigenvalues is then zero.
  if (q < 0.0) q = 0.0;
  const double r = std::sqrt(q);
  return {0.5 * (t + r), 0.5 * (t - r)};
}

void write_results(analysis& a, const MaterialLaw& law, const std::string& folder) {
  const std::string prefix = folder.empty() ? std::string() : folder + "/";
  platform::OutputFiles files;
  autocad(a, files.add(prefix + "autocad.scr"));
  output(a, law, files.add(prefix + "output.txt"));
  if (!a.extension.chambers.empty()) chambers(a, files.add(prefix + "chambers.txt"));
  files.commit();
}

void chambers(const analysis& a, platform::OutputFile& f) {
  const GasChambers gas(a);
  const std::vector<ChamberState> states = gas.states(a.u);
  rule(f, 89);
  f.text("Chamber              Volume            Pressure               Gauge    Reference Volume").line_end();
  rule(f, 89);
  f.line_end();
  for (std::size_t k = 0; k < states.size(); ++k) {
    const Chamber* c = nullptr;
    for (const Chamber& r : a.extension.chambers) {
      if (r.number == static_cast<int>(k + 1)) c = &r;
    }
    f.integer(static_cast<int>(k + 1), 7);
    f.chars(' ', 5).real(states[k].volume, kFore, kAft, kExp);
    f.chars(' ', 5).real(states[k].pressure, kFore, kAft, kExp);
    f.chars(' ', 5).real(states[k].pressure - c->ambient, kFore, kAft, kExp);
    f.chars(' ', 5).real(gas.reference_volume(k), kFore, kAft, kExp);
    f.line_end();
  }
}

void output(analysis& a, const MaterialLaw& law, platform::OutputFile& f) {
  rule(f, 65);
  f.text("| Major Iterations                            | ").integer(a.major, 15).text(" |").line_end();
  f.text("| Last Minor Iterations                       | ").integer(a.minor, 15).text(" |").line_end();
  f.text("| Total Potential Energy                      | ").real(a.energy, kFore, kAft, kExp).text(" |").line_end();
  f.text("| Allowable Maximum Residue                   | ").real(a.residue, kFore, kAft, kExp).text(" |").line_end();
  rule(f, 65);
  f.line_end().line_end();

  heading(f, " Node             Displ X             Displ Y             Displ Z");
  for (int p = 1; p <= a.nnode; ++p) {
    f.integer(p, 5);
    for (int j = 1; j <= 3; ++j) {
      const int d = a.dof(p, j);
      f.chars(' ', 5).real(d <= a.nfree ? a.u(d) : a.displ(p, j), kFore, kAft, kExp);
    }
    f.line_end();
  }
  f.line_end().line_end();

  heading(f, " Node             Coord X             Coord Y             Coord Z");
  for (int p = 1; p <= a.nnode; ++p) {
    const auto v = vertex(a, p);
    f.integer(p, 5);
    for (int j = 0; j < 3; ++j) f.chars(' ', 5).real(v[static_cast<std::size_t>(j)], kFore, kAft, kExp);
    f.line_end();
  }
  f.line_end().line_end();

  // Residuals: the applied loads with their sign turned, to which every
  // element adds its internal forces below. At a prescribed component the
  // result is the reaction of the support on the membrane.
  double* force = a.force.data();
  for (int i = 0; i < 3 * a.nnode; ++i) force[i] = -force[i];
  // The gas of the chambers loads the membrane too.
  const GasChambers gas(a);
  if (!gas.empty()) gas.add_loads(a.u, -1.0, a.force);

  rule(f, 47);
  f.text("Element            Stress-1            Stress-2").line_end();
  rule(f, 47);
  f.line_end();
  std::array<double, 9> grad{};
  for (int e = 1; e <= a.nelem; ++e) {
    const element& el = a.elem(e);
    const ElementState st = law.cstobj(a, el, a.u, grad);
    PrincipalStresses ps = principal(el, st.n1, st.n2, st.n3);
    // The relaxed stress of a wrinkled element is uniaxial and a slack one
    // carries none: their zeros are exact, not the rounding of the formula.
    if (a.wrinkling && st.state == static_cast<int>(MembraneState::wrinkled)) ps.s2 = 0.0;
    if (a.wrinkling && st.state == static_cast<int>(MembraneState::slack)) ps = {0.0, 0.0};
    f.integer(e, 7).chars(' ', 5).real(ps.s1, kFore, kAft, kExp).chars(' ', 5).real(ps.s2, kFore, kAft, kExp);
    f.line_end();
    for (int v = 0; v < 3; ++v) {
      for (int j = 1; j <= 3; ++j) {
        a.force(el.node[static_cast<std::size_t>(v)], j) += grad[static_cast<std::size_t>(3 * v + j - 1)];
      }
    }
  }
  f.line_end().line_end();

  heading(f, " Node             Force X             Force Y             Force Z");
  for (int p = 1; p <= a.nnode; ++p) {
    std::array<bool, 3> reported{};
    int last = 0;
    for (int j = 1; j <= 3; ++j) {
      reported[static_cast<std::size_t>(j - 1)] = a.dof(p, j) > a.nfree && std::fabs(a.force(p, j)) > a.residue;
      if (reported[static_cast<std::size_t>(j - 1)]) last = j;
    }
    if (last == 0) continue;
    f.integer(p, 5);
    for (int j = 1; j <= last; ++j) {
      if (reported[static_cast<std::size_t>(j - 1)]) {
        f.chars(' ', 5).real(a.force(p, j), kFore, kAft, kExp);
      } else {
        f.chars(' ', 20);
      }
    }
    f.line_end();
  }
}

}  // namespace solver
