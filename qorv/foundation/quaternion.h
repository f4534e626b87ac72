// qorv/foundation/quaternion.h
//
// ERQuaternion: w + xi + yj + zk, stored w first, for rotations and their interpolation.
//
// Conventions a caller gets wrong:
// - ERQuaternion(axis, angle) is (cos(angle/2), sin(angle/2) axis^): the rotation by angle
//   about axis, counter-clockwise seen from the axis tip; q * v rotates v by it and equals
//   GetMatrix() applied to v (column vector), for a unit q. A non-unit q scales as its matrix does.
// - ERQuaternion(ERVector3D v) is NOT a pure quaternion: it is (c, c v) with c = cos(atan|v|),
//   the unit quaternion whose vector part over w is v.
// - Slerp does not flip q to take the shorter arc; callers wanting it negate q when p.q < 0.
// - Inverse() of a zero quaternion is all zeros, not NaN.
//
// The quaternion of a rotation matrix is Shepperd's method: from the trace when it is
// positive, otherwise from the largest diagonal element, so no square root sees a small
// argument (180-degree rotations included). Exp and Log are the full quaternion forms
// (e^w (cos|v|, sin|v| v^); (ln|q|, acos(w/|q|) v^)); Squad and Intermediate are Shoemake's
// spherical spline (Intermediate gives the inner control points a, b around q1).
#pragma once

#include <iosfwd>

#include "qorv/platform/api.h"
#include "qorv/foundation/points.h"
#include "qorv/support/quick_algebra.h"

class QORV_API ERQuaternion {
 public:
  static constexpr int kSize = 4;

  constexpr ERQuaternion() : v_{1.0, 0.0, 0.0, 0.0} {}
  constexpr ERQuaternion(double w, double x, double y, double z) : v_{w, x, y, z} {}
  // (w, x, y, z) in that order.
  explicit ERQuaternion(const double q[4]) : v_{q[0], q[1], q[2], q[3]} {}
  ERQuaternion(const ERVector3D& axis, double angle);
  explicit ERQuaternion(const ERVector3D& v);
  // From a rotation matrix, m[row][column].
  explicit ERQuaternion(const double m[3][3]);
  // From a 3x3 rotation matrix; another shape is a bug (asserted) and gives the identity.
  explicit ERQuaternion(const QuickAlgebra::ERMatrix<double>& m);

  double w() const { return v_[0]; }
  double x() const { return v_[1]; }
  double y() const { return v_[2]; }
  double z() const { return v_[3]; }
  double& w() { return v_[0]; }
  double& x() { return v_[1]; }
  double& y() { return v_[2]; }
  double& z() { return v_[3]; }
  double operator[](int i) const { return v_[i]; }
  const double* data() const { return v_; }
  double* data() { return v_; }

  // The rotation matrix of a unit quaternion, m[row][column].
  void GetMatrix(double m[3][3]) const;
  QuickAlgebra::ERMatrix<double> GetMatrix() const;
  operator QuickAlgebra::ERMatrix<double>() const { return GetMatrix(); }

  double Dot(const ERQuaternion& q) const { return qorv::detail::coordDot(*this, q); }
  double Norm2() const { return Dot(*this); }
  // 2 atan2(|(x, y, z)|, w).
  double Angle() const;
  // (x, y, z) normalised; zero stays zero.
  ERVector3D Axis() const;
  // Conjugate over the squared norm; all zeros when the squared norm is not positive.
  ERQuaternion Inverse() const;
  // The conjugate: the inverse of a unit quaternion.
  ERQuaternion UnitInverse() const { return ERQuaternion(v_[0], -v_[1], -v_[2], -v_[3]); }
  ERQuaternion Exp() const;
  ERQuaternion Log() const;

  // theta = acos(p.q): p when |theta| < 0.001, else
  // (sin((1 - t) theta) p + sin(t theta) q) / sin theta.
  static ERQuaternion Slerp(double t, const ERQuaternion& p, const ERQuaternion& q);
  // Slerp that turns spins extra half-turns (pi each) on the way.
  static ERQuaternion SlerpExtraSpins(double t, const ERQuaternion& p, const ERQuaternion& q,
                                      int spins);
  // Slerp(2t(1 - t), Slerp(t, p, q), Slerp(t, a, b)).
  static ERQuaternion Squad(double t, const ERQuaternion& p, const ERQuaternion& a,
                            const ERQuaternion& b, const ERQuaternion& q);
  // Control points around the unit key q1 between q0 and q2: a = q1 exp(g), b = q1 exp(-g)
  // with g = (log(q0* q1) - log(q1* q2)) / 4 (Shoemake's point after q1, and its mirror).
  static void Intermediate(const ERQuaternion& q0, const ERQuaternion& q1, const ERQuaternion& q2,
                           ERQuaternion& a, ERQuaternion& b);

  ERQuaternion& operator+=(const ERQuaternion& q);
  ERQuaternion& operator-=(const ERQuaternion& q);
  ERQuaternion& operator*=(double k);
  bool operator==(const ERQuaternion& o) const { return qorv::detail::coordEqual(*this, o); }
  bool operator!=(const ERQuaternion& o) const { return !(*this == o); }

  // "[" w "," x "," y "," z "]".
  void printOn(std::ostream& os) const;

 private:
  double v_[4];
};

// Hamilton product, w first.
QORV_API ERQuaternion operator*(const ERQuaternion& a, const ERQuaternion& b);
// The rotation of v (GetMatrix() v).
QORV_API ERVector3D operator*(const ERQuaternion& q, const ERVector3D& v);
inline ERQuaternion operator*(const ERQuaternion& q, double k) {
  return qorv::detail::coordMap<ERQuaternion>(q, [k](double c) { return c * k; });
}
inline ERQuaternion operator*(double k, const ERQuaternion& q) { return q * k; }
inline ERQuaternion operator+(const ERQuaternion& a, const ERQuaternion& b) {
  return qorv::detail::coordZip<ERQuaternion>(a, b, qorv::detail::kAdd);
}
inline ERQuaternion operator-(const ERQuaternion& a, const ERQuaternion& b) {
  return qorv::detail::coordZip<ERQuaternion>(a, b, qorv::detail::kSub);
}
inline ERQuaternion operator-(const ERQuaternion& q) {
  return qorv::detail::coordMap<ERQuaternion>(q, [](double c) { return -c; });
}
inline ERQuaternion& ERQuaternion::operator+=(const ERQuaternion& q) { return *this = *this + q; }
inline ERQuaternion& ERQuaternion::operator-=(const ERQuaternion& q) { return *this = *this - q; }
inline ERQuaternion& ERQuaternion::operator*=(double k) { return *this = *this * k; }

QORV_API std::ostream& operator<<(std::ostream& os, const ERQuaternion& q);
