#pragma once
// The command line every program shares, on CLI11.
//
// Each program's main builds one CommandLine from a description of what it
// reads and writes, adds its own options, and hands its body to run():
//
//   int main(int argc, char** argv) {
//     cli::CommandLine line({"square", "generates ...", "square.txt ...", "input.txt ..."});
//     return line.run(argc, argv, [] { square::run(); });
//   }
//
// Every program gets -h/--help, --version and -C DIR; a program adds its
// own options through app() (the solvers' are in programs/solver_program.h).
// With no arguments the program runs as it always has: nothing is printed.
//
// Exit statuses: 0 success (and after --help or --version); 1 a failure
// report (platform::run_program); 2 a usage error: one line naming the
// option, the usage line, and no file touched.

#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace cli {

// What the help page says about a program beyond its options.
struct Program {
  std::string name;         // the program's name, as typed: "velora1"
  std::string description;  // what it does, one or two sentences
  std::string reads;        // the files it reads, in the working directory
  std::string writes;       // the files it writes, in the working directory
};

// Exit statuses of every program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

class CommandLine {
 public:
  explicit CommandLine(Program program);
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // For options of one program: add them here before parse or run.
  CLI::App& app() { return app_; }

  // A further line of --version, e.g. the instruction-set path of the
  // energy kernel ("kernel: avx2") or the version of a library the program
  // is built on ("gmsh: 4.11.1").
  void add_version_line(std::string line) { version_lines_.push_back(std::move(line)); }

  // What --version prints: program, project version, compiler, then the
  // program's own lines.
  std::string version() const;

  // Parses the arguments after the program name. Returns the exit status
  // when the program must stop now (0 after --help or --version, printed on
  // out; 2 after a usage error, reported on err), or nothing when it must
  // run. Changes nothing outside this object: -C is applied by run().
  std::optional<int> parse(const std::vector<std::string>& arguments,
                           std::ostream& out = std::cout,
                           std::ostream& err = std::cerr);

  // The directory of -C, empty when not given.
  const std::string& directory() const { return directory_; }

  // Parses argv; on success changes to -C's directory and runs body with
  // the project's failure handling (platform::run_program). Returns the
  // program's exit status.
  template <class Body>
  int run(int argc, const char* const* argv, Body&& body) {
    if (const auto status = parse(arguments(argc, argv))) return *status;
    return platform::run_program([&] {
      enter_directory();
      body();
    });
  }

 private:
  static std::vector<std::string> arguments(int argc, const char* const* argv);
  // chdir to -C's directory; a FILE_ERROR when that fails.
  void enter_directory() const;

  Program program_;
  CLI::App app_;
  std::string directory_;
  std::vector<std::string> version_lines_;
};

}  // namespace cli
