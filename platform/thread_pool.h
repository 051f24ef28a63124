#pragma once
// A small set of worker threads started once and reused by every run.
// run(count, job) calls job(i) once for every i in 0..count-1 and returns
// when all are done; the calling thread takes chunks too: it takes them
// from the first up, the workers from the last down to the second, so that
// the first chunk is always the caller's and from one run to the next the
// same thread tends to get the same chunk (and finds its data in its
// core's caches). On a machine whose cores are
// busy with other work a worker may wake late: the caller then does the
// chunks itself and waits only for the chunks a worker has already taken,
// and a worker that wakes after the run is over takes nothing.
//
// No busy waiting: between runs a worker polls for a few microseconds
// (enough to catch the next run of a solve whose minimiser step is short),
// then sleeps in the kernel (std::atomic::wait, a futex on Linux) until the
// next run wakes it; the caller likewise polls briefly for the end of a run,
// then sleeps. A sleeping thread leaves its core to the minimiser and to
// every other process on the machine.
//
// The pool knows nothing of what the jobs compute. A thread that cannot be
// started (the system's task limit, as in a container) is not a failure:
// the pool runs with the threads it got, down to the calling thread alone.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class ThreadPool {
 public:
  // Starts a thread; throws std::system_error when it cannot (the default
  // is std::thread's constructor). Replaceable so that tests can refuse.
  using Starter = std::function<std::thread(std::function<void()>)>;

  // threads: the threads of every run, the calling thread included (at
  // least 1; 1 starts no worker).
  explicit ThreadPool(unsigned threads, const Starter& start = {});
  // The same with a polling budget other than kSpin (benchmarks).
  ThreadPool(unsigned threads, std::chrono::nanoseconds spin, const Starter& start = {});

  // How long a thread polls before it sleeps: a few microseconds.
  static constexpr std::chrono::nanoseconds kSpin{4000};
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The threads a run uses: as asked, or fewer when some could not start.
  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

  // count: fewer than 2^32 chunks (a run takes a few per thread).
  template <class Job>
  void run(std::size_t count, Job& job) {
    run_chunks(
        count, [](void* context, std::size_t i) { (*static_cast<Job*>(context))(i); }, &job);
  }

 private:
  using Entry = void (*)(void*, std::size_t);
  void run_chunks(std::size_t count, Entry job, void* context);
  void take_chunks(bool caller);
  void work();
  void stop();

  std::vector<std::thread> workers_;
  std::chrono::nanoseconds spin_;
  std::mutex mutex_;
  // The current run, written under the mutex while no worker is active.
  Entry job_ = nullptr;
  void* context_ = nullptr;
  bool open_ = false;  // workers may still join the current run
  // Workers inside the current run (raised under the mutex); the caller
  // sleeps on it at the end of a run.
  std::atomic<std::uint32_t> active_{0};
  // The chunks not yet taken: from the low 32 bits (the caller's next) up
  // to the high 32 bits (one past the workers' next).
  std::atomic<std::uint64_t> untaken_{0};
  std::atomic<std::size_t> finished_{0};  // chunks of the current run done
  // Raised by every run and by the destructor; the workers sleep on it. 32
  // bits, the width a futex waits on directly.
  std::atomic<std::uint32_t> generation_{0};
  bool stop_ = false;
};

// The number of CPUs this process may run on (its affinity mask, so taskset
// and a container's CPU set are honoured); at least 1.
unsigned available_cpus();

}  // namespace platform
