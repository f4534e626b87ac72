#include "qorv/foundation/quaternion.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "qorv/foundation/numerics.h"

namespace {

using qorv::detail::kPi;

// Slerp's threshold on the angle between the keys, below which p is returned as it is.
constexpr double kSlerpEpsilon = 0.001;

double vectorNorm(const ERQuaternion& q) {
  const double v[3] = {q.x(), q.y(), q.z()};
  return qorv::detail::coordLength<3>(v);
}

// acos of p.q, the dot clamped so that equal unit keys give 0 rather than NaN.
double keyAngle(const ERQuaternion& p, const ERQuaternion& q) {
  const double c = p.Dot(q);
  return std::acos(c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c));
}

}  // namespace

ERQuaternion::ERQuaternion(const ERVector3D& axis, double angle) {
  const ERVector3D n = axis.getnormalized();
  const double s = std::sin(0.5 * angle);
  v_[0] = std::cos(0.5 * angle);
  v_[1] = s * n.x(), v_[2] = s * n.y(), v_[3] = s * n.z();
}

ERQuaternion::ERQuaternion(const ERVector3D& v) {
  const double c = std::cos(std::atan(v.norme()));
  v_[0] = c;
  v_[1] = c * v.x(), v_[2] = c * v.y(), v_[3] = c * v.z();
}

ERQuaternion::ERQuaternion(const double m[3][3]) {
  const double trace = m[0][0] + m[1][1] + m[2][2];
  if (trace > 0.0) {
    const double s = 2.0 * std::sqrt(trace + 1.0);  // 4w, at least 2
    v_[0] = 0.25 * s;
    v_[1] = (m[2][1] - m[1][2]) / s;
    v_[2] = (m[0][2] - m[2][0]) / s;
    v_[3] = (m[1][0] - m[0][1]) / s;
  } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
    const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 + m[0][0] - m[1][1] - m[2][2]));  // 4x
    v_[0] = (m[2][1] - m[1][2]) / s;
    v_[1] = 0.25 * s;
    v_[2] = (m[0][1] + m[1][0]) / s;
    v_[3] = (m[0][2] + m[2][0]) / s;
  } else if (m[1][1] >= m[2][2]) {
    const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 + m[1][1] - m[0][0] - m[2][2]));  // 4y
    v_[0] = (m[0][2] - m[2][0]) / s;
    v_[1] = (m[0][1] + m[1][0]) / s;
    v_[2] = 0.25 * s;
    v_[3] = (m[1][2] + m[2][1]) / s;
  } else {
    const double s = 2.0 * std::sqrt(std::max(0.0, 1.0 + m[2][2] - m[0][0] - m[1][1]));  // 4z
    v_[0] = (m[1][0] - m[0][1]) / s;
    v_[1] = (m[0][2] + m[2][0]) / s;
    v_[2] = (m[1][2] + m[2][1]) / s;
    v_[3] = 0.25 * s;
  }
}

ERQuaternion::ERQuaternion(const QuickAlgebra::ERMatrix<double>& m) : ERQuaternion() {
  if (m.rows() != 3 || m.cols() != 3) {
    QORV_ASSERT(!"a rotation matrix is 3 x 3");
    return;
  }
  double a[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) a[i][j] = m(i, j);
  *this = ERQuaternion(a);
}

QuickAlgebra::ERMatrix<double> ERQuaternion::GetMatrix() const {
  double a[3][3];
  GetMatrix(a);
  return QuickAlgebra::ERMatrix<double>(3, 3, &a[0][0]);
}

void ERQuaternion::GetMatrix(double m[3][3]) const {
  const double w = v_[0], x = v_[1], y = v_[2], z = v_[3];
  m[0][0] = 1.0 - 2.0 * (y * y + z * z);
  m[0][1] = 2.0 * (x * y - w * z);
  m[0][2] = 2.0 * (x * z + w * y);
  m[1][0] = 2.0 * (x * y + w * z);
  m[1][1] = 1.0 - 2.0 * (x * x + z * z);
  m[1][2] = 2.0 * (y * z - w * x);
  m[2][0] = 2.0 * (x * z - w * y);
  m[2][1] = 2.0 * (y * z + w * x);
  m[2][2] = 1.0 - 2.0 * (x * x + y * y);
}

double ERQuaternion::Angle() const { return 2.0 * std::atan2(vectorNorm(*this), v_[0]); }

ERVector3D ERQuaternion::Axis() const { return ERVector3D(v_[1], v_[2], v_[3]).getnormalized(); }

ERQuaternion ERQuaternion::Inverse() const {
  const double n2 = Norm2();
  if (!(n2 > 0.0)) return ERQuaternion(0.0, 0.0, 0.0, 0.0);
  return ERQuaternion(v_[0] / n2, -v_[1] / n2, -v_[2] / n2, -v_[3] / n2);
}

ERQuaternion ERQuaternion::Exp() const {
  const double a = vectorNorm(*this);
  const double e = std::exp(v_[0]);
  const double k = a > 0.0 ? std::sin(a) / a : 1.0;
  return ERQuaternion(e * std::cos(a), e * k * v_[1], e * k * v_[2], e * k * v_[3]);
}

ERQuaternion ERQuaternion::Log() const {
  const double a = vectorNorm(*this);
  const double n = std::sqrt(Norm2());
  const double angle = std::atan2(a, v_[0]);  // acos(w / |q|), accurate near 0 and pi
  // A real q has a zero vector part; a negative one has no defined axis and keeps it zero.
  const double k = a > 0.0 ? angle / a : 0.0;
  return ERQuaternion(std::log(n), k * v_[1], k * v_[2], k * v_[3]);
}

ERQuaternion ERQuaternion::Slerp(double t, const ERQuaternion& p, const ERQuaternion& q) {
  const double theta = keyAngle(p, q);
  if (std::fabs(theta) < kSlerpEpsilon) return p;
  const double s = std::sin(theta);
  return (std::sin((1.0 - t) * theta) / s) * p + (std::sin(t * theta) / s) * q;
}

ERQuaternion ERQuaternion::SlerpExtraSpins(double t, const ERQuaternion& p, const ERQuaternion& q,
                                           int spins) {
  const double theta = keyAngle(p, q);
  if (std::fabs(theta) < kSlerpEpsilon) return p;
  const double s = std::sin(theta);
  const double phase = kPi * spins * t;
  return (std::sin((1.0 - t) * theta - phase) / s) * p + (std::sin(t * theta + phase) / s) * q;
}

ERQuaternion ERQuaternion::Squad(double t, const ERQuaternion& p, const ERQuaternion& a,
                                 const ERQuaternion& b, const ERQuaternion& q) {
  return Slerp(2.0 * t * (1.0 - t), Slerp(t, p, q), Slerp(t, a, b));
}

void ERQuaternion::Intermediate(const ERQuaternion& q0, const ERQuaternion& q1,
                                const ERQuaternion& q2, ERQuaternion& a, ERQuaternion& b) {
  const ERQuaternion g = 0.25 * ((q0.UnitInverse() * q1).Log() - (q1.UnitInverse() * q2).Log());
  const ERQuaternion ga = q1 * g.Exp();
  const ERQuaternion gb = q1 * (-g).Exp();
  a = ga;
  b = gb;
}

ERQuaternion operator*(const ERQuaternion& a, const ERQuaternion& b) {
  return ERQuaternion(a.w() * b.w() - a.x() * b.x() - a.y() * b.y() - a.z() * b.z(),
                      a.w() * b.x() + a.x() * b.w() + a.y() * b.z() - a.z() * b.y(),
                      a.w() * b.y() + a.y() * b.w() + a.z() * b.x() - a.x() * b.z(),
                      a.w() * b.z() + a.z() * b.w() + a.x() * b.y() - a.y() * b.x());
}

ERVector3D operator*(const ERQuaternion& q, const ERVector3D& v) {
  double m[3][3];
  q.GetMatrix(m);
  return ERVector3D(m[0][0] * v.x() + m[0][1] * v.y() + m[0][2] * v.z(),
                    m[1][0] * v.x() + m[1][1] * v.y() + m[1][2] * v.z(),
                    m[2][0] * v.x() + m[2][1] * v.y() + m[2][2] * v.z());
}

void ERQuaternion::printOn(std::ostream& os) const { qorv::detail::printDoubles(os, v_, 4); }

std::ostream& operator<<(std::ostream& os, const ERQuaternion& q) { return q.printOn(os), os; }
