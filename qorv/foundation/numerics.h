// qorv/foundation/numerics.h
//
// The constants and coordinate checks the kernel's sources share. Not part of the interface a
// host programs against: names live in qorv::detail and may change.
//
// Conventions a caller gets wrong:
// - kTwoPi is the double nearest 2 pi (2 * std::numbers::pi exactly), not a rounded product.
// - finite() is false for a point with any NaN or infinite coordinate; maxAbs() of such a
//   point is NaN or infinite (std::max passes NaN through only in its first argument: do not
//   use maxAbs to detect NaN).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "qorv/foundation/angles.h"
#include "qorv/foundation/points.h"

namespace qorv::detail {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

inline bool finite(const ERPoint3D& p) {
  return std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z());
}
inline bool finite(const ERVector3D& v) {
  return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}
inline double maxAbs(const ERPoint3D& p) {
  return std::max({std::fabs(p.x()), std::fabs(p.y()), std::fabs(p.z())});
}

inline double clampInto(double x, const ERLimites& l) {
  return std::min(std::max(x, l.start()), l.end());
}

// sqrt(a^2 + b^2), scaled only when the squares leave the range.
inline double length2(double a, double b) {
  const double q = a * a + b * b;
  if (q >= 0x1p-968 && q <= 0x1p968) return std::sqrt(q);
  return std::hypot(a, b);
}

// Error-free transformations: s + e == a + b and p + e == a b exactly (no overflow).
inline void twoSum(double a, double b, double& s, double& e) {
  s = a + b;
  const double z = s - a;
  e = (a - (s - z)) + (b - z);
}

inline void twoProduct(double a, double b, double& p, double& e) {
  p = a * b;
#if defined(__FMA__) || defined(__ARM_FEATURE_FMA)
  e = std::fma(a, b, -p);
#else
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double ca = kSplit * a, cb = kSplit * b;
  const double ah = ca - (ca - a), al = a - ah;
  const double bh = cb - (cb - b), bl = b - bh;
  e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
#endif
}

// Row-major 3 x 3 matrices and plain triples, for the solvers that work on raw numbers.
// c = a b (c may not alias a or b).
inline void mul33(const double* a, const double* b, double* c) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      c[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

using Triple = std::array<double, 3>;
inline double dot(const Triple& a, const Triple& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline Triple cross(const Triple& a, const Triple& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// a / |a|; a itself when it is zero.
inline Triple unit(const Triple& a) {
  const double n = std::hypot(a[0], a[1], a[2]);
  return n > 0 ? Triple{a[0] / n, a[1] / n, a[2] / n} : a;
}

// n values: on the stack up to kStack, else on the heap (value-initialised there only).
template <class T, std::size_t kStack>
class StackBuffer {
 public:
  explicit StackBuffer(std::size_t n) {
    if (n > kStack) heap_.resize(n);
  }
  T* get() { return heap_.empty() ? stack_ : heap_.data(); }

 private:
  T stack_[kStack];
  std::vector<T> heap_;
};

}  // namespace qorv::detail
