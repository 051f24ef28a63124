#pragma once
// A membrane model built from a triangle mesh: the nodes, triangles and
// named groups a mesh file holds (MeshData, filled by the Gmsh reader of
// gmsh_reader.h or by hand in the tests) and the settings of the command
// line (Settings) give the model that "input.txt" describes (Model).
//
// Numbering. Only nodes used by a membrane triangle are kept; they are
// numbered 1..N in increasing Gmsh node tag, and the triangles 1..M in
// increasing Gmsh element tag. Tags are the mesh's own numbering and the
// same in every format Gmsh writes, so one mesh saved as MSH 2.2 and as
// MSH 4.1 gives the same model.
//
// Orientation. The solvers apply a triangle's pressure along the normal
// (P2 - P1) x (P3 - P1) of its vertex order. By default the triangles keep
// the vertex order of the mesh; Orient turns them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/model_writer.h"

namespace mesh {

using solver::model_file::AnalysisParameters;

// ---------------------------------------------------------------- mesh data

struct Node {
  std::size_t tag = 0;        // Gmsh node tag
  std::array<double, 3> x{};  // coordinates X, Y, Z
};

struct Triangle {
  std::size_t tag = 0;                 // Gmsh element tag
  std::array<std::size_t, 3> nodes{};  // Gmsh node tags of vertices 1, 2, 3
  int entity = 0;                      // tag of the 2-D entity (surface) it lies on
};

// 2-D elements other than 3-node triangles on one surface entity.
struct OtherElements {
  int entity = 0;
  std::string name;  // Gmsh's element name, e.g. "Quadrilateral 4"
  std::size_t count = 0;
};

// A physical group: a name given to entities of one dimension.
struct Group {
  int dim = 0;  // 0 points, 1 curves, 2 surfaces, 3 volumes
  std::string name;
  std::vector<int> entities;       // tags of its entities (of dimension dim)
  std::vector<std::size_t> nodes;  // Gmsh tags of the nodes of its elements
};

struct MeshData {
  std::string file;                   // the mesh file, for messages
  std::vector<Node> nodes;            // every node, in increasing tag
  std::vector<Triangle> triangles;    // every 3-node triangle, in increasing tag
  std::vector<OtherElements> others;  // 2-D elements that are not 3-node triangles
  std::vector<Group> groups;
};

// ---------------------------------------------------------------- settings

enum class Orient { keep, first, px, mx, py, my, pz, mz };

struct Fix {
  std::string group;
  std::array<bool, 3> axes{};  // X, Y, Z held at zero displacement
  std::string option;          // the option as given, for messages ("--fix rim=xyz")
};

struct Pressure {
  std::string group;  // a surface group
  double value = 0.0;
  std::string option;
};

struct Load {
  std::string group;
  int axis = 0;  // 0, 1, 2 for X, Y, Z
  double value = 0.0;
  std::string option;
};

// A membrane prestress on the triangles of a surface group: n1 along the
// projection of `direction` onto each triangle, n2 across it (n1 == n2:
// isotropic, direction unused), as the model file's :prestress records.
struct Prestress {
  std::string group;  // a surface group
  double n1 = 0.0;
  double n2 = 0.0;
  std::array<double, 3> direction{};
  std::string option;
};

// A gas chamber bounded by the triangles of a surface group, filled to the
// gauge pressure `gauge` at the mesh's shape, its gas law p V^kappa = const.
struct ChamberOption {
  std::string group;  // a surface group
  double gauge = 0.0;
  double kappa = 1.0;
  std::string option;
};

struct Settings {
  double young = 1000.0;  // membrane modulus (Young's modulus times thickness)
  double poisson = 0.3;
  double density = 0.0;  // weight per unit area, along -Z
  // The values `square` writes, and those of --param: any value the model
  // file takes. maxminor, unless given, is kMinorPerNode per node, as
  // `square` gives.
  AnalysisParameters parameters;
  std::optional<std::int32_t> maxminor;
  std::vector<std::string> surfaces;  // --surface: the membrane's groups; empty: every triangle
  std::vector<Fix> fixes;
  std::vector<Pressure> pressures;
  std::vector<Load> loads;
  std::vector<Prestress> prestress;
  std::vector<ChamberOption> chambers;
  double ambient = 101325.0;  // the chambers' ambient pressure, absolute
  Orient orient = Orient::keep;
};

// ---------------------------------------------------------------- model

struct Model {
  AnalysisParameters parameters;  // maxminor filled in
  double young = 0.0, poisson = 0.0, density = 0.0;
  std::vector<std::array<double, 3>> coord;       // #N x (X, Y, Z)
  std::vector<std::array<std::int32_t, 3>> elem;  // #M x node indices, 0-based
  std::vector<std::size_t> node_tag;              // #N Gmsh node tags
  std::vector<std::size_t> elem_tag;              // #M Gmsh element tags
  std::vector<std::array<bool, 3>> fixed;         // #N x axis: held at zero
  std::vector<std::array<bool, 3>> loaded;        // #N x axis: named by a --load
  std::vector<std::array<double, 3>> load;        // #N x axis: nodal force
  std::vector<bool> pressed;                      // #M: named by a --pressure
  std::vector<double> pressure;                   // #M
  std::vector<Prestress> prestresses;             // the --prestress values, in command-line order
  // #M: the index in prestresses of the one --prestress that names each
  // triangle, -1 for none. Empty when no --prestress is given.
  std::vector<int> prestressed;
  std::vector<ChamberOption> chambers;  // the --chamber values, in command-line order
  double ambient = 0.0;
  // #M: the index in chambers of the --chamber whose group holds each
  // triangle, -1 for none. Empty when no --chamber is given.
  std::vector<int> chambered;
};

// Builds the model; DataError naming the option, group or file on every
// fault (see the definition for the list).
Model build_model(const MeshData& mesh, const Settings& settings);

// The model file's description of the model: the constraints and loads
// node by node, X before Y before Z, the pressures of the triangles a
// --pressure names, and one :prestress record for every run of
// consecutive triangles that one --prestress names; a :chambers record for
// each --chamber and an :enclosures record for every run of its triangles.
solver::model_file::Description describe(const Model& model);

// Writes the model in the canonical layout of "input.txt", completely or
// not at all. FileError when that is impossible.
void write_model(const Model& model, const std::string& file_name);

// ---------------------------------------------------------------- option values
// Each takes the value of one option as given on the command line and throws
// DataError naming the option on text it cannot take.

double parse_real(const std::string& text, const std::string& option);
std::int32_t parse_int(const std::string& text, const std::string& option);
// GROUP=... is split at its last '=': what follows it (AXES, P,
// AXIS:VALUE) never holds one, so a group name may.
Fix parse_fix(const std::string& value);            // "GROUP=AXES", AXES a non-empty subset of xyz
Pressure parse_pressure(const std::string& value);  // "GROUP=P"
Load parse_load(const std::string& value);          // "GROUP=AXIS:VALUE"
// "GROUP=N" (isotropic) or "GROUP=N1,N2:X,Y,Z" (N1 along the projection
// of the direction X, Y, Z, not zero, N2 across it).
Prestress parse_prestress(const std::string& value);
// "GROUP=GAUGE" or "GROUP=GAUGE:KAPPA" (kappa at least 1; 1 when left out).
ChamberOption parse_chamber(const std::string& value);
// "NAME=VALUE": one of the seven parameters, a finite real or a 32-bit
// integer as the model file's reader takes it, into s.
void parse_param(const std::string& value, Settings& s);
Orient parse_orient(const std::string& value);  // +x -x +y -y +z -z first keep

}  // namespace mesh
