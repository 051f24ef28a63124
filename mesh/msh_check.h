#pragma once
// The structure of an MSH file (2.2 or 4.1, ASCII or binary), checked
// before Gmsh's library reads it.
//
// Gmsh sizes its tables by the counts a file announces and says little
// when a file ends early: a corrupt count (a $Nodes section that claims two
// billion nodes, a binary file whose byte-order check was written on
// another machine) exhausts memory with no word of the file, and a file
// cut short may read as a mesh without triangles. So the sections that
// carry counts ($PhysicalNames, $Entities, $Nodes, $Elements) are walked
// here the way Gmsh reads them, without storing anything: every count is
// checked against what the rest of the file can hold (before it could size
// anything), and every section must end with its end marker. Other
// sections are passed over to their end markers. A mesh file must have a
// $Nodes and an $Elements section (Gmsh writes both, empty ones too).
//
// A failure names the file and, for an ASCII file, the line, for a binary
// one the byte offset from the start of the file (lines mean nothing in
// binary data): "mesh.msh:14: the $Nodes section announces 2000000000
// nodes, but the file ends after 286".

#include <functional>
#include <string>
#include <string_view>

namespace mesh {

// The number of nodes of a Gmsh element type, or a negative number for a
// type that Gmsh does not know.
using NodesOfType = std::function<int(int type)>;

// DataError naming the file and the line or byte on the first fault of
// structure in `content`, the whole text of `file`; nothing when the file
// is sound as far as its structure goes (the values are Gmsh's to read).
// The header ($MeshFormat with version 2.2 or 4.1) is checked first, as
// read_gmsh's messages give it.
void check_msh(const std::string& file, std::string_view content, const NodesOfType& nodes_of);

}  // namespace mesh
