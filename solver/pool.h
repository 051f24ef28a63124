#pragma once
// A small set of worker threads started once and reused by every energy
// evaluation. run(count, job) calls job(i) once for every i in 0..count-1
// and returns when all are done; the calling thread takes chunks too, and
// every thread takes the next chunk from a shared counter. On a machine
// whose cores are busy with other work a worker may wake late: the caller
// then does the chunks itself and waits only for the chunks a worker has
// already taken, and a worker that wakes after the run is over takes
// nothing. Between runs the workers spin briefly, then sleep on a condition
// variable, so a run pays a wake-up, never a thread start.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace solver {

class pool {
 public:
  // threads: the threads of every run, the calling thread included (at
  // least 1; 1 starts no worker).
  explicit pool(unsigned threads);
  ~pool();
  pool(const pool &) = delete;
  pool &operator=(const pool &) = delete;

  unsigned size() const { return threads_; }

  template <class Job>
  void run(std::size_t count, Job &job) {
    run_chunks(count, [](void *context, std::size_t i) { (*static_cast<Job *>(context))(i); }, &job);
  }

 private:
  using entry = void (*)(void *, std::size_t);
  void run_chunks(std::size_t count, entry job, void *context);
  void take_chunks();
  void work();

  unsigned threads_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  // The current run, written under the mutex while no worker is active.
  entry job_ = nullptr;
  void *context_ = nullptr;
  std::size_t count_ = 0;
  bool open_ = false;  // workers may still join the current run
  std::atomic<unsigned> active_{0};  // workers inside the current run (changed under the mutex)
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> finished_{0};  // chunks of the current run done
  std::atomic<unsigned long> generation_{0};
  bool stop_ = false;
};

}  // namespace solver

namespace solver {

struct analysis;

// Whether a's energy is evaluated in parallel: more than one thread (the
// state's threads, or the hardware's count when it is 0) and at least
// parallel_from elements. On the first such call, and when the thread count
// has changed, cuts the elements into parts, finds the owner of every
// unknown, sizes the lists of deferred terms, and starts the threads.
bool prepare_parallel(analysis &a);

}  // namespace solver
