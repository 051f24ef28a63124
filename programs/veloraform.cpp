// veloraform: form finding, the shape in which a model's prestress alone
// is in equilibrium with its supports (solver/form.h).
#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "programs/solver_program.h"
#include "solver/form.h"

int main(int argc, char** argv) {
  cli::CommandLine line({"veloraform",
                         "Finds the shape in which the prestress of a model alone is in equilibrium with its "
                         "supports (with an isotropic prestress, a minimal surface), and writes it as a model "
                         "file that the solvers read and load.",
                         "input.txt (a model with supports and a :prestress section)",
                         "formed.txt (the model at the found shape, with its prestress, supports and loads; the "
                         "file of --output), completely or not at all"});
  solver::FormOptions options;
  std::string output = "formed.txt";
  std::string method = "force-density";
  CLI::App& app = line.app();
  app.add_option("--output", output, "The model file to write (default formed.txt)")->type_name("FILE");
  app.add_option("--method",
                 method,
                 "force-density (default): a linear solve per step,\n"
                 "the nodes moving along their normals;\n"
                 "updated-reference: an equilibrium per step with a\n"
                 "modulus of its own")
      ->check(CLI::IsMember({"force-density", "updated-reference"}).description(""))
      ->type_name("force-density|updated-reference");
  app.add_option("--tolerance",
                 options.tolerance,
                 "Largest residual force across the found surface,\n"
                 "relative to the largest prestress side force\n"
                 "(default 1e-6)")
      ->check(CLI::PositiveNumber.description(""))
      ->type_name("T");
  app.add_option("--steps", options.max_steps, "Most steps before giving up (default 1000)")
      ->check(CLI::Range(1, 1000000000).description(""))
      ->type_name("N");
  app.add_option("--stiffness",
                 options.stiffness,
                 "updated-reference: the modulus of the steps, times\n"
                 "the largest prestress (default 0.1)")
      ->check(CLI::PositiveNumber.description(""))
      ->type_name("R");
  app.add_option("--threads",
                 options.threads,
                 "Energy threads; 0 (default): every CPU this\n"
                 "process may use")
      ->check(CLI::Range(0u, programs::kMaxThreads).description(""))
      ->type_name("N");
  return line.run(argc, argv, [&] {
    options.method =
        method == "force-density" ? solver::FormMethod::force_density : solver::FormMethod::updated_reference;
    const solver::FormResult r = solver::form_find(options, output);
    std::printf(
        "veloraform: shape found in %d steps; largest residual force across the surface %.3e (tolerance %.3e), "
        "along it %.3e\n",
        r.steps,
        r.residual,
        r.tolerance,
        r.along);
  });
}
