#include "platform/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/failure.h"
#include "platform/testing.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("velora_output_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(OutputFileTest, CommitWritesEverythingAndLeavesNoTemporary) {
  const auto target = (dir_ / "out.txt").string();
  {
    platform::OutputFile f(target);
    f.text("a").chars('-', 3).chars('x', 0).chars('y', -2).line_end();
    f.integer(12, 5).real(1.0, 2, 6, 3).line_end();
    for (int i = 0; i < 200000; ++i) f.text("0123456789").line_end();  // past the buffer
    f.commit();
  }
  const std::string s = Slurp(target);
  EXPECT_EQ(s.substr(0, 24), "a---\n   12 1.000000E+00\n");
  EXPECT_EQ(s.size(), 24u + 200000u * 11u);
  EXPECT_FALSE(fs::exists(target + ".part"));
}

// See docs/decisions.md, 'Output files all or nothing'.
TEST_F(OutputFileTest, DroppedWithoutCommitKeepsTheEarlierFile) {
  const auto target = (dir_ / "out.txt").string();
  { std::ofstream(target) << "earlier run\n"; }
  {
    platform::OutputFile f(target);
    f.text("half a file");
  }
  EXPECT_EQ(Slurp(target), "earlier run\n");
  EXPECT_FALSE(fs::exists(target + ".part"));
}

TEST_F(OutputFileTest, UncreatableFileIsAFileError) {
  const auto target = (dir_ / "missing-dir" / "out.txt").string();
  try {
    platform::OutputFile f(target);
    FAIL() << "no failure";
  } catch (const platform::Failure& e) {
    EXPECT_EQ(e.full_name(), "FILE_ERROR");
    EXPECT_NE(e.message().find("cannot create"), std::string::npos);
  }
}

TEST_F(OutputFileTest, FullDiskIsAFileErrorNotAShortFile) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  // Writing through a link to /dev/full fails at the first flush; the
  // rename never happens.
  const auto target = (dir_ / "out.txt").string();
  fs::create_symlink("/dev/full", target + ".part");
  try {
    platform::OutputFile f(target);
    f.text(std::string(100, 'x'));
    f.commit();
    FAIL() << "no failure";
  } catch (const platform::Failure& e) {
    EXPECT_EQ(e.full_name(), "FILE_ERROR");
    EXPECT_NE(e.message().find("cannot write \"" + target + "\""), std::string::npos) << e.message();
  }
  EXPECT_FALSE(fs::exists(target));
}

// See docs/decisions.md, 'The result files of a run are replaced together'.
TEST_F(OutputFileTest, ASetReplacesEveryTargetOnlyOnceAllAreComplete) {
  const auto first = (dir_ / "first.txt").string();
  const auto second = (dir_ / "second.txt").string();
  { std::ofstream(first) << "earlier first\n"; }
  platform::OutputFiles set;
  set.add(first).text("new first").line_end();
  platform::OutputFile& f = set.add(second);
  f.text("new second").line_end();
  // Written and flushed, nothing replaced yet.
  f.finish();
  EXPECT_EQ(Slurp(first), "earlier first\n");
  EXPECT_FALSE(fs::exists(second));
  set.commit();
  EXPECT_EQ(Slurp(first), "new first\n");
  EXPECT_EQ(Slurp(second), "new second\n");
  EXPECT_FALSE(fs::exists(first + ".part"));
  EXPECT_FALSE(fs::exists(second + ".part"));
}

// A full disk on the last file of a set: the first, complete, is not
// renamed either.
TEST_F(OutputFileTest, ASetThatFailsOnItsLastFileReplacesNone) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this machine";
  const auto first = (dir_ / "first.txt").string();
  const auto second = (dir_ / "second.txt").string();
  { std::ofstream(first) << "earlier first\n"; }
  { std::ofstream(second) << "earlier second\n"; }
  fs::create_symlink("/dev/full", second + ".part");
  try {
    platform::OutputFiles set;
    set.add(first).text("new first").line_end();
    set.add(second).text(std::string(100, 'x'));
    set.commit();
    FAIL() << "no failure";
  } catch (const platform::FileError& e) {
    EXPECT_NE(e.message().find("cannot write \"" + second + "\""), std::string::npos) << e.message();
  }
  EXPECT_EQ(Slurp(first), "earlier first\n");
  EXPECT_EQ(Slurp(second), "earlier second\n");
  EXPECT_FALSE(fs::exists(first + ".part"));
  EXPECT_FALSE(fs::exists(second + ".part"));
}

// A directory where the second target should go would stop its rename after
// the first: it is found before any rename. A set dropped without commit
// replaces nothing either.
TEST_F(OutputFileTest, ASetWhoseTargetIsADirectoryReplacesNone) {
  const auto first = (dir_ / "first.txt").string();
  const auto second = (dir_ / "second.txt").string();
  { std::ofstream(first) << "earlier first\n"; }
  fs::create_directory(second);
  {
    platform::OutputFiles dropped;
    dropped.add(first).text("dropped");
  }
  EXPECT_EQ(Slurp(first), "earlier first\n");
  platform::testing::ExpectFailure(
      [&] {
        platform::OutputFiles set;
        set.add(first).text("new first");
        set.add(second).text("new second");
        set.commit();
      },
      "FILE_ERROR",
      {"cannot replace \"" + second + "\": it is a directory; no result file was replaced"});
  EXPECT_EQ(Slurp(first), "earlier first\n");
  EXPECT_TRUE(fs::is_directory(second));
  EXPECT_FALSE(fs::exists(first + ".part"));
}

}  // namespace
