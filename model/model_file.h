#pragma once
// The canonical layout of a model file ("input.txt"), as its writer
// (model_writer.h) writes it: every section a label line and a marker line
// ":", integers right-aligned in 5 columns, reals in 13 (sign or blank, one
// digit, six decimals, exponent), fields separated by 5 blanks so that every
// field ends under the end of its label word, a count line followed by one
// empty line (the line the reader skips), and two empty lines after every
// section but the last.

#include <concepts>
#include <cstdint>
#include <string_view>

#include "platform/output_file.h"

namespace solver::model_file {

// clang-format off
constexpr std::string_view kS = "     ";               // field separator
constexpr std::string_view kZ = "      0.000000E+00";  // separator and a zero real
// Section labels: each word right-aligned over its field.
constexpr std::string_view kParametersLabel =
    "        lstol     maxls             mntol             mnref  maxminor   maxlist  maxmajor";
constexpr std::string_view kMaterialLabel    = "        young           poisson           density";
constexpr std::string_view kNodesLabel       = " node           coord x           coord y           coord z";
constexpr std::string_view kElementsLabel    = " elem      node      node      node";
constexpr std::string_view kConstraintsLabel = " node      axis             displ";
constexpr std::string_view kLoadsLabel       = " node      axis            action";
constexpr std::string_view kPressuresLabel   = " elem          pressure";
// clang-format on

// A real: sign or blank, one digit, six decimals, exponent (13 characters).
inline void r(platform::OutputFile& f, double v) { f.real(v, 2, 6, 3); }
// An integer right-aligned in five characters, wider only when it needs it.
inline void i5(platform::OutputFile& f, std::int64_t k) { f.integer(k, 5); }
// A section head: label line and marker line.
inline void head(platform::OutputFile& f, std::string_view label) { f.text(label).line_end().text(":").line_end(); }
// A count line and the one empty line the reader skips after it.
template <std::integral Count>
void count(platform::OutputFile& f, Count k) {
  i5(f, static_cast<std::int64_t>(k));
  f.line_end().line_end();
}
// The two empty lines that end every section but the last.
inline void gap(platform::OutputFile& f) { f.line_end().line_end(); }

}  // namespace solver::model_file
