// Orientation and location against datums: parts built by hand with known deviations (a bore
// shifted and tilted off its true position, a face tilted off its angle), measured after an
// arbitrary rigid move and judged in turned, mirrored, scaled and far-off frames; the widths
// are the ones the construction put there. Refusals name their reason.
#include "qorv/measurement/tolerances.h"

#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "tests/test_seed.h"

namespace {

constexpr double kPi = std::numbers::pi;
using P3 = ERPoint3D;
using V3 = ERVector3D;

// A similarity (mirror, scale, turn, shift) or a rigid move.
struct Move {
  double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double s = 1;
  bool mirror = false;
  V3 t;
  V3 lin(const V3& v) const {
    const double x = mirror ? -v.x() : v.x();
    return V3(s * (R[0][0] * x + R[0][1] * v.y() + R[0][2] * v.z()),
              s * (R[1][0] * x + R[1][1] * v.y() + R[1][2] * v.z()),
              s * (R[2][0] * x + R[2][1] * v.y() + R[2][2] * v.z()));
  }
  P3 operator()(const P3& p) const {
    const V3 v = lin(V3(p.x(), p.y(), p.z())) + t;
    return P3(v.x(), v.y(), v.z());
  }
};

Move turnOf(std::mt19937_64& rng, double maxAngle) {
  std::normal_distribution<double> g;
  V3 k(g(rng), g(rng), g(rng));
  k.normalize();
  const double a = maxAngle * std::uniform_real_distribution<double>(-1, 1)(rng);
  const double c = std::cos(a), s = std::sin(a), K[3] = {k.x(), k.y(), k.z()};
  Move m;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m.R[i][j] = (i == j ? c : 0) + (1 - c) * K[i] * K[j];
  m.R[0][1] -= s * K[2], m.R[1][0] += s * K[2], m.R[0][2] += s * K[1];
  m.R[2][0] -= s * K[1], m.R[1][2] -= s * K[0], m.R[2][1] += s * K[0];
  return m;
}

// The frames the whole part is seen in: as built, turned, mirrored and scaled by -2.5, far off,
// tiny, huge.
Move frameOf(int which, std::mt19937_64& rng) {
  Move m = which == 0 ? Move() : turnOf(rng, kPi);
  if (which == 2) m.mirror = true, m.s = -2.5;
  if (which == 3) m.t = V3(7e4, -3e4, 5e4);
  if (which == 4) m.s = 1e-300, m.t = V3(3e-298, -1e-298, 2e-298);
  if (which == 5) m.s = -1e300, m.mirror = true, m.t = V3(2e302, 1e302, -1e302);
  return m;
}

// Points on a rectangle o + [0, a] u + [0, b] v, and on a cylinder between two end centres.
std::vector<P3> face(const P3& o, const V3& u, const V3& v, double a, double b) {
  std::vector<P3> out;
  for (int i = 0; i <= 4; ++i)
    for (int j = 0; j <= 4; ++j) out.push_back(o + (a * i / 4) * u + (b * j / 4) * v);
  return out;
}
std::vector<P3> bore(const P3& e0, const P3& e1, double r) {
  const V3 a = (e1 - e0).getnormalized();
  const V3 u = (std::fabs(a.x()) < 0.6 ? V3(1, 0, 0) : V3(0, 1, 0)) ^ a;
  const V3 w = u.getnormalized(), v = a ^ w;
  std::vector<P3> out;
  for (int k = 0; k <= 2; ++k)
    for (int i = 0; i < 12; ++i) {
      const double f = 2 * kPi * i / 12;
      out.push_back(e0 + (k / 2.0) * (e1 - e0) + r * (std::cos(f) * w + std::sin(f) * v));
    }
  return out;
}
std::vector<P3> ball(const P3& c, double r) {
  std::vector<P3> out;
  for (int i = 0; i < 6; ++i)
    for (int j = 1; j < 5; ++j) {
      const double f = 2 * kPi * i / 6, g = kPi * j / 5 - kPi / 2 + 0.1;
      out.push_back(c + r * V3(std::cos(f) * std::cos(g), std::sin(f) * std::cos(g), std::sin(g)));
    }
  return out;
}

// One feature of a part: its kind, its nominal element, its measured points (as built).
struct Feature {
  gmForm::Kind kind;
  P3 o;
  V3 d;
  std::vector<P3> pts;
};

gmDatumElement::Type typeOf(gmForm::Kind k) {
  return k == gmForm::PLANE    ? gmDatumElement::PLANE
         : k == gmForm::SPHERE ? gmDatumElement::POINT
                               : gmDatumElement::AXIS;
}

// The part in the frame F, its measured points moved by M first.
struct Seen {
  gmDatumElement nominal;
  gmFormResult fit;
  std::vector<P3> pts;
};
Seen see(const Feature& f, const Move& F, const Move& M) {
  Seen s;
  s.nominal.type = typeOf(f.kind);
  s.nominal.point = F(f.o), s.nominal.direction = F.lin(f.d).getnormalized();
  for (const P3& p : f.pts) s.pts.push_back(F(M(p)));
  s.fit = gmFit(s.pts, f.kind, gmForm::LEAST_SQUARES, s.nominal.direction);
  return s;
}

const V3 X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
// Datums of a block [0, 100] x [0, 60] x [0, 20]: A the bottom, B the left side, C the front;
// D a bore at (20, 30) through it, E a bore at (80, 30), K a ball on top at (50, 30, 30).
Feature datumA() { return {gmForm::PLANE, P3(0, 0, 0), -Z, face(P3(0, 0, 0), X, Y, 100, 60)}; }
Feature datumB() { return {gmForm::PLANE, P3(0, 0, 0), -X, face(P3(0, 0, 0), Y, Z, 60, 20)}; }
Feature datumC() { return {gmForm::PLANE, P3(0, 0, 0), -Y, face(P3(0, 0, 0), X, Z, 100, 20)}; }
Feature datumD() {
  return {gmForm::CYLINDER, P3(20, 30, 0), Z, bore(P3(20, 30, 0), P3(20, 30, 20), 4)};
}
Feature datumE() {
  return {gmForm::CYLINDER, P3(80, 30, 0), Z, bore(P3(80, 30, 0), P3(80, 30, 20), 4)};
}
Feature datumK() { return {gmForm::SPHERE, P3(50, 30, 30), Z, ball(P3(50, 30, 30), 5)}; }

struct Case {
  const char* name;
  gmTolerance::Kind kind;
  double angle;  // degrees
  Feature feature;
  std::vector<Feature> datums;
  double expected;  // as built
};

std::vector<Case> cases() {
  const double g = 0.002;  // a tilt, radians
  const P3 b0(40, 25, 0), b1(40, 25, 20);
  const V3 d0(0.03, -0.04, 0), d1(-0.01, 0.02, 0);
  const Feature shifted{gmForm::CYLINDER, b0, Z, bore(b0 + d0, b1 + d1, 3)};
  return {
      {"bore shifted and tilted, A B C",
       gmTolerance::POSITION,
       0,
       shifted,
       {datumA(), datumB(), datumC()},
       2 * 0.05},
      {"bore, A then bores D E (turn from their line)",
       gmTolerance::POSITION,
       0,
       shifted,
       {datumA(), datumD(), datumE()},
       2 * 0.05},
      {"bore square to A only: its ends float in A",
       gmTolerance::POSITION,
       0,
       shifted,
       {datumA()},
       (d1 - d0).norme()},
      // Off the circle of radius 30 about D by 0.05 radially, 0.4 along it: free to turn.
      {"bore about axis D, free turn",
       gmTolerance::POSITION,
       0,
       {gmForm::CYLINDER, P3(50, 30, 0), Z, bore(P3(50.05, 30.4, 0), P3(50.05, 30.4, 20), 3)},
       {datumD()},
       2 * (std::hypot(30.05, 0.4) - 30)},
      {"ball centre, A B C",
       gmTolerance::POSITION,
       0,
       {gmForm::SPHERE, P3(50, 30, 40), Z, ball(P3(50.01, 29.98, 40.02), 6)},
       {datumA(), datumB(), datumC()},
       2 * std::sqrt(0.0009)},
      {"ball centre, A and ball K",
       gmTolerance::POSITION,
       0,
       {gmForm::SPHERE, P3(90, 30, 40), Z, ball(P3(90.03, 30.0, 39.96), 6)},
       {datumA(), datumK()},
       2 * std::hypot(0.03, 0.04)},  // the turn about K floats
      {"top tilted about x, parallel to A",
       gmTolerance::PARALLELISM,
       0,
       {gmForm::PLANE, P3(0, 0, 20), Z,
        face(P3(0, 0, 20), X, std::cos(g) * Y + std::sin(g) * Z, 100, 60)},
       {datumA()},
       60 * std::sin(g)},
      {"side tilted, square to A (free turn)",
       gmTolerance::PERPENDICULARITY,
       0,
       {gmForm::PLANE, P3(100, 0, 0), X,
        face(P3(100, 0, 0), Y, std::cos(g) * Z + std::sin(g) * X, 60, 20)},
       {datumA()},
       20 * std::sin(g)},
      {"side tilted, square to A, turn from B",
       gmTolerance::PERPENDICULARITY,
       0,
       {gmForm::PLANE, P3(100, 0, 0), X,
        face(P3(100, 0, 0), std::cos(g) * Y + std::sin(g) * X, Z, 60, 20)},
       {datumA(), datumB()},
       60 * std::sin(g)},
      {"chamfer at 30 degrees, tilted",
       gmTolerance::ANGULARITY,
       30,
       {gmForm::PLANE, P3(0, 0, 20), std::sin(kPi / 6) * X + std::cos(kPi / 6) * Z,
        face(P3(0, 0, 20), Y, std::cos(kPi / 6 + g) * X - std::sin(kPi / 6 + g) * Z, 60, 10)},
       {datumA()},
       10 * std::sin(g)},
      {"bore axis square to A",
       gmTolerance::PERPENDICULARITY,
       0,
       shifted,
       {datumA()},
       (d1 - d0).norme()},
      {"bore axis parallel to axis D",
       gmTolerance::PARALLELISM,
       0,
       shifted,
       {datumD()},
       (d1 - d0).norme()},
      {"cross bore parallel to A, tilted up",
       gmTolerance::PARALLELISM,
       0,
       {gmForm::CYLINDER, P3(0, 30, 10), X,
        bore(P3(0, 30, 10), P3(100, 30.5, 10 + 100 * std::tan(g)), 3)},
       {datumA()},
       100 * std::tan(g)},
      {"cross bore square to axis D",
       gmTolerance::PERPENDICULARITY,
       0,
       {gmForm::CYLINDER, P3(0, 30, 10), X,
        bore(P3(0, 30, 10), P3(100, 30.5, 10 + 100 * std::tan(g)), 3)},
       {datumD()},
       100 * std::tan(g)},
  };
}

TEST(Tolerances, KnownDeviationsInEveryFrame) {
  const unsigned seed = qorv_test::seedFor(4102);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 rng(seed);
  for (const Case& c : cases())
    for (int frame = 0; frame < 6; ++frame)
      for (int moved = 0; moved < 2; ++moved) {
        SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(frame) +
                     (moved ? ", measured part moved" : ""));
        const Move F = frameOf(frame, rng);
        Move M = moved ? turnOf(rng, 0.3) : Move();
        if (moved) M.t = V3(3, -4, 2);
        std::vector<gmDatum> datums;
        for (std::size_t k = 0; k < c.datums.size(); ++k) {
          const Seen d = see(c.datums[k], F, M);
          ASSERT_TRUE(d.fit.ok) << d.fit.reason;
          gmDatum g{std::string(1, static_cast<char>('A' + k)), d.nominal, d.nominal};
          g.measured.point = d.fit.element.point, g.measured.direction = d.fit.element.axis;
          datums.push_back(g);
        }
        const Seen f = see(c.feature, F, M);
        gmToleranceSpec spec{c.kind, 0.08, {}, c.angle * kPi / 180};
        const gmToleranceResult r =
            gmEvaluateTolerance(spec, c.feature.kind, f.nominal, f.fit, f.pts, datums);
        ASSERT_TRUE(r.ok) << r.reason;
        const double want = c.expected * std::fabs(F.s);
        EXPECT_NEAR(r.value, want, 1e-7 * std::fabs(F.s) + 1e-9 * want);
        EXPECT_EQ(r.inTolerance, want <= 0.08 ? 1 : 0);
      }
}

TEST(Tolerances, RefusalsSayWhy) {
  const Seen a = see(datumA(), Move(), Move()), k = see(datumK(), Move(), Move());
  const Seen f = see(datumD(), Move(), Move()),
             top = see({gmForm::PLANE, P3(0, 0, 20), Z, face(P3(0, 0, 20), X, Y, 100, 60)}, Move(),
                       Move());
  auto datum = [](const char* n, const Seen& s) {
    gmDatum d{n, s.nominal, s.nominal};
    d.measured.point = s.fit.element.point, d.measured.direction = s.fit.element.axis;
    return d;
  };
  gmFormResult failed;
  failed.reason = "too few points";
  gmDatumElement bad = f.nominal;
  bad.point = P3(NAN, 0, 0);
  const struct {
    gmTolerance::Kind kind;
    const Seen& feature;
    gmForm::Kind as;
    std::vector<gmDatum> datums;
    const char* reason;
  } rows[] = {
      {gmTolerance::POSITION, f, gmForm::CYLINDER, {}, "no datum given"},
      {gmTolerance::POSITION,
       f,
       gmForm::CYLINDER,
       {datum("K", k)},
       "datum K is a point: the primary must fix a direction"},
      {gmTolerance::POSITION,
       f,
       gmForm::CYLINDER,
       {datum("A", a), datum("B", a)},
       "datum B fixes nothing the earlier datums leave free"},
      {gmTolerance::PERPENDICULARITY,
       f,
       gmForm::CYLINDER,
       {datum("A", a), datum("K", k)},
       "datum K fixes nothing the earlier datums leave free"},
      {gmTolerance::PARALLELISM,
       f,
       gmForm::CYLINDER,
       {datum("A", a)},
       "the nominal lies at 90 degrees to datum A, not 0"},
      {gmTolerance::PERPENDICULARITY,
       top,
       gmForm::PLANE,
       {datum("A", a)},
       "the nominal lies at 0 degrees to datum A, not 90"},
      {gmTolerance::POSITION,
       top,
       gmForm::PLANE,
       {datum("A", a)},
       "position is judged on cylinders, circles and spheres"},
  };
  for (const auto& r : rows) {
    const gmToleranceResult t = gmEvaluateTolerance({r.kind, 0.1, {}, 0}, r.as, r.feature.nominal,
                                                    r.feature.fit, r.feature.pts, r.datums);
    EXPECT_EQ(t.ok, 0);
    EXPECT_EQ(t.reason, r.reason);
  }
  const gmDatum A = datum("A", a);
  EXPECT_EQ(gmEvaluateTolerance({}, gmForm::CYLINDER, f.nominal, failed, f.pts, {A}).reason,
            "the feature cannot be fitted: too few points");
  EXPECT_EQ(gmEvaluateTolerance({}, gmForm::CYLINDER, bad, f.fit, f.pts, {A}).reason,
            "the nominal element is missing or not finite");
  gmDatum nan = A;
  nan.measured.direction = V3(NAN, 0, 1);
  EXPECT_EQ(gmEvaluateTolerance({}, gmForm::CYLINDER, f.nominal, f.fit, f.pts, {nan}).reason,
            "datum A has no usable element");
}

}  // namespace
