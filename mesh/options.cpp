// The values of veloramesh's options: numbers, group assignments, axes.
// Every fault is a DataError that quotes the option as given.

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>
#include <vector>

#include "mesh/model.h"
#include "platform/failure.h"

namespace mesh {

namespace {

[[noreturn]] void fail(const std::string& option, const std::string& what) {
  throw platform::DataError(option + ": " + what);
}

// "GROUP=REST" split at the last '=': REST never holds one, a group name
// may. Both parts must be non-empty.
std::pair<std::string, std::string> split_group(const std::string& value,
                                                const std::string& option,
                                                const char* rest_name) {
  const std::size_t eq = value.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == value.size()) {
    fail(option, std::string("expected GROUP=") + rest_name);
  }
  return {value.substr(0, eq), value.substr(eq + 1)};
}

int axis_of(char c) {
  switch (c) {
    case 'x':
    case 'X':
      return 0;
    case 'y':
    case 'Y':
      return 1;
    case 'z':
    case 'Z':
      return 2;
    default:
      return -1;
  }
}

}  // namespace

double parse_real(const std::string& text, const std::string& option) {
  double v = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  // from_chars takes no leading '+'; a user may well write one.
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, v, std::chars_format::general);
  if (ec != std::errc() || end != last || first == last) {
    fail(option, "\"" + text + "\" is not a number");
  }
  if (!std::isfinite(v)) fail(option, "\"" + text + "\" is not a finite number");
  return v;
}

std::int32_t parse_int(const std::string& text, const std::string& option) {
  std::int32_t v = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (ec == std::errc::result_out_of_range) fail(option, "\"" + text + "\" is outside the 32-bit integers");
  if (ec != std::errc() || end != last || first == last) fail(option, "\"" + text + "\" is not an integer");
  return v;
}

Fix parse_fix(const std::string& value) {
  const std::string option = "--fix " + value;
  auto [group, axes] = split_group(value, option, "AXES");
  Fix f{group, {}, option};
  for (const char c : axes) {
    const int a = axis_of(c);
    if (a < 0) fail(option, std::string("axis '") + c + "' is not x, y or z");
    if (f.axes[static_cast<std::size_t>(a)]) fail(option, std::string("axis '") + c + "' is named twice");
    f.axes[static_cast<std::size_t>(a)] = true;
  }
  return f;
}

Pressure parse_pressure(const std::string& value) {
  const std::string option = "--pressure " + value;
  auto [group, p] = split_group(value, option, "P");
  return Pressure{group, parse_real(p, option), option};
}

Load parse_load(const std::string& value) {
  const std::string option = "--load " + value;
  auto [group, rest] = split_group(value, option, "AXIS:VALUE");
  const std::size_t colon = rest.find(':');
  if (colon == std::string::npos) fail(option, "expected GROUP=AXIS:VALUE, for example tip=z:-0.5");
  const std::string axis = rest.substr(0, colon);
  if (axis.size() != 1 || axis_of(axis[0]) < 0) fail(option, "axis \"" + axis + "\" is not x, y or z");
  return Load{group, axis_of(axis[0]), parse_real(rest.substr(colon + 1), option), option};
}

Prestress parse_prestress(const std::string& value) {
  const std::string option = "--prestress " + value;
  auto [group, rest] = split_group(value, option, "N or GROUP=N1,N2:X,Y,Z");
  const std::size_t colon = rest.find(':');
  if (colon == std::string::npos) {
    if (rest.find(',') != std::string::npos) fail(option, "expected GROUP=N1,N2:X,Y,Z, for example roof=2,1:1,0,0");
    const double n = parse_real(rest, option);
    return Prestress{group, n, n, {}, option};
  }
  // The values before and after the colon, split at their commas.
  const auto fields = [&](const std::string& text, std::size_t count, const char* what) {
    std::vector<double> v;
    std::size_t from = 0;
    while (true) {
      const std::size_t comma = text.find(',', from);
      v.push_back(parse_real(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from), option));
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
    if (v.size() != count) fail(option, std::string("expected ") + what + " in GROUP=N1,N2:X,Y,Z");
    return v;
  };
  const std::vector<double> n = fields(rest.substr(0, colon), 2, "two prestresses N1,N2");
  const std::vector<double> d = fields(rest.substr(colon + 1), 3, "three components X,Y,Z of the direction");
  if (d[0] == 0.0 && d[1] == 0.0 && d[2] == 0.0) fail(option, "the direction of N1 may not be 0,0,0");
  return Prestress{group, n[0], n[1], {d[0], d[1], d[2]}, option};
}

ChamberOption parse_chamber(const std::string& value) {
  const std::string option = "--chamber " + value;
  auto [group, rest] = split_group(value, option, "GAUGE or GROUP=GAUGE:KAPPA");
  const std::size_t colon = rest.find(':');
  ChamberOption c{group, parse_real(rest.substr(0, colon), option), 1.0, option};
  if (colon != std::string::npos) c.kappa = parse_real(rest.substr(colon + 1), option);
  if (!(c.kappa >= 1.0)) fail(option, "kappa must be at least 1 (1 isothermal, 1.4 adiabatic air)");
  return c;
}

void parse_param(const std::string& value, Settings& s) {
  const std::string option = "--param " + value;
  const std::size_t eq = value.find('=');
  if (eq == std::string::npos) fail(option, "expected NAME=VALUE");
  const std::string name = value.substr(0, eq);
  const std::string v = value.substr(eq + 1);
  // Every value the model file's reader takes, with the meaning the solvers
  // give it (a maxmajor of 0 writes the starting state, an mntol of 0 or
  // less is read as 0.001): veloramesh refuses no model the solvers solve.
  AnalysisParameters& p = s.parameters;
  if (name == "lstol") {
    p.lstol = parse_real(v, option);
  } else if (name == "maxls") {
    p.maxls = parse_int(v, option);
  } else if (name == "mntol") {
    p.mntol = parse_real(v, option);
  } else if (name == "mnref") {
    p.mnref = parse_real(v, option);
  } else if (name == "maxminor") {
    s.maxminor = parse_int(v, option);
  } else if (name == "maxlist") {
    p.maxlist = parse_int(v, option);
  } else if (name == "maxmajor") {
    p.maxmajor = parse_int(v, option);
  } else {
    fail(option, "unknown parameter \"" + name + "\" (lstol, maxls, mntol, mnref, maxminor, maxlist, maxmajor)");
  }
}

Orient parse_orient(const std::string& value) {
  // clang-format off
  if (value == "+x") return Orient::px;
  if (value == "-x") return Orient::mx;
  if (value == "+y") return Orient::py;
  if (value == "-y") return Orient::my;
  if (value == "+z") return Orient::pz;
  if (value == "-z") return Orient::mz;
  if (value == "first") return Orient::first;
  if (value == "keep") return Orient::keep;
  // clang-format on
  fail("--orient " + value, "expected +x, -x, +y, -y, +z, -z, first or keep");
}

}  // namespace mesh
