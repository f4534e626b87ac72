// qorv/siblings/point_arrays/gi_point.h
//
// PointArrays: giPoint2, the plane point the surface kernel takes and returns.
//
// Conventions a caller gets wrong: plain coordinates, no tolerance; == is exact and -0.0 equals
// 0.0 (IEEE comparison).
#pragma once

namespace qorv::siblings {

struct giPoint2 {
  double x = 0.0;
  double y = 0.0;

  constexpr giPoint2() = default;
  constexpr giPoint2(double px, double py) : x(px), y(py) {}
  friend constexpr bool operator==(const giPoint2&, const giPoint2&) = default;
};

}  // namespace qorv::siblings
