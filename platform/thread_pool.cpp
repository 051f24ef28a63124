#include "platform/thread_pool.h"

#include <sched.h>

#include <system_error>

namespace platform {

namespace {

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Polls done() for at most spin, then returns whether it became true.
template <class Done>
bool poll(std::chrono::nanoseconds spin, const Done& done) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + spin;
  for (;;) {
    for (int i = 0; i < 32; ++i) {  // a clock read costs tens of pauses' worth
      if (done()) return true;
      relax();
    }
    if (Clock::now() >= end) return done();
  }
}

}  // namespace

ThreadPool::ThreadPool(unsigned threads, const Starter& start) : ThreadPool(threads, kSpin, start) {}

ThreadPool::ThreadPool(unsigned threads, std::chrono::nanoseconds spin, const Starter& start) : spin_(spin) {
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
  generation_.notify_all();
  for (auto& w : workers_) w.join();
}

void ThreadPool::take_chunks(bool caller) {
  for (;;) {
    std::uint64_t range = untaken_.load(std::memory_order_relaxed);
    std::size_t i = 0;
    for (;;) {
      const std::uint64_t low = range & 0xffffffffu;
      const std::uint64_t high = range >> 32;
      // The first chunk is left to the caller, which always takes chunks
      // after waking the workers; a worker polling from the run before
      // would otherwise take it first whenever the wake-up is slow.
      if (low >= high || (!caller && high == 1)) return;
      i = static_cast<std::size_t>(caller ? low : high - 1);
      const std::uint64_t rest = caller ? (high << 32) | (low + 1) : ((high - 1) << 32) | low;
      if (untaken_.compare_exchange_weak(range, rest, std::memory_order_relaxed)) break;
    }
    job_(context_, i);
    finished_.fetch_add(1, std::memory_order_release);
  }
}

void ThreadPool::run_chunks(std::size_t count, Entry job, void* context) {
  if (workers_.empty()) {
    for (std::size_t i = 0; i < count; ++i) job(context, i);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    untaken_.store(static_cast<std::uint64_t>(count) << 32, std::memory_order_relaxed);
    finished_.store(0, std::memory_order_relaxed);
    open_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  generation_.notify_all();
  take_chunks(true);
  poll(spin_, [&] {
    return finished_.load(std::memory_order_acquire) >= count && active_.load(std::memory_order_acquire) == 0;
  });
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;  // a worker that has not joined yet stays out
  }
  // Only workers that joined before open_ fell are counted; each leaves by
  // lowering active_ and waking the caller when it was the last.
  for (std::uint32_t a = active_.load(std::memory_order_acquire); a != 0; a = active_.load(std::memory_order_acquire)) {
    active_.wait(a, std::memory_order_acquire);
  }
}

void ThreadPool::work() {
  std::uint32_t seen = 0;
  for (;;) {
    if (!poll(spin_, [&] { return generation_.load(std::memory_order_acquire) != seen; })) {
      generation_.wait(seen, std::memory_order_acquire);
      continue;  // woken: look again (a wake-up may be spurious)
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      seen = generation_.load(std::memory_order_relaxed);
      if (!open_) continue;
      active_.fetch_add(1, std::memory_order_relaxed);
    }
    take_chunks(false);
    if (active_.fetch_sub(1, std::memory_order_acq_rel) == 1) active_.notify_one();
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
