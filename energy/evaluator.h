#pragma once
// The evaluation of one model's total potential energy and its gradient:
// the function that the minimiser minimises. An evaluator is built for a
// model once it is set up (after start) and owns everything the evaluation
// needs beyond the model itself: the slots of every element's components,
// the full-length workspaces, the cut of the elements into parts for the
// threads, the owner and deferred lists of those parts, and the threads.
// It reads the model (elements, dof, displ and the current force table) at
// every call and never writes it; it must not outlive the model, whose
// shape must not change while it exists (the driver builds one per run, in
// the scope of that run).
//
// The energy's element loops depend on the material law; the law's library
// supplies them (MaterialLaw::evaluator, energy/law.h).

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "model/analysis.h"
#include "platform/thread_pool.h"
#include "terms/terms.h"

namespace solver {

// The slots of an element's nine displacement components (vertex 1 X, Y, Z,
// vertex 2 ..., vertex 3 ...): each is the component's degree-of-freedom
// number minus one, an index into the full-length workspace, which holds
// the unknowns at slots 0..nfree-1 and the prescribed displacements after
// them, so the kernel gathers without asking which kind a component is. A
// slot below nfree is an unknown.
using ElementSlots = std::array<int, 9>;

struct EvaluationOptions {
  // Parts of a parallel evaluation, the calling thread included; 0: the
  // CPUs this process may run on. 1 runs on the calling thread alone.
  unsigned threads = 0;
  // Fewest elements worth more than one thread: below it the start and
  // end of a parallel pass (the copies in and out, the serial sums of the
  // later parts' energies and deferred terms) cost more than the second
  // thread saves. In a whole solve a sleeping worker is also woken for
  // every evaluation, so the threshold is set from whole solves, above the
  // size where they stop gaining (BENCHMARKS.md, "Threads").
  int parallel_from = 16384;
  // How long an idle thread polls for the next evaluation before it sleeps
  // (benchmarks compare budgets; see platform::ThreadPool).
  std::chrono::nanoseconds spin = platform::ThreadPool::kSpin;
  // Starts the worker threads; empty: std::thread (tests refuse to start
  // threads through it).
  platform::ThreadPool::Starter start_thread = {};
};

class EnergyEvaluator {
 public:
  virtual ~EnergyEvaluator();
  EnergyEvaluator(const EnergyEvaluator&) = delete;
  EnergyEvaluator& operator=(const EnergyEvaluator&) = delete;

  // Total potential energy at x(1..n), n = nfree, gradient into g(1..n):
  // the strain energy of every element minus the work of the loads (the
  // force table, held fixed) at the free components. The energy and every
  // gradient component are summed in node, then element, vertex and axis
  // order, whatever the thread count, so the results do not depend on it.
  double operator()(int n, const terms::Vector& x, terms::Vector& g);

  // The same at the trial point x := x0 + step*d of a line search, formed in
  // the pass that also lays out the workspace and starts the gradient, so
  // that the point is written and read in one pass instead of three (the
  // point, the caller's finiteness check, the evaluation's copy). The point
  // is stored in x(1..n) and its components are the bits of x0(i) +
  // step*d(i). Returns nothing, with g untouched and no element evaluated,
  // when a component of the point is not finite. With slope, also the
  // slope d.g at the point, summed from 0.0 in index order (nlp::dot) in a
  // pass the evaluation makes anyway.
  std::optional<double> at_step(int n,
                                const terms::Vector& x0,
                                double step,
                                const terms::Vector& d,
                                terms::Vector& x,
                                terms::Vector& g,
                                double* slope = nullptr);

  // The elements list[0..] (0-based element numbers) one at a time, in
  // list order, on the calling thread: element list[i] gathers its nine
  // displacements from xs at slots[i] (a numbering of the caller's), its
  // energy is added to f and its gradient terms into gs at those slots;
  // returns f. Each element's arithmetic is that of every other pass. For
  // the energy of a few elements (the regions of newton/region.h).
  virtual double element_list(
      std::span<const std::size_t> list, const ElementSlots* slots, const double* xs, double* gs, double f) const = 0;

  // The threads an evaluation uses (1 when it runs on the calling thread).
  unsigned threads() const { return static_cast<unsigned>(part_element_.size() - 1); }
  const std::vector<ElementSlots>& slots() const { return slots_; }
  // Its worker threads, for other passes over the elements between
  // evaluations (the second-order method's tangent); null on one thread.
  platform::ThreadPool* pool() const { return pool_.get(); }

 protected:
  EnergyEvaluator(const analysis& a, const EvaluationOptions& options);

  // The law's element loops. serial: every element in order, its energy
  // added to f and its gradient terms into the full-length gradient gf;
  // returns f. part: the elements of part t of a parallel pass (see
  // below); xf is the full-length workspace of the displacements.
  virtual double serial_elements(const double* xf, double* gf, double f) const = 0;
  virtual void part_elements(std::size_t t, const double* xf, int n, double* g, double* f) = 0;

  // A parallel pass cuts the elements into contiguous parts, one per
  // thread. Each unknown is owned by the first part whose elements touch
  // it; a later part that touches it keeps its terms for it in a list of
  // its own, and those lists are added afterwards, part by part, in element
  // order. Every sum thus keeps the order of the one-thread pass. Each part
  // sums into a full-length gradient of its own, started at -force for the
  // unknowns it owns and copied into g for them at its end: parts meet on
  // cache lines of g wherever their unknowns interleave in the numbering,
  // and two cores adding into one line in turn would pass it back and forth
  // at every term. The first part adds its energies into f; the others
  // store theirs for a serial sum.
  //
  // What a part hands to the calling thread (its later energies and its
  // deferred terms) it makes in buffers of its own and copies out at its
  // end. Stores into lines that the other core has read since must first
  // take them back; scattered through the element loop, each such store
  // held up the loop's stores behind it for a transfer between the cores,
  // where one copy at the end streams (BENCHMARKS.md, "History").
  struct DeferredTerms {
    std::vector<int> unknown;       // 0-based, in the order the part makes the terms
    std::vector<double> value;      // the part's own, in that order
    std::vector<double> handed;     // the terms, copied out at the part's end
    std::vector<std::size_t> seam;  // the part's elements that make such terms, increasing, then SIZE_MAX
  };

  const analysis& a_;
  std::vector<ElementSlots> slots_;                 // one per element, in element order
  std::vector<std::size_t> part_element_;           // part boundaries (elements, multiples of 8), parts + 1 entries
  std::vector<std::vector<int>> owned_;             // per part: the unknowns it owns, increasing
  std::vector<std::vector<unsigned char>> defers_;  // per part, per slot: 1 where the part defers its terms
  std::vector<DeferredTerms> deferred_;             // per part: its terms for unknowns an earlier part owns
  std::vector<std::vector<double>> gradient_;       // per part: its sums, by slot
  std::vector<std::vector<double>> workspace_;      // per part: x and the prescribed displacements, by slot
  std::vector<double> energies_;  // energies of the elements past the first part, from part_element_[1] on
  std::vector<std::vector<double>> part_energies_;  // per part past the first: its energies, its own
  std::vector<std::size_t> free_entry_;             // nfree: the node table's entry of each unknown

  struct FreeSlot {
    std::size_t slot;   // workspace slot
    std::size_t entry;  // node table entry
  };
  using PrescribedSlot = FreeSlot;
  std::vector<FreeSlot> free_in_table_order_;  // the unknowns' entries in node and axis order
  std::vector<PrescribedSlot> prescribed_;     // the prescribed components' entries

 private:
  void lay_out_parts(unsigned parts);
  double parallel_pass(int n, const terms::Vector& x, terms::Vector& g);
  // The one-thread pass; source(slot) gives unknown slot's displacement
  // (and may store it). kFiniteOnly: nothing when a displacement is not
  // finite, before any element is evaluated.
  // With slope, also d.g (see at_step).
  template <bool kFiniteOnly, class Source>
  std::optional<double> serial_pass(int n, const Source& source, terms::Vector& g, const double* d, double* slope);
  // The parts of a parallel pass; fill(t, xf) puts x into part t's
  // workspace and says whether it is finite. With slope, also d.g.
  template <class Fill>
  std::optional<double> run_parts(int n, const Fill& fill, terms::Vector& g, const double* d, double* slope);

  std::vector<double> xfull_;                   // 3 * nnode: unknowns, then prescribed displacements, by slot
  std::vector<double> gfull_;                   // 3 * nnode on one thread: gradient accumulator, same numbering
  std::unique_ptr<platform::ThreadPool> pool_;  // none on one thread
};

}  // namespace solver
