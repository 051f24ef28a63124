// Replays every seed (fuzz/seeds.txt) and every input that ever failed
// (fuzz/regressions/TARGET/) through the fuzz targets' entry points. Each
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

// The seeds of one target, as fuzz/seeds.txt lists them: the project's
// sample files, which must every one be accepted.
std::vector<fs::path> seeds(const std::string& target) {
  const fs::path root = fs::path(ROBUST_FUZZ_DIR).parent_path();
  std::ifstream list(fs::path(ROBUST_FUZZ_DIR) / "seeds.txt");
  EXPECT_TRUE(list.good()) << "cannot read fuzz/seeds.txt";
  std::vector<fs::path> files;
  for (std::string line; std::getline(list, line);) {
    std::istringstream words(line);
    std::string t, file;
    if (line.empty() || line.front() == '#' || !(words >> t >> file) || t != target) continue;
    files.push_back(root / file);
  }
  return files;
}

// The inputs that ever failed (fuzz/regressions/TARGET/), in name order;
// names starting with '.' only keep an empty folder in the repository.
std::vector<fs::path> regressions(const std::string& target) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(ROBUST_FUZZ_DIR) / "regressions" / target;
  if (fs::is_directory(dir)) {
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

// Runs `files` through `entry`; counts those accepted and those that ended
// with a failure report.
template <class Entry>
void replay(const std::vector<fs::path>& files, Entry entry, int& accepted, int& refused) {
  accepted = 0;
  refused = 0;
  for (const fs::path& file : files) {
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

struct Target {
  const char* name;
  void (*entry)(const std::uint8_t*, std::size_t);
};

void PrintTo(const Target& t, std::ostream* os) { *os << t.name; }

class RobustRegression : public ::testing::TestWithParam<Target> {};

// The seeds are sample files that the programs read: every one must still
// be accepted, or the replay proves nothing.
TEST_P(RobustRegression, SeedsAreAccepted) {
  const std::vector<fs::path> files = seeds(GetParam().name);
  EXPECT_GE(files.size(), 3u);
  int accepted = 0;
  int refused = 0;
  replay(files, GetParam().entry, accepted, refused);
  EXPECT_EQ(accepted, static_cast<int>(files.size()));
}

TEST_P(RobustRegression, InputsThatEverFailedGiveAResultOrAFailureReport) {
  int accepted = 0;
  int refused = 0;
  replay(regressions(GetParam().name), GetParam().entry, accepted, refused);
  std::fprintf(stderr, "%s: %d accepted, %d refused\n", GetParam().name, accepted, refused);
}

INSTANTIATE_TEST_SUITE_P(Fuzz,
                         RobustRegression,
                         ::testing::Values(Target{"model", robust::model_entry},
                                           Target{"square", robust::square_entry}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
