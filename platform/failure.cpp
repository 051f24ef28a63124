#include "platform/failure.h"

#include <cstdio>

namespace platform {

void report_failure(const std::string& full_name, const std::string& message) {
  std::fflush(stdout);
  std::string line = "\nraised " + full_name;
  if (!message.empty()) line += " : " + message;
  line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
