#pragma once
// Reading a Gmsh mesh file (MSH 2.2 or 4.1, ASCII or binary) through Gmsh's
// own library.

#include <string>

#include "mesh/model.h"

namespace mesh {

// The nodes, the 3-node triangles (and a count of the other 2-D elements)
// and the physical groups of the mesh file, nodes and triangles in
// increasing tag. FileError when the file cannot be opened or is not a
// regular file (a directory, a device, a FIFO: platform::read_file);
// DataError naming the file, and the line or byte, when it is not an MSH
// file of version 2.2 or 4.1 or its structure is unsound (a count the file
// cannot hold, a section cut short: msh_check.h), all before Gmsh sees the
// file; DataError naming the file when Gmsh cannot read it, StorageError
// naming it when the mesh does not fit in memory. Gmsh prints
// nothing: its messages go into the failure.
MeshData read_gmsh(const std::string& file_name);

}  // namespace mesh
