#include "programs/solver_program.h"

#include <cstdio>
#include <cstdlib>
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
  // Scripts that run a solver they do not start themselves (the checks
  // against closed forms) choose the method by VELORA_METHOD, read and
  // checked as the option is.
  auto* method = app.add_option("--method",
                                options.method,
                                "Minimiser of each major iteration; newton is\n"
                                "several times faster from about 1,000 elements\n"
                                "on (see the manual)")
                     ->check(CLI::IsMember({"lbfgs", "newton"}).description(""))
                     ->type_name("lbfgs|newton")
                     ->envname("VELORA_METHOD")
                     ->capture_default_str();
  app.add_option("--threads", options.threads, "Energy threads; 0: every CPU this process may use")
      ->check(CLI::Range(0u, kMaxThreads).description(""))
      ->type_name("N")
      ->capture_default_str();
  auto* progress = app.add_flag("--progress", options.progress, "Show progress even when stderr is no terminal");
  auto* quiet = app.add_flag("--quiet", options.quiet, "Never show progress");
  progress->excludes(quiet);
  quiet->excludes(progress);
  app.add_flag("--wrinkling", options.wrinkling, "No compression: elements wrinkle or go slack");

  const std::string group = "Second-order method (diagnostics; each needs --method newton)";
  const CLI::Option* const diagnostics[] = {
      app.add_option("--newton-step", options.newton_step, "Conjugate gradients or the factorization alone")
          ->check(CLI::IsMember({"cg", "direct"}).description(""))
          ->type_name("cg|direct")
          ->capture_default_str()
          ->group(group),
      app.add_option(
             "--newton-preconditioner", options.newton_preconditioner, "Precision of the preconditioner's factor")
          ->check(CLI::IsMember({"double", "single"}).description(""))
          ->type_name("double|single")
          ->capture_default_str()
          ->group(group),
      app.add_option("--newton-regions", options.newton_regions, "Steps on regions where the gradient gathers")
          ->check(CLI::IsMember({"on", "off"}).description(""))
          ->type_name("on|off")
          ->capture_default_str()
          ->group(group),
      app.add_option("--newton-pressure",
                     options.newton_pressure,
                     "The pressure as a potential where it has one, or\nfrozen in each major iteration")
          ->check(CLI::IsMember({"potential", "frozen"}).description(""))
          ->type_name("potential|frozen")
          ->capture_default_str()
          ->group(group),
      app.add_flag("--newton-counts", options.newton_counts, "Print the method's counts on stderr at the end")
          ->group(group),
      app.add_flag("--newton-times", options.newton_times, "Print where the time went on stderr at the end")
          ->group(group),
  };
  // A diagnostic of a method that does not run would be ignored silently.
  app.final_callback([method, diagnostics, &options] {
    if (options.method == "newton") return;
    for (const CLI::Option* option : diagnostics) {
      if (option->count() > 0) {
        throw CLI::ValidationError(option->get_name(),
                                   "needs --method newton, " + method->get_name() + " is " + options.method);
      }
    }
  });
  // The environment the programs read besides their options.
  app.footer([] {
    return std::string(
        "Environment:\n"
        "  VELORA_KERNEL=scalar|sse2|avx2|avx512  the energy kernel's instruction set\n"
        "      (default: the widest this processor offers; one it lacks is a failure)\n"
        "  OPENBLAS_NUM_THREADS, OMP_THREAD_LIMIT  threads of the factorization's BLAS\n"
        "      and of CHOLMOD's OpenMP loops (--method newton; both 1 unless set; other\n"
        "      BLAS threads change the method's last digits)\n");
  });
}

solver::RunOptions run_options(const SolverOptions& given) {
  RunOptions options;
  options.threads = given.threads;
  options.wrinkling = given.wrinkling;
  options.method = given.method == "newton" ? Method::newton : Method::lbfgs;
  options.newton.step = given.newton_step == "direct" ? NewtonOptions::Step::direct : NewtonOptions::Step::cg;
  options.newton.single_preconditioner = given.newton_preconditioner == "single";
  if (given.newton_regions == "off") options.newton.region_share = 0.0;
  options.newton_pressure_potential = given.newton_pressure != "frozen";
  return options;
}

namespace {

// Where the run's wall time went, in seconds: the method's parts, what its
// loop spends between them, and the rest of the run (reading, set-up, the
// major iterations' load refreshes, writing).
void print_times(const solver::NewtonTimes& t, double run) {
  const double parts = t.factorizations + t.solves + t.products + t.tangents + t.evaluations + t.regions;
  std::fprintf(stderr,
               "newton times: pattern %.3f analysis %.3f factorizations %.3f solves %.3f products %.3f tangents "
               "%.3f evaluations %.3f regions %.3f between %.3f outside %.3f run %.3f s\n",
               t.pattern,
               t.analysis,
               t.factorizations,
               t.solves,
               t.products,
               t.tangents,
               t.evaluations,
               t.regions,
               t.total - parts,
               run - t.total - t.pattern - t.analysis,
               run);
}

}  // namespace

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
  // CHOLMOD's OpenMP loops (copies and clears inside the supernodal
  // factorization, their thread count fixed when the library was built)
  // cost more CPU time than they save (BENCHMARKS.md, "The BLAS and its
  // threads"); the dense work runs in the BLAS, which has threads of its
  // own. Unless the user has set it, OpenMP gets one thread: the OpenMP
  // runtime reads this when CHOLMOD, which loads it, is first loaded, long
  // after this line.
  setenv("OMP_THREAD_LIMIT", "1", 0);
  // The BLAS's threads cut a factorization's dense blocks differently for
  // each thread count, and so its rounding: by default OpenBLAS starts one
  // per CPU, and the second-order method's results would depend on the
  // machine. One thread unless the user asks for more (it costs nothing at
  // a million elements: BENCHMARKS.md, "Where a million elements' time
  // goes").
  setenv("OPENBLAS_NUM_THREADS", "1", 0);
  return line.run(argc, argv, [&] {
    RunOptions options = run_options(given);
    // Declared before the run so that it is destroyed, and its line
    // cleared, before a failure report is written.
    std::unique_ptr<ProgressLine> progress;
    if (ProgressLine::wanted(given.progress, given.quiet, ProgressLine::is_terminal(stderr))) {
      progress = std::make_unique<ProgressLine>(stderr);
      options.progress = progress.get();
    }
    NewtonCounts counts;
    options.newton_counts = &counts;
    double run_seconds = 0.0;
    {
      const solver::Timed timed(run_seconds);
      solver::run(law, options);
    }
    if (given.newton_counts) {
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
    if (given.newton_times) print_times(counts.times, run_seconds);
  });
}

}  // namespace programs
