// The model file reader: seven sections, each opened by a marker line (a
// line whose first character is ':'), with free-form numbers after it.
// Records are stored by the number they carry, so they may come in any
// order and a later record for the same node, element, or node and axis
// replaces an earlier one.

#include <cstdint>
#include <string>
#include <vector>

#include "model/model.h"
#include "platform/failure.h"
#include "platform/text_reader.h"

namespace solver {

namespace {

// A count read from the file is checked against what the rest of the file
// can still hold before any table is sized by it: a record of q numbers
// needs at least 2 characters per number (a digit and a separator), the
// last record one less (no line end after it). A corrupt count then stops
// the run with a clear message instead of exhausting memory.
void check_count(const platform::TextReader& reader, const char* section, int count, int numbers_per_record) {
  if (count <= 0) return;
  const std::int64_t least = std::int64_t{count} * 2 * numbers_per_record - 1;
  if (least > static_cast<std::int64_t>(reader.remaining())) {
    throw platform::EndError(reader.where("the " + std::string(section) + " section announces " +
                                          std::to_string(count) + " records, but the rest of the file (" +
                                          std::to_string(reader.remaining()) + " characters) cannot hold them"));
  }
}

// Reads a section's count line: the count, checked while the reader still
// stands on its line (so the failure names that line), then the rest of
// the line.
int read_count(
    platform::TextReader& reader, const char* section, const char* field, const char* name, int numbers_per_record) {
  reader.set_record(section, 0);
  const int count = reader.read_int(field);
  check_count(reader, name, count, numbers_per_record);
  reader.skip_line("the end of the count line");
  return count;
}

// A number from a record that selects a table row: outside 1..size it is a
// range failure naming the record and the section.
void check_index(const platform::TextReader& reader,
                 const char* what,
                 int value,
                 int size,
                 const char* record,
                 int record_number,
                 const char* section) {
  if (value < 1 || value > size) {
    throw platform::RangeError(reader.where(std::string(record) + " " + std::to_string(record_number) + " of the " +
                                            section + " section names " + what + " " + std::to_string(value) +
                                            ", outside 1.." + std::to_string(size)));
  }
}

// Every node and element number must have a record: a node without one
// would stand at coordinates nobody gave.
void check_all_named(const platform::TextReader& reader,
                     const std::vector<bool>& named,
                     const char* what,
                     const char* section) {
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (!named[i]) {
      throw platform::DataError(reader.file_name() + ": " + what + " " + std::to_string(i + 1) +
                                " has no record in the " + section + " section");
    }
  }
}

void read_parameters(analysis& a, platform::TextReader& reader) {
  reader.scan("parameters");
  reader.set_record("parameters record", 0);
  a.lstol = reader.read_real("lstol");
  a.maxls = reader.read_int("maxls");
  a.mntol = reader.read_real("mntol");
  a.mnref = reader.read_real("mnref");
  a.maxminor = reader.read_int("maxminor");
  a.maxlist = reader.read_int("maxlist");
  a.maxmajor = reader.read_int("maxmajor");
  reader.skip_line("the end of the parameters record");
  if (a.mntol <= 0.0) a.mntol = 0.001;
}

void read_material(analysis& a, platform::TextReader& reader) {
  reader.scan("material");
  reader.set_record("material record", 0);
  a.young = reader.read_real("young");
  a.poisson = reader.read_real("poisson");
  a.density = reader.read_real("density");
  reader.skip_line("the end of the material record");
}

void read_nodes(analysis& a, platform::TextReader& reader) {
  reader.scan("nodes");
  const int count = read_count(reader, "nodes section", "node count", "nodes", 4);
  a.nnode = count > 0 ? count : 0;  // a count of zero or less: no nodes
  a.coordx = terms::Vector(count);
  a.coordy = terms::Vector(count);
  a.coordz = terms::Vector(count);
  std::vector<bool> named(static_cast<std::size_t>(a.coordx.size()), false);
  // The line after the count is skipped whole, whatever it holds.
  reader.skip_line("the line after the node count");
  for (int r = 1; r <= count; ++r) {
    reader.set_record("node record", r);
    const int k = reader.read_int("node number");
    check_index(reader, "node", k, a.nnode, "node record", r, "nodes");
    a.coordx(k) = reader.read_real("coord x");
    a.coordy(k) = reader.read_real("coord y");
    a.coordz(k) = reader.read_real("coord z");
    named[static_cast<std::size_t>(k - 1)] = true;
    reader.skip_line("the end of a node record");
  }
  check_all_named(reader, named, "node", "nodes");
}

void read_elements(analysis& a, platform::TextReader& reader) {
  reader.scan("elements");
  const int count = read_count(reader, "elements section", "element count", "elements", 4);
  a.nelem = count > 0 ? count : 0;
  a.elem = terms::Array1<element>(count);  // pressure 0.0 unless a pressure record says otherwise
  std::vector<bool> named(static_cast<std::size_t>(a.elem.size()), false);
  reader.skip_line("the line after the element count");
  for (int r = 1; r <= count; ++r) {
    reader.set_record("element record", r);
    const int e = reader.read_int("element number");
    check_index(reader, "element", e, a.nelem, "element record", r, "elements");
    // Node numbers are checked by start, which uses them.
    element& el = a.elem(e);
    el.node[0] = reader.read_int("node of vertex 1");
    el.node[1] = reader.read_int("node of vertex 2");
    el.node[2] = reader.read_int("node of vertex 3");
    named[static_cast<std::size_t>(e - 1)] = true;
    reader.skip_line("the end of an element record");
  }
  check_all_named(reader, named, "element", "elements");
}

// Constraints and loads share a record shape: node, axis, value.
void read_node_axis_values(platform::TextReader& reader,
                           const char* section,
                           const char* record,
                           const char* value_name,
                           int nnode,
                           terms::RealTable& values,
                           terms::IntTable* marks) {
  reader.scan(section);
  const std::string section_name = std::string(section) + " section";
  const int count = read_count(reader, section_name.c_str(), "record count", section, 3);
  if (count <= 0) return;  // no line is skipped: what follows is preamble of the next section
  reader.skip_line("the line after the record count");
  for (int r = 1; r <= count; ++r) {
    reader.set_record(record, r);
    const int k = reader.read_int("node number");
    check_index(reader, "node", k, nnode, record, r, section);
    const int axis = reader.read_int("axis");
    check_index(reader, "axis", axis, 3, record, r, section);
    values(k, axis) = reader.read_real(value_name);
    reader.skip_line("the end of a record");
    if (marks != nullptr) (*marks)(k, axis) = 1;
  }
}

void read_pressures(analysis& a, platform::TextReader& reader) {
  reader.scan("pressures");
  const int count = read_count(reader, "pressures section", "record count", "pressures", 2);
  if (count <= 0) return;
  reader.skip_line("the line after the record count");
  for (int r = 1; r <= count; ++r) {
    reader.set_record("pressure record", r);
    const int e = reader.read_int("element number");
    check_index(reader, "element", e, a.nelem, "pressure record", r, "pressures");
    a.elem(e).pressure = reader.read_real("pressure");
    reader.skip_line("the end of a pressure record");
  }
}

}  // namespace

void input(analysis& a) {
  platform::TextReader reader = platform::TextReader::open("input.txt");
  input(a, reader);
}

void input(analysis& a, platform::TextReader& reader) {
  read_parameters(a, reader);
  read_material(a, reader);
  read_nodes(a, reader);
  read_elements(a, reader);
  a.dof = terms::IntTable(a.nnode, 0);
  a.displ = terms::RealTable(a.nnode, 0.0);
  read_node_axis_values(reader, "constraints", "constraint record", "displ", a.nnode, a.displ, &a.dof);
  a.action = terms::RealTable(a.nnode, 0.0);
  read_node_axis_values(reader, "loads", "load record", "action", a.nnode, a.action, nullptr);
  read_pressures(a, reader);
}

}  // namespace solver
