#include "viewer/vtu.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/wrinkles.h"

namespace viewer {

namespace {

void append_number(std::string& out, double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);  // shortest round trip, locale-free
  (void)ec;                                                        // 32 characters hold any double
  out.append(buf, end);
}

void append_number(std::string& out, std::int64_t v) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;
  out.append(buf, end);
}

void open_array(std::string& out, const char* indent, const char* type, const char* name, int components) {
  out += indent;
  out += "<DataArray type=\"";
  out += type;
  out += '"';
  if (name != nullptr) {
    out += " Name=\"";
    out += name;
    out += '"';
  }
  if (components > 1) {
    out += " NumberOfComponents=\"";
    append_number(out, std::int64_t{components});
    out += '"';
  }
  out += " format=\"ascii\">\n";
}

void close_array(std::string& out, const char* indent) {
  out += indent;
  out += "</DataArray>\n";
}

constexpr const char* kArrayIndent = "        ";
constexpr const char* kRowIndent = "          ";

// One row per node: its three components.
void vectors(std::string& out, const char* name, const std::vector<std::array<double, 3>>& v) {
  open_array(out, kArrayIndent, "Float64", name, 3);
  for (const auto& x : v) {
    out += kRowIndent;
    append_number(out, x[0]);
    out += ' ';
    append_number(out, x[1]);
    out += ' ';
    append_number(out, x[2]);
    out += '\n';
  }
  close_array(out, kArrayIndent);
}

// Cell values, several to a row to keep the file short.
void scalars(std::string& out, const char* name, const std::vector<double>& v) {
  open_array(out, kArrayIndent, "Float64", name, 1);
  for (std::size_t i = 0; i < v.size(); ++i) {
    out += i % 6 == 0 ? kRowIndent : " ";
    append_number(out, v[i]);
    if (i % 6 == 5 || i + 1 == v.size()) out += '\n';
  }
  close_array(out, kArrayIndent);
}

}  // namespace

std::string vtu_document(const Mesh& mesh, const Report& report) {
  const auto nnode = static_cast<std::int64_t>(mesh.node.size());
  const auto nelem = static_cast<std::int64_t>(mesh.tri.size());
  std::string out;
  out.reserve(static_cast<std::size_t>(nnode) * 200 + static_cast<std::size_t>(nelem) * 120 + 2048);

  out += "<?xml version=\"1.0\"?>\n";
  out += "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" header_type=\"UInt64\">\n";
  out += "  <UnstructuredGrid>\n";
  // The chambers' state (a model with gas chambers): one value per chamber
  // in each array, by chamber number.
  if (!report.chambers.empty()) {
    out += "    <FieldData>\n";
    const auto field = [&](const char* name, double ChamberResult::*member) {
      out += "      <DataArray type=\"Float64\" Name=\"";
      out += name;
      out += "\" NumberOfTuples=\"";
      append_number(out, static_cast<std::int64_t>(report.chambers.size()));
      out += "\" format=\"ascii\">\n        ";
      for (std::size_t i = 0; i < report.chambers.size(); ++i) {
        if (i > 0) out += ' ';
        append_number(out, report.chambers[i].*member);
      }
      out += "\n      </DataArray>\n";
    };
    field("chamber_volume", &ChamberResult::volume);
    field("chamber_pressure", &ChamberResult::pressure);
    field("chamber_gauge", &ChamberResult::gauge);
    out += "    </FieldData>\n";
  }
  out += "    <Piece NumberOfPoints=\"";
  append_number(out, nnode);
  out += "\" NumberOfCells=\"";
  append_number(out, nelem);
  out += "\">\n";

  out += "      <PointData Vectors=\"displacement\">\n";
  vectors(out, "displacement", report.displacement);
  vectors(out, "reaction", report.reaction);
  out += "      </PointData>\n";

  out += "      <CellData Scalars=\"stress_1\">\n";
  scalars(out, "stress_1", report.stress1);
  scalars(out, "stress_2", report.stress2);
  scalars(out, "pressure", mesh.pressure);
  if (mesh.wrinkling) {
    const Wrinkles w = wrinkles_of(mesh, report);
    open_array(out, kArrayIndent, "Int32", "state", 1);
    for (std::size_t i = 0; i < w.state.size(); ++i) {
      out += i % 20 == 0 ? kRowIndent : " ";
      append_number(out, std::int64_t{w.state[i]});
      if (i % 20 == 19 || i + 1 == w.state.size()) out += '\n';
    }
    close_array(out, kArrayIndent);
    vectors(out, "wrinkle", w.direction);
  }
  out += "      </CellData>\n";

  out += "      <Points>\n";
  vectors(out, nullptr, mesh.node);
  out += "      </Points>\n";

  out += "      <Cells>\n";
  open_array(out, kArrayIndent, "Int64", "connectivity", 1);
  for (const auto& t : mesh.tri) {
    out += kRowIndent;
    append_number(out, std::int64_t{t[0]});
    out += ' ';
    append_number(out, std::int64_t{t[1]});
    out += ' ';
    append_number(out, std::int64_t{t[2]});
    out += '\n';
  }
  close_array(out, kArrayIndent);
  // offsets: where each cell's vertex list ends in connectivity.
  open_array(out, kArrayIndent, "Int64", "offsets", 1);
  for (std::int64_t e = 0; e < nelem; ++e) {
    out += e % 10 == 0 ? kRowIndent : " ";
    append_number(out, 3 * (e + 1));
    if (e % 10 == 9 || e + 1 == nelem) out += '\n';
  }
  close_array(out, kArrayIndent);
  open_array(out, kArrayIndent, "UInt8", "types", 1);
  for (std::int64_t e = 0; e < nelem; ++e) {
    out += e % 20 == 0 ? kRowIndent : " ";
    out += '5';  // VTK_TRIANGLE
    if (e % 20 == 19 || e + 1 == nelem) out += '\n';
  }
  close_array(out, kArrayIndent);
  out += "      </Cells>\n";

  out += "    </Piece>\n";
  out += "  </UnstructuredGrid>\n";
  out += "</VTKFile>\n";
  return out;
}

}  // namespace viewer
