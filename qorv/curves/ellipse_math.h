// qorv/curves/ellipse_math.h
//
// The numerics under the elliptic curves: arc length of an ellipse between two parameters, its
// perimeter, Carlson's symmetric elliptic integrals R_F and R_D, and the conversion of a
// central (polar) angle to the eccentric parameter.
//
// Conventions a caller gets wrong:
// - The ellipse is x = a cos t, y = b sin t: a lies along X and b along Y whatever their sizes,
//   and t is the eccentric parameter, not the polar angle of the point (see central_to_param).
// - arcLength(a, b, t0, t1) is a length: never negative, the same for (t1, t0), and it counts
//   every turn of a span longer than 2 pi. Negative semi-axes count by their magnitude; a NaN
//   or an infinity anywhere gives NaN.
// - central_to_param takes the whole axes (2a and 2b, as an ellipse stores them) and keeps the
//   turn of its argument only in the sign: a negative angle comes back as a parameter in
//   (-2 pi, 0], a positive one in [0, 2 pi], 2 pi itself unchanged. The quadrant boundaries
//   are compared in double precision (pi/2 is M_PI/2), and a zero small axis divides by zero.
//
// Method: with m and M the smaller and the larger of a, b, the length from the vertex where
// the curve is slowest (speed m, the end of the major axis) over a parameter angle phi is
//   m^2 [sin(phi) R_F(m^2 cos^2, W, m^2) + (M^2 - m^2)/3 sin^3(phi) R_D(m^2 cos^2, W, m^2)],
// W = m^2 cos^2(phi) + M^2 sin^2(phi): the integral of the second kind written homogeneously
// (B. C. Carlson, "Numerical computation of real or complex elliptic integrals", Numerical
// Algorithms 10, 1995, duplication with the fifth-order series), both terms positive, so
// nothing cancels however flat the ellipse. A span is cut at the vertices (multiples of pi/2,
// reduced with a two-part pi/2): whole quarters are the complete integral; a piece is the
// difference of two lengths measured from its slow vertex, or, when it lies at least twice its
// width away from that vertex (where the difference would cancel), 10-point Gauss-Legendre,
// whose integrand is then analytic well beyond the piece. Relative error about 1e-15.
#pragma once

#include "qorv/platform/api.h"

namespace EllipseMath {

// R_F(x, y, z) = 1/2 int_0^inf dt / sqrt((t+x)(t+y)(t+z)); x, y, z >= 0, at most one zero.
// Out of the domain (a negative or NaN argument, two zeros): NaN.
QORV_API double carlsonRF(double x, double y, double z);
// R_D(x, y, z) = 3/2 int_0^inf dt / sqrt((t+x)(t+y)(t+z)^3); x, y >= 0 with at most one zero,
// z > 0. Out of the domain: NaN.
QORV_API double carlsonRD(double x, double y, double z);

// Length of the ellipse x = a cos t, y = b sin t for t between t0 and t1 (either order).
QORV_API double arcLength(double a, double b, double t0, double t1);
// Length of the whole ellipse, 2 pi a for a circle.
QORV_API double perimeter(double a, double b);

// The eccentric parameter t of the point at central angle theta (measured from the axis of
// bigAxe) of the ellipse with whole axes bigAxe and smallAxe: with k = bigAxe / smallAxe and
// theta' = theta raised by 2 pi while negative, then taken modulo 2 pi:
//   atan(tan theta' k)          for theta' in [0, pi/2]
//   atan(tan theta' k) + pi     for theta' in (pi/2, 3 pi/2]
//   atan(tan theta' k) + 2 pi   otherwise,
// less 2 pi when theta was negative; 2 pi is returned unchanged. Non-finite theta: NaN.
QORV_API double central_to_param(double theta, double bigAxe, double smallAxe);

}  // namespace EllipseMath
