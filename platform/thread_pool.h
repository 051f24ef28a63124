#pragma once
// A small set of worker threads started once and reused by every run.
// run(count, job) calls job(i) once for every i in 0..count-1 and returns
// when all are done; the calling thread takes chunks too, and every thread
// takes the next chunk from a shared counter. On a machine whose cores are
// busy with other work a worker may wake late: the caller then does the
// chunks itself and waits only for the chunks a worker has already taken,
// and a worker that wakes after the run is over takes nothing. Between runs
// the workers spin briefly, then sleep on a condition variable, so a run
// pays a wake-up, never a thread start.
//
// The pool knows nothing of what the jobs compute. A thread that cannot be
// started (the system's task limit, as in a container) is not a failure:
// the pool runs with the threads it got, down to the calling thread alone.

#include <atomic>
#include <condition_variable>
#include <cstddef>
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
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The threads a run uses: as asked, or fewer when some could not start.
  unsigned size() const { return static_cast<unsigned>(workers_.size()) + 1; }

  template <class Job>
  void run(std::size_t count, Job& job) {
    run_chunks(count, [](void* context, std::size_t i) { (*static_cast<Job*>(context))(i); }, &job);
  }

 private:
  using entry = void (*)(void*, std::size_t);
  void run_chunks(std::size_t count, entry job, void* context);
  void take_chunks();
  void work();
  void stop();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  // The current run, written under the mutex while no worker is active.
  entry job_ = nullptr;
  void* context_ = nullptr;
  std::size_t count_ = 0;
  bool open_ = false;                // workers may still join the current run
  std::atomic<unsigned> active_{0};  // workers inside the current run (changed under the mutex)
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};  // chunks of the current run done
  std::atomic<unsigned long> generation_{0};
  bool stop_ = false;
};

// The number of CPUs this process may run on (its affinity mask, so taskset
// and a container's CPU set are honoured); at least 1.
unsigned available_cpus();

}  // namespace platform
