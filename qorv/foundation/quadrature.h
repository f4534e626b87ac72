// qorv/foundation/quadrature.h
//
// Adaptive Simpson quadrature, shared by the arc lengths of the freeform curves.
//
// Conventions a caller gets wrong:
// - The caller gives the panel's ends and its three samples (f(a), f(m), f(b)) and the panel's
//   plain Simpson estimate; each halving asks f at two new points only.
// - tol is absolute and halves with each split; depth bounds the recursion (the estimate at the
//   bottom is returned as it stands, Richardson-corrected). A NaN sample stops the splitting.
#pragma once

#include <cmath>

namespace qorv::detail {

template <class F>
double adaptiveSimpson(const F& f, double a, double b, double fa, double fm, double fb,
                       double whole, double tol, int depth) {
  const double m = 0.5 * (a + b), lm = 0.5 * (a + m), rm = 0.5 * (m + b);
  const double flm = f(lm), frm = f(rm);
  const double left = (m - a) / 6.0 * (fa + 4.0 * flm + fm);
  const double right = (b - m) / 6.0 * (fm + 4.0 * frm + fb);
  const double both = left + right;
  if (depth <= 0 || !(std::fabs(both - whole) > 15.0 * tol)) return both + (both - whole) / 15.0;
  return adaptiveSimpson(f, a, m, fa, flm, fm, left, 0.5 * tol, depth - 1) +
         adaptiveSimpson(f, m, b, fm, frm, fb, right, 0.5 * tol, depth - 1);
}

}  // namespace qorv::detail
