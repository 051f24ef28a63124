// The pool runs every chunk exactly once, whether its workers are polling
// or asleep, and an idle pool leaves the processor alone.

#include "platform/thread_pool.h"

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Runs count chunks and checks that each ran exactly once.
void expect_each_chunk_once(ThreadPool& pool, std::size_t count) {
  std::vector<std::atomic<int>> done(count);
  auto job = [&done](std::size_t i) { done[i].fetch_add(1, std::memory_order_relaxed); };
  pool.run(count, job);
  for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(done[i].load(), 1) << "chunk " << i << " of " << count;
}

TEST(ThreadPool, BackToBackRunsDoEveryChunkOnce) {
  ThreadPool pool(3);
  for (std::size_t round = 0; round < 2000; ++round) expect_each_chunk_once(pool, round % 7);
}

TEST(ThreadPool, SleepingWorkersWakeForTheNextRun) {
  ThreadPool pool(2);
  for (int round = 0; round < 20; ++round) {
    // Far beyond the polling budget: the worker is asleep in the kernel.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    expect_each_chunk_once(pool, 5);
  }
}

TEST(ThreadPool, APoolThatNeverPollsStillRuns) {
  ThreadPool pool(3, std::chrono::nanoseconds(0));
  for (std::size_t round = 0; round < 500; ++round) expect_each_chunk_once(pool, 1 + round % 5);
}

TEST(ThreadPool, AllThreadsTakePartWhenTheWorkIsLong) {
  ThreadPool pool(2);
  std::atomic<int> threads_seen{0};
  const std::thread::id caller = std::this_thread::get_id();
  auto job = [&](std::size_t) {
    if (std::this_thread::get_id() != caller) threads_seen.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  pool.run(std::size_t{8}, job);
  EXPECT_GT(threads_seen.load(), 0) << "the worker never took a chunk";
}

// The caller takes the chunks from the first up and the workers from the
// last down to the second, so the first chunk is always the caller's,
// whether a worker is still polling from the run before (back to back) or
// asleep, and a parallel pass finds its part's data in the same core's
// caches run after run.
TEST(ThreadPool, TheFirstChunkIsAlwaysTheCallers) {
  ThreadPool pool(2);
  const std::thread::id caller = std::this_thread::get_id();
  int others = 0;
  for (int round = 0; round < 4000; ++round) {
    if (round % 1000 == 999) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::thread::id first;
    auto job = [&](std::size_t i) {
      if (i == 0) first = std::this_thread::get_id();
    };
    pool.run(std::size_t{2}, job);
    if (first != caller) ++others;
  }
  EXPECT_EQ(others, 0);
}

double process_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Between runs a solver's minimiser works for a few hundred microseconds;
// a pool that polled through those gaps would burn its workers' cores for
// all of them. Here the gaps add up to 100 ms; the workers may use a small
// part of that (a few microseconds of polling and a wake-up per run), not
// the whole.
TEST(ThreadPool, IdleWorkersSleepInsteadOfPolling) {
  ThreadPool pool(3);
  expect_each_chunk_once(pool, 3);
  const double before = process_cpu_seconds();
  const auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 200; ++round) {
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    expect_each_chunk_once(pool, 3);
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = process_cpu_seconds() - before;
  // Two polling workers would use about 2 * wall.
  EXPECT_LT(cpu, 0.5 * wall) << "cpu " << cpu << " s over " << wall << " s";
}

}  // namespace
}  // namespace platform
