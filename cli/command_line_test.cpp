#include "cli/command_line.h"

#include <gtest/gtest.h>

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

TEST(CommandLine, DirectoryIsRecordedNotEntered) {
  cli::CommandLine line({"square", "d", "square.txt", "input.txt"});
  const Outcome o = Parse(line, {"-C", "/"});
  EXPECT_FALSE(o.status.has_value()) << o.err;
  EXPECT_EQ(line.directory(), "/");
}

TEST(CommandLine, GeneratorHelpHasNoSolverOptions) {
  cli::CommandLine line({"square", "d", "square.txt", "input.txt"});
  const Outcome o = Parse(line, {"-h"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.out.find("--threads"), std::string::npos);
  EXPECT_EQ(o.out.find("--method"), std::string::npos);
}

TEST(CommandLine, VersionNamesProgramProjectCompilerAndKernel) {
  cli::CommandLine line(Solver());
  line.add_version_line("kernel: sse2");
  const Outcome o = Parse(line, {"--version"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("velora1 (velora) " VELORA_TEST_VERSION "\n", 0), 0u) << o.out;
  EXPECT_NE(o.out.find("\ncompiler: "), std::string::npos);
  EXPECT_NE(o.out.find("\nkernel: sse2\n"), std::string::npos);
}

TEST(CommandLine, VersionEndsWithTheProgramsOwnLines) {
  cli::CommandLine line({"veloramesh", "d", "MESH", "input.txt"});
  line.add_version_line("gmsh: 4.11.1");
  const Outcome o = Parse(line, {"--version"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.out.find("kernel:"), std::string::npos);
  EXPECT_NE(o.out.find("\ngmsh: 4.11.1\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(o.out.size() - 13), "gmsh: 4.11.1\n");
}

}  // namespace
