#include "solver/pool.h"

#include <algorithm>
#include <vector>

#include "solver/analysis.h"

namespace solver {

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

pool::pool(unsigned threads) : threads_(threads < 1 ? 1 : threads) {
  workers_.reserve(threads_ - 1);
  for (unsigned t = 1; t < threads_; ++t) workers_.emplace_back([this] { work(); });
}

pool::~pool() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  for (auto &w : workers_) w.join();
}

void pool::take_chunks() {
  for (;;) {
    const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
    if (i >= count_) return;
    job_(context_, i);
    finished_.fetch_add(1, std::memory_order_release);
  }
}

void pool::run_chunks(std::size_t count, entry job, void *context) {
  if (threads_ == 1) {
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

void pool::work() {
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

}  // namespace solver

namespace solver {

bool prepare_parallel(analysis &a) {
  unsigned parts = a.threads != 0 ? a.threads : std::thread::hardware_concurrency();
  if (parts > 64) parts = 64;
  if (parts < 2 || a.nelem < 2 || a.nelem < a.parallel_from) return false;
  if (a.workers && a.workers->size() == parts) return true;

  const std::size_t nelem = static_cast<std::size_t>(a.nelem);
  const std::size_t nfree = static_cast<std::size_t>(a.nfree);
  // Contiguous parts of about equal size, each starting on an even element
  // so that the pairs of the kernel are those of the one-thread pass.
  a.part_element.assign(1, 0);
  for (unsigned t = 1; t < parts; ++t) {
    std::size_t e = nelem * t / parts;
    e -= e % 2;
    if (e < static_cast<std::size_t>(a.part_element.back())) e = static_cast<std::size_t>(a.part_element.back());
    a.part_element.push_back(static_cast<int>(e));
  }
  a.part_element.push_back(a.nelem);
  // Owner of an unknown: the first part that touches it. Every later term
  // for it is deferred; count them to size the lists once.
  constexpr unsigned char nobody = 255;
  a.owner.assign(nfree, nobody);
  std::vector<std::size_t> count(parts, 0);
  for (unsigned t = 0; t < parts; ++t) {
    const std::size_t end = static_cast<std::size_t>(a.part_element[t + 1]);
    for (std::size_t e = static_cast<std::size_t>(a.part_element[t]); e < end; ++e) {
      for (const int slot : a.stream[e].slot) {
        if (slot >= a.nfree) continue;
        unsigned char &o = a.owner[static_cast<std::size_t>(slot)];
        if (o == nobody) o = static_cast<unsigned char>(t);
        if (o != t) ++count[t];
      }
    }
  }
  a.deferred.assign(parts, {});
  for (unsigned t = 0; t < parts; ++t) a.deferred[t].resize(count[t]);
  a.energies.assign(nelem, 0.0);
  a.workers.reset();  // the old threads end before the new ones start
  a.workers = std::make_shared<pool>(parts);
  return true;
}

}  // namespace solver
