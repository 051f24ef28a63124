#include "programs/mesh_program.h"

#include <gmsh.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "mesh/gmsh_reader.h"
#include "mesh/model.h"
#include "platform/failure.h"

#ifndef VELORA_VERSION
#error "VELORA_VERSION must be defined by the build (project(velora VERSION ...))"
#endif

namespace mesh {

namespace {

constexpr const char* kUsage =
    "usage: veloramesh MESH [--young E] [--poisson NU] [--density RHO] [--surface GROUP]... "
    "[--fix GROUP=AXES]... [--pressure GROUP=P]... [--load GROUP=AXIS:VALUE]... [--param NAME=VALUE]... "
    "[--orient DIR] [--output FILE] [-C DIR]";

// The command line as given: every value is text until the model is built,
// so that a value that does not parse gets a failure report naming its
// option (status 1), like every other fault of the input. Only a command
// line that cannot be taken apart is a usage error (status 2).
struct CommandLine {
  std::string mesh;
  std::string young, poisson, density;
  std::vector<std::string> surfaces, fixes, pressures, loads, params;
  std::string orient = "keep";
  std::string output = "input.txt";
  std::string directory;
};

void declare(CLI::App& app, CommandLine& c) {
  // Repeatable options take one value per occurrence, so that a value list
  // never swallows the mesh file that follows it.
  const auto repeatable = [&](const char* name, std::vector<std::string>& into, const char* value, const char* help) {
    app.add_option(name, into, help)
        ->type_name(value)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  };
  app.add_option("MESH", c.mesh, "Gmsh mesh file (MSH 4.1 or 2.2, ASCII or binary)")->type_name("")->required();
  app.add_option("--young", c.young, "membrane modulus: Young's modulus times thickness (default 1000)")
      ->type_name("E");
  app.add_option("--poisson", c.poisson, "Poisson's ratio, -1 < NU <= 0.5 (default 0.3)")->type_name("NU");
  app.add_option("--density", c.density, "weight per unit area, acting along -z (default 0)")->type_name("RHO");
  repeatable("--surface",
             c.surfaces,
             "GROUP",
             "a surface group whose 3-node triangles form the membrane (default: every 3-node triangle)");
  repeatable("--fix", c.fixes, "GROUP=AXES", "hold the nodes of a group along some of x, y, z (e.g. rim=xyz)");
  repeatable("--pressure",
             c.pressures,
             "GROUP=P",
             "pressure on the triangles of a surface group, along their normals (e.g. roof=1.5)");
  repeatable("--load", c.loads, "GROUP=AXIS:VALUE", "force on every node of a group along one axis (e.g. tip=z:-0.5)");
  repeatable("--param",
             c.params,
             "NAME=VALUE",
             "analysis parameter lstol, maxls, mntol, mnref, maxminor, maxlist or maxmajor (e.g. maxmajor=40)");
  app.add_option("--orient",
                 c.orient,
                 "turn the triangles: +x, -x, +y, -y, +z, -z (normal towards that side), first (like the first "
                 "triangle of each connected part) or keep (default)")
      ->type_name("DIR");
  app.add_option("--output", c.output, "the model file to write (default input.txt)")->type_name("FILE");
  app.add_option("-C", c.directory, "work in directory DIR: read and write files relative to it")->type_name("DIR");
  // The first line as every program prints it, then the library it reads with.
  app.set_version_flag("--version",
                       std::string("veloramesh (velora) ") + VELORA_VERSION + "\ngmsh: " + GMSH_API_VERSION);
}

Settings settings_of(const CommandLine& c) {
  Settings s;
  if (!c.young.empty()) s.young = parse_real(c.young, "--young");
  if (!c.poisson.empty()) s.poisson = parse_real(c.poisson, "--poisson");
  if (!c.density.empty()) s.density = parse_real(c.density, "--density");
  s.surfaces = c.surfaces;
  for (const std::string& v : c.fixes) s.fixes.push_back(parse_fix(v));
  for (const std::string& v : c.pressures) s.pressures.push_back(parse_pressure(v));
  for (const std::string& v : c.loads) s.loads.push_back(parse_load(v));
  for (const std::string& v : c.params) parse_param(v, s.parameters);
  s.orient = parse_orient(c.orient);
  return s;
}

}  // namespace

int run_program(int argc, char** argv) {
  CLI::App app("veloramesh: a membrane model (\"input.txt\") from a Gmsh mesh", "veloramesh");
  CommandLine c;
  declare(app, c);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "veloramesh: " << e.what() << "\n" << kUsage << "\n";
    return 2;
  }
  return platform::run_program([&] {
    // Settings first: a faulty value fails before any file is touched.
    const Settings s = settings_of(c);
    if (!c.directory.empty() && ::chdir(c.directory.c_str()) != 0) {
      throw platform::FileError("-C " + c.directory + ": cannot change to this directory (" + std::strerror(errno) +
                                ")");
    }
    write_model(build_model(read_gmsh(c.mesh), s), c.output);
  });
}

}  // namespace mesh
