#include "qorv/surfaces/revolution_surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "qorv/curves/circles.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/persistence/object_database.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/surfaces/surface_draws.h"
#include "tests/test_seed.h"

using qorv_test::imageOf, qorv_test::printed;

namespace {

// A surface drawn with the local frame it was built in: the axis is the frame's Z axis, the
// generatrix a cubic NURBS curve (or a segment) off the axis, both of size s.
struct RevolutionDraw : qorv_test::BoundedDraw {
  using BoundedDraw::BoundedDraw;

  ERPmIsometrie3D T;
  double s = 1;

  t_SmartPtr<ERFiniteEntity3DWF> generatrix(int kind) {
    if (kind == 0) {
      const ERPoint3D a = T >> ERPoint3D(uniform(0, 2) * s, uniform(-1, 1) * s, -s);
      const ERPoint3D b = T >> ERPoint3D(uniform(0, 2) * s, uniform(-1, 1) * s, s);
      return t_SmartPtr<ERFiniteEntity3DWF>(new ERSegment3D(a, b));
    }
    const int n = integer(4, 7);
    QuickAlgebra::ERVec<ERPole3DH> poles(n);
    for (int i = 0; i < n; ++i) {
      const double w = uniform(0.5, 2);
      const ERPoint3D p =
          T >> ERPoint3D(uniform(0.1, 2) * s, uniform(-0.5, 0.5) * s, (-1 + 2.0 * i / (n - 1)) * s);
      poles[i] = ERPole3DH(p.x() * w, p.y() * w, p.z() * w, w);
    }
    const double u0 = uniform(-2, 2);
    // kind 2: a polyline (degree 1), its corners between the searches' samples.
    return t_SmartPtr<ERFiniteEntity3DWF>(new ERCpoleNURBS3D(
        poles, ERKnotVector(kind == 2 ? 1 : 3, n, ERLimites(u0, u0 + uniform(0.5, 3)))));
  }

  std::unique_ptr<ERSurOfRevolution> surface(double far, bool fullTurn = false) {
    s = magnitude(-290, 290);
    T = placement(far * s);
    const ERVector3D d = T >> ERVector3D(0, 0, 1);
    const ERLimites V = fullTurn ? ERLimites(0, 2 * M_PI) : angles();
    const int kind = integer(0, 5);
    return std::make_unique<ERSurOfRevolution>(generatrix(kind == 0   ? 0
                                                          : kind == 1 ? 2
                                                                      : 1),
                                               ERInfLine3D(d, T >> ERPoint3D()), V);
  }
};

// The generatrix point at u turned by v about the axis, computed in the right-handed frame
// whose Z axis is the axis: a plane rotation of the local coordinates.
ERPoint3D turned(const ERSurOfRevolution& S, double u, double v) {
  const ERVector3D d = S.axis().dirVector();
  ERVector3D x, y;
  qorv::GetOrthogonalDirections(d, x, y);
  const ERPmIsometrie3D F = ERChgRepere3D(x, d ^ x, ERPoint3D());
  const ERPoint3D a = S.axis().origine();
  const ERVector3D l = F << ((*S.generatrix())(u)-a);
  return a + (F >> ERVector3D(l.x() * std::cos(v) - l.y() * std::sin(v),
                              l.x() * std::sin(v) + l.y() * std::cos(v), l.z()));
}

double scaleOf(const ERSurOfRevolution& S) {
  const ERMinimax3D b = S.getBox();
  return std::max({qorv_test::maxAbs(b.MinPoint()), qorv_test::maxAbs(b.MaxPoint()), b.diagonal()});
}

TEST(SurOfRevolution, PointsAndDerivativesAreTheGeneratrixTurnedAboutTheAxis) {
  QORV_SEEDED(RevolutionDraw draw, 2401);
  for (int k = 0; k < 150; ++k) {
    SCOPED_TRACE(k);
    const auto S = draw.surface(draw.uniform(0, 1e3));
    const double scale = scaleOf(*S);
    const ERMinimax3D box = S->getBox();
    for (int i = 0; i < 20; ++i) {
      const double u = S->udeb() + draw.uniform(0, 1) * (S->ufin() - S->udeb());
      const double v = S->vdeb() + draw.uniform(0, 1) * (S->vfin() - S->vdeb());
      const ERInfoPoint3DSurf e = S->PtCur(u, v);
      EXPECT_LE(qorv::distance(e.point(), turned(*S, u, v)), 1e-12 * scale);
      EXPECT_LE(qorv::distance((*S)(u, v), e.point()), 1e-13 * scale);
      EXPECT_TRUE(box.contains(e.point()));
      // First derivatives against central differences of the surface (not across the
      // corners of a polyline generatrix).
      const auto* pc = ERCpoleNURBS3D::castdown(
          S->generatrix()->isKindOf(ERCpoleNURBS3D::desc()) ? S->generatrix().get() : nullptr);
      if (pc != nullptr && pc->degree() == 1) continue;
      const double hu = 1e-5 * (S->ufin() - S->udeb()), hv = 1e-5;
      const ERVector3D fu = ((*S)(u + hu, v) - (*S)(u - hu, v)) / (2 * hu);
      const ERVector3D fv = ((*S)(u, v + hv) - (*S)(u, v - hv)) / (2 * hv);
      EXPECT_LE((fu - e.tangenteU()).norme(), 1e-6 * (fu.norme() + scale * 1e-3));
      EXPECT_LE((fv - e.tangenteV()).norme(), 1e-6 * scale);
      const ERVector3D Suv(e.derivatives()[4]);
      const ERVector3D fuv =
          (S->PtCur(u, v + hv).tangenteU() - S->PtCur(u, v - hv).tangenteU()) / (2 * hv);
      EXPECT_LE((fuv - Suv).norme(), 1e-6 * (fuv.norme() + scale * 1e-3));
    }
    // The iso-curves carry the surface's parameters.
    const double u = 0.5 * (S->udeb() + S->ufin()), v = 0.5 * (S->vdeb() + S->vfin());
    if (const auto iso = S->getEntityIsoU(u)) {
      EXPECT_LE(qorv::distance((*iso)(v), (*S)(u, v)), 1e-12 * scale);
    }
    EXPECT_LE(qorv::distance((*S->getEntityIsoV(v))(u), (*S)(u, v)), 1e-12 * scale);
  }
}

// Mirrors, turns, point reflections and translations move the surface as they move points,
// and keep its parameters.
TEST(SurOfRevolution, MovesFollowThePoints) {
  QORV_SEEDED(RevolutionDraw draw, 2402);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    const auto S = draw.surface(10);
    const double scale = scaleOf(*S);
    const ERPmIsometrie3D M = draw.placement(scale);
    const double kk = draw.uniform(0.5, 2) * (k % 2 ? -1 : 1);
    ERSurOfRevolution moved(*S), scaled(*S), back(*S);
    moved.transformFrom(M);
    scaled.scale(kk);
    back.transformTo(M);
    for (int i = 0; i < 10; ++i) {
      const double u = S->udeb() + draw.uniform(0, 1) * (S->ufin() - S->udeb());
      const double v = S->vdeb() + draw.uniform(0, 1) * (S->vfin() - S->vdeb());
      const ERPoint3D p = (*S)(u, v);
      const double tol = 1e-11 * (scale + qorv_test::maxAbs(M >> ERPoint3D()));
      EXPECT_LE(qorv::distance(moved(u, v), M >> p), tol);
      EXPECT_LE(qorv::distance(back(u, v), M << p), tol);
      EXPECT_LE(qorv::distance(scaled(u, v), p * kk), 1e-12 * scale * 2);
    }
    // The frame stays right-handed and across the axis.
    ERVector3D x, y;
    moved.getVectors(x, y);
    EXPECT_TRUE(Near(Seq{x * moved.axis().dirVector(), x.norme()}, Seq{0, 1}, 1e-12));
  }
}

// A semicircle whose ends touch the axis sweeps a sphere: every nearest point is on the line
// from the centre, the centre's answer is a point of the sphere, a point on the axis gets a
// pole or a foot of the circle of feet.
TEST(SurOfRevolution, SemicircleGivesTheSphereAndItsNearestPoints) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2403);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    const double R = draw.magnitude(-100, 100);
    const ERPmIsometrie3D T = draw.placement(R * draw.uniform(0, 1e3));
    const ERPoint3D c = T >> ERPoint3D();
    const ERVector3D d = T >> ERVector3D(0, 0, 1);
    const ERPmIsometrie3D plane = ERChgRepere3D(T >> ERVector3D(1, 0, 0), d, c);
    t_SmartPtr<ERFiniteEntity3DWF> arc(
        new ERArc3D(plane, ERCircle2D(ERPoint2D(0, 0), R), -M_PI / 2, M_PI / 2));
    const ERSurOfRevolution S(arc, ERInfLine3D(d, c), ERLimites(0, 2 * M_PI));
    const double tol = 1e-11 * (R + qorv_test::maxAbs(c));
    for (int i = 0; i < 20; ++i) {
      const double u = S.udeb() + draw.uniform(0, 1) * (S.ufin() - S.udeb());
      EXPECT_NEAR(qorv::distance(S(u, draw.uniform(0, 6.3)), c), R, tol);
      const ERVector3D dir = draw.direction();
      const double r = R * std::pow(10.0, draw.uniform(-3, 3));
      const ERPoint3D p = i == 0 ? c : (i == 1 ? c + d * (r * (i % 2 ? 1 : -1)) : c + dir * r);
      ERPoint2D uv;
      const double dist = S.nearest(p, uv);
      EXPECT_NEAR(dist, std::fabs(qorv::distance(p, c) - R), tol + 1e-12 * r);
      EXPECT_NEAR(qorv::distance(S(uv.x(), uv.y()), p), dist, tol + 1e-12 * r);
      EXPECT_EQ(S.ProjectionNormale(p, 0, uv, 1), 1) << i << " " << uv.x() << " " << uv.y();
      if (i > 1) {
        const ERPoint3D expect = c + (p - c).getnormalized() * R;
        EXPECT_LE(qorv::distance(S.project_inbound(p), expect), tol + 1e-12 * r)
            << "R " << R << " r " << r << " c " << c << " p " << p << " uv " << uv << " "
            << S.project_inbound(p) << " " << expect;
      }
      double sd = 0;
      EXPECT_EQ(S.SignedMinimalDistance(p, sd), EREntity::DISTMIN_NORMAL);
      EXPECT_NEAR(std::fabs(sd), dist, tol + 1e-12 * r);
    }
    // A vertical line through the inside crosses twice, one outside not at all.
    ERRaySurfaceResult res;
    S.ProjectPoint(c + ERVector3D(0.3 * R, -0.2 * R, 0), ERVector3D(0, 0, 1), res, 0);
    EXPECT_EQ(res.entries(), 2);
    ERRaySurfaceResult none;
    S.ProjectPoint(c + ERVector3D(1.5 * R, 0, 0), ERVector3D(0, 0, 1), none, 0);
    EXPECT_EQ(none.entries(), 0);
  }
}

// Dense sampling of the surface, its best sample refined by Newton: no such point is nearer
// than the answer, and the answer is the distance of the point at its parameter.
TEST(SurOfRevolution, NearestIsGlobalAgainstDenseSampling) {
  QORV_SEEDED(RevolutionDraw draw, 2404);
  for (int k = 0; k < 40; ++k) {
    SCOPED_TRACE(k);
    const auto S = draw.surface(draw.uniform(0, 1e2), k % 4 == 0);
    const double scale = scaleOf(*S);
    const double size = S->getBox().diagonal();
    const ERMinimax3D box = S->getBox();
    constexpr int N = 160;
    for (int i = 0; i < 6; ++i) {
      const double reach = size * (i < 4 ? draw.uniform(0, 1) : std::pow(10.0, draw.uniform(0, 3)));
      const ERPoint3D p = box.center_point() + draw.direction() * reach;
      ERPoint2D uv;
      const double dist = S->nearest(p, uv);
      ASSERT_TRUE(std::isfinite(dist));
      EXPECT_NEAR(qorv::distance((*S)(uv.x(), uv.y()), p), dist, 1e-12 * (scale + reach));
      double best = HUGE_VAL;
      ERPoint2D at;
      for (int a = 0; a <= N; ++a)
        for (int b = 0; b <= N; ++b) {
          const double u = S->udeb() + (S->ufin() - S->udeb()) * a / N;
          const double v = S->vdeb() + (S->vfin() - S->vdeb()) * b / N;
          const double dd = qorv::distance((*S)(u, v), p);
          if (dd < best) best = dd, at = ERPoint2D(u, v);
        }
      ERPoint3D q = p;
      S->ReajustProjection(q, at, 1);
      best = std::min(best, qorv::distance(q, p));
      EXPECT_LE(dist, best + 1e-10 * (scale + reach));
      // A foot when the answer says so.
      ERPoint2D uv2;
      if (S->ProjectionNormale(p, 0, uv2, 1) == 1) {
        // p - S is orthogonal to both partials (those that do not vanish on the axis).
        const ERInfoPoint3DSurf e = S->PtCur(uv2.x(), uv2.y());
        const ERVector3D w = (p - e.point()).getnormalized();
        EXPECT_LE(std::fabs(w * e.tangenteU().getnormalized()), 1e-3);
        EXPECT_LE(std::fabs(w * e.tangenteV().getnormalized()), 1e-3);
      }
    }
  }
}

// Lines along Z and along any direction: every record is on the line and is the surface at
// its parameter; a line through a sampled surface point finds that point. The NURBS form is the
// same surface: each of its points lies on the circle of the generatrix point of the same u,
// inside the window, and its end iso-curves are the end generatrices.
TEST(SurOfRevolution, LineProjectionAndTheNurbsForm) {
  QORV_SEEDED(RevolutionDraw draw, 2405);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    const auto S = draw.surface(draw.uniform(0, 10));
    const double scale = scaleOf(*S);
    const double u = S->udeb() + draw.uniform(0.05, 0.95) * (S->ufin() - S->udeb());
    const double v = S->vdeb() + draw.uniform(0.05, 0.95) * (S->vfin() - S->vdeb());
    const ERPoint3D on = (*S)(u, v);
    const ERVector3D D = k % 3 == 0 ? ERVector3D(0, 0, 1) : draw.direction();
    ERRaySurfaceResult res;
    S->ProjectPoint(on + D * (scale * draw.uniform(-1, 1)), D, res, 0);
    bool found = false;
    for (int i = 0; i < res.entries(); ++i) {
      const ERInfoPoint3DSurf& e = *res.at(i);
      const ERVector3D w = e.point() - on;
      EXPECT_LE((w ^ D).norme(), 1e-9 * scale);
      EXPECT_LE(qorv::distance((*S)(e.parameter().x(), e.parameter().y()), e.point()),
                1e-9 * scale);
      found = found || qorv::distance(e.point(), on) <= 1e-9 * scale;
    }
    EXPECT_TRUE(found) << res.entries() << " u " << u << " v " << v << " D " << D << " d "
                       << S->axis().dirVector() << " range " << S->udeb() << " " << S->ufin() << " "
                       << S->vdeb() << " " << S->vfin();

    const t_SmartPtr<ERSpoleNURBS3D> N = S->ConvertToNurbs();
    ASSERT_TRUE(N);
    const ERVector3D d = S->axis().dirVector();
    const ERPoint3D a = S->axis().origine();
    for (int i = 0; i < 30; ++i) {
      const double u = S->udeb() + draw.uniform(0, 1) * (S->ufin() - S->udeb());
      const double t = N->vdeb() + draw.uniform(0, 1) * (N->vfin() - N->vdeb());
      const ERPoint3D q = (*N)(u, t), c = (*S->generatrix())(u);
      const double hq = (q - a) * d, hc = (c - a) * d;
      const double rq = ((q - a) - d * hq).norme(), rc = ((c - a) - d * hc).norme();
      EXPECT_TRUE(Near(Seq{hq, rq}, Seq{hc, rc}, 1e-12 * scale));
      // Its angle from the generatrix point is inside the window.
      ERPoint2D uv;
      EXPECT_LE(S->nearest(q, uv), 1e-12 * scale);
    }
    const double ue = S->udeb() + 0.3 * (S->ufin() - S->udeb());
    EXPECT_LE(qorv::distance((*N)(ue, N->vdeb()), (*S)(ue, S->vdeb())), 1e-12 * scale);
    EXPECT_LE(qorv::distance((*N)(ue, N->vfin()), (*S)(ue, S->vfin())), 1e-12 * scale);
  }
}

ERSurOfRevolution sample() {
  QuickAlgebra::ERVec<ERPole3DH> poles(4);
  const double xs[4][4] = {{1, 0, 0, 1}, {3, 0, 2, 2}, {2, 1, 4, 1}, {1, 0, 5, 1}};
  for (int i = 0; i < 4; ++i)
    poles[i] = ERPole3DH(xs[i][0] * xs[i][3], xs[i][1] * xs[i][3], xs[i][2] * xs[i][3], xs[i][3]);
  t_SmartPtr<ERFiniteEntity3DWF> g(new ERCpoleNURBS3D(poles));
  return ERSurOfRevolution(g, ERInfLine3D(ERVector3D(0, 0, 2), ERPoint3D(0, 0, 7)),
                           ERLimites(0.25, 4.5));
}

TEST(SurOfRevolution, StoredImageAndPrintForm) {
  const ERSurOfRevolution S = sample();
  qorv_test::Bytes expect = qorv_test::doubles({0.25, 4.5, 0, 0, 1, 0, 0, 0});
  qorv_test::appendInt(expect, 0), qorv_test::appendInt(expect, -1);
  const qorv_test::Bytes ref = qorv_test::doubles(
      {S.referenceVector().x(), S.referenceVector().y(), S.referenceVector().z()});
  expect.insert(expect.end(), ref.begin(), ref.end());
  EXPECT_EQ((Seq{imageOf(S), S.binaryStoreSize()}), (Seq{expect, expect.size()}));

  const ERSurOfRevolution none;
  qorv_test::Bytes empty = qorv_test::doubles({0, 0, 0, 0, 1, 0, 0, 0});
  qorv_test::appendInt(empty, 1);
  const qorv_test::Bytes x = qorv_test::doubles({1, 0, 0});
  empty.insert(empty.end(), x.begin(), x.end());
  EXPECT_EQ((Seq{imageOf(none), none.binaryStoreSize()}), (Seq{empty, empty.size()}));

  const std::string text = printed(S);
  const std::string expectText =
      "Axe          = " + printed(S.axis()) + "\nGeneratrice  = " + printed(*S.generatrix()) +
      "\nStart Angle  = 0.25\nEnd   Angle  = 4.5\nVector       = " + printed(S.referenceVector()) +
      "\n";
  EXPECT_EQ(text, expectText);
}

TEST(SurOfRevolution, DataBaseRoundTripKeepsTheGeneratrix) {
  const ERSurOfRevolution S = sample();
  ERSurOfRevolution stored(S);
  const qorv_test::DataBaseRoundTrip trip(std::vector<ERObject*>{&stored});
  t_SmartPtr<ERObject> back = trip.back(0);
  const ERSurOfRevolution* b = ERSurOfRevolution::castdown(back.get());
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->generatrix());
  EXPECT_EQ(printed(*b), printed(S));
  for (double u : {0.0, 0.3, 1.0})
    for (double v : {0.25, 2.0, 4.5}) EXPECT_EQ(qorv::distance((*b)(u, v), S(u, v)), 0);
}

TEST(SurOfRevolution, BadInputGetsTheDocumentedAnswers) {
  // No generatrix.
  const ERSurOfRevolution none;
  EXPECT_TRUE(std::isnan(none.PtCur(0, 0).point().x()));
  ERPoint2D uv(5, 6);
  EXPECT_TRUE(std::isnan(none.nearest(ERPoint3D(1, 2, 3), uv)));
  EXPECT_EQ((Seq{none.ProjectionNormale(ERPoint3D(1, 2, 3), 0, uv, 1), uv.x()}), (Seq{0, 5}));
  EXPECT_EQ((Seq{bool(none.getBox().invalid()), bool(none.ConvertToNurbs()),
                 bool(none.getEntityIsoU(0))}),
            (Seq{true, false, false}));
  ERRaySurfaceResult res;
  none.ProjectPoint(ERPoint3D(), res, 0);
  EXPECT_EQ(res.entries(), 0);

  // A generatrix on its axis: a frame across the axis all the same, a line of points.
  t_SmartPtr<ERFiniteEntity3DWF> onAxis(new ERSegment3D(ERPoint3D(1, 1, 0), ERPoint3D(1, 1, 5)));
  const ERSurOfRevolution line(onAxis, ERInfLine3D(ERVector3D(0, 0, 1), ERPoint3D(1, 1, 0)),
                               ERLimites(0, 2 * M_PI));
  EXPECT_NEAR(line.referenceVector() * ERVector3D(0, 0, 1), 0, 1e-15);
  EXPECT_NEAR(line.referenceVector().norme(), 1, 1e-15);
  EXPECT_TRUE(Near(Seq{line.nearest(ERPoint3D(4, 5, 2), uv), uv.x()}, Seq{5, 0.4}, 1e-12));

  // NaN parameters and points.
  const ERSurOfRevolution S = sample();
  EXPECT_TRUE(std::isnan(S.PtCur(NAN, 1).point().x()));
  EXPECT_EQ(S.ProjectionNormale(ERPoint3D(NAN, 0, 0), 0, uv, 1), 0);
  ERPoint3D p(NAN, 0, 0);
  EXPECT_EQ(S.ReajustProjection(p, uv, 1), 0);
  S.ProjectPoint(ERPoint3D(0, NAN, 0), res, 0);
  EXPECT_EQ(res.entries(), 0);
  // Splitting outside the limits, an empty window.
  t_SmartPtr<ERAnyBoundedSurface> lo, hi;
  EXPECT_EQ((Seq{S.SplitInU(lo, hi, 1.0), S.SplitInV(lo, hi, 5.0), S.SplitInV(lo, hi, 1.0)}),
            (Seq{0, 0, 1}));
  EXPECT_LE(qorv::distance((*hi)(0.5, 1.0), S(0.5, 1.0)), 1e-15);
  const ERSurOfRevolution flat(S.generatrix(), S.axis(), ERLimites(1, 1));
  EXPECT_FALSE(flat.ConvertToNurbs());
  // Short records: SurfaceImages.TruncatedAndDamagedRecordsAreRefused.
}

}  // namespace
