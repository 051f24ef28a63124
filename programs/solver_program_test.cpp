#include "programs/solver_program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

cli::Program Solver() { return {"velora1", "Solves a membrane.", "input.txt", "output.txt, autocad.scr"}; }

struct Outcome {
  std::optional<int> status;
  std::string out;
  std::string err;
};

Outcome Parse(cli::CommandLine& line, const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const auto status = line.parse(arguments, out, err);
  return {status, out.str(), err.str()};
}

Outcome ParseSolver(const std::vector<std::string>& arguments, programs::SolverOptions* parsed = nullptr) {
  cli::CommandLine line(Solver());
  programs::SolverOptions options;
  programs::add_solver_options(line, options);
  Outcome outcome = Parse(line, arguments);
  if (parsed != nullptr) *parsed = options;
  return outcome;
}

TEST(CommandLine, NoArgumentsRunsWithTheDefaultsAndPrintsNothing) {
  programs::SolverOptions parsed;
  const Outcome o = ParseSolver({}, &parsed);
  EXPECT_FALSE(o.status.has_value());
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(parsed.method, "lbfgs");
  EXPECT_EQ(parsed.threads, 0u);
  EXPECT_FALSE(parsed.progress);
  EXPECT_FALSE(parsed.quiet);
  EXPECT_FALSE(parsed.newton_counts);
  const solver::RunOptions run = programs::run_options(parsed);
  EXPECT_EQ(run.method, solver::Method::lbfgs);
  EXPECT_EQ(run.newton.step, solver::NewtonOptions{}.step);
  EXPECT_EQ(run.newton.single_preconditioner, solver::NewtonOptions{}.single_preconditioner);
  EXPECT_EQ(run.newton.region_share, solver::NewtonOptions{}.region_share);
}

TEST(CommandLine, SolverOptionsAreParsed) {
  programs::SolverOptions parsed;
  const Outcome o = ParseSolver({"--method", "newton", "--threads=3", "--progress"}, &parsed);
  EXPECT_FALSE(o.status.has_value()) << o.err;
  EXPECT_EQ(parsed.method, "newton");
  EXPECT_EQ(parsed.threads, 3u);
  EXPECT_TRUE(parsed.progress);
  EXPECT_FALSE(programs::run_options(parsed).wrinkling);
  ASSERT_FALSE(ParseSolver({"--wrinkling"}, &parsed).status.has_value());
  EXPECT_TRUE(programs::run_options(parsed).wrinkling);
}

// The second-order method's diagnostics, once its method is chosen, become
// its options.
TEST(CommandLine, NewtonDiagnosticsAreParsedIntoTheMethodsOptions) {
  programs::SolverOptions parsed;
  const Outcome o = ParseSolver({"--method=newton",
                                 "--newton-step",
                                 "direct",
                                 "--newton-preconditioner=single",
                                 "--newton-regions",
                                 "off",
                                 "--newton-counts"},
                                &parsed);
  ASSERT_FALSE(o.status.has_value()) << o.err;
  EXPECT_TRUE(parsed.newton_counts);
  const solver::RunOptions run = programs::run_options(parsed);
  EXPECT_EQ(run.method, solver::Method::newton);
  EXPECT_EQ(run.newton.step, solver::NewtonOptions::Step::direct);
  EXPECT_TRUE(run.newton.single_preconditioner);
  EXPECT_EQ(run.newton.region_share, 0.0);
}

// VELORA_METHOD stands for --method where the option is not given, and is
// checked as the option is: a bad value is a usage error.
class MethodVariable {
 public:
  explicit MethodVariable(const char* value) { setenv("VELORA_METHOD", value, 1); }
  ~MethodVariable() { unsetenv("VELORA_METHOD"); }
  MethodVariable(const MethodVariable&) = delete;
  MethodVariable& operator=(const MethodVariable&) = delete;
};

TEST(CommandLine, MethodVariableIsCheckedLikeTheOption) {
  {
    const MethodVariable v("newton");
    programs::SolverOptions parsed;
    const Outcome o = ParseSolver({"--newton-counts"}, &parsed);
    EXPECT_FALSE(o.status.has_value()) << o.err;
    EXPECT_EQ(parsed.method, "newton");
    EXPECT_FALSE(ParseSolver({"--method", "lbfgs"}, &parsed).status.has_value());
    EXPECT_EQ(parsed.method, "lbfgs");  // the option wins
  }
  for (const char* bad : {"Newton", "1", "newton "}) {
    const MethodVariable v(bad);
    const Outcome o = ParseSolver({});
    EXPECT_EQ(o.status, 2) << bad;
    EXPECT_EQ(o.err.rfind("velora1: --method: ", 0), 0u) << o.err;
  }
}

TEST(CommandLine, HelpNamesFilesOptionsAndExitStatuses) {
  const Outcome o = ParseSolver({"--help"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  for (const char* part : {"Usage: velora1 [OPTIONS]",
                           "Reads (in the working directory): input.txt",
                           "Writes (in the working directory): output.txt, autocad.scr",
                           "-h,--help",
                           "--version",
                           "-C DIR",
                           "--method",
                           "--threads",
                           "--progress",
                           "--quiet",
                           "--newton-step",
                           "--newton-preconditioner",
                           "--newton-regions",
                           "--newton-counts",
                           "VELORA_METHOD",
                           "VELORA_KERNEL=scalar|sse2|avx2|avx512",
                           "Exit status: 0"}) {
    EXPECT_NE(o.out.find(part), std::string::npos) << "missing \"" << part << "\" in\n" << o.out;
  }
}

TEST(CommandLine, HelpFitsEightyColumns) {
  std::string zs;
  for (int i = 0; i < 40; ++i) zs += " z";
  cli::CommandLine line(
      {"velora1", std::string(300, 'x') + " " + std::string(50, 'y') + zs, "input.txt", "output.txt"});
  programs::SolverOptions options;
  programs::add_solver_options(line, options);
  const Outcome o = Parse(line, {"--help"});
  ASSERT_EQ(o.status, 0);
  std::istringstream page(o.out);
  std::string row;
  while (std::getline(page, row)) {
    if (row.find_first_not_of('x') == std::string::npos) continue;  // a word longer than a line stays whole
    EXPECT_LE(row.size(), 79u) << row;
  }
  EXPECT_NE(o.out.find(std::string(300, 'x') + "\n" + std::string(50, 'y') + " z"), std::string::npos);
}

// A usage error: status 2, one line naming what was wrong, then the usage
// line, nothing on standard output.
struct UsageCase {
  std::vector<std::string> arguments;
  std::string named;  // what the one-line message must name
};

void PrintTo(const UsageCase& c, std::ostream* os) {
  for (const auto& a : c.arguments) *os << '[' << a << ']';
}

class UsageError : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageError, ExitsTwoWithOneLineAndTheUsage) {
  const Outcome o = ParseSolver(GetParam().arguments);
  ASSERT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "");
  const std::size_t first_end = o.err.find('\n');
  ASSERT_NE(first_end, std::string::npos);
  const std::string first = o.err.substr(0, first_end);
  EXPECT_EQ(first.rfind("velora1: ", 0), 0u) << first;
  EXPECT_NE(first.find(GetParam().named), std::string::npos) << first;
  EXPECT_EQ(o.err.substr(first_end + 1), "Usage: velora1 [OPTIONS]\n");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine,
    UsageError,
    ::testing::Values(UsageCase{{"--bogus"}, "--bogus"},
                      UsageCase{{"-x"}, "-x"},
                      UsageCase{{"extra"}, "extra"},
                      UsageCase{{"--threads"}, "--threads"},
                      UsageCase{{"--threads", "two"}, "--threads"},
                      UsageCase{{"--threads", "-1"}, "--threads"},
                      UsageCase{{"--threads", "1.5"}, "--threads"},
                      UsageCase{{"--threads", "4096"}, "--threads"},
                      UsageCase{{"--threads", "99999999999999999999"}, "--threads"},
                      UsageCase{{"--method", "bfgs"}, "--method"},
                      UsageCase{{"--method"}, "--method"},
                      UsageCase{{"-C"}, "-C"},
                      UsageCase{{"-C", "/no/such/directory"}, "/no/such/directory"},
                      UsageCase{{"--quiet", "--progress"}, "--progress"},
                      UsageCase{{"--progress=maybe"}, "--progress"},
                      UsageCase{{"--newton-step", "direct"}, "--newton-step: needs --method newton"},
                      UsageCase{{"--newton-counts"}, "--newton-counts: needs --method newton"},
                      UsageCase{{"--newton-times"}, "--newton-times: needs --method newton"},
                      UsageCase{{"--method", "lbfgs", "--newton-regions=off"}, "--newton-regions"},
                      UsageCase{{"--method", "newton", "--newton-step", "Direct"}, "--newton-step"},
                      UsageCase{{"--method", "newton", "--newton-preconditioner", "half"}, "--newton-preconditioner"},
                      UsageCase{{"--method", "newton", "--newton-regions", "0"}, "--newton-regions"},
                      UsageCase{{"--method", "newton", "--newton-counts=maybe"}, "--newton-counts"}));

}  // namespace
