#pragma once
// The gas of closed chambers as a potential of the node positions.
//
// A chamber is bounded by the elements its enclosures name, closed where
// it is open by planes of symmetry or fixed walls through its origin o.
// Its volume is measured by the divergence theorem from o:
//   V = 1/6 sum_e (P1 - o) . ((P2 - o) x (P3 - o)),
// the signed volumes of the tetrahedra from o to each element; a face on a
// plane through o adds nothing, so the closing planes need no elements.
// V is positive when the elements' normals (P2 - P1) x (P3 - P1) point out
// of the gas.
//
// The gas follows p V^kappa = p0 V0^kappa, p absolute, p0 = gauge +
// ambient at the reference volume V0 (the chamber's `volume`, or, when that
// is 0, V at the reference shape). Its potential is the work the gas and
// the ambient air do on the membrane, with the sign of an energy:
//   Pi(V) = -int_V0^V p dV + ambient (V - V0),
//   int_V0^V p dV = p0 V0 ln(V / V0)                                kappa = 1,
//                 = p0 V0 ((V0 / V)^(kappa - 1) - 1) / (1 - kappa)   otherwise,
// so dPi/dx = -(p - ambient) dV/dx: the gauge pressure along each element's
// current normal, as a pressure record acts, but at the pressure the
// current volume gives. Its second derivative is
//   -(p - ambient) d2V/dx2 + (kappa p / V) dV/dx dV/dx^T,
// an element-local follower part and one rank-one term per chamber, which
// couples all its nodes; the second-order method applies that term apart
// from the sparse matrix (newton/problem.h, NewtonProblem::rank_one).
//
// The gas law has no state at a volume of zero or below, and a flat
// chamber (an airbag sewn from two sheets) starts there. So below a floor
// volume V_f the potential goes on as its tangent line, the pressure held
// at p(V_f): it is continuously differentiable, any state of the membrane
// has an energy, and the minimiser may pass through flat or inverted
// shapes on its way. V_f starts at V0 / 2; the driver lowers it after a
// major iteration that ends below it (lower_floors), and a run whose last
// state is still below a floor fails naming the chamber (check): a result
// is always on the gas law.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "energy/evaluator.h"
#include "model/analysis.h"
#include "terms/terms.h"

namespace solver {

// What a chamber holds at a state: its volume and absolute pressure.
struct ChamberState {
  double volume = 0.0;
  double pressure = 0.0;
};

// A term w v v^T of a second derivative, v over the unknowns 0..n-1.
struct RankOne {
  double weight = 0.0;
  std::vector<double> v;
};

class GasChambers {
 public:
  // For the set-up model a (after start); none when it has no chambers.
  explicit GasChambers(const analysis& a);

  bool empty() const { return chambers_.empty(); }
  // The reference volume V0 of chamber k + 1.
  double reference_volume(std::size_t k) const { return chambers_[k].v0; }

  // f plus the gas potential at x(1..n), its gradient added into g(1..n).
  // Chambers in number order, their elements in element order.
  double add(double f, const terms::Vector& x, terms::Vector& g) const;

  // Each chamber's volume and pressure by the gas law at x, by chamber
  // number; DataError naming the chamber where its volume is not positive.
  std::vector<ChamberState> states(const terms::Vector& x) const;

  // After a major iteration: each chamber whose volume at x lies below its
  // floor gets a floor of half that volume (an eighth of the floor where
  // the volume is not positive); true when a floor moved, so that the
  // energy changed. DataError naming the chamber once a floor would fall
  // below 1e-12 V0: the membrane has collapsed onto its closing planes.
  bool lower_floors(const terms::Vector& x);
  // DataError naming the first chamber whose volume at x lies below its
  // floor: that state is not one of its gas.
  void check(const terms::Vector& x) const;

  // The follower part of the gas's second derivative at x added into
  // values at the pattern's positions (kTangentEntries per element, -1 for
  // a prescribed component); nothing with clamp, since it is indefinite.
  void add_tangent(const terms::Vector& x, std::span<const int> position, std::span<double> values) const;

  // factor times the gas's loads at x, the gauge pressure on each element
  // as a pressure record's, added into force at every component, held ones
  // too (for the reactions).
  void add_loads(const terms::Vector& x, double factor, terms::RealTable& force) const;

  // The rank-one terms of the second derivative at x, one per chamber.
  std::vector<RankOne> rank_one(const terms::Vector& x) const;

 private:
  struct Gas {
    int number = 0;
    double kappa = 1.0;
    double ambient = 0.0;
    double p0 = 0.0;  // absolute pressure at v0
    double v0 = 0.0;
    double floor = 0.0;  // V_f
    std::array<double, 3> origin{};
    std::vector<int> elements;  // 0-based, increasing
  };
  // "chamber N", after the model file's name where the model was read.
  std::string named(const Gas& c) const;
  double volume(const terms::Vector* x, const Gas& c) const;
  // The gas law's absolute pressure at v > 0.
  static double pressure(const Gas& c, double v);
  // The potential at v, its derivative -(p - ambient) and second derivative.
  struct Potential {
    double energy = 0.0;
    double gauge = 0.0;      // p - ambient, p held at p(V_f) below the floor
    double curvature = 0.0;  // kappa p / v, 0 below the floor
  };
  static Potential potential(const Gas& c, double v);
  // The gradient of c's volume at x over the unknowns 0..n-1.
  void volume_gradient(const terms::Vector& x, const Gas& c, std::vector<double>& dv) const;

  const analysis& a_;
  std::vector<Gas> chambers_;
};

// The pressure records as a potential, for the second-order method. A
// pressure p_e that follows the element's normal is the gradient of
// -p_e V_e, V_e the signed volume of the tetrahedron from a point o to
// the element, only up to terms on the element's sides; those cancel
// between two elements of equal pressure and are constant along sides whose
// nodes are held on every axis. So where every side across which the
// pressure changes (to another element's, or to none at the pressed
// surface's boundary, or a side of more than two elements) has its nodes
// held, the pressure's work is the potential
//   Pi(x) = -sum_e p_e (V_e(x) - V_e(reference)),
// whose gradient at every free component is the pressure's load on the
// current shape and whose second derivative is the load stiffness
// -sum_e p_e d2V_e/dx2, element by element. Minimised with the elements'
// energy, one major iteration reaches the equilibrium that the refreshed
// loads confirm. A side of a symmetry plane through o does not move its
// term off the components held across that plane; so such sides may be
// held across the plane only.
class PressurePotential {
 public:
  // Whether a's pressures have that potential (a set-up model): some
  // element is pressed, and every side across which the pressure changes
  // has both nodes held on all three axes, or lies in a plane x_k = c
  // across which both are held (a symmetry plane, or the seam of an
  // airbag's sheet on its mid-plane), all such planes through one point,
  // which is then o.
  static bool applies(const analysis& a);

  // The potential of a's pressures with on, none otherwise; where
  // applies(a) does not hold, an element-by-element sum that is not the
  // pressure's work (for tests of the parts).
  PressurePotential(const analysis& a, bool on);

  bool empty() const { return elements_.empty(); }
  // f plus the potential at x, its gradient added into g; elements in order.
  double add(double f, const terms::Vector& x, terms::Vector& g) const;
  // Its second derivative at x added into values (the pattern's positions,
  // kTangentEntries per element); indefinite, so never in a clamped tangent.
  void add_tangent(const terms::Vector& x, std::span<const int> position, std::span<double> values) const;
  // Element e's part of add_tangent (e pressed), at its kTangentEntries
  // positions pos.
  void element_tangent(const terms::Vector& x, int e, const int* pos, std::span<double> values) const;
  // The pressed elements, 0-based, increasing.
  const std::vector<int>& elements() const { return elements_; }

  // One element's part at its nine displacement components delta (vertex
  // 1 X, Y, Z, ...): its potential, its gradient into grad, and its second
  // derivative into h (row by row), for a region of the model. Zero for an
  // element without pressure.
  double element_part(int e, const double (&delta)[9], double (&grad)[9]) const;
  void element_hessian(int e, const double (&delta)[9], double (&h)[81]) const;

 private:
  // The point o where a's pressure has a potential; none where not.
  static std::optional<std::array<double, 3>> origin_of(const analysis& a);
  // Element e's vertices at the displacements delta, less the origin.
  void element_corners(int e, const double (&delta)[9], double (&p)[3][3]) const;

  const analysis& a_;
  std::array<double, 3> origin_{};
  std::vector<int> elements_;      // the pressed elements, 0-based, increasing
  std::vector<double> reference_;  // 6 V_e at the reference shape, by element (0-based)
};

}  // namespace solver
