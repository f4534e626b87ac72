#include "qorv/foundation/quaternion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "tests/in_order.h"

using namespace qorv;

namespace {

constexpr double kPi = std::numbers::pi;
constexpr unsigned kSeed = 99173u;

ERVector3D rotated(const ERVector3D& v, const ERVector3D& axis, double angle) {
  const ERVector3D n = axis.getnormalized();
  return std::cos(angle) * v + std::sin(angle) * (n ^ v) + (1.0 - std::cos(angle)) * (n * v) * n;
}

ERVector3D applied(const double m[3][3], const ERVector3D& v) {
  return ERVector3D(m[0][0] * v.x() + m[0][1] * v.y() + m[0][2] * v.z(),
                    m[1][0] * v.x() + m[1][1] * v.y() + m[1][2] * v.z(),
                    m[2][0] * v.x() + m[2][1] * v.y() + m[2][2] * v.z());
}

bool sameRotation(const ERQuaternion& a, const ERQuaternion& b, double tol) {
  return (a - b).Norm2() <= tol * tol || (a + b).Norm2() <= tol * tol;
}

struct Random {
  std::mt19937 g{kSeed};
  std::uniform_real_distribution<double> d{-1.0, 1.0};
  ERVector3D vector() { return ERVector3D(d(g), d(g), d(g)); }
  ERQuaternion unit() {
    ERVector3D axis = vector();
    while (axis.norme() < 0.1) axis = vector();
    return ERQuaternion(axis, 3.0 * d(g));
  }
};

TEST(Quaternion, RotationAgreesWithRodriguesAndTheMatrix) {
  Random r;
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  for (int i = 0; i < 200; ++i) {
    ERVector3D axis = r.vector();
    while (axis.norme() < 0.1) axis = r.vector();
    const double angle = 4.0 * r.d(r.g);
    const ERQuaternion q(axis, angle);
    EXPECT_NEAR(q.Norm2(), 1.0, 1e-14);
    const ERVector3D v = r.vector();
    EXPECT_TRUE(isEqual(q * v, rotated(v, axis, angle), 1e-14));
    double m[3][3];
    q.GetMatrix(m);
    EXPECT_TRUE(isEqual(applied(m, v), q * v, 1e-15));
    // Angle and axis come back (the angle in [0, 2pi), the axis flipping with it).
    const double a = q.Angle();
    EXPECT_TRUE(isEqual(q.Axis() * (angle < 0 ? -1.0 : 1.0), axis.getnormalized(), 1e-12));
    EXPECT_NEAR(a, std::fabs(angle), 1e-12);
    // The Hamilton product composes rotations: (p q) v = p (q v).
    const ERQuaternion p = r.unit();
    EXPECT_TRUE(isEqual((p * q) * v, p * (q * v), 1e-14));
    EXPECT_TRUE(sameRotation(p * p.Inverse(), ERQuaternion(), 1e-15));
    EXPECT_EQ(p.UnitInverse(), ERQuaternion(p.w(), -p.x(), -p.y(), -p.z()));
  }
  // i j = k, j i = -k.
  const ERQuaternion i(0, 1, 0, 0), j(0, 0, 1, 0), k(0, 0, 0, 1);
  EXPECT_EQ((Seq{i * j, j * i, k * k, ERQuaternion(0, 0, 0, 0).Inverse()}),
            (Seq{k, -k, ERQuaternion(-1, 0, 0, 0), ERQuaternion(0, 0, 0, 0)}));
  EXPECT_EQ(ERQuaternion(2, 0, 0, 0).Inverse(), ERQuaternion(0.5, 0, 0, 0));
}

TEST(Quaternion, MatrixRoundTripsIncludingHalfTurns) {
  Random r;
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  std::vector<ERQuaternion> cases;
  for (const ERVector3D axis :
       {ERVector3D(1, 0, 0), ERVector3D(0, 1, 0), ERVector3D(0, 0, 1), ERVector3D(1, 1, 0),
        ERVector3D(0, -1, 1), ERVector3D(1, 1, 1), ERVector3D(-1, 2, -3)}) {
    cases.emplace_back(axis, kPi);
    cases.emplace_back(axis, kPi - 1e-9);
    cases.emplace_back(axis, 1e-9);
  }
  cases.emplace_back();
  for (int i = 0; i < 300; ++i) cases.push_back(r.unit());
  for (const ERQuaternion& q : cases) {
    double m[3][3], back[3][3];
    q.GetMatrix(m);
    const ERQuaternion p(m);
    EXPECT_NEAR(p.Norm2(), 1.0, 1e-14);
    EXPECT_TRUE(sameRotation(p, q, 1e-14)) << q << " came back as " << p;
    p.GetMatrix(back);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) EXPECT_NEAR(back[a][b], m[a][b], 1e-14);
  }
}

TEST(Quaternion, SlerpEndpointsAndHalfway) {
  Random r;
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  for (int i = 0; i < 100; ++i) {
    const ERQuaternion p = r.unit(), q = r.unit();
    EXPECT_TRUE(sameRotation(ERQuaternion::Slerp(0.0, p, q), p, 1e-14));
    EXPECT_TRUE(sameRotation(ERQuaternion::Slerp(1.0, p, q), q, 1e-12));
    const ERQuaternion h = ERQuaternion::Slerp(0.5, p, q);
    EXPECT_NEAR(h.Norm2(), 1.0, 1e-12);
    EXPECT_NEAR(h.Dot(p), h.Dot(q), 1e-12);  // equally far from both keys
    EXPECT_TRUE(sameRotation(ERQuaternion::SlerpExtraSpins(0.3, p, q, 0),
                             ERQuaternion::Slerp(0.3, p, q), 1e-14));
    // One extra spin ends on -q, the same rotation.
    EXPECT_TRUE(sameRotation(ERQuaternion::SlerpExtraSpins(1.0, p, q, 1), q, 1e-12));
    EXPECT_TRUE(sameRotation(ERQuaternion::Squad(0.0, p, r.unit(), r.unit(), q), p, 1e-14));
    EXPECT_TRUE(sameRotation(ERQuaternion::Squad(1.0, p, r.unit(), r.unit(), q), q, 1e-12));
  }
  // Keys closer than 0.001 rad (and equal keys, whose dot may round above 1): p itself.
  const ERQuaternion p = r.unit();
  EXPECT_EQ(ERQuaternion::Slerp(0.7, p, p), p);
  const ERQuaternion near = p + ERQuaternion(0, 1e-7, 0, 0);
  EXPECT_EQ(ERQuaternion::Slerp(0.7, p, near), p);
  // No sign flip towards the shorter arc: the long way round from 1 to -(0.6, 0.8).
  const ERQuaternion h = ERQuaternion::Slerp(0.5, ERQuaternion(), -ERQuaternion(0.6, 0.8, 0, 0));
  EXPECT_LE((h - ERQuaternion(1, -2, 0, 0) * (1 / std::sqrt(5.0))).Norm2(), 1e-28);
}

TEST(Quaternion, ExpLogAndTheSplineControlPoints) {
  Random r;
  SCOPED_TRACE("seed " + std::to_string(kSeed));
  for (int i = 0; i < 100; ++i) {
    const ERQuaternion q = 1.7 * r.unit();
    const ERQuaternion back = q.Log().Exp();
    EXPECT_LE((back - q).Norm2(), 1e-26);
    const ERQuaternion u = r.unit();
    EXPECT_NEAR(u.Log().w(), 0.0, 1e-15);
    EXPECT_NEAR(std::sqrt(u.Log().Norm2()), 0.5 * u.Angle(), 1e-12);
  }
  EXPECT_EQ(ERQuaternion(0, 0, 0, 0).Exp(), ERQuaternion());
  // Evenly spaced keys about one axis: the control points are the middle key itself.
  const ERVector3D axis(1, 2, 2);
  const ERQuaternion q0(axis, 0.2), q1(axis, 0.5), q2(axis, 0.8), q3(axis, 1.1);
  ERQuaternion a1, b1, a2, b2;
  ERQuaternion::Intermediate(q0, q1, q2, a1, b1);
  ERQuaternion::Intermediate(q1, q2, q3, a2, b2);
  EXPECT_TRUE(sameRotation(a1, q1, 1e-14));
  EXPECT_TRUE(sameRotation(b1, q1, 1e-14));
  EXPECT_TRUE(sameRotation(a2, q2, 1e-14));
  EXPECT_TRUE(
      sameRotation(ERQuaternion::Squad(0.5, q1, a1, a2, q2), ERQuaternion(axis, 0.65), 1e-14));
  // Keys off one axis bend the control points away from the key.
  ERQuaternion::Intermediate(q0, q1, ERQuaternion(ERVector3D(0, 0, 1), 1.0), a1, b1);
  EXPECT_FALSE(sameRotation(a1, q1, 1e-3));
  EXPECT_TRUE(sameRotation(a1 * q1.UnitInverse(), (b1 * q1.UnitInverse()).UnitInverse(), 1e-12));
}

TEST(Quaternion, FromARodriguesVector) {
  const ERVector3D v(0.3, -1.2, 2.0);
  const ERQuaternion q(v);
  const double c = 1.0 / std::sqrt(1.0 + v * v);
  EXPECT_NEAR(q.w(), c, 1e-15);
  EXPECT_TRUE(isEqual(ERVector3D(q.x(), q.y(), q.z()) / q.w(), v, 1e-14));
  EXPECT_NEAR(q.Norm2(), 1.0, 1e-15);
  EXPECT_EQ(ERQuaternion(ERVector3D()), ERQuaternion());
}

}  // namespace
