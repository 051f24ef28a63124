#pragma once
// The canonical layout of a model file ("input.txt"), as its writer
// (model_writer.h) writes it: every section a label line and a marker line
// (":" alone, or ":prestress" naming a section of the extension after the
// pressures), integers right-aligned in 5 columns, reals in 13 (sign or blank, one
// digit, six decimals, exponent), fields separated by 5 blanks so that every
// field ends under the end of its label word, a count line followed by one
// empty line (the line the reader skips), and two empty lines after every
// section but the last.

#include <string_view>

namespace solver::model_file {

// clang-format off
constexpr std::string_view kS = "     ";               // field separator
// Section labels: each word right-aligned over its field.
constexpr std::string_view kParametersLabel =
    "        lstol     maxls             mntol             mnref  maxminor   maxlist  maxmajor";
constexpr std::string_view kMaterialLabel    = "        young           poisson           density";
constexpr std::string_view kNodesLabel       = " node           coord x           coord y           coord z";
constexpr std::string_view kElementsLabel    = " elem      node      node      node";
constexpr std::string_view kConstraintsLabel = " node      axis             displ";
constexpr std::string_view kLoadsLabel       = " node      axis            action";
constexpr std::string_view kPressuresLabel   = " elem          pressure";
// The extension's sections, each after the two empty lines that end the
// section before it; their marker lines name them. The wrinkling record is
// one word.
constexpr std::string_view kWrinklingLabel   = " wrinkling";
constexpr std::string_view kPrestressLabel   =
    "first      last                n1                n2             dir x             dir y             dir z";
constexpr std::string_view kChambersLabel    =
    "chamb             kappa           ambient             gauge            volume          origin x          origin y"
    "          origin z";
constexpr std::string_view kEnclosuresLabel  = "first      last   chamber";
// clang-format on

}  // namespace solver::model_file
