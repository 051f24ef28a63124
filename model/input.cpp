// The model file reader: seven sections, each opened by a marker line (a
// line whose first character is ':'), with free-form numbers after it.
// Records are stored by the number they carry, so they may come in any
// order and a later record for the same node, element, or node and axis
// replaces an earlier one.
//
// After the pressures, the optional extension: further sections on the same
// frame, each opened by a marker line that names it (":prestress"), in any
// order and each at most once. Their records are kept as read, in file
// order; each is checked as it is read, and what joins two sections (the
// chambers the enclosures name) once all are read.

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "model/model.h"
#include "platform/failure.h"
#include "platform/number_image.h"
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
  a.element_line.assign(static_cast<std::size_t>(a.nelem), 0);
  std::vector<bool> named(static_cast<std::size_t>(a.elem.size()), false);
  reader.skip_line("the line after the element count");
  for (int r = 1; r <= count; ++r) {
    reader.set_record("element record", r);
    const int e = reader.read_int("element number");
    check_index(reader, "element", e, a.nelem, "element record", r, "elements");
    // Node numbers are checked by start, which uses them; it names the
    // record by its line (a later record of the element replaces this one).
    a.element_line[static_cast<std::size_t>(e - 1)] = reader.line();
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

// ---------------------------------------------------------------- extension

// "input.txt:52: " for a failure that belongs to an earlier line than the
// reader's.
std::string at_line(const platform::TextReader& reader, std::int64_t line, const std::string& message) {
  return reader.file_name() + ":" + std::to_string(line) + ": " + message;
}

std::string image(double v) { return platform::real_image(v, 1, 6, 3); }

// The extension's sections, in the order the writer writes them.
enum Section : std::size_t { kWrinkling, kPrestress, kChambers, kEnclosures, kSections };
constexpr std::array<std::string_view, kSections> kKeywords = {"wrinkling", "prestress", "chambers", "enclosures"};
constexpr const char* kKeywordList = "\":wrinkling\", \":prestress\", \":chambers\" or \":enclosures\"";

// The element ranges of one section, which may not overlap: each range as
// first -> (last, record, line).
class Ranges {
 public:
  Ranges(const char* record, const char* section, const char* why) : record_(record), section_(section), why_(why) {}

  // Reads record r's first and last element and checks them against nelem
  // and the ranges before it.
  std::pair<int, int> read(platform::TextReader& reader, int nelem, int r) {
    const int first = reader.read_int("first element");
    const int last = reader.read_int("last element");
    check_index(reader, "element", first, nelem, record_, r, section_);
    check_index(reader, "element", last, nelem, record_, r, section_);
    if (first > last) {
      throw platform::DataError(reader.where(std::string(record_) + " " + std::to_string(r) + " of the " + section_ +
                                             " section runs from element " + std::to_string(first) + " to element " +
                                             std::to_string(last) + "; expected first <= last"));
    }
    // The ranges kept are disjoint: only the one that starts last at or
    // before `last` can reach `first`.
    auto it = ranges_.upper_bound(last);
    if (it != ranges_.begin()) {
      --it;
      const Range& earlier = it->second;
      if (earlier.last >= first) {
        throw platform::DataError(reader.where(
            std::string(record_) + " " + std::to_string(r) + " of the " + section_ + " section (elements " +
            std::to_string(first) + ".." + std::to_string(last) + ") overlaps " + record_ + " " +
            std::to_string(earlier.record) + " (elements " + std::to_string(it->first) + ".." +
            std::to_string(earlier.last) + ", line " + std::to_string(earlier.line) + "): " + why_));
      }
    }
    ranges_.emplace(first, Range{last, r, reader.line()});
    return {first, last};
  }

 private:
  struct Range {
    int last;
    int record;
    std::int64_t line;
  };
  const char* record_;
  const char* section_;
  const char* why_;
  std::map<int, Range> ranges_;
};

// A section's count line and, after a count greater than zero, the one
// line skipped; returns the count (0 for one of zero or less).
int read_extension_count(platform::TextReader& reader, const char* section, int numbers_per_record) {
  const std::string section_name = std::string(section) + " section";
  const int count = read_count(reader, section_name.c_str(), "record count", section, numbers_per_record);
  if (count <= 0) return 0;
  reader.skip_line("the line after the record count");
  return count;
}

void read_wrinkling(analysis& a, platform::TextReader& reader) {
  reader.set_record("wrinkling record", 0);
  const bool on = reader.read_word("wrinkling", {"on", "off"}) == 0;
  reader.skip_line("the end of the wrinkling record");
  a.extension.wrinkling = on;
  a.wrinkling = on;
}

void read_prestress(analysis& a, platform::TextReader& reader) {
  const int count = read_extension_count(reader, "prestress", 7);
  Ranges ranges("prestress record", "prestress", "an element takes one prestress");
  a.extension.prestress.reserve(static_cast<std::size_t>(count));
  for (int r = 1; r <= count; ++r) {
    reader.set_record("prestress record", r);
    PrestressRange p;
    std::tie(p.first, p.last) = ranges.read(reader, a.nelem, r);
    p.line = static_cast<std::int32_t>(reader.line());
    p.n1 = reader.read_real("n1");
    p.n2 = reader.read_real("n2");
    p.direction[0] = reader.read_real("dir x");
    p.direction[1] = reader.read_real("dir y");
    p.direction[2] = reader.read_real("dir z");
    if (p.n1 != p.n2 && p.direction == std::array<double, 3>{}) {
      throw platform::DataError(reader.where("prestress record " + std::to_string(r) +
                                             " of the prestress section: n1 (" + image(p.n1) + ") and n2 (" +
                                             image(p.n2) + ") differ, so the direction of n1 may not be 0 0 0"));
    }
    reader.skip_line("the end of a prestress record");
    a.extension.prestress.push_back(p);
  }
}

// A value of a chamber record outside its range.
[[noreturn]] void fail_chamber(
    const platform::TextReader& reader, int r, const char* field, double v, const char* expected) {
  throw platform::DataError(reader.where(std::string(field) + " of chamber record " + std::to_string(r) +
                                         " of the chambers section is " + image(v) + "; expected " + expected));
}

void read_chambers(analysis& a, platform::TextReader& reader, std::vector<std::int64_t>& lines) {
  const int count = read_extension_count(reader, "chambers", 8);
  std::vector<int> record_of(static_cast<std::size_t>(count), 0);  // chamber number -> its record
  a.extension.chambers.reserve(static_cast<std::size_t>(count));
  for (int r = 1; r <= count; ++r) {
    reader.set_record("chamber record", r);
    Chamber c;
    c.number = reader.read_int("chamber number");
    check_index(reader, "chamber", c.number, count, "chamber record", r, "chambers");
    int& first = record_of[static_cast<std::size_t>(c.number - 1)];
    if (first != 0) {
      throw platform::DataError(
          reader.where("chamber record " + std::to_string(r) + " of the chambers section names chamber " +
                       std::to_string(c.number) + " again (chamber record " + std::to_string(first) + ", line " +
                       std::to_string(lines[static_cast<std::size_t>(first - 1)]) + "): each chamber has one record"));
    }
    first = r;
    c.kappa = reader.read_real("kappa");
    if (!(c.kappa >= 1.0)) fail_chamber(reader, r, "kappa", c.kappa, "at least 1 (1 isothermal, 1.4 adiabatic air)");
    c.ambient = reader.read_real("ambient");
    if (!(c.ambient > 0.0)) fail_chamber(reader, r, "ambient", c.ambient, "a positive absolute pressure");
    c.gauge = reader.read_real("gauge");
    if (!(c.gauge + c.ambient > 0.0)) {
      fail_chamber(reader, r, "gauge", c.gauge, "an absolute pressure gauge + ambient above 0");
    }
    c.volume = reader.read_real("volume");
    if (!(c.volume >= 0.0)) {
      fail_chamber(
          reader, r, "volume", c.volume, "a positive reference volume, or 0 for the volume at the reference shape");
    }
    c.origin[0] = reader.read_real("origin x");
    c.origin[1] = reader.read_real("origin y");
    c.origin[2] = reader.read_real("origin z");
    lines.push_back(reader.line());
    reader.skip_line("the end of a chamber record");
    a.extension.chambers.push_back(c);
  }
}

void read_enclosures(analysis& a, platform::TextReader& reader, std::vector<std::int64_t>& lines) {
  const int count = read_extension_count(reader, "enclosures", 3);
  Ranges ranges("enclosure record", "enclosures", "an element bounds at most one chamber");
  a.extension.enclosures.reserve(static_cast<std::size_t>(count));
  for (int r = 1; r <= count; ++r) {
    reader.set_record("enclosure record", r);
    Enclosure e;
    std::tie(e.first, e.last) = ranges.read(reader, a.nelem, r);
    // Checked against the chambers once every section is read: they may
    // come later in the file.
    e.chamber = reader.read_int("chamber number");
    lines.push_back(reader.line());
    reader.skip_line("the end of an enclosure record");
    a.extension.enclosures.push_back(e);
  }
}

// What joins the chambers and the enclosures: each needs the other, every
// enclosure names a chamber there is, and every chamber has elements.
void check_chambers(const analysis& a,
                    const platform::TextReader& reader,
                    const std::array<std::int64_t, kSections>& marker,
                    const std::vector<std::int64_t>& chamber_lines,
                    const std::vector<std::int64_t>& enclosure_lines) {
  const Extension& x = a.extension;
  if (!x.chambers.empty() && x.enclosures.empty()) {
    throw platform::DataError(at_line(reader,
                                      marker[kChambers],
                                      "the :chambers section declares " + std::to_string(x.chambers.size()) +
                                          " chambers, but no enclosure record gives the elements that bound them"));
  }
  if (!x.enclosures.empty() && x.chambers.empty()) {
    throw platform::DataError(at_line(
        reader, marker[kEnclosures], "the :enclosures section names chambers, but no chamber record declares them"));
  }
  const int count = static_cast<int>(x.chambers.size());
  std::vector<bool> bounded(x.chambers.size(), false);
  for (std::size_t r = 0; r < x.enclosures.size(); ++r) {
    const int chamber = x.enclosures[r].chamber;
    if (chamber < 1 || chamber > count) {
      throw platform::RangeError(at_line(reader,
                                         enclosure_lines[r],
                                         "enclosure record " + std::to_string(r + 1) +
                                             " of the enclosures section names chamber " + std::to_string(chamber) +
                                             ", outside 1.." + std::to_string(count)));
    }
    bounded[static_cast<std::size_t>(chamber - 1)] = true;
  }
  for (std::size_t r = 0; r < x.chambers.size(); ++r) {
    const int number = x.chambers[r].number;
    if (!bounded[static_cast<std::size_t>(number - 1)]) {
      throw platform::DataError(at_line(reader,
                                        chamber_lines[r],
                                        "chamber " + std::to_string(number) + " (chamber record " +
                                            std::to_string(r + 1) +
                                            " of the chambers section) has no elements: no enclosure record names it"));
    }
  }
}

void read_extension(analysis& a, platform::TextReader& reader) {
  std::array<std::int64_t, kSections> marker{};  // the marker line of each section read, 0: none
  std::vector<std::int64_t> chamber_lines, enclosure_lines;
  while (const auto m = reader.scan_optional()) {
    std::size_t s = 0;
    while (s < kSections && kKeywords[s] != m->keyword) ++s;
    if (s == kSections) {
      throw platform::DataError(
          at_line(reader,
                  m->line,
                  (m->keyword.empty() ? std::string("a marker line without a keyword")
                                      : "the marker line of an unknown section \":" + m->keyword + "\"") +
                      " after the pressures section; an extension section begins with " + kKeywordList));
    }
    if (marker[s] != 0) {
      throw platform::DataError(at_line(reader,
                                        m->line,
                                        "a second :" + std::string(kKeywords[s]) +
                                            " section; the first begins on line " + std::to_string(marker[s])));
    }
    marker[s] = m->line;
    switch (s) {
      case kWrinkling:
        read_wrinkling(a, reader);
        break;
      case kPrestress:
        read_prestress(a, reader);
        break;
      case kChambers:
        read_chambers(a, reader, chamber_lines);
        break;
      default:
        read_enclosures(a, reader, enclosure_lines);
        break;
    }
  }
  check_chambers(a, reader, marker, chamber_lines, enclosure_lines);
}

}  // namespace

void input(analysis& a) {
  platform::TextReader reader = platform::TextReader::open("input.txt");
  input(a, reader);
}

void input(analysis& a, platform::TextReader& reader) {
  a.file = reader.file_name();
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
  read_extension(a, reader);
}

}  // namespace solver
