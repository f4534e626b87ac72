// qorv/siblings/surface_kernel/ellipse.h
//
// SurfaceKernel: zrkEllipse2, the axis-aligned ellipse centred at the origin, and its global
// closest point; zrkCurvePointList2, the short list of points that answers it; the solution
// codes.
//
// Conventions a caller gets wrong:
// - zrkEllipse2(b, a) takes the semi-axis along Y FIRST, then the one along X: the ellipse is
//   (x/a)^2 + (y/b)^2 = 1. The order of sizes does not matter: with a < b the ellipse is simply
//   taller than wide (its major axis is Y) and the answer is just as exact.
// - global_closest_point clears the list, then fills it. Success is a code of 2, 3 or 4 (use
//   zrk_solution_ok), and then entry 0 is a nearest point; on failure the list is empty.
//     0 ZRK_NOT_COMPUTED  never returned by a call; the value to initialise a code with
//     1 ZRK_BAD_INPUT     a NaN anywhere, an infinite or negative semi-axis
//     2 ZRK_UNIQUE        one nearest point, which is entry 0 (also every point at infinity:
//                         the limit of the nearest point along q's direction)
//     3 ZRK_ON_CURVE      q lies on the ellipse within rounding (distance <= 2^-50 of the major
//                         semi-axis); entry 0 is the foot, q itself within that distance
//     4 ZRK_SEVERAL       several points are equally near. On the major axis strictly inside
//                         the evolute, |x| < (a^2 - b^2)/a along the major axis (the centre
//                         included), there are two, mirror images in the major axis: entry 0
//                         on the positive side of the minor axis' direction, entry 1 its mirror.
//                         At the centre of a circle every point is: one entry, (a, 0).
// - Degenerate sizes are answered, not refused: a zero minor semi-axis is the segment of the
//   major axis (a point of it is on the curve, code 3), both zero the origin. An ellipse
//   flatter than 2^-300 is answered as that segment thickened to the ellipse, within its minor
//   semi-axis of the exact distance.
// - Huge and infinite coordinates are legal: past 2^400 major semi-axes from the centre the
//   answer is the limit along q's direction, the point whose normal is that direction; an
//   infinite coordinate dominates any finite one ((+inf, 5) answers the vertex (a, 0)).
//
// Method: D. Eberly, "Distance from a Point to an Ellipse, an Ellipsoid, or a Hyperellipsoid"
// (Geometric Tools). In the first quadrant, with a the major semi-axis and the point
// (y0, y1) off both axes, the foot is (a^2 y0 / (t + a^2), b^2 y1 / (t + b^2)) for the one root
// t > -b^2 of (a y0 / (t + a^2))^2 + (b y1 / (t + b^2))^2 = 1; other quadrants by symmetry and
// the axes in closed form. The root is taken in u = (t + b^2)/b^2, which keeps its relative
// precision when the point nears the major axis (t -> -b^2), and found by Newton's method on
// 1/N(u) - 1, N(u) the left side's square root: a power mean of order -2, hence concave, so a
// step from above the root lands below it and from there the iterates climb to the root
// without overshooting (as in Moré and Sorensen's trust-region secular equation), in a few
// steps since the function is nearly linear. The start is u = 1, q itself: the best one for
// points near the curve.
#pragma once

#include "qorv/platform/api.h"
#include "qorv/siblings/point_arrays/gi_point.h"

namespace qorv::siblings {

enum zrkSolutionCode : int {
  ZRK_NOT_COMPUTED = 0,
  ZRK_BAD_INPUT = 1,
  ZRK_UNIQUE = 2,
  ZRK_ON_CURVE = 3,
  ZRK_SEVERAL = 4,
};

constexpr bool zrk_solution_ok(int code) { return code >= ZRK_UNIQUE && code <= ZRK_SEVERAL; }

// The points of a curve that answer a query, nearest first. Holds up to kCapacity points
// inline (no allocation: a query builds one per call); append past it is refused.
class zrkCurvePointList2 {
 public:
  static constexpr int kCapacity = 4;

  int size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  // False, and nothing stored, when the list is full.
  bool append(const giPoint2& p) {
    if (size_ == kCapacity) return false;
    points_[size_++] = p;
    return true;
  }
  // i in [0, size()).
  const giPoint2& operator[](int i) const { return points_[i]; }
  const giPoint2* begin() const { return points_; }
  const giPoint2* end() const { return points_ + size_; }

 private:
  giPoint2 points_[kCapacity];
  int size_ = 0;
};

class QORV_API zrkEllipse2 {
 public:
  // b: semi-axis along Y, a: semi-axis along X (this order). Not checked here: a bad size is
  // reported by each query.
  zrkEllipse2(double b, double a) : a_(a), b_(b) {}

  double a() const { return a_; }
  double b() const { return b_; }

  // The nearest points of the ellipse to q into out, entry 0 first; the code as listed above,
  // also returned.
  int global_closest_point(const giPoint2& q, zrkCurvePointList2& out, int& code) const;

 private:
  double a_;
  double b_;
};

}  // namespace qorv::siblings
