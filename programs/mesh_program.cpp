#include "programs/mesh_program.h"

#include <gmsh.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "mesh/gmsh_reader.h"
#include "mesh/model.h"

namespace programs {

namespace {

// The options as given: every value is text until the model is built, so
// that a value that does not parse gets a failure report naming its option
// (status 1), like every other fault of the input. Only a command line
// that cannot be taken apart is a usage error (status 2).
struct MeshOptions {
  std::string mesh;
  std::string young, poisson, density, ambient;
  std::vector<std::string> surfaces, fixes, pressures, loads, prestress, chambers, params;
  std::string orient = "keep";
  std::string output = "input.txt";
};

void add_mesh_options(cli::CommandLine& line, MeshOptions& c) {
  CLI::App& app = line.app();
  // Repeatable options take one value per occurrence, so that a value list
  // never swallows the mesh file that follows it.
  const auto repeatable = [&](const char* name, std::vector<std::string>& into, const char* value, const char* help) {
    app.add_option(name, into, help)
        ->type_name(value)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  app.add_option("MESH", c.mesh, "The Gmsh mesh file (MSH 4.1 or 2.2, ASCII or binary)")->type_name("")->required();
  app.add_option("--young", c.young, "Membrane modulus: Young's modulus times thickness (default 1000)")
      ->type_name("E");
  app.add_option("--poisson", c.poisson, "Poisson's ratio, -1 < NU <= 0.5 (default 0.3)")->type_name("NU");
  app.add_option("--density", c.density, "Weight per unit area, acting along -z (default 0)")->type_name("RHO");
  repeatable("--surface",
             c.surfaces,
             "GROUP",
             "A surface group whose 3-node triangles form the membrane (default: every 3-node triangle)");
  repeatable("--fix", c.fixes, "GROUP=AXES", "Hold the nodes of a group along some of x, y, z (e.g. rim=xyz)");
  repeatable("--pressure",
             c.pressures,
             "GROUP=P",
             "Pressure on the triangles of a surface group, along their normals (e.g. roof=1.5)");
  repeatable("--load", c.loads, "GROUP=AXIS:VALUE", "Force on every node of a group along one axis (e.g. tip=z:-0.5)");
  repeatable("--prestress",
             c.prestress,
             "GROUP=N",
             "Membrane prestress (force per length) on the\n"
             "triangles of a surface group: isotropic N (e.g.\n"
             "roof=2), or GROUP=N1,N2:X,Y,Z, N1 along X,Y,Z\n"
             "projected onto each triangle, N2 across it");
  repeatable("--chamber",
             c.chambers,
             "GROUP=GAUGE[:KAPPA]",
             "A gas chamber bounded by the triangles of a\n"
             "surface group (normals out of the gas), filled\n"
             "to the gauge pressure GAUGE at the mesh's shape;\n"
             "p V^KAPPA constant (KAPPA 1 when left out, 1.4\n"
             "adiabatic air); volume measured from the origin,\n"
             "which every closing symmetry plane holds");
  app.add_option("--ambient", c.ambient, "Absolute ambient pressure of the chambers\n(default 101325)")->type_name("P");
  repeatable("--param",
             c.params,
             "NAME=VALUE",
             "Analysis parameter lstol, maxls, mntol, mnref, maxminor, maxlist or maxmajor (e.g. maxmajor=40)");
  app.add_option("--orient",
                 c.orient,
                 "Turn the triangles: +x, -x, +y, -y, +z, -z (normal towards that side), first (like the first "
                 "triangle of each connected part) or keep (default)")
      ->type_name("DIR");
  app.add_option("--output", c.output, "The model file to write (default input.txt)")->type_name("FILE");
}

mesh::Settings settings_of(const MeshOptions& c) {
  mesh::Settings s;
  if (!c.young.empty()) s.young = mesh::parse_real(c.young, "--young");
  if (!c.poisson.empty()) s.poisson = mesh::parse_real(c.poisson, "--poisson");
  if (!c.density.empty()) s.density = mesh::parse_real(c.density, "--density");
  s.surfaces = c.surfaces;
  for (const std::string& v : c.fixes) s.fixes.push_back(mesh::parse_fix(v));
  for (const std::string& v : c.pressures) s.pressures.push_back(mesh::parse_pressure(v));
  for (const std::string& v : c.loads) s.loads.push_back(mesh::parse_load(v));
  for (const std::string& v : c.prestress) s.prestress.push_back(mesh::parse_prestress(v));
  for (const std::string& v : c.chambers) s.chambers.push_back(mesh::parse_chamber(v));
  if (!c.ambient.empty()) s.ambient = mesh::parse_real(c.ambient, "--ambient");
  for (const std::string& v : c.params) mesh::parse_param(v, s);
  s.orient = mesh::parse_orient(c.orient);
  return s;
}

}  // namespace

int mesh_main(int argc, const char* const* argv) {
  cli::CommandLine line({"veloramesh",
                         "Builds the membrane model of velora1 and velora2 from a mesh written by Gmsh: the 3-node "
                         "triangles of the mesh or of its surface groups, with supports, loads, pressures and "
                         "prestress on its physical groups, and gas chambers they bound.",
                         "MESH (a Gmsh mesh, MSH 4.1 or 2.2, ASCII or binary)",
                         "input.txt (the model; the file of --output)"});
  MeshOptions given;
  add_mesh_options(line, given);
  line.add_version_line(std::string("gmsh: ") + GMSH_API_VERSION);
  return line.run(argc, argv, [&] {
    // Settings first: a faulty value fails before the mesh is read.
    const mesh::Settings s = settings_of(given);
    mesh::write_model(mesh::build_model(mesh::read_gmsh(given.mesh), s), given.output);
  });
}

}  // namespace programs
