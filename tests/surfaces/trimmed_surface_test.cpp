#include "qorv/surfaces/trimmed_surface.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qorv/curves/circles.h"
#include "qorv/curves/lines.h"
#include "qorv/foundation/transfo3d_kinds.h"
#include "qorv/freeform/pole_curves.h"
#include "qorv/measurement/mesh_builder.h"
#include "qorv/persistence/object_database.h"
#include "qorv/surfaces/bounded_surfaces.h"
#include "qorv/surfaces/offset_surface.h"
#include "qorv/surfaces/revolution_surface.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/persistence/test_files.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/test_seed.h"

using qorv_test::imageOf, qorv_test::printed;

namespace {

using Polygon = std::vector<ERPoint2D>;

// A closed degree-1 pole curve through the vertices.
t_SmartPtr<ERFiniteEntity2DWF> loop(const Polygon& pts) {
  const int n = static_cast<int>(pts.size());
  QuickAlgebra::ERVec<ERPole2DH> poles(n + 1);
  for (int i = 0; i <= n; ++i) poles[i] = ERPole2DH(pts[i % n], 1.0);
  return t_SmartPtr<ERFiniteEntity2DWF>(
      new ERCpoleNURBS2D(poles, ERKnotVector(1, n + 1, ERLimites(0, 1))));
}

// Even-odd crossings, written apart from the library's.
bool insidePolygon(const ERPoint2D& p, const Polygon& poly) {
  bool in = false;
  const size_t n = poly.size();
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const ERPoint2D& a = poly[i];
    const ERPoint2D& b = poly[j];
    if ((a.y() > p.y()) != (b.y() > p.y()) &&
        p.x() < (b.x() - a.x()) * (p.y() - a.y()) / (b.y() - a.y()) + a.x())
      in = !in;
  }
  return in;
}

// A star-shaped polygon about c: n vertices at radii in [lo r, r].
Polygon star(qorv_test::Draw& d, const ERPoint2D& c, double r, int n, double lo = 0.5) {
  Polygon p;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * (i + d.uniform(0.1, 0.9)) / n;
    const double rr = r * d.uniform(lo, 1.0);
    p.emplace_back(c.x() + rr * std::cos(a), c.y() + rr * std::sin(a));
  }
  return p;
}

struct Face {
  std::unique_ptr<ERTrimmedSurface> surface;
  Polygon outer;
  std::vector<Polygon> holes;
};

// An outer star of radius 1 about (0, 0) with up to 4 star holes of radius 0.1 at radius 0.3,
// inside it (8 vertices or more, at radii 0.75 or more, keep its edges 0.57 from the centre).
Face face(qorv_test::Draw& d, const ERAnyBoundedSurface& base, int holes) {
  Face f;
  f.surface = std::make_unique<ERTrimmedSurface>(base);
  f.outer = star(d, ERPoint2D(0, 0), 1.0, d.integer(8, 40), 0.75);
  EXPECT_EQ(f.surface->addBound(*loop(f.outer), ERSurfaceBoundary::OUTER), 1);
  for (int h = 0; h < holes; ++h) {
    const double a = 2 * M_PI * h / holes;
    f.holes.push_back(
        star(d, ERPoint2D(0.3 * std::cos(a), 0.3 * std::sin(a)), 0.1, d.integer(3, 9)));
    EXPECT_EQ(f.surface->addBound(*loop(f.holes.back()), ERSurfaceBoundary::INNER), 1);
  }
  return f;
}

bool insideFace(const Face& f, const ERPoint2D& p) {
  if (!insidePolygon(p, f.outer)) return false;
  for (const Polygon& h : f.holes)
    if (insidePolygon(p, h)) return false;
  return true;
}

ERBoundedPlane plane(const ERPmIsometrie3D& T, double lo = -2, double hi = 2) {
  return ERBoundedPlane(T, ERLimites(lo, hi), ERLimites(lo, hi));
}

TEST(TrimmedSurface, IsInBoundAgreesWithPointInPolygon) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2421);
  for (int k = 0; k < 60; ++k) {
    SCOPED_TRACE(k);
    // Limits that cut the outer loop one time in four: points beyond them are outside.
    const double lim = k % 4 == 0 ? 0.8 : 2.0;
    const Face f = face(draw, plane(draw.placement(10), -lim, lim), k % 5);
    for (int i = 0; i < 400; ++i) {
      const ERPoint2D p(draw.uniform(-1.2, 1.2), draw.uniform(-1.2, 1.2));
      const bool expect = insideFace(f, p) && std::fabs(p.x()) <= lim && std::fabs(p.y()) <= lim;
      ASSERT_EQ(f.surface->isInBound(p), expect ? 1 : 0) << p;
    }
    // Vertices of every loop are inside (when within the limits and, for a hole, inside the
    // outer loop: a small outer triangle leaves holes sticking out).
    std::vector<Polygon> loops = f.holes;
    loops.push_back(f.outer);
    for (const Polygon& l : loops)
      for (size_t i = 0; i < l.size(); ++i) {
        const ERPoint2D v = l[i];
        if (&l != &loops.back() && !insidePolygon(v, f.outer)) continue;
        if (std::fabs(v.x()) <= lim && std::fabs(v.y()) <= lim) {
          EXPECT_EQ(f.surface->isInBound(v), 1) << v;
        }
      }
    EXPECT_EQ(f.surface->isInBound(ERPoint2D(NAN, 0)), 0);
    EXPECT_EQ(f.surface->isInBound(ERPoint2D(5, 0)), 0);
  }
}

// A circle loop: exact away from the band its chords cut off.
TEST(TrimmedSurface, CurvedLoopsClassifyAwayFromTheChordalBand) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2422);
  ERTrimmedSurface s(plane(ERPmIsometrie3D()));
  const ERArc2D outer(ERCircle2D(ERPoint2D(0.1, -0.2), 1.5), 0, 2 * M_PI);
  const ERArc2D hole(ERCircle2D(ERPoint2D(0.4, 0.3), 0.5), 0, 2 * M_PI);
  ASSERT_EQ(s.addBound(outer, ERSurfaceBoundary::NOT_CLASSIFIED), 1);
  ASSERT_EQ(s.addBound(hole, ERSurfaceBoundary::INNER), 1);
  EXPECT_EQ(s.getOutBnd()->className(), std::string("ERArc2D"));
  for (int i = 0; i < 2000; ++i) {
    const ERPoint2D p(draw.uniform(-2, 2), draw.uniform(-2, 2));
    const double d1 = qorv::distance(p, ERPoint2D(0.1, -0.2)) - 1.5;
    const double d2 = qorv::distance(p, ERPoint2D(0.4, 0.3)) - 0.5;
    if (std::fabs(d1) < 1e-4 || std::fabs(d2) < 1e-4) continue;
    EXPECT_EQ(s.isInBound(p),
              (d1 < 0 && d2 > 0 && std::fabs(p.x()) <= 2 && std::fabs(p.y()) <= 2) ? 1 : 0);
  }
}

TEST(TrimmedSurface, LoopsAreAddedByTheSideRules) {
  ERTrimmedSurface s(plane(ERPmIsometrie3D()));
  // No loop: all the limits, and the region answers "touching".
  EXPECT_EQ(s.isInBound(ERPoint2D(1.9, -1.9)), 1);
  ERMinimax2D window(0, 0, 1, 1);
  EXPECT_EQ((Seq{s.PositionFenetre(window), s.udeb()}), (Seq{ER_MINMAX_POLYGONE_TOUCHING, -2}));
  const Polygon sq = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  const Polygon h1 = {{-0.5, -0.5}, {0, -0.5}, {0, 0}, {-0.5, 0}};
  const Polygon h2 = {{0.2, 0.2}, {0.6, 0.2}, {0.6, 0.6}};
  ASSERT_EQ(s.addBound(loop(h1).get(), ERSurfaceBoundary::INNER), 1);
  EXPECT_EQ(s.isInBound(ERPoint2D(-0.25, -0.25)), 0);  // builds the region
  EXPECT_EQ(s.isInBound(ERPoint2D(1.5, 1.5)), 1);      // no outer loop yet
  ASSERT_EQ(s.addBound(loop(sq).get(), ERSurfaceBoundary::NOT_CLASSIFIED), 1);
  EXPECT_EQ(s.isFirstOuter(), 1);
  EXPECT_EQ(s.getBoundList().first()->getSide(), ERSurfaceBoundary::OUTER);
  EXPECT_EQ(s.isInBound(ERPoint2D(1.5, 1.5)), 0);  // the region was rebuilt
  EXPECT_EQ((Seq{s.udeb(), s.vfin()}), (Seq{-1, 1}));
  // A second outer loop, unclassified or not, an unknown side and a null curve: refused.
  EXPECT_EQ(s.addBound(loop(sq).get(), ERSurfaceBoundary::OUTER), 0);
  EXPECT_EQ(s.addBound(loop(sq).get(), ERSurfaceBoundary::NOT_CLASSIFIED), 0);
  EXPECT_EQ(s.addBound(loop(sq).get(), static_cast<ERSurfaceBoundary::Side>(5)), 0);
  EXPECT_EQ((Seq{s.addBound(nullptr, ERSurfaceBoundary::INNER), s.nbBounds()}), (Seq{0, 2}));
  ASSERT_EQ(s.addBound(*loop(h2), ERSurfaceBoundary::INNER), 1);
  EXPECT_EQ(s.isInBound(ERPoint2D(0.5, 0.3)), 0);
  ASSERT_TRUE(s.getInBnd(0));
  EXPECT_EQ((Seq{s.getInBnd(0)->getBox().xmin(), s.getInBnd(1)->getBox().xmin(),
                 bool(s.getInBnd(2)), bool(s.getInBnd(-1)), s.getOutBnd()->getBox().xmin()}),
            (Seq{-0.5, 0.2, false, false, -1}));
  ERMinimax2D in(0.7, 0.7, 0.9, 0.9), out(1.5, 1.5, 1.8, 1.8);
  EXPECT_EQ(s.PositionFenetre(in), ER_MINMAX_POLYGONE_INSIDE);
  EXPECT_EQ(s.PositionFenetre(out), ER_MINMAX_POLYGONE_OUTSIDE);
  // Splitting is not supported.
  t_SmartPtr<ERAnyBoundedSurface> lo, hi;
  EXPECT_EQ((Seq{s.SplitInU(lo, hi, 0.0), s.SplitInV(lo, hi)}), (Seq{0, 0}));
}

// The nearest point of a planar face with holes, placed by turned, mirrored, far-off frames,
// against the closed form: the foot when it is inside, else the nearest point of the edges.
TEST(TrimmedSurface, NearestPointOfAPlanarFaceWithHoles) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2423);
  for (int k = 0; k < 30; ++k) {
    SCOPED_TRACE(k);
    const ERPmIsometrie3D T = draw.placement(draw.uniform(0, 1e4));
    const Face f = face(draw, plane(T), k % 4 + 1);
    std::vector<Polygon> loops = f.holes;
    loops.push_back(f.outer);
    for (int i = 0; i < 20; ++i) {
      const ERPoint3D local(draw.uniform(-1.5, 1.5), draw.uniform(-1.5, 1.5),
                            draw.uniform(-1, 1) * (i % 3 == 0 ? 1e3 : 1));
      const ERPoint3D p = T >> local;
      const ERPoint2D foot(local.x(), local.y());
      double best;
      ERPoint2D at = foot;
      if (insideFace(f, foot)) {
        best = std::fabs(local.z());
      } else {
        best = HUGE_VAL;
        for (const Polygon& l : loops)
          for (size_t a = 0; a < l.size(); ++a) {
            const ERPoint2D& A = l[a];
            const ERPoint2D& B = l[(a + 1) % l.size()];
            const ERVector2D ab = B - A;
            const double t = std::clamp(((foot - A) * ab) / (ab * ab), 0.0, 1.0);
            const double e = qorv::distance(foot, A + ab * t);
            if (std::hypot(e, local.z()) < best) best = std::hypot(e, local.z()), at = A + ab * t;
          }
      }
      ERPoint2D uv;
      const double d = f.surface->nearest(p, uv);
      const double tol = 1e-12 * (1e4 + std::fabs(local.z())) * 10;
      EXPECT_NEAR(d, best, tol) << uv << " " << at << " " << local;
      EXPECT_NEAR(qorv::distance(f.surface->project_inbound(p), p), best, tol);
      double sd = 0;
      const auto kind = f.surface->SignedMinimalDistance(p, sd);
      EXPECT_NEAR(std::fabs(sd), best, tol);
      if (insideFace(f, foot) && std::fabs(local.z()) > 1e-6) {
        EXPECT_EQ((Seq{kind, f.surface->isInBound(uv)}), (Seq{EREntity::DISTMIN_NORMAL, 1}));
      }
    }
  }
}

// A bicubic patch trimmed by a star with holes: no sample of the face (a dense grid and the
// loops, lifted) is nearer than the answer.
TEST(TrimmedSurface, NearestPointOfACurvedFaceAgainstDenseSampling) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2424);
  for (int k = 0; k < 12; ++k) {
    SCOPED_TRACE(k);
    const double s = draw.magnitude(-290, 290);
    const ERPmIsometrie3D T = draw.placement(draw.uniform(0, 100) * s);
    QuickAlgebra::ERMatrix<ERPoint3D> poles(4, 4);
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 4; ++i)
        poles[j * 4 + i] = T >> ERPoint3D((i - 1.5) * s, (j - 1.5) * s, draw.uniform(-1, 1) * s);
    const ERSpoleBezier3D patch(poles, ERLimites(-1.5, 1.5), ERLimites(-1.5, 1.5));
    // One time in three a cylinder (u its height, v its angle in [-pi/2, pi/2]).
    const ERBoundedCylinder cylinder(T, 1.5, s, -M_PI / 2, M_PI / 2);
    const ERAnyBoundedSurface& base =
        k % 3 == 2 ? static_cast<const ERAnyBoundedSurface&>(cylinder) : patch;
    const Face f = face(draw, base, k % 3 + 1);
    for (int i = 0; i < 6; ++i) {
      const ERPoint3D p = base(draw.uniform(-1.5, 1.5), draw.uniform(-1.5, 1.5)) +
                          draw.direction() * (s * draw.uniform(0, 2));
      ERPoint2D uv;
      const double d = f.surface->nearest(p, uv);
      EXPECT_NEAR(qorv::distance(base(uv.x(), uv.y()), p), d, 1e-12 * s * 100);
      double sampled = HUGE_VAL;
      ERPoint2D at;
      constexpr int N = 300;
      for (int a = 0; a <= N; ++a)
        for (int b = 0; b <= N; ++b) {
          const ERPoint2D q(-1.5 + 3.0 * a / N, -1.5 + 3.0 * b / N);
          if (insideFace(f, q) && qorv::distance(base(q.x(), q.y()), p) < sampled)
            sampled = qorv::distance(base(q.x(), q.y()), p), at = q;
        }
      // The loops' points that bound the face: a hole may stick out of a small outer loop.
      std::vector<const Polygon*> loops = {&f.outer};
      for (const Polygon& h : f.holes) loops.push_back(&h);
      for (const Polygon* l : loops)
        for (size_t e = 0; e < l->size(); ++e)
          for (int a = 0; a < 100; ++a) {
            const ERPoint2D& A = (*l)[e];
            const ERPoint2D& B = (*l)[(e + 1) % l->size()];
            const ERPoint2D q = A + (B - A) * (a / 100.0);
            bool bounds = l == loops[0] || insidePolygon(q, f.outer);
            for (const Polygon& h : f.holes) bounds = bounds && (&h == l || !insidePolygon(q, h));
            if (bounds && qorv::distance(base(q.x(), q.y()), p) < sampled)
              sampled = qorv::distance(base(q.x(), q.y()), p), at = q;
          }
      EXPECT_LE(d, sampled + 1e-12 * s * 100) << uv << " " << at;
    }
  }
}

// Faces on every base kind moved by mirrors, scales (negative too) and far-off similitudes: the
// loops follow the base. The moved face holds the image of every point of the face, its nearest
// distance from an image point is |k| times the face's own from the point, and its projection
// with the inside test answers as the face's own.
TEST(TrimmedSurface, LoopsFollowTheBaseThroughMirrorsAndScales) {
  QORV_SEEDED(qorv_test::BoundedDraw draw, 2430);
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    // Offset faces past about 1e150 lose their own nearest point, moved or not: kept below.
    const double s = draw.magnitude(-9, i % 8 == 7 ? 120 : 200);
    std::unique_ptr<ERAnyBoundedSurface> base;
    if (i % 8 < 5) {
      base = draw.surface(static_cast<qorv_test::Kind>(i % 8), s, s);
    } else if (i % 8 == 6) {  // a cone of revolution from a segment
      const ERPmIsometrie3D T = draw.placement(s);
      const t_SmartPtr<ERFiniteEntity3DWF> g(
          new ERSegment3D(T >> ERPoint3D(s, 0, 0), T >> ERPoint3D(2 * s, 0, s)));
      base = std::make_unique<ERSurOfRevolution>(
          g, ERInfLine3D(T >> ERVector3D(0, 0, 1), T >> ERPoint3D()), draw.angles(5));
    } else if (i % 8 == 7) {  // offset from a cylinder
      base = std::make_unique<EROffsetSurface>(*draw.surface(qorv_test::Kind::Cylinder, s, s),
                                               0.1 * s, draw.direction());
    } else {
      const ERPmIsometrie3D T = draw.placement(s);
      QuickAlgebra::ERMatrix<ERPoint3D> poles(4, 4);
      for (int j = 0; j < 16; ++j)
        poles[j] = T >> ERPoint3D((j % 4 - 1.5) * s, (j / 4 - 1.5) * s, draw.uniform(-1, 1) * s);
      base = std::make_unique<ERSpoleBezier3D>(poles, ERLimites(-1, 1), ERLimites(0, 2));
    }
    const ERLimites U = base->getBoundU(), V = base->getBoundV();
    auto at = [&](double a, double b) { return ERPoint2D(U(a), V(b)); };
    // A star about the middle of the limits (its edges 0.25 from the middle, in units of the
    // limits) round a circular hole (at most 0.1).
    Polygon outer = star(draw, ERPoint2D(0.5, 0.5), 0.45, draw.integer(8, 20), 0.75);
    for (ERPoint2D& q : outer) q = at(q.x(), q.y());
    ERTrimmedSurface face(*base);
    ASSERT_EQ(face.addBound(*loop(outer), ERSurfaceBoundary::OUTER), 1);
    const double r = 0.1 * std::min(U.amplitude(), V.amplitude());
    ASSERT_EQ(face.addBound(ERArc2D(at(0.5, 0.5), r, 0, 2 * M_PI), ERSurfaceBoundary::INNER), 1);
    auto moved = std::make_unique<ERTrimmedSurface>(face);
    const double f = (draw.integer(0, 1) ? -1 : 1) * draw.uniform(0.5, 4);
    const ERPmSimilitude3D sim =
        ERPmSimilitude3D(draw.frame(s * 100)) * ERPmSimilitude3D(_ERScaling3D(f));
    const int what = draw.integer(0, 2);
    std::function<ERPoint3D(const ERPoint3D&)> map;
    if (what == 0) moved->transformFrom(sim), map = [&](const ERPoint3D& q) { return sim >> q; };
    if (what == 1) moved->transformTo(sim), map = [&](const ERPoint3D& q) { return sim << q; };
    if (what == 2) moved->scale(f), map = [&](const ERPoint3D& q) { return ERPoint3D(q * f); };
    const double k = what == 1 ? 1 / std::fabs(f) : std::fabs(f);
    const ERMinimax3D box = base->getBox();
    const double size = std::max({box.xlength(), box.ylength(), box.zlength()});
    for (int j = 0; j < 4; ++j) {
      const double t = draw.uniform(0, 2 * M_PI), rho = draw.uniform(0.15, 0.24);
      const ERPoint2D uv = at(0.5 + rho * std::cos(t), 0.5 + rho * std::sin(t));
      const ERPoint3D X = (*base)(uv.x(), uv.y());
      const double tol = 1e-9 * std::max(qorv_test::maxAbs(map(X)), size * k);
      ERPoint2D w, w0;
      EXPECT_LE(moved->nearest(map(X), w), tol) << what;
      EXPECT_EQ(moved->isInBound(w), 1) << what;
      // Where both bases find the foot, the inside tests agree.
      if (moved->ProjectionNormale(map(X), 0, w, 0) && face.ProjectionNormale(X, 0, w0, 0)) {
        EXPECT_EQ(moved->ProjectionNormale(map(X), 0, w, 1), face.ProjectionNormale(X, 0, w0, 1));
      }
      const ERPoint3D P = (*base)(U(draw.uniform(-0.2, 1.2)), V(draw.uniform(-0.2, 1.2))) +
                          draw.direction() * (size * draw.uniform(0, 1));
      EXPECT_NEAR(moved->nearest(map(P), w), k * face.nearest(P, w0),
                  1e-8 * std::max(qorv_test::maxAbs(map(P)), size * k))
          << what;
    }
  }
}

class Collect : public gmProcessMesh {
 public:
  Collect() : gmProcessMesh(1e-3) {}
  void on_add_polyline(const QuickAlgebra::ERVec<ERPoint3D>& p) override { lines.push_back(p); }
  std::vector<QuickAlgebra::ERVec<ERPoint3D>> lines;
};

TEST(TrimmedSurface, WireframesAreCutByTheRegion) {
  ERTrimmedSurface s(plane(ERPmIsometrie3D()));
  const Polygon sq = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  const Polygon hole = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
  s.addBound(loop(sq).get(), ERSurfaceBoundary::OUTER);
  s.addBound(loop(hole).get(), ERSurfaceBoundary::INNER);
  Collect mesh;
  EXPECT_EQ(s.extract_wireframe(0.1, gmMeshDirU, 0, mesh), 2);  // through the hole
  EXPECT_EQ(s.extract_wireframe(0.8, gmMeshDirV, 0, mesh), 1);
  EXPECT_EQ(s.extract_wireframe(3.0, gmMeshDirV, 0, mesh), 0);  // beyond the limits
  ASSERT_EQ(mesh.lines.size(), 3u);
  for (const auto& l : mesh.lines)
    for (int i = 0; i < l.length(); ++i) EXPECT_EQ(s.isInBound(ERPoint2D(l[i].x(), l[i].y())), 1);
  mesh.lines.clear();
  s.extract_wireframe(mesh);
  // u_density 2: three iso-lines each way, the middle ones cut in two by the hole.
  EXPECT_EQ(mesh.lines.size(), 8u);
}

TEST(TrimmedSurface, BoundaryImageStatusAndPrintForm) {
  const Polygon tri = {{0, 0}, {1, 0}, {0, 1}};
  t_SmartPtr<ERFiniteEntity2DWF> c = loop(tri);
  ERSurfaceBoundary b(c.get(), ERSurfaceBoundary::INNER);
  EXPECT_EQ((Seq{b.getStatus(), b.isClose()}), (Seq{20, 1}));
  qorv_test::Bytes expect;
  for (int v : {0, 0, -1, 0, 0}) qorv_test::appendInt(expect, v);
  const qorv_test::Bytes zeros = qorv_test::doubles({0, 0});
  expect.insert(expect.end(), zeros.begin(), zeros.end());
  for (int v : {0, 0, 1, 20}) qorv_test::appendInt(expect, v);
  EXPECT_EQ((Seq{imageOf(b), b.binaryStoreSize()}), (Seq{expect, expect.size()}));
  EXPECT_EQ(printed(b),
            "Surface Boundary : \nA Pointer to a ERFiniteEntity2DWF( ERCpoleNURBS2D ) "
            "with 2 references\n" +
                printed(*c) + "\n");
  EXPECT_EQ(printed(ERSurfaceBoundary()),
            "Surface Boundary : \nA Pointer to a ERFiniteEntity2DWF (NULL) \n\n");
  // The polyline of a polygon is its vertices; the 3D one their images.
  ERBoundedPlane pl = plane(ERChgRepere3D(ERVector3D(0, 0, 1), ERPoint3D(0, 0, 5)));
  b.setBaseSurface(&pl);
  EXPECT_EQ(b.getBound2DasPolyline(-1).length(), 4);
  EXPECT_EQ((Seq{b.smash(-1).length(), b.smash(-1)[1].z()}), (Seq{4, 5}));

  // An open curve: flagged when built, refused by setBoundary.
  const Polygon open = {{0, 0}, {1, 0}, {1, 1}};
  QuickAlgebra::ERVec<ERPole2DH> poles(3);
  for (int i = 0; i < 3; ++i) poles[i] = ERPole2DH(open[i], 1.0);
  const ERCpoleNURBS2D path(poles, ERKnotVector(1, 3, ERLimites(0, 1)));
  const ERSurfaceBoundary flagged(path, ERSurfaceBoundary::INNER);
  EXPECT_EQ((Seq{flagged.getStatus() & 1, flagged.isClose(), b.setBoundary(path)}), (Seq{1, 0, 0}));
  EXPECT_EQ(b.getBound2D().get(), c.get());
  EXPECT_EQ(b.setBoundary(nullptr), 0);
}

TEST(TrimmedSurface, DataBaseRoundTripRestoresBaseAndBackPointers) {
  qorv_test::BoundedDraw draw(2425);
  const ERPmIsometrie3D T = draw.placement(100);
  Face f = face(draw, plane(T), 3);
  const ERTrimmedSurface& s = *f.surface;
  const std::string text = printed(s);
  ERTrimmedSurface stored(s);
  const qorv_test::DataBaseRoundTrip trip(std::vector<ERObject*>{&stored});
  t_SmartPtr<ERObject> back = trip.back(0);
  const ERTrimmedSurface* b = ERTrimmedSurface::castdown(back.get());
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->getBaseSurface());
  EXPECT_EQ(b->nbBounds(), 4);
  for (const t_SmartPtr<ERSurfaceBoundary>& bnd : b->getBoundList()) {
    ASSERT_TRUE(bnd);
    EXPECT_EQ(bnd->getBaseSurface(), b->getBaseSurface().get());
  }
  EXPECT_EQ((Seq{printed(*b), imageOf(*b).size()}), (Seq{text, b->binaryStoreSize()}));
  for (int i = 0; i < 300; ++i) {
    const ERPoint2D p(draw.uniform(-1.2, 1.2), draw.uniform(-1.2, 1.2));
    EXPECT_EQ(b->isInBound(p), s.isInBound(p));
  }
}

TEST(TrimmedSurface, BadInputGetsTheDocumentedAnswers) {
  const ERTrimmedSurface none;
  ERPoint2D uv(3, 4);
  EXPECT_EQ(
      (Seq{none.isInBound(ERPoint2D(0, 0)), std::isnan(none.nearest(ERPoint3D(), uv)), uv.x()}),
      (Seq{0, true, 3}));
  double d = 0;
  EXPECT_EQ(none.SignedMinimalDistance(ERPoint3D(), d), EREntity::DISTMIN_NONE);
  EXPECT_EQ(none.ProjectionNormale(ERPoint3D(), 0, uv, 1), 0);
  EXPECT_EQ(imageOf(none).size(), none.binaryStoreSize());

  // Loops under three points and a self-crossing one: even-odd, no crash.
  ERTrimmedSurface s(plane(ERPmIsometrie3D()));
  const Polygon bow = {{-1, -1}, {1, 1}, {1, -1}, {-1, 1}};
  ASSERT_EQ(s.addBound(loop(bow).get(), ERSurfaceBoundary::OUTER), 1);
  ASSERT_EQ(s.addBound(loop({{0.5, 0}, {0.6, 0}}).get(), ERSurfaceBoundary::INNER), 1);
  ASSERT_EQ(s.addBound(loop({{0.2, 0.2}}).get(), ERSurfaceBoundary::INNER), 1);
  EXPECT_EQ((Seq{s.isInBound(ERPoint2D(0.8, 0.1)), s.isInBound(ERPoint2D(0, 0.8))}), (Seq{1, 0}));
  EXPECT_EQ((Seq{std::isfinite(s.nearest(ERPoint3D(0.3, 0.7, 1), uv)), s.isInBound(uv),
                 std::isnan(s.nearest(ERPoint3D(NAN, 0, 0), uv))}),
            (Seq{true, 1, true}));

  // Projections filtered by the region when asked.
  ERTrimmedSurface hole(plane(ERPmIsometrie3D()));
  hole.addBound(loop({{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}}).get(),
                ERSurfaceBoundary::INNER);
  EXPECT_EQ(hole.ProjectionNormale(ERPoint3D(0.1, 0.1, 1), 0, uv, 0), 1);
  EXPECT_EQ(hole.ProjectionNormale(ERPoint3D(0.1, 0.1, 1), 0, uv, 1), 0);
  EXPECT_EQ(hole.ProjectionNormale(ERPoint3D(1.1, 0.1, 1), 0, uv, 1), 1);

  // A damaged flag leaves the surface as it was (short records: SurfaceImages below).
  ERTrimmedSurface into(plane(ERPmIsometrie3D()));
  const std::string before = printed(into);
  qorv_test::Bytes image = imageOf(hole);
  image[0] = 9;
  qorv_test::restoreFrom(into, image);
  EXPECT_EQ(printed(into), before);
}

// The planar face built from a frame and its outer loop: S(u, v) = T >> (u, v, 0) over the
// loop's box grown by 1, the loop (shared) its outer boundary.
TEST(TrimmedSurface, PlanarFaceFromAFrameAndItsOuterLoop) {
  qorv_test::BoundedDraw draw(2426);
  for (int k = 0; k < 10; ++k) {
    const ERPmIsometrie3D T = draw.placement(1e3);
    t_SmartPtr<ERFiniteEntity2DWF> outer = loop({{2, 3}, {5, 3}, {5, 7}, {2, 7}});
    const ERTrimmedSurface s(T, outer.get());
    ASSERT_TRUE(s.getBaseSurface());
    EXPECT_EQ(s.getOutBnd().get(), outer.get());
    EXPECT_EQ((Seq{s.getBaseSurface()->udeb(), s.getBaseSurface()->vfin(), s.udeb()}),
              (Seq{1, 8, 2}));
    EXPECT_EQ(s.vfin(), 7);
    for (int i = 0; i < 10; ++i) {
      const double u = draw.uniform(1, 6), v = draw.uniform(2, 8);
      EXPECT_LE(qorv::distance(s(u, v), T >> ERPoint3D(u, v, 0)), 1e-12 * 1e4);
      EXPECT_EQ(s.isInBound(ERPoint2D(u, v)), u >= 2 && u <= 5 && v >= 3 && v <= 7 ? 1 : 0);
    }
  }
}

TEST(TrimmedSurface, StoredImageAndPrintForm) {
  // Without a base or loops: the flag, first-is-outer, the empty box, no loops.
  const ERTrimmedSurface none;
  qorv_test::Bytes expect;
  qorv_test::appendInt(expect, 1), qorv_test::appendInt(expect, 0);
  const qorv_test::Bytes box = qorv_test::doubles({DBL_MAX, DBL_MAX, -DBL_MAX, -DBL_MAX});
  expect.insert(expect.end(), box.begin(), box.end());
  qorv_test::appendInt(expect, 0);
  EXPECT_EQ((Seq{imageOf(none), none.binaryStoreSize()}), (Seq{expect, expect.size()}));
  EXPECT_EQ(printed(none), "TRIMMED SURFACE :  \n    No Base Surface \n Boundary box   : " +
                               printed(ERMinimax2D()) +
                               "\n 1st is Outer   : 0\n The Boundaries : \n");

  ERTrimmedSurface s(plane(ERPmIsometrie3D()));
  s.addBound(loop({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}).get(), ERSurfaceBoundary::OUTER);
  s.addBound(loop({{0, 0}, {0.5, 0}, {0, 0.5}}).get(), ERSurfaceBoundary::INNER);
  std::string loops;
  for (const t_SmartPtr<ERSurfaceBoundary>& b : s.getBoundList()) loops += printed(*b);
  EXPECT_EQ(printed(s), "TRIMMED SURFACE :  \n Base Surface " + printed(*s.getBaseSurface()) +
                            "\n Boundary box   : " + printed(s.boundaryBox()) +
                            "\n 1st is Outer   : 1\n" + " The Boundaries : \n" + loops);
  // Outside a database the base and the loops are written as identifier -1.
  qorv_test::Bytes image = imageOf(s);
  ASSERT_EQ(image.size(), s.binaryStoreSize());
  qorv_test::Bytes head;
  qorv_test::appendInt(head, 0), qorv_test::appendInt(head, -1), qorv_test::appendInt(head, 1);
  const qorv_test::Bytes sb = qorv_test::doubles({-1, -1, 1, 1});
  head.insert(head.end(), sb.begin(), sb.end());
  for (int v : {2, 0, -1, 0, -1}) qorv_test::appendInt(head, v);
  EXPECT_EQ(image, head);
}

// Every truncation of the stored images, and random damage to them, read into live objects:
// nothing crashes, and a truncated record leaves the object as it was.
TEST(SurfaceImages, TruncatedAndDamagedRecordsAreRefused) {
  QORV_SEEDED(qorv_test::Draw draw, 2427);
  ERTrimmedSurface face(plane(ERPmIsometrie3D()));
  face.addBound(loop({{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}).get(), ERSurfaceBoundary::OUTER);
  face.addBound(loop({{0, 0}, {0.5, 0}, {0, 0.5}}).get(), ERSurfaceBoundary::INNER);
  QuickAlgebra::ERVec<ERPole3DH> poles(3);
  for (int i = 0; i < 3; ++i) poles[i] = ERPole3DH(ERPoint3D(1 + i, 0, i), 1.0);
  const ERSurOfRevolution rev(t_SmartPtr<ERFiniteEntity3DWF>(new ERCpoleNURBS3D(poles)),
                              ERInfLine3D(), ERLimites(0, 3));
  const EROffsetSurface off(plane(ERPmIsometrie3D()), 0.5, ERVector3D(0, 0, 1));
  ERSurfaceBoundary bnd(*loop({{0, 0}, {1, 0}, {0, 1}}), ERSurfaceBoundary::INNER);
  bnd.getBound2DasPolyline(-1);
  std::vector<std::pair<const ERObject*, std::unique_ptr<ERObject>>> cases;
  cases.emplace_back(&face, std::make_unique<ERTrimmedSurface>(face));
  cases.emplace_back(&rev, std::make_unique<ERSurOfRevolution>(rev));
  cases.emplace_back(&off, std::make_unique<EROffsetSurface>(off));
  cases.emplace_back(&bnd, std::make_unique<ERSurfaceBoundary>(bnd));
  for (auto& [original, into] : cases) {
    SCOPED_TRACE(original->className());
    const qorv_test::Bytes image = imageOf(*original);
    const std::string before = printed(*into);
    for (size_t cut = 0; cut < image.size(); ++cut) {
      qorv_test::restoreFrom(*into, qorv_test::Bytes(image.begin(), image.begin() + cut));
      ASSERT_EQ(printed(*into), before) << cut;
    }
    for (int i = 0; i < 200; ++i) {
      qorv_test::Bytes bad = image;
      for (int k = 0; k < 3; ++k)
        bad[draw.integer(0, static_cast<int>(bad.size()) - 1)] =
            static_cast<unsigned char>(draw.integer(0, 255));
      qorv_test::restoreFrom(*into, bad);
      (void)printed(*into);
      // Whatever was read is used without harm.
      if (auto* sf = dynamic_cast<ERAnyBoundedSurface*>(into.get())) {
        (void)(*sf)(0.5, 0.5);
        (void)sf->getBox();
        ERRaySurfaceResult res;
        sf->ProjectPoint(ERPoint3D(0.2, 0.1, 3), res, 1);
      }
      if (auto* t = dynamic_cast<ERTrimmedSurface*>(into.get())) {
        ERPoint2D uv;
        (void)t->isInBound(ERPoint2D(0.1, 0.2));
        (void)t->nearest(ERPoint3D(0.3, 0.2, 1), uv);
      }
      if (auto* r = dynamic_cast<ERSurOfRevolution*>(into.get())) {
        ERPoint2D uv;
        (void)r->nearest(ERPoint3D(0.3, 0.2, 1), uv);
        (void)r->ConvertToNurbs();
      }
    }
  }
}

}  // namespace
