// Replays every seed and every input that ever failed (fuzz/seeds/TARGET/,
// fuzz/regressions/TARGET/) through the fuzz targets' entry points. Each
// input must give either a result or a platform::Failure: a crash or a
// sanitizer report ends this test program, a hang runs into CTest's
// timeout, and any other exception fails the test naming the file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/entry.h"
#include "platform/failure.h"

namespace {

namespace fs = std::filesystem;

// The input files of one target, in name order; names starting with '.'
// only keep an empty folder in the repository.
std::vector<fs::path> inputs(const std::string& target) {
  std::vector<fs::path> files;
  for (const char* kind : {"seeds", "regressions"}) {
    const fs::path dir = fs::path(ROBUST_FUZZ_DIR) / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file() && entry.path().filename().string().front() != '.') files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string bytes_of(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Runs every input of `target` through `entry`; returns how many were
// accepted and how many ended with a failure report.
template <class Entry>
void replay(const std::string& target, Entry entry, int& accepted, int& refused) {
  accepted = 0;
  refused = 0;
  for (const fs::path& file : inputs(target)) {
    // Named before the run, so a crash shows which file caused it.
    std::fprintf(stderr, "replaying %s\n", file.string().c_str());
    std::fflush(stderr);
    const std::string data = bytes_of(file);
    try {
      entry(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      ++accepted;
    } catch (const platform::Failure&) {
      ++refused;
    } catch (const std::exception& e) {
      ADD_FAILURE() << file << ": escaped with " << e.what();
    }
  }
}

TEST(RobustRegression, ModelInputsGiveAResultOrAFailureReport) {
  int accepted = 0;
  int refused = 0;
  replay("model", robust::model_entry, accepted, refused);
  // The seeds are the golden models: every one of them must still be read
  // and set up, or the replay proves nothing.
  EXPECT_GE(accepted, 4);
  std::fprintf(stderr, "model: %d accepted, %d refused\n", accepted, refused);
}

TEST(RobustRegression, SquareInputsGiveAResultOrAFailureReport) {
  int accepted = 0;
  int refused = 0;
  replay("square", robust::square_entry, accepted, refused);
  EXPECT_GE(accepted, 4);
  std::fprintf(stderr, "square: %d accepted, %d refused\n", accepted, refused);
}

}  // namespace
