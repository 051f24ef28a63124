#pragma once
// The results report "output.txt" of a solver, read back.
//
// The report is a fixed layout: a summary box, then four tables, each
// under a rule, a heading line, a rule and one empty line, and followed by
// two empty lines (the last table excepted):
//   displacements      one line per node:    node, 3 reals
//   deformed positions one line per node:    node, 3 reals
//   principal stresses one line per element: element, stress 1, stress 2
//   reactions          one line per node that has a reported component, in
//                      node order: node, then 20-character fields for axes
//                      1..last, each five blanks and a real, or twenty
//                      blanks for an axis that is not reported; nothing
//                      after the last reported axis.
// The node and element counts are not in the report: they come from the
// model the report was computed for, and every table must match them.

#include <array>
#include <string>
#include <vector>

namespace viewer {

// A gas chamber's state at the solution, a line of "chambers.txt".
struct ChamberResult {
  double volume = 0.0;
  double pressure = 0.0;   // absolute
  double gauge = 0.0;      // pressure - ambient
  double reference = 0.0;  // the reference volume of its gas law
};

struct Report {
  int major = 0;                                    // major iterations done
  int minor = 0;                                    // minor iterations of the last minimiser call
  double energy = 0.0;                              // total potential energy
  double residue = 0.0;                             // allowable maximum residue
  std::vector<std::array<double, 3>> displacement;  // #nodes x (X, Y, Z), node k at [k - 1]
  std::vector<std::array<double, 3>> position;      // #nodes x (X, Y, Z): deformed coordinates
  std::vector<double> stress1;                      // #elements: larger principal stress
  std::vector<double> stress2;                      // #elements: smaller principal stress
  std::vector<std::array<double, 3>> reaction;      // #nodes x (X, Y, Z), 0 where none is reported
  std::vector<ChamberResult> chambers;              // by chamber number, from "chambers.txt"; none without
};

// Parses the text of a report written for a model of nnode nodes and nelem
// elements. file_name names the text in failure messages. EndError when the
// text ends early, DataError when a line is not what the layout puts there
// (a table longer or shorter than the model, a heading that does not match,
// a malformed or non-finite number). Lines may end in "\r\n".
Report parse_report(const std::string& file_name, const std::string& text, int nnode, int nelem);

// Reads "file_name" whole and parses it. FileError when it cannot be read.
Report read_report(const std::string& file_name, int nnode, int nelem);

// Parses the text of "chambers.txt" written for a model of `count`
// chambers: the heading, then one line per chamber, numbered 1..count.
// Failures as parse_report's.
std::vector<ChamberResult> parse_chambers(const std::string& file_name, const std::string& text, int count);

}  // namespace viewer
