#include "solver/pool.h"

#include <algorithm>

#include "solver/analysis.h"

namespace solver {

namespace {

// Polls of an atomic before a thread goes to sleep: a few microseconds,
// about the gap between the two phases of one evaluation.
constexpr int spins = 2000;

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
    open_ = true;
    generation_.fetch_add(1, std::memory_order_release);
  }
  start_.notify_all();
  take_chunks();
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
  if (parts < 2 || a.nelem < 2 || a.nelem < a.parallel_from) return false;
  if (a.workers && a.workers->size() == parts) return true;

  const std::size_t nelem = static_cast<std::size_t>(a.nelem);
  const std::size_t nfree = static_cast<std::size_t>(a.nfree);
  a.terms.assign(10 * nelem, 0.0);
  // Counting sort of the terms by unknown; a stable pass in element,
  // vertex and axis order keeps each list in the order of the sums.
  a.term_start.assign(nfree + 1, 0);
  for (const element_stream &r : a.stream) {
    for (const int slot : r.slot) {
      if (slot < a.nfree) ++a.term_start[static_cast<std::size_t>(slot) + 1];
    }
  }
  for (std::size_t k = 0; k < nfree; ++k) a.term_start[k + 1] += a.term_start[k];
  a.term_index.assign(static_cast<std::size_t>(a.term_start[nfree]), 0);
  // term_start[k] serves as unknown k's fill position and ends at the
  // start of unknown k + 1's entries; one shift puts the starts back.
  // (No second array of positions, whose freed memory would stay
  // resident beside the rest.)
  for (std::size_t e = 0; e < nelem; ++e) {
    for (std::size_t q = 0; q < 9; ++q) {
      const int slot = a.stream[e].slot[q];
      if (slot < a.nfree) {
        a.term_index[static_cast<std::size_t>(a.term_start[static_cast<std::size_t>(slot)]++)] =
            static_cast<int>(10 * e + 1 + q);
      }
    }
  }
  for (std::size_t k = nfree; k > 0; --k) a.term_start[k] = a.term_start[k - 1];
  a.term_start[0] = 0;
  // Chunks of the first phase: runs of elements (an even number, so the
  // pairs are those of a front-to-back pass). Chunks of the second phase:
  // the energy sum first, then runs of unknowns with about the same number
  // of terms each.
  constexpr std::size_t elements_per_chunk = 512;
  constexpr long terms_per_chunk = 4096;
  a.part_element.clear();
  for (std::size_t e = 0; e < nelem; e += elements_per_chunk) a.part_element.push_back(static_cast<int>(e));
  a.part_element.push_back(a.nelem);
  a.part_unknown.assign(1, 0);
  const long total = a.term_start[nfree];
  for (long target = terms_per_chunk; target < total; target += terms_per_chunk) {
    const int k = static_cast<int>(std::lower_bound(a.term_start.begin(), a.term_start.end(), target) -
                                   a.term_start.begin());
    if (k > a.part_unknown.back() && k < a.nfree) a.part_unknown.push_back(k);
  }
  a.part_unknown.push_back(a.nfree);
  a.workers.reset();  // the old threads end before the new ones start
  a.workers = std::make_shared<pool>(parts);
  return true;
}

}  // namespace solver
