#include "mesh/gmsh_reader.h"

#include <gmsh.h>

#include <algorithm>
#include <exception>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "mesh/msh_check.h"
#include "platform/failure.h"
#include "platform/text_reader.h"

// Gmsh 4.8's MSH 2.2 reader does not free the nodes and elements it has
// read when it gives up on a broken file; finalize() does not reach them
// either. The leak is the library's, bounded by one file, and the program
// ends soon after; LeakSanitizer builds are told to ignore what the library
// allocates (the hook is read by LeakSanitizer only).
extern "C" const char* __lsan_default_suppressions() { return "leak:libgmsh.so\n"; }

namespace mesh {

namespace {

// One use of Gmsh's library: it is initialised here, silent, without the
// user's configuration files, and finalised when this goes out of scope.
class GmshSession {
 public:
  GmshSession() {
    gmsh::initialize(0, nullptr, false);
    gmsh::option::setNumber("General.Terminal", 0);
    gmsh::logger::start();
  }
  ~GmshSession() {
    try {
      gmsh::logger::stop();
      gmsh::finalize();
    } catch (...) {  // nothing to be done about a failing clean-up
    }
  }
  GmshSession(const GmshSession&) = delete;
  GmshSession& operator=(const GmshSession&) = delete;

  // Gmsh's error messages logged so far, "; "-separated.
  static std::string errors() {
    std::vector<std::string> log;
    gmsh::logger::get(log);
    std::string s;
    for (const std::string& l : log) {
      if (l.rfind("Error", 0) != 0) continue;
      const std::size_t colon = l.find(':');
      s += (s.empty() ? "" : "; ") + (colon == std::string::npos ? l : l.substr(colon + 2));
    }
    return s;
  }
};

[[noreturn]] void gmsh_failed(const std::string& file, const std::string& thrown) {
  std::string errors = GmshSession::errors();
  if (errors.empty()) errors = thrown;
  throw platform::DataError(file + ": Gmsh cannot read the mesh: " + errors);
}

MeshData read(const std::string& file) {
  MeshData m;
  m.file = file;

  std::vector<std::size_t> tags;
  std::vector<double> coord, param;
  gmsh::model::mesh::getNodes(tags, coord, param, -1, -1, false, false);
  m.nodes.resize(tags.size());
  for (std::size_t k = 0; k < tags.size(); ++k)
    m.nodes[k] = Node{tags[k], {coord[3 * k], coord[3 * k + 1], coord[3 * k + 2]}};
  // Gmsh lists nodes entity by entity, and in another order for MSH 2.2
  // than for 4.1; the tags are the mesh's own order.
  std::sort(m.nodes.begin(), m.nodes.end(), [](const Node& a, const Node& b) { return a.tag < b.tag; });

  gmsh::vectorpair surfaces;
  gmsh::model::getEntities(surfaces, 2);
  for (const auto& [dim, entity] : surfaces) {
    std::vector<int> types;
    std::vector<std::vector<std::size_t>> element_tags, node_tags;
    gmsh::model::mesh::getElements(types, element_tags, node_tags, dim, entity);
    for (std::size_t i = 0; i < types.size(); ++i) {
      std::string name;
      int edim = 0, order = 0, nodes = 0, primary = 0;
      std::vector<double> local;
      gmsh::model::mesh::getElementProperties(types[i], name, edim, order, nodes, local, primary);
      if (edim == 2 && order == 1 && nodes == 3) {
        for (std::size_t e = 0; e < element_tags[i].size(); ++e) {
          const std::size_t* v = &node_tags[i][3 * e];
          m.triangles.push_back(Triangle{element_tags[i][e], {v[0], v[1], v[2]}, entity});
        }
      } else if (!element_tags[i].empty()) {
        m.others.push_back(OtherElements{entity, name, element_tags[i].size()});
      }
    }
  }
  std::sort(m.triangles.begin(), m.triangles.end(), [](const Triangle& a, const Triangle& b) { return a.tag < b.tag; });

  gmsh::vectorpair groups;
  gmsh::model::getPhysicalGroups(groups);
  for (const auto& [dim, tag] : groups) {
    Group g;
    g.dim = dim;
    gmsh::model::getPhysicalName(dim, tag, g.name);
    // A group without a name can only be named by its number.
    if (g.name.empty()) g.name = std::to_string(tag);
    gmsh::model::getEntitiesForPhysicalGroup(dim, tag, g.entities);
    gmsh::model::mesh::getNodesForPhysicalGroup(dim, tag, g.nodes, coord);
    m.groups.push_back(std::move(g));
  }
  return m;
}

}  // namespace

MeshData read_gmsh(const std::string& file) {
  // A regular file only, read whole and checked before Gmsh opens it
  // (msh_check.h); the text is let go before Gmsh reads the file again.
  std::optional<std::string> content;
  try {
    content = platform::read_file(file);
  } catch (const std::bad_alloc&) {
    throw platform::StorageError(file + ": not enough memory to read the mesh");
  }
  GmshSession session;
  // Gmsh reports its failures by throwing its message as a std::string
  // (General.AbortOnError, which initialize sets to 2).
  try {
    std::map<int, int> known;
    check_msh(file, *content, [&known](int type) {
      const auto [it, fresh] = known.emplace(type, -1);
      if (fresh) {
        try {
          std::string name;
          int dim = 0, order = 0, nodes = 0, primary = 0;
          std::vector<double> local;
          gmsh::model::mesh::getElementProperties(type, name, dim, order, nodes, local, primary);
          it->second = nodes;
        } catch (...) {  // a type Gmsh does not know: the check reports it
        }
      }
      return it->second;
    });
    content.reset();
    gmsh::open(file);
    const std::string errors = GmshSession::errors();
    if (!errors.empty()) gmsh_failed(file, errors);
    return read(file);
  } catch (const std::string& thrown) {
    gmsh_failed(file, thrown);
  } catch (const platform::Failure&) {
    throw;
  } catch (const std::bad_alloc&) {
    // The check leaves Gmsh no count it cannot hold; what is left is a
    // mesh too large for this machine's memory, named by its file.
    throw platform::StorageError(file + ": not enough memory to read the mesh");
  } catch (const std::exception& e) {
    gmsh_failed(file, e.what());
  }
}

}  // namespace mesh
