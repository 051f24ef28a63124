#pragma once
// What the tests of every folder share: the one way to expect a failure,
// and a scratch folder as the current directory, where the programs' steps
// read and write their files under their own names.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/text_reader.h"

namespace platform::testing {

// Runs `body`, which must raise a failure whose full name is `name`
// ("DATA_ERROR"); returns its message. A test failure, and an empty
// message, when it raises none or another one.
template <class Body>
std::string FailureMessage(Body&& body, std::string_view name) {
  try {
    body();
  } catch (const Failure& f) {
    EXPECT_EQ(f.full_name(), name) << f.message();
    return f.full_name() == name ? f.message() : std::string();
  }
  ADD_FAILURE() << "no failure raised, expected " << name;
  return {};
}

// The same, and the message must contain every one of `parts`.
template <class Body>
void ExpectFailure(Body&& body, std::string_view name, std::initializer_list<std::string_view> parts) {
  const std::string message = FailureMessage(body, name);
  for (const std::string_view p : parts) {
    EXPECT_NE(message.find(p), std::string::npos) << "\"" << message << "\" lacks \"" << p << "\"";
  }
}

// The whole text of a file; a test failure (and an empty text) when it
// cannot be read.
inline std::string FileText(const std::filesystem::path& p) {
  try {
    return read_file(p.string());
  } catch (const FileError& e) {
    ADD_FAILURE() << e.message();
    return {};
  }
}

// A fixture whose every test runs in a folder of its own under the system's
// temporary directory, made the current directory. The folder is removed
// after a test that passed and kept for a look after one that failed; its
// name holds the process id, so test programs running side by side do not
// meet.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        std::string("velora_") + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';  // parameterised tests: "Suite/Case/0"
    }
    dir_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    if (!HasFailure()) std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::filesystem::path old_;
};

}  // namespace platform::testing
