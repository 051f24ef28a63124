#pragma once
// The membrane prestress of the model file's :prestress records, as the
// energy uses it: for every element the side stresses N0 of its prestress
// tensor on the element's reference geometry, the quantities conjugate to
// the side strains like the elastic side stresses K e (energy/kernel.h).
//
// The tensor. An element of a record with n1 == n2 carries the isotropic
// tensor n1 I of its plane. Otherwise n1 acts along t1, the unit vector of
// the record's direction projected onto the element's reference plane, and
// n2 along t2 = normal x t1, across it in the plane: S0 = n1 t1 t1^T +
// n2 t2 t2^T. So a direction X gives every element of a roof its n1 along
// the roof's slope in the X-Z plane, whatever the element's tilt. Where the
// direction is normal to an element (its projection shorter than
// kNormalDirection of its length) the plane holds no t1; that element's
// record is refused.
//
// The side stresses. The tensor S0 is the sum over the sides of N0_k d_k
// d_k^T (d_k the unit side vectors): three unknowns, three components of a
// plane tensor. Contracting with the in-plane normal m_j of side j, which
// is orthogonal to d_j, leaves the two other sides, and solving the three
// equations gives, with L_k the side lengths, A the area and r_k = m_k^T S0
// m_k = n1 (1 - c_k^2) + n2 c_k^2 (c_k = t1 . d_k):
//   N0_k = L_k^2 (r_{k+1} L_{k+1}^2 + r_{k+2} L_{k+2}^2 - r_k L_k^2) / (8 A^2).
// For the isotropic tensor (r_k = n1) this is n1 L_k^2 cot(angle_k) /
// (2 A): the side forces A N0_k / L_k of a uniform tension are the
// cotangent weights of the minimal-surface equations.
//
// The prestress is a stress of the reference state, carried by the
// element as it deforms (a second Piola-Kirchhoff stress); it adds the
// work A N0 . e to the element's energy.

#include <array>
#include <string>

#include "model/analysis.h"

namespace solver {

// The shortest projection, relative to the direction's length, that still
// gives an element a direction of n1.
inline constexpr double kNormalDirection = 1e-6;

// The side stresses N0 of prestress record p (record number `record`, from
// 1) on element `e` (from 1) after its set-up (length, dir, area). DataError
// naming the record and the element when p is orthotropic and its direction
// is normal to the element; with the model's file, the report starts with
// its name and the record's line.
std::array<double, 3> prestress_sides(
    const element& el, const PrestressRange& p, int record, int e, const std::string& file = {});

// Fills a.side_prestress from a.extension.prestress: the side stresses of
// every element, zero for one that no record names; left empty for a model
// without prestress records. Called by start after the elements' set-up.
void set_up_prestress(analysis& a);

}  // namespace solver
