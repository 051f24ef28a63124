#include "programs/solver_program.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "energy/kernel_path.h"
#include "platform/failure.h"
#include "solver/progress_line.h"
#include "solver/solver.h"

namespace programs {

using solver::Method;
using solver::NewtonCounts;
using solver::NewtonOptions;
using solver::ProgressLine;
using solver::RunOptions;

void add_solver_options(cli::CommandLine& line, SolverOptions& options) {
  CLI::App& app = line.app();
  app.add_option("--method", options.method, "Minimiser of each major iteration")
      ->check(CLI::IsMember({"lbfgs", "newton"}).description(""))
      ->type_name("lbfgs|newton")
      ->capture_default_str();
  app.add_option("--threads", options.threads, "Energy threads; 0: every CPU this process may use")
      ->check(CLI::Range(0u, kMaxThreads).description(""))
      ->type_name("N")
      ->capture_default_str();
  auto* progress = app.add_flag("--progress", options.progress, "Show progress even when stderr is no terminal");
  auto* quiet = app.add_flag("--quiet", options.quiet, "Never show progress");
  progress->excludes(quiet);
  quiet->excludes(progress);
}

int solver_main(int argc, const char* const* argv, const char* name, const solver::MaterialLaw& law) {
  const std::string law_text = name == std::string("velora2")
                                   ? "the engineering strain of the element sides"
                                   : "the Green strain of the element sides (Saint Venant-Kirchhoff membrane)";
  cli::CommandLine line({name,
                         "Finds the static equilibrium of a membrane of flat triangles under nodal forces, "
                         "self-weight and a pressure that follows the deformed surface, by minimising the total "
                         "potential energy; the material law measures " +
                             law_text + ".",
                         "input.txt (the model)",
                         "output.txt (iterations, energy, displacements, deformed coordinates, principal "
                         "stresses, support reactions), autocad.scr (undeformed and deformed mesh)"});
  SolverOptions given;
  add_solver_options(line, given);
  // The element loop in use on this processor (or as VELORA_KERNEL chose).
  // A VELORA_KERNEL naming no loop is reported by the run itself, through
  // the failure report; --version only says so.
  std::string kernel;
  try {
    kernel = solver::kernel_path();
  } catch (const platform::Failure& f) {
    kernel = "none (" + f.message() + ")";
  }
  line.add_version_line("kernel: " + kernel);
  return line.run(argc, argv, [&] {
    RunOptions options;
    options.threads = given.threads;
    options.method = given.method == "newton" ? Method::newton : Method::lbfgs;
    // Declared before the run so that it is destroyed, and its line
    // cleared, before a failure report is written.
    std::unique_ptr<ProgressLine> progress;
    if (ProgressLine::wanted(given.progress, given.quiet, ProgressLine::is_terminal(stderr))) {
      progress = std::make_unique<ProgressLine>(stderr);
      options.progress = progress.get();
    }
    // The benchmarks and the verification scripts choose the second-order
    // method by environment (VELORA_METHOD=newton), read its counts
    // (VELORA_NEWTON_COUNTS=1) and compare its ways of taking a step
    // (VELORA_NEWTON_STEP=direct) and preconditioners
    // (VELORA_NEWTON_PRECONDITIONER=single), with and without the steps on
    // regions (VELORA_NEWTON_REGIONS=0); --method, when given, wins.
    const char* method = std::getenv("VELORA_METHOD");
    if (line.app().count("--method") == 0 && method != nullptr && std::strcmp(method, "newton") == 0) {
      options.method = Method::newton;
    }
    const char* step = std::getenv("VELORA_NEWTON_STEP");
    if (step != nullptr && std::strcmp(step, "direct") == 0) options.newton.step = NewtonOptions::Step::direct;
    const char* preconditioner = std::getenv("VELORA_NEWTON_PRECONDITIONER");
    if (preconditioner != nullptr && std::strcmp(preconditioner, "single") == 0) {
      options.newton.single_preconditioner = true;
    }
    const char* regions = std::getenv("VELORA_NEWTON_REGIONS");
    if (regions != nullptr && std::strcmp(regions, "0") == 0) options.newton.region_share = 0.0;
    NewtonCounts counts;
    options.newton_counts = &counts;
    solver::run(law, options);
    if (options.method == Method::newton && std::getenv("VELORA_NEWTON_COUNTS") != nullptr) {
      std::fprintf(stderr,
                   "newton: steps %d factorizations %d failed %d evaluations %d cg iterations %d tangent entries %.0f "
                   "factor entries %.0f regions %d region steps %d region factorizations %d\n",
                   counts.steps,
                   counts.factorizations,
                   counts.failed,
                   counts.evaluations,
                   counts.cg_iterations,
                   counts.tangent_entries,
                   counts.factor_entries,
                   counts.regions,
                   counts.region_steps,
                   counts.region_factorizations);
    }
  });
}

}  // namespace programs
