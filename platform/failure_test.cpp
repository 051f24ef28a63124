// Every exception that ends a program body becomes the failure report and
// exit status 1; nothing aborts.

#include "platform/failure.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <system_error>

namespace platform {
namespace {

struct Case {
  std::string name;
  void (*body)();
  std::string report;
};

class RunProgram : public ::testing::TestWithParam<Case> {};

TEST_P(RunProgram, ReportsAndExitsWithOne) {
  ::testing::internal::CaptureStderr();
  const int status = run_program(GetParam().body);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), GetParam().report);
  EXPECT_EQ(status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions,
    RunProgram,
    ::testing::Values(Case{"failure",
                           [] { throw DataError("input.txt:3: not a number"); },
                           "\nraised DATA_ERROR : input.txt:3: not a number\n"},
                      Case{"storage",
                           [] { throw std::bad_alloc(); },
                           "\nraised STORAGE_ERROR : not enough memory for the model's tables\n"},
                      Case{"named_storage",
                           [] { throw StorageError("mesh.msh: not enough memory to read the mesh"); },
                           "\nraised STORAGE_ERROR : mesh.msh: not enough memory to read the mesh\n"},
                      Case{"thread",
                           [] {
                             throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                                     "thread");
                           },
                           "\nraised PROGRAM_ERROR : thread: Resource temporarily unavailable\n"},
                      Case{"standard", [] { throw std::runtime_error("broken"); }, "\nraised PROGRAM_ERROR : broken\n"},
                      Case{"other", [] { throw 42; }, "\nraised PROGRAM_ERROR : an exception of unknown type\n"}),
    [](const ::testing::TestParamInfo<Case>& c) { return c.param.name; });

TEST(RunProgram, ANormalEndIsSilentWithZero) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(run_program([] {}), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace platform
