#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "qorv/surfaces/surface.h"
#include "tests/in_order.h"
#include "tests/surfaces/surface_draws.h"
#include "tests/test_seed.h"

using qorv_test::Draw, qorv_test::Frame, QuickAlgebra::ERMatrix;

namespace {

// The derivatives of a surface at one parameter, as the tests build them analytically.
struct Partials {
  ERPoint3D p;
  ERVector3D su, sv, suu, suv, svv;
};

ERInfoPoint3DSurf recordOf(const Partials& d, const ERPoint2D& uv = ERPoint2D(0.25, 0.5)) {
  ERMatrix<ERPoint3D> m(3, 3);
  m(0, 0) = d.p, m(0, 1) = ERPoint3D(d.su), m(0, 2) = ERPoint3D(d.suu);
  m(1, 0) = ERPoint3D(d.sv), m(1, 1) = ERPoint3D(d.suv);
  m(2, 0) = ERPoint3D(d.svv);
  return ERInfoPoint3DSurf(uv, m);
}

// Placed in a frame, scaled by s, with parameter speeds (a, b): u = a U, v = b V.
Partials placed(const Partials& d, const Frame& F, double s, double a, double b) {
  return {F(ERPoint3D(ERVector3D(d.p) * s)),
          F(d.su * (s * a)),
          F(d.sv * (s * b)),
          F(d.suu * (s * a * a)),
          F(d.suv * (s * a * b)),
          F(d.svv * (s * b * b))};
}

// The shape operator I^-1 II with the normal Su x Sv, worked out in long double: its
// eigenvalues (k1 >= k2), determinant and half trace.
struct ShapeOperator {
  long double k1, k2, K, H;
};

long double dot(const ERVector3D& a, const ERVector3D& b) {
  return (long double)a.x() * b.x() + (long double)a.y() * b.y() + (long double)a.z() * b.z();
}

ShapeOperator shapeOperator(const Partials& d) {
  const long double nx = (long double)d.su.y() * d.sv.z() - (long double)d.su.z() * d.sv.y();
  const long double ny = (long double)d.su.z() * d.sv.x() - (long double)d.su.x() * d.sv.z();
  const long double nz = (long double)d.su.x() * d.sv.y() - (long double)d.su.y() * d.sv.x();
  const long double w = std::sqrt(nx * nx + ny * ny + nz * nz);
  auto second = [&](const ERVector3D& v) { return (v.x() * nx + v.y() * ny + v.z() * nz) / w; };
  const long double E = dot(d.su, d.su), F = dot(d.su, d.sv), G = dot(d.sv, d.sv);
  const long double L = second(d.suu), M = second(d.suv), N = second(d.svv);
  const long double det = E * G - F * F;
  // I^-1 = [[G, -F], [-F, E]] / det.
  const long double s11 = (G * L - F * M) / det, s12 = (G * M - F * N) / det;
  const long double s21 = (E * M - F * L) / det, s22 = (E * N - F * M) / det;
  const long double tr = s11 + s22, dt = s11 * s22 - s12 * s21;
  // tr^2 / 4 - det without the cancellation of two large squares.
  const long double disc = std::max(0.0L, (s11 - s22) * (s11 - s22) / 4 + s12 * s21);
  return {tr / 2 + std::sqrt(disc), tr / 2 - std::sqrt(disc), dt, tr / 2};
}

Partials sphere(double R, double u, double v) {
  const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
  return {ERPoint3D(R * cv * cu, R * cv * su, R * sv),
          ERVector3D(-R * cv * su, R * cv * cu, 0),
          ERVector3D(-R * sv * cu, -R * sv * su, R * cv),
          ERVector3D(-R * cv * cu, -R * cv * su, 0),
          ERVector3D(R * sv * su, -R * sv * cu, 0),
          ERVector3D(-R * cv * cu, -R * cv * su, -R * sv)};
}

Partials cylinder(double R, double u) {
  const double c = std::cos(u), s = std::sin(u);
  return {ERPoint3D(R * c, R * s, 0),
          ERVector3D(-R * s, R * c, 0),
          ERVector3D(0, 0, 1),
          ERVector3D(-R * c, -R * s, 0),
          ERVector3D(),
          ERVector3D()};
}

Partials torus(double R, double r, double u, double v) {
  const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
  const double rho = R + r * cv;
  return {ERPoint3D(rho * cu, rho * su, r * sv),
          ERVector3D(-rho * su, rho * cu, 0),
          ERVector3D(-r * sv * cu, -r * sv * su, r * cv),
          ERVector3D(-rho * cu, -rho * su, 0),
          ERVector3D(r * sv * su, -r * sv * cu, 0),
          ERVector3D(-r * cv * cu, -r * cv * su, -r * sv)};
}

// z = (a x^2 + 2 b x y + c y^2) / 2 at the origin, in the parameters (s, t) with
// (x, y) = A (s, t): a general patch whose shape operator in (x, y) is [[a, b], [b, c]].
Partials monge(double a, double b, double c, const double A[4]) {
  const ERVector3D X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
  const ERVector3D xs = X * A[0] + Y * A[2], xt = X * A[1] + Y * A[3];
  auto hess = [&](double p1, double p2, double q1, double q2) {
    return Z * (a * p1 * q1 + b * (p1 * q2 + p2 * q1) + c * p2 * q2);
  };
  return {ERPoint3D(),
          xs,
          xt,
          hess(A[0], A[2], A[0], A[2]),
          hess(A[0], A[2], A[1], A[3]),
          hess(A[1], A[3], A[1], A[3])};
}

void checkAgainstShapeOperator(const Partials& d, double scale, const std::string& what) {
  SCOPED_TRACE(what);
  const ShapeOperator ref = shapeOperator(d);
  const ERInfoPoint3DSurf info = recordOf(d);
  const double kmax = (double)std::max(std::fabs(ref.k1), std::fabs(ref.k2));
  const double tol = 1e-11 * std::max(kmax, 1e-3 / scale);
  double k1 = NAN, k2 = NAN;
  info.courburesExtremes(k1, k2);
  EXPECT_TRUE(Near(Seq{k1, k2}, Seq{(double)ref.k1, (double)ref.k2}, tol));
  EXPECT_GE(k1, k2);
  if (std::isfinite((double)ref.K)) {
    EXPECT_NEAR(info.courbureGaussienne(), (double)ref.K,
                tol * std::max(kmax, 1e-3 / scale) + 1e-300);
  } else {  // beyond the doubles: the right infinity
    EXPECT_EQ(info.courbureGaussienne(), (double)ref.K);
  }
  EXPECT_NEAR(info.courbureMoyenne(), (double)ref.H, tol);
  // The principal directions: unit tangents, orthogonal, with the principal normal curvatures.
  ERVector2D d1, d2;
  info.directionPrincipale(d1, d2);
  const ERVector3D t1 = d.su * d1.x() + d.sv * d1.y(), t2 = d.su * d2.x() + d.sv * d2.y();
  EXPECT_TRUE(Near(Seq{t1.norme(), t2.norme(), t1 * t2}, Seq{1, 1, 0}, 1e-12));
  EXPECT_NEAR(info.courbureNormale(d1.x(), d1.y()), k1, tol);
  EXPECT_NEAR(info.courbureNormale(d2.x(), d2.y()), k2, tol);
}

// ---------------------------------------------------------------------------------------------
TEST(Curvatures, PolesGiveZerosAndMovesKeepTheCurvatures) {
  // At a sphere's pole Su vanishes: no tangent plane from the partials, every curvature 0.
  Partials pole = sphere(4, 0.7, M_PI / 2);
  pole.su = ERVector3D();
  const ERInfoPoint3DSurf p = recordOf(pole);
  double k1 = 7, k2 = 7;
  p.courburesExtremes(k1, k2);
  EXPECT_EQ((Seq{k1, k2, p.courbureGaussienne(), p.courbureMoyenne()}), (Seq{0, 0, 0, 0}));
  ERVector2D d1(5, 5), d2(5, 5);
  p.directionPrincipale(d1, d2);
  EXPECT_EQ((Seq{d1.x(), d2.y()}), (Seq{0, 0}));
  EXPECT_EQ(recordOf(torus(10, 3, 0, 0)).courbureNormale(0, 0), 0);  // no direction
  EXPECT_EQ(ERInfoPoint3DSurf().courbureMoyenne(), 0);
  // A record moved by an isometry: the point as a point, the partials as vectors; the copy
  // that shared its buffer is left alone.
  const ERInfoPoint3DSurf t = recordOf(torus(10, 3, 0.2, 1.0));
  ERInfoPoint3DSurf moved = t;
  const ERPmIsometrie3D T =
      ERChgRepere3D(ERVector3D(0, 1, 0), ERVector3D(0, 0, 1), ERPoint3D(5, 6, 7));
  moved.transformFrom(T);
  EXPECT_LE(qorv::distance(moved.point(), T >> t.point()), 1e-14);
  EXPECT_LE((moved.tangenteV() - (T >> t.tangenteV())).norme(), 1e-14);
  EXPECT_EQ(t.point().x(), torus(10, 3, 0.2, 1.0).p.x());
  double m1, m2;
  moved.courburesExtremes(m1, m2);
  t.courburesExtremes(k1, k2);
  EXPECT_TRUE(Near(Seq{m1, m2}, Seq{k1, k2}, 1e-15));
  EXPECT_LE((moved.normale() - (T >> t.normale())).norme(), 1e-15);
  moved.transformTo(T);
  EXPECT_LE(qorv::distance(moved.point(), t.point()), 1e-14);
  EXPECT_LE((moved.tangenteU() - t.tangenteU()).norme(), 1e-14);
}

// Umbilics in random frames, at random sizes and parameter speeds: the discriminant is 0 in
// exact arithmetic and must never round into leaving k1, k2 unset.
TEST(Curvatures, UmbilicsAlwaysGetBothCurvatures) {
  QORV_SEEDED(Draw draw, 1906);
  for (int i = 0; i < 3000; ++i) {
    const double s = draw.magnitude(-250, 250);
    const Frame F = draw.placed(1.0);
    const double a = draw.uniform(0.1, 10), b = draw.uniform(0.1, 10);
    Partials d;
    if (i % 2) {
      d = placed(sphere(1, draw.uniform(-3, 3), draw.uniform(-1.4, 1.4)), F, s, a, b);
    } else {  // a flat point of a plane, or the umbilic of z = k (x^2 + y^2) / 2
      const double k = i % 4 ? 0.0 : draw.uniform(-2, 2);
      const double A[4] = {draw.uniform(-1, 1), draw.uniform(-1, 1), draw.uniform(-1, 1),
                           draw.uniform(-1, 1)};
      if (std::fabs(A[0] * A[3] - A[1] * A[2]) < 0.2) continue;
      d = placed(monge(k, 0, k, A), F, s, 1, 1);
    }
    double k1 = NAN, k2 = NAN;
    recordOf(d).courburesExtremes(k1, k2);
    ASSERT_TRUE(std::isfinite(k1) && std::isfinite(k2)) << i;
    EXPECT_LE(k1 - k2, 1e-7 * std::max(std::fabs(k1), 1e-300)) << i;
    const ShapeOperator ref = shapeOperator(d);
    EXPECT_NEAR(k1, (double)ref.H, 1e-11 * std::fabs((double)ref.H) + 1e-300) << i;
    EXPECT_NEAR(k2, (double)ref.H, 1e-11 * std::fabs((double)ref.H) + 1e-300) << i;
  }
}

// Spheres, cylinders, tori and general patches in random tilted, mirrored frames, magnitudes
// from 1e-250 to 1e250, random parameter speeds: every curvature against the shape operator.
TEST(Curvatures, AgainstTheShapeOperator) {
  QORV_SEEDED(Draw draw, 1907);
  for (int i = 0; i < 3000; ++i) {
    const double s = draw.magnitude(-250, 250);
    const Frame F = draw.placed(1.0);
    const double a = std::pow(10.0, draw.uniform(-20, 20)), b = draw.uniform(0.1, 10);
    const double u = draw.uniform(-3, 3), v = draw.uniform(-3, 3);
    Partials d;
    switch (i % 4) {
      case 0:
        d = sphere(draw.uniform(0.1, 5), u, std::fmod(v, 1.4));
        break;
      case 1:
        d = cylinder(draw.uniform(0.1, 5), u);
        break;
      case 2:
        d = torus(draw.uniform(2, 5), draw.uniform(0.1, 1.9), u, v);
        break;
      default: {
        const double A[4] = {draw.uniform(-1, 1), draw.uniform(-1, 1), draw.uniform(-1, 1),
                             draw.uniform(-1, 1)};
        if (std::fabs(A[0] * A[3] - A[1] * A[2]) < 0.2) continue;
        d = monge(draw.uniform(-2, 2), draw.uniform(-2, 2), draw.uniform(-2, 2), A);
      }
    }
    checkAgainstShapeOperator(placed(d, F, s, a, b), s,
                              "case " + std::to_string(i) + " scale " + std::to_string(s));
  }
}

}  // namespace
