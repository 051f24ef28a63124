#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstddef>

#include "platform/thread_pool.h"

namespace {

// Restores the affinity mask of the calling thread when a test ends.
class SavedAffinity {
 public:
  SavedAffinity() { saved_ok_ = sched_getaffinity(0, sizeof saved_, &saved_) == 0; }
  ~SavedAffinity() {
    if (saved_ok_) sched_setaffinity(0, sizeof saved_, &saved_);
  }
  bool ok() const { return saved_ok_; }
  const cpu_set_t& mask() const { return saved_; }

 private:
  cpu_set_t saved_{};
  bool saved_ok_ = false;
};

TEST(AvailableCpus, MatchesTheAffinityMask) {
  SavedAffinity saved;
  ASSERT_TRUE(saved.ok());
  EXPECT_EQ(platform::available_cpus(), static_cast<unsigned>(CPU_COUNT(&saved.mask())));
}

TEST(AvailableCpus, FollowsARestrictedMaskLikeTaskset) {
  SavedAffinity saved;
  ASSERT_TRUE(saved.ok());
  // Keep only the first CPU of the current mask.
  const std::size_t size = CPU_SETSIZE;
  std::size_t first = 0;
  while (first < size && !CPU_ISSET(first, &saved.mask())) ++first;
  ASSERT_LT(first, size);
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(platform::available_cpus(), 1u);
}

TEST(AvailableCpus, NeverMoreThanOnlineNorZero) {
  const unsigned cpus = platform::available_cpus();
  EXPECT_GE(cpus, 1u);
  EXPECT_LE(static_cast<long>(cpus), sysconf(_SC_NPROCESSORS_CONF));
}

}  // namespace
