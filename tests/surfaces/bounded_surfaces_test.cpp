#include "qorv/surfaces/bounded_surfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qorv/foundation/transfo3d_kinds.h"
#include "tests/in_order.h"
#include "tests/object_images.h"
#include "tests/surfaces/bounded_draws.h"
#include "tests/test_seed.h"

using namespace qorv;
using qorv_test::BoundedDraw, qorv_test::doubles, qorv_test::imageOf, qorv_test::Kind;
using qorv_test::maxAbs, qorv_test::printed, qorv_test::restoreFrom;

namespace {

constexpr Kind kKinds[] = {Kind::Plane, Kind::Cylinder, Kind::Cone, Kind::Sphere, Kind::Torus};
constexpr Kind kCurved[] = {Kind::Cylinder, Kind::Cone, Kind::Sphere, Kind::Torus};

bool angularU(Kind k) { return k == Kind::Sphere || k == Kind::Torus; }
bool angularV(Kind k) { return k != Kind::Plane; }

// The canonical local point of each class, written out here independently of the library.
ERPoint3D canonical(const ERBoundedSurface& s, Kind k, double u, double v) {
  switch (k) {
    case Kind::Plane:
      return ERPoint3D(u, v, 0);
    case Kind::Cylinder: {
      const double R = static_cast<const ERBoundedCylinder&>(s).radius();
      return ERPoint3D(R * std::cos(v), R * std::sin(v), u);
    }
    case Kind::Cone: {
      const double t = std::tan(static_cast<const ERBoundedCone&>(s).demiAngle());
      return ERPoint3D(u * t * std::cos(v), u * t * std::sin(v), u);
    }
    case Kind::Sphere: {
      const double R = static_cast<const ERBoundedSphere&>(s).radius();
      return ERPoint3D(R * std::cos(v) * std::cos(u), R * std::cos(v) * std::sin(u),
                       R * std::sin(v));
    }
    case Kind::Torus: {
      const auto& t = static_cast<const ERBoundedTorus&>(s);
      const double w = t.radius() + t.small_radius() * std::cos(v);
      return ERPoint3D(w * std::cos(u), w * std::sin(u), t.small_radius() * std::sin(v));
    }
  }
  return ERPoint3D();
}

const ERPmIsometrie3D& placementOf(const ERBoundedSurface& s) {
  return dynamic_cast<const ERSurfaceBasedOnTransfo3D&>(s).getMatrix();
}

ERPoint3D elem(const ERInfoPoint3DSurf& info, int i, int j) {
  return info.derivatives()[j * 3 + i];
}

// Lengths and directions that hold up to 1e300: the vector scaled by its largest component
// before it is squared.
double rnorm(const ERVector3D& v) {
  const double m = maxAbs(ERPoint3D(v));
  return m > 0 && std::isfinite(m) ? m * (v * (1 / m)).norme() : m;
}
double rdist(const ERPoint3D& a, const ERPoint3D& b) { return rnorm(a - b); }
ERVector3D unit(const ERVector3D& v) {
  const double n = rnorm(v);
  return n > 0 ? v * (1 / n) : v;
}

// The size of the surface, the scale of its tolerances.
double sizeOf(const ERBoundedSurface& s) {
  const ERMinimax3D b = s.getBox();
  return std::max({b.xlength(), b.ylength(), b.zlength()});
}

// Newton on |S - P|^2 from (u, v) with the surface's own derivatives, every vector over the
// size so that no product overflows; keep() holds the parameters where the caller wants them.
template <class Keep>
ERPoint2D newtonFoot(const ERBoundedSurface& s, const ERPoint3D& p, double u, double v, int steps,
                     const Keep& keep) {
  const double q = 1 / sizeOf(s);
  for (int it = 0; it < steps; ++it) {
    const ERInfoPoint3DSurf e = s.PtCur(u, v);
    const ERVector3D w = (e.point() - p) * q;
    const ERVector3D su = ERVector3D(elem(e, 1, 0)) * q, sv = ERVector3D(elem(e, 0, 1)) * q;
    const double a = su * su + w * (ERVector3D(elem(e, 2, 0)) * q),
                 b = su * sv + w * (ERVector3D(elem(e, 1, 1)) * q),
                 d = sv * sv + w * (ERVector3D(elem(e, 0, 2)) * q);
    const double det = a * d - b * b, g1 = w * su, g2 = w * sv;
    if (!(std::fabs(det) > 0)) break;
    u -= (d * g1 - b * g2) / det, v -= (a * g2 - b * g1) / det;
    keep(u, v);
  }
  return ERPoint2D(u, v);
}

// The nearest point of the unbounded surface, independently: a grid over one period of each
// angle (and a wide range of a linear parameter), its best points refined by Newton on
// |S - P|^2 with the surface's own derivatives.
struct Nearest {
  ERPoint2D uv;
  double dist, second;  // the best, and the best at least a tenth of the period away
};
Nearest nearestBySampling(const ERBoundedSurface& s, Kind k, const ERPoint3D& p) {
  const ERPmIsometrie3D& T = placementOf(s);
  const ERPoint3D l = T << p;
  const double reach = maxAbs(l) + sizeOf(s);
  double ua = 0, ub = 2 * M_PI, va = 0, vb = 2 * M_PI;
  if (!angularU(k)) ua = (k == Kind::Plane ? l.x() : l.z()) - 2 * reach, ub = ua + 4 * reach;
  if (k == Kind::Cone) ua = -2 * reach, ub = 2 * reach;
  if (k == Kind::Plane) va = l.y() - 2 * reach, vb = va + 4 * reach;
  if (k == Kind::Sphere) va = -M_PI / 2, vb = M_PI / 2;
  const int n = 36;
  Nearest best{ERPoint2D(), INFINITY, INFINITY};
  struct Cand {
    double u, v, d;
  };
  std::vector<Cand> cands;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const double u = ua + (ub - ua) * i / n, v = va + (vb - va) * j / n;
      cands.push_back({u, v, rdist(s(u, v), p)});
    }
  std::partial_sort(cands.begin(), cands.begin() + 6, cands.end(),
                    [](const Cand& a, const Cand& b) { return a.d < b.d; });
  std::vector<Cand> refined;
  for (int c = 0; c < 6; ++c) {
    const ERPoint2D f = newtonFoot(s, p, cands[c].u, cands[c].v, 40, [k](double&, double& v) {
      if (k == Kind::Sphere) v = std::clamp(v, -M_PI / 2, M_PI / 2);
    });
    refined.push_back({f.x(), f.y(), rdist(s(f.x(), f.y()), p)});
  }
  for (const Cand& c : refined)
    if (c.d < best.dist) best.uv = ERPoint2D(c.u, c.v), best.dist = c.d;
  for (const Cand& c : refined)
    if (rdist(s(c.u, c.v), s(best.uv.x(), best.uv.y())) > 1e-3 * sizeOf(s))
      best.second = std::min(best.second, c.d);
  return best;
}

// ---------------------------------------------------------------------------------------------
// The box holds every sampled point; the iso-curves are the surface at their parameter; split
// pieces cover the limits; the length bounds hold.
void checkDerivedCurvesBoxesAndPieces(BoundedDraw& draw, Kind k, double s, ERBoundedSurface* surf) {
  const ERMinimax3D box = surf->getBox();
  const double tol = 1e-12 * std::max(maxAbs(placementOf(*surf).origine()), sizeOf(*surf));
  double lenU = 0, lenV = 0;
  std::vector<ERPoint3D> outside;
  // The box is tight too: each face comes within a small part of the size of a sampled
  // point (the grid misses an extreme by at most 1 - cos of half its step).
  double gap[6] = {INFINITY, INFINITY, INFINITY, INFINITY, INFINITY, INFINITY};
  const int n = 24;
  for (int a = 0; a <= n; ++a)
    for (int b = 0; b <= n; ++b) {
      const double u = surf->getBoundU()(a / double(n)), v = surf->getBoundV()(b / double(n));
      const ERPoint3D q = (*surf)(u, v);
      for (int c = 0; c < 3; ++c) {
        if (!(box.data()[c] <= q.data()[c] && q.data()[c] <= box.data()[c + 3]))
          outside.push_back(q);
        gap[c] = std::min(gap[c], q.data()[c] - box.data()[c]);
        gap[c + 3] = std::min(gap[c + 3], box.data()[c + 3] - q.data()[c]);
      }
      if (a < n) lenU = std::max(lenU, distance(q, (*surf)(surf->getBoundU()((a + 1.0) / n), v)));
      if (b < n) lenV = std::max(lenV, distance(q, (*surf)(u, surf->getBoundV()((b + 1.0) / n))));
    }
  EXPECT_TRUE(outside.empty()) << outside.size() << " outside, the first " << outside[0] << "\n"
                               << box.MinPoint() << box.MaxPoint() << "\n"
                               << printed(*surf);
  for (int c = 0; c < 6; ++c) EXPECT_LE(gap[c], 0.02 * sizeOf(*surf) + tol) << "face " << c;
  EXPECT_GE(surf->upperEstimateInU() * (1 + 1e-12), lenU * n * 0.999);
  EXPECT_GE(surf->upperEstimateInV() * (1 + 1e-12), lenV * n * 0.999);
  // Iso-curves at the surface's parameter (segments from the lower to the upper limit).
  const double u = surf->getBoundU()(draw.uniform(0, 1)), v = surf->getBoundV()(draw.uniform(0, 1));
  const t_SmartPtr<ERFiniteEntity3DWF> isoU = surf->getEntityIsoU(u);
  const t_SmartPtr<ERFiniteEntity3DWF> isoV = surf->getEntityIsoV(v);
  // Arcs whose frame the transformations cannot hold (offsets below 1e-11) are null.
  if (s > 1e-6) {
    ASSERT_TRUE(isoU && isoV);
  }
  const double tv = angularV(k) ? v : surf->getBoundV().ratio(v);
  const double tu = angularU(k) ? u : surf->getBoundU().ratio(u);
  if (isoU) {
    EXPECT_LE(distance((*isoU)(tv), (*surf)(u, v)), tol);
  }
  if (isoV) {
    EXPECT_LE(distance((*isoV)(tu), (*surf)(u, v)), tol);
  }
  const QuickAlgebra::ERMatrix<ERPoint3D>& grid = surf->getMatricePoint(3, 2);
  EXPECT_LE(distance(grid[5], (*surf)(surf->ufin(), surf->vfin())), tol);
  // Pieces: the limits cut at the value, same points; nothing outside the limits.
  t_SmartPtr<ERAnyBoundedSurface> lo, hi;
  ASSERT_EQ(surf->SplitInU(lo, hi, u), 1);
  EXPECT_EQ((Seq{lo->getBoundU(), hi->getBoundU(), hi->getBoundV(),
                 distance((*lo)(u, v), (*surf)(u, v))}),
            (Seq{ERLimites(surf->udeb(), u), ERLimites(u, surf->ufin()), surf->getBoundV(), 0}));
  ASSERT_EQ(surf->SplitInV(lo, hi), 1);
  EXPECT_EQ(lo->vfin(), hi->vdeb());
  EXPECT_EQ(surf->SplitInU(lo, hi, surf->ufin() + 1 + std::fabs(surf->ufin())), 0);
  EXPECT_EQ(surf->SplitInV(lo, hi, std::nan("")), 0);
}

// The formulas and differences, then the derived curves, boxes and pieces on each draw.
TEST(BoundedSurfaces, EvaluationAgainstTheFormulasAndDifferences) {
  QORV_SEEDED(BoundedDraw draw, 2001);
  for (Kind k : kKinds)
    for (int i = 0; i < 150; ++i) {
      SCOPED_TRACE(std::string(qorv_test::nameOf(k)) + " draw " + std::to_string(i));
      const double s = draw.magnitude(-290, 290);
      const auto surf = draw.surface(k, s, s * (i % 3 == 0 ? 1e3 : 1));
      const ERPmIsometrie3D& T = placementOf(*surf);
      const double u = surf->getBoundU()(draw.uniform(-0.2, 1.2));
      const double v = surf->getBoundV()(draw.uniform(-0.2, 1.2));
      const ERInfoPoint3DSurf e = surf->PtCur(u, v);
      EXPECT_EQ(e.parameter(), ERPoint2D(u, v));
      const double scale = std::max(maxAbs(T.origine()), s);
      EXPECT_LE(distance(e.point(), T >> canonical(*surf, k, u, v)), 1e-13 * scale);
      EXPECT_EQ(distance((*surf)(u, v), e.point()), 0);
      // Each element against the central difference of the one below it.
      const double hu = 1e-5 * (angularU(k) ? 1 : s), hv = 1e-5 * (angularV(k) ? 1 : s);
      for (int i2 = 0; i2 < 3; ++i2)
        for (int j = 0; j < 3; ++j) {
          if (i2 + j == 0) continue;
          const bool alongU = i2 > 0;
          const int pi = alongU ? i2 - 1 : i2, pj = alongU ? j : j - 1;
          const double h = alongU ? hu : hv;
          const ERInfoPoint3DSurf a = alongU ? surf->PtCur(u + h, v) : surf->PtCur(u, v + h);
          const ERInfoPoint3DSurf b = alongU ? surf->PtCur(u - h, v) : surf->PtCur(u, v - h);
          const ERVector3D fd = (elem(a, pi, pj) - elem(b, pi, pj)) * (0.5 / h);
          const double unit = std::pow(angularU(k) ? 1 : s, i2) * std::pow(angularV(k) ? 1 : s, j);
          EXPECT_LE((fd - ERVector3D(elem(e, i2, j))).norme(), 1e-6 * s / unit)
              << "element (" << i2 << ", " << j << ")";
        }
      checkDerivedCurvesBoxesAndPieces(draw, k, s, surf.get());
    }
}

// Random points near and far from random surfaces: the parameters written give back a foot
// that is the nearest point of the unbounded surface (no sampled and refined point nearer), the
// angles lie in their windows, the inside flag agrees with the limits, project_inbound with the
// clamped parameters.
TEST(BoundedSurfaces, ParametersGiveTheirFootBack) {
  QORV_SEEDED(BoundedDraw draw, 2002);
  for (Kind k : kKinds)
    for (int i = 0; i < 160; ++i) {
      SCOPED_TRACE(std::string(qorv_test::nameOf(k)) + " draw " + std::to_string(i));
      const double s = draw.magnitude(-290, 290);
      const auto surf = draw.surface(k, s, s * (i % 4 == 0 ? 1e3 : 1));
      const ERPmIsometrie3D& T = placementOf(*surf);
      // Near a point of the surface anywhere on it (far nappe, past the limits), or anywhere.
      const double u0 = angularU(k) ? draw.uniform(-M_PI, M_PI) : draw.uniform(-3, 3) * s;
      const double v0 = k == Kind::Sphere ? draw.uniform(-1.5, 1.5)
                        : angularV(k)     ? draw.uniform(-M_PI, M_PI)
                                          : draw.uniform(-3, 3) * s;
      const ERInfoPoint3DSurf e = surf->PtCur(u0, v0);
      ERVector3D n = e.normale();
      const ERPoint3D p = i % 5 == 4 ? T >> ERPoint3D(ERVector3D(draw.direction()) * (s * 2))
                                     : e.point() + n * (s * draw.uniform(-0.05, 0.05));
      const Nearest ref = nearestBySampling(*surf, k, p);
      ERPoint2D uv(-7, -7);
      const int found = surf->ProjectionNormale(p, 0.0, uv, 0);
      const bool inLimits = surf->getBoundU().inBound(uv.x()) && surf->getBoundV().inBound(uv.y());
      if (k == Kind::Plane) {
        EXPECT_EQ(found, inLimits ? 1 : 0);
      } else {
        ASSERT_EQ(found, 1) << printed(*surf) << " p " << p << " local " << (T << p) << " uv0 "
                            << u0 << " " << v0;
      }
      const ERPoint3D foot = (*surf)(uv.x(), uv.y());
      const double tol = 1e-12 * std::max({maxAbs(T.origine()), maxAbs(p), sizeOf(*surf)});
      EXPECT_LE(rdist(p, foot), ref.dist + tol);
      if (std::isfinite(ref.second) && ref.second - ref.dist > 1e-6 * s &&
          rdist(p, foot) >= ref.dist - tol) {
        EXPECT_LE(rdist(foot, (*surf)(ref.uv.x(), ref.uv.y())), 1e3 * tol)
            << "uv " << uv << " ref " << ref.uv << " d " << rdist(p, foot) << " ref " << ref.dist
            << " second " << ref.second << " local " << (T << p) << "\n"
            << printed(*surf);
      }
      // P - foot along the normal: orthogonal to both tangents.
      const ERInfoPoint3DSurf f = surf->PtCur(uv.x(), uv.y());
      const ERVector3D w = p - foot;
      for (const ERVector3D& t : {f.tangenteU(), f.tangenteV()})
        if (rnorm(t) > 0) {
          EXPECT_LE(std::fabs(unit(w) * unit(t)) * rnorm(w), 1e-9 * rnorm(w) + tol);
        }
      // Angles in [lower, lower + 2pi), the sphere's latitude in [-pi/2, pi/2].
      if (angularV(k) && k != Kind::Sphere) {
        EXPECT_GE(uv.y(), surf->vdeb());
        EXPECT_LT(uv.y(), surf->vdeb() + 2 * M_PI);
      }
      if (k == Kind::Torus) {
        EXPECT_GE(uv.x(), surf->udeb());
        EXPECT_LT(uv.x(), surf->udeb() + 2 * M_PI);
      }
      if (k == Kind::Cylinder) {
        EXPECT_NEAR(uv.x(), (T << p).z(), tol);
      }
      // The inside flag: 1 exactly within the limits (the torus may stop at u).
      ERPoint2D uv2(-7, -7);
      EXPECT_EQ(surf->ProjectionNormale(p, 0.0, uv2, 1), inLimits ? 1 : 0);
      if (inLimits || k != Kind::Torus) {
        EXPECT_EQ(uv2, uv);
      }
      // The seams: a point of the lower angular limit is inside, at that limit, not a turn on.
      if (k != Kind::Plane) {
        const double um = angularU(k) ? surf->udeb() : surf->getBoundU()(0.5);
        const double vm = angularV(k) && k != Kind::Sphere ? surf->vdeb() : surf->getBoundV()(0.5);
        ERPoint2D seam;
        EXPECT_EQ(surf->ProjectionNormale((*surf)(um, vm), 0.0, seam, 1), 1);
        const double angleTol = 1e3 * tol / sizeOf(*surf);  // the mapping's rounding
        EXPECT_NEAR(seam.x(), um, 1e-13 * std::fabs(um) + (angularU(k) ? angleTol : tol));
        EXPECT_NEAR(seam.y(), vm, 1e-13 * std::fabs(vm) + angleTol);
      }
      const ERPoint3D in = surf->project_inbound(p);
      const ERPoint2D c(std::clamp(uv.x(), surf->udeb(), surf->ufin()),
                        std::clamp(uv.y(), surf->vdeb(), surf->vfin()));
      EXPECT_LE(rdist(in, (*surf)(c.x(), c.y())), tol);
    }
}

// Moves: every point of the moved surface is the moved point of the same parameters, or at
// least lies on the moved surface within its limits (mirrors and negative scales turn the
// parameters).
void checkMovesKeepThePointSet(BoundedDraw& draw, double s, int i, const ERBoundedSurface* surf) {
  std::unique_ptr<ERBoundedSurface> moved(qorv_test::copyOf(*surf));
  const ERPmIsometrie3D F = draw.frame(s);
  const double f = (draw.integer(0, 1) ? -1 : 1) * draw.uniform(0.5, 4);
  const ERPmSimilitude3D sim = ERPmSimilitude3D(F) * ERPmSimilitude3D(_ERScaling3D(f));
  const int what = i % 6;
  std::function<ERPoint3D(const ERPoint3D&)> map;
  if (what == 0) {
    moved->transformFrom(F), map = [&](const ERPoint3D& q) { return F >> q; };
  } else if (what == 1) {
    moved->transformTo(F), map = [&](const ERPoint3D& q) { return F << q; };
  } else if (what == 2) {
    moved->transformFrom(sim), map = [&](const ERPoint3D& q) { return sim >> q; };
  } else if (what == 3) {
    moved->transformTo(sim), map = [&](const ERPoint3D& q) { return sim << q; };
  } else if (what == 4) {
    moved->scale(f), map = [&](const ERPoint3D& q) { return ERPoint3D(q * f); };
  } else {
    const ERPoint3D t(draw.direction() * s);
    moved->translate(t), map = [&, t](const ERPoint3D& q) { return q + t; };
  }
  for (int j = 0; j < 8; ++j) {
    const double u = surf->getBoundU()(draw.uniform(0, 1));
    const double v = surf->getBoundV()(draw.uniform(0, 1));
    const ERPoint3D q = map((*surf)(u, v));
    const double tol = 1e-11 * std::max({maxAbs(q), sizeOf(*moved)});
    ERPoint2D uv;
    const int on = moved->ProjectionNormale(q, 0.0, uv, 1);
    EXPECT_LE(distance((*moved)(uv.x(), uv.y()), q), tol) << what;
    // Within the limits, up to rounding of parameters at the limits.
    if (!on) {
      const ERPoint3D c = moved->project_inbound(q);
      EXPECT_LE(distance(c, q), tol) << what;
    }
  }
}

// The global nearest point of the patch, for surfaces drawn anywhere and then moved by mirrors,
// negative scales and far-off similitudes: no point of a dense grid over the limits, refined by
// Newton held inside them, is nearer; the parameters lie within the limits and give the distance.
TEST(BoundedSurfaces, MovesAndTheNearestPointOverThePatchInEveryFrame) {
  QORV_SEEDED(BoundedDraw draw, 2005);
  for (Kind k : kKinds)
    for (int i = 0; i < 100; ++i) {
      SCOPED_TRACE(std::string(qorv_test::nameOf(k)) + " draw " + std::to_string(i));
      // Not below 1e-9: a placement holds an origin within the transformations' 1e-11 of zero
      // as zero.
      const double s = draw.magnitude(-9, 290);
      std::unique_ptr<ERBoundedSurface> surf = draw.surface(k, s, s * (i % 4 == 0 ? 1e3 : 1));
      checkMovesKeepThePointSet(draw, s, i, surf.get());
      const double f = (draw.integer(0, 1) ? -1 : 1) * draw.uniform(0.5, 4);
      const ERPmSimilitude3D sim =
          ERPmSimilitude3D(draw.frame(s * 10)) * ERPmSimilitude3D(_ERScaling3D(f));
      if (i % 3 == 1) surf->transformFrom(sim);
      if (i % 3 == 2) surf->scale(f);
      const ERLimites U = surf->getBoundU(), V = surf->getBoundV();
      for (int j = 0; j < 5; ++j) {
        const ERPoint3D p = (*surf)(U(draw.uniform(-0.5, 1.5)), V(draw.uniform(-0.5, 1.5))) +
                            draw.direction() * (sizeOf(*surf) * draw.uniform(0, 2));
        ERPoint2D uv;
        int single = 0;
        const double d = surf->nearest(p, uv, single);
        const double tol = 1e-10 * std::max(maxAbs(p), sizeOf(*surf));
        ASSERT_TRUE(U.inBound(uv.x()) && V.inBound(uv.y())) << uv;
        EXPECT_NEAR(rdist((*surf)(uv.x(), uv.y()), p), d, tol);
        constexpr int N = 60;
        struct Cand {
          double d, u, v;
        };
        std::vector<Cand> grid;
        for (int a = 0; a <= N; ++a)
          for (int b = 0; b <= N; ++b) {
            const double u = U(double(a) / N), v = V(double(b) / N);
            grid.push_back({rdist((*surf)(u, v), p), u, v});
          }
        std::partial_sort(grid.begin(), grid.begin() + 4, grid.end(),
                          [](const Cand& x, const Cand& y) { return x.d < y.d; });
        double best = grid[0].d;
        for (int c = 0; c < 4; ++c) {
          const ERPoint2D f =
              newtonFoot(*surf, p, grid[c].u, grid[c].v, 30, [&](double& u, double& v) {
                u = std::clamp(u, U.start(), U.end()), v = std::clamp(v, V.start(), V.end());
              });
          best = std::min(best, rdist((*surf)(f.x(), f.y()), p));
        }
        EXPECT_LE(d, best + tol) << "uv " << uv;
      }
    }
}

// ---------------------------------------------------------------------------------------------
// The cases stated for the family.

TEST(BoundedCylinder, DefaultsAndTheWindowOfItsAngle) {
  const ERBoundedCylinder c;
  const ERPoint3D p = c(0.5, M_PI / 2);
  EXPECT_NEAR(p.x(), 0, 1e-16);
  EXPECT_EQ((Seq{p.y(), p.z(), c.getBoundV()}), (Seq{1, 0.5, ERLimites(0, 6.283185307179586)}));
  // V = [0, pi], P on the side at 3pi/2: v = 3pi/2, outside with the flag, 1 without it.
  ERBoundedCylinder half(ERPmIsometrie3D(), 1, 2, 0, M_PI);
  EXPECT_EQ((Seq{half.getBoundU(), half.NUdeb()}), (Seq{ERLimites(-1, 1), -1}));
  ERPoint2D uv;
  EXPECT_EQ(half.ProjectionNormale(ERPoint3D(0, -5, 0.25), 0, uv, 1), 0);
  EXPECT_NEAR(uv.y(), 1.5 * M_PI, 1e-15);
  EXPECT_EQ(uv.x(), 0.25);
  EXPECT_EQ(half.ProjectionNormale(ERPoint3D(0, -5, 0.25), 0, uv, 0), 1);
  // On the axis: no foot, uv untouched; the closest point is on the section at the lower angle.
  uv = ERPoint2D(9, 9);
  EXPECT_EQ(half.ProjectionNormale(ERPoint3D(0, 0, 0.5), 0, uv, 0), 0);
  EXPECT_EQ(uv, ERPoint2D(9, 9));
  const ERPoint3D in = half.project_inbound(ERPoint3D(0, 0, 7));
  EXPECT_EQ((Seq{distance(in, ERPoint3D(2, 0, 1)), half.axe().getP1(), half.height()}),
            (Seq{0, ERPoint3D(0, 0, -1), 2}));
  double d = 0;
  EXPECT_EQ(half.SignedMinimalDistance(ERPoint3D(0, 0, 9), d), EREntity::DISTMIN_DEGENERATE);
  EXPECT_EQ(d, -2);
  // The unbounded cylinder from it: its axis line.
  const ERCylinder unbounded(half);
  EXPECT_EQ((Seq{unbounded.radius(), unbounded.axe().dirVector()}), (Seq{2, ERVector3D(0, 0, 1)}));
}

TEST(BoundedSphere, LongitudeSnapsBeforeItWraps) {
  const ERBoundedSphere s;  // U [0, 2pi], V [-pi/2, pi/2]
  ERPoint2D uv;
  auto at = [](double lon, double lat) {
    return ERPoint3D(3 * std::cos(lat) * std::cos(lon), 3 * std::cos(lat) * std::sin(lon),
                     3 * std::sin(lat));
  };
  ASSERT_EQ(s.ProjectionNormale(at(-1e-8, 0.2), 0, uv, 1), 1);
  EXPECT_EQ(uv.x(), 0);
  ASSERT_EQ(s.ProjectionNormale(at(-0.5, 0.2), 0, uv, 1), 1);
  EXPECT_TRUE(Near(Seq{uv.x(), uv.y()}, Seq{2 * M_PI - 0.5, 0.2}, 1e-15));
  // The turn of the lower limit: U = [10, 12] holds the longitude 10.5 as itself.
  const ERBoundedSphere turned(ERPmIsometrie3D(), 1, ERLimites(10, 12), ERLimites(-1, 1));
  ASSERT_EQ(turned.ProjectionNormale(at(10.5, 0), 0, uv, 1), 1);
  EXPECT_NEAR(uv.x(), 10.5, 1e-14);
  // Latitude: within a float's epsilon outside snaps, farther does not.
  const ERBoundedSphere band(ERPmIsometrie3D(), 1, ERLimites(0, 6), ERLimites(0.1, 0.5));
  ASSERT_EQ(band.ProjectionNormale(at(1, 0.1 - 1e-8), 0, uv, 1), 1);
  EXPECT_EQ((Seq{uv.y(), band.ProjectionNormale(at(1, 0.1 - 1e-6), 0, uv, 1)}), (Seq{0.1, 0}));
  // Poles and the centre.
  ASSERT_EQ(s.ProjectionNormale(ERPoint3D(0, 0, 5), 0, uv, 1), 1);
  EXPECT_EQ(uv, ERPoint2D(0, M_PI / 2));
  uv = ERPoint2D(4, 4);
  EXPECT_EQ((Seq{s.ProjectionNormale(ERPoint3D(0, 0, 0), 0, uv, 0), uv,
                 distance(s.project_inbound(ERPoint3D(0, 0, 0)), s(0, -M_PI / 2))}),
            (Seq{0, ERPoint2D(4, 4), 0}));
  const ERSphere unbounded(
      ERBoundedSphere(ERSphere(ERPoint3D(1, 2, 3), 4), ERLimites(0, 1), ERLimites(0, 1)));
  EXPECT_EQ((Seq{unbounded.center(), unbounded.radius()}), (Seq{ERPoint3D(1, 2, 3), 4}));
}

TEST(BoundedCone, FarNappeApexStartAndConstructors) {
  // Apex at the origin, 30 degrees, U starts at the apex.
  const ERBoundedCone c(ERPmIsometrie3D(), M_PI / 6, 0, 2);
  EXPECT_EQ((Seq{c.NUfin(), c.getBoundV()}), (Seq{2, ERLimites(0, 6.283185307179586)}));
  ERPoint2D uv;
  const double t = std::tan(M_PI / 6);
  ASSERT_EQ(c.ProjectionNormale(ERPoint3D(0, 1, 1), 0, uv, 1), 1);
  EXPECT_NEAR(uv.y(), M_PI / 2, 1e-15);
  // The far nappe: u < 0 and the angle of the point's own side turned by pi.
  ASSERT_EQ(c.ProjectionNormale(ERPoint3D(0, 1, -1), 0, uv, 0), 1);
  EXPECT_LT(uv.x(), 0);
  EXPECT_NEAR(uv.y(), 1.5 * M_PI, 1e-15);
  const ERPoint3D foot = c(uv.x(), uv.y());
  EXPECT_NEAR(foot.y() / -foot.z(), t, 1e-15);
  EXPECT_EQ(c.ProjectionNormale(ERPoint3D(0, 1, -1), 0, uv, 1), 0);
  // The apex and the axis: no foot; the closest point is on the generator at vdeb.
  EXPECT_EQ(c.ProjectionNormale(ERPoint3D(0, 0, 0), 0, uv, 0), 0);
  const ERPoint3D in = c.project_inbound(ERPoint3D(0, 0, 1));
  const double h = std::cos(M_PI / 6) * std::cos(M_PI / 6);
  EXPECT_NEAR(distance(in, ERPoint3D(h * t, 0, h)), 0, 1e-15);
  // From an unbounded cone and two points: min and max of their heights.
  const ERCone unbounded(ERPoint3D(1, 1, 1), ERVector3D(0, 0, 2), 0.25);
  const ERBoundedCone b(unbounded, ERPoint3D(5, 5, 4), ERPoint3D(0, 0, -2));
  EXPECT_EQ((Seq{b.getBoundU(), ERLimites(b.NUdeb(), b.NUfin()), b.apex()}),
            (Seq{ERLimites(-3, 3), ERLimites(-3, 3), ERPoint3D(1, 1, 1)}));
  EXPECT_EQ(b.topBase().radius(), std::fabs(std::tan(0.25) * 3));
  EXPECT_EQ(distance(b.bottomBase().center(), ERPoint3D(1, 1, 4)), 0);
  const ERCone back(b);
  EXPECT_EQ((Seq{back.sommet(), back.direction(), back.demiAngle()}),
            (Seq{ERPoint3D(1, 1, 1), ERVector3D(0, 0, 1), 0.25}));
  // Half-angles 0 and pi/2: the formulas, and no trap.
  const ERBoundedCone line(ERPmIsometrie3D(), 0, 0, 1), flat(ERPmIsometrie3D(), M_PI / 2, 0, 1);
  ASSERT_EQ(line.ProjectionNormale(ERPoint3D(1, 0, 0.5), 0, uv, 0), 1);
  EXPECT_EQ(distance(line(uv.x(), uv.y()), ERPoint3D(0, 0, 0.5)), 0);
  ASSERT_EQ(flat.ProjectionNormale(ERPoint3D(3, 4, 2), 0, uv, 0), 1);
  EXPECT_NEAR(distance(flat(uv.x(), uv.y()), ERPoint3D(3, 4, 0)), 0, 1e-14);
}

TEST(BoundedTorus, SpindleFeetAndTheUTestFirst) {
  // r >= R: the foot may be on the opposite tube circle; S(uv) is it all the same.
  const ERBoundedTorus spindle(ERPmIsometrie3D(), 1, 2, ERLimites(0, 2 * M_PI),
                               ERLimites(0, 2 * M_PI));
  ERPoint3D foot;
  ERVector3D normal;
  for (const ERPoint3D& p :
       {ERPoint3D(0.2, 0, 0.1), ERPoint3D(0.5, 0.5, 3), ERPoint3D(-4, 1, -1)}) {
    ASSERT_EQ(
        ERTorus::ProjectionNormalTorus(ERPoint3D(), ERVector3D(0, 0, 1), 1, 2, p, foot, normal), 1);
    ERPoint2D uv;
    ASSERT_EQ(spindle.ProjectionNormale(p, 0, uv, 1), 1);
    EXPECT_LE(distance(spindle(uv.x(), uv.y()), foot), 1e-14);
  }
  // The seven-argument form trims only; u outside answers 0 and v is not computed.
  const ERBoundedTorus t(ERPmIsometrie3D(), 10, 1, 0, M_PI / 2, 0, 2 * M_PI);
  EXPECT_EQ((Seq{t.NUfin(), t.ufin()}), (Seq{1, M_PI / 2}));
  ERPoint2D uv(5, 5);
  EXPECT_EQ(t.ProjectionNormale(ERPoint3D(-10, -1, 0.5), 0, uv, 1), 0);
  EXPECT_NEAR(uv.x(), M_PI + std::atan(0.1), 1e-14);
  EXPECT_EQ(uv.y(), 5);
  // On the axis and the core circle: no foot, and a point of the surface for project_inbound.
  EXPECT_EQ(t.ProjectionNormale(ERPoint3D(0, 0, 3), 0, uv, 0), 0);
  EXPECT_EQ(t.ProjectionNormale(ERPoint3D(0, 10, 0), 0, uv, 0), 0);
  EXPECT_LE(distance(t.project_inbound(ERPoint3D(0, 0, 3)), t(0, std::atan2(3, -10))), 1e-14);
  EXPECT_LE(distance(t.project_inbound(ERPoint3D(0, 10, 0)), t(M_PI / 2, 0)), 1e-14);
  // From an unbounded torus, and back.
  const ERTorus unbounded(5, 2, ERVector3D(0, 0, 3), ERPoint3D(1, 2, 3));
  const ERBoundedTorus b(unbounded);
  EXPECT_EQ(b.getBoundU(), ERLimites(0, 2 * M_PI));
  EXPECT_EQ(b.getBoundV(), ERLimites(0, 2 * M_PI));
  const ERTorus back(b);
  EXPECT_EQ((Seq{back.radius(), back.small_radius(), back.origin(), b.GetSpine().radius()}),
            (Seq{5, 2, ERPoint3D(1, 2, 3), 5}));
  EXPECT_NEAR(b.dist2(ERPoint3D(1, 2 + 9, 3)), 4, 1e-14);
}

TEST(BoundedPlane, LimitsReverseScaleAndDistance) {
  const ERBoundedPlane p(ERPlane(0, 0, 1, -2), ERLimites(0, 2), ERLimites(0, 1));
  double d = 0;
  EXPECT_EQ(p.SignedMinimalDistance(ERPoint3D(5, 5, 7), d), EREntity::DISTMIN_END_POINT);
  EXPECT_EQ(d, 5);
  // Whatever the flag: 1 only inside.
  ERPoint2D uv;
  const ERPoint3D out = p.getMatrix() >> ERPoint3D(3, 0.5, 1);
  EXPECT_EQ(p.ProjectionNormale(out, 0, uv, 0), 0);
  EXPECT_NEAR(uv.x(), 3, 1e-15);
  EXPECT_EQ(p.upperEstimateInU(), 2);
  const ERPoint3D c = p.centroid();
  EXPECT_EQ(distance(c, p(1, 0.5)), 0);
  // reverse: limits exchanged, S'(u, v) = S(v, u), normal turned.
  ERBoundedPlane r(p);
  r.reverse();
  EXPECT_EQ((Seq{r.getBoundU(), r.getBoundV()}), (Seq{ERLimites(0, 1), ERLimites(0, 2)}));
  EXPECT_LE(distance(r(0.25, 1.5), p(1.5, 0.25)), 1e-15);
  EXPECT_LE((r.PtCur(0.2, 0.3).normale() + p.PtCur(0.3, 0.2).normale()).norme(), 1e-15);
  EXPECT_EQ(ERPlane(r).normalVector().z(), -1);
  // scale with k < 0: trimmed limits scaled with their ends exchanged, natural ones kept.
  ERBoundedPlane s(p);
  s.scale(-2);
  EXPECT_EQ((Seq{s.getBoundU(), s.NUfin()}), (Seq{ERLimites(-4, 0), 2}));
  EXPECT_LE(distance(s(-1, -1), ERPoint3D(p(0.5, 0.5) * -2)), 1e-14);
}

TEST(BoundedSurface, LimitOperationsEmptyTheCache) {
  ERBoundedSphere s;
  const auto& grid = s.getMatricePoint(3, 3);
  EXPECT_EQ(grid.rows(), 3);
  s.setBound(ERLimites(0, 1), ERLimites(0, 1));
  EXPECT_EQ(ERLimites(s.NUdeb(), s.NUfin()), ERLimites(0, 2 * M_PI));
  const ERPoint3D corner = s.getMatricePoint(3, 3)[8];  // rebuilt, not the old grid
  EXPECT_LE(distance(corner, s(1, 1)), 1e-15);
  s.redefineDomainU(ERLimites(0.5, 1));
  EXPECT_EQ(ERLimites(s.NUdeb(), s.NUfin()), ERLimites(0.5, 1));
  EXPECT_EQ(ERLimites(s.NVdeb(), s.NVfin()), ERLimites(0, 1));
  s.redefinedDomain(ERLimites(1, 2), ERLimites(-1, 0));
  EXPECT_LE(distance(s.getMatricePoint(3, 3)[0], s(1, -1)), 1e-15);
  s.redefineDomainV(ERLimites(0, 0.5));
  EXPECT_EQ(s.NVfin(), 0.5);
}

// ---------------------------------------------------------------------------------------------
// Print forms and stored images, byte for byte.

TEST(BoundedSurfaces, PrintForms) {
  const ERPmIsometrie3D T(_ERTranslation3D(ERPoint3D(1, 2, 3)));
  const std::string place = printed(T);
  const std::string lims = "Lim  U [0,1]\nLim  V [0,6.28319]\nTrim U [0,1]\nTrim V [0,6.28319]\n";
  ERBoundedCylinder cyl;
  cyl.transformFrom(T);
  EXPECT_EQ(printed(cyl), "Cylindre :   Segment =" + printed(cyl.axe()) +
                              "\n         :   Radius  =1\n" + place + lims);
  const ERBoundedCone cone(T, M_PI / 4, 1, 2);
  EXPECT_EQ(printed(cone),
            "BoundedCone     :   Sommet     =[1,2,3]\n"
            "                :   Axe        =[0,0,1]\n"
            "                :  1/2Angle    =45\n"
            "                :  H1          =1\n"
            "                :  H2          =2\n"
            "                :  AngleStart  =0\n"
            "                :  AngleEnd    =360\n");
  const ERBoundedSphere sph(T, 2, ERLimites(0, 1), ERLimites(-1, 1));
  EXPECT_EQ(printed(sph), place + "Lim  U [0,1]\nLim  V [-1,1]\nTrim U [0,1]\nTrim V [-1,1]\n" +
                              "\n Sphere : centre [1,2,3] Rayon =2\n");
  const ERBoundedTorus tor;
  EXPECT_EQ(printed(tor), "Tore     : Radius        =10\n         : Small Radius  =1\n" +
                              printed(ERPmIsometrie3D()) +
                              "Lim  U [0,1]\nLim  V [0,1]\nTrim U [0,1]\nTrim V [0,1]\n");
  EXPECT_EQ(printed(ERBoundedPlane()), "");
}

TEST(BoundedSurfaces, StoredImages) {
  const ERPmIsometrie3D T = ERChgRepere3D(ERVector3D(0, 0.6, 0.8), ERPoint3D(1, -2, 3));
  const qorv_test::Bytes place = imageOf(T);
  ASSERT_EQ(place.size(), 116u);
  auto cat = [](qorv_test::Bytes a, const qorv_test::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  ERBoundedCylinder cyl(T, 2, 0.5, 0.25, 3);
  cyl.setBound(ERLimites(-1, 1.5), ERLimites(0.5, 2));
  const qorv_test::Bytes lims = doubles({-2, 2, 0.25, 3, -1, 1.5, 0.5, 2});
  EXPECT_EQ(imageOf(cyl), cat(cat(place, lims), doubles({0.5})));
  EXPECT_EQ(cyl.binaryStoreSize(), 188u);
  const ERBoundedPlane pl(T, ERLimites(1, 2), ERLimites(3, 4));
  EXPECT_EQ(imageOf(pl), cat(place, doubles({1, 2, 3, 4, 1, 2, 3, 4})));
  EXPECT_EQ(pl.binaryStoreSize(), 180u);
  const ERBoundedCone cone(T, 0.3, 1, 2);
  EXPECT_EQ(imageOf(cone),
            cat(cat(place, doubles({1, 2, 0, 6.283185307179586, 1, 2, 0, 6.283185307179586})),
                doubles({0.3})));
  const ERBoundedSphere sph(T, 7, ERLimites(0, 1), ERLimites(-1, 1));
  EXPECT_EQ(imageOf(sph), cat(cat(place, doubles({0, 1, -1, 1, 0, 1, -1, 1})), doubles({7})));
  // The torus: long 1, limits, placement, r, R.
  const ERBoundedTorus tor(T, 10, 2, 0, 1, 2, 3);
  qorv_test::Bytes expected = {1, 0, 0, 0};
  expected = cat(cat(cat(expected, doubles({0, 1, 0, 1, 0, 1, 2, 3})), place), doubles({2, 10}));
  EXPECT_EQ((Seq{imageOf(tor), tor.binaryStoreSize()}), (Seq{expected, 200u}));
  // Read back into objects of other values: every field, R and r each in its own.
  ERBoundedTorus t2;
  restoreFrom(t2, expected);
  EXPECT_EQ((Seq{imageOf(t2), t2.radius(), t2.small_radius()}), (Seq{expected, 10, 2}));
  ERBoundedCylinder c2;
  restoreFrom(c2, imageOf(cyl));
  EXPECT_EQ(printed(c2), printed(cyl));
  // A short record leaves the object as it was.
  for (size_t cut : {size_t(3), size_t(60), size_t(150), expected.size() - 1}) {
    ERBoundedTorus t3;
    restoreFrom(t3, qorv_test::Bytes(expected.begin(), expected.begin() + cut));
    EXPECT_EQ(imageOf(t3), imageOf(ERBoundedTorus())) << cut;
  }
  qorv_test::Bytes cylImage = imageOf(cyl);
  ERBoundedCylinder c3;
  restoreFrom(c3, qorv_test::Bytes(cylImage.begin(), cylImage.end() - 4));
  EXPECT_EQ(imageOf(c3), imageOf(ERBoundedCylinder()));
}

// ---------------------------------------------------------------------------------------------
TEST(BoundedSurfaces, BadInputNeverTraps) {
  const double nan = std::nan("");
  const ERPmIsometrie3D broken =
      qorv_test::frameFromAxes(ERVector3D(), ERVector3D(), ERVector3D(), ERPoint3D());
  for (Kind k : kKinds) {
    SCOPED_TRACE(qorv_test::nameOf(k));
    BoundedDraw draw(7);
    const auto surf = draw.surface(k, 1, 1);
    ERPoint2D uv(3, 3);
    EXPECT_EQ((Seq{surf->ProjectionNormale(ERPoint3D(nan, 0, 0), 0, uv, 0),
                   surf->ProjectionNormale(ERPoint3D(INFINITY, 0, 0), 0, uv, 0), uv}),
              (Seq{0, 0, ERPoint2D(3, 3)}));
    const ERPoint3D in = surf->project_inbound(ERPoint3D(nan, 1, 1));
    EXPECT_TRUE(std::isfinite(in.x()) && std::isfinite(in.y()) && std::isfinite(in.z()));
    // A placement that maps nothing: nothing projects.
    std::unique_ptr<ERBoundedSurface> bad(qorv_test::copyOf(*surf));
    dynamic_cast<ERSurfaceBasedOnTransfo3D&>(*bad).setMatrix(broken);
    EXPECT_EQ(bad->ProjectionNormale(ERPoint3D(1, 2, 3), 0, uv, 0), 0);
    (void)bad->project_inbound(ERPoint3D(1, 2, 3));
    (void)bad->getBox();
    // Inverted and empty limits evaluate as the formulas give.
    bad.reset(qorv_test::copyOf(*surf));
    bad->setBound(ERLimites(1, 0), ERLimites(2, 2));
    (void)bad->getBox();
    (void)bad->project_inbound(ERPoint3D(1, 2, 3));
    EXPECT_EQ(distance(bad->PtCur(0.5, 2).point(), (*bad)(0.5, 2)), 0);
  }
  // Zero radii.
  ERBoundedSphere point(ERPmIsometrie3D(), 0, ERLimites(0, 1), ERLimites(0, 1));
  ERPoint2D uv;
  ASSERT_EQ(point.ProjectionNormale(ERPoint3D(1, 1, 1), 0, uv, 0), 1);
  EXPECT_EQ(point(uv.x(), uv.y()), ERPoint3D(0, 0, 0));
  ERBoundedCylinder line(ERPmIsometrie3D(), 1, 0, 0, 1);
  ASSERT_EQ(line.ProjectionNormale(ERPoint3D(1, 1, 0.5), 0, uv, 0), 1);
  EXPECT_EQ(line(uv.x(), uv.y()), ERPoint3D(0, 0, 0.5));
}

}  // namespace
