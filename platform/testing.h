#pragma once
// The one way tests expect a failure: run the code, catch the project's
// failure, compare its full name, and look into its message.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/failure.h"

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

}  // namespace platform::testing
