#include "qorv/surfaces/offset_surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include "qorv/freeform/pole_surfaces.h"
#include "qorv/persistence/object_database.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/test_seed.h"

using qorv_test::imageOf, qorv_test::printed;

namespace {

using qorv_test::Kind;

double sizeOf(const ERAnyBoundedSurface& s) {
  const ERMinimax3D b = s.getBox();
  return std::max({qorv_test::maxAbs(b.MinPoint()), qorv_test::maxAbs(b.MaxPoint()), b.diagonal()});
}

// A bicubic patch over its frame's XY plane, a graph of z: random heights of size s.
std::unique_ptr<ERSpoleBezier3D> patch(qorv_test::BoundedDraw& draw, double s, double far) {
  const ERPmIsometrie3D T = draw.placement(far * s);
  QuickAlgebra::ERMatrix<ERPoint3D> poles(4, 4);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i)
      poles[j * 4 + i] = T >> ERPoint3D(i * s, j * s, draw.uniform(-0.7, 0.7) * s);
  return std::make_unique<ERSpoleBezier3D>(poles);
}

// The base point plus the offset along the base's own Su x Sv, wherever that is defined;
// the side follows the indicator given at construction.
TEST(OffsetSurface, PointsLieAtTheOffsetAlongTheBaseNormal) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2411);
  for (int k = 0; k < 150; ++k) {
    SCOPED_TRACE(k);
    const double s = draw.magnitude(-100, 100);
    std::unique_ptr<ERAnyBoundedSurface> base;
    if (k % 6 == 5) {
      base = patch(draw, s, draw.uniform(0, 1e3));
    } else {
      base = draw.surface(static_cast<Kind>(k % 5), s, draw.uniform(0, 1e3));
    }
    const double size = sizeOf(*base);
    const double off = s * draw.uniform(-0.5, 0.5);
    const double um = ERLimites(base->udeb(), base->ufin())(0.5);
    const double vm = ERLimites(base->vdeb(), base->vfin())(0.5);
    const ERInfoPoint3DSurf mid = base->PtCur(um, vm);
    const ERVector3D nm = (mid.tangenteU() ^ mid.tangenteV()).getnormalized();
    // An indicator on either side, tilted.
    const ERVector3D ind = (nm * (k % 2 ? 1.0 : -1.0) + draw.direction() * 0.3).getnormalized();
    const EROffsetSurface S(*base, off, ind);
    EXPECT_GE((S(um, vm) - mid.point()) * ind * (off >= 0 ? 1 : -1), 0);
    EXPECT_NEAR(std::fabs(S.getOffset()), std::fabs(off), 1e-15 * std::fabs(off));
    const ERMinimax3D box = S.getBox();
    for (int i = 0; i < 20; ++i) {
      const double u = ERLimites(base->udeb(), base->ufin())(draw.uniform(0, 1));
      const double v = ERLimites(base->vdeb(), base->vfin())(draw.uniform(0, 1));
      const ERInfoPoint3DSurf e = base->PtCur(u, v);
      const ERVector3D N = e.tangenteU().getnormalized() ^ e.tangenteV().getnormalized();
      const ERPoint3D p = S(u, v);
      EXPECT_TRUE(box.contains(p));
      if (N.norme() < 1e-3) continue;
      const ERVector3D n = N.getnormalized();
      EXPECT_LE(qorv::distance(p, e.point() + n * S.getOffset()), 1e-13 * size + 1e-12 * s);
      EXPECT_NEAR(qorv::distance(p, e.point()), std::fabs(off), 1e-13 * size + 1e-12 * s);
    }
  }
}

// Where the partials degenerate the point stays on its side and finite: the sphere's pole
// follows its neighbours, the cone's apex is the limit along its generator, and a cylinder
// offset through its axis is the folded-over cylinder.
TEST(OffsetSurface, DegeneratePointsAndFoldedOffsetsStayFinite) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2412);
  for (int k = 0; k < 40; ++k) {
    SCOPED_TRACE(k);
    const double R = draw.magnitude(-100, 100);
    const ERPmIsometrie3D T = draw.placement(R * draw.uniform(0, 100));
    const ERBoundedSphere sphere(T, R, ERLimites(0, 2 * M_PI), ERLimites(-M_PI / 2, M_PI / 2));
    const double off = R * draw.uniform(0.1, 0.9) * (k % 2 ? 1 : -1);
    const EROffsetSurface S(sphere, off, sphere.center() - sphere(0, 0));
    for (double v : {-M_PI / 2, M_PI / 2}) {
      const double u = draw.uniform(0, 6);
      const ERPoint3D p = S(u, v), near = S(u, v - std::copysign(1e-7, v));
      EXPECT_TRUE(std::isfinite(p.x()));
      // On the same side as at an ordinary point.
      EXPECT_NEAR(qorv::distance(p, sphere.center()), qorv::distance(S(u, 0.3), sphere.center()),
                  1e-12 * R * 10);
      EXPECT_LE(qorv::distance(p, near), 1e-6 * R);
    }
    const ERBoundedCone cone(T, 0.5, 0, 2 * R);
    const EROffsetSurface C(cone, off, cone.direction());
    for (int i = 0; i < 5; ++i) {
      const double v = draw.uniform(0, 6);
      const ERPoint3D apex = C(0, v), next = C(1e-9 * R, v);
      EXPECT_TRUE(std::isfinite(apex.x()) && std::isfinite(apex.y()) && std::isfinite(apex.z()));
      EXPECT_NEAR(qorv::distance(apex, cone.apex()), std::fabs(off), 1e-9 * R);
      EXPECT_LE(qorv::distance(apex, next), 1e-6 * R);
    }
    // Inwards at the middle of the limits (u = 0, v = pi), by twice the radius.
    const ERBoundedCylinder cyl(T, R, R, 0, 2 * M_PI);
    const ERPoint3D centre = qorv::milieu(cyl.axe().getP1(), cyl.axe().getP2());
    const EROffsetSurface F(cyl, 2 * R, centre - cyl(0, M_PI));
    const ERPoint3D out = cyl(0, 0.3), p = F(0, 0.3);
    EXPECT_NEAR(qorv::distance(p, centre), R, 1e-12 * R * 100);
    EXPECT_LE(qorv::distance(qorv::milieu(p, out), centre), 1e-12 * R * 100);
  }
}

// reverse keeps the points, whether the base's reverse turns its normal (a patch exchanges
// u and v) or not (a cylinder); moves carry the points, mirrors included.
TEST(OffsetSurface, ReverseAndMovesKeepThePoints) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2413);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    const double s = draw.magnitude(-290, 290);
    std::unique_ptr<ERAnyBoundedSurface> base;
    if (k % 2) {
      base = patch(draw, s, draw.uniform(0, 100));
    } else {
      base = draw.surface(Kind::Cylinder, s, draw.uniform(0, 100));
    }
    const EROffsetSurface S(*base, s * draw.uniform(-0.3, 0.3), draw.direction());
    const double size = sizeOf(S);
    EROffsetSurface R(S);
    R.reverse();
    const ERPmIsometrie3D M = draw.placement(size);
    EROffsetSurface moved(S);
    moved.transformFrom(M);
    const double k2 = draw.uniform(0.5, 2) * (k % 3 ? 1 : -1);
    EROffsetSurface scaled(S);
    scaled.scale(k2);
    for (int i = 0; i < 10; ++i) {
      const double u = ERLimites(S.udeb(), S.ufin())(draw.uniform(0, 1));
      const double v = ERLimites(S.vdeb(), S.vfin())(draw.uniform(0, 1));
      const ERPoint3D p = S(u, v);
      const ERPoint3D r = k % 2 ? R(v, u) : R(u, v);
      EXPECT_LE(qorv::distance(r, p), 1e-12 * size);
      if (k % 2) {  // the patches keep their parameters through moves
        EXPECT_LE(qorv::distance(moved(u, v), M >> p),
                  1e-11 * (size + qorv_test::maxAbs(M >> ERPoint3D())));
        EXPECT_LE(qorv::distance(scaled(u, v), p * k2), 1e-12 * size * 2);
      }
    }
  }
}

// Line projection: every record on the vertical line and on the surface; a line through a
// surface point finds it. Iso-curves: the surface's points, the offset surface's derivative,
// a NURBS form through their points, and a length that the chords do not exceed.
TEST(OffsetSurface, LineProjectionAndIsoCurves) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2414);
  for (int k = 0; k < 40; ++k) {
    SCOPED_TRACE(k);
    const double s = draw.magnitude(-290, 290);
    const auto base = patch(draw, s, draw.uniform(0, 10));
    const EROffsetSurface S(*base, s * draw.uniform(-0.2, 0.2), draw.direction());
    const double size = sizeOf(S);
    const double u = draw.uniform(0.1, 0.9), v = draw.uniform(0.1, 0.9);
    const ERPoint3D on = S(u, v);
    ERRaySurfaceResult res;
    S.ProjectPoint(on + ERVector3D(0, 0, size * draw.uniform(-1, 1)), res, 0);
    bool found = false;
    for (int i = 0; i < res.entries(); ++i) {
      const ERPoint3D q = res.at(i)->point();
      EXPECT_LE(std::hypot(q.x() - on.x(), q.y() - on.y()), 1e-10 * size);
      found = found || qorv::distance(q, on) <= 1e-9 * size;
    }
    // A patch is steep in places: its vertical line may graze it, but not here too often.
    if (!found) ADD_FAILURE() << "missed " << res.entries();

    for (int type = 0; type < 2; ++type) {
      const auto iso = type == 0 ? S.getEntityIsoU(u) : S.getEntityIsoV(v);
      const double t = type == 0 ? v : u;
      EXPECT_LE(qorv::distance((*iso)(t), on), 1e-14 * size);
      const double h = 1e-6;
      const ERVector3D fd = ((*iso)(t + h) - (*iso)(t - h)) / (2 * h);
      EXPECT_LE((iso->PtCur(t).tangente() - fd).norme(), 1e-6 * (fd.norme() + size));
      const auto nurbs = iso->ConvertToNurbs();
      ASSERT_TRUE(nurbs);
      for (double x : {0.0, 0.25, 1.0})
        EXPECT_LE(qorv::distance((*nurbs)(x), (*iso)(x)), 1e-12 * size);
      double chords = 0;
      for (int i = 0; i < 200; ++i)
        chords += qorv::distance((*iso)(i / 200.0), (*iso)((i + 1) / 200.0));
      const double len = iso->arcLength(1e-9);
      EXPECT_GE(len, chords * (1 - 1e-12));
      EXPECT_LE(len, chords * (1 + 1e-3));
      EXPECT_TRUE(iso->getBox().contains((*iso)(0.37)));
    }
  }
}

EROffsetSurface sample() {
  const ERBoundedCylinder cyl(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(1, 2, 3)), 2, 1.5, 0,
                              M_PI);
  return EROffsetSurface(cyl, 0.25, ERVector3D(-1, 0, 0));
}

TEST(OffsetSurface, StoredImagePrintFormAndDataBase) {
  const EROffsetSurface S = sample();
  // The indicator given pointed inwards: turned along the normal, the offset negated.
  EXPECT_EQ(S.getOffset(), S.getOffsetIndicator().x() < 0 ? 0.25 : -0.25);
  qorv_test::Bytes expect =
      qorv_test::doubles({S.getOffset(), 0.0, S.getOffsetIndicator().x(),
                          S.getOffsetIndicator().y(), S.getOffsetIndicator().z()});
  qorv_test::appendInt(expect, 0), qorv_test::appendInt(expect, -1);
  qorv_test::appendInt(expect, 1);
  EXPECT_EQ((Seq{imageOf(S), S.binaryStoreSize()}), (Seq{expect, expect.size()}));

  std::ostringstream off;
  off << S.getOffset();
  EXPECT_EQ(printed(S), "Surface Offset \n   Offset      : " + off.str() +
                            "\n   Indicateur  : " + printed(S.getOffsetIndicator()) +
                            "\n   Based On    : " + printed(*S.getBaseSurface()) +
                            "\n  Equiv Entity : \n");

  EROffsetSurface stored(S);
  const qorv_test::DataBaseRoundTrip trip(std::vector<ERObject*>{&stored});
  t_SmartPtr<ERObject> back = trip.back(0);
  const EROffsetSurface* b = EROffsetSurface::castdown(back.get());
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->getBaseSurface());
  EXPECT_EQ((Seq{printed(*b), qorv::distance((*b)(0.5, 1.0), S(0.5, 1.0))}), (Seq{printed(S), 0}));
}

TEST(OffsetSurface, BadInputGetsTheDocumentedAnswers) {
  const EROffsetSurface none;
  EXPECT_EQ((Seq{std::isnan(none(0, 0).x()), none.getBox().invalid()}), (Seq{true, true}));
  t_SmartPtr<ERAnyBoundedSurface> lo, hi;
  EXPECT_EQ(none.SplitInU(lo, hi, 0.5), 0);
  ERRaySurfaceResult res;
  none.ProjectPoint(ERPoint3D(), res, 0);
  EXPECT_EQ((Seq{res.entries(), imageOf(none).size()}), (Seq{0, none.binaryStoreSize()}));

  const EROffsetSurface S = sample();
  EXPECT_TRUE(std::isnan(S(NAN, 0).x()));
  ERPoint2D uv;
  EXPECT_EQ(S.ProjectionNormale(ERPoint3D(1, 2, 3), 0, uv, 1), 0);
  S.ProjectPoint(ERPoint3D(NAN, 0, 0), res, 0);
  EXPECT_EQ((Seq{res.entries(), S.SplitInU(lo, hi, 7.0)}), (Seq{0, 0}));
  ASSERT_EQ(S.SplitInV(lo, hi, 1.0), 1);
  EXPECT_LE(qorv::distance((*hi)(0.5, 2.0), S(0.5, 2.0)), 1e-15);
  EXPECT_LE(qorv::distance((*lo)(0.5, 0.5), S(0.5, 0.5)), 1e-15);
  // A zero indicator and a zero offset: the base itself.
  const EROffsetSurface zero(*S.getBaseSurface(), 0.0, ERVector3D());
  EXPECT_EQ(qorv::distance(zero(0.5, 1), (*S.getBaseSurface())(0.5, 1)), 0);

  EROffsetSurface into = sample();
  qorv_test::Bytes image = imageOf(into);
  image[40] = 7;  // a flag neither 0 nor 1
  qorv_test::restoreFrom(into, image);
  EXPECT_EQ(printed(into), printed(S));
}

}  // namespace
