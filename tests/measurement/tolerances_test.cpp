// Orientation and location against datums: parts built by hand with known deviations (a bore
// shifted and tilted off its true position, a face tilted off its angle), measured after an
// arbitrary rigid move and judged in turned, mirrored, scaled, far-off, tiny and huge frames;
// the widths are the ones the construction put there. Refusals name their reason.
#include "qorv/measurement/tolerances.h"

#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "tests/in_order.h"
#include "tests/measurement/similarities.h"
#include "tests/test_seed.h"

namespace {

constexpr double kPi = std::numbers::pi;
using P3 = ERPoint3D;
using V3 = ERVector3D;
const V3 X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);

using Move = qorv_test::Similarity;
using qorv_test::turned;

// Points on a rectangle o + [0, a] u + [0, b] v; on a cylinder between end centres; on a ball.
std::vector<P3> face(const P3& o, const V3& u, const V3& v, double a, double b) {
  std::vector<P3> out;
  for (int i = 0; i < 25; ++i) out.push_back(o + (a * (i % 5) / 4) * u + (b * (i / 5) / 4) * v);
  return out;
}
std::vector<P3> bore(const P3& e0, const P3& e1, double r) {
  const V3 a = (e1 - e0).getnormalized(),
           w = ((std::fabs(a.x()) < 0.6 ? X : Y) ^ a).getnormalized();
  std::vector<P3> out;
  for (int i = 0; i < 36; ++i) {
    const double f = kPi * (i % 12) / 6;
    out.push_back(e0 + (i / 12 / 2.0) * (e1 - e0) + r * (std::cos(f) * w + std::sin(f) * (a ^ w)));
  }
  return out;
}
std::vector<P3> ball(const P3& c, double r) {
  std::vector<P3> out;
  for (int i = 0; i < 24; ++i) {
    const double f = kPi * (i % 6) / 3, g = kPi * (i / 6 + 1) / 5 - kPi / 2 + 0.1;
    out.push_back(c + r * V3(std::cos(f) * std::cos(g), std::sin(f) * std::cos(g), std::sin(g)));
  }
  return out;
}

struct Feature {
  gmForm::Kind kind;
  P3 o;  // nominal element
  V3 d;
  std::vector<P3> pts;  // measured, as built
};

// The element seen in frame F, its measured points moved by M first and fitted.
struct Seen {
  gmDatumElement nominal, measured;
  gmFormResult fit;
  std::vector<P3> pts;
};
Seen see(const Feature& f, const Move& F, const Move& M) {
  Seen s;
  s.nominal.type = f.kind == gmForm::PLANE    ? gmDatumElement::PLANE
                   : f.kind == gmForm::SPHERE ? gmDatumElement::POINT
                                              : gmDatumElement::AXIS;
  s.nominal.point = F(f.o), s.nominal.direction = F.lin(f.d).getnormalized();
  for (const P3& p : f.pts) s.pts.push_back(F(M(p)));
  s.fit = gmFit(s.pts, f.kind, gmForm::LEAST_SQUARES, s.nominal.direction);
  s.measured = s.nominal;
  s.measured.point = s.fit.element.point, s.measured.direction = s.fit.element.axis;
  return s;
}

// A block [0, 100] x [0, 60] x [0, 20]: A the bottom, B the left side, C the front; bores D at
// (20, 30) and E at (80, 30); a ball K on top at (50, 30, 30).
const Feature A{gmForm::PLANE, P3(0, 0, 0), -Z, face(P3(0, 0, 0), X, Y, 100, 60)};
const Feature B{gmForm::PLANE, P3(0, 0, 0), -X, face(P3(0, 0, 0), Y, Z, 60, 20)};
const Feature C{gmForm::PLANE, P3(0, 0, 0), -Y, face(P3(0, 0, 0), X, Z, 100, 20)};
const Feature D{gmForm::CYLINDER, P3(20, 30, 0), Z, bore(P3(20, 30, 0), P3(20, 30, 20), 4)};
const Feature E{gmForm::CYLINDER, P3(80, 30, 0), Z, bore(P3(80, 30, 0), P3(80, 30, 20), 4)};
const Feature K{gmForm::SPHERE, P3(50, 30, 30), Z, ball(P3(50, 30, 30), 5)};

TEST(Tolerances, KnownDeviationsInEveryFrame) {
  QORV_SEEDED(std::mt19937_64 rng, 4102);
  const double g = 0.002, c30 = std::cos(kPi / 6), s30 = std::sin(kPi / 6);
  // A bore whose ends sit (0.03, -0.04) and (-0.01, 0.02) off its true axis; a cross bore
  // rising 100 tan g over its length (and drifting 0.5 sideways, which no zone here sees).
  const V3 d0(0.03, -0.04, 0), d1(-0.01, 0.02, 0);
  const Feature off{gmForm::CYLINDER, P3(40, 25, 0), Z,
                    bore(P3(40, 25, 0) + d0, P3(40, 25, 20) + d1, 3)};
  const Feature cross{gmForm::CYLINDER, P3(0, 30, 10), X,
                      bore(P3(0, 30, 10), P3(100, 30.5, 10 + 100 * std::tan(g)), 3)};
  const struct {
    const char* name;
    gmTolerance::Kind kind;
    double angle;  // degrees
    Feature feature;
    std::vector<Feature> datums;
    double expected;
  } cases[] = {
      // clang-format off
      {"bore, A B C", gmTolerance::POSITION, 0, off, {A, B, C}, 2 * 0.05},
      {"bore, A then bores D E (turn from their line)", gmTolerance::POSITION, 0, off, {A, D, E}, 2 * 0.05},
      {"bore square to A only: it floats in A", gmTolerance::POSITION, 0, off, {A}, (d1 - d0).norme()},
      {"bore 30 from axis D, off by 0.05 out and 0.4 along: the turn floats", gmTolerance::POSITION, 0,
       {gmForm::CYLINDER, P3(50, 30, 0), Z, bore(P3(50.05, 30.4, 0), P3(50.05, 30.4, 20), 3)}, {D}, 2 * (std::hypot(30.05, 0.4) - 30)},
      {"ball centre, A B C", gmTolerance::POSITION, 0, {gmForm::SPHERE, P3(50, 30, 40), Z, ball(P3(50.01, 29.98, 40.02), 6)}, {A, B, C}, 2 * 0.03},
      {"ball centre, A and ball K: the turn about K floats", gmTolerance::POSITION, 0,
       {gmForm::SPHERE, P3(90, 30, 40), Z, ball(P3(90.03, 30.0, 39.96), 6)}, {A, K}, 2 * 0.05},
      {"top tilted, parallel to A", gmTolerance::PARALLELISM, 0,
       {gmForm::PLANE, P3(0, 0, 20), Z, face(P3(0, 0, 20), X, std::cos(g) * Y + std::sin(g) * Z, 100, 60)}, {A}, 60 * std::sin(g)},
      {"side tilted, square to A (free turn)", gmTolerance::PERPENDICULARITY, 0,
       {gmForm::PLANE, P3(100, 0, 0), X, face(P3(100, 0, 0), Y, std::cos(g) * Z + std::sin(g) * X, 60, 20)}, {A}, 20 * std::sin(g)},
      {"side turned, square to A, turn from B", gmTolerance::PERPENDICULARITY, 0,
       {gmForm::PLANE, P3(100, 0, 0), X, face(P3(100, 0, 0), std::cos(g) * Y + std::sin(g) * X, Z, 60, 20)}, {A, B}, 60 * std::sin(g)},
      {"chamfer at 30 degrees, tilted", gmTolerance::ANGULARITY, 30,
       {gmForm::PLANE, P3(0, 0, 20), s30 * X + c30 * Z, face(P3(0, 0, 20), Y, std::cos(kPi / 6 + g) * X - std::sin(kPi / 6 + g) * Z, 60, 10)}, {A}, 10 * std::sin(g)},
      {"bore axis square to A", gmTolerance::PERPENDICULARITY, 0, off, {A}, (d1 - d0).norme()},
      {"bore axis parallel to axis D", gmTolerance::PARALLELISM, 0, off, {D}, (d1 - d0).norme()},
      {"cross bore parallel to A", gmTolerance::PARALLELISM, 0, cross, {A}, 100 * std::tan(g)},
      {"cross bore square to axis D", gmTolerance::PERPENDICULARITY, 0, cross, {D}, 100 * std::tan(g)},
      // clang-format on
  };
  for (const auto& c : cases)
    for (int frame = 0; frame < 6; ++frame)
      for (int moved = 0; moved < 2; ++moved) {
        SCOPED_TRACE(std::string(c.name) + ", frame " + std::to_string(frame) +
                     (moved ? ", moved" : ""));
        const Move F = qorv_test::frameOf(frame, rng, false, 100);  // tiny and huge: 100 sizes off
        Move M = moved ? turned(rng, 0.2) : Move();
        M.t = moved ? V3(3, -4, 2) : V3();
        std::vector<gmDatum> datums;
        for (const Feature& d : c.datums) {
          const Seen s = see(d, F, M);
          ASSERT_TRUE(s.fit.ok) << s.fit.reason;
          datums.push_back({"", s.nominal, s.measured});
        }
        const Seen f = see(c.feature, F, M);
        const gmToleranceResult r =
            gmEvaluateTolerance({c.kind, 0.08, {}, c.angle * kPi / 180}, c.feature.kind, f.nominal,
                                f.fit, f.pts, datums);
        ASSERT_TRUE(r.ok) << r.reason;
        const double want = c.expected * std::fabs(F.s);
        EXPECT_NEAR(r.value, want, 1e-7 * std::fabs(F.s));
        EXPECT_EQ(r.inTolerance, want <= 0.08 ? 1 : 0);
      }
}

TEST(Tolerances, RefusalsSayWhy) {
  const Move I;
  const Seen a = see(A, I, I), k = see(K, I, I), d = see(D, I, I);
  const Seen top = see({gmForm::PLANE, P3(0, 0, 20), Z, face(P3(0, 0, 20), X, Y, 100, 60)}, I, I);
  Seen unfit = d, lost = d;
  unfit.fit.ok = 0, unfit.fit.reason = "too few points", lost.nominal.point = P3(NAN, 0, 0);
  const gmDatum dA{"A", a.nominal, a.measured}, dB{"B", a.nominal, a.measured},
      dK{"K", k.nominal, k.measured},
      dN{"A", a.nominal, {gmDatumElement::PLANE, P3(), V3(NAN, 0, 1)}};
  using T = gmTolerance;
  const struct {
    T::Kind kind;
    const Seen& f;
    std::vector<gmDatum> datums;
    const char* reason;
  } rows[] = {
      // clang-format off
      {T::POSITION, d, {}, "no datum given"},
      {T::POSITION, d, {dK}, "datum K is a point: the primary must fix a direction"},
      {T::POSITION, d, {dA, dB}, "datum B fixes nothing the earlier datums leave free"},
      {T::PERPENDICULARITY, d, {dA, dK}, "datum K fixes nothing the earlier datums leave free"},
      {T::PARALLELISM, d, {dA}, "the nominal lies at 90 degrees to datum A, not 0"},
      {T::PERPENDICULARITY, top, {dA}, "the nominal lies at 0 degrees to datum A, not 90"},
      {T::POSITION, top, {dA}, "position is judged on cylinders, circles and spheres"},
      {T::POSITION, unfit, {dA}, "the feature cannot be fitted: too few points"},
      {T::POSITION, lost, {dA}, "the nominal element is missing or not finite"},
      {T::POSITION, d, {dN}, "datum A has no usable element"},
      // clang-format on
  };
  for (const auto& r : rows) {
    const gmToleranceResult t = gmEvaluateTolerance({r.kind, 0.1, {}, 0}, r.f.fit.kind, r.f.nominal,
                                                    r.f.fit, r.f.pts, r.datums);
    EXPECT_EQ((Seq{t.ok, t.reason}), (Seq{0, r.reason}));
  }
}

}  // namespace
