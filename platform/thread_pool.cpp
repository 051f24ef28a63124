#include "platform/thread_pool.h"

#include <sched.h>

#include <system_error>

namespace platform {

namespace {

// Polls of an atomic before a thread goes to sleep: a waking sleeper costs
// tens of microseconds, more than a whole evaluation of a mid-size model,
// so the workers poll through the minimiser's work between two evaluations
// (some hundred microseconds) and the caller polls for the end of a run.
constexpr int spins = 20000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

ThreadPool::ThreadPool(unsigned threads, const Starter& start) {
  const unsigned wanted = threads < 1 ? 0 : threads - 1;
  workers_.reserve(wanted);
  for (unsigned t = 0; t < wanted; ++t) {
    try {
      if (start) {
        workers_.push_back(start([this] { work(); }));
      } else {
        workers_.emplace_back([this] { work(); });
      }
    } catch (const std::system_error&) {
      break;  // run with the threads already started
    }
  }
}

ThreadPool::~ThreadPool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  for (auto& w : workers_) w.join();
}

void ThreadPool::take_chunks() {
  for (;;) {
    const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
    if (i >= count_) return;
    job_(context_, i);
    finished_.fetch_add(1, std::memory_order_release);
  }
}

void ThreadPool::run_chunks(std::size_t count, entry job, void* context) {
  if (workers_.empty()) {
    for (std::size_t i = 0; i < count; ++i) job(context, i);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    count_ = count;
    next_.store(0, std::memory_order_relaxed);
    finished_.store(0, std::memory_order_relaxed);
    open_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  take_chunks();
  for (int i = 0; i < spins && (finished_.load(std::memory_order_acquire) < count ||
                                 active_.load(std::memory_order_acquire) != 0);
       ++i) {
    relax();
  }
  std::unique_lock<std::mutex> lock(mutex_);
  open_ = false;  // a worker that has not joined yet stays out
  done_.wait(lock, [this] { return active_ == 0; });
}

void ThreadPool::work() {
  unsigned long seen = 0;
  for (;;) {
    for (int i = 0; i < spins && generation_.load(std::memory_order_acquire) == seen; ++i) relax();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return generation_.load(std::memory_order_relaxed) != seen; });
      if (stop_) return;
      seen = generation_.load(std::memory_order_relaxed);
      if (!open_) continue;
      ++active_;
    }
    take_chunks();
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--active_ == 0 && !open_) done_.notify_one();
  }
}

unsigned available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

}  // namespace platform
